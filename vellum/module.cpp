// The vellum module's pins, lifecycle and idle watch. The envelope itself is in envelope.cpp, the
// pin descriptions in pins.h, the library's identity in plugin.cpp.
#include "vellum/module.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "vellum/pins.h"

namespace vellum {
namespace {

constexpr float defaultSampleRate = 44100.0f;

}  // namespace

bool Module::describePin(int32_t index, PinDescription* description) noexcept {
  if (index < 0 || index >= pins::count || description == nullptr) return false;
  void* const variables[pins::count] = {
      &gate,         &attack,     &hold,      &decay,       &sustain,    &release,
      &overallLevel, &attackForm, &decayForm, &releaseForm, &FullAttack, &NoRelease,
      &lfoAmt,       &lfoFreq,    &lfoPhase,  &LfoAlign,    &signalOut,  &dbmode};
  rm::fillPinDescription(pins::table[index], variables[index], *description);
  return true;
}

void Module::open() noexcept {
  setProcessFunction(processReference<Module, &Module::processEnvelope>());
  RMModule_base::open();
  // A rate that is not a positive number would make every step infinite or negative.
  const float rate = getSampleRate();
  invSampleRate = 1.0f / (std::isfinite(rate) && rate > 0.0f ? rate : defaultSampleRate);
  state = envIdle;
  lfo = LfoState{};
  segmentPos = 0.0f;
  idleWatch = false;
  outputStatic = true;
  streamingInputs = 0;
  lastGate = 0.0f;
  lfoRenderer = LfoRenderer::none;
  gateHigh = false;
  // Without a pin for every description the module cannot read its inputs: it stays silent.
  if (pinCount() < pins::count) {
    setProcessFunction(emptyProcessReference());
  }
}

void Module::onPinStatus(RMPin& changed) noexcept {
  if (pinCount() < pins::count) return;
  const uint32_t bit = 1u << (static_cast<uint32_t>(changed.index) % 32u);
  if (changed.status == pinStreaming) {
    streamingInputs |= bit;
  } else {
    streamingInputs &= ~bit;
  }
  leaveIdleWatch(sampleClock());
}

void Module::resume() noexcept {
  segmentPos = 0.0f;
  if (state != envSustain) state = envIdle;
}

void Module::processEnvelope(int32_t offset, int32_t count) noexcept {
  lfoRenderer = chooseLfoRenderer(LfoAlign, lfoRenderer);
  renderBlock(offset, count);
}

void Module::processEnvelopeIdle(int32_t offset, int32_t count) noexcept {
  renderBlock(offset, count);
  // Stops at the lowest value: a host may keep calling a module that asked to sleep.
  const int64_t left = static_cast<int64_t>(sleepCountdown) - count;
  sleepCountdown = static_cast<int32_t>(std::clamp<int64_t>(left, INT32_MIN, INT32_MAX));
  if (sleepCountdown <= 0 && idleWatch && streamingInputs == 0) callHost(hostSleep);
}

// The output comes to rest: announce it one-off and, after one block size of samples rendered
// this way, ask the host to sleep. Any streaming input keeps the module awake.
void Module::enterIdleWatch(int32_t clock) noexcept {
  if (streamingInputs != 0) return;
  if (!outputStatic) {
    pin(pins::signalOut).transmitStatus(clock, pinOneOff);
    outputStatic = true;
  }
  if (!idleWatch) {
    sleepCountdown = getBlockSize();
    setProcessFunction(processReference<Module, &Module::processEnvelopeIdle>());
    idleWatch = true;
  }
}

void Module::leaveIdleWatch(int32_t clock) noexcept {
  if (outputStatic) {
    pin(pins::signalOut).transmitStatus(clock, pinStreaming);
    outputStatic = false;
  }
  if (idleWatch) {
    setProcessFunction(processReference<Module, &Module::processEnvelope>());
    idleWatch = false;
  }
}

}  // namespace vellum

// The vellum module's identity, pins, lifecycle and idle watch. The envelope itself is in
// envelope.cpp.
#include "vellum/vellum_module.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "rackmill/plugin.h"

const rm::PluginIdentity rm::pluginIdentity{"vellum", "vellum",
                                            "vellum: shaped AHDSR envelope with LFO"};

RMModule_base* rm::createPluginModule(HostCallback callback, int32_t hostValue) noexcept {
  return rm::createModule<vellum::Module>(callback, hostValue);
}

namespace vellum {
namespace {

struct PinText {
  const char* name;
  int32_t direction;
  int32_t datatype;
  const char* defaultText;
  const char* listText;
};

constexpr const char* offOn = "off=0,on=1";

// Names, directions, types, default and list texts, in pin order; saved patches rely on them.
constexpr PinText pinTexts[pinTotal] = {
    {"Gate", dirInput, dtAudio, "1", nullptr},
    {"Attack", dirInput, dtAudio, "0", nullptr},
    {"Hold", dirInput, dtAudio, "0", nullptr},
    {"Decay", dirInput, dtAudio, "5", nullptr},
    {"Sustain", dirInput, dtAudio, "7", nullptr},
    {"Release", dirInput, dtAudio, "4", nullptr},
    {"Overall Level", dirInput, dtAudio, "10", nullptr},
    {"AttackForm", dirInput, dtAudio, "0", nullptr},
    {"DecayForm", dirInput, dtAudio, "0", nullptr},
    {"ReleaseForm", dirInput, dtAudio, "0", nullptr},
    {"FullAttack", dirInput, dtList, "1", offOn},
    {"NoRelease", dirInput, dtList, "0", offOn},
    {"LfoAmt", dirInput, dtAudio, "0", nullptr},
    {"LfoFreq", dirInput, dtAudio, "10", nullptr},
    {"LfoPhase", dirInput, dtAudio, "10", nullptr},
    {"LfoAlign", dirInput, dtList, "1", "off=0,normal=1,bottom mod=2,center mod=3,top mod=4"},
    {"Signal Out", dirOutput, dtAudio, nullptr, nullptr},
    {"dbmode", dirSetting, dtInteger, "0", nullptr},
};

constexpr float defaultSampleRate = 44100.0f;

}  // namespace

bool Module::describePin(int32_t index, PinDescription* description) noexcept {
  if (index < 0 || index >= pinTotal || description == nullptr) return false;
  void* const variables[pinTotal] = {
      &gate,         &attack,     &hold,      &decay,       &sustain,    &release,
      &overallLevel, &attackForm, &decayForm, &releaseForm, &FullAttack, &NoRelease,
      &lfoAmt,       &lfoFreq,    &lfoPhase,  &LfoAlign,    &signalOut,  &dbmode};
  const PinText& text = pinTexts[index];
  description->variable = variables[index];
  description->direction = text.direction;
  description->datatype = text.datatype;
  description->name = text.name;
  description->defaultValue = text.defaultText;
  description->listItems = text.listText;
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
  if (pinCount() < pinTotal) {
    setProcessFunction(emptyProcessReference());
  }
}

void Module::onPinStatus(RMPin& changed) noexcept {
  if (pinCount() < pinTotal) return;
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
    pin(signalOutPin).transmitStatus(clock, pinOneOff);
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
    pin(signalOutPin).transmitStatus(clock, pinStreaming);
    outputStatic = false;
  }
  if (idleWatch) {
    setProcessFunction(processReference<Module, &Module::processEnvelope>());
    idleWatch = false;
  }
}

}  // namespace vellum

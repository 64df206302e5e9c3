#include "module.h"

#include <cmath>

#include "pins.h"

namespace tremolo {

bool Module::describePin(int32_t index, PinDescription* description) noexcept {
  if (index < 0 || index >= pins::count || description == nullptr) return false;
  void* const variables[pins::count] = {&in, &rate, &depth, &shape, &out};
  rm::fillPinDescription(pins::table[index], variables[index], *description);
  return true;
}

void Module::open() noexcept {
  setProcessFunction(processReference<Module, &Module::render>());
  RMModule_base::open();
  const float sampleRate = getSampleRate();
  inverseRate = 1.0 / (std::isfinite(sampleRate) && sampleRate > 0.0f ? sampleRate : 44100.0f);
  phase = 0.0;
  quiet = false;
  // A host that keeps fewer pins than described gives the others no buffers: render nothing.
  if (pinCount() < pins::count) setProcessFunction(emptyProcessReference());
}

// Any change of an input may make the output move again.
void Module::onPinStatus(RMPin&) noexcept {
  if (pinCount() < pins::count) return;
  wake();
}

void Module::wake() noexcept {
  if (!quiet) return;
  quiet = false;
  pin(pins::out).transmitStatus(sampleClock(), pinStreaming);
  setProcessFunction(processReference<Module, &Module::render>());
}

// The gain for the current phase; advances the phase by one sample. Values a host may send
// beyond any sense (not finite, negative rates, depths outside 0..1) are held to safe ones.
float Module::gainAt(float hz, float amount) noexcept {
  const double step = std::isfinite(hz) ? std::fmin(std::fabs(hz), 1000.0) * inverseRate : 0.0;
  const double d = std::isfinite(amount) ? std::fmin(std::fmax(amount, 0.0f), 1.0f) : 0.0;
  double swing = 0.0;  // 0 (full gain) to 1 (gain 1 - depth)
  switch (shape) {
    case 1:
      swing = phase < 0.5 ? 2.0 * phase : 2.0 - 2.0 * phase;
      break;
    case 2:
      swing = phase < 0.5 ? 0.0 : 1.0;
      break;
    default:
      swing = 0.5 - 0.5 * std::cos(6.283185307179586 * phase);
      break;
  }
  phase += step;
  phase -= std::floor(phase);
  return static_cast<float>(1.0 - d * swing);
}

void Module::render(int32_t offset, int32_t frames) noexcept {
  bool silent = true;
  for (int32_t i = offset; i < offset + frames; ++i) {
    const float x = std::isfinite(in[i]) ? in[i] : 0.0f;
    const float y = x * gainAt(rate[i], depth[i]);
    out[i] = std::fabs(y) < 1e-30f ? 0.0f : y;  // no subnormal numbers
    silent = silent && out[i] == 0.0f;
  }
  // A silent, resting input: announce a resting output and wait for a block before sleeping.
  if (silent && pin(pins::in).status != pinStreaming) {
    pin(pins::out).transmitStatus(sampleClock() + frames - 1, pinOneOff);
    quiet = true;
    quietLeft = getBlockSize();
    setProcessFunction(processReference<Module, &Module::renderQuiet>());
  }
}

void Module::renderQuiet(int32_t offset, int32_t frames) noexcept {
  for (int32_t i = offset; i < offset + frames; ++i) out[i] = 0.0f;
  quietLeft -= frames;
  if (quietLeft <= 0) callHost(hostSleep);
}

}  // namespace tremolo

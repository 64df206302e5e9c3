// A small module for the renderer's tests: one sine (or square) voice per clone, with a second
// output that copies its gate input, so that tests can see exactly what the host fed it.
#include <cmath>

#include "rackmill/plugin.h"

namespace {

class Module : public RMModule_base {
 public:
  using RMModule_base::RMModule_base;

  void open() override {
    setProcessFunction(processReference<Module, &Module::render>());
    RMModule_base::open();
    phaseStep_ = 6.283185307179586 / getSampleRate();
  }

  bool describePin(int32_t index, PinDescription* d) override {
    switch (index) {
      case 0:
        *d = {&pitch_, dirInput, dtAudio, "pitch", "0.5", nullptr, 0, 0};
        return true;
      case 1:
        *d = {&gate_, dirInput, dtAudio, "gate", "0", nullptr, 0, 0};
        return true;
      case 2:
        *d = {&level_, dirInput, dtAudio, "level", "1", nullptr, 0, 0};
        return true;
      case 3:
        *d = {&wave_, dirInput, dtList, "wave", "0", "sine=0,square=1", 0, 0};
        return true;
      case 4:
        *d = {&out_, dirOutput, dtAudio, "out", nullptr, nullptr, 0, 0};
        return true;
      case 5:
        *d = {&gateOut_, dirOutput, dtAudio, "gate out", nullptr, nullptr, 0, 0};
        return true;
      default:
        return false;
    }
  }

 private:
  void render(int32_t offset, int32_t frames) {
    for (int32_t i = offset; i < offset + frames; ++i) {
      const double hz = 440.0 * std::exp2(10.0 * pitch_[i] - 5.0);
      phase_ = std::fmod(phase_ + hz * phaseStep_, 6.283185307179586);
      const double s = wave_ == 1 ? (phase_ < 3.141592653589793 ? 1.0 : -1.0) : std::sin(phase_);
      out_[i] = gate_[i] > 0.0f ? static_cast<float>(level_[i] * s) : 0.0f;
      gateOut_[i] = gate_[i];
    }
  }

  float* pitch_ = nullptr;
  float* gate_ = nullptr;
  float* level_ = nullptr;
  float* out_ = nullptr;
  float* gateOut_ = nullptr;
  int16_t wave_ = 0;
  double phase_ = 0.0;
  double phaseStep_ = 0.0;
};

}  // namespace

const rm::PluginIdentity rm::pluginIdentity{"tone", "Test tone", "renderer tests"};

RMModule_base* rm::createPluginModule(HostCallback callback, int32_t hostValue) noexcept {
  return rm::createModule<Module>(callback, hostValue);
}

// A small module used to exercise the validator: a gain stage with one input, one list setting
// and one output, built several times, each time with one deliberate fault (RM_TEST_FAULT) that
// the validator must catch. The fault-free build is the reference that must pass every check.
#include <cmath>
#include <cstdlib>
#include <limits>

#include "rackmill/export.h"
#include "rackmill/plugin.h"

namespace {

enum class Fault {
  none,              // sound module
  allocates,         // allocates and frees in every process call
  writesNaN,         // writes NaN into its output
  writesSubnormal,   // writes a subnormal number into its output
  nondeterministic,  // output depends on library state that survives from instance to instance
  crashes,           // aborts when the host resumes it
  badStatic,         // malformed pin descriptions (the library also exports a third name)
  ignoresPinCount,   // renders through pins a host that keeps fewer of them never gave it
  nullDescription,   // fills a pin description through a null pointer
};

constexpr Fault fault = static_cast<Fault>(RM_TEST_FAULT);
// Pins described; a host that keeps fewer leaves the module without buffers to work on.
constexpr int32_t kDescribedPins = fault == Fault::badStatic ? 8 : 3;

// Calls counted across all instances of the library: the source of the nondeterministic fault.
int libraryCallCount = 0;

class Module : public RMModule_base {
 public:
  using RMModule_base::RMModule_base;
  ~Module() override { delete[] scratch_; }

  bool describePin(int32_t index, PinDescription* d) override {
    if (fault != Fault::nullDescription && d == nullptr) return false;
    if constexpr (fault == Fault::badStatic) return describeBadPin(index, d);
    switch (index) {
      case 0:
        *d = PinDescription{&in_, dirInput, dtAudio, "in", "0", nullptr, 0, 0};
        return true;
      case 1:
        *d = PinDescription{&gain_, dirInput, dtList, "gain", "2", "off=0,half=1,full=2", 0, 0};
        return true;
      case 2:
        *d = PinDescription{&out_, dirOutput, dtAudio, "out", nullptr, nullptr, 0, 0};
        return true;
      default:
        return false;
    }
  }

  void open() override {
    setProcessFunction(processReference<Module, &Module::render>());
    RMModule_base::open();
  }

  void onPinStatus(RMPin& pin) override {
    // Any change may make the output move again: announce it and leave the resting state.
    if (pinCount() >= kDescribedPins && resting_) {
      this->pin(2).transmitStatus(sampleClock(), pinStreaming);
      resting_ = false;
    }
    if (pin.index == 0 && pin.status == pinStreaming) streamingInput_ = true;
    if (pin.index == 0 && pin.status != pinStreaming) streamingInput_ = false;
  }

  void resume() override {
    if constexpr (fault == Fault::crashes) std::abort();
  }

 private:
  void render(int32_t offset, int32_t frames) {
    if (fault != Fault::ignoresPinCount && pinCount() < kDescribedPins) return;
    const float gain = gain_ <= 0 ? 0.0f : gain_ == 1 ? 0.5f : 1.0f;
    for (int32_t i = offset; i < offset + frames; ++i) out_[i] = clean(in_[i]) * gain;
    injectFault(offset, frames);
    if (!streamingInput_ && !resting_) {
      pin(2).transmitStatus(sampleClock() + frames - 1, pinOneOff);
      resting_ = true;
      callHost(hostSleep);
    }
  }

  // Keeps the output finite and free of subnormal numbers whatever the input holds.
  static float clean(float x) {
    if (!std::isfinite(x)) return 0.0f;
    if (std::fabs(x) < 1e-30f) return 0.0f;
    return std::fmax(-1e6f, std::fmin(1e6f, x));
  }

  void injectFault(int32_t offset, int32_t frames) {
    if constexpr (fault == Fault::allocates) {
      delete[] scratch_;
      scratch_ = new float[static_cast<size_t>(frames)];
    } else if constexpr (fault == Fault::writesNaN) {
      out_[offset] = std::numeric_limits<float>::quiet_NaN();
    } else if constexpr (fault == Fault::writesSubnormal) {
      out_[offset] = 1e-40f;
    } else if constexpr (fault == Fault::nondeterministic) {
      out_[offset] = static_cast<float>(++libraryCallCount % 1000);
    }
  }

  // Every way a pin description can be malformed, one per pin.
  bool describeBadPin(int32_t index, PinDescription* d) {
    switch (index) {
      case 0:  // no name
        *d = PinDescription{&in_, dirInput, dtAudio, "", "0", nullptr, 0, 0};
        return true;
      case 1:  // list text with an item lacking its value
        *d = PinDescription{&gain_, dirInput, dtList, "gain", "1", "off=0,half", 0, 0};
        return true;
      case 2:  // list default naming no item
        *d = PinDescription{&gain_, dirInput, dtList, "mode", "7", "a=0,b=1", 0, 0};
        return true;
      case 3:  // default that is not a number
        *d = PinDescription{&in_, dirInput, dtAudio, "level", "loud", nullptr, 0, 0};
        return true;
      case 4:  // unknown direction
        *d = PinDescription{&in_, 2, dtAudio, "side", "0", nullptr, 0, 0};
        return true;
      case 5:  // type without own storage and no variable
        *d = PinDescription{nullptr, dirInput, 7, "blob", nullptr, nullptr, 0, 0};
        return true;
      case 6:  // list pin without list text
        *d = PinDescription{&gain_, dirInput, dtList, "choice", "0", nullptr, 0, 0};
        return true;
      case 7:  // duplicate name
        *d = PinDescription{&out_, dirOutput, dtAudio, "level", nullptr, nullptr, 0, 0};
        return true;
      default:
        return false;
    }
  }

  float* in_ = nullptr;
  float* out_ = nullptr;
  int16_t gain_ = 2;
  bool resting_ = true;
  bool streamingInput_ = false;
  float* scratch_ = nullptr;
};

}  // namespace

const rm::PluginIdentity rm::pluginIdentity{RM_TEST_MODULE_ID, "validator test module",
                                            "test module of the validator"};

RMModule_base* rm::createPluginModule(HostCallback callback, int32_t hostValue) noexcept {
  return rm::createModule<Module>(callback, hostValue);
}

#ifdef RM_TEST_ORDINAL_EXPORT
// Exported by ordinal only (see ordinal_export.def): an export all the same.
extern "C" int ordinalEntry() {
  return 0;
}
#endif

#ifdef RM_TEST_EXTRA_EXPORT
// A third exported name, which a module library must not have.
RM_EXPORT int extraEntry() {
  return 0;
}
#endif

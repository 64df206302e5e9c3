// A gain module whose pin descriptions vary by build (RM_PINS), for the LV2 bundles of module
// libraries: the output is the audio input times "level", and every other pin is only described.
//   0  sound: in, level, mode (list), out
//   1  no pins at all
//   2  64 pins: in, out and 62 audio settings
//   3  odd names: empty, duplicate, not valid LV2 symbols, one that another becomes
#include <cmath>
#include <cstdio>

#include "rackmill/plugin.h"

namespace {

constexpr int kVariant = RM_PINS;
constexpr int32_t kSpare = 62;
constexpr int32_t kPins = kVariant == 1 ? 0 : kVariant == 2 ? 2 + kSpare : kVariant == 3 ? 8 : 4;

struct Names {
  char spare[kSpare][8];
  Names() {
    for (int32_t i = 0; i < kSpare; ++i) std::snprintf(spare[i], sizeof spare[i], "p%d", i);
  }
};
const Names names;

class Module : public RMModule_base {
 public:
  using RMModule_base::RMModule_base;

  bool describePin(int32_t index, PinDescription* d) override {
    if (d == nullptr || index < 0 || index >= kPins) return false;
    if (index == 0) {
      *d = {&in_, dirInput, dtAudio, kVariant == 3 ? "in put" : "in", "0", nullptr, 0, 0};
    } else if (index == kPins - 1) {
      *d = {&out_, dirOutput, dtAudio, kVariant == 3 ? "" : "out", nullptr, nullptr, 0, 0};
    } else if (index == 1) {
      *d = {&level_, dirInput, dtAudio, kVariant == 3 ? "level" : "level", "0.5", nullptr, 0, 0};
    } else if (kVariant == 0) {
      *d = {&mode_, dirInput, dtList, "mode", "1", "soft=0,hard=1", 0, 0};
    } else if (kVariant == 2) {
      *d = {&spare_, dirInput, dtAudio, names.spare[index - 1], "0", nullptr, 0, 0};
    } else {
      static const char* const odd[] = {"level", "3rd band", "in_put", "",
                                        "\xc3\xbc"
                                        "ber"};
      *d = {&spare_,
            index == 6 ? dirSetting : dirInput,
            index == 6 ? dtInteger : dtAudio,
            odd[index - 2],
            "0",
            nullptr,
            0,
            0};
      if (index == 6) d->variable = &setting_;
    }
    return true;
  }

  void open() override {
    setProcessFunction(processReference<Module, &Module::render>());
    RMModule_base::open();
    if (pinCount() < kPins || kPins < 2) setProcessFunction(emptyProcessReference());
  }

 private:
  void render(int32_t offset, int32_t frames) noexcept {
    for (int32_t i = offset; i < offset + frames; ++i) {
      const float y = in_[i] * level_[i];
      out_[i] = std::isfinite(y) && std::fabs(y) >= 1e-30f ? y : 0.0f;
    }
  }

  float* in_ = nullptr;
  float* level_ = nullptr;
  float* spare_ = nullptr;
  float* out_ = nullptr;
  int16_t mode_ = 0;
  int32_t setting_ = 0;
};

}  // namespace

const rm::PluginIdentity rm::pluginIdentity{RM_MODULE_ID, "pins test module",
                                            "test module of the LV2 bundles"};

RMModule_base* rm::createPluginModule(HostCallback callback, int32_t hostValue) noexcept {
  return rm::createModule<Module>(callback, hostValue);
}

// The tremolo module: its input times a gain that swings between 1 and 1 - Depth at Rate Hz.
//
// Process functions: render while the input streams or the gain moves; renderQuiet once the
// input has come to rest at zero, which writes the zero output a quiet input gives and, after a
// block of it, asks the host to sleep.
#pragma once

#include <cstdint>

#include "rackmill/module_base.h"

namespace tremolo {

class Module final : public RMModule_base {
 public:
  using RMModule_base::RMModule_base;

  bool describePin(int32_t index, PinDescription* description) noexcept override;
  void open() noexcept override;
  void onPinStatus(RMPin& pin) noexcept override;

  void render(int32_t offset, int32_t frames) noexcept;
  void renderQuiet(int32_t offset, int32_t frames) noexcept;

 private:
  float gainAt(float rate, float depth) noexcept;
  void wake() noexcept;

  // Pin variables: the host keeps each audio pin's current buffer here, a list pin's value.
  float* in = nullptr;
  float* rate = nullptr;
  float* depth = nullptr;
  float* out = nullptr;
  int16_t shape = 0;

  double phase = 0.0;  // of the gain's swing, in cycles
  double inverseRate = 1.0 / 44100.0;
  int32_t quietLeft = 0;  // samples to render quietly before asking to sleep
  bool quiet = false;
};

}  // namespace tremolo

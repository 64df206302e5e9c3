// The output law: envelope samples (normally 0..1) scaled by the overall level h, either
// linearly or along a decibel-like curve.
#pragma once

#include <cstdint>

#include "vellum/dsp/fast_pow2.h"

namespace vellum {

// dbmode 1 selects the decibel law; 0 (the default) and every other value the linear one.
enum class OutputLaw : int32_t { linear, decibel };

inline OutputLaw outputLawFor(int32_t dbmode) noexcept {
  return dbmode == 1 ? OutputLaw::decibel : OutputLaw::linear;
}

// u x h.
inline void applyLinearLaw(float h, int32_t count, float* samples) noexcept {
  for (int32_t i = 0; i < count; ++i) samples[i] = samples[i] * h;
}

// h x u x 2^(4(u - 1)): up to 24 dB of attenuation towards u = 0 on top of the linear factor u.
inline void applyDecibelLaw(float h, int32_t count, float* samples) noexcept {
  const auto hd = static_cast<double>(h);
  for (int32_t i = 0; i < count; ++i) {
    const float u = samples[i];
    const float z = (u - 1.0f) * 4.0f;
    samples[i] = static_cast<float>((hd * fastPow2(z)) * static_cast<double>(u));
  }
}

inline void applyOutputLaw(OutputLaw law, float h, int32_t count, float* samples) noexcept {
  if (law == OutputLaw::decibel) {
    applyDecibelLaw(h, count, samples);
  } else {
    applyLinearLaw(h, count, samples);
  }
}

}  // namespace vellum

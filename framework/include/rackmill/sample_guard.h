// The last step of every output sample a module hands the host: a finite, normal float or zero.
// Infinities saturate at the largest float, NaN becomes 0, and subnormals flush to 0, since
// downstream modules slow down or fail on them and no audible signal lives below 1.2e-38.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

namespace rm {

inline float hostSample(float x) noexcept {
  const float magnitude = std::fabs(x);
  if (magnitude >= FLT_MIN && magnitude <= FLT_MAX) return x;
  if (magnitude > FLT_MAX) return std::copysign(FLT_MAX, x);
  return 0.0f;
}

inline void guardSamples(float* samples, int32_t count) noexcept {
  for (int32_t i = 0; i < count; ++i) samples[i] = hostSample(samples[i]);
}

}  // namespace rm

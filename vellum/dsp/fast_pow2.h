// A fast approximation of 2^z for the envelope curves and the decibel output law.
#pragma once

#include <bit>
#include <cstdint>

namespace vellum {

// 2^z, exact at whole z and linear within each octave (2^n * (1 + t) for z = n + t), at most
// 6.15 % above the true power. The exponent is written straight into the upper word of a double:
// 1072693248 is the upper word of 1.0 and 1048576 one unit of its exponent field.
//
// z is clamped to -1022..1023 first, the range whose upper words are normal doubles, so that the
// conversion to a 32-bit integer is always defined; a NaN takes the low end.
inline double fastPow2(double z) noexcept {
  constexpr double lowest = -1022.0;
  constexpr double highest = 1023.0;
  const double clamped = !(z >= lowest) ? lowest : (z > highest ? highest : z);
  const auto upper = static_cast<int32_t>(clamped * 1048576.0 + 1072693248.0);
  return std::bit_cast<double>(static_cast<uint64_t>(static_cast<uint32_t>(upper)) << 32);
}

}  // namespace vellum

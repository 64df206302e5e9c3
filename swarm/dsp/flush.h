// flush(x): (x + t) - t with t = 1e-25f widened to double. Magnitudes below about 5.7e-42 become
// exactly 0 and smaller values are coarsened, so no subnormal number leaves it; larger values
// pass unchanged. Used where products of decaying phasors could otherwise turn subnormal.
#pragma once

namespace swarm::dsp {

// 1e-25 written as a single-precision constant: 1.0000000195414814e-25 once widened.
inline constexpr double kFlushOffset = static_cast<double>(1e-25f);

inline double flush(double x) noexcept {
  // The volatile sum keeps the compiler from folding (x + t) - t back into x.
  volatile double sum = x + kFlushOffset;
  return sum - kFlushOffset;
}

}  // namespace swarm::dsp

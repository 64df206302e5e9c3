// Complex: a plain pair of doubles (real part first) for the oscillator phasors, kept as a POD
// so that oscillator records copy as plain memory.
//   multiply(x, y)          (p + iq)(a + ib) = (pa - qb) + i(qa + pb)
//   square(z)               (a^2 - b^2) + i(2a)b
//   scale(z, s)             both parts times s
//   normalise(z)            z / |z|, or 0 when |z| is 0; also where the squares of z leave the
//                           double range
//   complexPowers(z1, z2, n) -> ComplexPowers{z1^n, z2^n}; 1 + 0i for n <= 0. The last (at most
//                           three) products are flushed so tiny powers come out as exact zeros.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

#include "swarm/dsp/flush.h"

namespace swarm::dsp {

struct Complex {
  double re;
  double im;
};

inline Complex multiply(Complex x, Complex y) noexcept {
  return {x.re * y.re - x.im * y.im, x.im * y.re + x.re * y.im};
}

inline Complex square(Complex z) noexcept {
  return {z.re * z.re - z.im * z.im, (2.0 * z.re) * z.im};
}

inline Complex scale(Complex z, double s) noexcept {
  return {z.re * s, z.im * s};
}

namespace detail {

// z / |z| for a z whose squares leave the normal range: z is first scaled by an exact power of
// two so that its larger part lies in [1, 2).
inline Complex normaliseScaled(Complex z) noexcept {
  const double larger = std::fmax(std::fabs(z.re), std::fabs(z.im));
  if (!(larger > 0.0) || !std::isfinite(larger)) {
    const double r = std::sqrt(z.re * z.re + z.im * z.im);
    return scale(z, r > 0.0 ? 1.0 / r : 0.0);
  }
  const int exponent = std::ilogb(larger);
  const Complex w{std::scalbn(z.re, -exponent), std::scalbn(z.im, -exponent)};
  return scale(w, 1.0 / std::sqrt(w.re * w.re + w.im * w.im));
}

}  // namespace detail

// A phasor whose squares overflow (a very large power of the modulator) or underflow (the
// carrier of a very long series, whose gain is tiny) keeps its direction: squaring it as it is
// would give a length of infinity or 0 and silence the oscillator.
inline Complex normalise(Complex z) noexcept {
  const double squares = z.re * z.re + z.im * z.im;
  if (!(squares >= DBL_MIN && squares <= DBL_MAX)) [[unlikely]]
    return detail::normaliseScaled(z);
  return scale(z, 1.0 / std::sqrt(squares));
}

struct ComplexPowers {
  Complex first;
  Complex second;
};

// Exponentiation by squaring, least significant bit first, of two bases at once.
inline ComplexPowers complexPowers(Complex z1, Complex z2, int32_t n) noexcept {
  Complex r1{1.0, 0.0};
  Complex r2{1.0, 0.0};
  while (n > 5) {
    if (n & 1) {
      r1 = multiply(r1, z1);
      r2 = multiply(r2, z2);
    }
    z1 = square(z1);
    z2 = square(z2);
    n >>= 1;
  }
  // The final few products decide the smallest magnitudes; flushing them keeps subnormals out.
  while (n > 0) {
    if (n & 1) {
      const Complex p1 = multiply(r1, z1);
      const Complex p2 = multiply(r2, z2);
      r1 = {flush(p1.re), flush(p1.im)};
      r2 = {flush(p2.re), flush(p2.im)};
    }
    z1 = square(z1);
    z2 = square(z2);
    n >>= 1;
  }
  return {r1, r2};
}

}  // namespace swarm::dsp

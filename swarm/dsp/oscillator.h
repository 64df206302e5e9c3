// Per-sample work of the oscillator bank.
//
//   stepOscillator(s, left, right)   adds one oscillator's contribution for one sample to the
//                                    two sums and advances its phasors; sample-major rendering
//                                    starts both sums at 0 and steps oscillators 0 .. count-1
//   renormalise(s)                   resets the magnitude drift of one slot's running phasors
//   sumBankSingle(bank, count, left, right, frames)
//   sumBankPaired(bank, count, left, right, frames)
//                                    write into left[0, frames) and right[0, frames) the sums of
//                                    oscillators 0 .. count-1 over `frames` samples, oscillator by
//                                    oscillator, and store the advanced phasors back. Single: one
//                                    oscillator at a time, added in order. Paired: two at a time in
//                                    two lanes, the pair sum (second + first) added per sample; for
//                                    an odd count the slot bank[count] first becomes a silent
//                                    partner (carrier 0, modulator 2 + 0i).
// The phasors live in the records between calls, so a long block rendered as consecutive chunks
// gives exactly the sums of one call over the whole block. The four- and eight-lane paths are in
// wide_bank.h; bank_paths.h chooses among all four.
//
// Left is the sine-phase (imaginary) part, right the cosine-phase (real) part of
//   (1 - waveMix) * carrier * conj(S) + waveMix * carrier * S,
// where S = (modulatorPowN - 1) / (modulator - 1) is the geometric series sum of modulator^p,
// p = 0 .. n. Where that denominator vanishes (modulator at 1 + 0i) S is its limit, n + 1.
#pragma once

#include <cfloat>
#include <cstdint>

#include "swarm/dsp/complex.h"
#include "swarm/dsp/oscillator_state.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace swarm::dsp {

namespace detail {

// The series sum S for one oscillator at one sample.
inline Complex seriesSum(Complex m, Complex p, double partialCount) noexcept {
  const double mRe1 = m.re - 1.0;
  const double den = mRe1 * mRe1 + m.im * m.im;
  // Below DBL_MIN, 1/den could overflow: the modulator sits at 1 + 0i, where S tends to n + 1.
  if (den < DBL_MIN) [[unlikely]]
    return {partialCount, 0.0};
  const double inv = 1.0 / den;
  const double pRe1 = p.re - 1.0;
  return {(pRe1 * mRe1 + p.im * m.im) * inv, (p.im * mRe1 - pRe1 * m.im) * inv};
}

struct Contribution {
  double left;
  double right;
};

inline Contribution blend(Complex y, Complex s, double lowerWeight, double upperWeight) noexcept {
  const double left =
      lowerWeight * (y.im * s.re - y.re * s.im) + upperWeight * (y.im * s.re + y.re * s.im);
  const double right =
      lowerWeight * (y.re * s.re + y.im * s.im) + upperWeight * (y.re * s.re - y.im * s.im);
  return {left, right};
}

}  // namespace detail

inline void stepOscillator(OscillatorState& s, double& left, double& right) noexcept {
  const Complex sum = detail::seriesSum(s.modulator, s.modulatorPowN, s.partialCount);
  const detail::Contribution c = detail::blend(s.carrier, sum, 1.0 - s.waveMix, s.waveMix);
  left += c.left;
  right += c.right;
  s.carrier = multiply(s.carrier, s.carrierStep);
  s.modulator = multiply(s.modulator, s.modulatorStep);
  s.modulatorPowN = multiply(s.modulatorPowN, s.modulatorStepPowN);
}

// The running phasors are products of many rotations and slowly drift in magnitude; bring them
// back to their set-up magnitudes without touching their phases or the rotations.
inline void renormalise(OscillatorState& s) noexcept {
  s.carrier = normalise(s.carrier);
  s.modulator = normalise(s.modulator);
  s.modulatorPowN = normalise(s.modulatorPowN);
  s.carrier = scale(s.carrier, s.gain);
  s.modulator = scale(s.modulator, s.decay);
  s.modulatorPowN = scale(s.modulatorPowN, s.decayPowN);
}

inline void sumBankSingle(OscillatorBank& bank, uint32_t count, double* left, double* right,
                          uint32_t frames) noexcept {
  for (uint32_t j = 0; j < frames; ++j) {
    left[j] = 0.0;
    right[j] = 0.0;
  }
  if (count > kMaxOscillators) count = kMaxOscillators;
  for (uint32_t k = 0; k < count; ++k) {
    // A local copy lets the compiler keep the whole record in registers for the block.
    OscillatorState s = bank[k];
    for (uint32_t j = 0; j < frames; ++j) stepOscillator(s, left[j], right[j]);
    bank[k].carrier = s.carrier;
    bank[k].modulator = s.modulator;
    bank[k].modulatorPowN = s.modulatorPowN;
  }
}

namespace detail {

// Two doubles, one per oscillator of a pair: SSE2 registers where available, otherwise a plain
// pair with the same per-lane arithmetic (and so the same results).
#if defined(__SSE2__)
struct Lanes {
  __m128d v;
};
inline Lanes lanes(double first, double second) noexcept {
  return {_mm_set_pd(second, first)};
}
inline Lanes splat(double x) noexcept {
  return {_mm_set1_pd(x)};
}
inline Lanes operator+(Lanes a, Lanes b) noexcept {
  return {_mm_add_pd(a.v, b.v)};
}
inline Lanes operator-(Lanes a, Lanes b) noexcept {
  return {_mm_sub_pd(a.v, b.v)};
}
inline Lanes operator*(Lanes a, Lanes b) noexcept {
  return {_mm_mul_pd(a.v, b.v)};
}
inline Lanes operator/(Lanes a, Lanes b) noexcept {
  return {_mm_div_pd(a.v, b.v)};
}
inline double firstLane(Lanes a) noexcept {
  return _mm_cvtsd_f64(a.v);
}
inline double secondLane(Lanes a) noexcept {
  return _mm_cvtsd_f64(_mm_unpackhi_pd(a.v, a.v));
}
// Lanes where x < limit take `replacement`, the others keep `value`.
inline Lanes replaceBelow(Lanes x, Lanes limit, Lanes replacement, Lanes value) noexcept {
  const __m128d mask = _mm_cmplt_pd(x.v, limit.v);
  return {_mm_or_pd(_mm_and_pd(mask, replacement.v), _mm_andnot_pd(mask, value.v))};
}
#else
struct Lanes {
  double a;
  double b;
};
inline Lanes lanes(double first, double second) noexcept {
  return {first, second};
}
inline Lanes splat(double x) noexcept {
  return {x, x};
}
inline Lanes operator+(Lanes x, Lanes y) noexcept {
  return {x.a + y.a, x.b + y.b};
}
inline Lanes operator-(Lanes x, Lanes y) noexcept {
  return {x.a - y.a, x.b - y.b};
}
inline Lanes operator*(Lanes x, Lanes y) noexcept {
  return {x.a * y.a, x.b * y.b};
}
inline Lanes operator/(Lanes x, Lanes y) noexcept {
  return {x.a / y.a, x.b / y.b};
}
inline double firstLane(Lanes x) noexcept {
  return x.a;
}
inline double secondLane(Lanes x) noexcept {
  return x.b;
}
inline Lanes replaceBelow(Lanes x, Lanes limit, Lanes replacement, Lanes value) noexcept {
  return {x.a < limit.a ? replacement.a : value.a, x.b < limit.b ? replacement.b : value.b};
}
#endif

struct ComplexLanes {
  Lanes re;
  Lanes im;
};

inline ComplexLanes loadPair(Complex first, Complex second) noexcept {
  return {lanes(first.re, second.re), lanes(first.im, second.im)};
}

inline ComplexLanes operator*(ComplexLanes x, ComplexLanes y) noexcept {
  return {x.re * y.re - x.im * y.im, x.im * y.re + x.re * y.im};
}

inline void storePair(ComplexLanes z, Complex& first, Complex& second) noexcept {
  first = {firstLane(z.re), firstLane(z.im)};
  second = {secondLane(z.re), secondLane(z.im)};
}

// The same arithmetic as stepOscillator, for two oscillators, over one block.
inline void sumPair(OscillatorState& s0, OscillatorState& s1, double* left, double* right,
                    uint32_t frames) noexcept {
  ComplexLanes y = loadPair(s0.carrier, s1.carrier);
  ComplexLanes m = loadPair(s0.modulator, s1.modulator);
  ComplexLanes p = loadPair(s0.modulatorPowN, s1.modulatorPowN);
  const ComplexLanes yStep = loadPair(s0.carrierStep, s1.carrierStep);
  const ComplexLanes mStep = loadPair(s0.modulatorStep, s1.modulatorStep);
  const ComplexLanes pStep = loadPair(s0.modulatorStepPowN, s1.modulatorStepPowN);
  const Lanes upper = lanes(s0.waveMix, s1.waveMix);
  const Lanes lower = lanes(1.0 - s0.waveMix, 1.0 - s1.waveMix);
  const Lanes partialCount = lanes(s0.partialCount, s1.partialCount);
  const Lanes one = splat(1.0);
  const Lanes zero = splat(0.0);
  const Lanes tiny = splat(DBL_MIN);
  for (uint32_t j = 0; j < frames; ++j) {
    const Lanes mRe1 = m.re - one;
    const Lanes den = mRe1 * mRe1 + m.im * m.im;
    const Lanes inv = one / den;
    const Lanes pRe1 = p.re - one;
    // Lanes whose modulator sits at 1 + 0i take the limit n + 1 (see seriesSum).
    const Lanes sRe = replaceBelow(den, tiny, partialCount, (pRe1 * mRe1 + p.im * m.im) * inv);
    const Lanes sIm = replaceBelow(den, tiny, zero, (p.im * mRe1 - pRe1 * m.im) * inv);
    const Lanes l = lower * (y.im * sRe - y.re * sIm) + upper * (y.im * sRe + y.re * sIm);
    const Lanes r = lower * (y.re * sRe + y.im * sIm) + upper * (y.re * sRe - y.im * sIm);
    left[j] += secondLane(l) + firstLane(l);
    right[j] += secondLane(r) + firstLane(r);
    y = y * yStep;
    m = m * mStep;
    p = p * pStep;
  }
  storePair(y, s0.carrier, s1.carrier);
  storePair(m, s0.modulator, s1.modulator);
  storePair(p, s0.modulatorPowN, s1.modulatorPowN);
}

}  // namespace detail

inline void sumBankPaired(OscillatorBank& bank, uint32_t count, double* left, double* right,
                          uint32_t frames) noexcept {
  for (uint32_t j = 0; j < frames; ++j) {
    left[j] = 0.0;
    right[j] = 0.0;
  }
  if (count > kMaxOscillators) count = kMaxOscillators;
  // The bank size is even, so an odd count always leaves the next slot free as a silent partner:
  // a zero carrier adds exactly zero, and a modulator of 2 keeps the denominator away from 0.
  if (count % 2 == 1) {
    bank[count].carrier = {0.0, 0.0};
    bank[count].modulator = {2.0, 0.0};
  }
  for (uint32_t k = 0; k < count; k += 2)
    detail::sumPair(bank[k], bank[k + 1], left, right, frames);
}

static_assert(kMaxOscillators % 2 == 0, "the paired path needs room for a partner slot");

}  // namespace swarm::dsp

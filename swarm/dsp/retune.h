// Retune: sets up every oscillator of the bank from the parameters latched at a sync rise.
//
//   RetuneParams            the pin values of the retune sample (widened to double) and the
//                           voice's constants
//   tuneOscillator(p, position, spreadSpan, decay) -> OscillatorTuning
//                           frequency, modulator frequency, partial count, decay and blend of
//                           one oscillator, with the partial count limited below maxFrequency
//   applyTuning(s, t, phaseStepPerHz)
//                           writes rotations, powers, gain and magnitudes into one record,
//                           keeping the phases of its carrier and modulator
//   retuneBank(bank, count, p)
//                           the whole bank: oscillators 0 .. count-1 spread over the pitch range,
//                           decay running linearly from a1 to a1 * (1 - a2) by repeated addition
//
// Every result is finite whatever the parameters: a negative or non-numeric partial count means
// no partials beyond the carrier; non-finite frequencies fall back to maxFrequency (carrier) or
// no partials (modulator); a non-numeric decay or blend counts as 0. A decay is held only where
// the closed form's products would pass the largest double, and a blend only where the
// oscillator's contribution could no longer be squared in the output stage; both bounds sit
// within a factor of a few of real overflow, so every parameter the arithmetic can carry keeps
// its exact result. Where decay^(n+1) is exactly 1 (decay 1, or -1 with n + 1 even) the gain is
// 1/(n+1), its limit at decay 1.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

#include "swarm/dsp/complex.h"
#include "swarm/dsp/flush.h"
#include "swarm/dsp/oscillator_state.h"

namespace swarm::dsp {

struct RetuneParams {
  double pitch = 0.0;         // "fc_1": 0.5 is 440 Hz, 0.1 per octave
  double spacingRatio = 0.0;  // "fm1_1": modulator frequency over carrier frequency
  double partials = 0.0;      // "N": partials above the carrier
  double decayFirst = 0.0;    // "a_1": decay of the first oscillator
  double decayFall = 0.0;     // "a_2": relative fall of the decay towards the last oscillator
  double waveMix = 0.0;       // "Wave_1"
  double pitchSpread = 0.0;   // "pitchspread": pitch distance of neighbours, fc_1 units
  double pitchShuffle = 0.0;  // "pitchShuffle": bends the spread positions (10^v exponent)
  double spacing = 1.0;       // 1 / (count - 1), or 1 for a single oscillator
  double phaseStepPerHz = 0.0;
  double maxFrequency = 0.0;
};

struct OscillatorTuning {
  double frequency;
  double modulatorFrequency;
  int32_t partials;
  double decay;
  double waveMix;
};

namespace detail {

inline constexpr double kLn2 = 0.6931471805599453;
inline constexpr double kLn4 = 1.3862943611198906;
inline constexpr double kLn10 = 2.302585092994046;
// ln(DBL_MAX / 2): the largest magnitude the closed form may reach, with a factor two of headroom
// for rounding and for the drift of the running phasors between renormalisations.
inline constexpr double kLnLargest = 709.0895657128241;
// Largest magnitude of one oscillator's contribution: the output stage squares the DC-filtered
// mean of the contributions (up to twice the largest one), and left^2 + right^2 must stay finite.
inline constexpr double kLargestContribution = 0x1p508;
// Largest partial count whose n + 1 still fits a 32-bit integer.
inline constexpr int32_t kMaxPartials = 2147483646;

inline int32_t partialsFromPin(double value) noexcept {
  if (!(value > 0.0)) return 0;  // negative, zero or not a number: the carrier alone
  if (value >= kMaxPartials) return kMaxPartials;
  return static_cast<int32_t>(value);
}

// decay^e by squaring, least significant bit first.
inline double realPower(double base, int32_t e) noexcept {
  double r = 1.0;
  while (e > 0) {
    if (e & 1) r = r * base;
    base = base * base;
    e >>= 1;
  }
  return r;
}

// With x = |decay| > 1 and p = x^(n+1), the closed form S = (P - 1)/(M - 1) multiplies numbers
// up to (p + 1)(x + 1) <= 4 p x before it divides, and |S| reaches (p - 1)/(x - 1), which is below
// both p / (x - 1) and (n + 1) p. A decay is kept when all of these stay below kLnLargest.
inline bool seriesFits(double x, int32_t n) noexcept {
  const double count = static_cast<double>(n) + 1.0;
  const double lnX = std::log(x);
  const double lnP = count * lnX;
  const double products = lnP + lnX + kLn4;
  const double sum = lnP + std::fmin(std::log(count), -std::log(x - 1.0));
  return products <= kLnLargest && sum <= kLnLargest;
}

// A decay whose series the arithmetic cannot carry is pulled in towards 1 until it can; the
// limit takes the looser of the two sum bounds, so it always fits.
inline double boundedDecay(double d, int32_t n) noexcept {
  if (std::isnan(d)) return 0.0;
  const double x = std::fabs(d);
  if (x <= 1.0 || seriesFits(x, n)) return d;
  const double count = static_cast<double>(n) + 1.0;
  const double lnLimit =
      std::fmin((kLnLargest - kLn4) / (count + 1.0), (kLnLargest - std::log(count)) / count);
  return std::copysign(std::exp(lnLimit), d);
}

// Largest magnitude of the oscillator's series, gain * sum of |decay|^p for p = 0 .. n: the
// factor by which the blend scales into the contribution.
inline double seriesPeak(const OscillatorState& s) noexcept {
  const double x = std::fabs(s.decay);
  const double sum =
      s.decayPowN == 1.0 || x == 1.0 ? s.partialCount : (std::fabs(s.decayPowN) - 1.0) / (x - 1.0);
  return std::fabs(s.gain) * sum;
}

// The contribution is (1 - w) A + w B with |A|, |B| <= peak: held so that (2|w| + 1) peak stays
// within kLargestContribution.
inline double boundedWaveMix(double w, double peak) noexcept {
  if (std::isnan(w)) return 0.0;
  const double limit = std::fmin((kLargestContribution / peak - 1.0) * 0.5, DBL_MAX);
  return std::fmax(-limit, std::fmin(w, limit));
}

}  // namespace detail

// `position` is the oscillator's place in the spread (0 first, 1 last); `decay` its ratio.
inline OscillatorTuning tuneOscillator(const RetuneParams& p, double position, double spreadSpan,
                                       double decay) noexcept {
  double f = 440.0 * std::exp(((position * spreadSpan + p.pitch) * 10.0 - 5.0) * detail::kLn2);
  if (!std::isfinite(f)) f = p.maxFrequency;
  int32_t n = detail::partialsFromPin(p.partials);
  double m = std::fabs(f) * p.spacingRatio;
  if (!std::isfinite(m)) {
    m = 0.0;
    n = 0;
  }
  if (std::fabs(m) > 0.0001) {
    // Cut the partials so that |f| + (n + 0.5)|m| stays at or below maxFrequency; compared
    // before truncation so that any size of quotient converts safely.
    const double limit = (p.maxFrequency - std::fabs(f)) / std::fabs(m) - 0.5;
    if (limit < n) n = limit > 0.0 ? static_cast<int32_t>(limit) : 0;
  } else if (std::fabs(f) > p.maxFrequency) {
    f = p.maxFrequency;
  }
  return {f, m, n, detail::boundedDecay(decay, n), p.waveMix};
}

inline void applyTuning(OscillatorState& s, const OscillatorTuning& t,
                        double phaseStepPerHz) noexcept {
  const double carrierAngle = phaseStepPerHz * t.frequency;
  const double modulatorAngle = phaseStepPerHz * t.modulatorFrequency;
  s.carrierStep = {std::cos(carrierAngle), std::sin(carrierAngle)};
  s.modulatorStep = {std::cos(modulatorAngle), std::sin(modulatorAngle)};
  s.modulator = normalise(s.modulator);
  s.carrier = normalise(s.carrier);
  const ComplexPowers powers = complexPowers(s.modulator, s.modulatorStep, t.partials + 1);
  s.modulatorPowN = powers.first;
  s.modulatorStepPowN = powers.second;
  s.carrierStep = normalise(s.carrierStep);
  s.modulatorStep = normalise(s.modulatorStep);
  s.modulatorStepPowN = normalise(s.modulatorStepPowN);
  const double d = t.decay;
  s.decayPowN = flush(detail::realPower(d, t.partials + 1));
  s.decay = d;
  s.partialCount = static_cast<double>(t.partials) + 1.0;
  // At decay 1 the series' amplitude sum is n + 1 (the closed form reads 0/0 there); the same
  // finite gain serves the other decays whose power rounds to exactly 1.
  s.gain = s.decayPowN == 1.0 ? 1.0 / s.partialCount : (d - 1.0) / (s.decayPowN - 1.0);
  s.modulator = scale(s.modulator, d);
  s.modulatorPowN = scale(s.modulatorPowN, s.decayPowN);
  s.carrier = scale(s.carrier, s.gain);
  s.waveMix = detail::boundedWaveMix(t.waveMix, detail::seriesPeak(s));
}

inline void retuneBank(OscillatorBank& bank, uint32_t count, const RetuneParams& p) noexcept {
  if (count > kMaxOscillators) count = kMaxOscillators;
  if (count == 0) return;
  const double spreadSpan = p.pitchSpread * static_cast<double>(count - 1);
  const double shape = std::exp(detail::kLn10 * p.pitchShuffle);
  const double decayStep = ((1.0 - p.decayFall) * p.decayFirst - p.decayFirst) * p.spacing;
  double d = p.decayFirst;
  for (uint32_t k = 0; k < count; ++k) {
    const double position =
        k == 0 ? 0.0 : std::exp(std::log(static_cast<double>(k) * p.spacing) * shape);
    applyTuning(bank[k], tuneOscillator(p, position, spreadSpan, d), p.phaseStepPerHz);
    d = d + decayStep;
  }
}

}  // namespace swarm::dsp

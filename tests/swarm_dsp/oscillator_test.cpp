#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <complex>
#include <limits>
#include <vector>

#include "swarm/dsp/bank_paths.h"
#include "swarm/dsp/oscillator.h"
#include "swarm/dsp/output_stage.h"
#include "swarm/dsp/retune.h"

namespace {

using namespace swarm::dsp;

constexpr double kRate = 44100.0;
constexpr double kPi = 3.141592653589793;

RetuneParams baseParams() {
  RetuneParams p;
  p.pitch = 0.5;
  p.phaseStepPerHz = 2.0 * kPi / kRate;
  p.maxFrequency = 21000.0;
  return p;
}

Complex unit(double angle) {
  return {std::cos(angle), std::sin(angle)};
}

struct Sums {
  std::vector<double> left, right;
  explicit Sums(size_t n) : left(n), right(n) {}
};

// Block sums along `path` in calls of `chunk` frames (one call when 0).
Sums render(OscillatorBank& bank, uint32_t count, size_t frames, BankPath path, size_t chunk = 0) {
  Sums s(frames);
  if (chunk == 0) chunk = frames;
  LaneSums lanes;
  for (size_t at = 0; at < frames; at += chunk) {
    const auto n = static_cast<uint32_t>(std::min(chunk, frames - at));
    sumBank(path, bank, count, lanes, &s.left[at], &s.right[at], n);
  }
  return s;
}

// The paths this processor runs, the single path first.
std::vector<BankPath> runnablePaths() {
  std::vector<BankPath> paths;
  for (BankPath path : kBankPaths) {
    if (processorRuns(path)) paths.push_back(path);
  }
  return paths;
}

// A bank with distinct starting phases and a spread of pitches, decays and blends.
OscillatorBank variedBank(uint32_t count, const RetuneParams& p) {
  OscillatorBank bank{};
  for (uint32_t k = 0; k < kMaxOscillators; ++k) {
    bank[k].carrier = unit(0.7 * k);
    bank[k].modulator = unit(1.3 * k + 0.2);
  }
  retuneBank(bank, count, p);
  return bank;
}

RetuneParams variedParams(uint32_t count) {
  RetuneParams p = baseParams();
  p.pitch = 0.45;
  p.spacingRatio = 0.37;
  p.partials = 20;
  p.decayFirst = 0.9;
  p.decayFall = 0.6;
  p.waveMix = 0.3;
  p.pitchSpread = 0.01;
  p.pitchShuffle = 0.2;
  p.spacing = count > 1 ? 1.0 / (count - 1) : 1.0;
  return p;
}

void expectSine(const Sums& s, double hz) {
  for (size_t j = 0; j < s.left.size(); ++j) {
    const double phase = 2.0 * kPi * hz * static_cast<double>(j) / kRate;
    ASSERT_NEAR(s.left[j], std::sin(phase), 1e-9) << j;
    ASSERT_NEAR(s.right[j], std::cos(phase), 1e-9) << j;
  }
}

TEST(Oscillator, NoPartialsGiveSineLeftAndCosineRight) {
  OscillatorBank bank{};
  RetuneParams p = baseParams();
  p.decayFirst = 0.5;
  retuneBank(bank, 1, p);
  EXPECT_EQ(bank[0].gain, 1.0);
  expectSine(render(bank, 1, 2000, BankPath::single), 440.0);
}

TEST(Oscillator, DecayOneAndModulatorAtOneTakeTheSeriesLimits) {
  // fm1_1 0 keeps the modulator at exactly 1 + 0i; all ten partials coincide with the carrier.
  OscillatorBank bank{};
  RetuneParams p = baseParams();
  p.partials = 9;
  p.decayFirst = 1.0;
  retuneBank(bank, 1, p);
  EXPECT_EQ(bank[0].gain, 0.1);
  EXPECT_EQ(bank[0].modulator.re, 1.0);
  EXPECT_EQ(bank[0].modulator.im, 0.0);
  expectSine(render(bank, 1, 500, BankPath::single), 440.0);
  bank = OscillatorBank{};
  retuneBank(bank, 1, p);
  expectSine(render(bank, 1, 500, BankPath::paired), 440.0);
}

TEST(Oscillator, WaveMixSelectsLowerUpperAndAveragedSeries) {
  constexpr double theta0 = 0.3, beta0 = 1.1, d = 0.7;
  constexpr int n = 7;
  RetuneParams p = baseParams();
  p.pitch = 0.4;  // 220 Hz
  p.spacingRatio = 0.5;
  p.partials = n;
  p.decayFirst = d;
  double amplitudeSum = 0.0;
  for (int k = 0; k <= n; ++k) amplitudeSum += std::pow(d, k);
  for (double w : {0.0, 1.0, 0.5}) {
    OscillatorBank bank{};
    bank[0].carrier = unit(theta0);
    bank[0].modulator = unit(beta0);
    p.waveMix = w;
    retuneBank(bank, 1, p);
    const Sums s = render(bank, 1, 600, BankPath::single);
    for (size_t j = 0; j < s.left.size(); ++j) {
      const double theta = theta0 + 2.0 * kPi * 220.0 * static_cast<double>(j) / kRate;
      const double beta = beta0 + 2.0 * kPi * 110.0 * static_cast<double>(j) / kRate;
      std::complex<double> lower, upper;
      for (int k = 0; k <= n; ++k) {
        lower += std::pow(d, k) * std::polar(1.0, theta - k * beta);
        upper += std::pow(d, k) * std::polar(1.0, theta + k * beta);
      }
      const std::complex<double> expected = ((1.0 - w) * lower + w * upper) / amplitudeSum;
      ASSERT_NEAR(s.left[j], expected.imag(), 1e-9) << "w " << w << " j " << j;
      ASSERT_NEAR(s.right[j], expected.real(), 1e-9) << "w " << w << " j " << j;
    }
  }
}

TEST(Retune, PartialCountStaysBelowMaxFrequency) {
  RetuneParams p = baseParams();
  p.spacingRatio = 1.0;
  p.partials = 1000;
  OscillatorTuning t = tuneOscillator(p, 0.0, 0.0, 0.5);
  EXPECT_NEAR(t.frequency, 440.0, 1e-10);
  EXPECT_EQ(t.partials, 46);  // (21000 - 440) / 440 - 0.5 = 46.2
  EXPECT_LE(t.frequency + (t.partials + 0.5) * t.modulatorFrequency, p.maxFrequency);
  EXPECT_GT(t.frequency + (t.partials + 1.5) * t.modulatorFrequency, p.maxFrequency);
  p.partials = 12;
  EXPECT_EQ(tuneOscillator(p, 0.0, 0.0, 0.5).partials, 12);
  p.partials = -3;
  EXPECT_EQ(tuneOscillator(p, 0.0, 0.0, 0.5).partials, 0);
  // A carrier above the limit keeps its frequency but loses its partials ...
  p.pitch = 1.1;  // 28160 Hz
  p.partials = 5;
  t = tuneOscillator(p, 0.0, 0.0, 0.5);
  EXPECT_EQ(t.partials, 0);
  EXPECT_NEAR(t.frequency, 28160.0, 1e-8);
  // ... unless there is no spacing, when the carrier itself is clamped.
  p.spacingRatio = 0.0;
  t = tuneOscillator(p, 0.0, 0.0, 0.5);
  EXPECT_EQ(t.partials, 5);
  EXPECT_EQ(t.frequency, 21000.0);
}

TEST(Retune, BankSpreadsPitchAndDecay) {
  RetuneParams p = baseParams();
  p.pitch = 0.55;
  p.pitchSpread = 0.1;
  p.decayFirst = 0.8;
  p.decayFall = 0.5;
  OscillatorBank bank{};
  retuneBank(bank, 1, p);  // a single oscillator sits at fc_1 whatever the spread
  const double single = 440.0 * std::pow(2.0, 0.5);
  EXPECT_NEAR(bank[0].carrierStep.im, std::sin(p.phaseStepPerHz * single), 1e-15);
  EXPECT_EQ(bank[0].decay, 0.8);
  p.spacing = 0.5;
  retuneBank(bank, 3, p);
  for (int k = 0; k < 3; ++k) {
    const double hz = single * std::pow(2.0, k);  // one octave per 0.1
    EXPECT_NEAR(bank[k].carrierStep.re, std::cos(p.phaseStepPerHz * hz), 1e-14) << k;
    EXPECT_NEAR(bank[k].decay, 0.8 - 0.2 * k, 1e-15) << k;
  }
}

// Every path computes each oscillator exactly as the single path does and differs only in the
// order of the additions into the sums: over long renders in host-sized calls, with
// renormalisation between calls, the phasors stay equal to the bit and the sums to rounding.
TEST(BlockSums, EveryPathAgreesWithTheSinglePath) {
  for (BankPath path : runnablePaths()) {
    for (uint32_t count : {1u, 3u, 7u, 8u, 12u, 57u, 199u, 200u}) {
      for (double waveMix : {0.0, 0.3, 1.0}) {
        SCOPED_TRACE(testing::Message()
                     << bankPathName(path) << " count " << count << " mix " << waveMix);
        RetuneParams p = variedParams(count);
        p.waveMix = waveMix;
        const OscillatorBank start = variedBank(count, p);
        OscillatorBank single = start, other = start;
        double largest = 0.0;
        for (uint32_t block = 0; block < 48; ++block) {
          const Sums a = render(single, count, 1000, BankPath::single, 256);
          const Sums b = render(other, count, 1000, path, 256);
          for (size_t j = 0; j < a.left.size(); ++j) {
            ASSERT_NEAR(a.left[j], b.left[j], 1e-12 * count) << block << " " << j;
            ASSERT_NEAR(a.right[j], b.right[j], 1e-12 * count) << block << " " << j;
            largest = std::max(largest, std::fabs(a.left[j]));
          }
          renormalise(single[block % count]);
          renormalise(other[block % count]);
        }
        EXPECT_GT(largest, 0.1);
        for (uint32_t k = 0; k < count; ++k) {
          ASSERT_EQ(single[k].carrier.re, other[k].carrier.re) << k;
          ASSERT_EQ(single[k].carrier.im, other[k].carrier.im) << k;
          ASSERT_EQ(single[k].modulator.re, other[k].modulator.re) << k;
          ASSERT_EQ(single[k].modulatorPowN.im, other[k].modulatorPowN.im) << k;
        }
      }
    }
  }
}

// With every other carrier at zero (adding exactly zero), the sums are one oscillator's own
// contributions, so every path must give them to the bit, whatever lane the oscillator is in.
TEST(BlockSums, EachOscillatorContributesExactlyItsSinglePathValue) {
  constexpr uint32_t count = 19;
  for (BankPath path : runnablePaths()) {
    for (uint32_t sounding : {0u, 1u, 3u, 6u, 7u, 8u, 13u, 18u}) {
      SCOPED_TRACE(testing::Message() << bankPathName(path) << " oscillator " << sounding);
      OscillatorBank single = variedBank(count, variedParams(count));
      for (uint32_t k = 0; k < count; ++k) {
        if (k != sounding) single[k].carrier = {0.0, 0.0};
      }
      OscillatorBank other = single;
      const Sums a = render(single, count, 700, BankPath::single, 256);
      const Sums b = render(other, count, 700, path, 256);
      ASSERT_EQ(a.left, b.left);
      ASSERT_EQ(a.right, b.right);
    }
  }
}

TEST(BlockSums, PairedPathSilencesThePartnerOfAnOddCount) {
  OscillatorBank bank = variedBank(7, variedParams(7));
  render(bank, 7, 10, BankPath::paired);
  EXPECT_EQ(bank[7].carrier.re, 0.0);
  EXPECT_EQ(bank[7].carrier.im, 0.0);
  EXPECT_EQ(bank[7].modulator.re, 2.0);
}

// The wide paths fill the lanes past the last oscillator with silent stand-ins of their own:
// records past `count` are neither read nor written (a not-a-number there would reach the sums).
TEST(BlockSums, WidePathsLeaveTheRecordsPastTheCountAlone) {
  for (BankPath path : {BankPath::avx2, BankPath::avx512}) {
    if (!processorRuns(path)) continue;
    for (uint32_t count : {1u, 5u, 13u, 195u}) {
      SCOPED_TRACE(testing::Message() << bankPathName(path) << " count " << count);
      OscillatorBank single = variedBank(count, variedParams(count));
      OscillatorBank wide = single;
      const double nan = std::numeric_limits<double>::quiet_NaN();
      for (uint32_t k = count; k < kMaxOscillators; ++k) {
        wide[k].carrier = {nan, nan};
        wide[k].modulator = {nan, nan};
        wide[k].waveMix = nan;
      }
      const Sums a = render(single, count, 300, BankPath::single);
      const Sums b = render(wide, count, 300, path);
      for (size_t j = 0; j < a.left.size(); ++j) {
        ASSERT_NEAR(a.left[j], b.left[j], 1e-12 * count) << j;
        ASSERT_NEAR(a.right[j], b.right[j], 1e-12 * count) << j;
      }
      for (uint32_t k = count; k < kMaxOscillators; ++k) {
        ASSERT_TRUE(std::isnan(wide[k].carrier.re) && std::isnan(wide[k].modulator.im)) << k;
      }
    }
  }
}

TEST(BlockSums, ChunkedRenderingEqualsOneCall) {
  for (BankPath path : runnablePaths()) {
    SCOPED_TRACE(bankPathName(path));
    const OscillatorBank start = variedBank(9, variedParams(9));
    OscillatorBank whole = start, chunked = start;
    const Sums a = render(whole, 9, 1000, path);
    const Sums b = render(chunked, 9, 1000, path, 256);
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.right, b.right);
  }
}

TEST(BankPaths, TheFastestPathIsTheWidestThisProcessorRuns) {
  const BankPath fastest = fastestBankPath();
  EXPECT_TRUE(processorRuns(fastest));
  for (BankPath path : kBankPaths) {
    if (path > fastest) {
      EXPECT_FALSE(processorRuns(path)) << bankPathName(path);
    }
  }
  EXPECT_TRUE(processorRuns(BankPath::single));
}

// A decay is held only where the closed form would pass the largest double: one just inside
// stays as given, one far outside is held within a few powers of e of the overflow, and the
// held oscillator renders and renormalises finitely.
TEST(Retune, DecayIsHeldOnlyNearOverflow) {
  struct Case {
    int32_t partials;
    double fits;  // its series stays finite
  };
  const double lnLargest = std::log(DBL_MAX);
  for (const Case& c : {Case{0, 1e150}, Case{1, 1e100}, Case{7, 1e33}, Case{70000, 1.0101},
                        Case{2147483646, 1.00000032}}) {
    SCOPED_TRACE(c.partials);
    RetuneParams p = baseParams();  // no modulator: the partial count is not cut
    p.partials = c.partials;
    for (double sign : {1.0, -1.0}) {
      EXPECT_EQ(tuneOscillator(p, 0.0, 0.0, sign * c.fits).decay, sign * c.fits);
      const double held = tuneOscillator(p, 0.0, 0.0, sign * 1e300).decay;
      EXPECT_EQ(std::copysign(1.0, held), sign);
      // ln of |decay|^(n+2), the size of the closed form's largest products
      const double lnProducts = (c.partials + 2.0) * std::log(std::fabs(held));
      EXPECT_GT(lnProducts, lnLargest - 25.0);
      EXPECT_LT(lnProducts, lnLargest);

      OscillatorState s;
      s.carrier = unit(0.3);
      s.modulator = unit(0.0);  // at phase 0 the sum reaches its largest magnitude
      applyTuning(s, tuneOscillator(p, 0.0, 0.0, held), p.phaseStepPerHz);
      for (int block = 0; block < 3; ++block) {
        double left = 0.0;
        double right = 0.0;
        for (int j = 0; j < 64; ++j) stepOscillator(s, left, right);
        ASSERT_TRUE(std::isfinite(left) && std::isfinite(right)) << block;
        renormalise(s);
        EXPECT_NEAR(std::hypot(s.carrier.re / s.gain, s.carrier.im / s.gain), 1.0, 1e-9);
      }
    }
  }
}

bool finite(Complex z) {
  return std::isfinite(z.re) && std::isfinite(z.im);
}

bool finite(const OscillatorState& s) {
  return finite(s.carrier) && finite(s.carrierStep) && finite(s.modulator) &&
         finite(s.modulatorStep) && finite(s.modulatorPowN) && finite(s.modulatorStepPowN) &&
         std::isfinite(s.waveMix) && std::isfinite(s.decayPowN) && std::isfinite(s.decay) &&
         std::isfinite(s.gain) && std::isfinite(s.partialCount);
}

// Retunes twice (the second from the first one's state), renders on both paths and runs the
// output stage; every value on the way must stay finite.
void expectFinite(const RetuneParams& p) {
  OscillatorBank bank = variedBank(6, p);
  retuneBank(bank, 6, p);
  for (uint32_t k = 0; k < 6; ++k) ASSERT_TRUE(finite(bank[k])) << k;
  for (BankPath path : runnablePaths()) {
    OscillatorBank copy = bank;
    const Sums s = render(copy, 6, 256, path);
    OutputStage stage;
    stage.initialise(kRate, 6);
    for (size_t j = 0; j < s.left.size(); ++j) {
      const StereoSample out = stage.process(s.left[j], s.right[j], 1.0 / 6, kRate);
      ASSERT_TRUE(std::isfinite(out.left) && std::isfinite(out.right)) << j;
    }
  }
}

TEST(Retune, AbsurdParametersKeepEverythingFinite) {
  const double inf = std::numeric_limits<double>::infinity();
  const double values[] = {std::nan(""), inf, -inf,         1e30,  -1e30,    3.4e38,     -1.0,
                           1.0,          0.0, 2147483648.0, 1e-40, 0.999999, -0.99999994};
  double RetuneParams::*const fields[] = {&RetuneParams::pitch,       &RetuneParams::spacingRatio,
                                          &RetuneParams::partials,    &RetuneParams::decayFirst,
                                          &RetuneParams::decayFall,   &RetuneParams::waveMix,
                                          &RetuneParams::pitchSpread, &RetuneParams::pitchShuffle};
  for (auto field : fields) {
    for (double v : values) {
      RetuneParams p = variedParams(6);
      p.*field = v;
      SCOPED_TRACE(v);
      expectFinite(p);
    }
  }
  uint32_t seed = 12345;
  auto next = [&] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
  for (int trial = 0; trial < 300; ++trial) {
    RetuneParams p = variedParams(6);
    for (auto field : fields)
      if (next() & 1) p.*field = values[next() % std::size(values)];
    SCOPED_TRACE(trial);
    expectFinite(p);
  }
}

}  // namespace

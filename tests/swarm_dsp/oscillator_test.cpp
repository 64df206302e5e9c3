#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <vector>

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

Sums render(OscillatorBank& bank, uint32_t count, size_t frames, bool paired, size_t chunk = 0) {
  Sums s(frames);
  if (chunk == 0) chunk = frames;
  for (size_t at = 0; at < frames; at += chunk) {
    const auto n = static_cast<uint32_t>(std::min(chunk, frames - at));
    (paired ? sumBankPaired : sumBankSingle)(bank, count, &s.left[at], &s.right[at], n);
  }
  return s;
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
  expectSine(render(bank, 1, 2000, false), 440.0);
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
  expectSine(render(bank, 1, 500, false), 440.0);
  bank = OscillatorBank{};
  retuneBank(bank, 1, p);
  expectSine(render(bank, 1, 500, true), 440.0);
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
    const Sums s = render(bank, 1, 600, false);
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

TEST(BlockSums, PairedAndSinglePathsAgree) {
  for (uint32_t count : {1u, 7u, 8u, 199u, 200u}) {
    const OscillatorBank start = variedBank(count, variedParams(count));
    OscillatorBank single = start, paired = start;
    const Sums a = render(single, count, 300, false);
    const Sums b = render(paired, count, 300, true);
    for (size_t j = 0; j < a.left.size(); ++j) {
      ASSERT_NEAR(a.left[j], b.left[j], 1e-12 * count) << count << " " << j;
      ASSERT_NEAR(a.right[j], b.right[j], 1e-12 * count) << count << " " << j;
    }
    // Both paths compute each oscillator identically; only the additions differ.
    for (uint32_t k = 0; k < count; ++k) {
      EXPECT_EQ(single[k].carrier.re, paired[k].carrier.re);
      EXPECT_EQ(single[k].modulatorPowN.im, paired[k].modulatorPowN.im);
    }
    if (count % 2 == 1) {
      EXPECT_EQ(paired[count].carrier.re, 0.0);
    }
  }
}

TEST(BlockSums, ChunkedRenderingEqualsOneCall) {
  for (bool paired : {false, true}) {
    const OscillatorBank start = variedBank(9, variedParams(9));
    OscillatorBank whole = start, chunked = start;
    const Sums a = render(whole, 9, 1000, paired);
    const Sums b = render(chunked, 9, 1000, paired, 256);
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.right, b.right);
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
  for (bool paired : {false, true}) {
    OscillatorBank copy = bank;
    const Sums s = render(copy, 6, 256, paired);
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

// Unit tests of the envelope's DSP kernels: fastPow2, the segment curves with their end
// detection, the LFO phasor and renderers, and the output laws.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "vellum/dsp/fast_pow2.h"
#include "vellum/dsp/lfo.h"
#include "vellum/dsp/output_law.h"
#include "vellum/dsp/segment_curve.h"

namespace vellum {
namespace {

TEST(FastPow2, ExactAtWholeExponentsAndLinearWithinOctaves) {
  EXPECT_EQ(fastPow2(0.5), 1.5);
  EXPECT_EQ(fastPow2(-0.5), 0.75);
  EXPECT_EQ(fastPow2(-2.5), 0.1875);
  for (int n = -1022; n <= 1023; ++n) ASSERT_EQ(fastPow2(n), std::ldexp(1.0, n)) << n;
  // Fractions that are whole units of the exponent field map exactly onto 2^n (1 + t).
  for (int n : {-7, -1, 0, 3}) {
    for (int j = 0; j < 1024; j += 37) {
      const double t = j / 1024.0;
      ASSERT_EQ(fastPow2(n + t), std::ldexp(1.0 + t, n)) << n << " + " << t;
    }
  }
}

TEST(FastPow2, NeverBelowAndAtMostSixPercentAboveTheTruePower) {
  double worst = 0.0;
  for (double z = -20.0; z < 20.0; z += 0.0009765625 * 3.7) {
    const double ratio = fastPow2(z) / std::exp2(z);
    ASSERT_GE(ratio, 1.0 - 1e-6) << z;  // truncation of the word may lose a last unit
    worst = std::max(worst, ratio);
  }
  EXPECT_LE(worst, 1.0615);
  EXPECT_GT(worst, 1.06);
}

TEST(FastPow2, SaturatesOutsideTheExponentRange) {
  EXPECT_EQ(fastPow2(1e9), std::ldexp(1.0, 1023));
  EXPECT_EQ(fastPow2(1023.9), std::ldexp(1.0, 1023));
  EXPECT_EQ(fastPow2(-1e9), std::ldexp(1.0, -1022));
  EXPECT_EQ(fastPow2(std::numeric_limits<double>::infinity()), std::ldexp(1.0, 1023));
  EXPECT_EQ(fastPow2(-std::numeric_limits<double>::infinity()), std::ldexp(1.0, -1022));
  EXPECT_EQ(fastPow2(std::numeric_limits<double>::quiet_NaN()), std::ldexp(1.0, -1022));
}

struct CurveCase {
  float form;
  float values[4];  // at positions 0.25, 0.5, 0.75, 1
};

TEST(SegmentCurve, TabulatedFormsAtQuarterPositions) {
  const CurveCase cases[] = {
      {1.0f, {0.0703125f, 0.09375f, 0.2109375f, 1.0f}},
      {0.5f, {0.220703125f, 0.421875f, 0.662109375f, 1.0f}},
      {-0.5f, {0.30859375f, 0.578125f, 0.80859375f, 1.0f}},
      {-1.0f, {0.671875f, 0.90625f, 0.98046875f, 1.0f}},
      {0.0f, {0.25f, 0.5f, 0.75f, 1.0f}},
  };
  for (const CurveCase& c : cases) {
    float out[5] = {-9, -9, -9, -9, -9};
    float position = 0.0f;
    EXPECT_EQ(renderCurve(c.form, 0.25f, position, out, 0, 5), 4) << c.form;
    EXPECT_GT(position, 1.0f);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(out[i], c.values[i]) << "form " << c.form << " sample " << i;
      EXPECT_EQ(curveLevel(c.form, 0.25f * static_cast<float>(i + 1)), c.values[i]);
    }
    EXPECT_EQ(out[4], -9.0f) << "the sample past the end belongs to the next state";
  }
}

TEST(SegmentCurve, PassRendersOnlyItsRangeAndKeepsRunning) {
  std::vector<float> out(10, -9.0f);
  float position = 0.5f;
  EXPECT_EQ(renderCurve(0.0f, 0.1f, position, out.data(), 3, 6), 6);
  EXPECT_FLOAT_EQ(position, 0.8f);
  EXPECT_EQ(out[2], -9.0f);
  EXPECT_FLOAT_EQ(out[3], 0.6f);
  EXPECT_FLOAT_EQ(out[5], 0.8f);
  EXPECT_EQ(out[6], -9.0f);

  // A pass of no samples writes nothing and leaves the position.
  EXPECT_EQ(renderCurve(0.0f, 0.1f, position, out.data(), 6, 6), 6);
  EXPECT_FLOAT_EQ(position, 0.8f);
  EXPECT_EQ(out[6], -9.0f);
}

TEST(SegmentCurve, PositionOfExactlyOneStillBelongsToTheSegment) {
  float out[3] = {};
  float position = 0.5f;
  EXPECT_EQ(renderCurve(0.0f, 0.5f, position, out, 0, 1), 1);
  EXPECT_EQ(position, 1.0f);
  EXPECT_EQ(out[0], 1.0f);
  // The next pass ends at its first sample.
  EXPECT_EQ(renderCurve(0.0f, 0.5f, position, out, 1, 3), 1);
  EXPECT_GT(position, 1.0f);
}

TEST(SegmentCurve, StronglyNegativeFormEndsByPositionNotByValue) {
  // Form -5 rounds the curve to exactly 1 long before the position reaches 1: a scan over
  // written values above 1 would never find the end.
  const float step = 1.0f / 16.0f;
  std::vector<float> out(40, -9.0f);
  float position = 0.0f;
  const int32_t end = renderCurve(-5.0f, step, position, out.data(), 0, 40);
  EXPECT_EQ(end, 16);
  EXPECT_EQ(out[8], 1.0f);
  EXPECT_EQ(out[15], 1.0f);
  EXPECT_EQ(out[16], -9.0f);
}

// --- LFO ---------------------------------------------------------------------------------------

using Renderer = void (*)(LfoState&, float, float, float, int32_t, int32_t, float*);

// The renderer output for envelope samples e over n samples from a fresh phasor.
std::vector<float> modulated(Renderer renderer, int32_t align, float e, float w, float a, float p,
                             int32_t n) {
  LfoState lfo;
  std::vector<float> samples(static_cast<size_t>(n), e);
  renderer(lfo, w, a, p, align, n, samples.data());
  return samples;
}

TEST(Lfo, VariantsOverASilentAndAFullEnvelope) {
  const float w = 0.1f;
  const float depth = 0.6f;
  const int32_t n = 64;
  struct Expect {
    const char* name;
    Renderer renderer;
    int32_t align;
    double (*atZero)(double a, double s);
    double (*atOne)(double a, double s);
  };
  const Expect variants[] = {
      {"normal", lfoNormalBottom, 1, [](double a, double s) { return a * (1 + s) / 2; },
       [](double a, double s) { return 1 - a * (1 - s) / 2; }},
      {"bottom", lfoNormalBottom, 2, [](double, double) { return 0.0; },
       [](double a, double s) { return 1 - a * (1 - s) / 2; }},
      {"center", lfoCenter, 3, [](double a, double) { return a / 2; },
       [](double a, double s) { return 1 - a * (1 - s) / 2; }},
      {"top", lfoTop, 4, [](double a, double) { return a; },
       [](double a, double s) { return 1 - a * (1 + s) / 2; }},
  };
  for (const Expect& v : variants) {
    const auto zero = modulated(v.renderer, v.align, 0.0f, w, depth, 0.0f, n);
    const auto one = modulated(v.renderer, v.align, 1.0f, w, depth, 0.0f, n);
    for (int32_t i = 0; i < n; ++i) {
      // The angle advances before each sample: sample i sits at angle (i + 1) w.
      const double s = std::sin((i + 1) * static_cast<double>(w));
      ASSERT_NEAR(zero[static_cast<size_t>(i)], v.atZero(depth, s), 1e-6) << v.name << " " << i;
      ASSERT_NEAR(one[static_cast<size_t>(i)], v.atOne(depth, s), 1e-6) << v.name << " " << i;
    }
  }
}

TEST(Lfo, PhaseOffsetTurnsTheFreshPhasorFirst) {
  const float w = 0.05f;
  const float quarter = 0.25f * 6.2831855f;
  const auto out = modulated(lfoNormalBottom, 1, 0.0f, w, 1.0f, quarter, 3);
  // normal over a silent envelope at depth 1 gives (1 + s)/2.
  for (int i = 0; i < 3; ++i) {
    const double s = std::sin(static_cast<double>(quarter) + (i + 1) * static_cast<double>(w));
    EXPECT_NEAR(out[static_cast<size_t>(i)], (1 + s) / 2, 1e-6);
  }
}

TEST(Lfo, CallsContinueThePhaseAndFollowOffsetChanges) {
  const float w = 0.2f;
  LfoState split;
  LfoState whole;
  std::vector<float> a(20, 0.0f);
  std::vector<float> b(20, 0.0f);
  lfoNormalBottom(whole, w, 1.0f, 0.0f, 1, 20, b.data());
  lfoNormalBottom(split, w, 1.0f, 0.0f, 1, 7, a.data());
  lfoNormalBottom(split, w, 1.0f, 0.0f, 1, 13, a.data() + 7);
  for (size_t i = 0; i < 20; ++i) EXPECT_NEAR(a[i], b[i], 1e-6) << i;

  // A change of the offset shifts the running LFO by the change, once.
  const float shift = 1.0f;
  float next[2] = {0.0f, 0.0f};
  lfoNormalBottom(split, w, 1.0f, shift, 1, 2, next);
  EXPECT_EQ(split.phaseApplied, shift);
  for (int i = 0; i < 2; ++i) {
    const double s = std::sin(static_cast<double>(shift) + (21 + i) * static_cast<double>(w));
    EXPECT_NEAR(next[i], (1 + s) / 2, 1e-6);
  }
}

TEST(Lfo, RenormalisesThePhasorOncePerCall) {
  LfoState lfo;
  lfo.sin = 0.0;
  lfo.cos = 2.0;
  float sample = 0.0f;
  lfoTop(lfo, 0.0f, 1.0f, 0.0f, 4, 1, &sample);
  EXPECT_DOUBLE_EQ(lfo.cos, 1.0);
  EXPECT_DOUBLE_EQ(lfo.sin, 0.0);
}

TEST(Lfo, RendererChoiceAndNone) {
  EXPECT_EQ(chooseLfoRenderer(0, LfoRenderer::top), LfoRenderer::none);
  EXPECT_EQ(chooseLfoRenderer(1, LfoRenderer::none), LfoRenderer::normalBottom);
  EXPECT_EQ(chooseLfoRenderer(2, LfoRenderer::none), LfoRenderer::normalBottom);
  EXPECT_EQ(chooseLfoRenderer(3, LfoRenderer::none), LfoRenderer::center);
  EXPECT_EQ(chooseLfoRenderer(4, LfoRenderer::none), LfoRenderer::top);
  EXPECT_EQ(chooseLfoRenderer(5, LfoRenderer::center), LfoRenderer::center);
  EXPECT_EQ(chooseLfoRenderer(-1, LfoRenderer::top), LfoRenderer::top);

  LfoState lfo;
  float samples[2] = {0.5f, 0.25f};
  renderLfo(LfoRenderer::none, lfo, 0.3f, 1.0f, 2.0f, 1, 2, samples);
  EXPECT_EQ(samples[0], 0.5f);
  EXPECT_EQ(samples[1], 0.25f);
  EXPECT_EQ(lfo.sin, 0.0);
  EXPECT_EQ(lfo.phaseApplied, 0.0f);
}

// --- Output law --------------------------------------------------------------------------------

TEST(OutputLaw, DecibelCurve) {
  float decibel[5] = {1.0f, 0.75f, 0.5f, 0.25f, 0.0f};
  applyOutputLaw(outputLawFor(1), 2.0f, 5, decibel);
  EXPECT_EQ(decibel[0], 2.0f);
  EXPECT_EQ(decibel[1], 0.375f * 2.0f);
  EXPECT_EQ(decibel[2], 0.125f * 2.0f);
  EXPECT_EQ(decibel[3], 0.03125f * 2.0f);
  EXPECT_EQ(decibel[4], 0.0f);
}

}  // namespace
}  // namespace vellum

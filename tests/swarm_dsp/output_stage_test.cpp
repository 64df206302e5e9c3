#include <gtest/gtest.h>

#include <cmath>

#include "swarm/dsp/output_stage.h"

namespace {

using namespace swarm::dsp;

constexpr double kRate = 44100.0;

double coefficientFor(double hz) {
  SmoothingFilter f;
  f.setCutoff(hz, kRate);
  return f.b0;
}

void run(OutputStage& stage, int samples) {
  for (int j = 0; j < samples; ++j) stage.process(0.1, 0.0, 1.0, kRate);
}

// The DC cut glides from 40 Hz to a cut that rises above 100 oscillators; the level smoother
// glides from 40 Hz down to 0.05 Hz within a second (about 15.3 halvings of 50 ms).
TEST(OutputStage, FiltersGlideToTheirCutoffs) {
  for (auto [count, cut] : {std::pair{100u, 40.0}, {150u, 60.0}, {200u, 80.0}}) {
    OutputStage stage;
    stage.initialise(kRate, count);
    EXPECT_EQ(stage.leftDcFilter.gliding, count > 100) << count;
    run(stage, 1);
    EXPECT_EQ(stage.levelSmoother.b0, coefficientFor(40.0));
    run(stage, 44100);
    EXPECT_FALSE(stage.leftDcFilter.gliding || stage.levelSmoother.gliding);
    EXPECT_EQ(stage.leftDcFilter.b0, coefficientFor(cut)) << count;
    EXPECT_EQ(stage.rightDcFilter.b0, coefficientFor(cut)) << count;
    EXPECT_EQ(stage.levelSmoother.b0, coefficientFor(0.05));
  }
}

TEST(OutputStage, PeakFollowerHalvesEveryMillisecondDownToAFloor) {
  PeakFollower peak;
  peak.setFall(500.0, kRate);
  peak.setValue(1.0);
  for (int j = 0; j < 441; ++j) peak.track(0.0);
  EXPECT_NEAR(peak.value, std::pow(0.5, 10.0), 1e-12);
  peak.track(0.25);
  EXPECT_EQ(peak.value, 0.25);
  for (int j = 0; j < 44100; ++j) peak.track(std::nan(""));
  EXPECT_EQ(peak.value, 1e-7);
}

TEST(OutputStage, SteadyToneSettlesNearHalfAndLevelScales) {
  OutputStage stage, quieter;
  stage.initialise(kRate, 10);
  quieter.initialise(kRate, 10);
  double magnitude = 0.0;
  for (int j = 0; j < 2 * 44100; ++j) {
    const double phase = 6.283185307179586 * 1000.0 * j / kRate;
    // A sum of ten oscillators of amplitude 0.03 each, averaged by mean 0.1.
    const double l = 0.3 * std::sin(phase), r = 0.3 * std::cos(phase);
    const StereoSample a = stage.process(l, r, 0.1, kRate);
    const StereoSample b = quieter.process(l, r, 0.1, kRate, 0.5);
    ASSERT_EQ(b.left, 0.5f * a.left);
    magnitude = std::hypot(a.left, a.right);
  }
  EXPECT_NEAR(magnitude, 0.5, 0.01);
}

// Blocks give the samples of sample-by-sample processing to the bit, through the glides and
// after them, when blocks leave the glide steps out.
TEST(OutputStage, BlocksEqualSampleBySampleProcessing) {
  OutputStage blocks;
  blocks.initialise(kRate, 200);
  OutputStage samples = blocks;
  constexpr uint32_t kFrames = 256;
  double left[kFrames], right[kFrames];
  float outLeft[kFrames], outRight[kFrames];
  bool steadyBlocks = false;
  for (uint32_t block = 0; block < 240; ++block) {  // 1.4 s
    for (uint32_t j = 0; j < kFrames; ++j) {
      const double t = static_cast<double>(block * kFrames + j);
      left[j] = 40.0 * std::sin(0.031 * t) + 7.0 * std::sin(0.7 * t) + 2.0;
      right[j] = 35.0 * std::cos(0.029 * t) + 5.0 * std::cos(0.5 * t);
    }
    steadyBlocks = steadyBlocks || !blocks.gliding();
    blocks.processBlock(left, right, outLeft, outRight, kFrames, 1.0 / 200, kRate);
    for (uint32_t j = 0; j < kFrames; ++j) {
      const StereoSample one = samples.process(left[j], right[j], 1.0 / 200, kRate);
      ASSERT_EQ(outLeft[j], one.left) << block << " " << j;
      ASSERT_EQ(outRight[j], one.right) << block << " " << j;
    }
  }
  EXPECT_TRUE(steadyBlocks);
}

TEST(OutputStage, UninitialisedStageIsSilent) {
  OutputStage stage;
  const StereoSample s = stage.process(3.0, -2.0, 0.5, kRate);
  EXPECT_EQ(s.left, 0.0f);
  EXPECT_EQ(s.right, 0.0f);
}

}  // namespace

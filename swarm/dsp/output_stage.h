// Output stage of a voice: DC removal, peak-following level normalisation and the 32-bit outputs.
//
//   SmoothingFilter   one-pole bilinear low-pass with a cutoff glide
//     setCutoff(hz, fs)                 coefficients for cutoff hz at sample rate fs
//     beginGlide(target, offset, fs)    glide from target + offset to target, offset halving
//                                       every 50 ms; no glide (cutoff set at once) when
//                                       |offset| <= 1e-8
//     glideStep(fs)                     one sample of the glide (does nothing when not gliding)
//     step(x) -> y                      one sample of the filter
//   PeakFollower      peak hold with an exponential fall
//     setFall(rate, fs), setValue(v), track(r)
//   OutputStage       the four members a voice keeps, in the voice's field order
//     initialise(fs, oscCount)          filter initialisation after a bank set-up
//     process(leftSum, rightSum, mean, fs, level = 1) -> StereoSample   one output sample
//     processBlock(leftSums, rightSums, outLeft, outRight, frames, mean, fs)   level 1; once
//                                       the glides have ended, without their per-sample steps
// Defaults (before initialise) are pass-through filters, so an un-initialised stage writes
// silence and never divides by zero.
#pragma once

#include <cmath>
#include <cstdint>
#include <type_traits>
#include "rackmill/sample_guard.h"

namespace swarm::dsp {

inline constexpr double kTwoPi = 6.283185307179586;
inline constexpr double kLnHalf = -0.6931471805599453;

struct SmoothingFilter {
  double x1 = 0.0;
  double y1 = 0.0;
  double b0 = 1.0;
  double b1 = 0.0;
  double a1 = 0.0;
  double cutoff = 0.0;
  double cutoffOffset = 0.0;
  double offsetRatio = 1.0;
  bool gliding = false;

  // Bilinear one-pole low-pass, no prewarping.
  void setCutoff(double hz, double sampleRate) noexcept {
    const double w = kTwoPi * hz;
    const double k = 1.0 / (2.0 * sampleRate + w);
    b0 = w * k;
    b1 = w * k;
    a1 = (2.0 * sampleRate - w) * k;
  }

  void beginGlide(double target, double offset, double sampleRate) noexcept {
    cutoffOffset = offset;
    if (std::fabs(offset) > 1e-8) {
      cutoff = target;
      gliding = true;
      offsetRatio = std::exp(kLnHalf / (sampleRate * 0.05));
    } else {
      gliding = false;
      setCutoff(target, sampleRate);
    }
  }

  void glideStep(double sampleRate) noexcept {
    if (!gliding) return;
    if (std::fabs(cutoffOffset) > 0.001) {
      setCutoff(cutoff + cutoffOffset, sampleRate);
      cutoffOffset = cutoffOffset * offsetRatio;
    } else {
      setCutoff(cutoff, sampleRate);
      gliding = false;
    }
  }

  double step(double x) noexcept {
    const double y = b1 * x1 + b0 * x + a1 * y1;
    x1 = x;
    y1 = y;
    return y;
  }
};

struct PeakFollower {
  double value = 0.5;
  double fallFactor = 1.0;

  // The held value halves every fs / (2 * rate) samples.
  void setFall(double rate, double sampleRate) noexcept {
    fallFactor = std::exp(kLnHalf / (sampleRate / (2.0 * rate)));
  }
  void setValue(double v) noexcept { value = v; }

  void track(double r) noexcept {
    if (r >= value) {
      value = r;
    } else {  // also when r is not a number
      value = value * fallFactor;
    }
    if (value < 1e-7) value = 1e-7;
  }
};

struct StereoSample {
  float left;
  float right;
};

struct OutputStage {
  PeakFollower peak;
  SmoothingFilter levelSmoother;
  SmoothingFilter rightDcFilter;
  SmoothingFilter leftDcFilter;

  // Restarts follower and filters for a freshly set-up bank. Larger banks carry more
  // low-frequency energy, so the DC cut rises above 100 oscillators (80 Hz at 200).
  void initialise(double sampleRate, uint32_t oscCount) noexcept {
    peak.setFall(500.0, sampleRate);
    peak.setValue(0.5);
    levelSmoother.beginGlide(0.05, 39.95, sampleRate);
    levelSmoother.x1 = 0.5;
    levelSmoother.y1 = 0.5;
    const double dcCut = oscCount > 100 ? 40.0 * ((oscCount - 100) / 100.0 + 1.0) : 40.0;
    rightDcFilter.beginGlide(dcCut, 40.0 - dcCut, sampleRate);
    leftDcFilter.beginGlide(dcCut, 40.0 - dcCut, sampleRate);
    leftDcFilter.x1 = 0.0;
    leftDcFilter.y1 = 0.0;
    rightDcFilter.x1 = 0.0;
    rightDcFilter.y1 = 0.0;
  }

  bool gliding() const noexcept {
    return levelSmoother.gliding || rightDcFilter.gliding || leftDcFilter.gliding;
  }

  // process at level 1 while no filter glides: the same sample without the glide steps.
  [[gnu::always_inline]] StereoSample processSteady(double leftSum, double rightSum,
                                                    double mean) noexcept {
    double left = leftSum * mean;
    double right = rightSum * mean;
    left = left - leftDcFilter.step(left);
    right = right - rightDcFilter.step(right);
    peak.track(std::sqrt(left * left + right * right));
    const double g = 0.5 / levelSmoother.step(peak.value);
    return {rm::hostSample(static_cast<float>(g * left)),
            rm::hostSample(static_cast<float>(g * right))};
  }

  // One sample: average, remove DC, follow the peak magnitude and scale it towards 0.5.
  [[gnu::always_inline]] StereoSample process(double leftSum, double rightSum, double mean,
                                              double sampleRate, double level = 1.0) noexcept {
    double left = leftSum * mean;
    double right = rightSum * mean;
    leftDcFilter.glideStep(sampleRate);
    left = left - leftDcFilter.step(left);
    rightDcFilter.glideStep(sampleRate);
    right = right - rightDcFilter.step(right);
    peak.track(std::sqrt(left * left + right * right));
    levelSmoother.glideStep(sampleRate);
    const double smoothed = levelSmoother.step(peak.value);
    const double g = level * 0.5 / smoothed;
    return {rm::hostSample(static_cast<float>(g * left)),
            rm::hostSample(static_cast<float>(g * right))};
  }

  void processBlock(const double* leftSums, const double* rightSums, float* outLeft,
                    float* outRight, uint32_t frames, double mean, double sampleRate) noexcept {
    // A local copy keeps the filter states in registers across the block.
    OutputStage stage = *this;
    if (stage.gliding()) {
      for (uint32_t j = 0; j < frames; ++j) {
        const StereoSample s = stage.process(leftSums[j], rightSums[j], mean, sampleRate);
        outLeft[j] = s.left;
        outRight[j] = s.right;
      }
    } else {
      // No filter glides, so none starts to within the block: the same samples without the
      // glide steps.
      for (uint32_t j = 0; j < frames; ++j) {
        const StereoSample s = stage.processSteady(leftSums[j], rightSums[j], mean);
        outLeft[j] = s.left;
        outRight[j] = s.right;
      }
    }
    *this = stage;
  }
};

static_assert(std::is_trivially_copyable_v<OutputStage>);

}  // namespace swarm::dsp

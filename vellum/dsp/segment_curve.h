// Shaped segment curves of the envelope: the attack, decay and release all follow one curve
// y(f) over the segment position f, bent by a form value, and end when f passes 1.
#pragma once

#include <cstdint>

#include "vellum/dsp/fast_pow2.h"

namespace vellum {

// The curvature of one curve pass, from the form sample where the pass starts.
struct CurveShape {
  float k;  // 10 x form
  float d;  // scaled cube of k, the exponent's depth
};

inline CurveShape curveShape(float form) noexcept {
  const float k = form * 10.0f;
  const float cube = (k * k) * k;
  return {k, k < 0.0f ? cube * 0.005f : cube * 0.01f};
}

// The curve at position f: y(0) = 0 and y(1) = 1; k = 0 is the straight line, k > 0 sags below
// it (slow start) and k < 0 bulges above it (fast start).
inline float curveValue(CurveShape shape, float f) noexcept {
  if (shape.k < 0.0f) {
    return static_cast<float>(1.0 - static_cast<double>(1.0f - f) * fastPow2(f * shape.d));
  }
  return static_cast<float>(static_cast<double>(f) * fastPow2(((f - 1.0f) * shape.d) * f));
}

// One curve pass over out[begin, end): before each sample the position advances by step and the
// sample is the curve there. The segment ends at the first sample whose position is above 1
// (a position of exactly 1 still belongs to it); that sample is left to the next state and its
// index is answered, with `position` already above 1. Answers end while the segment runs on.
//
// The end is found from the position rather than from the written values: for strongly
// negative forms single precision rounds the curve to exactly 1 before the position passes 1.
inline int32_t renderCurve(float form, float step, float& position, float* out, int32_t begin,
                           int32_t end) noexcept {
  const CurveShape shape = curveShape(form);
  float f = position;
  for (int32_t i = begin; i < end; ++i) {
    f += step;
    if (f > 1.0f) {
      position = f;
      return i;
    }
    out[i] = curveValue(shape, f);
  }
  position = f;
  return end;
}

// The curve's value at the current position without moving it (the level of an attack that a
// gate fall cuts short).
inline float curveLevel(float form, float position) noexcept {
  return curveValue(curveShape(form), position);
}

// Segment outputs from the curve value y.
// Decay: falls from 1 to the sustain level s.
inline float decaySample(float y, float s) noexcept {
  return 1.0f - (1.0f - s) * y;
}
// Release: falls from the level l to 0.
inline float releaseSample(float y, float l) noexcept {
  return l - y * l;
}

}  // namespace vellum

// The kernel behind the wide paths of wide_bank.h, for W = 4 or 8 lanes.
//
// Included only by the units that are compiled for one instruction set each. Everything here has
// internal linkage, so no function compiled for a wider instruction set can stand in for a
// baseline one at link time.
//
// Oscillators go W at a time into the lanes of vector registers, loaded from their records at the
// start of each pass of at most kLaneChunk samples and stored back at its end. Every lane computes
// exactly the arithmetic of stepOscillator (oscillator.h), operation for operation; the lanes'
// contributions are added into per-sample, per-lane sums, and each sample's lanes are added up
// once all groups are done.
#pragma once

#include <cfloat>
#include <cstddef>
#include <cstdint>

#include "swarm/dsp/oscillator_state.h"
#include "swarm/dsp/wide_bank.h"

namespace swarm::dsp {
namespace {

template <int W>
struct VectorTypes;
// may_alias: the lane sums are double arrays read and written through these types.
template <>
struct VectorTypes<4> {
  typedef double Doubles __attribute__((vector_size(32), may_alias));
};
template <>
struct VectorTypes<8> {
  typedef double Doubles __attribute__((vector_size(64), may_alias));
};

// The sum of a vector's lanes: the upper half added to the lower one until one lane is left.
inline double laneSum(VectorTypes<4>::Doubles v) noexcept {
  typedef double Pair __attribute__((vector_size(16)));
  const Pair half = Pair{v[0], v[1]} + Pair{v[2], v[3]};
  return half[0] + half[1];
}

[[maybe_unused]] inline double laneSum(VectorTypes<8>::Doubles v) noexcept {
  using Half = VectorTypes<4>::Doubles;
  return laneSum(Half{v[0], v[1], v[2], v[3]} + Half{v[4], v[5], v[6], v[7]});
}

// Lanes where `x < limit` take `replacement`, the others keep `value`.
template <class V>
inline V replaceBelow(V x, V limit, V replacement, V value) noexcept {
  const auto below = x < limit;
  using Mask = decltype(below);
  return __builtin_bit_cast(V, (below & __builtin_bit_cast(Mask, replacement)) |
                                   (~below & __builtin_bit_cast(Mask, value)));
}

// One group of W oscillators in registers: the phasors, their rotations and the constants.
template <int W>
struct Group {
  using V = typename VectorTypes<W>::Doubles;
  V yRe, yIm, yStepRe, yStepIm;  // carrier and carrierStep
  V mRe, mIm, mStepRe, mStepIm;  // modulator and modulatorStep
  V pRe, pIm, pStepRe, pStepIm;  // modulatorPowN and modulatorStepPowN
  V upper, lower, partialCount;  // waveMix, 1 - waveMix, n + 1
};

constexpr size_t kRecordDoubles = sizeof(OscillatorState) / sizeof(double);
static_assert(sizeof(OscillatorState) == kRecordDoubles * sizeof(double));

// first[i * kRecordDoubles] in lane i: one field of W consecutive records. Plain loads put
// together in registers are far quicker than a gather instruction here.
template <int W>
inline typename Group<W>::V lanesOf(const double* first) noexcept {
  constexpr size_t r = kRecordDoubles;
  if constexpr (W == 8) {
    return typename Group<W>::V{first[0],     first[r],     first[2 * r], first[3 * r],
                                first[4 * r], first[5 * r], first[6 * r], first[7 * r]};
  } else {
    return typename Group<W>::V{first[0], first[r], first[2 * r], first[3 * r]};
  }
}

// The group of records[0 .. W-1].
template <int W>
Group<W> loadRecords(const OscillatorState* records) noexcept {
  const double* base = reinterpret_cast<const double*>(records);
  auto field = [base](size_t byteOffset) { return lanesOf<W>(base + byteOffset / sizeof(double)); };
  constexpr size_t im = sizeof(double);
  using S = OscillatorState;
  Group<W> g;
  g.yRe = field(offsetof(S, carrier));
  g.yIm = field(offsetof(S, carrier) + im);
  g.yStepRe = field(offsetof(S, carrierStep));
  g.yStepIm = field(offsetof(S, carrierStep) + im);
  g.mRe = field(offsetof(S, modulator));
  g.mIm = field(offsetof(S, modulator) + im);
  g.mStepRe = field(offsetof(S, modulatorStep));
  g.mStepIm = field(offsetof(S, modulatorStep) + im);
  g.pRe = field(offsetof(S, modulatorPowN));
  g.pIm = field(offsetof(S, modulatorPowN) + im);
  g.pStepRe = field(offsetof(S, modulatorStepPowN));
  g.pStepIm = field(offsetof(S, modulatorStepPowN) + im);
  g.upper = field(offsetof(S, waveMix));
  g.lower = 1.0 - g.upper;
  g.partialCount = field(offsetof(S, partialCount));
  return g;
}

// The group of bank[first .. first+W-1]. Lanes past `count` hold a silent stand-in: a zero
// carrier adds exactly zero, a modulator of 2 keeps the series denominator away from 0, and the
// unit rotations of a fresh record keep it constant.
template <int W>
Group<W> loadGroup(const OscillatorState* bank, uint32_t first, uint32_t count) noexcept {
  if (first + W <= count) return loadRecords<W>(bank + first);
  OscillatorState padded[W];
  for (uint32_t lane = 0; lane < W; ++lane) {
    if (first + lane < count) {
      padded[lane] = bank[first + lane];
    } else {
      padded[lane].carrier = {0.0, 0.0};
      padded[lane].modulator = {2.0, 0.0};
    }
  }
  return loadRecords<W>(padded);
}

template <int W>
void storeGroup(const Group<W>& g, OscillatorState* bank, uint32_t first, uint32_t count) noexcept {
  for (uint32_t lane = 0; lane < W && first + lane < count; ++lane) {
    OscillatorState& s = bank[first + lane];
    s.carrier = {g.yRe[lane], g.yIm[lane]};
    s.modulator = {g.mRe[lane], g.mIm[lane]};
    s.modulatorPowN = {g.pRe[lane], g.pIm[lane]};
  }
}

template <int W>
struct Contribution {
  typename Group<W>::V left, right;
};

// One sample of the group: its contributions, and the phasors advanced by one step.
template <int W>
inline Contribution<W> step(Group<W>& g) noexcept {
  using V = typename Group<W>::V;
  const V zero{};
  const V one = zero + 1.0;
  const V mRe1 = g.mRe - one;
  const V den = mRe1 * mRe1 + g.mIm * g.mIm;
  const V inv = one / den;
  const V pRe1 = g.pRe - one;
  // Lanes whose modulator sits at 1 + 0i take the series' limit n + 1.
  const V tiny = zero + DBL_MIN;
  const V sRe = replaceBelow(den, tiny, g.partialCount, (pRe1 * mRe1 + g.pIm * g.mIm) * inv);
  const V sIm = replaceBelow(den, tiny, zero, (g.pIm * mRe1 - pRe1 * g.mIm) * inv);
  const Contribution<W> c{
      g.lower * (g.yIm * sRe - g.yRe * sIm) + g.upper * (g.yIm * sRe + g.yRe * sIm),
      g.lower * (g.yRe * sRe + g.yIm * sIm) + g.upper * (g.yRe * sRe - g.yIm * sIm)};
  const V yRe = g.yRe * g.yStepRe - g.yIm * g.yStepIm;
  g.yIm = g.yIm * g.yStepRe + g.yRe * g.yStepIm;
  g.yRe = yRe;
  const V mRe = g.mRe * g.mStepRe - g.mIm * g.mStepIm;
  g.mIm = g.mIm * g.mStepRe + g.mRe * g.mStepIm;
  g.mRe = mRe;
  const V pRe = g.pRe * g.pStepRe - g.pIm * g.pStepIm;
  g.pIm = g.pIm * g.pStepRe + g.pRe * g.pStepIm;
  g.pRe = pRe;
  return c;
}

// Adds the group's contributions over n samples to the lane sums and advances its phasors.
template <int W>
void stepGroup(Group<W>& group, typename Group<W>::V* laneLeft, typename Group<W>::V* laneRight,
               uint32_t n) noexcept {
  Group<W> g = group;  // a local copy stays in registers
  for (uint32_t j = 0; j < n; ++j) {
    const Contribution<W> c = step(g);
    laneLeft[j] += c.left;
    laneRight[j] += c.right;
  }
  group = g;
}

template <int W>
void sumBankWide(OscillatorState* bank, uint32_t count, LaneSums& lanes, double* left,
                 double* right, uint32_t frames) noexcept {
  static_assert(W <= static_cast<int>(kMaxLanes));
  using V = typename Group<W>::V;
  if (count > kMaxOscillators) count = kMaxOscillators;
  V* laneLeft = reinterpret_cast<V*>(lanes.left);
  V* laneRight = reinterpret_cast<V*>(lanes.right);
  for (uint32_t done = 0; done < frames; done += kLaneChunk) {
    const uint32_t n = frames - done < kLaneChunk ? frames - done : kLaneChunk;
    for (uint32_t j = 0; j < n; ++j) {
      laneLeft[j] = V{};
      laneRight[j] = V{};
    }
    for (uint32_t first = 0; first < count; first += W) {
      Group<W> g = loadGroup<W>(bank, first, count);
      stepGroup<W>(g, laneLeft, laneRight, n);
      storeGroup<W>(g, bank, first, count);
    }
    for (uint32_t j = 0; j < n; ++j) {
      left[done + j] = laneSum(laneLeft[j]);
      right[done + j] = laneSum(laneRight[j]);
    }
  }
}

}  // namespace
}  // namespace swarm::dsp

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
constexpr size_t kCacheLine = 64;

// Records move between memory and lanes two adjacent doubles at a time (a complex field's real
// and imaginary part): W such pairs, of the even and of the odd records, fill two vectors whose
// interleaved halves are the W real and the W imaginary parts. Far fewer instructions than
// putting every double in its lane, and much quicker than a gather. Records are only aligned
// to doubles, and so are these loads and stores.
typedef double Pair __attribute__((vector_size(16), may_alias, aligned(8)));

// [pair of record 0 | record 2 | ...] from `at` in record 0, `at` + 2 records on, ...
template <int W>
inline typename Group<W>::V evenPairs(const double* at) noexcept {
  constexpr size_t r = kRecordDoubles;
  auto pair = [at](size_t record) { return *reinterpret_cast<const Pair*>(at + record * r); };
  if constexpr (W == 4) {
    return __builtin_shufflevector(pair(0), pair(2), 0, 1, 2, 3);
  } else {
    using Half = VectorTypes<4>::Doubles;
    const Half low = __builtin_shufflevector(pair(0), pair(2), 0, 1, 2, 3);
    const Half high = __builtin_shufflevector(pair(4), pair(6), 0, 1, 2, 3);
    return __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7);
  }
}

// Lanes 0, 2, 4, ... of x and y interleaved (first), and lanes 1, 3, 5, ... (second).
template <class V>
inline V interleaveEven(V x, V y) noexcept {
  if constexpr (sizeof(V) == 32) {
    return __builtin_shufflevector(x, y, 0, 4, 2, 6);
  } else {
    return __builtin_shufflevector(x, y, 0, 8, 2, 10, 4, 12, 6, 14);
  }
}
template <class V>
inline V interleaveOdd(V x, V y) noexcept {
  if constexpr (sizeof(V) == 32) {
    return __builtin_shufflevector(x, y, 1, 5, 3, 7);
  } else {
    return __builtin_shufflevector(x, y, 1, 9, 3, 11, 5, 13, 7, 15);
  }
}

template <int W>
struct LanePair {
  typename Group<W>::V first, second;  // the pair's first and second doubles, record i in lane i
};

template <int W>
inline LanePair<W> loadPairs(const double* at) noexcept {
  const auto even = evenPairs<W>(at);
  const auto odd = evenPairs<W>(at + kRecordDoubles);
  return {interleaveEven(even, odd), interleaveOdd(even, odd)};
}

template <int W>
inline void storePairs(double* at, typename Group<W>::V first,
                       typename Group<W>::V second) noexcept {
  constexpr size_t r = kRecordDoubles;
  const auto even = interleaveEven(first, second);  // [record 0 | record 2 | ...]
  const auto odd = interleaveOdd(first, second);    // [record 1 | record 3 | ...]
  for (int i = 0; i < W / 2; ++i) {
    *reinterpret_cast<Pair*>(at + (2 * i) * r) = Pair{even[2 * i], even[2 * i + 1]};
    *reinterpret_cast<Pair*>(at + (2 * i + 1) * r) = Pair{odd[2 * i], odd[2 * i + 1]};
  }
}

// Position in doubles of a field within a record.
constexpr size_t slot(size_t byteOffset) {
  return byteOffset / sizeof(double);
}

// The group of records[0 .. W-1].
template <int W>
Group<W> loadRecords(const OscillatorState* records) noexcept {
  using S = OscillatorState;
  const double* base = reinterpret_cast<const double*>(records);
  auto pairs = [base](size_t byteOffset) { return loadPairs<W>(base + slot(byteOffset)); };
  Group<W> g;
  LanePair<W> z = pairs(offsetof(S, carrier));
  g.yRe = z.first;
  g.yIm = z.second;
  z = pairs(offsetof(S, carrierStep));
  g.yStepRe = z.first;
  g.yStepIm = z.second;
  z = pairs(offsetof(S, modulator));
  g.mRe = z.first;
  g.mIm = z.second;
  z = pairs(offsetof(S, modulatorStep));
  g.mStepRe = z.first;
  g.mStepIm = z.second;
  z = pairs(offsetof(S, modulatorPowN));
  g.pRe = z.first;
  g.pIm = z.second;
  z = pairs(offsetof(S, modulatorStepPowN));
  g.pStepRe = z.first;
  g.pStepIm = z.second;
  g.upper = pairs(offsetof(S, waveMix)).first;
  g.lower = 1.0 - g.upper;
  g.partialCount = pairs(offsetof(S, gain)).second;
  static_assert(offsetof(S, partialCount) == offsetof(S, gain) + sizeof(double));
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
  using S = OscillatorState;
  if (first + W <= count) {
    double* base = reinterpret_cast<double*>(bank + first);
    storePairs<W>(base + slot(offsetof(S, carrier)), g.yRe, g.yIm);
    storePairs<W>(base + slot(offsetof(S, modulator)), g.mRe, g.mIm);
    storePairs<W>(base + slot(offsetof(S, modulatorPowN)), g.pRe, g.pIm);
    return;
  }
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
      // The next group's records come into the first-level cache while this group steps.
      if (first + 2 * W <= count) {
        const char* next = reinterpret_cast<const char*>(bank + first + W);
        for (size_t line = 0; line < W * sizeof(OscillatorState); line += kCacheLine) {
          __builtin_prefetch(next + line);
        }
      }
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

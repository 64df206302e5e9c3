// The wide paths of the oscillator bank's block sums: W oscillators at a time in the W lanes of
// one vector register, for processors with 256-bit (4 lanes) or 512-bit (8 lanes) double vectors.
//
//   sumBankWide4 / sumBankWide8(bank, count, lanes, left, right, frames)
//       write into left[0, frames) and right[0, frames) the sums of oscillators 0 .. count-1 over
//       `frames` samples and store the advanced carrier, modulator and modulatorPowN back; the
//       per-oscillator values are those of the single path to the bit, only the order in which
//       they are added into the sums differs. Lanes past the last oscillator hold a silent
//       stand-in (carrier 0, modulator 2 + 0i) that adds exactly zero; no record outside
//       0 .. count-1 is read or written.
//
// Each is compiled for its own instruction set (wide_bank_avx2.cpp, wide_bank_avx512.cpp) and may
// only be called where the processor runs it (see bank_paths.h).
#pragma once

#include <cstdint>

#include "swarm/dsp/oscillator_state.h"

namespace swarm::dsp {

// Samples per pass of the wide kernels: long enough that loading a group of oscillators into
// registers is cheap, short enough that the per-lane sums stay in the first-level cache.
inline constexpr uint32_t kLaneChunk = 256;
inline constexpr uint32_t kMaxLanes = 8;

// Per-sample, per-lane partial sums of one pass, kept by the caller so that nothing is allocated
// on the audio path.
struct LaneSums {
  alignas(64) double left[kLaneChunk * kMaxLanes];
  alignas(64) double right[kLaneChunk * kMaxLanes];
};

void sumBankWide4(OscillatorState* bank, uint32_t count, LaneSums& lanes, double* left,
                  double* right, uint32_t frames) noexcept;
void sumBankWide8(OscillatorState* bank, uint32_t count, LaneSums& lanes, double* left,
                  double* right, uint32_t frames) noexcept;

}  // namespace swarm::dsp

// The ways renderFast can sum the oscillator bank, and the choice among them.
//
//   BankPath            single (scalar, in order), paired (two lanes), avx2 (four lanes),
//                       avx512 (eight lanes); all give the single path's per-oscillator values
//                       and differ only in the order of additions into the sums
//   processorRuns(p)    whether this processor can run path p
//   fastestBankPath()   the widest path this processor runs
//   bankPathName(p)     "single", "paired", "avx2" or "avx512"
//   sumBank(p, bank, count, lanes, left, right, frames)
//                       the block sums of oscillators 0 .. count-1 along path p (see
//                       oscillator.h and wide_bank.h); `lanes` is the wide paths' scratch
#pragma once

#include <cstdint>

#include "swarm/dsp/oscillator_state.h"
#include "swarm/dsp/wide_bank.h"

namespace swarm::dsp {

enum class BankPath : uint8_t { single, paired, avx2, avx512 };

inline constexpr BankPath kBankPaths[] = {BankPath::single, BankPath::paired, BankPath::avx2,
                                          BankPath::avx512};

bool processorRuns(BankPath path) noexcept;
BankPath fastestBankPath() noexcept;
const char* bankPathName(BankPath path) noexcept;

void sumBank(BankPath path, OscillatorBank& bank, uint32_t count, LaneSums& lanes, double* left,
             double* right, uint32_t frames) noexcept;

}  // namespace swarm::dsp

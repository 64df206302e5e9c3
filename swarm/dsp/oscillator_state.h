// OscillatorState: one discrete-summation oscillator of the bank (carrier plus a geometric series
// of partials). Default-constructed it holds the values every slot gets at open: all six phasors
// 1 + 0i, waveMix 0, decayPowN, decay and gain 1, partialCount 1.
// OscillatorBank: the fixed array of kMaxOscillators records a voice owns.
//
// Fields in order (a Complex is re, im):
//   carrier            gain * e^(i theta), the current carrier phasor
//   carrierStep        per-sample rotation of the carrier, unit magnitude
//   modulator          decay * e^(i beta), the ratio between successive partials
//   modulatorStep      per-sample rotation of the modulator, unit magnitude
//   modulatorPowN      modulator^(n+1)
//   modulatorStepPowN  modulatorStep^(n+1), unit magnitude
//   waveMix            weight of the series above the carrier; 1 - waveMix weights the one below
//   decayPowN          flush(decay^(n+1))
//   decay              amplitude ratio between successive partials
//   gain               reciprocal of the series' amplitude sum
//   partialCount       n + 1 as a double; the series sum where the closed form's denominator
//                      vanishes (modulator at 1 + 0i), since n is otherwise not kept
// The record is trivially copyable: a state copy between voices is a plain assignment.
#pragma once

#include <array>
#include <cstdint>
#include <type_traits>

#include "swarm/dsp/complex.h"

namespace swarm::dsp {

inline constexpr uint32_t kMaxOscillators = 200;

struct OscillatorState {
  Complex carrier{1.0, 0.0};
  Complex carrierStep{1.0, 0.0};
  Complex modulator{1.0, 0.0};
  Complex modulatorStep{1.0, 0.0};
  Complex modulatorPowN{1.0, 0.0};
  Complex modulatorStepPowN{1.0, 0.0};
  double waveMix = 0.0;
  double decayPowN = 1.0;
  double decay = 1.0;
  double gain = 1.0;
  double partialCount = 1.0;
};

static_assert(std::is_trivially_copyable_v<OscillatorState>);

using OscillatorBank = std::array<OscillatorState, kMaxOscillators>;

}  // namespace swarm::dsp

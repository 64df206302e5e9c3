// What a swarm clone does when a pin changes: note-on, the hand-over of the previous note's bank,
// tracking of the parameters that forbid that hand-over, and waking the render; and the phase
// set-up of a fresh bank.
#include <algorithm>
#include <cmath>

#include "swarm/module.h"
#include "swarm/pins.h"

namespace swarm {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kLn2 = 0.6931471805599453;

// A unit phasor at `angle`; an angle that is not finite (from absurd pin values) starts at 0.
dsp::Complex unitPhasor(double angle) noexcept {
  if (!std::isfinite(angle)) return {1.0, 0.0};
  return {std::cos(angle), std::sin(angle)};
}

}  // namespace

void Module::onPinStatus(RMPin& changed) {
  if (!hasAllPins()) return;
  const float gateNow = pin(pins::gate).valueNow();
  gateActive = false;

  if (voiceList != nullptr && changed.index == pins::sync && changed.valueNow() > 0.1f) {
    startNote();
  }

  gateActive = gateNow > 0.0f || pin(pins::gate).status > pinOneOff;

  // Streaming pins, and one-off changes before the first note, are not tracked.
  if (changed.status == pinOneOff && noteArmed) trackBankChange(changed);

  if (gateActive) wake();
}

void Module::startNote() noexcept {
  const Module* previous = voiceList->lastOwner;
  if (previous != nullptr) {
    if (retrigger != 0 || voiceList->bankChanged) {
      stateCopied = false;
    } else {
      takeOverBank(*previous);
    }
  }
  voiceList->noteOn(voiceIndex, poly, this);
  voiceList->takeRotateStep(static_cast<double>(pin(pins::incr).valueNow()));
  level = 1.0;
  noteArmed = true;
  notePending = true;
}

// Continues the previous note's waveform: its oscillators, follower and filters, glides included.
void Module::takeOverBank(const Module& previous) noexcept {
  oscCount = oscsInRange();
  if (&previous != this) {
    std::copy_n(previous.oscillators.begin(), oscCount, oscillators.begin());
    stage = previous.stage;
    bankTuned = previous.bankTuned;
  }
  stateCopied = true;
}

// A one-off change of a parameter that shapes the fresh phases means the next note must not
// continue the old ones.
void Module::trackBankChange(const RMPin& changed) noexcept {
  // The snapshot lives in the list; a clone that lost its list has nothing to compare with.
  if (voiceList == nullptr) return;
  const auto& snapshot = voiceList->paramSnapshot;
  bool changedBank = false;
  switch (changed.index) {
    case pins::retrigger:
      changedBank = retrigger > 0;
      break;
    case pins::phaseSpread:
    case pins::wind:
      changedBank = !(snapshot[changed.index] == changed.valueNow());
      break;
    case pins::oscs:
      changedBank = !(snapshot[pins::oscs] == static_cast<float>(oscs));
      break;
    default:
      break;
  }
  if (changedBank) {
    voiceList->bankChanged = true;
    stateCopied = false;
  }
}

void Module::wake() noexcept {
  setProcessFunction(processReference<Module, &Module::renderFast>());
  announceOutputs(pinStreaming);
  tailStarted = false;
}

void Module::initPhases(int32_t blockOffset, int32_t sample) noexcept {
  const int32_t at = blockOffset + sample;
  const double windValue = wind[at];
  const double ratio = fm1[at];
  const double spread = pitchSpread[at];
  const double phase = phaseSpread[at];
  const double rotation = rotate[at];

  // Rotation of all carriers, in half-turns. A clone without a list has no rotating phase.
  double turn = 0.0;
  if (retrigger != 0) {
    turn = (voiceList != nullptr ? voiceList->advanceRotation() : 0.0) + rotation;
  }

  const double windSamples = sampleRate * (windValue * 60.0);
  const uint32_t n = oscCount;
  const double l = (phase * 0.98 + 1.5) * 3.0;
  const double m = l / static_cast<double>(5u * n);
  double modulatorOffset = m * m * m * l;
  double carrierOffset = phase * 10.0;
  const double growth = phase > 0.6 ? static_cast<double>(50u / n + 1u) * (phase - 0.6) + 1.1 : 1.1;

  double t = 0.0;
  double u = 0.0;
  for (uint32_t i = 0; i < n; ++i) {
    const double nominal =
        440.0 * std::exp(((static_cast<double>(i) * spread + 0.5) * 10.0 - 5.0) * kLn2);
    const double omega = nominal * kTwoPi / sampleRate;
    dsp::OscillatorState& s = oscillators[i];
    s.carrier = unitPhasor(omega * windSamples + u - turn * kPi);
    s.modulator = unitPhasor(omega * ratio * windSamples + t);
    t = std::fmod(t + modulatorOffset, kPi);
    u = std::fmod(u + carrierOffset, kPi);
    modulatorOffset = growth * modulatorOffset;
    carrierOffset = growth * carrierOffset;
  }
}

}  // namespace swarm

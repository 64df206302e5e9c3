// The envelope of the vellum module: gate edges found to the sample, the sub-block cut into
// stretches between them, the six-state machine over each stretch, then the LFO and the output
// law over the whole sub-block.
#include <algorithm>
#include <bit>
#include <cstdint>

#include "rackmill/sample_guard.h"
#include "vellum/dsp/lfo.h"
#include "vellum/dsp/output_law.h"
#include "vellum/dsp/segment_curve.h"
#include "vellum/module.h"
#include "vellum/pins.h"

namespace vellum {
namespace {

// A gate at or above this counts as high in the scan inside a sub-block.
constexpr float gateThreshold = 1e-7f;
static_assert(std::bit_cast<uint32_t>(gateThreshold) == 0x33D6BF95u);

constexpr float fullTurn = 6.2831855f;  // 2 pi in single precision

// Sample clocks wrap like the host's 32-bit clock instead of overflowing.
int32_t clockAt(int32_t clock, int32_t offset) noexcept {
  return static_cast<int32_t>(static_cast<uint32_t>(clock) + static_cast<uint32_t>(offset));
}

}  // namespace

void Module::renderBlock(int32_t offset, int32_t count) noexcept {
  if (count <= 0) return;
  const float amount = pin(pins::lfoAmt).valueNow();
  const int32_t clock = sampleClock();
  const float level = overallLevel[offset];
  const float first = gate[offset];
  const float w = pin(pins::lfoFreq).valueNow() * fullTurn * invSampleRate;
  const float p = pin(pins::lfoPhase).valueNow() * fullTurn;

  // Any change since the last edge is an edge at the block start, also one that stays on the
  // same side of the threshold (a NaN always differs and, not being greater, falls).
  if (!(first == lastGate)) {
    const bool rise = first > lastGate;
    renderStretch(clock, offset, 0, rise ? evRise : fallEvent());
    gateHigh = rise;
    lastGate = first;
  }
  scanGate(clock, offset, count);

  float* out = signalOut + offset;
  if (amount != 0.0f) renderLfo(lfoRenderer, lfo, w, amount, p, LfoAlign, count, out);
  applyOutputLaw(outputLawFor(dbmode), level, count, out);
  rm::guardSamples(out, count);
}

// Cuts the sub-block at each crossing of the threshold after its first sample. gateHigh changes
// at the edge itself, after the stretch before it has been rendered.
void Module::scanGate(int32_t clock, int32_t offset, int32_t count) noexcept {
  const float* g = gate + offset;
  int32_t n = 0;
  for (;;) {
    // A NaN lastGate scans as high; a NaN sample is neither high nor low and makes no edge.
    const bool low = lastGate < gateThreshold;
    int32_t i = n + 1;
    if (low) {
      while (i < count && !(g[i] >= gateThreshold)) ++i;
    } else {
      while (i < count && !(g[i] < gateThreshold)) ++i;
    }
    if (i >= count) {
      renderStretch(clockAt(clock, n), offset + n, count - n, evNone);
      return;
    }
    lastGate = g[i];
    renderStretch(clockAt(clock, n), offset + n, i - n, low ? evRise : fallEvent());
    gateHigh = low;
    n = i;
  }
}

// Runs state handlers until one reaches the stretch's end and applies the event; a handler that
// hands over exactly at the end still leaves the event to the next one, so no edge is lost.
void Module::renderStretch(int32_t clock, int32_t offset, int32_t count, GateEvent event) noexcept {
  Stretch s{clock, offset, count, event};
  while (!runState(s)) {
  }
}

bool Module::runState(Stretch& s) noexcept {
  switch (state) {
    case envAttack:
      return runAttack(s);
    case envHold:
      return runHold(s);
    case envDecay:
      return runDecay(s);
    case envSustain:
      return runSustain(s);
    case envRelease:
      return runRelease(s);
    default:
      return runIdle(s);
  }
}

void Module::retrigger() noexcept {
  lfo = LfoState{};
  state = envAttack;
  segmentPos = 0.0f;
}

void Module::releaseFrom(float level) noexcept {
  state = envRelease;
  releaseLevel = level;
  segmentPos = 0.0f;
}

// The hold is over: decay while the gate is high, else release from full level. The decay
// starts at full level too, so a fall before its first sample releases from 1.
void Module::endHold() noexcept {
  segmentPos = 0.0f;
  releaseLevel = 1.0f;
  state = gateHigh ? envDecay : envRelease;
}

bool Module::runIdle(Stretch& s) noexcept {
  // With the normal LFO the output is the LFO alone and must keep streaming.
  if (LfoAlign != 1 || pin(pins::lfoAmt).valueNow() == 0.0f) {
    enterIdleWatch(clockAt(s.clock, s.pos));
  }
  float* out = signalOut + s.offset;
  std::fill(out + s.pos, out + s.count, 0.0f);
  s.pos = s.count;
  if (s.event == evRise) retrigger();
  return true;
}

bool Module::runAttack(Stretch& s) noexcept {
  const float step = pin(pins::attack).valueNow() * invSampleRate;
  leaveIdleWatch(clockAt(s.clock, s.pos));
  if (!(step > 0.0f)) {
    segmentPos = 1.0f;
    state = envHold;
    return false;
  }
  const float* form = attackForm + s.offset;
  const int32_t end =
      renderCurve(form[s.pos], step, segmentPos, signalOut + s.offset, s.pos, s.count);
  if (segmentPos > 1.0f) {
    s.pos = end;
    segmentPos = 1.0f;
    state = envHold;
    return false;
  }
  s.pos = s.count;
  if (s.event == evFall && FullAttack == 0) {
    // Release from the level reached, shaped with the form at the edge.
    releaseFrom(curveLevel(form[s.count], segmentPos));
  } else if (s.event == evRise) {
    segmentPos = 0.0f;  // restart the attack; the LFO runs on
  }
  return true;
}

bool Module::runHold(Stretch& s) noexcept {
  const float step = pin(pins::hold).valueNow() * invSampleRate;
  // A step that is not positive ends the hold at once, like a countdown that ran out.
  if (!(step > 0.0f)) {
    endHold();
    return false;
  }
  float* out = signalOut + s.offset;
  while (s.pos < s.count) {
    segmentPos -= step;
    if (!(segmentPos > 0.0f)) {
      endHold();
      return false;
    }
    out[s.pos++] = 1.0f;
  }
  if (s.event == evFall && FullAttack == 0) {
    releaseFrom(1.0f);
  } else if (s.event == evRise) {
    retrigger();
  }
  return true;
}

bool Module::runDecay(Stretch& s) noexcept {
  const float step = pin(pins::decay).valueNow() * invSampleRate;
  if (!(step > 0.0f)) {
    state = envSustain;
    return false;
  }
  float* out = signalOut + s.offset;
  const int32_t begin = s.pos;
  const int32_t end =
      renderCurve(decayForm[s.offset + begin], step, segmentPos, out, begin, s.count);
  if (pin(pins::sustain).status == pinStreaming) {
    const float* level = sustain + s.offset;
    for (int32_t i = begin; i < end; ++i) out[i] = decaySample(out[i], level[i]);
  } else {
    const float level = pin(pins::sustain).valueNow();
    for (int32_t i = begin; i < end; ++i) out[i] = decaySample(out[i], level);
  }
  if (end > begin) releaseLevel = out[end - 1];
  s.pos = end;
  if (segmentPos > 1.0f) {
    segmentPos = 1.0f;
    state = envSustain;
    return false;
  }
  if (s.event == evFall) {
    releaseFrom(releaseLevel);
  } else if (s.event == evRise) {
    retrigger();
  }
  return true;
}

bool Module::runSustain(Stretch& s) noexcept {
  if (pin(pins::lfoAmt).valueNow() == 0.0f || LfoAlign == 0) {
    enterIdleWatch(clockAt(s.clock, s.pos));
  }
  std::copy(sustain + s.offset + s.pos, sustain + s.offset + s.count, signalOut + s.offset + s.pos);
  s.pos = s.count;
  if (s.event == evFall) {
    state = envRelease;
    leaveIdleWatch(clockAt(s.clock, s.pos));
    releaseLevel = pin(pins::sustain).valueNow();
    segmentPos = 0.0f;
  } else if (s.event == evRise) {
    retrigger();
  }
  return true;
}

bool Module::runRelease(Stretch& s) noexcept {
  const float step = pin(pins::release).valueNow() * invSampleRate;
  float* out = signalOut + s.offset;
  const int32_t begin = s.pos;
  const int32_t end =
      renderCurve(releaseForm[s.offset + begin], step, segmentPos, out, begin, s.count);
  for (int32_t i = begin; i < end; ++i) out[i] = releaseSample(out[i], releaseLevel);
  s.pos = end;
  if (segmentPos > 1.0f) {
    // Ended inside the stretch: idle renders the rest and applies the event.
    segmentPos = 0.0f;
    state = envIdle;
    return false;
  }
  if (s.event == evRise) retrigger();
  return true;
}

}  // namespace vellum

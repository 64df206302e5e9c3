// The vellum envelope module: an attack-hold-decay-sustain-release envelope with shaped segments,
// sample-exact gate edges, an optional LFO, an overall level and a linear or decibel output law.
#pragma once

#include <cstdint>

#include "rackmill/module_base.h"
#include "vellum/dsp/lfo.h"

namespace vellum {

enum EnvelopeState : int32_t { envIdle, envAttack, envHold, envDecay, envSustain, envRelease };

// A gate edge; it belongs to a stretch and takes effect at the stretch's end.
enum GateEvent : int32_t { evFall = -1, evNone = 0, evRise = 1 };

class Module final : public RMModule_base {
 public:
  using RMModule_base::RMModule_base;

  void onPinStatus(RMPin& pin) noexcept override;
  void open() noexcept override;
  bool describePin(int32_t index, PinDescription* description) noexcept override;
  void resume() noexcept override;

  // Process functions: the envelope, and the same while watching for a chance to sleep.
  void processEnvelope(int32_t offset, int32_t count) noexcept;
  void processEnvelopeIdle(int32_t offset, int32_t count) noexcept;

 private:
  // The part of a sub-block between two gate edges, as the state machine walks it.
  struct Stretch {
    int32_t clock;   // sample clock of the stretch's first sample
    int32_t offset;  // buffer position of the stretch's first sample
    int32_t count;
    GateEvent event;  // applied at the stretch's end
    int32_t pos = 0;  // next sample to render, relative to offset
  };

  void renderBlock(int32_t offset, int32_t count) noexcept;
  void scanGate(int32_t clock, int32_t offset, int32_t count) noexcept;
  GateEvent fallEvent() const noexcept { return NoRelease == 0 ? evFall : evNone; }
  void renderStretch(int32_t clock, int32_t offset, int32_t count, GateEvent event) noexcept;

  // State handlers: each renders from the stretch's pos and answers true when it reached the
  // stretch's end and applied its event, false when it handed over to the next state at pos.
  bool runState(Stretch& s) noexcept;
  bool runIdle(Stretch& s) noexcept;
  bool runAttack(Stretch& s) noexcept;
  bool runHold(Stretch& s) noexcept;
  bool runDecay(Stretch& s) noexcept;
  bool runSustain(Stretch& s) noexcept;
  bool runRelease(Stretch& s) noexcept;

  void retrigger() noexcept;
  void releaseFrom(float level) noexcept;
  void endHold() noexcept;

  void enterIdleWatch(int32_t clock) noexcept;
  void leaveIdleWatch(int32_t clock) noexcept;

  LfoState lfo;  // the LFO phasor and the phase offset turned into it

  // Pin variables: the host keeps each audio pin's current buffer here.
  float* gate = nullptr;
  float* attack = nullptr;
  float* hold = nullptr;
  float* decay = nullptr;
  float* sustain = nullptr;
  float* release = nullptr;
  float* overallLevel = nullptr;
  float* attackForm = nullptr;
  float* decayForm = nullptr;
  float* releaseForm = nullptr;
  float* lfoAmt = nullptr;
  float* lfoFreq = nullptr;
  float* lfoPhase = nullptr;
  float* signalOut = nullptr;

  LfoRenderer lfoRenderer = LfoRenderer::none;
  float invSampleRate = 0.0f;
  float segmentPos = 0.0f;    // curve position, or the hold's countdown from 1
  float releaseLevel = 0.0f;  // the level the release falls from
  float lastGate = 0.0f;      // gate value at the last detected change
  int32_t sleepCountdown = 0;
  int32_t dbmode = 0;
  uint32_t streamingInputs = 0;  // bit i: input pin i streams
  int32_t state = envIdle;
  int16_t FullAttack = 0;
  int16_t NoRelease = 0;
  int16_t LfoAlign = 0;
  bool idleWatch = false;    // processEnvelopeIdle is installed
  bool outputStatic = true;  // Signal Out was last announced as not streaming
  bool gateHigh = false;     // the last detected gate change was a rise
};

}  // namespace vellum

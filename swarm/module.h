// The swarm module: one voice of a polyphonic bank of discrete-summation oscillators.
//
// The host makes one Module per voice (the clones of a patch module). A note starts when "sync"
// is updated above 0.1; the clones share a VoiceList that limits and steals voices and lets a
// new note continue the previous note's oscillators. The bank is set up (retuned) at a rising
// "sync" sample, rendered oscillator by oscillator while it sounds, and after the gate falls a
// tail of one host block size runs before the voice asks the host to sleep.
//
// Process functions: renderFast while a note sounds; it hands a block to renderGeneral (sample by
// sample: gate, retune, fade of a stolen voice, filter start) whenever the steady state does not
// hold; renderTail after the gate fell. A voice whose host keeps fewer pins than it describes
// has the empty process function instead and never touches a pin. The fields are public so that
// tests can observe an instance through its record.
#pragma once

#include <cstdint>

#include "rackmill/module_base.h"
#include "swarm/dsp/bank_paths.h"
#include "swarm/dsp/oscillator_state.h"
#include "swarm/dsp/output_stage.h"
#include "swarm/voice_list.h"

namespace swarm {

class Module final : public RMModule_base {
 public:
  // Frames of oscillator sums renderFast keeps; longer calls are rendered in chunks.
  static constexpr uint32_t scratchFrames = 256;

  Module(HostCallback callback, int32_t hostValue) noexcept;
  ~Module() override;

  void onPinStatus(RMPin& changed) override;
  void open() override;
  bool describePin(int32_t index, PinDescription* description) override;

  // Process functions (buffer offset, frames).
  void renderFast(int32_t offset, int32_t frames) noexcept;
  void renderGeneral(int32_t offset, int32_t frames) noexcept;
  void renderTail(int32_t offset, int32_t frames) noexcept;

  // Fresh starting phases for oscillators 0 .. oscCount-1 from the pins at offset + sample.
  void initPhases(int32_t blockOffset, int32_t sample) noexcept;

  double sampleRate = 0.0;
  double phaseStepPerHz = 0.0;  // radians per sample for 1 Hz
  double maxFrequency = 0.0;    // no partial is tuned above this
  double level = 1.0;           // fade gain; falls to 0 when the voice is stolen
  float prevSync = 0.0f;        // ten times the previous sample's "sync"

  // Pin buffers, written by the host.
  float* fc1 = nullptr;
  float* fm1 = nullptr;
  float* partials = nullptr;  // "N"
  float* a1 = nullptr;
  float* gate = nullptr;
  float* sync = nullptr;
  float* wave1 = nullptr;
  float* rotate = nullptr;
  float* incr = nullptr;
  float* pitchSpread = nullptr;
  float* fm2 = nullptr;  // described and connected, never read
  float* a2 = nullptr;
  float* pitchShuffle = nullptr;
  float* wind = nullptr;
  float* phaseSpread = nullptr;
  float* outputL = nullptr;
  float* outputR = nullptr;

  uint32_t oscCount = 0;  // oscillators of the current note; 0 before the first choice
  int32_t tailRemaining = 0;
  VoiceList* voiceList = nullptr;
  int16_t voiceIndex = 0;
  int16_t oscs = 0;
  int16_t poly = 0;
  int16_t retrigger = 0;
  uint16_t renormIndex = 0;  // slot renormalised at the end of the current block
  dsp::OutputStage stage;    // peak follower, level smoother, right and left DC filters
  dsp::OscillatorBank oscillators;

  bool tailStarted = true;
  bool oscsRecomputed = true;
  bool filtersNeedInit = true;
  bool stateCopied = false;
  bool noteArmed = false;
  bool notePending = true;
  bool gateActive = false;
  bool vectorPathAvailable = false;
  // How renderFast sums the bank: the widest path the processor runs, chosen at construction;
  // without two-lane doubles, the single path.
  dsp::BankPath bankPath = dsp::BankPath::single;
  // The bank has been set up by a retune (here, or in the voice it was copied from). Until then
  // the open values would make every closed-form sum a constant, so the voice writes silence.
  bool bankTuned = false;
  // More clones than the list has slots: this clone was passed over and never takes a list.
  bool listWithheld = false;

 private:
  struct BlockReciprocals {
    double mean;     // 1 / oscCount
    double spacing;  // 1 / (oscCount - 1), or 1 for a single oscillator
  };
  BlockReciprocals reciprocals() const noexcept;
  uint16_t takeRenormSlot() noexcept;
  bool stolen() const noexcept;
  uint32_t oscsInRange() const noexcept;
  bool hasAllPins() const noexcept;

  void* pinVariable(int32_t index) noexcept;
  void shareNewVoiceList() noexcept;

  void startNote() noexcept;
  void takeOverBank(const Module& previous) noexcept;
  void trackBankChange(const RMPin& changed) noexcept;
  void wake() noexcept;
  void announceOutputs(int32_t status) noexcept;

  void retune(int32_t offset, int32_t sample, BlockReciprocals& block) noexcept;
  void setUpPhases(int32_t offset, int32_t sample) noexcept;
  void startTail() noexcept;

  double leftSums[scratchFrames];
  double rightSums[scratchFrames];
  dsp::LaneSums laneSums;
};

}  // namespace swarm

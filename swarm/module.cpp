#include "swarm/module.h"

#include <cmath>
#include <new>

#include "swarm/pins.h"

namespace swarm {
namespace {

// Visits every clone of `self`'s group in the host's order.
template <class Visit>
void forEachClone(Module& self, Visit visit) noexcept {
  ModuleRecord* record = nullptr;
  self.callHost(hostFirstClone, 0, 0, static_cast<void*>(&record));
  while (record != nullptr) {
    Module& clone = *static_cast<Module*>(RMModule_base::fromRecord(record));
    visit(clone);
    ModuleRecord* next = nullptr;
    clone.callHost(hostNextClone, 0, 0, static_cast<void*>(&next));
    record = next;
  }
}

}  // namespace

Module::Module(HostCallback callback, int32_t hostValue) noexcept
    : RMModule_base(callback, hostValue),
      vectorPathAvailable(dsp::processorRuns(dsp::BankPath::paired)),
      bankPath(vectorPathAvailable ? dsp::fastestBankPath() : dsp::BankPath::single) {}

Module::~Module() {
  if (voiceList == nullptr) return;
  VoiceList* list = voiceList;
  // Only the clones that share this list lose it; a late clone's own list stays with it.
  forEachClone(*this, [list](Module& clone) {
    if (clone.voiceList == list) clone.voiceList = nullptr;
  });
  voiceList = nullptr;
  delete list;
}

bool Module::describePin(int32_t index, PinDescription* description) {
  if (index < 0 || index >= pins::count || description == nullptr) return false;
  rm::fillPinDescription(pins::table[index], pinVariable(index), *description);
  return true;
}

void* Module::pinVariable(int32_t index) noexcept {
  switch (index) {
    case pins::fc1:
      return static_cast<void*>(&fc1);
    case pins::fm1:
      return static_cast<void*>(&fm1);
    case pins::partials:
      return static_cast<void*>(&partials);
    case pins::a1:
      return static_cast<void*>(&a1);
    case pins::gate:
      return static_cast<void*>(&gate);
    case pins::poly:
      return static_cast<void*>(&poly);
    case pins::sync:
      return static_cast<void*>(&sync);
    case pins::wave1:
      return static_cast<void*>(&wave1);
    case pins::rotate:
      return static_cast<void*>(&rotate);
    case pins::incr:
      return static_cast<void*>(&incr);
    case pins::pitchSpread:
      return static_cast<void*>(&pitchSpread);
    case pins::fm2:
      return static_cast<void*>(&fm2);
    case pins::a2:
      return static_cast<void*>(&a2);
    case pins::pitchShuffle:
      return static_cast<void*>(&pitchShuffle);
    case pins::wind:
      return static_cast<void*>(&wind);
    case pins::phaseSpread:
      return static_cast<void*>(&phaseSpread);
    case pins::oscs:
      return static_cast<void*>(&oscs);
    case pins::retrigger:
      return static_cast<void*>(&retrigger);
    case pins::outputL:
      return static_cast<void*>(&outputL);
    case pins::outputR:
      return static_cast<void*>(&outputR);
    default:
      return nullptr;
  }
}

void Module::open() {
  setProcessFunction(processReference<Module, &Module::renderFast>());
  RMModule_base::open();

  const double rate = getSampleRate();
  sampleRate = std::isfinite(rate) && rate > 0.0 ? rate : 44100.0;
  phaseStepPerHz = 6.283185307179586 / sampleRate;
  maxFrequency = sampleRate * 0.5 * 0.9523809523809523;  // 20/21 of Nyquist
  if (maxFrequency > 21000.0) maxFrequency = 21000.0;

  // Default records are the open values, gain 1 included: the per-block renormalisation
  // multiplies by gain before any retune has set it.
  oscillators.fill(dsp::OscillatorState{});
  oscCount = 0;
  renormIndex = 0;
  prevSync = 0.0f;
  level = 1.0;

  tailStarted = true;
  oscsRecomputed = true;
  filtersNeedInit = true;
  stateCopied = false;
  noteArmed = false;
  notePending = true;
  gateActive = false;
  bankTuned = false;

  if (voiceList == nullptr && !listWithheld) shareNewVoiceList();

  // A host that keeps fewer pins than described never gives the others their buffers: the
  // voice cannot read its inputs or write its outputs, so it renders nothing at all.
  if (!hasAllPins()) {
    setProcessFunction(emptyProcessReference());
  }
}

// Gives a new list to every clone that has none, with slots in the host's clone order. Clones
// beyond the list's slots are marked so that they never make a list of their own either.
void Module::shareNewVoiceList() noexcept {
  VoiceList* list = new (std::nothrow) VoiceList(static_cast<float>(sampleRate));
  if (list == nullptr) return;
  int16_t served = 0;
  forEachClone(*this, [list, &served](Module& clone) {
    if (clone.voiceList != nullptr || clone.listWithheld) return;
    if (served < VoiceList::slotCount) {
      clone.voiceList = list;
      clone.voiceIndex = served++;
    } else {
      clone.listWithheld = true;
    }
  });
  // A host that lists no clones leaves nobody to delete the list.
  if (served == 0) delete list;
}

bool Module::hasAllPins() const noexcept {
  return pinCount() >= pins::count;
}

uint32_t Module::oscsInRange() const noexcept {
  if (oscs < 1) return 1;
  if (oscs > static_cast<int16_t>(dsp::kMaxOscillators)) return dsp::kMaxOscillators;
  return static_cast<uint32_t>(oscs);
}

bool Module::stolen() const noexcept {
  return voiceList != nullptr && voiceList->stolen[voiceIndex];
}

void Module::announceOutputs(int32_t status) noexcept {
  if (!hasAllPins()) return;
  const int32_t now = sampleClock();
  pin(pins::outputL).transmitStatus(now, status);
  pin(pins::outputR).transmitStatus(now, status);
}

}  // namespace swarm

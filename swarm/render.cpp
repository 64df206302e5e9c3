// The block renders of a swarm voice, the retune at a rising "sync" sample, and the tail that
// ends in a sleep request.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "swarm/dsp/oscillator.h"
#include "swarm/dsp/retune.h"
#include "swarm/module.h"
#include "swarm/pins.h"

namespace swarm {

Module::BlockReciprocals Module::reciprocals() const noexcept {
  if (oscCount == 0) return {0.0, 1.0};
  return {1.0 / oscCount, oscCount == 1 ? 1.0 : 1.0 / (oscCount - 1)};
}

// Every block renormalises one slot of the whole bank, whatever oscCount is.
uint16_t Module::takeRenormSlot() noexcept {
  const uint16_t slot = renormIndex;
  renormIndex = static_cast<uint16_t>((slot + 1) % dsp::kMaxOscillators);
  return slot;
}

void Module::renderGeneral(int32_t offset, int32_t frames) noexcept {
  if (frames <= 0) return;
  BlockReciprocals block = reciprocals();
  const uint16_t slot = takeRenormSlot();
  const double fade = stolen() ? voiceList->fadeStep : 0.0;

  if (gate[offset] == 0.0f) {
    if (voiceList != nullptr) voiceList->release(voiceIndex);
    startTail();
    prevSync = 0.0f;
  } else if (level == 0.0) {
    startTail();
    prevSync = 0.0f;
  }

  // Only a clone that has a list, or once started a note, sets its bank up; one that was never
  // given a list stays silent.
  const bool mayRetune = voiceList != nullptr || noteArmed;
  for (int32_t j = 0; j < frames; ++j) {
    const int32_t at = offset + j;
    level = std::max(level - fade, 0.0);
    if (gate[at] == 0.0f) {
      outputL[at] = 0.0f;
      outputR[at] = 0.0f;
      prevSync = sync[at] * 10.0f;
      continue;
    }
    const float syncNow = sync[at] * 10.0f;
    if (syncNow > prevSync && mayRetune) retune(offset, j, block);
    double left = 0.0;
    double right = 0.0;
    if (bankTuned) {
      for (uint32_t k = 0; k < oscCount; ++k) dsp::stepOscillator(oscillators[k], left, right);
    }
    // The flags move at every gated-on sample, silent or not: a voice whose first note takes
    // over another voice's bank must find its own start-up initialisation already done, or it
    // would restart the copied follower and filters at its retune.
    if (oscsRecomputed) {
      if (filtersNeedInit) {
        stage.initialise(sampleRate, oscCount);
        filtersNeedInit = false;
      }
      oscsRecomputed = false;
    }
    if (bankTuned) {
      const dsp::StereoSample out = stage.process(left, right, block.mean, sampleRate, level);
      outputL[at] = out.left;
      outputR[at] = out.right;
    } else {
      outputL[at] = 0.0f;
      outputR[at] = 0.0f;
    }
    prevSync = syncNow;
  }
  dsp::renormalise(oscillators[slot]);
}

void Module::renderFast(int32_t offset, int32_t frames) noexcept {
  if (oscCount == 0) {
    oscCount = oscsInRange();
    filtersNeedInit = true;
  }
  if (notePending || stolen() || !gateActive) {
    renderGeneral(offset, frames);
    return;
  }
  if (frames <= 0) return;
  const double mean = 1.0 / oscCount;
  const uint16_t slot = takeRenormSlot();
  // Oscillator-major over chunks of the scratch size; the phasors carry over between chunks and
  // the output stage runs sample by sample, so chunking does not change a single sample.
  for (int32_t done = 0; done < frames;) {
    const uint32_t n = std::min<uint32_t>(scratchFrames, static_cast<uint32_t>(frames - done));
    dsp::sumBank(bankPath, oscillators, oscCount, laneSums, leftSums, rightSums, n);
    const int32_t at = offset + done;
    stage.processBlock(leftSums, rightSums, outputL + at, outputR + at, n, mean, sampleRate);
    done += static_cast<int32_t>(n);
  }
  dsp::renormalise(oscillators[slot]);
}

void Module::renderTail(int32_t offset, int32_t frames) noexcept {
  renderGeneral(offset, frames);
  // A host may keep calling a voice that asked to sleep: the count stays at its lowest value.
  const int64_t remaining = static_cast<int64_t>(tailRemaining) - std::max(frames, 0);
  tailRemaining =
      static_cast<int32_t>(std::max<int64_t>(remaining, std::numeric_limits<int32_t>::min()));
  if (tailRemaining <= 0) callHost(hostSleep, 0, 0, nullptr, 0.0f);
}

void Module::startTail() noexcept {
  if (tailStarted) return;
  tailRemaining = getBlockSize();
  setProcessFunction(processReference<Module, &Module::renderTail>());
  announceOutputs(pinOneOff);
  tailStarted = true;
}

void Module::retune(int32_t offset, int32_t sample, BlockReciprocals& block) noexcept {
  notePending = false;
  const uint32_t wanted = oscsInRange();
  const bool countChanged = oscCount != wanted;
  if (countChanged) {
    oscCount = wanted;
    filtersNeedInit = true;
    block = reciprocals();
  }
  const bool bankChanged = voiceList != nullptr && voiceList->bankChanged;
  if (!stateCopied || bankChanged || countChanged) setUpPhases(offset, sample);

  const int32_t at = offset + sample;
  dsp::RetuneParams params;
  params.pitch = fc1[at];
  params.spacingRatio = fm1[at];
  params.partials = partials[at];
  params.decayFirst = a1[at];
  params.decayFall = a2[at];
  params.waveMix = wave1[at];
  params.pitchSpread = pitchSpread[at];
  params.pitchShuffle = pitchShuffle[at];
  params.spacing = block.spacing;
  params.phaseStepPerHz = phaseStepPerHz;
  params.maxFrequency = maxFrequency;
  dsp::retuneBank(oscillators, oscCount, params);
  oscsRecomputed = true;
  bankTuned = true;
}

// Fresh phases, then the snapshot that later one-off changes are compared with.
void Module::setUpPhases(int32_t offset, int32_t sample) noexcept {
  initPhases(offset, sample);
  filtersNeedInit = true;
  if (voiceList == nullptr) return;
  voiceList->bankChanged = false;
  voiceList->paramSnapshot[pins::oscs] = static_cast<float>(oscs);
  voiceList->paramSnapshot[pins::phaseSpread] = pin(pins::phaseSpread).valueNow();
  voiceList->paramSnapshot[pins::wind] = pin(pins::wind).valueNow();
}

}  // namespace swarm

#include "swarm/voice_list.h"

namespace swarm {

VoiceList::VoiceList(float sampleRate) noexcept
    : fadeStep(1.0 / (static_cast<double>(sampleRate) * 0.01)) {
  paramSnapshot.fill(snapshotUnset);
  older.fill(-1);
  newer.fill(-1);
}

void VoiceList::noteOn(int16_t voice, int16_t poly, Module* owner) noexcept {
  lastOwner = owner;
  // A limit below one would steal past an empty order; one voice always sounds.
  const int32_t limit = poly < 1 ? 1 : poly;
  while (count >= limit) stealOldest();
  stolen[voice] = false;

  if (!listed(voice)) {
    if (newest < 0) {
      oldest = voice;
      older[voice] = voice;
    } else {
      older[voice] = newest;
      newer[newest] = voice;
    }
    ++count;
    newest = voice;
    return;
  }
  if (voice == newest) return;
  unlink(voice);
  newer[voice] = -1;
  older[voice] = newest;
  newer[newest] = voice;
  newest = voice;
}

void VoiceList::release(int16_t voice) noexcept {
  if (!listed(voice) || voice == oldest) return;
  const int16_t s = older[voice];
  if (voice == newest) {
    newest = s;
    newer[s] = -1;
  } else {
    const int16_t b = newer[voice];
    older[b] = s;
    newer[s] = b;
  }
  older[voice] = voice;
  newer[voice] = oldest;
  older[oldest] = voice;
  oldest = voice;
}

void VoiceList::takeRotateStep(double step) noexcept {
  // A NaN on either side compares unequal, which restarts the phase as well.
  if (step != rotateStep) {
    rotatePhase = 0.0;
    rotateStep = step;
  }
}

double VoiceList::advanceRotation() noexcept {
  rotatePhase = rotatePhase + rotateStep;
  if (rotatePhase < -1.0) {
    rotatePhase += 2.0;
  } else if (rotatePhase > 1.0) {
    rotatePhase -= 2.0;
  }
  return rotatePhase;
}

void VoiceList::stealOldest() noexcept {
  const int16_t t = oldest;
  const int16_t n = newer[t];
  stolen[t] = true;
  if (n >= 0) older[n] = n;
  older[t] = -1;
  newer[t] = -1;
  --count;
  oldest = n;
  if (count == 0) newest = -1;
}

// Takes a listed voice that is not the newest out of the order, closing the gap.
void VoiceList::unlink(int16_t voice) noexcept {
  const int16_t b = newer[voice];
  if (voice == oldest) {
    oldest = b;
    older[b] = b;
  } else {
    const int16_t s = older[voice];
    older[b] = s;
    newer[s] = b;
  }
}

}  // namespace swarm

#include <algorithm>
#include <tuple>

#include "rmhost/note_layer.h"

namespace rmhost {

namespace {

// Cues a note-on adds at most: its own four, its trigger's end, and the previous note's gate drop.
constexpr size_t kCuesPerNoteOn = 6;

int64_t later(int64_t clock, int64_t delay) {
  return clock > kNever - delay ? kNever : clock + delay;
}

}  // namespace

VoiceAllocator::VoiceAllocator(int32_t voices, int64_t release, int64_t pulse, int32_t capacity)
    : voices_(static_cast<size_t>(std::max(voices, 1))),
      capacity_(static_cast<size_t>(std::max(capacity, 16))),
      release_(std::max<int64_t>(release, 0)),
      pulse_(std::max<int64_t>(pulse, 1)),
      inUse_(static_cast<int32_t>(voices_.size())) {
  // Room for every voice's gate and voice-gate ends besides the capacity, so that note-offs and
  // silence never need more.
  pending_.reserve(capacity_ + 3 * voices_.size());
}

void VoiceAllocator::reset() {
  std::fill(voices_.begin(), voices_.end(), Voice{});
  pending_.clear();
  nextOrder_ = 0;
}

void VoiceAllocator::setVoices(int32_t voices) {
  inUse_ = std::clamp(voices, 1, this->voices());
}

int32_t VoiceAllocator::pick(int64_t clock) const {
  int32_t best = -1;
  auto lowest = [&](auto key, auto eligible) {
    for (int32_t v = 0; v < inUse_; ++v)
      if (eligible(voices_[v]) && (best < 0 || key(voices_[v]) < key(voices_[best]))) best = v;
  };
  lowest([](const Voice& s) { return s.freeFrom; },
         [&](const Voice& s) { return s.freeFrom <= clock; });
  if (best >= 0) return best;
  lowest([](const Voice& s) { return s.noteEnd; },
         [&](const Voice& s) { return s.noteEnd <= clock; });
  if (best >= 0) return best;
  lowest([](const Voice& s) { return s.start; }, [](const Voice&) { return true; });
  return best;
}

void VoiceAllocator::cue(int64_t clock, int32_t voice, VoiceCue cue, const Voice& owner) {
  pending_.push_back({clock, voice, cue, owner.note, owner.order});
}

VoiceEvent* VoiceAllocator::findPending(int32_t voice, VoiceCue cue) {
  const int64_t order = voices_[static_cast<size_t>(voice)].order;
  for (VoiceEvent& event : pending_)
    if (event.voice == voice && event.cue == cue && event.order == order) return &event;
  return nullptr;
}

// Makes the latest note's gate or trigger fall at `latest` at the latest; when that is not after
// the note's start there is no room for the drop and the cue goes (the signal stays up into the
// next note). A voice gate that would fall at or after the next note stays up instead.
void VoiceAllocator::cutBefore(int32_t voice, VoiceCue cue, int64_t latest) {
  Voice& state = voices_[static_cast<size_t>(voice)];
  VoiceEvent* pending = findPending(voice, cue);
  if (!pending) {
    if (cue != VoiceCue::gateOff || !state.gateUp || latest <= state.start) return;
    this->cue(latest, voice, cue, state);  // a held note's gate drops before the next note
    state.gateUp = false;
    return;
  }
  if (pending->clock <= latest) return;
  if (latest > state.start && cue != VoiceCue::voiceOff) {
    pending->clock = latest;
    return;
  }
  pending_.erase(pending_.begin() + (pending - pending_.data()));
  if (cue == VoiceCue::gateOff) state.gateUp = true;
  if (cue == VoiceCue::voiceOff) state.voiceUp = true;
}

int32_t VoiceAllocator::noteOn(int64_t clock, int32_t note) {
  if (pending_.size() + kCuesPerNoteOn > capacity_) return -1;
  const int32_t v = pick(clock);
  Voice& state = voices_[static_cast<size_t>(v)];
  if (state.start >= 0) {
    cutBefore(v, VoiceCue::triggerOff, clock - 1);
    cutBefore(v, VoiceCue::gateOff, clock - 1);
    cutBefore(v, VoiceCue::voiceOff, clock - 1);
  }
  state.note = note;
  state.order = nextOrder_++;
  state.start = clock;
  state.noteEnd = kNever;
  state.freeFrom = kNever;
  cue(clock, v, VoiceCue::start, state);
  if (!state.voiceUp) cue(clock, v, VoiceCue::voiceOn, state);
  if (!state.gateUp) cue(clock, v, VoiceCue::gateOn, state);
  cue(clock, v, VoiceCue::triggerOn, state);
  cue(later(clock, pulse_), v, VoiceCue::triggerOff, state);
  state.voiceUp = state.gateUp = true;
  return v;
}

void VoiceAllocator::noteOff(int64_t clock, int32_t note) {
  for (int32_t v = 0; v < voices(); ++v) {
    Voice& state = voices_[static_cast<size_t>(v)];
    if (state.note != note) continue;
    state.noteEnd = clock;
    state.freeFrom = later(clock, release_);
    if (state.gateUp) cue(clock, v, VoiceCue::gateOff, state);
    cue(state.freeFrom, v, VoiceCue::voiceOff, state);
    state.note = -1;
    state.gateUp = state.voiceUp = false;
    return;
  }
}

void VoiceAllocator::silence(int64_t clock) {
  for (VoiceEvent& event : pending_)
    if (event.clock > clock && event.cue >= VoiceCue::triggerOff) event.clock = clock;
  for (int32_t v = 0; v < voices(); ++v) {
    Voice& state = voices_[static_cast<size_t>(v)];
    if (state.gateUp) cue(clock, v, VoiceCue::gateOff, state);
    if (state.voiceUp) cue(clock, v, VoiceCue::voiceOff, state);
    state.note = -1;
    state.noteEnd = std::min(state.noteEnd, clock);
    state.freeFrom = std::min(state.freeFrom, clock);
    state.gateUp = state.voiceUp = false;
  }
}

void VoiceAllocator::sortPending() {
  std::sort(pending_.begin(), pending_.end(), [](const VoiceEvent& a, const VoiceEvent& b) {
    return std::tie(a.clock, a.voice, a.order, a.cue) < std::tie(b.clock, b.voice, b.order, b.cue);
  });
}

}  // namespace rmhost

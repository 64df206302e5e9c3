#include "voices.h"

#include <algorithm>
#include <numeric>

namespace rmcli {

namespace {

struct VoiceState {
  int64_t start = -1;    // start of its current note, -1 before the first
  int64_t noteEnd = 0;   // end of its current note
  int64_t freeFrom = 0;  // clock from which it is free
};

int pickVoice(const std::vector<VoiceState>& voices, int64_t clock) {
  int best = -1;
  auto better = [&](int v, auto key) { return best < 0 || key(voices[v]) < key(voices[best]); };
  for (int v = 0; v < static_cast<int>(voices.size()); ++v)
    if (voices[v].freeFrom <= clock && better(v, [](const VoiceState& s) { return s.freeFrom; }))
      best = v;
  if (best >= 0) return best;
  for (int v = 0; v < static_cast<int>(voices.size()); ++v)
    if (voices[v].noteEnd <= clock && better(v, [](const VoiceState& s) { return s.noteEnd; }))
      best = v;
  if (best >= 0) return best;
  for (int v = 0; v < static_cast<int>(voices.size()); ++v)
    if (better(v, [](const VoiceState& s) { return s.start; })) best = v;
  return best;
}

}  // namespace

std::vector<std::vector<VoiceNote>> allocateVoices(const std::vector<NoteTiming>& notes, int voices,
                                                   int64_t release) {
  std::vector<int> order(notes.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return notes[a].start < notes[b].start; });

  std::vector<VoiceState> state(static_cast<size_t>(voices));
  std::vector<std::vector<VoiceNote>> result(static_cast<size_t>(voices));
  for (int index : order) {
    const NoteTiming& note = notes[index];
    const int v = pickVoice(state, note.start);
    state[v] = {note.start, note.end, note.end + release};
    result[v].push_back({index, note.start, note.end, note.end + release, kNever});
  }
  for (auto& played : result) {
    for (size_t k = 0; k + 1 < played.size(); ++k) {
      VoiceNote& note = played[k];
      note.next = played[k + 1].start;
      note.gateEnd = std::min(note.gateEnd, note.next - 1);
      if (note.gateEnd <= note.start) note.gateEnd = kNever;
      if (note.voiceEnd >= note.next) note.voiceEnd = kNever;
    }
  }
  return result;
}

std::vector<PinEvent> scheduleNotes(const std::vector<std::vector<VoiceNote>>& voices,
                                    const NoteDrive& drive, const std::vector<NotePlay>& plays,
                                    int64_t pulse) {
  std::vector<PinEvent> events;
  for (int v = 0; v < static_cast<int>(voices.size()); ++v) {
    std::vector<double> current = drive.pinValues;
    bool gateUp = false;
    bool voiceUp = false;
    auto emit = [&](int64_t clock, int pin, double value) {
      if (pin >= 0) events.push_back({clock, v, pin, value});
    };
    for (const VoiceNote& note : voices[v]) {
      const NotePlay& play = plays[note.note];
      for (size_t i = 0; i < drive.notePins.size(); ++i) {
        const double value = play.pins[i].value_or(drive.pinValues[i]);
        if (value == current[i]) continue;
        current[i] = value;
        emit(note.start, drive.notePins[i], value);
      }
      emit(note.start, drive.pitch, play.pitch);
      if (!voiceUp) emit(note.start, drive.voiceGate, 1.0);
      if (!gateUp) emit(note.start, drive.gate, 1.0);
      emit(note.start, drive.trigger, 1.0);
      const int64_t triggerEnd = std::min(note.start + pulse, note.next - 1);
      if (triggerEnd > note.start) emit(triggerEnd, drive.trigger, 0.0);

      gateUp = note.gateEnd == kNever;
      if (!gateUp) emit(note.gateEnd, drive.gate, 0.0);
      voiceUp = note.voiceEnd == kNever;
      if (!voiceUp) emit(note.voiceEnd, drive.voiceGate, 0.0);
    }
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const PinEvent& a, const PinEvent& b) { return a.clock < b.clock; });
  return events;
}

}  // namespace rmcli

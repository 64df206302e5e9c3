#include "voices.h"

#include <algorithm>
#include <numeric>

namespace rmcli {

std::vector<rmhost::VoiceEvent> scheduleVoices(const std::vector<NoteTiming>& notes, int voices,
                                               int64_t release, int64_t pulse) {
  std::vector<int> starts(notes.size());
  std::iota(starts.begin(), starts.end(), 0);
  std::vector<int> ends = starts;
  std::stable_sort(starts.begin(), starts.end(),
                   [&](int a, int b) { return notes[a].start < notes[b].start; });
  std::stable_sort(ends.begin(), ends.end(),
                   [&](int a, int b) { return notes[a].end < notes[b].end; });

  // Every note's cues may wait at once: the whole patch is known in advance.
  const auto capacity = static_cast<int32_t>(std::min<size_t>(8 * notes.size() + 64, INT32_MAX));
  rmhost::VoiceAllocator allocator(voices, release, pulse, capacity);
  std::vector<rmhost::VoiceEvent> cues;
  auto keep = [&cues](const rmhost::VoiceEvent& event) { cues.push_back(event); };
  size_t ended = 0;
  for (size_t i = 0; i < starts.size(); ++i) {
    const int64_t clock = notes[starts[i]].start;
    // Notes ending at a clock leave their voices before the notes starting there take one.
    for (; ended < ends.size() && notes[ends[ended]].end <= clock; ++ended)
      allocator.noteOff(notes[ends[ended]].end, ends[ended]);
    allocator.noteOn(clock, starts[i]);
    if (i + 1 == starts.size() || notes[starts[i + 1]].start != clock) allocator.drain(clock, keep);
  }
  for (; ended < ends.size(); ++ended) allocator.noteOff(notes[ends[ended]].end, ends[ended]);
  allocator.drain(rmhost::kNever, keep);
  return cues;
}

std::vector<PinEvent> pinEvents(const std::vector<rmhost::VoiceEvent>& cues, const NoteDrive& drive,
                                const std::vector<NotePlay>& plays, int voices) {
  std::vector<std::vector<double>> current(static_cast<size_t>(voices), drive.pinValues);
  std::vector<PinEvent> events;
  for (const rmhost::VoiceEvent& cue : cues) {
    const NotePlay& play = plays[static_cast<size_t>(cue.note)];
    auto emit = [&](int32_t pin, double value) {
      events.push_back({cue.clock, cue.voice, pin, value});
    };
    if (cue.cue == rmhost::VoiceCue::start) {
      std::vector<double>& values = current[static_cast<size_t>(cue.voice)];
      for (size_t i = 0; i < drive.notePins.size(); ++i) {
        const double value = play.pins[i].value_or(drive.pinValues[i]);
        if (value == values[i]) continue;
        values[i] = value;
        emit(drive.notePins[i], value);
      }
    }
    rmhost::driveCue(drive.pins, cue, play.key, play.velocity, emit);
  }
  return events;
}

}  // namespace rmcli

// The renderer's side of the note layer: a patch's notes, all known in advance, go through the
// shared voice allocator in clock order, and each module turns the voices' cues into pin changes.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "rmhost/note_layer.h"

namespace rmcli {

// A note in sample clocks; end > start.
struct NoteTiming {
  int64_t start = 0;
  int64_t end = 0;
};

// The cues of every voice for the notes (a cue's `note` is the note's index), in clock order.
std::vector<rmhost::VoiceEvent> scheduleVoices(const std::vector<NoteTiming>& notes, int voices,
                                               int64_t release, int64_t pulse);

// One pin change of one voice of a module.
struct PinEvent {
  int64_t clock = 0;
  int voice = 0;
  int pin = 0;
  double value = 0.0;
};

// The pins of a module that notes drive, and the pins that notes set one by one.
struct NoteDrive {
  rmhost::NoteDrive pins;
  std::vector<int> notePins;      // pins that some note sets
  std::vector<double> pinValues;  // the module's own value of each of them
};

// What one note gives a module: its key and velocity, and its values for the note pins.
struct NotePlay {
  double key = 0.0;
  int velocity = 127;
  std::vector<std::optional<double>> pins;  // per NoteDrive::notePins; none: the module's value
};

// The pin changes of every voice, in clock order. At a note's start its note pins come first
// (where they change), then what the note layer drives.
std::vector<PinEvent> pinEvents(const std::vector<rmhost::VoiceEvent>& cues, const NoteDrive& drive,
                                const std::vector<NotePlay>& plays, int voices);

}  // namespace rmcli

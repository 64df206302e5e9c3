// The host's note allocator: gives each note of a part one of the part's voices and turns the
// notes into pin changes of the modules that play them.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace rmcli {

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

// A note in sample clocks; end > start.
struct NoteTiming {
  int64_t start = 0;
  int64_t end = 0;
};

// A note as the voice that got it plays it. A voice's next note may come before this one has
// ended; the gate then falls one sample before it, so that envelopes see a fresh rise.
struct VoiceNote {
  int note = 0;  // index of the note in the allocator's input
  int64_t start = 0;
  int64_t gateEnd = 0;    // where the gate falls; kNever when it stays up into the next note
  int64_t voiceEnd = 0;   // where the voice is free again; kNever when the next note follows
  int64_t next = kNever;  // start of the voice's next note
};

// Notes taken in start order (ties in input order). A note goes to the voice that has been free
// longest; with none free it takes the voice whose note ended first, or else the one whose note
// started first. A voice is free from `release` clocks after its note's end.
std::vector<std::vector<VoiceNote>> allocateVoices(const std::vector<NoteTiming>& notes, int voices,
                                                   int64_t release);

// One pin change of one voice of a module.
struct PinEvent {
  int64_t clock = 0;
  int voice = 0;
  int pin = 0;
  double value = 0.0;
};

// The pins of a module that notes drive (-1: none), and the pins that notes set one by one.
struct NoteDrive {
  int pitch = -1;
  int gate = -1;
  int voiceGate = -1;
  int trigger = -1;
  std::vector<int> notePins;      // pins that some note sets
  std::vector<double> pinValues;  // the module's own value of each of them
};

// What one note gives a module: its pitch as pin value and its values for the note pins.
struct NotePlay {
  double pitch = 0.0;
  std::vector<std::optional<double>> pins;  // per NoteDrive::notePins; none: the module's value
};

// The pin changes of every voice, in clock order. At a note start, note pins come first, then
// pitch, voice gate, gate and trigger; the trigger falls `pulse` clocks after the start.
std::vector<PinEvent> scheduleNotes(const std::vector<std::vector<VoiceNote>>& voices,
                                    const NoteDrive& drive, const std::vector<NotePlay>& plays,
                                    int64_t pulse);

}  // namespace rmcli

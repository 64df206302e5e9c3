// The note layer every host of this project shares: MIDI messages become notes, notes get
// voices, and voices receive cues (note start, gates, trigger) at exact clocks. The renderer
// feeds it from patches and MIDI files, the LV2 instrument from live MIDI, so that the same notes
// play the same way in both.
//
// Both classes allocate only when constructed and may be used on an audio thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace rmhost {

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

// How a note's key reaches a pitch input: "fc" is (log2(f / 440) + 5) / 10 (0.5 is 440 Hz,
// 0.1 an octave), "hz" the frequency, "midi" the key number itself (69 is A4).
enum class PitchLaw { fc, hz, midi };
double pitchValue(PitchLaw law, double key);

// A note's level factor from its velocity (1..127): (1 - s) + s * (velocity / 127)^2, so that
// velocity 127 leaves a level unchanged at any sensitivity s (clamped to 0..1) and sensitivity 1
// spans about 42 dB over the velocity range.
double velocityGain(int velocity, double sensitivity);

// MIDI channel messages the notes cannot follow, counted by kind.
struct IgnoredMessages {
  int64_t pitchBend = 0;
  int64_t programChange = 0;
  int64_t channelPressure = 0;
  int64_t polyPressure = 0;
  int64_t controller = 0;      // controllers other than 64, 120 and 123
  int64_t system = 0;          // system messages and bytes that are no channel message
  bool controllers[128] = {};  // which controller numbers were ignored

  int64_t total() const;
};

// Turns MIDI channel messages into notes. Several notes of one key may sound at once; a note-off
// ends the oldest of them. A note-on with velocity 0 is a note-off. The sustain pedal (CC 64 at
// 64 or more) holds note-offs until it is lifted; all notes off (CC 123) is a note-off for every
// key held on its channel; all sound off (CC 120) ends every note of its channel at once and asks
// for silence. A note-on beyond the capacity ends the oldest note first.
class MidiNotes {
 public:
  struct Sink {
    virtual ~Sink() = default;
    // `note` numbers notes in the order they start.
    virtual void noteOn(int64_t clock, int32_t note, int channel, int key, int velocity) = 0;
    virtual void noteOff(int64_t clock, int32_t note) = 0;
    virtual void soundOff(int64_t clock, int channel) = 0;
  };

  explicit MidiNotes(int32_t capacity = 256);

  // One complete message (status byte first; running status is the reader's business).
  void message(int64_t clock, const uint8_t* bytes, size_t size, Sink& sink);
  // Ends every sounding note, held or sustained (the end of a file).
  void endAll(int64_t clock, Sink& sink);
  // Forgets every note and pedal without telling the sink, and clears the counts.
  void reset();

  const IgnoredMessages& ignored() const { return ignored_; }
  int32_t sounding() const { return count_; }

 private:
  struct Held {
    int32_t note = 0;
    uint8_t channel = 0;
    uint8_t key = 0;
    bool keyDown = false;  // false: only the pedal holds it
  };

  void noteOn(int64_t clock, int channel, int key, int velocity, Sink& sink);
  void keyUp(int64_t clock, int channel, int key, Sink& sink);
  void controller(int64_t clock, int channel, int number, int value, Sink& sink);
  void end(int64_t clock, int32_t slot, Sink& sink);

  std::vector<Held> held_;  // sounding notes, oldest first; held_.size() is the capacity
  int32_t count_ = 0;
  int32_t nextNote_ = 0;
  bool pedal_[16] = {};
  IgnoredMessages ignored_;
};

// What a voice does at a clock. At a note's start the cues come in this order: `start` (set the
// note's pitch, level and note pins), `voiceOn` and `gateOn` (when not already up), `triggerOn`.
enum class VoiceCue : uint8_t { start, voiceOn, gateOn, triggerOn, triggerOff, gateOff, voiceOff };

struct VoiceEvent {
  int64_t clock = 0;
  int32_t voice = 0;
  VoiceCue cue = VoiceCue::start;
  int32_t note = 0;   // the note the cue belongs to
  int64_t order = 0;  // the note's place among all notes given; orders cues of one clock
};

// The pins of one module that notes drive (-1: none).
struct NoteDrive {
  int32_t pitch = -1;  // the note's key at its start, by `law`
  PitchLaw law = PitchLaw::fc;
  int32_t gate = -1;       // 1 from the note's start to its end
  int32_t voiceGate = -1;  // 1 from the note's start until its voice is free again
  int32_t trigger = -1;    // 1 for a short pulse at the note's start
  int32_t velocity = -1;   // velocityLevel × velocityGain(velocity, sensitivity) at the start
  double velocityLevel = 1.0;
  double sensitivity = 1.0;
};

// Gives notes voices as they come. A note takes the voice that has been free longest; with none
// free, the voice whose note ended first (one still releasing), or else the voice whose note
// started first. A voice is free `release` clocks after its note's end. The gate is up from a
// note's start to its end; the voice gate until `release` clocks after; the trigger for `pulse`
// clocks. When a note takes a voice whose gate is still up, the gate drops one clock before the
// note starts, so that envelopes see a fresh rise (the voice gate stays up); a note one clock
// after the previous start leaves no room for the drop and keeps the gate up. A trigger pulse
// cut short by the next note on its voice ends one clock before it.
//
// Calls come in clock order, note-offs of a clock before its note-ons. Because a note can move
// the previous clock's gate, `drain(until)` may hand out the cues before `until` only once every
// note starting at or before `until` has been given: a live host runs one clock behind its notes.
class VoiceAllocator {
 public:
  // `capacity` bounds the cues waiting to be drained; a note-on that would pass it is refused.
  VoiceAllocator(int32_t voices, int64_t release, int64_t pulse, int32_t capacity = 4096);

  // Answers the note's voice, or -1 when refused.
  int32_t noteOn(int64_t clock, int32_t note);
  // Ends the note; nothing when it has ended already or lost its voice to another note.
  void noteOff(int64_t clock, int32_t note);
  // Ends every note at once and frees every voice, without release time.
  void silence(int64_t clock);
  // Back to the state after construction, but for the voices in use and the release time.
  void reset();
  // Notes from now on take only voices 0 to `voices` - 1 (at least 1, at most the voices made).
  // Notes already on other voices play on; a host that wants them gone silences first.
  void setVoices(int32_t voices);
  // Release time of the notes that end from now on.
  void setRelease(int64_t release) { release_ = std::max<int64_t>(release, 0); }

  // Calls each(const VoiceEvent&) for the waiting cues before `until`, in clock order (one clock:
  // voice by voice, each voice's notes in the order given, each note's cues in cue order).
  template <class Each>
  void drain(int64_t until, Each&& each) {
    sortPending();
    size_t done = 0;
    while (done < pending_.size() && pending_[done].clock < until) each(pending_[done++]);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
  }

  int32_t voices() const { return static_cast<int32_t>(voices_.size()); }
  int32_t voicesInUse() const { return inUse_; }
  size_t waiting() const { return pending_.size(); }

 private:
  struct Voice {
    int32_t note = -1;     // the note that holds its gate, -1 when none
    int64_t order = 0;     // that note's order
    int64_t start = -1;    // start of its latest note, -1 before the first
    int64_t noteEnd = 0;   // end of its latest note; kNever while it sounds
    int64_t freeFrom = 0;  // clock from which it is free
    bool gateUp = false;   // after the cues given so far
    bool voiceUp = false;
  };

  int32_t pick(int64_t clock) const;
  void cue(int64_t clock, int32_t voice, VoiceCue cue, const Voice& owner);
  VoiceEvent* findPending(int32_t voice, VoiceCue cue);
  void cutBefore(int32_t voice, VoiceCue cue, int64_t latest);
  void sortPending();

  std::vector<Voice> voices_;
  std::vector<VoiceEvent> pending_;
  size_t capacity_;
  int64_t release_;
  int64_t pulse_;
  int64_t nextOrder_ = 0;
  int32_t inUse_ = 0;  // voices new notes may take
};

// The pin changes that one cue gives a module, through emit(pin, value); `key` and `velocity` are
// those of the cue's note.
template <class Emit>
void driveCue(const NoteDrive& drive, const VoiceEvent& event, double key, int velocity,
              Emit&& emit) {
  auto set = [&](int32_t pin, double value) {
    if (pin >= 0) emit(pin, value);
  };
  switch (event.cue) {
    case VoiceCue::start:
      set(drive.velocity, drive.velocityLevel * velocityGain(velocity, drive.sensitivity));
      set(drive.pitch, pitchValue(drive.law, key));
      break;
    case VoiceCue::voiceOn:
      set(drive.voiceGate, 1.0);
      break;
    case VoiceCue::gateOn:
      set(drive.gate, 1.0);
      break;
    case VoiceCue::triggerOn:
      set(drive.trigger, 1.0);
      break;
    case VoiceCue::triggerOff:
      set(drive.trigger, 0.0);
      break;
    case VoiceCue::gateOff:
      set(drive.gate, 0.0);
      break;
    case VoiceCue::voiceOff:
      set(drive.voiceGate, 0.0);
      break;
  }
}

}  // namespace rmhost

// The shared note layer: MIDI messages to notes, and voices for notes given live.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "rmhost/note_layer.h"

namespace {

using rmhost::MidiNotes;
using rmhost::VoiceAllocator;
using rmhost::VoiceCue;
using rmhost::VoiceEvent;

// Records what the messages meant, one line each: "on 0 60 100@5", "off 0@9", "silence 0@12".
struct Log : MidiNotes::Sink {
  std::vector<std::string> lines;
  void noteOn(int64_t clock, int32_t note, int channel, int key, int velocity) override {
    lines.push_back("on " + std::to_string(note) + " " + std::to_string(channel) + ":" +
                    std::to_string(key) + " " + std::to_string(velocity) + "@" +
                    std::to_string(clock));
  }
  void noteOff(int64_t clock, int32_t note) override {
    lines.push_back("off " + std::to_string(note) + "@" + std::to_string(clock));
  }
  void soundOff(int64_t clock, int channel) override {
    lines.push_back("silence " + std::to_string(channel) + "@" + std::to_string(clock));
  }
};

void send(MidiNotes& notes, Log& log, int64_t clock, std::vector<uint8_t> bytes) {
  notes.message(clock, bytes.data(), bytes.size(), log);
}

using Lines = std::vector<std::string>;

TEST(MidiNotes, NotesOfOneKeyOverlapAndEndOldestFirst) {
  MidiNotes notes;
  Log log;
  send(notes, log, 0, {0x90, 60, 100});
  send(notes, log, 5, {0x90, 60, 80});  // the same key again: a second note
  send(notes, log, 7, {0x91, 60, 90});  // another channel is another key
  send(notes, log, 9, {0x80, 60, 0});   // ends the oldest
  send(notes, log, 11, {0x90, 60, 0});  // velocity 0 is a note-off
  send(notes, log, 12, {0x80, 61, 0});  // a key not held: nothing
  EXPECT_EQ(log.lines,
            (Lines{"on 0 0:60 100@0", "on 1 0:60 80@5", "on 2 1:60 90@7", "off 0@9", "off 1@11"}));
  EXPECT_EQ(notes.sounding(), 1);
}

TEST(MidiNotes, PedalHoldsNoteOffsUntilLiftedAndAllNotesOffRespectsIt) {
  MidiNotes notes;
  Log log;
  send(notes, log, 0, {0x90, 60, 100});
  send(notes, log, 1, {0xB0, 64, 127});
  send(notes, log, 2, {0x80, 60, 0});  // held by the pedal
  send(notes, log, 3, {0x90, 62, 100});
  send(notes, log, 4, {0xB0, 123, 0});  // all notes off: 62 is held by the pedal too
  send(notes, log, 5, {0xB1, 64, 0});   // the pedal of another channel
  EXPECT_EQ(notes.sounding(), 2);
  send(notes, log, 6, {0xB0, 64, 10});
  EXPECT_EQ(log.lines, (Lines{"on 0 0:60 100@0", "on 1 0:62 100@3", "off 0@6", "off 1@6"}));
  send(notes, log, 7, {0x90, 64, 100});
  send(notes, log, 8, {0xB0, 123, 0});  // without the pedal it ends them at once
  EXPECT_EQ(log.lines.back(), "off 2@8");
}

TEST(MidiNotes, AllSoundOffEndsItsChannelAtOnce) {
  MidiNotes notes;
  Log log;
  send(notes, log, 0, {0x90, 60, 100});
  send(notes, log, 0, {0x92, 61, 100});
  send(notes, log, 1, {0xB0, 64, 127});
  send(notes, log, 2, {0x80, 60, 0});
  send(notes, log, 3, {0xB0, 120, 0});
  EXPECT_EQ(log.lines, (Lines{"on 0 0:60 100@0", "on 1 2:61 100@0", "off 0@3", "silence 0@3"}));
  notes.endAll(9, log);
  EXPECT_EQ(log.lines.back(), "off 1@9");
  EXPECT_EQ(notes.sounding(), 0);
}

TEST(MidiNotes, MessagesTheNotesCannotFollowAreCountedByKind) {
  MidiNotes notes;
  Log log;
  send(notes, log, 0, {0xE0, 0, 64});
  send(notes, log, 0, {0xE3, 0, 70});
  send(notes, log, 0, {0xC0, 5});
  send(notes, log, 0, {0xD0, 5});
  send(notes, log, 0, {0xA0, 60, 5});
  send(notes, log, 0, {0xB0, 1, 5});
  send(notes, log, 0, {0xB0, 7, 5});
  send(notes, log, 0, {0xF8});
  send(notes, log, 0, {0x90, 60});  // too short to be a note
  const auto& ignored = notes.ignored();
  EXPECT_EQ(ignored.pitchBend, 2);
  EXPECT_EQ(ignored.programChange, 1);
  EXPECT_EQ(ignored.channelPressure, 1);
  EXPECT_EQ(ignored.polyPressure, 1);
  EXPECT_EQ(ignored.controller, 2);
  EXPECT_TRUE(ignored.controllers[1] && ignored.controllers[7] && !ignored.controllers[64]);
  EXPECT_EQ(ignored.system, 2);
  EXPECT_EQ(ignored.total(), 9);
  EXPECT_TRUE(log.lines.empty());
}

TEST(MidiNotes, ANoteBeyondTheCapacityEndsTheOldest) {
  MidiNotes notes(2);
  Log log;
  for (uint8_t key = 60; key < 63; ++key) send(notes, log, key, {0x90, key, 100});
  EXPECT_EQ(log.lines,
            (Lines{"on 0 0:60 100@60", "on 1 0:61 100@61", "off 0@62", "on 2 0:62 100@62"}));
}

TEST(VelocityGain, TopVelocityKeepsTheLevelAndSensitivityScalesTheRange) {
  EXPECT_EQ(rmhost::velocityGain(127, 1.0), 1.0);
  EXPECT_EQ(rmhost::velocityGain(127, 0.3), 1.0);
  EXPECT_EQ(rmhost::velocityGain(1, 0.0), 1.0);
  EXPECT_NEAR(rmhost::velocityGain(64, 1.0), 0.254, 1e-3);
  EXPECT_NEAR(rmhost::velocityGain(64, 0.5), 0.627, 1e-3);
  // Out-of-range sensitivities are clamped, NaN counts as full.
  EXPECT_EQ(rmhost::velocityGain(0, 5.0), 0.0);
  EXPECT_EQ(rmhost::velocityGain(0, std::nan("")), 0.0);
  EXPECT_EQ(rmhost::velocityGain(0, -1.0), 1.0);
}

struct TimedNote {
  int64_t start = 0;
  int64_t end = 0;
};

// Every note given before the first cue is handed out.
std::vector<VoiceEvent> allAtOnce(const std::vector<TimedNote>& notes, VoiceAllocator& voices) {
  // Events in clock order, ends before starts of the same clock.
  std::vector<std::tuple<int64_t, int, int>> calls;  // clock, 0 off / 1 on, note
  for (int n = 0; n < static_cast<int>(notes.size()); ++n) {
    calls.emplace_back(notes[n].start, 1, n);
    calls.emplace_back(notes[n].end, 0, n);
  }
  std::sort(calls.begin(), calls.end());
  for (const auto& [clock, on, note] : calls)
    on ? (void)voices.noteOn(clock, note) : voices.noteOff(clock, note);
  std::vector<VoiceEvent> cues;
  voices.drain(rmhost::kNever, [&](const VoiceEvent& event) { cues.push_back(event); });
  return cues;
}

// A live host: runs of random length, cues handed out one clock behind the notes given.
std::vector<VoiceEvent> live(const std::vector<TimedNote>& notes, VoiceAllocator& voices,
                             std::mt19937& random) {
  std::vector<std::tuple<int64_t, int, int>> calls;
  for (int n = 0; n < static_cast<int>(notes.size()); ++n) {
    calls.emplace_back(notes[n].start, 1, n);
    calls.emplace_back(notes[n].end, 0, n);
  }
  std::sort(calls.begin(), calls.end());
  std::vector<VoiceEvent> cues;
  auto keep = [&](const VoiceEvent& event) { cues.push_back(event); };
  size_t next = 0;
  for (int64_t runStart = 0; next < calls.size() || voices.waiting() > 0;) {
    const int64_t runEnd = runStart + std::uniform_int_distribution<int64_t>(0, 40)(random);
    for (; next < calls.size() && std::get<0>(calls[next]) < runEnd; ++next) {
      const auto& [clock, on, note] = calls[next];
      on ? (void)voices.noteOn(clock, note) : voices.noteOff(clock, note);
    }
    voices.drain(runEnd - 1, keep);
    runStart = runEnd;
    if (runStart > 100000) break;
  }
  return cues;
}

TEST(VoiceAllocator, LiveNotesGetTheSameCuesAsNotesKnownInAdvance) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<TimedNote> notes;
    int64_t clock = 0;
    for (int n = 0; n < 30; ++n) {
      clock += std::uniform_int_distribution<int64_t>(0, 12)(random);
      notes.push_back({clock, clock + std::uniform_int_distribution<int64_t>(1, 60)(random)});
    }
    const int voices = 1 + trial % 4;
    VoiceAllocator batch(voices, trial % 3 * 7, 1 + trial % 5);
    VoiceAllocator player(voices, trial % 3 * 7, 1 + trial % 5);
    const auto expected = allAtOnce(notes, batch);
    const auto played = live(notes, player, random);
    ASSERT_EQ(played.size(), expected.size()) << "trial " << trial;
    for (size_t i = 0; i < played.size(); ++i) {
      ASSERT_EQ(played[i].clock, expected[i].clock) << trial << " " << i;
      ASSERT_EQ(played[i].voice, expected[i].voice) << trial << " " << i;
      ASSERT_EQ(played[i].cue, expected[i].cue) << trial << " " << i;
      ASSERT_EQ(played[i].note, expected[i].note) << trial << " " << i;
    }
  }
}

// The state of each voice's gate, voice gate and trigger after every cue.
struct Signals {
  bool gate = false, voice = false, trigger = false;
};

TEST(VoiceAllocator, GatesAlternateAndEveryVoiceComesToRest) {
  std::mt19937 random(11);
  std::vector<TimedNote> notes;
  int64_t clock = 0;
  for (int n = 0; n < 400; ++n) {
    clock += std::uniform_int_distribution<int64_t>(0, 5)(random);
    notes.push_back({clock, clock + std::uniform_int_distribution<int64_t>(1, 30)(random)});
  }
  VoiceAllocator voices(3, 9, 4);
  std::vector<Signals> state(3);
  for (const VoiceEvent& cue : allAtOnce(notes, voices)) {
    Signals& s = state[static_cast<size_t>(cue.voice)];
    switch (cue.cue) {
      case VoiceCue::start:
        break;
      case VoiceCue::voiceOn:
        EXPECT_FALSE(s.voice);
        s.voice = true;
        break;
      case VoiceCue::gateOn:
        EXPECT_FALSE(s.gate);
        s.gate = true;
        break;
      case VoiceCue::triggerOn:
        s.trigger = true;
        break;
      case VoiceCue::triggerOff:
        EXPECT_TRUE(s.trigger);
        s.trigger = false;
        break;
      case VoiceCue::gateOff:
        EXPECT_TRUE(s.gate);
        s.gate = false;
        break;
      case VoiceCue::voiceOff:
        EXPECT_TRUE(s.voice);
        s.voice = false;
        break;
    }
  }
  for (const Signals& s : state) EXPECT_FALSE(s.gate || s.voice || s.trigger);
}

TEST(VoiceAllocator, SilenceEndsEverythingAtItsClockAndFreesTheVoices) {
  VoiceAllocator voices(2, 1000, 50);
  voices.noteOn(0, 0);
  voices.noteOn(10, 1);
  voices.noteOff(20, 0);  // releasing until 1020
  voices.silence(30);
  std::vector<VoiceEvent> cues;
  voices.drain(rmhost::kNever, [&](const VoiceEvent& event) { cues.push_back(event); });
  for (const VoiceEvent& cue : cues)
    EXPECT_TRUE(cue.cue < VoiceCue::triggerOff || cue.clock <= 30) << cue.clock;
  EXPECT_EQ(voices.noteOn(31, 2), 0);  // both voices are free from 30: the first wins
  voices.noteOff(40, 1);               // the silenced note's late end changes nothing
  EXPECT_EQ(voices.waiting(), 5u);     // note 2: start, voice gate, gate, trigger on and off
}

TEST(VoiceAllocator, VoicesInUseAndReleaseChangeForLaterNotes) {
  VoiceAllocator voices(4, 100, 5);
  voices.setVoices(2);
  EXPECT_EQ(voices.noteOn(0, 0), 0);
  EXPECT_EQ(voices.noteOn(1, 1), 1);
  EXPECT_EQ(voices.noteOn(2, 2), 0);  // two in use: the oldest note's voice, not voice 2
  voices.setVoices(99);               // held to the voices made
  EXPECT_EQ(voices.voicesInUse(), 4);
  EXPECT_EQ(voices.noteOn(3, 3), 2);
  voices.setVoices(0);
  EXPECT_EQ(voices.voicesInUse(), 1);

  voices.setRelease(1000);  // a note ending now keeps its voice 1000 clocks
  voices.noteOff(10, 1);
  int64_t voiceOff = -1;
  voices.drain(rmhost::kNever, [&](const VoiceEvent& event) {
    if (event.voice == 1 && event.cue == VoiceCue::voiceOff) voiceOff = event.clock;
  });
  EXPECT_EQ(voiceOff, 1010);
}

TEST(VoiceAllocator, RefusesNotesBeyondItsCapacityAndKeepsTheRest) {
  VoiceAllocator voices(4, 0, 1, 16);
  int taken = 0;
  for (int n = 0; n < 10; ++n) taken += voices.noteOn(n, n) >= 0;
  EXPECT_LT(taken, 10);
  EXPECT_GT(taken, 0);
  for (int n = 0; n < 10; ++n) voices.noteOff(20, n);
  int gatesOff = 0;
  voices.drain(rmhost::kNever,
               [&](const VoiceEvent& e) { gatesOff += e.cue == VoiceCue::gateOff; });
  EXPECT_EQ(gatesOff, std::min(taken, 4));
}

}  // namespace

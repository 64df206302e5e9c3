// The note layer as the renderer uses it: which voice a note gets, where its gates fall when the
// next note comes early, and the pin changes a voice receives.
#include <gtest/gtest.h>

#include <map>

#include "voices.h"

namespace {

using rmcli::NoteTiming;
using rmcli::PinEvent;
using rmcli::scheduleVoices;
using rmhost::VoiceCue;
using rmhost::VoiceEvent;

// The notes each voice plays, in order.
std::map<int, std::vector<int>> notesByVoice(const std::vector<VoiceEvent>& cues) {
  std::map<int, std::vector<int>> voices;
  for (const auto& cue : cues)
    if (cue.cue == VoiceCue::start) voices[cue.voice].push_back(cue.note);
  return voices;
}

// Clocks of one kind of cue of one note; empty when it has none.
std::vector<int64_t> clocksOf(const std::vector<VoiceEvent>& cues, int note, VoiceCue kind) {
  std::vector<int64_t> clocks;
  for (const auto& cue : cues)
    if (cue.note == note && cue.cue == kind) clocks.push_back(cue.clock);
  return clocks;
}

using Clocks = std::vector<int64_t>;

TEST(Voices, FreeVoiceThatWasFreeLongestPlays) {
  // Release 10: note 0 frees voice 0 at 110, note 1 frees voice 1 at 160.
  const auto cues = scheduleVoices({{0, 100}, {50, 150}, {200, 300}, {400, 500}}, 2, 10, 5);
  EXPECT_EQ(notesByVoice(cues)[0], (std::vector<int>{0, 2}));
  EXPECT_EQ(notesByVoice(cues)[1], (std::vector<int>{1, 3}));
  // Notes that do not overlap keep their own gate and voice ends.
  EXPECT_EQ(clocksOf(cues, 0, VoiceCue::gateOff), Clocks{100});
  EXPECT_EQ(clocksOf(cues, 0, VoiceCue::voiceOff), Clocks{110});
  EXPECT_EQ(clocksOf(cues, 2, VoiceCue::voiceOn), Clocks{200});
}

TEST(Voices, NotesAreTakenInStartOrderTiesInInputOrder) {
  const auto cues = scheduleVoices({{30, 40}, {0, 10}, {0, 10}}, 3, 0, 5);
  EXPECT_EQ(notesByVoice(cues)[0], (std::vector<int>{1}));
  EXPECT_EQ(notesByVoice(cues)[1], (std::vector<int>{2}));
  EXPECT_EQ(notesByVoice(cues)[2], (std::vector<int>{0}));  // voice 2 has been free longest
}

TEST(Voices, ReleasingVoiceIsStolenBeforeHeldOne) {
  // Release 100 keeps both voices taken; at 40 voice 0 (note ended at 10) is taken again.
  const auto cues = scheduleVoices({{0, 10}, {20, 30}, {40, 50}}, 2, 100, 5);
  EXPECT_EQ(notesByVoice(cues)[0], (std::vector<int>{0, 2}));
  EXPECT_EQ(clocksOf(cues, 0, VoiceCue::gateOff), Clocks{10});  // its gate had fallen already
  EXPECT_EQ(clocksOf(cues, 0, VoiceCue::voiceOff), Clocks{});   // the voice gate stays up
  EXPECT_EQ(clocksOf(cues, 2, VoiceCue::voiceOn), Clocks{});
  EXPECT_EQ(clocksOf(cues, 2, VoiceCue::gateOn), Clocks{40});
  EXPECT_EQ(clocksOf(cues, 2, VoiceCue::voiceOff), Clocks{150});
}

TEST(Voices, HeldVoiceThatStartedFirstIsStolenWithAGateDip) {
  const auto cues = scheduleVoices({{0, 100}, {10, 100}, {20, 50}}, 2, 0, 5);
  EXPECT_EQ(notesByVoice(cues)[0], (std::vector<int>{0, 2}));
  EXPECT_EQ(clocksOf(cues, 0, VoiceCue::gateOff), Clocks{19});  // a fresh rise for the new note
  EXPECT_EQ(clocksOf(cues, 0, VoiceCue::voiceOff), Clocks{});
  EXPECT_EQ(clocksOf(cues, 2, VoiceCue::gateOn), Clocks{20});
  // The stolen note's own end no longer touches the voice.
  EXPECT_EQ(clocksOf(cues, 2, VoiceCue::gateOff), Clocks{50});
  // A note ending exactly where the next begins on the same voice dips too.
  const auto legato = scheduleVoices({{0, 10}, {10, 20}}, 1, 0, 5);
  EXPECT_EQ(clocksOf(legato, 0, VoiceCue::gateOff), Clocks{9});
  // A note one sample before the next has no room for a dip: its gate stays up.
  const auto tight = scheduleVoices({{0, 10}, {1, 20}}, 1, 0, 5);
  EXPECT_EQ(clocksOf(tight, 0, VoiceCue::gateOff), Clocks{});
  EXPECT_EQ(clocksOf(tight, 1, VoiceCue::gateOn), Clocks{});
}

TEST(Voices, TriggerPulseEndsBeforeAnEarlyNextNote) {
  const auto cues = scheduleVoices({{0, 100}, {5, 50}}, 1, 0, 10);
  EXPECT_EQ(clocksOf(cues, 0, VoiceCue::triggerOn), Clocks{0});
  EXPECT_EQ(clocksOf(cues, 0, VoiceCue::triggerOff), Clocks{4});
  EXPECT_EQ(clocksOf(cues, 1, VoiceCue::triggerOn), Clocks{5});
  EXPECT_EQ(clocksOf(cues, 1, VoiceCue::triggerOff), Clocks{15});
}

TEST(Voices, PinEventsGiveEachVoiceItsPinChangesInOrder) {
  // Voice 0: a note taken over at 100, then a note released at 200 and free at 250.
  const auto cues = scheduleVoices({{0, 150}, {100, 200}}, 1, 50, 10);
  rmcli::NoteDrive drive;
  drive.pins.pitch = 0;
  drive.pins.law = rmhost::PitchLaw::midi;
  drive.pins.gate = 1;
  drive.pins.voiceGate = 2;
  drive.pins.trigger = 3;
  drive.pins.velocity = 5;
  drive.pins.velocityLevel = 0.8;
  drive.pins.sensitivity = 1.0;
  drive.notePins = {4};
  drive.pinValues = {0.5};
  const std::vector<rmcli::NotePlay> plays = {{60, 127, {0.9}}, {62, 127, {std::nullopt}}};
  const auto events = rmcli::pinEvents(cues, drive, plays, 1);

  const std::vector<PinEvent> expected = {
      {0, 0, 4, 0.9},   {0, 0, 5, 0.8},   {0, 0, 0, 60},    {0, 0, 2, 1.0},
      {0, 0, 1, 1.0},   {0, 0, 3, 1.0},   {10, 0, 3, 0.0},  {99, 0, 1, 0.0},  // pulse end, dip
      {100, 0, 4, 0.5},  // the second note takes the module's own value again
      {100, 0, 5, 0.8}, {100, 0, 0, 62},  {100, 0, 1, 1.0}, {100, 0, 3, 1.0},  // voice gate up
      {110, 0, 3, 0.0}, {200, 0, 1, 0.0}, {250, 0, 2, 0.0},
  };
  ASSERT_EQ(events.size(), expected.size());
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].clock, expected[i].clock) << i;
    EXPECT_EQ(events[i].voice, expected[i].voice) << i;
    EXPECT_EQ(events[i].pin, expected[i].pin) << i;
    EXPECT_EQ(events[i].value, expected[i].value) << i;
  }
}

}  // namespace

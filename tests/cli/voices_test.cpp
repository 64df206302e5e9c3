// The note allocator: which voice a note gets, where its gates fall when the next note comes
// early, and the pin changes a voice receives.
#include <gtest/gtest.h>

#include "voices.h"

namespace {

using rmcli::allocateVoices;
using rmcli::kNever;
using rmcli::NoteTiming;
using rmcli::PinEvent;

std::vector<int> notesOf(const std::vector<rmcli::VoiceNote>& voice) {
  std::vector<int> notes;
  for (const auto& note : voice) notes.push_back(note.note);
  return notes;
}

TEST(Voices, FreeVoiceThatWasFreeLongestPlays) {
  // Release 10: note 0 frees voice 0 at 110, note 1 frees voice 1 at 160.
  const auto voices = allocateVoices({{0, 100}, {50, 150}, {200, 300}, {400, 500}}, 2, 10);
  EXPECT_EQ(notesOf(voices[0]), (std::vector<int>{0, 2}));
  EXPECT_EQ(notesOf(voices[1]), (std::vector<int>{1, 3}));
  // Notes that do not overlap keep their own gate and voice ends.
  EXPECT_EQ(voices[0][0].gateEnd, 100);
  EXPECT_EQ(voices[0][0].voiceEnd, 110);
  EXPECT_EQ(voices[0][0].next, 200);
  EXPECT_EQ(voices[0][1].next, kNever);
}

TEST(Voices, NotesAreTakenInStartOrderTiesInInputOrder) {
  const auto voices = allocateVoices({{30, 40}, {0, 10}, {0, 10}}, 3, 0);
  EXPECT_EQ(notesOf(voices[0]), (std::vector<int>{1}));
  EXPECT_EQ(notesOf(voices[1]), (std::vector<int>{2}));
  EXPECT_EQ(notesOf(voices[2]), (std::vector<int>{0}));  // voice 2 has been free longest
}

TEST(Voices, ReleasingVoiceIsStolenBeforeHeldOne) {
  // Release 100 keeps both voices taken; at 40 voice 0 (note ended at 10) is taken again.
  const auto voices = allocateVoices({{0, 10}, {20, 30}, {40, 50}}, 2, 100);
  EXPECT_EQ(notesOf(voices[0]), (std::vector<int>{0, 2}));
  EXPECT_EQ(voices[0][0].gateEnd, 10);       // its gate had fallen already
  EXPECT_EQ(voices[0][0].voiceEnd, kNever);  // the voice gate stays up into the next note
  EXPECT_EQ(voices[0][1].voiceEnd, 150);
}

TEST(Voices, HeldVoiceThatStartedFirstIsStolenWithAGateDip) {
  const auto voices = allocateVoices({{0, 100}, {10, 100}, {20, 50}}, 2, 0);
  EXPECT_EQ(notesOf(voices[0]), (std::vector<int>{0, 2}));
  EXPECT_EQ(voices[0][0].gateEnd, 19);  // one sample before the new note, for a fresh rise
  EXPECT_EQ(voices[0][0].voiceEnd, kNever);
  // A note ending exactly where the next begins on the same voice dips too.
  const auto legato = allocateVoices({{0, 10}, {10, 20}}, 1, 0);
  EXPECT_EQ(legato[0][0].gateEnd, 9);
  // A note one sample before the next has no room for a dip: its gate stays up.
  const auto tight = allocateVoices({{0, 10}, {1, 20}}, 1, 0);
  EXPECT_EQ(tight[0][0].gateEnd, kNever);
}

TEST(Voices, ScheduleGivesEachVoiceItsPinChangesInOrder) {
  // Voice 0: a note taken over at 100, then a note released at 200 and free at 250.
  const std::vector<std::vector<rmcli::VoiceNote>> voices = {
      {{0, 0, 99, kNever, 100}, {1, 100, 200, 250, kNever}},
      {},
  };
  rmcli::NoteDrive drive;
  drive.pitch = 0;
  drive.gate = 1;
  drive.voiceGate = 2;
  drive.trigger = 3;
  drive.notePins = {4};
  drive.pinValues = {0.5};
  const std::vector<rmcli::NotePlay> plays = {{0.1, {0.9}}, {0.2, {std::nullopt}}};
  const auto events = rmcli::scheduleNotes(voices, drive, plays, 10);

  const std::vector<PinEvent> expected = {
      {0, 0, 4, 0.9},   {0, 0, 0, 0.1},   {0, 0, 2, 1.0},   {0, 0, 1, 1.0},
      {0, 0, 3, 1.0},   {10, 0, 3, 0.0},  {99, 0, 1, 0.0},  // trigger pulse end, gate dip
      {100, 0, 4, 0.5},  // the second note takes the module's own value again
      {100, 0, 0, 0.2}, {100, 0, 1, 1.0}, {100, 0, 3, 1.0},  // voice gate is still up
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

TEST(Voices, TriggerPulseEndsBeforeAnEarlyNextNote) {
  const std::vector<std::vector<rmcli::VoiceNote>> voices = {
      {{0, 0, kNever, kNever, 5}, {1, 5, 50, 50, kNever}}};
  rmcli::NoteDrive drive;
  drive.trigger = 7;
  const auto events = rmcli::scheduleNotes(voices, drive, {{}, {}}, 10);
  std::vector<std::pair<int64_t, double>> trigger;
  for (const auto& event : events) trigger.push_back({event.clock, event.value});
  EXPECT_EQ(trigger,
            (std::vector<std::pair<int64_t, double>>{{0, 1.0}, {4, 0.0}, {5, 1.0}, {15, 0.0}}));
}

}  // namespace

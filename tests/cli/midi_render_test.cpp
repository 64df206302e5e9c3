// MIDI files played by the renderer: the gate edges of every voice fall on the samples computed
// from the files by an independent writer (tests/cli/midi_fixtures.py), routes send tracks and
// channels to parts, and a file renders to the same bytes as a patch listing its notes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "patch.h"
#include "renderer.h"
#include "reported.h"

namespace {

namespace fs = std::filesystem;

const fs::path kFixtures = MIDI_FIXTURES;

struct Note {
  int64_t start = 0;
  int64_t end = 0;
  int key = 0;
  int velocity = 0;
  int channel = 0;
  int track = 0;
};

// The notes midi_fixtures.py meant a file to play, in the order their note-ons come in the file.
std::vector<Note> expectedNotes(const std::string& name) {
  std::ifstream in(kFixtures / (name + ".notes"));
  std::vector<Note> notes;
  Note note;
  while (in >> note.start >> note.end >> note.key >> note.velocity >> note.channel >> note.track)
    notes.push_back(note);
  std::stable_sort(notes.begin(), notes.end(), [](const Note& a, const Note& b) {
    return a.start != b.start ? a.start < b.start : a.track < b.track;
  });
  return notes;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

// Two parts of 32 voices, each voice with a test tone whose gate output goes to one side: the
// left channel counts the open gates of part "a", the right those of "b". With this many voices
// every note has a voice of its own, so each note's gate edges show unchanged.
const std::string kCounter = R"(
[render]
sample_rate = 48000
block_size = 100
length = LENGTH

[[part]]
id = "a"
voices = 32

[[part]]
id = "b"
voices = 32

[[module]]
id = "ta"
plugin = "TONE"
part = "a"
notes = { gate = "gate" }

[[module]]
id = "tb"
plugin = "TONE"
part = "b"
notes = { gate = "gate" }

[[mix]]
source = "ta.gate out"
pan = -1

[[mix]]
source = "tb.gate out"
pan = 1
)";

rmcli::AudioBuffer render(const std::string& text) {
  rmcli::Renderer renderer(rmcli::parsePatch(replaced(text, "TONE", TONE_PATH)),
                           rmcli::PluginFinder({}));
  return renderer.render();
}

std::string counterPatch(int64_t frames, const std::string& midi) {
  return replaced(kCounter, "LENGTH", std::to_string(frames / 48000.0)) + midi;
}

std::string midiTable(const std::string& name, const std::string& more = "") {
  return "[[midi]]\nfile = \"" + (kFixtures / (name + ".mid")).string() + "\"\n" + more;
}

// Open gates per sample of the notes that `plays` picks.
std::vector<float> openGates(const std::vector<Note>& notes, int64_t frames,
                             bool (*plays)(const Note&)) {
  std::vector<float> open(static_cast<size_t>(frames), 0.0f);
  for (const Note& note : notes)
    if (plays(note))
      for (int64_t s = note.start; s < note.end; ++s) open[static_cast<size_t>(s)] += 1.0f;
  return open;
}

// The first sample where a channel differs from the expected gate count, or -1. Part "b" leaks
// into the left channel by cos(pi / 2), about 6e-17, through the constant-power pan.
int64_t firstDifference(const rmcli::AudioBuffer& audio, bool left,
                        const std::vector<float>& expected) {
  for (int64_t s = 0; s < audio.frames; ++s)
    if (std::fabs((left ? audio.left(s) : audio.right(s)) - expected[static_cast<size_t>(s)]) >
        1e-6f)
      return s;
  return -1;
}

TEST(MidiRender, GateEdgesFallOnTheSamplesOfTheFile) {
  // tempo: three tempo changes, two tracks, running status, velocity-0 note-offs, one key twice
  // at once; smpte: SMPTE time; pedal: format 0, the sustain pedal, all notes off and notes held
  // at the end of the file; ignored: messages nothing follows, between the notes.
  for (const char* name : {"tempo", "smpte", "pedal", "ignored"}) {
    SCOPED_TRACE(name);
    const std::vector<Note> notes = expectedNotes(name);
    int64_t last = 0;
    for (const Note& note : notes) last = std::max(last, note.end);
    const int64_t frames = last + 1000;
    const auto audio = render(counterPatch(frames, midiTable(name)));
    ASSERT_EQ(audio.frames, frames);
    EXPECT_EQ(
        firstDifference(audio, true, openGates(notes, frames, [](const Note&) { return true; })),
        -1);
  }
}

TEST(MidiRender, RoutesSendTracksAndChannelsToParts) {
  const std::vector<Note> notes = expectedNotes("tempo");
  const int64_t frames = 170000;
  const auto lead = openGates(notes, frames, [](const Note& n) { return n.track == 2; });
  const auto bass = openGates(notes, frames, [](const Note& n) { return n.track == 3; });
  for (const char* route :
       {"{ track = \"bass\", part = \"b\" }", "{ track = 3, part = \"b\" }",
        "{ channel = 2, part = \"b\" }", "{ track = 3, channel = 2, part = \"b\" }"}) {
    SCOPED_TRACE(route);
    const auto audio =
        render(counterPatch(frames, midiTable("tempo", "route = [" + std::string(route) + "]\n")));
    EXPECT_EQ(firstDifference(audio, true, lead), -1);
    EXPECT_EQ(firstDifference(audio, false, bass), -1);
  }
  // The first matching route wins; notes no route takes go to the table's part; [[note]]
  // tables play beside the file, and the file may start later.
  const auto audio = render(counterPatch(
      frames + 24000, midiTable("tempo",
                                "part = \"b\"\nstart = 0.5\nroute = [{ track = \"lead\", "
                                "part = \"a\" }, { track = 2, part = \"b\" }]\n") +
                          "[[note]]\npart = \"a\"\nstart = 0.25\nlength = 0.125\npitch = 60\n"));
  for (int64_t s = 0; s < frames + 24000; ++s) {
    const float note = s >= 12000 && s < 18000 ? 1.0f : 0.0f;
    const size_t from = static_cast<size_t>(std::max<int64_t>(0, s - 24000));
    const float early = s < 24000 ? 0.0f : 1.0f;
    ASSERT_NEAR(audio.left(s), note + early * lead[from], 1e-6f) << s;
    ASSERT_EQ(audio.right(s), early * bass[from]) << s;
  }
}

TEST(MidiRender, FileFromTheCommandLineTakesThePlaceOfThePatchFiles) {
  const std::string patch =
      counterPatch(48000, midiTable("tempo", "route = [{ track = \"bass\", part = \"b\" }]\n") +
                              midiTable("pedal") +
                              "[[note]]\npart = \"b\"\nstart = 0\n"
                              "length = 1\npitch = 60\n");
  const auto played =
      rmcli::parsePatch(replaced(patch, "TONE", TONE_PATH), {}, kFixtures / "smpte.mid");
  EXPECT_EQ(played.notices, std::vector<std::string>{"smpte.mid: 3 notes"});
  ASSERT_EQ(played.notes.size(), 4u);
  EXPECT_EQ(played.notes[0].part, "b");  // the patch's own note
  for (size_t i = 1; i < played.notes.size(); ++i) EXPECT_EQ(played.notes[i].part, "a");
}

TEST(MidiRender, LengthDefaultsToTheLastNoteEndAndItsRelease) {
  // pedal.mid ends its last notes at the end of its track, 115200; part "a" releases 0.25 s.
  const std::string patch = replaced(kCounter, "length = LENGTH\n", "") + midiTable("pedal");
  const auto plain = rmcli::parsePatch(replaced(patch, "TONE", TONE_PATH));
  EXPECT_DOUBLE_EQ(*plain.render.length, 115200 / 48000.0 + 0.5);
  const auto released = rmcli::parsePatch(
      replaced(replaced(patch, "id = \"a\"\n", "id = \"a\"\nrelease = 0.25\n"), "TONE", TONE_PATH));
  EXPECT_DOUBLE_EQ(*released.render.length, 115200 / 48000.0 + 0.25 + 0.5);
}

// A patch with swarm and vellum, the velocity driving vellum's level.
const std::string kInstrument = R"(
[render]
sample_rate = 48000
block_size = 256
length = 3.6

[[part]]
id = "keys"
voices = 3
release = 0.3

[[module]]
id = "osc"
plugin = "swarm"
part = "keys"
notes = { pitch = "fc_1", voice_gate = "gate", trigger = "sync" }
pins = { poly = 3, oscs = 8, N = 6, fm1_1 = 1.0, a_1 = 0.6, Wave_1 = 1.0 }

[[module]]
id = "env"
plugin = "vellum"
part = "keys"
notes = { gate = "Gate", velocity = "Overall Level" }
pins = { Attack = 10, Decay = 200, Sustain = 0.5, Release = 150, "Overall Level" = 1 }

[[gain]]
id = "vca"
input = ["osc.outputl", "osc.outputr"]
control = "env.Signal Out"

[[mix]]
source = "vca"
gain = 0.3
)";

TEST(MidiRender, FileRendersLikeAPatchListingItsNotes) {
  const fs::path plugins = fs::path(TONE_PATH).parent_path();
  if (!fs::exists(plugins / "libswarm.so") || !fs::exists(plugins / "libvellum.so"))
    GTEST_SKIP() << "swarm and vellum are not built";
  const rmcli::PluginFinder finder({plugins});
  // Three voices for eight notes: voices are stolen, so the order of the notes counts too.
  std::string listed = kInstrument;
  for (const Note& note : expectedNotes("tempo")) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "[[note]]\nstart = %.17g\nlength = %.17g\npitch = %d\n"
                  "velocity = %d\n",
                  note.start / 48000.0, (note.end - note.start) / 48000.0, note.key, note.velocity);
    listed += line;
  }
  const auto fromFile =
      rmcli::Renderer(rmcli::parsePatch(kInstrument + midiTable("tempo")), finder).render();
  const auto fromList = rmcli::Renderer(rmcli::parsePatch(listed), finder).render();
  ASSERT_EQ(fromFile.frames, fromList.frames);
  EXPECT_TRUE(fromFile.samples == fromList.samples);
  double energy = 0.0;
  for (float s : fromFile.samples) energy += static_cast<double>(s) * s;
  EXPECT_GT(energy, 1.0);
}

struct RouteMistake {
  const char* route;
  const char* message;
};

TEST(MidiRender, RoutesToWhatTheFileLacksAreRefusedAtTheirLine) {
  const RouteMistake mistakes[] = {
      {"{ track = \"drums\", part = \"b\" }",
       "tempo.mid has no track named \"drums\" (its tracks: \"tempo\", \"lead\", \"bass\")"},
      {"{ track = \"Lead\", part = \"b\" }",
       "tempo.mid has no track named \"Lead\"; did you mean \"lead\"?"},
      {"{ track = 4, part = \"b\" }", "tempo.mid has 3 tracks; there is no track 4"},
      {"{ channel = 10, part = \"b\" }",
       "tempo.mid has no notes on channel 10 (channels with notes: 1, 2)"},
      {"{ track = \"lead\", channel = 2, part = \"b\" }", "no notes on channel 2 in that track"},
      {"{ track = 1, part = \"bb\" }",
       "the route plays part \"bb\", which is not defined; did you mean \"b\"?"},
      {"{ part = \"b\" }", "a route names a track"},
  };
  for (const RouteMistake& mistake : mistakes) {
    SCOPED_TRACE(mistake.route);
    const std::string patch = counterPatch(
        48000, midiTable("tempo", "route = [\n" + std::string(mistake.route) + "\n]\n"));
    try {
      rmcli::parsePatch(replaced(patch, "TONE", TONE_PATH));
      ADD_FAILURE() << "accepted";
    } catch (const rmcli::PatchError& error) {
      const auto lines = static_cast<int>(std::count(patch.begin(), patch.end(), '\n'));
      EXPECT_TRUE(reported(error, lines - 1, mistake.message))  // the route's own line
          << allMessages(error);
    }
  }
}

// A file that cannot be read is refused at the patch line naming it, with the OS's reason; a
// file that cannot be played is reported against itself, with a note at that line.
TEST(MidiRender, FilesThatCannotBePlayedAreNamedWithTheirLine) {
  const std::string unreadable = counterPatch(48000, midiTable("nonesuch"));
  const int fileLine = static_cast<int>(std::count(unreadable.begin(), unreadable.end(), '\n'));
  try {
    rmcli::parsePatch(replaced(unreadable, "TONE", TONE_PATH));
    ADD_FAILURE() << "accepted";
  } catch (const rmcli::PatchError& error) {
    EXPECT_EQ(allMessages(error),
              "patch:" + std::to_string(fileLine) + ":8: error: cannot read the MIDI file " +
                  (kFixtures / "nonesuch.mid").string() + ": No such file or directory");
  }
  const fs::path farEnd = kFixtures / "far-end.mid";
  try {
    rmcli::parsePatch(replaced(counterPatch(48000, midiTable("far-end")), "TONE", TONE_PATH));
    ADD_FAILURE() << "accepted";
  } catch (const rmcli::PatchError& error) {
    EXPECT_EQ(allMessages(error),
              farEnd.string() +
                  ": error: the file lasts 1398102 s; a render from a MIDI file lasts at most "
                  "3600 s\npatch:" +
                  std::to_string(fileLine) + ":8: note: the MIDI file is named here");
  }
}

}  // namespace

// Reading patch files: the records a patch gives, note names and pitch laws, and the line and
// message of every kind of mistake the parser catches on its own.
#include <gtest/gtest.h>

#include <algorithm>

#include "patch.h"
#include "reported.h"

namespace {

using rmcli::parsePatch;
using rmcli::PatchError;

constexpr const char* kPatch = R"(connect = ["lfo.Signal Out -> env.Sustain"]

[render]
sample_rate = 44100
block_size = 128

[[part]]
id = "keys"
voices = 4
release = 0.5

[[module]]
id = "osc"
plugin = "swarm"
part = "keys"
notes = { pitch = "fc_1", voice_gate = "gate", trigger = "sync" }
pins = { poly = 3, retrigger = "off", a_1 = 0.7 }

[[module]]
id = "env"
plugin = "./lib/libvellum.so"
part = "keys"
notes = { gate = "Gate" }

[[module]]
id = "lfo"
plugin = "vellum"

[[gain]]
id = "vca"
input = ["osc.outputl", "osc.outputr"]
control = "env.Signal Out"

[[mix]]
source = "vca"
gain = 0.5
pan = -0.25

[[note]]
start = 1.0
length = 2.0
pitch = ["C4", 64, "G4"]
pins = { osc.a_1 = 0.9, env."Overall Level" = 2 }
)";

TEST(Patch, ReadsEveryPartOfAPatch) {
  const rmcli::Patch patch = parsePatch(kPatch, "/patches");
  EXPECT_EQ(patch.render.sampleRate, 44100);
  EXPECT_EQ(patch.render.blockSize, 128);
  EXPECT_DOUBLE_EQ(*patch.render.length, 3.5 + 0.5);  // last voice end plus half a second
  ASSERT_EQ(patch.modules.size(), 3u);
  EXPECT_EQ(patch.modules[0].voices, 4);  // from the part
  EXPECT_EQ(patch.modules[2].voices, 1);
  ASSERT_TRUE(patch.modules[0].notes);
  EXPECT_EQ(patch.modules[0].notes->voiceGate, "gate");
  EXPECT_EQ(patch.modules[0].notes->law, rmcli::PitchLaw::fc);
  ASSERT_EQ(patch.modules[0].pins.size(), 3u);
  const auto retrigger = std::find_if(patch.modules[0].pins.begin(), patch.modules[0].pins.end(),
                                      [](const auto& pin) { return pin.pin == "retrigger"; });
  ASSERT_NE(retrigger, patch.modules[0].pins.end());
  EXPECT_EQ(retrigger->label, "off");
  EXPECT_EQ(retrigger->where.line, 17);
  ASSERT_EQ(patch.connections.size(), 1u);
  EXPECT_EQ(patch.connections[0].from.pin, "Signal Out");
  EXPECT_EQ(patch.connections[0].to.node, "env");
  ASSERT_EQ(patch.gains.size(), 1u);
  EXPECT_EQ(patch.gains[0].inputs.size(), 2u);
  EXPECT_DOUBLE_EQ(patch.mix[0].pan, -0.25);
  EXPECT_EQ(patch.directory, "/patches");

  // The chord is three notes that share start, length and pins.
  ASSERT_EQ(patch.notes.size(), 3u);
  EXPECT_EQ(patch.notes[0].key, 60.0);
  EXPECT_EQ(patch.notes[1].key, 64.0);
  EXPECT_EQ(patch.notes[2].key, 67.0);
  for (const auto& note : patch.notes) {
    EXPECT_EQ(note.part, "keys");
    EXPECT_EQ(note.pins.size(), 2u);
  }
  const auto& level =
      patch.notes[0].pins[0].module == "env" ? patch.notes[0].pins[0] : patch.notes[0].pins[1];
  EXPECT_EQ(level.module, "env");
  EXPECT_EQ(level.setting.pin, "Overall Level");
  EXPECT_EQ(level.setting.number, 2.0);
}

TEST(Patch, NoteNamesAndPitchLaws) {
  EXPECT_EQ(rmcli::parseNoteName("C4"), 60.0);
  EXPECT_EQ(rmcli::parseNoteName("A4"), 69.0);
  EXPECT_EQ(rmcli::parseNoteName("F#3"), 54.0);
  EXPECT_EQ(rmcli::parseNoteName("Bb2"), 46.0);
  EXPECT_EQ(rmcli::parseNoteName("bb2"), 46.0);
  EXPECT_EQ(rmcli::parseNoteName("C-1"), 0.0);
  EXPECT_EQ(rmcli::parseNoteName("G9"), 127.0);
  for (const char* bad : {"H2", "C", "C#", "4", "Cx4", "C4.5", "C123"})
    EXPECT_FALSE(rmcli::parseNoteName(bad)) << bad;

  EXPECT_DOUBLE_EQ(rmcli::pitchValue(rmcli::PitchLaw::fc, 69.0), 0.5);
  EXPECT_DOUBLE_EQ(rmcli::pitchValue(rmcli::PitchLaw::fc, 81.0), 0.6);  // an octave is 0.1
  EXPECT_DOUBLE_EQ(rmcli::pitchValue(rmcli::PitchLaw::hz, 57.0), 220.0);
  EXPECT_DOUBLE_EQ(rmcli::pitchValue(rmcli::PitchLaw::midi, 61.5), 61.5);
}

TEST(Patch, PartsListTheirOwnNotes) {
  const auto patch = parsePatch(R"(
[render]
[[part]]
id = "a"
[[part]]
id = "b"
note = [{ start = 0.5, length = 1, pitch = "C4" }, { start = 1, length = 1, pitch = [60, 64] }]
[[module]]
id = "m"
plugin = "p"
part = "b"
[[mix]]
source = "m"
)");
  ASSERT_EQ(patch.notes.size(), 3u);
  for (const auto& note : patch.notes) EXPECT_EQ(note.part, "b");
  EXPECT_EQ(patch.notes[0].where.line, 7);
  EXPECT_DOUBLE_EQ(*patch.render.length, 2.5);
}

TEST(Patch, ParsesTheSameTextTheSameWay) {
  // Notes keep file order; chords keep their written order, so voice allocation is repeatable.
  const auto a = parsePatch(kPatch), b = parsePatch(kPatch);
  ASSERT_EQ(a.notes.size(), b.notes.size());
  for (size_t i = 0; i < a.notes.size(); ++i) EXPECT_EQ(a.notes[i].key, b.notes[i].key);
}

struct BadPatch {
  const char* name;
  const char* text;
  int line;
  const char* message;
};

const char* const kHead = "[render]\nlength = 1\n";  // lines 1-2 of most cases below

const BadPatch kBadPatches[] = {
    {"syntax", "[render]\nlength = 1\nx = = 2\n", 3, ""},
    {"unclosed table", "[render\nlength = 1\n", 1, ""},
    {"missing render", "[[module]]\nid = \"a\"\nplugin = \"p\"\n", 0, "[render]"},
    {"unknown top-level key", "[render]\nlength = 1\nvoices = 3\n", 3, "unknown key \"voices\""},
    {"unknown render key", "[render]\nlenght = 1\n", 2, "unknown key \"lenght\" in [render]"},
    {"rate not a whole number", "[render]\nsample_rate = 44100.5\n", 2, "whole number"},
    {"block size out of range", "[render]\nblock_size = 0\n", 2, "between 1 and 8192"},
    {"length a string", "[render]\nlength = \"10\"\n", 2, "must be a number, not a string"},
    {"no module", "[render]\nlength = 1\n", 0, "no [[module]]"},
    {"module without plugin", "[render]\nlength = 1\n[[module]]\nid = \"a\"\n", 3,
     "needs \"plugin\""},
    {"bad id", "[render]\nlength = 1\n[[module]]\nid = \"a.b\"\nplugin = \"p\"\n", 4,
     "only letters"},
    {"unknown part",
     "[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"p\"\npart = \"x\"\n"
     "[[mix]]\nsource = \"a\"\n",
     3, "part \"x\""},
    {"voices with part",
     "[render]\nlength = 1\n[[part]]\nid = \"x\"\n[[module]]\nid = \"a\"\nplugin = \"p\"\n"
     "part = \"x\"\nvoices = 2\n",
     9, "remove \"voices\""},
    {"notes without part",
     "[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"p\"\nnotes = { gate = \"g\" }\n", 6,
     "belongs to no part"},
    {"unknown pitch law",
     "[render]\nlength = 1\n[[part]]\nid = \"x\"\n[[module]]\nid = \"a\"\nplugin = \"p\"\n"
     "part = \"x\"\nnotes = { pitch = \"f\", law = \"volts\" }\n",
     9, "unknown pitch law \"volts\""},
    {"connection without arrow",
     "connect = [\n  \"a.x => a.y\",\n]\n[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = "
     "\"p\"\n",
     2, "module.pin -> module.pin"},
    {"connection to unknown module",
     "connect = [\"a.x -> b.y\"]\n[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"p\"\n"
     "[[mix]]\nsource = \"a\"\n",
     1, "\"b\", which is no module"},
    {"connect inside a table",
     "[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"p\"\nconnect = [\"a.x -> a.y\"]\n",
     6, "before the first [table]"},
    {"nothing mixed", "[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"p\"\n", 0,
     "add a [[mix]]"},
    {"mix of unknown source",
     "[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"p\"\n[[mix]]\nsource = \"b\"\n", 7,
     "no module or gain"},
    {"pan out of range",
     "[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"p\"\n[[mix]]\nsource = \"a\"\n"
     "pan = 2\n",
     8, "between -1 and 1"},
    {"duplicate name",
     "[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"p\"\n[[gain]]\nid = \"a\"\n"
     "input = \"a\"\ncontrol = \"a\"\n",
     6, "used twice"},
    {"gain reading a later gain",
     "[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"p\"\n[[gain]]\nid = \"g1\"\n"
     "input = \"g2\"\ncontrol = \"a.x\"\n[[gain]]\nid = \"g2\"\ninput = \"a\"\ncontrol = \"a.x\"\n",
     8, "no module or earlier gain"},
    {"note without part",
     "[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"p\"\n[[mix]]\nsource = \"a\"\n"
     "[[note]]\nstart = 0\nlength = 1\npitch = 60\n",
     8, "needs a [[part]]"},
    {"bad note name",
     "[render]\nlength = 1\n[[part]]\nid = \"x\"\n[[module]]\nid = \"a\"\nplugin = \"p\"\n"
     "[[mix]]\nsource = \"a\"\n[[note]]\nstart = 0\nlength = 1\npitch = [\"C4\", \"Q4\"]\n",
     13, "\"Q4\" is no note name"},
    {"part named inside a part's note",
     "[render]\nlength = 1\n[[part]]\nid = \"x\"\nnote = [\n{ part = \"x\", start = 0, length = 1, "
     "pitch = 60 },\n]\n",
     6, "unknown key \"part\" in a note of part \"x\""},
    {"note pin of a module outside the part",
     "[render]\nlength = 1\n[[part]]\nid = \"x\"\n[[module]]\nid = \"a\"\nplugin = \"p\"\n"
     "[[mix]]\nsource = \"a\"\n[[note]]\nstart = 0\nlength = 1\npitch = 60\npins = { a.y = 1 }\n",
     14, "no module of part \"x\""},
};

class BadPatches : public testing::TestWithParam<BadPatch> {};

TEST_P(BadPatches, AreRejectedWithTheirLine) {
  const BadPatch& bad = GetParam();
  try {
    parsePatch(bad.text);
    FAIL() << "accepted";
  } catch (const PatchError& error) {
    EXPECT_TRUE(reported(error, bad.line, bad.message)) << allMessages(error);
  }
}

INSTANTIATE_TEST_SUITE_P(Patch, BadPatches, testing::ValuesIn(kBadPatches),
                         [](const testing::TestParamInfo<BadPatch>& param) {
                           std::string name = param.param.name;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// Every mistake is reported, in the order of the file, each with its place; a table's other
// keys are still read after one of them is wrong.
TEST(Patch, ErrorTextNamesEveryMistakeWithFileLineAndColumn) {
  try {
    parsePatch(std::string(kHead) +
               "[[module]]\nid = \"a\"\nplugin = 3\nvoice = 2\n[[mix]]\nsource = \"b\"\n");
    FAIL();
  } catch (const PatchError& error) {
    EXPECT_EQ(rmcli::describeError("p.toml", error),
              "p.toml:5:10: error: \"plugin\" of [[module]] must be a string, not an integer\n"
              "p.toml:6:1: error: unknown key \"voice\" in [[module]]; did you mean \"voices\"?\n"
              "p.toml:8:10: error: mix source \"b\" is no module or gain");
  }
}

// At most twenty errors, and then a note of how many more there were.
TEST(Patch, ManyMistakesStopAtTwenty) {
  std::string text = std::string(kHead) + "[[module]]\nid = \"a\"\nplugin = \"p\"\n";
  for (int i = 0; i < 25; ++i) text += "[[mix]]\nsource = \"b" + std::to_string(i) + "\"\n";
  try {
    parsePatch(text);
    FAIL();
  } catch (const PatchError& error) {
    ASSERT_EQ(error.diagnostics().size(), 21u);
    EXPECT_EQ(error.diagnostics().back().message, "stopped after 20 errors; 5 more not shown");
  }
}

}  // namespace

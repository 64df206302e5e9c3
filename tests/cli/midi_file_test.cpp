// The MIDI file reader on files written by mido (tests/cli/midi_fixtures.py): message times by
// the tempo map and by SMPTE time, track names, and every damaged file refused at its offset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "diagnostics.h"
#include "midi_file.h"

namespace {

namespace fs = std::filesystem;

const fs::path kFixtures = MIDI_FIXTURES;

// The note starts that midi_fixtures.py computed for a file, in samples at 48 kHz.
std::vector<int64_t> expectedStarts(const std::string& name) {
  std::ifstream in(kFixtures / (name + ".notes"));
  std::vector<int64_t> starts;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    int64_t start = 0;
    fields >> start;
    starts.push_back(start);
  }
  std::sort(starts.begin(), starts.end());
  return starts;
}

std::vector<int64_t> noteOnSamples(const rmcli::MidiFile& file) {
  std::vector<int64_t> starts;
  for (const auto& message : file.messages)
    if ((message.bytes[0] & 0xf0) == 0x90 && message.bytes[2] > 0)
      starts.push_back(std::llround(message.seconds * 48000.0));
  return starts;  // already in time order
}

TEST(MidiFile, TempoMapAndSmpteTimeGiveTheWrittenTimes) {
  for (const char* name : {"tempo", "smpte", "pedal", "ignored"}) {
    SCOPED_TRACE(name);
    const rmcli::MidiFile file = rmcli::loadMidiFile(kFixtures / (std::string(name) + ".mid"));
    EXPECT_EQ(noteOnSamples(file), expectedStarts(name));
    for (size_t i = 1; i < file.messages.size(); ++i)
      ASSERT_LE(file.messages[i - 1].tick, file.messages[i].tick);
  }
  const rmcli::MidiFile tempo = rmcli::loadMidiFile(kFixtures / "tempo.mid");
  EXPECT_EQ(tempo.format, 1);
  EXPECT_EQ(tempo.trackNames, (std::vector<std::string>{"tempo", "lead", "bass"}));
  EXPECT_EQ(tempo.messages.front().track, 1);  // at tick 0: the lead before the bass
  EXPECT_EQ(tempo.messages[1].track, 2);
  const rmcli::MidiFile pedal = rmcli::loadMidiFile(kFixtures / "pedal.mid");
  EXPECT_EQ(pedal.format, 0);
  EXPECT_EQ(std::llround(pedal.endSeconds * 48000.0), 115200);  // the end of track, past the notes
  EXPECT_EQ(rmcli::loadMidiFile(kFixtures / "ignored.mid").systemExclusive, 1);
}

// A hand-made file: a longer header, a chunk of an unknown kind, running status kept across a
// meta event and a track that ends without an end-of-track event.
TEST(MidiFile, ReadsWhatTheFormatAllowsBesideTheCommonCase) {
  // clang-format off
  const std::vector<uint8_t> data = {
      'M', 'T', 'h', 'd', 0, 0, 0, 8, 0, 1, 0, 1, 0, 100, 0xAB, 0xCD,  // 2 extra header bytes
      'X', 'Y', 'Z', 'W', 0, 0, 0, 2, 0x90, 0x90,                        // skipped
      'M', 'T', 'r', 'k', 0, 0, 0, 18,
      0x00, 0x90, 60, 100,              // note on
      0x32, 0xFF, 0x01, 0x01, 'x',      // a text event at tick 50
      0x32, 60, 0,                      // running status: note off at tick 100
      0x00, 0xC3, 7,                    // program change, one data byte
      0x81, 0x00, 0x90};                // delta 128 and a cut message: past the chunk's end
  // clang-format on
  try {
    rmcli::parseMidiFile(data);
    FAIL() << "accepted";
  } catch (const rmcli::MidiFileError& error) {
    EXPECT_EQ(error.offset(), data.size()) << error.what();
    EXPECT_NE(std::string(error.what()).find("past the end of its track chunk"), std::string::npos);
  }
  std::vector<uint8_t> whole(data.begin(), data.end() - 3);
  whole[33] = 15;  // the chunk without the cut message
  const rmcli::MidiFile file = rmcli::parseMidiFile(whole);
  ASSERT_EQ(file.messages.size(), 3u);
  EXPECT_EQ(file.messages[1].tick, 100);
  EXPECT_DOUBLE_EQ(file.messages[1].seconds, 0.5);  // 100 ticks a quarter note at 120 a minute
  EXPECT_EQ(file.messages[1].bytes[0], 0x90);
  EXPECT_EQ(file.messages[1].bytes[2], 0);
  EXPECT_EQ(file.messages[2].size, 2);
  EXPECT_EQ(file.messages[2].channel(), 3);
  EXPECT_DOUBLE_EQ(file.endSeconds, 0.5);
}

TEST(MidiFile, DamagedFilesAreRefusedAtTheirOffset) {
  std::ifstream table(kFixtures / "malformed.tsv");
  int cases = 0;
  for (std::string line; std::getline(table, line); ++cases) {
    std::istringstream fields(line);
    std::string name, offset, message;
    std::getline(fields, name, '\t');
    std::getline(fields, offset, '\t');
    std::getline(fields, message);
    SCOPED_TRACE(name);
    try {
      rmcli::loadMidiFile(kFixtures / (name + ".mid"));
      ADD_FAILURE() << "accepted";
    } catch (const rmcli::MidiFileError& error) {
      EXPECT_EQ(error.offset(), std::stoul(offset)) << error.what();
      EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
    }
  }
  EXPECT_GE(cases, 10);
  EXPECT_THROW(rmcli::loadMidiFile(kFixtures / "nonesuch.mid"), rmcli::FileError);
}

}  // namespace

// Standard MIDI Files (formats 0 and 1): the channel messages of every track on one time line,
// with the tempo map (or the SMPTE time code) turning ticks into seconds.
//
// Read strictly: a damaged file is refused with the byte offset of the damage rather than played
// in part, so that a render never silently loses the end of a song. (Debian's SMF library does
// the opposite, reports no offsets and cannot read SMPTE time, hence this small reader.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace rmcli {

// A file that cannot be read, with the offset of the first byte that makes it so.
class MidiFileError : public std::runtime_error {
 public:
  MidiFileError(size_t offset, const std::string& message)
      : std::runtime_error(message), offset_(offset) {}
  size_t offset() const { return offset_; }

 private:
  size_t offset_;
};

// One channel message (note on/off, controller, program change, pressure, pitch bend).
struct MidiMessage {
  int64_t tick = 0;      // from the start of the file
  double seconds = 0.0;  // by the tempo map
  int track = 0;         // index of its track chunk, from 0
  uint8_t size = 0;
  uint8_t bytes[3] = {};

  int channel() const { return bytes[0] & 0x0f; }  // 0 to 15
};

struct MidiFile {
  int format = 0;
  std::vector<std::string> trackNames;  // per track chunk; empty when the track has no name
  // Every track's messages, by time; at the same time by track, then in file order.
  std::vector<MidiMessage> messages;
  double endSeconds = 0.0;  // where the longest track ends
  int systemExclusive = 0;  // system-exclusive messages, which nothing here can follow
};

// Reads a file held in memory; throws MidiFileError.
MidiFile parseMidiFile(std::span<const uint8_t> data);
// Reads a file from disk; throws FileError when it cannot be read, else as parseMidiFile.
MidiFile loadMidiFile(const std::filesystem::path& file);

}  // namespace rmcli

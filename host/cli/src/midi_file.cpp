#include "midi_file.h"

#include "diagnostics.h"

#include <algorithm>
#include <cstdio>

namespace rmcli {

namespace {

constexpr uint8_t kMeta = 0xff;
constexpr uint8_t kMetaTrackName = 0x03;
constexpr uint8_t kMetaEndOfTrack = 0x2f;
constexpr uint8_t kMetaTempo = 0x51;
constexpr uint8_t kSysEx = 0xf0;
constexpr uint8_t kSysExEscape = 0xf7;
constexpr uint32_t kDefaultTempo = 500000;  // microseconds per quarter note: 120 beats a minute

std::string hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

// Reads bytes of one region of the file (the whole file, or one track chunk), failing with the
// offset of the first byte that is missing.
class Cursor {
 public:
  Cursor(std::span<const uint8_t> data, size_t at) : data_(data), at_(at), end_(data.size()) {}
  Cursor(std::span<const uint8_t> data, size_t at, size_t chunkEnd)
      : data_(data), at_(at), end_(chunkEnd), chunk_(true) {}

  size_t at() const { return at_; }
  bool done() const { return at_ >= end_; }

  uint8_t peek(const char* what) const {
    need(1, what);
    return data_[at_];
  }
  uint8_t byte(const char* what) {
    need(1, what);
    return data_[at_++];
  }
  uint32_t bigEndian(int bytes, const char* what) {
    need(static_cast<size_t>(bytes), what);
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | data_[at_++];
    return value;
  }
  // A variable-length number: seven bits a byte, most significant first, at most four bytes.
  uint32_t variable(const char* what) {
    const size_t start = at_;
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const uint8_t b = byte(what);
      value = value << 7 | (b & 0x7f);
      if (!(b & 0x80)) return value;
    }
    throw MidiFileError(start, std::string(what) + " is a variable-length number over four bytes");
  }
  std::span<const uint8_t> bytes(uint32_t count, const char* what) {
    need(count, what);
    const auto result = data_.subspan(at_, count);
    at_ += count;
    return result;
  }

 private:
  void need(size_t count, const char* what) const {
    if (end_ - std::min(at_, end_) >= count) return;
    throw MidiFileError(at_, std::string(what) + (chunk_ ? " runs past the end of its track chunk"
                                                         : " is cut off by the end of the file"));
  }

  std::span<const uint8_t> data_;
  size_t at_;
  size_t end_;
  bool chunk_ = false;
};

// Ticks to seconds: either a tempo map over quarter-note ticks or a fixed SMPTE rate.
class Clock {
 public:
  struct Tempo {
    int64_t tick = 0;
    uint32_t microseconds = kDefaultTempo;  // per quarter note
  };

  static Clock quarterNotes(int ticksPerQuarter, std::vector<Tempo> tempos) {
    Clock clock;
    clock.ticksPerQuarter_ = ticksPerQuarter;
    std::stable_sort(tempos.begin(), tempos.end(),
                     [](const Tempo& a, const Tempo& b) { return a.tick < b.tick; });
    clock.segments_.push_back({0, 0.0, kDefaultTempo});
    for (const Tempo& tempo : tempos) {
      const double seconds = clock.seconds(tempo.tick);
      if (clock.segments_.back().tick == tempo.tick) clock.segments_.pop_back();
      clock.segments_.push_back({tempo.tick, seconds, tempo.microseconds});
    }
    return clock;
  }

  // 29 frames a second stands for the 29.97 of NTSC drop-frame time code.
  static Clock smpte(int framesPerSecond, int ticksPerFrame) {
    Clock clock;
    const double fps = framesPerSecond == 29 ? 30000.0 / 1001.0 : framesPerSecond;
    clock.secondsPerTick_ = 1.0 / (fps * ticksPerFrame);
    return clock;
  }

  double seconds(int64_t tick) const {
    if (segments_.empty()) return static_cast<double>(tick) * secondsPerTick_;
    const auto after = std::upper_bound(segments_.begin(), segments_.end(), tick,
                                        [](int64_t t, const Segment& s) { return t < s.tick; });
    const Segment& segment = *std::prev(after);
    return segment.seconds + static_cast<double>(tick - segment.tick) * segment.microseconds /
                                 (1e6 * ticksPerQuarter_);
  }

 private:
  struct Segment {
    int64_t tick;
    double seconds;
    uint32_t microseconds;
  };
  std::vector<Segment> segments_;  // a tempo map; empty for SMPTE time
  int ticksPerQuarter_ = 0;
  double secondsPerTick_ = 0.0;
};

struct Header {
  int format = 0;
  int tracks = 0;
  uint16_t division = 0;
  size_t end = 0;  // where the first chunk after the header starts
};

Header readHeader(std::span<const uint8_t> data) {
  Cursor cursor(data, 0);
  const auto tag = cursor.bytes(4, "the file header");
  if (!std::equal(tag.begin(), tag.end(), "MThd"))
    throw MidiFileError(0, "not a Standard MIDI File (it does not start with \"MThd\")");
  const size_t lengthAt = cursor.at();
  const uint32_t length = cursor.bigEndian(4, "the header length");
  if (length < 6)
    throw MidiFileError(
        lengthAt, "the header is " + std::to_string(length) + " bytes long; it needs at least 6");
  if (length > data.size() - cursor.at())
    throw MidiFileError(
        lengthAt, "the header length " + std::to_string(length) + " runs past the end of the file");
  Header header;
  header.end = cursor.at() + length;
  const size_t formatAt = cursor.at();
  header.format = static_cast<int>(cursor.bigEndian(2, "the format"));
  if (header.format > 1)
    throw MidiFileError(formatAt, "format " + std::to_string(header.format) +
                                      (header.format == 2 ? " (independent sequences)" : "") +
                                      " cannot be played; formats 0 and 1 can");
  const size_t tracksAt = cursor.at();
  header.tracks = static_cast<int>(cursor.bigEndian(2, "the track count"));
  if (header.tracks == 0) throw MidiFileError(tracksAt, "the header announces no track");
  if (header.format == 0 && header.tracks != 1)
    throw MidiFileError(tracksAt, "a format 0 file has one track, this header announces " +
                                      std::to_string(header.tracks));
  const size_t divisionAt = cursor.at();
  header.division = static_cast<uint16_t>(cursor.bigEndian(2, "the time division"));
  if (header.division & 0x8000) {
    const int fps = -static_cast<int8_t>(header.division >> 8);
    if (fps != 24 && fps != 25 && fps != 29 && fps != 30)
      throw MidiFileError(divisionAt, "SMPTE time at " + std::to_string(fps) +
                                          " frames a second; only 24, 25, 29 and 30 exist");
    if ((header.division & 0xff) == 0)
      throw MidiFileError(divisionAt + 1, "SMPTE time with 0 ticks a frame");
  } else if (header.division == 0) {
    throw MidiFileError(divisionAt, "the time division is 0 ticks a quarter note");
  }
  return header;
}

Clock clockOf(uint16_t division, std::vector<Clock::Tempo> tempos) {
  if (division & 0x8000) return Clock::smpte(-static_cast<int8_t>(division >> 8), division & 0xff);
  return Clock::quarterNotes(division, std::move(tempos));
}

struct Track {
  std::string name;
  int64_t endTick = 0;
};

// Reads one track chunk's events. Running status is kept across meta and system-exclusive
// events: files written that way are common and the reading is unambiguous.
Track readTrack(Cursor cursor, int index, MidiFile& file, std::vector<Clock::Tempo>& tempos) {
  Track track;
  int64_t tick = 0;
  uint8_t running = 0;
  bool named = false;
  while (!cursor.done()) {
    tick += cursor.variable("a delta time");
    const size_t statusAt = cursor.at();
    uint8_t status = cursor.peek("an event");
    if (status & 0x80) {
      cursor.byte("an event");
    } else if (running) {
      status = running;
    } else {
      throw MidiFileError(
          statusAt, "a running status (data byte " + hex(status) + ") with no status before it");
    }
    if (status < 0xf0) {
      running = status;
      MidiMessage message;
      message.tick = tick;
      message.track = index;
      message.bytes[0] = status;
      message.size = (status & 0xe0) == 0xc0 ? 2 : 3;  // program change, channel pressure: 1 byte
      for (uint8_t i = 1; i < message.size; ++i) {
        const size_t at = cursor.at();
        message.bytes[i] = cursor.byte("a channel message");
        if (message.bytes[i] & 0x80)
          throw MidiFileError(at, "status " + hex(message.bytes[i]) + " where message " +
                                      hex(status) + " needs a data byte");
      }
      file.messages.push_back(message);
    } else if (status == kMeta) {
      const uint8_t type = cursor.byte("a meta event");
      const size_t lengthAt = cursor.at();
      const uint32_t length = cursor.variable("a meta event's length");
      const auto data = cursor.bytes(length, "a meta event");
      if (type == kMetaEndOfTrack) break;
      if (type == kMetaTempo) {
        if (length != 3)
          throw MidiFileError(lengthAt,
                              "a tempo event holds 3 bytes, this one " + std::to_string(length));
        tempos.push_back({tick, static_cast<uint32_t>(data[0] << 16 | data[1] << 8 | data[2])});
      } else if (type == kMetaTrackName && !named) {
        track.name.assign(data.begin(), data.end());
        named = true;
      }
    } else if (status == kSysEx || status == kSysExEscape) {
      cursor.bytes(cursor.variable("a system-exclusive length"), "a system-exclusive message");
      ++file.systemExclusive;
    } else {
      throw MidiFileError(statusAt, "status " + hex(status) + " has no place in a MIDI file");
    }
  }
  track.endTick = tick;
  return track;
}

}  // namespace

MidiFile parseMidiFile(std::span<const uint8_t> data) {
  const Header header = readHeader(data);
  MidiFile file;
  file.format = header.format;
  std::vector<Clock::Tempo> tempos;
  int64_t endTick = 0;
  size_t at = header.end;
  while (static_cast<int>(file.trackNames.size()) < header.tracks) {
    Cursor chunk(data, at);
    const std::string found = std::to_string(file.trackNames.size()) + " of " +
                              std::to_string(header.tracks) + " tracks read";
    if (chunk.done()) throw MidiFileError(at, "the file ends after " + found);
    const auto tag = chunk.bytes(4, "a chunk header");
    const size_t lengthAt = chunk.at();
    const uint32_t length = chunk.bigEndian(4, "a chunk header");
    if (length > data.size() - chunk.at())
      throw MidiFileError(lengthAt, "the chunk length " + std::to_string(length) +
                                        " runs past the end of the file (" + found + ")");
    const size_t end = chunk.at() + length;
    if (std::equal(tag.begin(), tag.end(), "MTrk")) {  // other chunk kinds are skipped
      const int index = static_cast<int>(file.trackNames.size());
      Track track = readTrack(Cursor(data, chunk.at(), end), index, file, tempos);
      file.trackNames.push_back(std::move(track.name));
      endTick = std::max(endTick, track.endTick);
    }
    at = end;
  }
  const Clock clock = clockOf(header.division, std::move(tempos));
  std::stable_sort(file.messages.begin(), file.messages.end(),
                   [](const MidiMessage& a, const MidiMessage& b) { return a.tick < b.tick; });
  for (MidiMessage& message : file.messages) message.seconds = clock.seconds(message.tick);
  file.endSeconds = clock.seconds(endTick);
  const bool notes = std::any_of(file.messages.begin(), file.messages.end(), [](const auto& m) {
    return (m.bytes[0] & 0xf0) == 0x90 && m.bytes[2] > 0;
  });
  if (!notes) throw MidiFileError(data.size(), "the file holds no notes");
  return file;
}

MidiFile loadMidiFile(const std::filesystem::path& file) {
  const std::string bytes = readFile(file, "MIDI file");
  return parseMidiFile({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
}

}  // namespace rmcli

#include "midi_song.h"

#include <algorithm>
#include <cmath>

#include "rmhost/note_layer.h"

namespace rmcli {

namespace {

// Room for every key of every channel at once, and for a good many repeated keys on top; a file
// that holds more drops its oldest notes, as a live instrument would.
constexpr int32_t kHeldNotes = 4096;
constexpr double kLongestFile = 3600.0;  // seconds, like the longest [render] length

bool matches(const MidiRoute& route, const MidiFile& file, int track, int channel) {
  if (route.trackNumber > 0 && route.trackNumber != track + 1) return false;
  if (!route.trackName.empty() && file.trackNames[static_cast<size_t>(track)] != route.trackName)
    return false;
  return route.channel == 0 || route.channel == channel + 1;
}

bool hasNotes(const MidiFile& file, const MidiRoute& route) {
  return std::any_of(file.messages.begin(), file.messages.end(), [&](const MidiMessage& m) {
    return (m.bytes[0] & 0xf0) == 0x90 && m.bytes[2] > 0 &&
           matches(route, file, m.track, m.channel());
  });
}

// A route that names a track or channel the file does not have would play nothing; say so.
void checkRoute(const MidiRoute& route, const MidiFile& file, const std::string& name) {
  const auto& names = file.trackNames;
  if (route.trackNumber > static_cast<int>(names.size()))
    throw PatchError(route.where, name + " has " + std::to_string(names.size()) +
                                      " tracks; there is no track " +
                                      std::to_string(route.trackNumber));
  if (!route.trackName.empty() &&
      std::find(names.begin(), names.end(), route.trackName) == names.end()) {
    std::string hint = didYouMean(route.trackName, names);
    if (hint.empty()) {
      for (const auto& track : names)
        hint += (hint.empty() ? " (its tracks: " : ", ") + inQuotes(track);
      hint += ")";
    }
    throw PatchError(route.where, name + " has no track named " + inQuotes(route.trackName) + hint);
  }
  if (route.channel > 0 && !hasNotes(file, route)) {
    std::string used;
    for (int channel = 1; channel <= 16; ++channel) {
      MidiRoute probe = route;
      probe.channel = channel;
      if (hasNotes(file, probe)) used += (used.empty() ? "" : ", ") + std::to_string(channel);
    }
    throw PatchError(
        route.where,
        name + " has no notes on channel " + std::to_string(route.channel) +
            (route.trackNumber > 0 || !route.trackName.empty() ? " in that track" : "") +
            (used.empty() ? "" : " (channels with notes: " + used + ")"));
  }
}

// Collects the notes the note layer makes of the file's messages, each for the part of the
// first route that takes its note-on.
class Collector : public rmhost::MidiNotes::Sink {
 public:
  struct Note {
    int64_t start = 0;
    int64_t end = -1;
    int key = 0;
    int velocity = 0;
    const std::string* part = nullptr;
  };

  Collector(const MidiDef& midi, const MidiFile& file) : midi_(midi), file_(file) {}

  void setTrack(int track) { track_ = track; }
  const std::vector<Note>& notes() const { return notes_; }
  int soundOffs() const { return soundOffs_; }

  void noteOn(int64_t clock, int32_t note, int channel, int key, int velocity) override {
    const std::string* part = &midi_.part;
    for (const MidiRoute& route : midi_.routes)
      if (matches(route, file_, track_, channel)) {
        part = &route.part;
        break;
      }
    notes_.resize(std::max(notes_.size(), static_cast<size_t>(note) + 1));
    notes_[static_cast<size_t>(note)] = {clock, -1, key, velocity, part};
  }
  void noteOff(int64_t clock, int32_t note) override {
    notes_[static_cast<size_t>(note)].end = clock;
  }
  void soundOff(int64_t, int) override { ++soundOffs_; }

 private:
  const MidiDef& midi_;
  const MidiFile& file_;
  int track_ = 0;
  std::vector<Note> notes_;  // by note number, which counts note-ons
  int soundOffs_ = 0;
};

std::string plural(int64_t count, const std::string& what) {
  return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

std::string summary(const std::string& name, size_t notes, const rmhost::IgnoredMessages& ignored,
                    int systemExclusive, int soundOffs) {
  std::vector<std::string> parts;
  if (ignored.pitchBend) parts.push_back(plural(ignored.pitchBend, "pitch bend"));
  if (ignored.programChange) parts.push_back(plural(ignored.programChange, "program change"));
  if (ignored.controller) {
    std::string numbers;
    for (int number = 0; number < 128; ++number)
      if (ignored.controllers[number])
        numbers += (numbers.empty() ? " (CC " : ", ") + std::to_string(number);
    parts.push_back(plural(ignored.controller, "controller message") + numbers + ")");
  }
  if (ignored.channelPressure)
    parts.push_back(plural(ignored.channelPressure, "channel pressure message"));
  if (ignored.polyPressure) parts.push_back(plural(ignored.polyPressure, "poly pressure message"));
  if (ignored.system + systemExclusive)
    parts.push_back(plural(ignored.system + systemExclusive, "system-exclusive message"));
  std::string line = name + ": " + plural(static_cast<int64_t>(notes), "note");
  for (size_t i = 0; i < parts.size(); ++i) line += (i == 0 ? "; ignored " : ", ") + parts[i];
  // The renderer's voices keep their release after these: only the notes end.
  if (soundOffs > 0)
    line += "; " + plural(soundOffs, "all-sound-off message") +
            " (CC 120) played as note-offs, release tails kept";
  return line;
}

}  // namespace

std::string addMidiNotes(const MidiDef& midi, const MidiFile& file, int sampleRate,
                         std::vector<NoteDef>& notes) {
  const std::string name = midi.file.filename().string();
  for (const MidiRoute& route : midi.routes) checkRoute(route, file, name);
  // Held notes end with the file, so a file that lasts hours (a damaged delta time, often) would
  // make a render of hours.
  if (midi.start + file.endSeconds > kLongestFile) {
    std::vector<Diagnostic> diagnostics{{Diagnostic::Severity::error,
                                         {},
                                         midi.file.string(),
                                         "the file lasts " +
                                             std::to_string(std::lround(file.endSeconds)) +
                                             " s; a render from a MIDI file lasts at most " +
                                             std::to_string(std::lround(kLongestFile)) + " s"}};
    if (midi.fileWhere.line > 0)
      diagnostics.push_back(
          {Diagnostic::Severity::note, midi.fileWhere, {}, "the MIDI file is named here"});
    throw PatchError(std::move(diagnostics));
  }

  const double rate = sampleRate;
  auto clockOf = [&](double seconds) { return std::llround((midi.start + seconds) * rate); };
  rmhost::MidiNotes layer(kHeldNotes);
  Collector collector(midi, file);
  for (const MidiMessage& message : file.messages) {
    collector.setTrack(message.track);
    layer.message(clockOf(message.seconds), message.bytes, message.size, collector);
  }
  layer.endAll(clockOf(file.endSeconds), collector);

  // On the sample grid, so that the renderer's rounding gives back these very clocks.
  for (const Collector::Note& played : collector.notes()) {
    NoteDef note;
    note.part = *played.part;
    note.start = static_cast<double>(played.start) / rate;
    // A note shorter than a sample still sounds, for one sample.
    note.length = static_cast<double>(std::max(played.end, played.start + 1) - played.start) / rate;
    note.key = played.key;
    note.velocity = played.velocity;
    note.where = midi.fileWhere;
    notes.push_back(std::move(note));
  }
  return summary(name, collector.notes().size(), layer.ignored(), file.systemExclusive,
                 collector.soundOffs());
}

}  // namespace rmcli

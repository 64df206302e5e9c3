// The patch file: what to render, read from TOML into plain records.
//
// Parsing checks the file's form (tables, keys, value types and ranges, references between the
// patch's own parts). Whether a pin exists is only known once the plug-ins are loaded; the
// renderer checks that and reports it with the same source positions.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics.h"
#include "rmhost/note_layer.h"

namespace rmcli {

using rmhost::PitchLaw;
using rmhost::pitchValue;

// A constant for one pin: a number, or for a list pin one of its labels.
struct PinSetting {
  std::string pin;
  double number = 0.0;
  std::optional<std::string> label;
  Where where;
};

// Which pins of a module's voices the notes drive.
struct NoteBinding {
  std::string pitch;  // receives the pitch at note start
  PitchLaw law = PitchLaw::fc;
  std::string gate;          // 1 from note start to note end
  std::string voiceGate;     // 1 from note start until the part's release time after the note end
  std::string trigger;       // 1 for a short pulse at note start
  std::string velocity;      // the module's value times the note's velocity gain, at note start
  double sensitivity = 1.0;  // how much velocity changes that value (0: not at all)
  Where where;
};

struct ModuleDef {
  std::string id;
  std::string plugin;  // a plug-in name ("swarm") or a path to a module library
  int voices = 1;      // clones; taken from the part when the module belongs to one
  std::string part;    // the part whose notes this module's voices play, or empty
  std::optional<NoteBinding> notes;
  std::vector<PinSetting> pins;
  Where where;
  Where pluginWhere;
};

// A set of voices that notes are given to; every module of the part has one clone per voice.
struct PartDef {
  std::string id;
  int voices = 1;
  double release = 0.0;  // seconds a voice stays taken after its note ends
  Where where;
};

struct NotePin {
  std::string module;
  PinSetting setting;
};

struct NoteDef {
  std::string part;
  double start = 0.0;   // seconds
  double length = 0.0;  // seconds
  double key = 0.0;     // MIDI note number (69 is A4, 440 Hz)
  int velocity = 127;   // 1..127; 127 leaves a velocity-driven pin at its own value
  std::vector<NotePin> pins;
  Where where;
};

// A signal named in the patch: "module.pin" (one output pin), "module" or "gain" (all its
// outputs).
struct SignalRef {
  std::string node;
  std::string pin;  // empty when the whole node is meant
  Where where;
};

struct Connection {
  SignalRef from;
  SignalRef to;
  Where where;
};

// The host's gain stage: every input channel times the control signal, voice by voice.
struct GainDef {
  std::string id;
  std::vector<SignalRef> inputs;
  SignalRef control;
  Where where;
};

// One strip of the stereo mixer: a mono or stereo source summed over its voices.
struct MixDef {
  SignalRef source;
  double gain = 1.0;
  double pan = 0.0;  // -1 left .. +1 right
  Where where;
};

// Which notes of a MIDI file a part plays: those of a track (by name or by number, 1 being the
// first track chunk), of a channel (1 to 16), or of a channel within a track.
struct MidiRoute {
  std::string trackName;  // empty: any track, or the one numbered
  int trackNumber = 0;    // 0: any track, or the one named
  int channel = 0;        // 0: any channel
  std::string part;
  Where where;
};

// A MIDI file that the patch plays. A note goes to the part of the first route that takes its
// note-on, else to `part`.
struct MidiDef {
  std::filesystem::path file;  // resolved against the patch's directory
  std::string part;            // the first part when the patch does not say
  double start = 0.0;          // seconds in the render where the file begins
  std::vector<MidiRoute> routes;
  Where where;
  Where fileWhere;
};

struct RenderSettings {
  int sampleRate = 48000;
  int blockSize = 256;
  std::optional<double> length;  // seconds; when absent, until the last voice has ended
  double gain = 1.0;
  Where where;
};

struct Patch {
  RenderSettings render;
  std::vector<PartDef> parts;
  std::vector<ModuleDef> modules;
  std::vector<Connection> connections;
  std::vector<GainDef> gains;
  std::vector<MixDef> mix;
  std::vector<NoteDef> notes;  // chords already split into single notes, then MIDI notes
  std::vector<MidiDef> midi;
  std::vector<std::string> notices;  // for the render's summary: what the MIDI files held
  std::filesystem::path directory;   // where relative plug-in paths start
  // The ids of parts, modules and gains whose tables hold mistakes: they count as defined, so
  // that what names them draws no second error.
  std::vector<std::string> unreadable;

  const PartDef* findPart(std::string_view id) const;
  const ModuleDef* findModule(std::string_view id) const;
  const GainDef* findGain(std::string_view id) const;
};

// Parses patch text and reads the MIDI files it names; `midi`, when given, takes the place of the
// patch's [[midi]] tables and plays every note on the first part. Every mistake found goes to
// `problems`; the answer holds what could be read.
Patch readPatch(std::string_view text, Problems& problems, const std::filesystem::path& directory,
                const std::optional<std::filesystem::path>& midi = std::nullopt);
// Reads a patch file the same way; throws FileError when the file cannot be read.
Patch readPatchFile(const std::filesystem::path& file, Problems& problems,
                    const std::optional<std::filesystem::path>& midi = std::nullopt);

// The same, throwing a PatchError with every mistake (and FileError for an unreadable file).
Patch parsePatch(std::string_view text, const std::filesystem::path& directory = {},
                 const std::optional<std::filesystem::path>& midi = std::nullopt);
Patch loadPatch(const std::filesystem::path& file,
                const std::optional<std::filesystem::path>& midi = std::nullopt);

// "C4" (60), "F#3", "Bb2", "A-1": a MIDI note number; nullopt when the text is no note name.
std::optional<double> parseNoteName(std::string_view text);

}  // namespace rmcli

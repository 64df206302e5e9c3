// The factory bank: one TOML file per sound in sounds/, each with its label, family, one-line
// description, the swarm and vellum pin values that differ from the modules' defaults, the
// instrument's own controls and a short demo phrase. From these files the build makes the LV2
// presets of the instrument, a renderer patch per sound and the gallery page of the docs.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace rmfactory {

// A mistake in a sound file, with its place: "sounds/pad.toml:12:3: ...".
class SoundError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A pin value as written: a number, or a list pin's label such as "off".
struct PinValue {
  std::string pin;
  std::variant<double, std::string> value;
  std::string place;  // file:line:column, for messages
};

struct PhraseNote {
  double start = 0.0;
  double length = 1.0;
  std::vector<std::string> pitches;  // as written: "C4", or a MIDI number's text
  int velocity = 100;
};

struct Sound {
  std::string key;  // the file's stem: letters, digits and '-'
  std::string name;
  std::string family;
  std::string description;
  std::vector<PinValue> swarm;
  std::vector<PinValue> vellum;
  int voices = 8;
  double velocity = 0.7;  // velocity sensitivity
  double gain = 0.4;      // linear gain on the sum of the voices
  std::vector<PhraseNote> phrase;

  // A value set for `pin` of the module (swarm or vellum), or null.
  const PinValue* find(const std::string& module, const std::string& pin) const;
  // Seconds a voice stays taken after its note: the instrument's rule for the envelope's release
  // rate (the module's default rate when the sound leaves Release alone).
  double releaseSeconds() const;
  // The end of the phrase's last note.
  double phraseEnd() const;
};

// The sound the LV2 instrument starts with: its defaults are this sound's values.
inline constexpr const char* kDefaultSound = "clear-keys";

// The families, in the order of the gallery, each with its heading.
struct Family {
  const char* key;
  const char* heading;
};
const std::vector<Family>& families();

// Every sounds/<key>.toml of `dir`, sorted by family, then key. Throws SoundError.
std::vector<Sound> loadSounds(const std::filesystem::path& dir);

// The renderer patch that plays the sound's phrase with swarm and vellum as the instrument does.
std::string patchText(const Sound& sound);

// The gallery page: every sound with its description, picture and the commands that play it.
std::string galleryText(const std::vector<Sound>& sounds);

// "0.25", "8", "1e-05": the shortest text that reads back as the same double.
std::string numberText(double value);

}  // namespace rmfactory

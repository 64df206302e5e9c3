#include "sound_bank.h"

#include <toml++/toml.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>

namespace rmfactory {

namespace {

constexpr double kVellumDefaultRelease = 4.0;  // the module's own default rate
constexpr double kLongestRelease = 10.0;       // as the instrument caps a voice's release
constexpr double kReleaseMargin = 0.02;
constexpr double kRenderTail = 0.3;  // seconds rendered after the last voice has ended

std::string placeOf(const std::filesystem::path& file, const toml::source_region& region) {
  return file.string() + ":" + std::to_string(region.begin.line) + ":" +
         std::to_string(region.begin.column);
}

[[noreturn]] void fail(const std::string& place, const std::string& message) {
  throw SoundError(place + ": error: " + message);
}

class Reader {
 public:
  Reader(std::filesystem::path file, const toml::table& table)
      : file_(std::move(file)), table_(table) {}

  std::string place(const toml::node& node) const { return placeOf(file_, node.source()); }
  std::string place() const { return placeOf(file_, table_.source()); }

  const toml::node* optional(std::string_view key) {
    seen_.emplace_back(key);
    return table_.get(key);
  }
  const toml::node& require(std::string_view key) {
    const toml::node* node = optional(key);
    if (node == nullptr) fail(place(), "needs \"" + std::string(key) + "\"");
    return *node;
  }
  std::string text(std::string_view key) {
    const toml::node& node = require(key);
    if (!node.is_string() || node.as_string()->get().empty())
      fail(place(node), "\"" + std::string(key) + "\" must be a text");
    return node.as_string()->get();
  }
  double number(std::string_view key, double fallback, double low, double high) {
    const toml::node* node = optional(key);
    if (node == nullptr) return fallback;
    const auto value = node->value<double>();
    if (!value || !(*value >= low && *value <= high))
      fail(place(*node), "\"" + std::string(key) + "\" must be a number from " + numberText(low) +
                             " to " + numberText(high));
    return *value;
  }
  // Every key of the table must have been read.
  void finish() const {
    for (const auto& [key, node] : table_)
      if (std::find(seen_.begin(), seen_.end(), key.str()) == seen_.end())
        fail(placeOf(file_, key.source()), "unknown key \"" + std::string(key.str()) + "\"");
  }

 private:
  std::filesystem::path file_;
  const toml::table& table_;
  std::vector<std::string> seen_;
};

std::vector<PinValue> readPins(Reader& reader, const std::filesystem::path& file,
                               std::string_view module) {
  std::vector<PinValue> pins;
  const toml::node* node = reader.optional(module);
  if (node == nullptr) return pins;
  if (!node->is_table()) fail(reader.place(*node), "[" + std::string(module) + "] is a table");
  for (const auto& [key, value] : *node->as_table()) {
    PinValue pin{std::string(key.str()), 0.0, placeOf(file, value.source())};
    if (const auto number = value.value<double>(); number && value.is_number())
      pin.value = *number;
    else if (value.is_string())
      pin.value = value.as_string()->get();
    else
      fail(pin.place, "a pin value is a number or a list item's label");
    pins.push_back(std::move(pin));
  }
  return pins;
}

std::vector<std::string> readPitches(const toml::node& node, const std::string& place) {
  std::vector<std::string> pitches;
  auto one = [&](const toml::node& item) {
    if (item.is_string())
      pitches.push_back(item.as_string()->get());
    else if (item.is_number())
      pitches.push_back(numberText(*item.value<double>()));
    else
      fail(place, "a pitch is a note name such as \"C4\" or a MIDI note number");
  };
  if (const toml::array* list = node.as_array()) {
    for (const toml::node& item : *list) one(item);
  } else {
    one(node);
  }
  if (pitches.empty()) fail(place, "a note needs at least one pitch");
  return pitches;
}

Sound readSound(const std::filesystem::path& file) {
  toml::table root;
  try {
    root = toml::parse_file(file.string());
  } catch (const toml::parse_error& error) {
    fail(placeOf(file, error.source()), std::string(error.description()));
  }
  Sound sound;
  sound.key = file.stem().string();
  if (sound.key.empty() || !std::all_of(sound.key.begin(), sound.key.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
      }))
    fail(file.string(), "a sound's file name is lower-case letters, digits and '-'");
  Reader reader(file, root);
  sound.name = reader.text("name");
  sound.family = reader.text("family");
  const auto& known = families();
  if (std::none_of(known.begin(), known.end(),
                   [&](const Family& family) { return sound.family == family.key; }))
    fail(reader.place(reader.require("family")), "unknown family \"" + sound.family + "\"");
  sound.description = reader.text("description");
  sound.swarm = readPins(reader, file, "swarm");
  sound.vellum = readPins(reader, file, "vellum");
  if (const toml::node* node = reader.optional("instrument")) {
    if (!node->is_table()) fail(reader.place(*node), "[instrument] is a table");
    Reader instrument(file, *node->as_table());
    sound.voices = static_cast<int>(instrument.number("voices", sound.voices, 1, 32));
    sound.velocity = instrument.number("velocity", sound.velocity, 0, 1);
    sound.gain = instrument.number("gain", sound.gain, 0, 2);
    instrument.finish();
  }
  const toml::node& phrase = reader.require("phrase");
  if (!phrase.is_array_of_tables() || phrase.as_array()->empty())
    fail(reader.place(phrase), "the phrase is a list of [[phrase]] notes");
  for (const toml::node& entry : *phrase.as_array()) {
    Reader note(file, *entry.as_table());
    PhraseNote played;
    played.start = note.number("start", 0.0, 0.0, 60.0);
    played.length = note.number("length", 1.0, 0.001, 60.0);
    played.pitches = readPitches(note.require("pitch"), note.place());
    played.velocity = static_cast<int>(note.number("velocity", 100, 1, 127));
    note.finish();
    sound.phrase.push_back(std::move(played));
  }
  reader.finish();
  return sound;
}

// A pin name as a TOML key: bare when it can be, else quoted.
std::string keyText(const std::string& name) {
  const bool bare = std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
  });
  return bare ? name : "\"" + name + "\"";
}

std::string valueText(const PinValue& pin) {
  if (const double* number = std::get_if<double>(&pin.value)) return numberText(*number);
  return "\"" + std::get<std::string>(pin.value) + "\"";
}

// A MIDI number stays a number; anything else is a note name, quoted.
std::string pitchText(const std::string& pitch) {
  double number = 0.0;
  const auto [end, error] = std::from_chars(pitch.data(), pitch.data() + pitch.size(), number);
  const bool isNumber = error == std::errc() && end == pitch.data() + pitch.size();
  return isNumber ? pitch : "\"" + pitch + "\"";
}

}  // namespace

const PinValue* Sound::find(const std::string& module, const std::string& pin) const {
  const std::vector<PinValue>& pins = module == "swarm" ? swarm : vellum;
  for (const PinValue& value : pins)
    if (value.pin == pin) return &value;
  return nullptr;
}

double Sound::releaseSeconds() const {
  double rate = kVellumDefaultRelease;
  if (const PinValue* release = find("vellum", "Release"))
    if (const double* number = std::get_if<double>(&release->value)) rate = *number;
  const double seconds = rate > 1.0 / kLongestRelease ? 1.0 / rate : kLongestRelease;
  return seconds + kReleaseMargin;
}

double Sound::phraseEnd() const {
  double end = 0.0;
  for (const PhraseNote& note : phrase) end = std::max(end, note.start + note.length);
  return end;
}

const std::vector<Family>& families() {
  static const std::vector<Family> kFamilies = {
      {"pads", "Pads and ensembles"},
      {"organs", "Organs"},
      {"bells", "Bells and mallets"},
      {"plucks", "Plucks"},
      {"basses", "Basses"},
      {"leads", "Leads"},
      {"drones", "Drones and textures"},
      {"percussion", "Percussion"},
  };
  return kFamilies;
}

std::vector<Sound> loadSounds(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.is_regular_file() && entry.path().extension() == ".toml")
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  std::vector<Sound> sounds;
  for (const auto& file : files) sounds.push_back(readSound(file));
  if (sounds.empty()) throw SoundError(dir.string() + ": error: no sounds (*.toml)");
  const auto familyIndex = [](const Sound& sound) {
    const auto& known = families();
    return std::find_if(known.begin(), known.end(),
                        [&](const Family& f) { return sound.family == f.key; }) -
           known.begin();
  };
  std::stable_sort(sounds.begin(), sounds.end(),
                   [&](const Sound& a, const Sound& b) { return familyIndex(a) < familyIndex(b); });
  return sounds;
}

std::string numberText(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string patchText(const Sound& sound) {
  std::ostringstream out;
  const double release = sound.releaseSeconds();
  const double length = std::ceil((sound.phraseEnd() + release + kRenderTail) * 10.0) / 10.0;
  out << "# " << sound.name << " (" << sound.family << "): " << sound.description << "\n"
      << "# Made from sounds/" << sound.key
      << ".toml by the build's factory-bank generator; edit that file, not this one.\n"
      << "#\n#   rmhost render examples/factory/" << sound.key << ".toml\n\n"
      << "[render]\nsample_rate = 48000\nblock_size = 256\nlength = " << numberText(length)
      << "\n\n"
      << "# One swarm voice and one vellum envelope per instrument voice, as the LV2 instrument "
         "plays them.\n"
      << "[[part]]\nid = \"voice\"\nvoices = " << sound.voices
      << "\nrelease = " << numberText(release) << "\n\n"
      << "[[module]]\nid = \"osc\"\nplugin = \"swarm\"\npart = \"voice\"\n"
      << "notes = { pitch = \"fc_1\", voice_gate = \"gate\", trigger = \"sync\" }\n";
  if (!sound.swarm.empty()) out << "[module.pins]\n";
  for (const PinValue& pin : sound.swarm)
    out << keyText(pin.pin) << " = " << valueText(pin) << "\n";
  out << "\n[[module]]\nid = \"env\"\nplugin = \"vellum\"\npart = \"voice\"\n"
      << "notes = { gate = \"Gate\", velocity = \"Overall Level\", velocity_sensitivity = "
      << numberText(sound.velocity) << " }\n";
  if (!sound.vellum.empty()) out << "[module.pins]\n";
  for (const PinValue& pin : sound.vellum)
    out << keyText(pin.pin) << " = " << valueText(pin) << "\n";
  out << "\n[[gain]]\nid = \"vca\"\ninput = [\"osc.outputl\", \"osc.outputr\"]\n"
      << "control = \"env.Signal Out\"\n\n"
      << "[[mix]]\nsource = \"vca\"\ngain = " << numberText(sound.gain) << "\n";
  for (const PhraseNote& note : sound.phrase) {
    out << "\n[[note]]\nstart = " << numberText(note.start)
        << "\nlength = " << numberText(note.length) << "\npitch = ";
    if (note.pitches.size() == 1) {
      out << pitchText(note.pitches.front());
    } else {
      out << "[";
      for (size_t i = 0; i < note.pitches.size(); ++i)
        out << (i ? ", " : "") << pitchText(note.pitches[i]);
      out << "]";
    }
    out << "\nvelocity = " << note.velocity << "\n";
  }
  return out.str();
}

std::string galleryText(const std::vector<Sound>& sounds) {
  std::ostringstream out;
  out << "# The factory sounds\n\n"
      << "<!-- Made from sounds/*.toml by the build's factory-bank generator; edit those files. "
         "-->\n\n"
      << "Each sound of the factory bank is one file in [`sounds/`](../sounds): its control "
         "values, a\n"
      << "line of description and a short phrase. From it the build makes an LV2 preset of the "
         "instrument\n"
      << "(`lv2info` lists them; in Ardour they are in the plug-in's preset menu), and a patch "
         "in\n"
      << "[`examples/factory/`](../examples/factory) that plays the phrase with swarm and "
         "vellum through\n"
      << "`rmhost render`. Each picture is the spectrogram of that render: time to the right, "
         "frequency\n"
      << "upwards on a logarithmic scale from 20 Hz, brighter for louder.\n\n"
      << "In jalv, the console command `preset URI` loads one, with the URI given under each "
         "sound\n"
      << "(`presets` lists them).";
  for (const Sound& sound : sounds)
    if (sound.key == kDefaultSound)
      out << " The instrument itself starts as **" << sound.name << "**.";
  out << "\n";
  for (const Family& family : families()) {
    bool heading = false;
    for (const Sound& sound : sounds) {
      if (sound.family != family.key) continue;
      if (!heading) out << "\n## " << family.heading << "\n";
      heading = true;
      out << "\n### " << sound.name << "\n\n"
          << sound.description << ".\n\n"
          << "![" << sound.name << "](pictures/sounds/" << sound.key << ".png)\n\n"
          << "`rmhost render examples/factory/" << sound.key << ".toml` · preset "
          << "`https://rackmill.example/lv2/instrument/preset/" << sound.key << "`\n";
    }
  }
  out << "\n## Adding a sound\n\n"
      << "Write `sounds/<key>.toml` (the key in lower-case letters, digits and `-`):\n\n"
      << "```toml\n"
      << "name = \"Glass Pad\"           # the preset's label\n"
      << "family = \"pads\"              # pads, organs, bells, plucks, basses, leads, drones, "
         "percussion\n"
      << "description = \"one line\"\n\n"
      << "[swarm]                       # swarm pins that differ from the module's defaults\n"
      << "oscs = 40\n"
      << "retrigger = \"off\"             # list pins by label or value\n\n"
      << "[vellum]                      # vellum pins likewise\n"
      << "Attack = 1.2\n"
      << "\"Overall Level\" = 1.0\n\n"
      << "[instrument]                  # the instrument's own controls (these are the "
         "defaults)\n"
      << "voices = 8\n"
      << "velocity = 0.7                # velocity sensitivity, 0 to 1\n"
      << "gain = 0.4                    # set it so that the patch peaks near -3 dBFS\n\n"
      << "[[phrase]]                    # the demo phrase: seconds, pitches as in patches\n"
      << "start = 0.0\n"
      << "length = 2.0\n"
      << "pitch = [\"C3\", \"G3\"]\n"
      << "velocity = 100\n"
      << "```\n\n"
      << "Then build (the presets go into the bundle), write the patches and this page again, and "
         "draw the\npictures:\n\n"
      << "```sh\n"
      << "cmake --build build/default\n"
      << "build/default/sounds/rackmill_factory patches sounds examples/factory\n"
      << "build/default/sounds/rackmill_factory gallery sounds docs/sounds.md\n"
      << "scripts/make-pictures.sh\n"
      << "```\n\n"
      << "A test fails while any of them is stale, or while a factory patch peaks outside -6 to "
         "-1 dBFS.\n";
  return out.str();
}

}  // namespace rmfactory

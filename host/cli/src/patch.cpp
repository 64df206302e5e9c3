#include "patch.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <initializer_list>
#include <sstream>

#include <toml++/toml.h>

#include "midi_file.h"
#include "midi_song.h"

namespace rmcli {

const PartDef* Patch::findPart(std::string_view id) const {
  for (const auto& part : parts)
    if (part.id == id) return &part;
  return nullptr;
}

const ModuleDef* Patch::findModule(std::string_view id) const {
  for (const auto& module : modules)
    if (module.id == id) return &module;
  return nullptr;
}

const GainDef* Patch::findGain(std::string_view id) const {
  for (const auto& gain : gains)
    if (gain.id == id) return &gain;
  return nullptr;
}

std::optional<double> parseNoteName(std::string_view text) {
  static constexpr int kSemitone[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
  if (text.size() < 2) return std::nullopt;
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  if (letter < 'A' || letter > 'G') return std::nullopt;
  int semitone = kSemitone[letter - 'A'];
  size_t i = 1;
  if (text[i] == '#') {
    ++semitone;
    ++i;
  } else if (text[i] == 'b' && i + 1 < text.size()) {
    --semitone;
    ++i;
  }
  const bool negative = i < text.size() && text[i] == '-';
  if (negative) ++i;
  if (i == text.size() || text.size() - i > 2) return std::nullopt;
  int octave = 0;
  for (; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    octave = octave * 10 + (text[i] - '0');
  }
  if (negative) octave = -octave;
  return (octave + 1) * 12 + semitone;
}

namespace {

Where whereOf(const toml::source_region& region) {
  return {static_cast<int>(region.begin.line), static_cast<int>(region.begin.column)};
}
Where whereOf(const toml::node& node) {
  return whereOf(node.source());
}

[[noreturn]] void fail(Where where, const std::string& message) {
  throw PatchError(where, message);
}

const char* typeName(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::table:
      return "a table";
    case toml::node_type::array:
      return "an array";
    case toml::node_type::string:
      return "a string";
    case toml::node_type::integer:
      return "an integer";
    case toml::node_type::floating_point:
      return "a number";
    case toml::node_type::boolean:
      return "a boolean";
    default:
      return "a date or time";
  }
}

// One TOML table of the patch, read key by key; rejects keys it does not know, so that a typo
// is reported instead of silently ignored.
class TableReader {
 public:
  // Reports each key it does not know to `problems` and reads on: the table's other keys may
  // hold mistakes of their own.
  TableReader(Problems& problems, const toml::table& table, std::string name,
              std::initializer_list<std::string_view> known)
      : table_(table), name_(std::move(name)) {
    const std::vector<std::string> names(known.begin(), known.end());
    for (auto&& [key, node] : table) {
      if (std::find(known.begin(), known.end(), key.str()) != known.end()) continue;
      const Where where = whereOf(key.source());
      if (key.str() == "connect") {  // TOML puts every key after a [table] header into it
        problems.add(where,
                     "\"connect\" belongs before the first [table] of the file; "
                     "here it falls into " +
                         name_);
        continue;
      }
      std::string hint = didYouMean(key.str(), names);
      if (hint.empty()) {
        hint = " (known keys:";
        for (const std::string& option : names) hint += " " + option;
        hint += ")";
      }
      problems.add(where, "unknown key " + inQuotes(key.str()) + " in " + name_ + hint);
    }
  }

  Where where() const { return whereOf(table_); }
  const std::string& name() const { return name_; }
  const toml::node* find(std::string_view key) const { return table_.get(key); }

  const toml::node& require(std::string_view key) const {
    const toml::node* node = find(key);
    if (!node) fail(where(), name_ + " needs " + inQuotes(key));
    return *node;
  }

  std::string string(std::string_view key) const { return stringOf(require(key), key); }
  std::optional<std::string> optionalString(std::string_view key) const {
    const toml::node* node = find(key);
    if (!node) return std::nullopt;
    return stringOf(*node, key);
  }

  double number(std::string_view key, double lowest, double highest) const {
    return numberOf(require(key), key, lowest, highest);
  }
  double number(std::string_view key, double lowest, double highest, double fallback) const {
    const toml::node* node = find(key);
    return node ? numberOf(*node, key, lowest, highest) : fallback;
  }

  int integer(std::string_view key, int lowest, int highest, int fallback) const {
    const toml::node* node = find(key);
    if (!node) return fallback;
    const auto* value = node->as_integer();
    if (!value) fail(whereOf(*node), what(key) + " must be a whole number, not " + typeName(*node));
    if (value->get() < lowest || value->get() > highest)
      fail(whereOf(*node), what(key) + " must lie between " + std::to_string(lowest) + " and " +
                               std::to_string(highest));
    return static_cast<int>(value->get());
  }

  std::string what(std::string_view key) const { return inQuotes(key) + " of " + name_; }

  std::string stringOf(const toml::node& node, std::string_view key) const {
    const auto* value = node.as_string();
    if (!value) fail(whereOf(node), what(key) + " must be a string, not " + typeName(node));
    return value->get();
  }

  double numberOf(const toml::node& node, std::string_view key, double lowest,
                  double highest) const {
    double result = 0.0;
    if (const auto* i = node.as_integer())
      result = static_cast<double>(i->get());
    else if (const auto* f = node.as_floating_point())
      result = f->get();
    else
      fail(whereOf(node), what(key) + " must be a number, not " + typeName(node));
    if (!(result >= lowest && result <= highest)) {
      std::ostringstream range;
      range << what(key) << " must lie between " << lowest << " and " << highest;
      fail(whereOf(node), range.str());
    }
    return result;
  }

 private:
  const toml::table& table_;
  std::string name_;
};

// Module, gain and part names: letters, digits, '_' and '-', so that "name.pin" stays readable.
std::string identifier(const TableReader& reader) {
  const toml::node& node = reader.require("id");
  std::string id = reader.stringOf(node, "id");
  const bool valid = !id.empty() && std::all_of(id.begin(), id.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
  });
  if (!valid)
    fail(whereOf(node), "id " + inQuotes(id) + " may use only letters, digits, '_' and '-'");
  return id;
}

std::string trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

SignalRef parseSignal(std::string_view text, Where where) {
  SignalRef ref;
  ref.where = where;
  const auto dot = text.find('.');
  ref.node = trim(text.substr(0, dot));
  if (dot != std::string_view::npos) {
    ref.pin = trim(text.substr(dot + 1));
    if (ref.pin.empty()) fail(where, "missing pin name after " + inQuotes(ref.node + "."));
  }
  if (ref.node.empty()) fail(where, "missing module name in " + inQuotes(text));
  return ref;
}

// The children of an array-of-tables key such as [[module]], in file order.
std::vector<const toml::table*> tablesOf(const toml::table& root, std::string_view key) {
  std::vector<const toml::table*> result;
  const toml::node* node = root.get(key);
  if (!node) return result;
  const toml::array* array = node->as_array();
  if (!array)
    fail(whereOf(*node),
         inQuotes(key) + " must be a list of tables ([[" + std::string(key) + "]])");
  for (const toml::node& element : *array) {
    const toml::table* table = element.as_table();
    if (!table) fail(whereOf(element), "each " + inQuotes(key) + " entry must be a table");
    result.push_back(table);
  }
  return result;
}

PinSetting pinSetting(const std::string& pin, const toml::node& node, const std::string& owner) {
  PinSetting setting;
  setting.pin = pin;
  setting.where = whereOf(node);
  if (const auto* i = node.as_integer())
    setting.number = static_cast<double>(i->get());
  else if (const auto* f = node.as_floating_point())
    setting.number = f->get();
  else if (const auto* b = node.as_boolean())
    setting.number = b->get() ? 1.0 : 0.0;
  else if (const auto* s = node.as_string())
    setting.label = s->get();
  else
    fail(setting.where, "pin " + inQuotes(pin) + " of " + owner +
                            " needs a number or a list label, not " + typeName(node));
  if (!setting.label && !std::isfinite(setting.number))
    fail(setting.where, "pin " + inQuotes(pin) + " of " + owner + " needs a finite number");
  return setting;
}

std::vector<PinSetting> pinTable(const toml::node& node, const std::string& owner) {
  const toml::table* table = node.as_table();
  if (!table) fail(whereOf(node), "\"pins\" of " + owner + " must be a table of pin = value");
  std::vector<PinSetting> pins;
  for (auto&& [key, value] : *table)
    pins.push_back(pinSetting(std::string(key.str()), value, owner));
  return pins;
}

RenderSettings parseRender(Problems& problems, const toml::table& root) {
  RenderSettings settings;
  const toml::node* node = root.get("render");
  if (!node) fail({}, "the patch needs a [render] table (sample_rate, block_size, length)");
  const toml::table* table = node->as_table();
  if (!table) fail(whereOf(*node), "\"render\" must be a table");
  TableReader reader(problems, *table, "[render]", {"sample_rate", "block_size", "length", "gain"});
  settings.where = reader.where();
  settings.sampleRate = reader.integer("sample_rate", 8000, 384000, settings.sampleRate);
  settings.blockSize = reader.integer("block_size", 1, 8192, settings.blockSize);
  if (reader.find("length")) settings.length = reader.number("length", 1e-3, 3600.0);
  settings.gain = reader.number("gain", 0.0, 1000.0, settings.gain);
  return settings;
}

PartDef parsePart(Problems& problems, const toml::table& table) {
  TableReader reader(problems, table, "[[part]]", {"id", "voices", "release", "note"});
  PartDef part;
  part.where = reader.where();
  part.id = identifier(reader);
  part.voices = reader.integer("voices", 1, 64, part.voices);
  part.release = reader.number("release", 0.0, 600.0, 0.0);
  return part;
}

NoteBinding parseBinding(Problems& problems, const toml::node& node, const std::string& owner) {
  const toml::table* table = node.as_table();
  if (!table) fail(whereOf(node), "\"notes\" of " + owner + " must be a table");
  TableReader reader(
      problems, *table, "\"notes\" of " + owner,
      {"pitch", "law", "gate", "voice_gate", "trigger", "velocity", "velocity_sensitivity"});
  NoteBinding binding;
  binding.where = reader.where();
  binding.pitch = reader.optionalString("pitch").value_or("");
  binding.gate = reader.optionalString("gate").value_or("");
  binding.voiceGate = reader.optionalString("voice_gate").value_or("");
  binding.trigger = reader.optionalString("trigger").value_or("");
  binding.velocity = reader.optionalString("velocity").value_or("");
  binding.sensitivity = reader.number("velocity_sensitivity", 0.0, 1.0, binding.sensitivity);
  if (const toml::node* law = reader.find("law")) {
    const std::string name = reader.stringOf(*law, "law");
    if (name == "fc")
      binding.law = PitchLaw::fc;
    else if (name == "hz")
      binding.law = PitchLaw::hz;
    else if (name == "midi")
      binding.law = PitchLaw::midi;
    else
      fail(whereOf(*law), "unknown pitch law " + inQuotes(name) + " (fc, hz or midi)");
  }
  if (binding.pitch.empty() && binding.gate.empty() && binding.voiceGate.empty() &&
      binding.trigger.empty() && binding.velocity.empty())
    fail(binding.where,
         reader.name() + " names no pin (pitch, gate, voice_gate, trigger, velocity)");
  return binding;
}

ModuleDef parseModule(Problems& problems, const toml::table& table) {
  TableReader reader(problems, table, "[[module]]",
                     {"id", "plugin", "voices", "part", "notes", "pins"});
  ModuleDef module;
  module.where = reader.where();
  module.id = identifier(reader);
  const std::string owner = "module " + inQuotes(module.id);
  module.plugin = reader.string("plugin");
  module.pluginWhere = whereOf(reader.require("plugin"));
  module.part = reader.optionalString("part").value_or("");
  if (!module.part.empty() && reader.find("voices"))
    fail(whereOf(*reader.find("voices")),
         owner + " takes its voices from part " + inQuotes(module.part) + "; remove \"voices\"");
  module.voices = reader.integer("voices", 1, 64, module.voices);
  if (const toml::node* notes = reader.find("notes")) {
    if (module.part.empty())
      fail(whereOf(*notes), owner + " has \"notes\" but belongs to no part; add part = \"...\"");
    module.notes = parseBinding(problems, *notes, owner);
  }
  if (const toml::node* pins = reader.find("pins")) module.pins = pinTable(*pins, owner);
  return module;
}

std::vector<Connection> parseConnections(const toml::table& root) {
  std::vector<Connection> connections;
  const toml::node* node = root.get("connect");
  if (!node) return connections;
  const toml::array* array = node->as_array();
  if (!array) fail(whereOf(*node), "\"connect\" must be a list of \"module.pin -> module.pin\"");
  for (const toml::node& element : *array) {
    const Where where = whereOf(element);
    const auto* text = element.as_string();
    if (!text) fail(where, "each connection must be a string \"module.pin -> module.pin\"");
    const std::string& line = text->get();
    const auto arrow = line.find("->");
    if (arrow == std::string::npos)
      fail(where, "connection " + inQuotes(line) + " needs the form \"module.pin -> module.pin\"");
    Connection connection;
    connection.where = where;
    connection.from = parseSignal(std::string_view(line).substr(0, arrow), where);
    connection.to = parseSignal(std::string_view(line).substr(arrow + 2), where);
    if (connection.from.pin.empty() || connection.to.pin.empty())
      fail(where, "connection " + inQuotes(line) + " must name a pin on both sides");
    connections.push_back(std::move(connection));
  }
  return connections;
}

GainDef parseGain(Problems& problems, const toml::table& table) {
  TableReader reader(problems, table, "[[gain]]", {"id", "input", "control"});
  GainDef gain;
  gain.where = reader.where();
  gain.id = identifier(reader);
  const toml::node& input = reader.require("input");
  if (const toml::array* list = input.as_array()) {
    for (const toml::node& element : *list)
      gain.inputs.push_back(parseSignal(reader.stringOf(element, "input"), whereOf(element)));
  } else {
    gain.inputs.push_back(parseSignal(reader.stringOf(input, "input"), whereOf(input)));
  }
  if (gain.inputs.empty()) fail(whereOf(input), reader.what("input") + " is empty");
  gain.control = parseSignal(reader.string("control"), whereOf(reader.require("control")));
  return gain;
}

MixDef parseMix(Problems& problems, const toml::table& table) {
  TableReader reader(problems, table, "[[mix]]", {"source", "gain", "pan"});
  MixDef mix;
  mix.where = reader.where();
  mix.source = parseSignal(reader.string("source"), whereOf(reader.require("source")));
  mix.gain = reader.number("gain", 0.0, 1000.0, 1.0);
  mix.pan = reader.number("pan", -1.0, 1.0, 0.0);
  return mix;
}

MidiRoute parseRoute(Problems& problems, const toml::node& node) {
  const toml::table* table = node.as_table();
  if (!table)
    fail(whereOf(node), "each route of [[midi]] is a table like { track = 2, part = \"bass\" }");
  TableReader reader(problems, *table, "a route of [[midi]]", {"track", "channel", "part"});
  MidiRoute route;
  route.where = reader.where();
  route.part = reader.string("part");
  if (const toml::node* track = reader.find("track")) {
    if (track->is_string())
      route.trackName = reader.stringOf(*track, "track");
    else
      route.trackNumber = reader.integer("track", 1, 65535, 0);
  }
  route.channel = reader.integer("channel", 1, 16, 0);
  if (route.trackName.empty() && route.trackNumber == 0 && route.channel == 0)
    fail(route.where, "a route names a track (by name or number), a channel (1 to 16) or both");
  return route;
}

MidiDef parseMidi(Problems& problems, const toml::table& table,
                  const std::filesystem::path& directory) {
  TableReader reader(problems, table, "[[midi]]", {"file", "part", "start", "route"});
  MidiDef midi;
  midi.where = reader.where();
  midi.fileWhere = whereOf(reader.require("file"));
  midi.file = reader.string("file");
  if (midi.file.is_relative()) midi.file = directory / midi.file;
  midi.part = reader.optionalString("part").value_or("");
  midi.start = reader.number("start", 0.0, 3600.0, 0.0);
  if (const toml::node* routes = reader.find("route")) {
    const toml::array* list = routes->as_array();
    if (!list) fail(whereOf(*routes), "\"route\" of [[midi]] is a list of tables");
    for (const toml::node& route : *list) midi.routes.push_back(parseRoute(problems, route));
  }
  return midi;
}

std::vector<std::string> idsOf(const auto& entries) {
  std::vector<std::string> ids;
  for (const auto& entry : entries) ids.push_back(entry.id);
  return ids;
}

// Reads one MIDI file and adds its notes to the patch's notes. A damaged file is reported
// against the file itself, with the byte offset, and with a note at the patch line naming it.
void addMidiFile(Patch& patch, MidiDef& midi) {
  const std::vector<std::string> parts = idsOf(patch.parts);
  if (midi.part.empty()) {
    if (patch.parts.empty()) fail(midi.where, "a MIDI file needs a [[part]] to play it");
    midi.part = patch.parts.front().id;
  }
  if (!patch.findPart(midi.part))
    fail(midi.where, "[[midi]] plays part " + inQuotes(midi.part) + ", which is not defined" +
                         didYouMean(midi.part, parts));
  for (const MidiRoute& route : midi.routes)
    if (!patch.findPart(route.part))
      fail(route.where, "the route plays part " + inQuotes(route.part) + ", which is not defined" +
                            didYouMean(route.part, parts));
  const bool namedInPatch = midi.fileWhere.line > 0;
  MidiFile file;
  try {
    file = loadMidiFile(midi.file);
  } catch (const FileError& error) {
    if (namedInPatch) fail(midi.fileWhere, error.what());
    throw PatchError({Diagnostic{Diagnostic::Severity::error, {}, "rmhost", error.what()}});
  } catch (const MidiFileError& error) {
    std::vector<Diagnostic> diagnostics{
        {Diagnostic::Severity::error,
         {},
         midi.file.string(),
         "byte " + std::to_string(error.offset()) + ": " + error.what()}};
    if (namedInPatch)
      diagnostics.push_back(
          {Diagnostic::Severity::note, midi.fileWhere, {}, "the MIDI file is named here"});
    throw PatchError(std::move(diagnostics));
  }
  patch.notices.push_back(addMidiNotes(midi, file, patch.render.sampleRate, patch.notes));
}

double noteKey(const toml::node& node) {
  if (const auto* name = node.as_string()) {
    const auto key = parseNoteName(name->get());
    if (!key) fail(whereOf(node), inQuotes(name->get()) + " is no note name (like C4, F#3 or Bb2)");
    if (*key < 0 || *key > 127)
      fail(whereOf(node), "note " + inQuotes(name->get()) + " is out of range");
    return *key;
  }
  double key = 0.0;
  if (const auto* i = node.as_integer())
    key = static_cast<double>(i->get());
  else if (const auto* f = node.as_floating_point())
    key = f->get();
  else
    fail(whereOf(node),
         "a pitch is a MIDI note number or a note name, not " + std::string(typeName(node)));
  if (!(key >= 0.0 && key <= 127.0))
    fail(whereOf(node), "MIDI note number must lie between 0 and 127");
  return key;
}

// One [[note]] entry, or one entry of a part's own note list (`part` given, and then not
// written); an array of pitches gives a chord of notes that share everything else.
void parseNote(Problems& problems, const toml::table& table, std::vector<NoteDef>& notes,
               const std::string& part) {
  const bool inPart = !part.empty();
  TableReader reader(problems, table, inPart ? "a note of part " + inQuotes(part) : "[[note]]",
                     inPart ? std::initializer_list<std::string_view>{"start", "length", "pitch",
                                                                      "velocity", "pins"}
                            : std::initializer_list<std::string_view>{"part", "start", "length",
                                                                      "pitch", "velocity", "pins"});
  NoteDef note;
  note.where = reader.where();
  note.part = inPart ? part : reader.optionalString("part").value_or("");
  note.start = reader.number("start", 0.0, 3600.0);
  note.length = reader.number("length", 0.0, 3600.0);
  note.velocity = reader.integer("velocity", 1, 127, note.velocity);
  if (const toml::node* pins = reader.find("pins")) {
    const toml::table* modules = pins->as_table();
    if (!modules) fail(whereOf(*pins), "\"pins\" of a note is a table of module.pin = value");
    for (auto&& [module, values] : *modules) {
      const std::string owner = "module " + inQuotes(module.str());
      if (!values.is_table())
        fail(whereOf(values), "note pins are written module.pin = value (for " + owner + ")");
      for (const PinSetting& setting : pinTable(values, owner))
        note.pins.push_back({std::string(module.str()), setting});
    }
  }
  const toml::node& pitch = reader.require("pitch");
  if (const toml::array* chord = pitch.as_array()) {
    if (chord->empty()) fail(whereOf(pitch), "a chord needs at least one pitch");
    for (const toml::node& element : *chord) {
      NoteDef single = note;
      single.key = noteKey(element);
      single.where = whereOf(element);
      notes.push_back(std::move(single));
    }
  } else {
    note.key = noteKey(pitch);
    notes.push_back(std::move(note));
  }
}

void checkTopLevel(Problems& problems, const toml::table& root) {
  static const std::vector<std::string> kKnown = {"render", "part", "module", "connect",
                                                  "gain",   "mix",  "note",   "midi"};
  for (auto&& [key, node] : root) {
    if (std::find(kKnown.begin(), kKnown.end(), key.str()) != kKnown.end()) continue;
    std::string hint = didYouMean(key.str(), kKnown);
    if (hint.empty())
      hint = " (a patch has render, part, module, connect, gain, mix, note and midi)";
    problems.add(whereOf(key.source()), "unknown key " + inQuotes(key.str()) + hint);
  }
}

// Cross-references within the patch: unique names, parts, modules and gains that exist. Names
// of tables that could not be read count as defined: their mistakes are already reported.
void checkReferences(const Patch& patch, Problems& problems) {
  const auto unreadable = [&](const std::string& id) {
    return std::find(patch.unreadable.begin(), patch.unreadable.end(), id) !=
           patch.unreadable.end();
  };
  const std::vector<std::string> parts = idsOf(patch.parts);
  const std::vector<std::string> modules = idsOf(patch.modules);
  std::vector<std::string> nodes;
  auto claim = [&](const std::string& id, Where where) {
    if (std::find(nodes.begin(), nodes.end(), id) != nodes.end())
      problems.add(where, "the name " + inQuotes(id) + " is used twice");
    nodes.push_back(id);
  };
  auto partMissing = [&](const std::string& id) { return !patch.findPart(id) && !unreadable(id); };
  for (size_t i = 0; i < patch.parts.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (patch.parts[i].id == patch.parts[j].id)
        problems.add(patch.parts[i].where,
                     "part " + inQuotes(patch.parts[i].id) + " is defined twice");
  for (const auto& module : patch.modules) {
    claim(module.id, module.where);
    if (!module.part.empty() && partMissing(module.part))
      problems.add(module.where, "module " + inQuotes(module.id) + " names part " +
                                     inQuotes(module.part) + ", which is not defined" +
                                     didYouMean(module.part, parts));
  }
  for (const auto& connection : patch.connections)
    for (const SignalRef* ref : {&connection.from, &connection.to})
      if (!patch.findModule(ref->node) && !unreadable(ref->node))
        problems.add(
            ref->where,
            "connection names " + inQuotes(ref->node) + ", which is no module" +
                (patch.findGain(ref->node) ? " (a gain can only feed the mix or another gain)"
                                           : didYouMean(ref->node, modules)));
  std::vector<std::string> signals = modules;  // what a gain may read: modules, earlier gains
  for (const auto& gain : patch.gains) {
    auto known = [&](const SignalRef& ref) {
      if (patch.findModule(ref.node) || unreadable(ref.node)) return;
      const GainDef* other = patch.findGain(ref.node);
      if (other && other < &gain && ref.pin.empty()) return;
      problems.add(ref.where, "gain " + inQuotes(gain.id) + " reads " + inQuotes(ref.node) +
                                  ", which is no module or earlier gain" +
                                  didYouMean(ref.node, signals));
    };
    for (const auto& input : gain.inputs) known(input);
    known(gain.control);
    claim(gain.id, gain.where);
    signals.push_back(gain.id);
  }
  if (patch.mix.empty())
    problems.add({}, "nothing reaches the output: add a [[mix]] entry with source = \"...\"");
  for (const auto& mix : patch.mix) {
    const bool gain = patch.findGain(mix.source.node) && mix.source.pin.empty();
    if (!gain && !patch.findModule(mix.source.node) && !unreadable(mix.source.node))
      problems.add(mix.source.where, "mix source " + inQuotes(mix.source.node) +
                                         " is no module or gain" +
                                         didYouMean(mix.source.node, signals));
  }
  for (const auto& note : patch.notes) {
    if (note.part.empty()) continue;  // reported where the part could not be chosen
    if (partMissing(note.part)) {
      problems.add(note.where, "note plays part " + inQuotes(note.part) + ", which is not defined" +
                                   didYouMean(note.part, parts));
      continue;
    }
    std::vector<std::string> ofPart;
    for (const auto& module : patch.modules)
      if (module.part == note.part) ofPart.push_back(module.id);
    for (const auto& pin : note.pins) {
      const ModuleDef* module = patch.findModule(pin.module);
      if ((!module && !unreadable(pin.module)) || (module && module->part != note.part))
        problems.add(pin.setting.where, "note sets a pin of " + inQuotes(pin.module) +
                                            ", which is no module of part " + inQuotes(note.part) +
                                            didYouMean(pin.module, ofPart));
    }
  }
}

// Without an explicit length the render runs until the last voice has ended, plus half a
// second for what rings on.
double defaultLength(const Patch& patch) {
  if (patch.notes.empty())
    fail(patch.render.where, "[render] needs a \"length\" when the patch has no notes");
  double end = 0.0;
  for (const auto& note : patch.notes)
    end = std::max(end, note.start + note.length + patch.findPart(note.part)->release);
  return end + 0.5;
}

}  // namespace

Patch readPatch(std::string_view text, Problems& problems, const std::filesystem::path& directory,
                const std::optional<std::filesystem::path>& midi) {
  Patch patch;
  patch.directory = directory;
  toml::table root;
  try {
    root = toml::parse(text);
  } catch (const toml::parse_error& error) {
    problems.add(whereOf(error.source()), std::string(error.description()));
    return patch;
  }
  checkTopLevel(problems, root);
  // Each table is read on its own, so that one table's mistake does not hide the next one's.
  auto tables = [&](const toml::table& parent, std::string_view key) {
    std::vector<const toml::table*> result;
    problems.attempt([&] { result = tablesOf(parent, key); });
    return result;
  };
  auto read = [&](const toml::table& table, auto&& step) {
    if (problems.attempt(step)) return true;
    if (const auto id = table["id"].value<std::string>()) patch.unreadable.push_back(*id);
    return false;
  };
  // The MIDI files' notes need the sample rate and the parts.
  bool midiReady = problems.attempt([&] { patch.render = parseRender(problems, root); });
  for (const toml::table* table : tables(root, "part")) {
    if (!read(*table, [&] { patch.parts.push_back(parsePart(problems, *table)); })) {
      midiReady = false;
      continue;
    }
    for (const toml::table* note : tables(*table, "note"))
      problems.attempt([&] { parseNote(problems, *note, patch.notes, patch.parts.back().id); });
  }
  const auto moduleTables = tables(root, "module");
  for (const toml::table* table : moduleTables)
    read(*table, [&] { patch.modules.push_back(parseModule(problems, *table)); });
  if (moduleTables.empty() && (!root.get("module") || root.get("module")->is_array()))
    problems.add({}, "the patch has no [[module]]");
  problems.attempt([&] { patch.connections = parseConnections(root); });
  for (const toml::table* table : tables(root, "gain"))
    read(*table, [&] { patch.gains.push_back(parseGain(problems, *table)); });
  for (const toml::table* table : tables(root, "mix"))
    problems.attempt([&] { patch.mix.push_back(parseMix(problems, *table)); });
  for (const toml::table* table : tables(root, "note"))
    problems.attempt([&] { parseNote(problems, *table, patch.notes, ""); });
  for (auto& note : patch.notes) {
    if (!note.part.empty()) continue;
    if (patch.parts.size() == 1 && patch.unreadable.empty())
      note.part = patch.parts.front().id;
    else if (patch.parts.empty() && patch.unreadable.empty())
      problems.add(note.where, "a note needs a [[part]] to play it");
    else if (patch.parts.size() > 1)
      problems.add(note.where,
                   "the patch has several parts; say which one plays this note (part = \"...\")");
  }
  for (auto& module : patch.modules)
    if (const PartDef* part = patch.findPart(module.part)) module.voices = part->voices;
  for (const toml::table* table : tables(root, "midi"))
    problems.attempt([&] { patch.midi.push_back(parseMidi(problems, *table, directory)); });
  if (midi) {  // a file given on the command line plays every note on the first part
    patch.midi.assign(1, MidiDef{});
    patch.midi.front().file = *midi;
  }
  if (midiReady)
    for (MidiDef& entry : patch.midi) problems.attempt([&] { addMidiFile(patch, entry); });
  checkReferences(patch, problems);
  if (!patch.render.length && problems.empty())
    problems.attempt([&] { patch.render.length = defaultLength(patch); });
  return patch;
}

Patch parsePatch(std::string_view text, const std::filesystem::path& directory,
                 const std::optional<std::filesystem::path>& midi) {
  Problems problems;
  Patch patch = readPatch(text, problems, directory, midi);
  problems.throwIfAny();
  return patch;
}

Patch readPatchFile(const std::filesystem::path& file, Problems& problems,
                    const std::optional<std::filesystem::path>& midi) {
  return readPatch(readFile(file, "patch file"), problems, file.parent_path(), midi);
}

Patch loadPatch(const std::filesystem::path& file,
                const std::optional<std::filesystem::path>& midi) {
  Problems problems;
  Patch patch = readPatchFile(file, problems, midi);
  problems.throwIfAny();
  return patch;
}

}  // namespace rmcli

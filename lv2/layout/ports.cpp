#include "layout/ports.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <set>

#include "rmhost/pin_metadata.h"

namespace rmlv2 {

namespace {

// The values the instrument starts with: those of the factory sound "Clear Keys"
// (sounds/clear-keys.toml; a test holds them to its preset), the module's own default where that
// sound leaves a pin alone. The plug-ins of one module start from the module's own defaults.
struct InstrumentDefault {
  Module module;
  const char* pin;
  float value;
};

const InstrumentDefault kInstrumentDefaults[] = {
    {Module::swarm, "fm1_1", 1.0f},
    {Module::swarm, "N", 12.0f},
    {Module::swarm, "a_1", 0.6f},
    {Module::swarm, "poly", 16.0f},
    {Module::swarm, "Wave_1", 1.0f},
    {Module::swarm, "pitchspread", 0.00008f},
    {Module::swarm, "a_2", 0.5f},
    {Module::swarm, "phasespread", 0.4f},
    {Module::swarm, "oscs", 8.0f},
    {Module::swarm, "retrigger", 1.0f},
    {Module::vellum, "Attack", 300.0f},
    {Module::vellum, "Decay", 1.2f},
    {Module::vellum, "Sustain", 0.35f},
    {Module::vellum, "Release", 4.0f},
    {Module::vellum, "Overall Level", 1.0f},
    {Module::vellum, "DecayForm", -0.4f},
    {Module::vellum, "ReleaseForm", -0.3f},
};

std::optional<float> instrumentDefault(Module module, const std::string& pin) {
  for (const InstrumentDefault& entry : kInstrumentDefaults) {
    if (entry.module == module && pin == entry.pin) return entry.value;
  }
  return std::nullopt;
}

// Pins that notes or CV drive rather than controls.
bool drivenPin(Module module, const std::string& name) {
  if (module == Module::swarm) return name == "fc_1" || name == "gate" || name == "sync";
  return name == "Gate";
}

// What a control port shows beyond the pin's own description.
struct PinRange {
  float minimum;
  float maximum;
  std::string unit;  // an LV2 unit name, or empty
  std::string comment;
};

// The LV2 unit of a unit as people write it; empty when LV2 has none.
std::string lv2Unit(const std::string& unit) {
  static const std::pair<const char*, const char*> kUnits[] = {
      {"Hz", "hz"},
      {"hz", "hz"},
      {"kHz", "khz"},
      {"khz", "khz"},
      {"s", "s"},
      {"ms", "ms"},
      {"dB", "db"},
      {"db", "db"},
      {"%", "pc"},
      {"pc", "pc"},
      {"semitones", "semitone12TET"},
      {"semitone12TET", "semitone12TET"},
      {"cents", "cent"},
      {"cent", "cent"},
      {"octaves", "oct"},
      {"oct", "oct"},
      {"bpm", "bpm"},
      {"midiNote", "midiNote"},
  };
  for (const auto& [written, name] : kUnits) {
    if (unit == written) return name;
  }
  return "";
}

// The range without metadata: wide enough for any sensible setting of a pin (levels, rates in
// segments per second, counts), and finite, so that a host can reach every setting that makes
// sense and never sends a value a validated module has not been tried with.
PinRange wideRange(const rmhost::PinInfo& pin) {
  if (pin.datatype == dtByte) return {0.0f, 255.0f, "", ""};
  return {-1000.0f, 1000.0f, "", ""};
}

// The range, unit and comment of a pin: from the metadata file's notes, else from the host
// library's table of our modules' pins, else wide defaults.
PinRange rangeOf(const rmhost::ModuleInfo& info, const rmhost::PinInfo& pin,
                 const PinNotes* notes) {
  PinRange range = wideRange(pin);
  std::string unit;
  if (notes != nullptr) {
    if (notes->minimum) range.minimum = static_cast<float>(*notes->minimum);
    if (notes->maximum) range.maximum = static_cast<float>(*notes->maximum);
    range.comment = notes->description;
    unit = notes->unit;
  } else if (const rmhost::ModuleMetadata* table = rmhost::findModuleMetadata(info.id)) {
    if (const rmhost::PinMetadata* entry = table->find(pin.name)) {
      range.minimum = static_cast<float>(entry->minimum);
      range.maximum = static_cast<float>(entry->maximum);
      range.comment = std::string(entry->description);
      unit = std::string(entry->unit);
    }
  }
  if (!(range.minimum <= range.maximum) || !std::isfinite(range.minimum) ||
      !std::isfinite(range.maximum)) {
    range.minimum = wideRange(pin).minimum;
    range.maximum = wideRange(pin).maximum;
  }
  range.unit = lv2Unit(unit);
  if (range.unit.empty() && !unit.empty()) {
    range.comment += range.comment.empty() ? "in " + unit : " (in " + unit + ")";
  }
  return range;
}

// An LV2 symbol from a pin name: letters, digits and '_', not starting with a digit.
std::string symbolOf(const std::string& name) {
  std::string symbol;
  for (char c : name) symbol += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  if (symbol.empty() || std::isdigit(static_cast<unsigned char>(symbol.front()))) {
    symbol.insert(0, "_");
  }
  return symbol;
}

int32_t pinIndex(const rmhost::ModuleInfo& info, const std::string& name) {
  for (const rmhost::PinInfo& pin : info.pins) {
    if (pin.name == name) return pin.index;
  }
  throw LayoutError("module " + info.id + " has no pin \"" + name + "\"");
}

std::string pinLabel(const rmhost::PinInfo& pin) {
  return "pin " + std::to_string(pin.index) + " \"" + pin.name + "\"";
}

class Builder {
 public:
  explicit Builder(Plugin& plugin) : plugin_(plugin) {}

  Port& add(PortType type, Role role, std::string symbol, std::string name) {
    Port port;
    port.index = static_cast<uint32_t>(plugin_.ports.size());
    port.type = type;
    port.role = role;
    port.symbol = std::move(symbol);
    port.name = std::move(name);
    plugin_.ports.push_back(std::move(port));
    return plugin_.ports.back();
  }

  Port& control(Role role, std::string symbol, std::string name, float minimum, float maximum,
                float defaultValue) {
    Port& port = add(PortType::controlIn, role, std::move(symbol), std::move(name));
    port.minimum = minimum;
    port.maximum = maximum;
    port.defaultValue = defaultValue;
    return port;
  }

  // The control of one input or setting pin. The default is the module's own unless `start` is
  // given; the range holds the default. A list pin is an enumeration of its items; one whose
  // list text cannot be read stays a plain integer control.
  Port& pinControl(const rmhost::ModuleInfo& info, const rmhost::PinInfo& pin, Module module,
                   std::string symbol, const PinNotes* notes, std::optional<float> start) {
    const PinRange range = rangeOf(info, pin, notes);
    const auto text = rmhost::parseNumber(pin.defaultText.value_or("0"));
    float value = static_cast<float>(text.value_or(0.0));
    if (!std::isfinite(value)) value = 0.0f;
    if (start) value = *start;
    Port& port = control(Role::modulePin, std::move(symbol),
                         pin.name.empty() ? "Pin " + std::to_string(pin.index) : pin.name,
                         std::min(range.minimum, value), std::max(range.maximum, value), value);
    port.module = module;
    port.pin = pin.index;
    port.unit = range.unit;
    port.comment = range.comment;
    port.integer = pin.datatype != dtAudio;
    if (pin.datatype == dtList) {
      const auto items = rmhost::parseListItems(pin.listText.value_or(""));
      if (items && !items->empty()) {
        port.minimum = port.maximum = value;
        for (const rmhost::ListItem& item : *items) {
          port.scalePoints.push_back({item.label, item.value});
          port.minimum = std::min(port.minimum, static_cast<float>(item.value));
          port.maximum = std::max(port.maximum, static_cast<float>(item.value));
        }
      }
    }
    return port;
  }

  // One control per input or setting pin of one of our modules that notes or CV do not drive.
  void modulePins(const rmhost::ModuleInfo& info, Module module, const std::string& prefix,
                  bool instrument) {
    for (const rmhost::PinInfo& pin : info.pins) {
      if (pin.direction == dirOutput || drivenPin(module, pin.name)) continue;
      pinControl(info, pin, module, prefix + symbolOf(pin.name), nullptr,
                 instrument ? instrumentDefault(module, pin.name) : std::nullopt);
    }
  }

 private:
  Plugin& plugin_;
};

Plugin instrument(const rmhost::ModuleInfo& swarm, const rmhost::ModuleInfo& vellum) {
  Plugin plugin{"instrument",
                kUriBase + std::string("instrument"),
                "Rackmill swarm instrument",
                "InstrumentPlugin",
                "",
                {}};
  Builder b(plugin);
  b.add(PortType::atomIn, Role::midiIn, "midi_in", "MIDI in");
  b.add(PortType::audioOut, Role::audioLeft, "out_l", "Left");
  b.add(PortType::audioOut, Role::audioRight, "out_r", "Right");
  Port& latency = b.add(PortType::controlOut, Role::latency, "latency", "Latency");
  latency.maximum = 1.0f;
  latency.integer = true;
  Port& voices = b.control(Role::voices, "voices", "Voices", 1.0f, kMaxVoices, kDefaultVoices);
  voices.integer = true;
  voices.comment = "voices in use; each is one swarm clone and one vellum envelope";
  b.control(Role::velocity, "velocity_sensitivity", "Velocity sensitivity", 0.0f, 1.0f, 0.7f)
      .comment = "0: every note at full level; 1: level follows velocity squared";
  b.control(Role::gain, "gain", "Output gain", 0.0f, 2.0f, 0.35f).comment =
      "linear gain on the sum of the voices";
  b.modulePins(swarm, Module::swarm, "osc_", true);
  b.modulePins(vellum, Module::vellum, "env_", true);
  return plugin;
}

Plugin swarmAlone(const rmhost::ModuleInfo& swarm) {
  Plugin plugin{"swarm", kUriBase + std::string("swarm"), "Rackmill swarm", "OscillatorPlugin", "",
                {}};
  Builder b(plugin);
  auto cv = [&](Role role, const char* symbol, const char* name, const char* pin) {
    Port& port = b.add(PortType::cvIn, role, symbol, name);
    port.module = Module::swarm;
    port.pin = pinIndex(swarm, pin);
    port.minimum = 0.0f;
    port.maximum = 1.0f;
  };
  cv(Role::gateCv, "gate", "Gate", "gate");
  cv(Role::syncCv, "sync", "Sync", "sync");
  cv(Role::pitchCv, "pitch", "Pitch", "fc_1");
  b.add(PortType::audioOut, Role::audioLeft, "out_l", "Left");
  b.add(PortType::audioOut, Role::audioRight, "out_r", "Right");
  Port& sync = b.control(Role::syncFromGate, "sync_from_gate", "Sync from gate", 0.0f, 1.0f, 1.0f);
  sync.toggled = true;
  sync.integer = true;
  sync.comment = "a rising gate also starts a note";
  b.modulePins(swarm, Module::swarm, "", false);
  return plugin;
}

Plugin vellumAlone(const rmhost::ModuleInfo& vellum) {
  Plugin plugin{"vellum", kUriBase + std::string("vellum"), "Rackmill vellum", "EnvelopePlugin", "",
                {}};
  Builder b(plugin);
  Port& gate = b.add(PortType::cvIn, Role::gateCv, "gate", "Gate");
  gate.module = Module::vellum;
  gate.pin = pinIndex(vellum, "Gate");
  gate.maximum = 1.0f;
  Port& out = b.add(PortType::cvOut, Role::envelopeCv, "out", "Signal Out");
  out.module = Module::vellum;
  out.pin = pinIndex(vellum, "Signal Out");
  b.modulePins(vellum, Module::vellum, "", false);
  return plugin;
}

// Symbols unique within a plug-in: a name that repeats, or that becomes the symbol of an earlier
// pin, gets "_2", "_3", ... in pin order.
class SymbolSet {
 public:
  std::string take(const std::string& wanted) {
    std::string symbol = wanted;
    for (int n = 2; used_.count(symbol) != 0; ++n) symbol = wanted + "_" + std::to_string(n);
    used_.insert(symbol);
    return symbol;
  }

 private:
  std::set<std::string> used_;
};

bool knownType(int32_t datatype) {
  return datatype == dtAudio || datatype == dtList || datatype == dtByte || datatype == dtWord32 ||
         datatype == dtInteger;
}

}  // namespace

float Port::clamp(float value) const {
  if (std::isnan(value)) return defaultValue;
  return std::clamp(value, minimum, maximum);
}

const Port* Plugin::find(Role role) const {
  for (const Port& port : ports) {
    if (port.role == role) return &port;
  }
  return nullptr;
}

std::vector<Plugin> describePlugins(const rmhost::ModuleInfo& swarm,
                                    const rmhost::ModuleInfo& vellum) {
  return {instrument(swarm, vellum), swarmAlone(swarm), vellumAlone(vellum)};
}

std::string defaultModuleUri(const std::string& moduleId) {
  std::string uri = kUriBase + std::string("module/");
  for (char c : moduleId) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
      uri += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
      uri += escaped;
    }
  }
  return uri;
}

Plugin describeModule(const rmhost::ModuleInfo& info, const ModuleMetadataFile& metadata,
                      const std::string& libraryFile) {
  const std::string where = metadata.path.empty() ? libraryFile : metadata.path.string();
  for (const auto& entry : metadata.pins) {
    const std::string& name = entry.first;
    const bool known = std::any_of(info.pins.begin(), info.pins.end(),
                                   [&](const rmhost::PinInfo& pin) { return pin.name == name; });
    if (!known) {
      throw LayoutError(where + ": module \"" + info.id + "\" has no pin \"" + name +
                        "\"; `rmhost info " + libraryFile + "` lists its pins");
    }
  }
  if (info.id.empty() && metadata.uri.empty()) {
    throw LayoutError(libraryFile +
                      ": the module gives no identifier to make its URI of; give "
                      "it one, or a \"uri\" in its metadata file");
  }
  Plugin plugin;
  plugin.key = symbolOf(std::filesystem::path(libraryFile).stem().string());
  plugin.uri = metadata.uri.empty() ? defaultModuleUri(info.id) : metadata.uri;
  plugin.name = !metadata.name.empty() ? metadata.name : !info.name.empty() ? info.name : info.id;
  plugin.lv2Class = metadata.lv2Class;
  plugin.library = libraryFile;
  Builder b(plugin);
  SymbolSet symbols;
  for (const rmhost::PinInfo& pin : info.pins) {
    if (pin.direction != dirInput && pin.direction != dirOutput && pin.direction != dirSetting) {
      throw LayoutError(libraryFile + ": " + pinLabel(pin) + " has direction " +
                        std::to_string(pin.direction) + ", which no LV2 port can stand for");
    }
    if (!knownType(pin.datatype)) {
      throw LayoutError(libraryFile + ": " + pinLabel(pin) + " has data type " +
                        std::to_string(pin.datatype) + ", which no LV2 port can stand for");
    }
    const PinNotes* notes = metadata.find(pin.name);
    const bool output = pin.direction == dirOutput;
    const PortKind kind = notes != nullptr && notes->port ? *notes->port
                          : output                        ? PortKind::audio
                                                          : PortKind::control;
    if (output && pin.datatype != dtAudio) continue;  // no port reads a module's other outputs
    if (output && kind == PortKind::control) {
      throw LayoutError(where + ": " + pinLabel(pin) +
                        " is an output: it can be an \"audio\" or \"cv\" port, not a control");
    }
    if (!output && kind != PortKind::control && pin.datatype != dtAudio) {
      throw LayoutError(where + ": " + pinLabel(pin) + " is a " + rmhost::typeName(pin.datatype) +
                        " pin: only audio pins stream");
    }
    const std::string symbol =
        symbols.take(pin.name.empty() ? "pin_" + std::to_string(pin.index) : symbolOf(pin.name));
    if (kind == PortKind::control) {
      b.pinControl(info, pin, Module::single, symbol, notes, std::nullopt);
      continue;
    }
    const PortType type = output ? (kind == PortKind::cv ? PortType::cvOut : PortType::audioOut)
                                 : (kind == PortKind::cv ? PortType::cvIn : PortType::audioIn);
    Port& port = b.add(type, output ? Role::signalOut : Role::signalIn, symbol,
                       pin.name.empty() ? "Pin " + std::to_string(pin.index) : pin.name);
    port.module = Module::single;
    port.pin = pin.index;
    if (notes != nullptr) port.comment = notes->description;
  }
  if (plugin.ports.empty()) {
    throw LayoutError(libraryFile + ": module \"" + info.id +
                      "\" describes no pin that an LV2 port can stand for (" +
                      std::to_string(info.pins.size()) + " pins)");
  }
  return plugin;
}

}  // namespace rmlv2

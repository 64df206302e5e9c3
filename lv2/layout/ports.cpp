#include "layout/ports.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <stdexcept>

namespace rmlv2 {

namespace {

// Ranges and units of the module pins that become controls, and the values the instrument starts
// with: those of the factory sound "Clear Keys" (sounds/clear-keys.toml), the module's own default
// where that sound leaves a pin alone. Everything else (names, kinds,
// list items, the plug-ins' own defaults) comes from the modules' pin descriptions.
struct PinRange {
  Module module;
  const char* pin;
  float minimum;
  float maximum;
  std::optional<float> instrumentDefault;
  const char* unit;
  const char* comment;
};

const PinRange kRanges[] = {
    {Module::swarm, "fm1_1", 0.0f, 8.0f, 1.0f, "", "partial spacing: modulator to carrier ratio"},
    {Module::swarm, "N", 0.0f, 100.0f, 12.0f, "", "partials per oscillator"},
    {Module::swarm, "a_1", 0.0f, 1.0f, 0.6f, "", "amplitude ratio of successive partials"},
    {Module::swarm, "poly", 1.0f, 16.0f, 16.0f, "", "voices sounding at once"},
    {Module::swarm, "Wave_1", 0.0f, 1.0f, 1.0f, "", "partials above (1) or below (0) the carrier"},
    {Module::swarm, "rotate", -2.0f, 2.0f, std::nullopt, "",
     "carrier phase rotation in half-turns"},
    {Module::swarm, "incr", -2.0f, 2.0f, std::nullopt, "",
     "rotating phase step per note in half-turns"},
    {Module::swarm, "pitchspread", 0.0f, 0.02f, 0.00008f, "", "pitch step between oscillators"},
    {Module::swarm, "fm1_2", 0.0f, 8.0f, std::nullopt, "", "not read by the module"},
    {Module::swarm, "a_2", 0.0f, 1.0f, 0.5f, "", "fall of the amplitude ratio across the bank"},
    {Module::swarm, "pitchShuffle", -1.0f, 1.0f, std::nullopt, "", "bend of the pitch spread"},
    {Module::swarm, "wind", 0.0f, 1.0f, std::nullopt, "", "phase wind-up"},
    {Module::swarm, "phasespread", 0.0f, 1.0f, 0.4f, "", "phase offsets between oscillators"},
    {Module::swarm, "oscs", 1.0f, 200.0f, 8.0f, "", "oscillators per voice"},
    {Module::swarm, "retrigger", 0.0f, 1.0f, 1.0f, "", "fresh phases per note (off) or hand-over"},
    {Module::vellum, "Attack", 0.0f, 1000.0f, 300.0f, "", "attack rate in segments per second"},
    {Module::vellum, "Hold", 0.0f, 1000.0f, std::nullopt, "", "hold rate in segments per second"},
    {Module::vellum, "Decay", 0.0f, 1000.0f, 1.2f, "", "decay rate in segments per second"},
    {Module::vellum, "Sustain", 0.0f, 10.0f, 0.35f, "", "sustain level (1 is full level)"},
    {Module::vellum, "Release", 0.0f, 1000.0f, 4.0f, "", "release rate in segments per second"},
    {Module::vellum, "Overall Level", 0.0f, 10.0f, 1.0f, "", "output gain"},
    {Module::vellum, "AttackForm", -1.0f, 1.0f, std::nullopt, "", "attack curvature"},
    {Module::vellum, "DecayForm", -1.0f, 1.0f, -0.4f, "", "decay curvature"},
    {Module::vellum, "ReleaseForm", -1.0f, 1.0f, -0.3f, "", "release curvature"},
    {Module::vellum, "FullAttack", 0.0f, 1.0f, std::nullopt, "",
     "attack and hold run to their end"},
    {Module::vellum, "NoRelease", 0.0f, 1.0f, std::nullopt, "", "a gate fall is no event"},
    {Module::vellum, "LfoAmt", 0.0f, 1.0f, std::nullopt, "", "LFO depth"},
    {Module::vellum, "LfoFreq", 0.0f, 100.0f, std::nullopt, "hz", "LFO frequency"},
    {Module::vellum, "LfoPhase", 0.0f, 10.0f, std::nullopt, "", "LFO phase offset in cycles"},
    {Module::vellum, "LfoAlign", 0.0f, 4.0f, std::nullopt, "", "LFO variant"},
    {Module::vellum, "dbmode", 0.0f, 1.0f, std::nullopt, "", "output law: 0 linear, 1 decibel"},
};

// Pins that notes or CV drive rather than controls.
bool drivenPin(Module module, const std::string& name) {
  if (module == Module::swarm) return name == "fc_1" || name == "gate" || name == "sync";
  return name == "Gate";
}

const PinRange* rangeOf(Module module, const std::string& pin) {
  for (const PinRange& range : kRanges) {
    if (range.module == module && pin == range.pin) return &range;
  }
  return nullptr;
}

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
  throw std::runtime_error("module " + info.id + " has no pin \"" + name + "\"");
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

  // One control per input or setting pin of a module that notes or CV do not drive.
  void modulePins(const rmhost::ModuleInfo& info, Module module, const std::string& prefix,
                  bool instrument) {
    for (const rmhost::PinInfo& pin : info.pins) {
      if (pin.direction == dirOutput || drivenPin(module, pin.name)) continue;
      const PinRange* range = rangeOf(module, pin.name);
      if (range == nullptr) {
        throw std::runtime_error("no range for pin \"" + pin.name + "\" of " + info.id);
      }
      const auto text = rmhost::parseNumber(pin.defaultText.value_or("0"));
      float value = static_cast<float>(text.value_or(0.0));
      if (instrument && range->instrumentDefault) value = *range->instrumentDefault;
      Port& port = control(Role::modulePin, prefix + symbolOf(pin.name), pin.name,
                           std::min(range->minimum, value), std::max(range->maximum, value), value);
      port.module = module;
      port.pin = pin.index;
      port.unit = range->unit;
      port.comment = range->comment;
      port.integer = pin.datatype != dtAudio;
      if (pin.datatype == dtList) {
        const auto items = rmhost::parseListItems(pin.listText.value_or(""));
        if (!items || items->empty()) {
          throw std::runtime_error("pin \"" + pin.name + "\" of " + info.id + " has no list");
        }
        for (const rmhost::ListItem& item : *items) {
          port.scalePoints.push_back({item.label, item.value});
          port.minimum = std::min(port.minimum, static_cast<float>(item.value));
          port.maximum = std::max(port.maximum, static_cast<float>(item.value));
        }
      }
    }
  }

 private:
  Plugin& plugin_;
};

Plugin instrument(const rmhost::ModuleInfo& swarm, const rmhost::ModuleInfo& vellum) {
  Plugin plugin{"instrument", "Rackmill swarm instrument", "InstrumentPlugin", {}};
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
  Plugin plugin{"swarm", "Rackmill swarm", "OscillatorPlugin", {}};
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
  Plugin plugin{"vellum", "Rackmill vellum", "EnvelopePlugin", {}};
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

}  // namespace rmlv2

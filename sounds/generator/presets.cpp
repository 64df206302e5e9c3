#include "presets.h"

#include <lv2/presets/presets.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "ttl/turtle.h"

namespace rmfactory {

namespace {

const rmhost::PinInfo* pinNamed(const rmhost::ModuleInfo& info, const std::string& name) {
  for (const rmhost::PinInfo& pin : info.pins)
    if (pin.name == name) return &pin;
  return nullptr;
}

float portValue(const rmlv2::Port& port, const PinValue& pin) {
  if (const double* number = std::get_if<double>(&pin.value)) {
    const auto value = static_cast<float>(*number);
    if (!(value >= port.minimum && value <= port.maximum))
      throw SoundError(pin.place + ": error: " + pin.pin + " = " + numberText(*number) +
                       " lies outside the instrument's range, " + numberText(port.minimum) +
                       " to " + numberText(port.maximum));
    return value;
  }
  const std::string& label = std::get<std::string>(pin.value);
  for (const rmlv2::ScalePoint& point : port.scalePoints)
    if (point.label == label) return static_cast<float>(point.value);
  throw SoundError(pin.place + ": error: " + pin.pin + " has no item \"" + label + "\"");
}

}  // namespace

std::string presetUri(const rmlv2::Plugin& instrument, const Sound& sound) {
  return instrument.uri + "/preset/" + sound.key;
}

std::vector<std::pair<const rmlv2::Port*, float>> presetValues(const rmlv2::Plugin& instrument,
                                                               const rmhost::ModuleInfo& swarm,
                                                               const rmhost::ModuleInfo& vellum,
                                                               const Sound& sound) {
  // Every pin the sound sets must be a control of the instrument.
  for (const auto* pins : {&sound.swarm, &sound.vellum}) {
    const bool isSwarm = pins == &sound.swarm;
    for (const PinValue& pin : *pins) {
      const bool control = std::any_of(
          instrument.ports.begin(), instrument.ports.end(), [&](const rmlv2::Port& port) {
            return port.role == rmlv2::Role::modulePin &&
                   port.module == (isSwarm ? rmlv2::Module::swarm : rmlv2::Module::vellum) &&
                   port.name == pin.pin;
          });
      if (!control)
        throw SoundError(pin.place + ": error: " + pin.pin + " is no control of the instrument's " +
                         (isSwarm ? "swarm" : "vellum"));
    }
  }
  std::vector<std::pair<const rmlv2::Port*, float>> values;
  for (const rmlv2::Port& port : instrument.ports) {
    if (!port.isControlIn()) continue;
    float value = 0.0f;
    switch (port.role) {
      case rmlv2::Role::voices:
        value = static_cast<float>(sound.voices);
        break;
      case rmlv2::Role::velocity:
        value = static_cast<float>(sound.velocity);
        break;
      case rmlv2::Role::gain:
        value = static_cast<float>(sound.gain);
        break;
      case rmlv2::Role::modulePin: {
        const bool isSwarm = port.module == rmlv2::Module::swarm;
        const rmhost::ModuleInfo& info = isSwarm ? swarm : vellum;
        const rmhost::PinInfo* pin = pinNamed(info, port.name);
        if (const PinValue* set = sound.find(isSwarm ? "swarm" : "vellum", port.name)) {
          value = portValue(port, *set);
        } else if (pin != nullptr) {
          value =
              static_cast<float>(rmhost::parseNumber(pin->defaultText.value_or("0")).value_or(0.0));
        }
        break;
      }
      default:
        continue;
    }
    values.emplace_back(&port, value);
  }
  return values;
}

std::string presetsTurtle(const rmlv2::Plugin& instrument, const rmhost::ModuleInfo& swarm,
                          const rmhost::ModuleInfo& vellum, const std::vector<Sound>& sounds) {
  std::ostringstream out;
  out << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
      << "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
      << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n";
  for (const Sound& sound : sounds) {
    out << "\n<" << presetUri(instrument, sound) << ">\n  a pset:Preset ;\n"
        << "  lv2:appliesTo <" << instrument.uri << "> ;\n"
        << "  rdfs:label " << rmlv2::turtleString(sound.name) << " ;\n"
        << "  rdfs:comment " << rmlv2::turtleString(sound.description) << " ;\n  lv2:port";
    const auto values = presetValues(instrument, swarm, vellum, sound);
    for (size_t i = 0; i < values.size(); ++i) {
      out << (i ? " ,\n    " : "\n    ") << "[ lv2:symbol "
          << rmlv2::turtleString(values[i].first->symbol) << " ; pset:value "
          << rmlv2::turtleNumber(values[i].second, false) << " ]";
    }
    out << " .\n";
  }
  return out.str();
}

rmlv2::ManifestExtras presetExtras(const rmlv2::Plugin& instrument, const rmhost::ModuleInfo& swarm,
                                   const rmhost::ModuleInfo& vellum,
                                   const std::vector<Sound>& sounds) {
  rmlv2::ManifestExtras extras;
  for (const Sound& sound : sounds)
    extras.statements.push_back("<" + presetUri(instrument, sound) + ">\n  a <" +
                                LV2_PRESETS__Preset "> ;\n  lv2:appliesTo <" + instrument.uri +
                                "> ;\n  rdfs:seeAlso <presets.ttl> .");
  extras.files.emplace_back("presets.ttl", presetsTurtle(instrument, swarm, vellum, sounds));
  return extras;
}

}  // namespace rmfactory

// The ports of the bundle's three plug-ins, derived from the modules' own pin descriptions and
// one small table of ranges, units and instrument defaults. The Turtle generator writes these
// ports and the bridge connects them, so both see the same indexes from the same libraries.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rmhost/library.h"

namespace rmlv2 {

inline constexpr const char* kUriBase = "https://rackmill.example/lv2/";

enum class PortType { atomIn, audioOut, cvIn, cvOut, controlIn, controlOut };

// What a port stands for in the bridge.
enum class Role {
  modulePin,  // a control fed to a module pin
  midiIn,     // the instrument's MIDI
  audioLeft,  // stereo out
  audioRight,
  latency,       // reported latency in frames
  voices,        // instrument voices in use
  velocity,      // velocity sensitivity
  gain,          // output gain
  syncFromGate,  // swarm alone: a gate rise starts a note
  gateCv,        // CV fed to a module's gate pin
  syncCv,        // CV fed to swarm's sync pin
  pitchCv,       // CV fed to swarm's pitch pin
  envelopeCv,    // vellum's output
};

enum class Module { none, swarm, vellum };

struct ScalePoint {
  std::string label;
  int32_t value = 0;
};

struct Port {
  uint32_t index = 0;
  std::string symbol;
  std::string name;
  PortType type = PortType::controlIn;
  Role role = Role::modulePin;
  Module module = Module::none;
  int32_t pin = -1;  // the module pin a control or CV port feeds or reads
  float defaultValue = 0.0f;
  float minimum = 0.0f;
  float maximum = 1.0f;
  bool integer = false;
  bool toggled = false;
  std::vector<ScalePoint> scalePoints;  // a list pin: an enumeration of these
  std::string unit;                     // an LV2 units: name ("hz", "s", ...) or empty
  std::string comment;

  bool isControlIn() const { return type == PortType::controlIn; }
  // A value from the host made safe: not a number gives the default; others are held in range.
  float clamp(float value) const;
};

struct Plugin {
  std::string key;  // "instrument", "swarm", "vellum": the plug-in's URI is kUriBase + key
  std::string name;
  std::string lv2Class;  // InstrumentPlugin, OscillatorPlugin, EnvelopePlugin
  std::vector<Port> ports;

  std::string uri() const { return kUriBase + key; }
  const Port* find(Role role) const;
};

// The three plug-ins for these module descriptions; throws std::runtime_error when a pin the
// bridge drives is missing or a list text is unreadable.
std::vector<Plugin> describePlugins(const rmhost::ModuleInfo& swarm,
                                    const rmhost::ModuleInfo& vellum);

// The instrument's voice count limits.
inline constexpr int32_t kMaxVoices = 32;
inline constexpr int32_t kDefaultVoices = 8;

}  // namespace rmlv2

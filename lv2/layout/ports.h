// The ports of LV2 plug-ins made of module libraries: our bundle's three plug-ins and one plug-in
// for any module library. Everything comes from the modules' own pin descriptions; ranges, units
// and comments from a metadata file beside the library (metadata_file.h), else from the host
// library's pin metadata table, else wide safe defaults; the instrument's own defaults from one
// small table. The Turtle generator writes these ports and the bridge connects them, so both see
// the same indexes from the same libraries.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "layout/metadata_file.h"
#include "rmhost/library.h"

namespace rmlv2 {

inline constexpr const char* kUriBase = "https://rackmill.example/lv2/";

enum class PortType { atomIn, audioIn, audioOut, cvIn, cvOut, controlIn, controlOut };

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
  signalIn,      // an audio or CV port streamed into a module pin, sample by sample
  signalOut,     // a module's output pin copied to an audio or CV port
};

// The module a port belongs to: swarm or vellum in our own plug-ins, `single` in the plug-in of
// any module library (it hosts one module).
enum class Module { none, swarm, vellum, single };

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
  std::string key;  // "instrument", "swarm", "vellum", or a module's: names its Turtle file
  std::string uri;
  std::string name;
  std::string lv2Class;  // InstrumentPlugin, OscillatorPlugin, ...; empty: a plain lv2:Plugin
  std::string library;   // the plug-in of a module library: the library's file name in the bundle
  std::vector<Port> ports;

  const Port* find(Role role) const;
};

// The module pins or descriptions an LV2 plug-in cannot be made of.
class LayoutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The three plug-ins of our bundle for these module descriptions; throws LayoutError when a pin
// the bridge drives is missing.
std::vector<Plugin> describePlugins(const rmhost::ModuleInfo& swarm,
                                    const rmhost::ModuleInfo& vellum);

// The plug-in of any module library, named `libraryFile` in the bundle: audio outputs become
// audio ports; inputs and settings become controls, or audio or CV ports where the metadata says
// so. Symbols come from pin names, made valid and unique in pin order, so that they stay the same
// as long as the names do. Throws LayoutError for a module with no pin that makes a port, or a
// pin of a direction or type no port can stand for.
Plugin describeModule(const rmhost::ModuleInfo& info, const ModuleMetadataFile& metadata,
                      const std::string& libraryFile);

// The URI of the plug-in of the module with identifier `moduleId` when its metadata names none.
std::string defaultModuleUri(const std::string& moduleId);

// The instrument's voice count limits.
inline constexpr int32_t kMaxVoices = 32;
inline constexpr int32_t kDefaultVoices = 8;

}  // namespace rmlv2

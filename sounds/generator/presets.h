// LV2 presets of the instrument from the factory bank: presets.ttl in the bundle and the
// statements in its manifest that let hosts find them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "layout/ports.h"
#include "sound_bank.h"
#include "ttl/turtle.h"

namespace rmfactory {

// The preset URI of a sound.
std::string presetUri(const rmlv2::Plugin& instrument, const Sound& sound);

// The value of every control input of the instrument under `sound`: the sound's own values, the
// modules' defaults for the pins it leaves alone. Throws SoundError for a pin the instrument
// lacks, a list label the pin does not have, or a value outside the port's range.
std::vector<std::pair<const rmlv2::Port*, float>> presetValues(const rmlv2::Plugin& instrument,
                                                               const rmhost::ModuleInfo& swarm,
                                                               const rmhost::ModuleInfo& vellum,
                                                               const Sound& sound);

// presets.ttl: one pset:Preset per sound.
std::string presetsTurtle(const rmlv2::Plugin& instrument, const rmhost::ModuleInfo& swarm,
                          const rmhost::ModuleInfo& vellum, const std::vector<Sound>& sounds);

// What the bundle's Turtle writer adds for the presets: a manifest statement per preset and the
// file presets.ttl.
rmlv2::ManifestExtras presetExtras(const rmlv2::Plugin& instrument, const rmhost::ModuleInfo& swarm,
                                   const rmhost::ModuleInfo& vellum,
                                   const std::vector<Sound>& sounds);

}  // namespace rmfactory

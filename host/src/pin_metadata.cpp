#include "rmhost/pin_metadata.h"

#include <algorithm>
#include <array>

namespace rmhost {

namespace {

// The tables are filled pin by pin; a test checks that they cover every pin of both modules.
constexpr std::array<PinMetadata, 0> kSwarmPins{};
constexpr std::array<PinMetadata, 0> kVellumPins{};

constexpr std::array kModules{
    ModuleMetadata{"swarm", kSwarmPins},
    ModuleMetadata{"vellum", kVellumPins},
};

}  // namespace

const PinMetadata* ModuleMetadata::find(std::string_view name) const {
  const auto it =
      std::find_if(pins.begin(), pins.end(), [&](const PinMetadata& p) { return p.pin == name; });
  return it == pins.end() ? nullptr : &*it;
}

const ModuleMetadata* findModuleMetadata(std::string_view moduleId) {
  for (const ModuleMetadata& module : kModules) {
    if (module.moduleId == moduleId) return &module;
  }
  return nullptr;
}

std::span<const ModuleMetadata> allModuleMetadata() { return kModules; }

}  // namespace rmhost

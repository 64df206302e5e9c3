// Writes the Turtle of our bundle, rackmill.lv2: the instrument and the plug-ins of swarm and
// vellum alone, from the pin descriptions of the module libraries in the bundle, and the
// instrument's presets from the factory bank.
//
//   rackmill_lv2_ttl BUNDLE_DIR BRIDGE_FILE_NAME SOUNDS_DIR
#include <iostream>

#include "layout/ports.h"
#include "presets.h"
#include "rmhost/library.h"
#include "sound_bank.h"
#include "ttl/turtle.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: " << argv[0] << " BUNDLE_DIR BRIDGE_FILE_NAME SOUNDS_DIR\n";
    return 2;
  }
  const std::filesystem::path bundle = argv[1];
  try {
    std::string error;
    auto swarm = rmhost::Library::load((bundle / "libswarm.so").string(), &error);
    if (!swarm) throw std::runtime_error(error);
    auto vellum = rmhost::Library::load((bundle / "libvellum.so").string(), &error);
    if (!vellum) throw std::runtime_error(error);
    const auto plugins = rmlv2::describePlugins(swarm->info(), vellum->info());
    const rmlv2::ManifestExtras presets = rmfactory::presetExtras(
        plugins.front(), swarm->info(), vellum->info(), rmfactory::loadSounds(argv[3]));
    rmlv2::writeTurtle(bundle, plugins, argv[2], presets);
  } catch (const std::exception& e) {
    std::cerr << argv[0] << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}

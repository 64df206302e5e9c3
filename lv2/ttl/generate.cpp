// Writes the Turtle of our bundle, rackmill.lv2: the instrument and the plug-ins of swarm and
// vellum alone, from the pin descriptions of the module libraries in the bundle.
//
//   rackmill_lv2_ttl BUNDLE_DIR BRIDGE_FILE_NAME
#include <iostream>

#include "layout/ports.h"
#include "rmhost/library.h"
#include "ttl/turtle.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: " << argv[0] << " BUNDLE_DIR BRIDGE_FILE_NAME\n";
    return 2;
  }
  const std::filesystem::path bundle = argv[1];
  try {
    std::string error;
    auto swarm = rmhost::Library::load((bundle / "libswarm.so").string(), &error);
    if (!swarm) throw std::runtime_error(error);
    auto vellum = rmhost::Library::load((bundle / "libvellum.so").string(), &error);
    if (!vellum) throw std::runtime_error(error);
    // Further manifest statements and their files (presets of the instrument, for example).
    const rmlv2::ManifestExtras extras;
    rmlv2::writeTurtle(bundle, rmlv2::describePlugins(swarm->info(), vellum->info()), argv[2],
                       extras);
  } catch (const std::exception& e) {
    std::cerr << argv[0] << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}

// The factory-bank generator: reads sounds/*.toml and writes what the build and the repository
// keep of them.
//
//   rackmill_factory presets SOUNDS_DIR BUNDLE_DIR   presets.ttl and manifest entries in the bundle
//   rackmill_factory patches SOUNDS_DIR OUT_DIR      one renderer patch per sound
//   rackmill_factory gallery SOUNDS_DIR OUT_FILE     the gallery page of the docs
//
// Files are written only when their text changes, so that a build that runs it every time
// touches nothing.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "presets.h"
#include "rmhost/library.h"
#include "sound_bank.h"

namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeText(const fs::path& path, const std::string& text) {
  if (fs::exists(path) && readText(path) == text) return;
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

std::unique_ptr<rmhost::Library> load(const fs::path& path) {
  std::string error;
  auto library = rmhost::Library::load(path.string(), &error);
  if (!library) throw std::runtime_error(error);
  return library;
}

void writePresets(const std::vector<rmfactory::Sound>& sounds, const fs::path& bundle) {
  const auto swarm = load(bundle / "libswarm.so");
  const auto vellum = load(bundle / "libvellum.so");
  const auto plugins = rmlv2::describePlugins(swarm->info(), vellum->info());
  const rmlv2::Plugin& instrument = plugins.front();
  const std::string turtle =
      rmfactory::presetsTurtle(instrument, swarm->info(), vellum->info(), sounds);
  writeText(bundle / "manifest.ttl",
            rmfactory::manifestWithPresets(readText(bundle / "manifest.ttl"), instrument, sounds));
  writeText(bundle / "presets.ttl", turtle);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: " << argv[0] << " presets|patches|gallery SOUNDS_DIR OUT\n";
    return 2;
  }
  const std::string what = argv[1];
  try {
    const auto sounds = rmfactory::loadSounds(argv[2]);
    const fs::path out = argv[3];
    if (what == "presets") {
      writePresets(sounds, out);
    } else if (what == "patches") {
      fs::create_directories(out);
      for (const rmfactory::Sound& sound : sounds)
        writeText(out / (sound.key + ".toml"), rmfactory::patchText(sound));
    } else if (what == "gallery") {
      writeText(out, rmfactory::galleryText(sounds));
    } else {
      std::cerr << argv[0] << ": unknown command \"" << what << "\"\n";
      return 2;
    }
  } catch (const std::exception& error) {
    std::cerr << error.what() << '\n';
    return 1;
  }
  return 0;
}

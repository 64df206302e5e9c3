// The factory-bank generator: reads sounds/*.toml and writes what the repository keeps of them
// (the presets go into the bundle with its Turtle, lv2/ttl/generate.cpp).
//
//   rackmill_factory patches SOUNDS_DIR OUT_DIR      one renderer patch per sound
//   rackmill_factory gallery SOUNDS_DIR OUT_FILE     the gallery page of the docs
//
// Files are written only when their text changes.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: " << argv[0] << " patches|gallery SOUNDS_DIR OUT\n";
    return 2;
  }
  const std::string what = argv[1];
  try {
    const auto sounds = rmfactory::loadSounds(argv[2]);
    const fs::path out = argv[3];
    if (what == "patches") {
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

// `rmhost lv2-bundle`: an LV2 bundle of module libraries, one plug-in per library: the libraries,
// their metadata files, the bridge that hosts them and the Turtle written from their pins.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace rmcli {

struct Lv2BundleOptions {
  std::vector<std::string> libraries;           // plug-in names or library paths
  std::filesystem::path output;                 // the bundle folder to create, NAME.lv2
  std::optional<std::filesystem::path> bridge;  // default: found beside the rmhost program
  std::vector<std::filesystem::path> pluginPath;
};

// The bridge library beside the rmhost program: in the build tree's rackmill.lv2 or in the
// installed lib/rackmill; nullopt with the places tried.
std::optional<std::filesystem::path> findBridge(std::vector<std::filesystem::path>* tried);

// Answers the exit code: 0 written, 1 bad input (a message on `err`; nothing is left behind),
// 2 an output name without .lv2.
int runLv2Bundle(const Lv2BundleOptions& options, std::ostream& out, std::ostream& err);

}  // namespace rmcli

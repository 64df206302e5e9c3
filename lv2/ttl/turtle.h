// The Turtle of an LV2 bundle made of module libraries: manifest.ttl, one file per plug-in, and
// the index the bridge reads to offer the plug-ins of module libraries. The build writes our
// bundle with it, `rmhost lv2-bundle` the bundle of any module library.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "layout/ports.h"

namespace rmlv2 {

// The file in a bundle that lists the plug-ins of module libraries, one per line:
// "URI LIBRARY_FILE" (the URI holds no space, the file name may). The bridge reads it to know
// which descriptors to offer.
inline constexpr const char* kModuleIndexFile = "modules.txt";

// Extra statements for manifest.ttl beyond the plug-ins (presets, for example), each a complete
// Turtle statement that may use the prefixes lv2: and rdfs:, with any files they name.
struct ManifestExtras {
  std::vector<std::string> statements;
  std::vector<std::pair<std::string, std::string>> files;  // file name, Turtle text
};

// Writes manifest.ttl, <key>.ttl for every plug-in and, when some plug-in is a module library's,
// the module index into `bundle`; `bridge` is the bridge library's file name. Throws
// std::runtime_error when a file cannot be written.
void writeTurtle(const std::filesystem::path& bundle, const std::vector<Plugin>& plugins,
                 const std::string& bridge, const ManifestExtras& extras = {});

// A Turtle string literal, with quotes and backslashes escaped.
std::string turtleString(const std::string& text);

// A Turtle decimal ("0.25", "8.0") or, for `integer`, an integer literal.
std::string turtleNumber(float value, bool integer);

// One plug-in's Turtle (the content of <key>.ttl).
std::string pluginTurtle(const Plugin& plugin);

}  // namespace rmlv2

// Finding module libraries: a plain name ("swarm") is looked up as lib<name>.so in the plug-in
// directories; anything that looks like a path is taken as one.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace rmcli {

class PluginFinder {
 public:
  // Searches `directories` in order.
  explicit PluginFinder(std::vector<std::filesystem::path> directories)
      : directories_(std::move(directories)) {}

  // The directories next to a program: <dir>/plugins, <dir>/../plugins, <dir>/../lib/rackmill,
  // where <dir> holds the running executable.
  static std::vector<std::filesystem::path> besideExecutable();

  // The library for `plugin`; a relative path starts at `base`. nullopt when nothing is there.
  std::optional<std::filesystem::path> find(const std::string& plugin,
                                            const std::filesystem::path& base) const;

  // Why `plugin` was not found, and what to do: a close name among the plug-ins there ("did you
  // mean"), else the directories searched and the plug-ins they hold.
  std::string notFound(const std::string& plugin, const std::filesystem::path& base) const;

  // The plug-in names ("swarm" for libswarm.so) in the directories, each once, sorted.
  std::vector<std::string> available() const;

  const std::vector<std::filesystem::path>& directories() const { return directories_; }

 private:
  std::vector<std::filesystem::path> directories_;
};

}  // namespace rmcli

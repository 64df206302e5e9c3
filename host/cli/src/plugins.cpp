#include "plugins.h"

#include <algorithm>
#include <system_error>

#include "diagnostics.h"

namespace rmcli {

namespace fs = std::filesystem;

std::vector<fs::path> PluginFinder::besideExecutable() {
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  const fs::path dir = exe.parent_path();
  return {dir / "plugins", dir.parent_path() / "plugins", dir.parent_path() / "lib" / "rackmill"};
}

namespace {

bool looksLikePath(const std::string& plugin) {
  return plugin.find('/') != std::string::npos || fs::path(plugin).has_extension();
}

}  // namespace

std::optional<fs::path> PluginFinder::find(const std::string& plugin, const fs::path& base) const {
  std::vector<fs::path> candidates;
  if (looksLikePath(plugin)) {
    const fs::path path(plugin);
    candidates.push_back(path.is_absolute() ? path : base / path);
  } else {
    for (const fs::path& dir : directories_) candidates.push_back(dir / ("lib" + plugin + ".so"));
  }
  for (const fs::path& candidate : candidates) {
    std::error_code error;
    if (!fs::is_regular_file(candidate, error)) continue;
    const fs::path canonical = fs::weakly_canonical(candidate, error);
    return error ? candidate : canonical;
  }
  return std::nullopt;
}

std::vector<std::string> PluginFinder::available() const {
  std::vector<std::string> names;
  for (const fs::path& dir : directories_) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
      const std::string file = entry.path().filename().string();
      if (file.size() > 6 && file.rfind("lib", 0) == 0 && entry.path().extension() == ".so")
        names.push_back(file.substr(3, file.size() - 6));
    }
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

std::string PluginFinder::notFound(const std::string& plugin, const fs::path& base) const {
  if (looksLikePath(plugin)) {
    const fs::path path = fs::path(plugin).is_absolute() ? fs::path(plugin) : base / plugin;
    std::error_code error;
    const bool directory = fs::status(path, error).type() == fs::file_type::directory;
    return "cannot read the module library " + resolvedPath(path).string() + ": " +
           (error       ? error.message()
            : directory ? "it is a directory"
                        : "it is no file");
  }
  const std::vector<std::string> names = available();
  std::string message = "plug-in " + inQuotes(plugin) + " not found";
  const std::string hint = didYouMean(plugin, names);
  if (!hint.empty()) return message + hint;
  std::string searched;
  for (const fs::path& dir : directories_) {
    std::error_code error;
    if (fs::is_directory(dir, error))
      searched += (searched.empty() ? "" : ", ") + resolvedPath(dir).string();
  }
  if (searched.empty()) return message + "; there is no plug-in directory: add --plugin-path DIR";
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
  return message + " in " + searched + " (" + (list.empty() ? "none there" : "there: " + list) +
         "); name a library file or add --plugin-path DIR";
}

}  // namespace rmcli

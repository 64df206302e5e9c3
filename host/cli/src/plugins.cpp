#include "plugins.h"

#include <system_error>

namespace rmcli {

namespace fs = std::filesystem;

std::vector<fs::path> PluginFinder::besideExecutable() {
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  const fs::path dir = exe.parent_path();
  return {dir / "plugins", dir.parent_path() / "plugins", dir.parent_path() / "lib" / "rackmill"};
}

std::optional<fs::path> PluginFinder::find(const std::string& plugin, const fs::path& base,
                                           std::vector<fs::path>* tried) const {
  std::vector<fs::path> candidates;
  const bool isPath = plugin.find('/') != std::string::npos || fs::path(plugin).has_extension();
  if (isPath) {
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
  if (tried) *tried = std::move(candidates);
  return std::nullopt;
}

}  // namespace rmcli

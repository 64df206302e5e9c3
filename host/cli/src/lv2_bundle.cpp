#include "lv2_bundle.h"

#include <unistd.h>

#include <memory>
#include <set>
#include <stdexcept>
#include <system_error>

#include "layout/metadata_file.h"
#include "layout/ports.h"
#include "plugins.h"
#include "rmhost/library.h"
#include "ttl/turtle.h"

namespace rmcli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kBridgeFile = "rackmill_lv2.so";

// What goes into the bundle for one library.
struct Part {
  fs::path library;
  fs::path metadata;  // empty when the library has none
  std::unique_ptr<rmhost::Library> loaded;
  rmlv2::Plugin plugin;
};

class BundleError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

fs::path resolve(const std::string& name, const std::vector<fs::path>& pluginPath) {
  std::vector<fs::path> directories = pluginPath;
  for (auto& dir : PluginFinder::besideExecutable()) directories.push_back(std::move(dir));
  const PluginFinder finder(std::move(directories));
  const auto found = finder.find(name, fs::current_path());
  if (!found) throw BundleError(finder.notFound(name, fs::current_path()));
  return *found;
}

// Loads and describes every library before anything is written.
std::vector<Part> describeAll(const Lv2BundleOptions& options) {
  std::vector<Part> parts;
  std::set<std::string> files{kBridgeFile};
  std::set<std::string> uris;
  std::set<std::string> keys{"manifest"};
  for (const std::string& name : options.libraries) {
    Part part;
    part.library = resolve(name, options.pluginPath);
    const std::string file = part.library.filename().string();
    if (!files.insert(file).second) {
      throw BundleError("two libraries named " + file + "; a bundle holds each file name once");
    }
    std::string error;
    part.loaded = rmhost::Library::load(part.library.string(), &error);
    if (!part.loaded) {
      throw BundleError(part.library.string() + " is not a module library: " + error);
    }
    const fs::path metadata = rmlv2::metadataPathFor(part.library);
    const rmlv2::ModuleMetadataFile notes = rmlv2::readMetadataFile(metadata);
    if (!notes.path.empty()) part.metadata = notes.path;
    part.plugin = rmlv2::describeModule(part.loaded->info(), notes, file);
    // Library names that differ only in characters a Turtle file name loses ("a-b", "a_b")
    // keep apart, and none takes the manifest's name.
    const std::string key = part.plugin.key;
    for (int n = 2; !keys.insert(part.plugin.key).second; ++n) {
      part.plugin.key = key + "_" + std::to_string(n);
    }
    if (!uris.insert(part.plugin.uri).second) {
      throw BundleError("two libraries make the plug-in " + part.plugin.uri +
                        "; give one another \"uri\" in its metadata file (" +
                        rmlv2::metadataPathFor(file).string() + ")");
    }
    parts.push_back(std::move(part));
  }
  return parts;
}

void copyFile(const fs::path& from, const fs::path& to) {
  std::error_code error;
  fs::copy_file(from, to, fs::copy_options::none, error);
  if (error) throw BundleError("cannot copy " + from.string() + ": " + error.message());
}

// A folder beside the bundle that becomes it in one rename once complete, and is removed
// otherwise, so that no half-written bundle is ever seen under the bundle's name.
class PendingFolder {
 public:
  explicit PendingFolder(const fs::path& final) : final_(final) {
    const fs::path parent = final.has_parent_path() ? final.parent_path() : fs::path(".");
    path_ = parent / ("." + final.filename().string() + ".partial-" + std::to_string(getpid()));
    std::error_code error;
    fs::remove_all(path_, error);
    if (!fs::create_directory(path_, error) || error) {
      throw BundleError("cannot create " + final.string() + ": " +
                        (error ? error.message() : "it exists"));
    }
  }
  ~PendingFolder() {
    if (committed_) return;
    std::error_code error;
    fs::remove_all(path_, error);
  }
  PendingFolder(const PendingFolder&) = delete;
  PendingFolder& operator=(const PendingFolder&) = delete;

  const fs::path& path() const { return path_; }

  void commit() {
    std::error_code error;
    fs::rename(path_, final_, error);
    if (error) throw BundleError("cannot create " + final_.string() + ": " + error.message());
    committed_ = true;
  }

 private:
  fs::path final_;
  fs::path path_;
  bool committed_ = false;
};

}  // namespace

std::optional<fs::path> findBridge(std::vector<fs::path>* tried) {
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
  const fs::path root = exe.parent_path().parent_path();
  const fs::path candidates[] = {root / "lv2" / "rackmill.lv2" / kBridgeFile,
                                 root / "lib" / "rackmill" / kBridgeFile};
  for (const fs::path& candidate : candidates) {
    if (fs::is_regular_file(candidate, error)) return candidate;
    if (tried != nullptr) tried->push_back(candidate);
  }
  return std::nullopt;
}

int runLv2Bundle(const Lv2BundleOptions& options, std::ostream& out, std::ostream& err) {
  const fs::path output = options.output;
  if (output.extension() != ".lv2" || output.stem().empty()) {
    err << "rmhost: error: the bundle folder must be named NAME.lv2 (LV2 hosts look for such "
           "folders), not \""
        << output.string() << "\"\n";
    return 2;
  }
  try {
    std::error_code error;
    if (fs::exists(fs::symlink_status(output, error))) {
      throw BundleError(output.string() +
                        " exists; remove it or name another folder (nothing was written)");
    }
    std::vector<fs::path> tried;
    const auto bridge = options.bridge ? options.bridge : findBridge(&tried);
    if (!bridge || !fs::is_regular_file(*bridge, error)) {
      std::string message = "no LV2 bridge (" + std::string(kBridgeFile) +
                            ") beside rmhost; build with RM_BUILD_LV2=ON. Looked for:";
      for (const fs::path& place : tried) message += "\n  " + place.string();
      throw BundleError(message);
    }
    const std::vector<Part> parts = describeAll(options);

    PendingFolder folder(output);
    std::vector<rmlv2::Plugin> plugins;
    for (const Part& part : parts) {
      const fs::path library = folder.path() / part.library.filename();
      copyFile(part.library, library);
      if (!part.metadata.empty()) copyFile(part.metadata, rmlv2::metadataPathFor(library));
      plugins.push_back(part.plugin);
    }
    copyFile(*bridge, folder.path() / kBridgeFile);
    rmlv2::writeTurtle(folder.path(), plugins, kBridgeFile);
    folder.commit();

    out << "wrote " << output.string() << " (" << plugins.size() << " plug-in"
        << (plugins.size() == 1 ? "" : "s") << ")\n";
    for (const rmlv2::Plugin& plugin : plugins) {
      out << "  " << plugin.uri << "  " << plugin.name << ", " << plugin.ports.size() << " ports\n";
    }
    return 0;
  } catch (const rmlv2::MetadataError& e) {
    err << e.what() << '\n';  // FILE:LINE:COLUMN: error: ...
  } catch (const std::exception& e) {
    err << "rmhost: error: " << e.what() << '\n';
  }
  return 1;
}

}  // namespace rmcli

// The bridge's LV2 entry: our three plug-ins, and one plug-in per module library that the
// bundle's module index lists (ttl/turtle.h). instantiate loads the module libraries that sit
// next to this library in the bundle and answers null, with the reason in the host's log, when
// they or a required feature are missing; no failure leaves an entry.
#include <dlfcn.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bridge/inspect.h"
#include "bridge/plugins.h"
#include "ttl/turtle.h"

namespace rmlv2 {

namespace {

enum Kind : uint32_t { kInstrument, kOscillator, kEnvelope, kModule };

const char* const kKeys[kModule] = {"instrument", "swarm", "vellum"};

// The plug-in of a module library, as the bundle's module index lists it.
struct ModuleEntry {
  std::string uri;
  std::string library;
};

const void* findFeature(const LV2_Feature* const* features, const char* uri) {
  for (; features != nullptr && *features != nullptr; ++features) {
    if (std::string((*features)->URI) == uri) return (*features)->data;
  }
  return nullptr;
}

const char* nameOf(Kind kind, const ModuleEntry* entry) {
  return kind == kModule ? entry->library.c_str() : kKeys[kind];
}

std::unique_ptr<rmhost::Library> loadModule(const std::string& bundle, const char* file) {
  std::string error;
  auto library = rmhost::Library::load((std::filesystem::path(bundle) / file).string(), &error);
  if (!library) throw std::runtime_error("cannot load the module library " + error);
  return library;
}

// Our plug-ins from swarm and vellum beside the bridge; a module library's from its library and
// its metadata file, read the way `rmhost lv2-bundle` read them to write the Turtle.
void describe(HostContext& context, Kind kind, const std::string& bundle,
              const ModuleEntry* entry) {
  if (kind == kModule) {
    context.module = loadModule(bundle, entry->library.c_str());
    const auto library = std::filesystem::path(bundle) / entry->library;
    context.layout = describeModule(context.module->info(),
                                    readMetadataFile(metadataPathFor(library)), entry->library);
    return;
  }
  context.swarm = loadModule(bundle, "libswarm.so");
  context.vellum = loadModule(bundle, "libvellum.so");
  for (Plugin& plugin : describePlugins(context.swarm->info(), context.vellum->info())) {
    if (plugin.key == kKeys[kind]) context.layout = std::move(plugin);
  }
}

LV2_Handle instantiate(Kind kind, const ModuleEntry* entry, double rate, const char* bundle,
                       const LV2_Feature* const* features) {
  HostContext context;
  context.map = static_cast<LV2_URID_Map*>(const_cast<void*>(findFeature(features, LV2_URID__map)));
  lv2_log_logger_init(
      &context.logger, context.map,
      static_cast<LV2_Log_Log*>(const_cast<void*>(findFeature(features, LV2_LOG__log))));
  try {
    if (!(rate >= 1000.0 && rate <= 1.0e6)) {
      throw std::runtime_error("unusable sample rate " + std::to_string(rate));
    }
    if (kind == kInstrument && context.map == nullptr) {
      throw std::runtime_error("the host offers no " LV2_URID__map ", needed to read MIDI");
    }
    context.sampleRate = rate;
    describe(context, kind, bundle != nullptr ? bundle : "", entry);
    if (kind == kModule && context.layout.uri != entry->uri) {
      throw std::runtime_error(entry->library + " now makes the plug-in " + context.layout.uri +
                               "; make the bundle again");
    }
    std::unique_ptr<SessionPlugin> made;
    switch (kind) {
      case kInstrument:
        made = makeInstrumentPlugin(std::move(context));
        break;
      case kOscillator:
        made = makeOscillatorPlugin(std::move(context));
        break;
      case kModule:
        made = makeModulePlugin(std::move(context));
        break;
      default:
        made = makeEnvelopePlugin(std::move(context));
        break;
    }
    made->activate();  // proves the modules make instances; activate builds afresh
    return made.release();
  } catch (const std::exception& e) {
    lv2_log_error(&context.logger, "rackmill %s: %s\n", nameOf(kind, entry), e.what());
  } catch (...) {
    lv2_log_error(&context.logger, "rackmill %s: instantiation failed\n", nameOf(kind, entry));
  }
  return nullptr;
}

SessionPlugin& plugin(LV2_Handle handle) {
  return *static_cast<SessionPlugin*>(handle);
}

// Any thread the host serialises with run(); stores the buffer address only.
void connectPort(LV2_Handle handle, uint32_t port, void* data) {
  plugin(handle).connect(port, data);
}

// Instantiation thread, not concurrently with run(): builds a fresh session (allocates).
void activate(LV2_Handle handle) {
  try {
    plugin(handle).activate();
  } catch (...) {
    // Out of memory: the plug-in stays silent until an activation succeeds.
  }
}

// Audio thread: no allocation, lock, log or throw.
void run(LV2_Handle handle, uint32_t frames) {
  plugin(handle).run(frames);
}

// Instantiation thread: nothing to release; the next activation starts afresh.
void deactivate(LV2_Handle) {}

// Instantiation thread: closes the instances, then unloads the module libraries.
void cleanup(LV2_Handle handle) {
  delete static_cast<SessionPlugin*>(handle);
}

int32_t voicesHeard(void* handle) {
  return plugin(handle).voicesHeard();
}

const InspectInterface kInspect{voicesHeard};

const void* extensionData(const char* uri) {
  return uri != nullptr && std::strcmp(uri, kInspectUri) == 0 ? &kInspect : nullptr;
}

// The bundle's module index, read once from the directory this library was loaded from.
std::vector<ModuleEntry> readModuleIndex() {
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&readModuleIndex), &self) == 0 || self.dli_fname == nullptr)
    return {};
  std::ifstream file(std::filesystem::path(self.dli_fname).parent_path() / kModuleIndexFile);
  std::vector<ModuleEntry> entries;
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    ModuleEntry entry;
    // The URI holds no space; the library's file name may.
    if (std::getline(fields >> entry.uri >> std::ws, entry.library) && !entry.library.empty())
      entries.push_back(std::move(entry));
  }
  return entries;
}

// Our three descriptors, then one per entry of the module index. Built on the first call of
// lv2_descriptor (never on the audio thread) and kept for the library's life.
class Descriptors {
 public:
  Descriptors() : modules_(readModuleIndex()) {
    for (uint32_t kind = 0; kind < kModule; ++kind)
      uris_.push_back(kUriBase + std::string(kKeys[kind]));
    for (const ModuleEntry& entry : modules_) uris_.push_back(entry.uri);
    for (const std::string& uri : uris_) {
      table_.push_back({uri.c_str(), instantiateAny, connectPort, activate, run, deactivate,
                        cleanup, extensionData});
    }
  }

  const LV2_Descriptor* at(uint32_t index) const {
    return index < table_.size() ? &table_[index] : nullptr;
  }

  static const Descriptors& get() {
    static const Descriptors descriptors;
    return descriptors;
  }

 private:
  // Instantiation thread: loads, describes and builds; null with a logged reason on failure.
  static LV2_Handle instantiateAny(const LV2_Descriptor* descriptor, double rate,
                                   const char* bundle, const LV2_Feature* const* features) {
    const Descriptors& all = get();
    const auto index = static_cast<size_t>(descriptor - all.table_.data());
    if (index < kModule)
      return instantiate(static_cast<Kind>(index), nullptr, rate, bundle, features);
    return instantiate(kModule, &all.modules_[index - kModule], rate, bundle, features);
  }

  std::vector<ModuleEntry> modules_;
  std::vector<std::string> uris_;
  std::vector<LV2_Descriptor> table_;
};

}  // namespace

}  // namespace rmlv2

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  try {
    return rmlv2::Descriptors::get().at(index);
  } catch (...) {
    return nullptr;  // out of memory while reading the module index
  }
}

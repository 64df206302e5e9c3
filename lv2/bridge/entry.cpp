// The bundle's LV2 entry: three descriptors over one bridge. instantiate loads the module
// libraries that sit next to this library in the bundle and answers null, with the reason in the
// host's log, when they or a required feature are missing; no failure leaves an entry.
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>

#include "bridge/inspect.h"
#include "bridge/plugins.h"

namespace rmlv2 {

namespace {

enum Kind : uint32_t { kInstrument, kOscillator, kEnvelope, kKinds };

const char* const kKeys[kKinds] = {"instrument", "swarm", "vellum"};

const void* findFeature(const LV2_Feature* const* features, const char* uri) {
  for (; features != nullptr && *features != nullptr; ++features) {
    if (std::string((*features)->URI) == uri) return (*features)->data;
  }
  return nullptr;
}

std::unique_ptr<rmhost::Library> loadModule(const std::string& bundle, const char* file) {
  std::string error;
  auto library = rmhost::Library::load((std::filesystem::path(bundle) / file).string(), &error);
  if (!library) throw std::runtime_error("cannot load the module library " + error);
  return library;
}

LV2_Handle instantiate(Kind kind, double rate, const char* bundle,
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
    context.swarm = loadModule(bundle != nullptr ? bundle : "", "libswarm.so");
    context.vellum = loadModule(bundle != nullptr ? bundle : "", "libvellum.so");
    for (Plugin& plugin : describePlugins(context.swarm->info(), context.vellum->info())) {
      if (plugin.key == kKeys[kind]) context.layout = std::move(plugin);
    }
    std::unique_ptr<SessionPlugin> made;
    switch (kind) {
      case kInstrument:
        made = makeInstrumentPlugin(std::move(context));
        break;
      case kOscillator:
        made = makeOscillatorPlugin(std::move(context));
        break;
      default:
        made = makeEnvelopePlugin(std::move(context));
        break;
    }
    made->activate();  // proves the modules make instances; activate builds afresh
    return made.release();
  } catch (const std::exception& e) {
    lv2_log_error(&context.logger, "rackmill %s: %s\n", kKeys[kind], e.what());
  } catch (...) {
    lv2_log_error(&context.logger, "rackmill %s: instantiation failed\n", kKeys[kind]);
  }
  return nullptr;
}

// Instantiation thread: loads, describes and builds; null with a logged reason on failure.
template <Kind kind>
LV2_Handle instantiateAs(const LV2_Descriptor*, double rate, const char* bundle,
                         const LV2_Feature* const* features) {
  return instantiate(kind, rate, bundle, features);
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

const std::string& uriOf(Kind kind) {
  static const std::string uris[kKinds] = {std::string(kUriBase) + kKeys[0],
                                           std::string(kUriBase) + kKeys[1],
                                           std::string(kUriBase) + kKeys[2]};
  return uris[kind];
}

const LV2_Descriptor kDescriptors[kKinds] = {
    {uriOf(kInstrument).c_str(), instantiateAs<kInstrument>, connectPort, activate, run, deactivate,
     cleanup, extensionData},
    {uriOf(kOscillator).c_str(), instantiateAs<kOscillator>, connectPort, activate, run, deactivate,
     cleanup, extensionData},
    {uriOf(kEnvelope).c_str(), instantiateAs<kEnvelope>, connectPort, activate, run, deactivate,
     cleanup, extensionData},
};

}  // namespace

}  // namespace rmlv2

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  return index < rmlv2::kKinds ? &rmlv2::kDescriptors[index] : nullptr;
}

// The vellum library's identity and instance creation, for the two exports.
#include "rackmill/plugin.h"
#include "vellum/module.h"

const rm::PluginIdentity rm::pluginIdentity{"vellum", "vellum",
                                            "vellum: shaped AHDSR envelope with LFO"};

RMModule_base* rm::createPluginModule(HostCallback callback, int32_t hostValue) noexcept {
  return rm::createModule<vellum::Module>(callback, hostValue);
}

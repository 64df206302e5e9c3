// The tremolo library's identity and instance creation, for the two exports.
#include "rackmill/plugin.h"
#include "module.h"

const rm::PluginIdentity rm::pluginIdentity{"tremolo", "Tremolo",
                                            "tremolo: the template module of the Rackmill kit"};

RMModule_base* rm::createPluginModule(HostCallback callback, int32_t hostValue) noexcept {
  return rm::createModule<tremolo::Module>(callback, hostValue);
}

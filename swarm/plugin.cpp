// The swarm library's identity and instance creation, for the two exports.
#include "rackmill/plugin.h"
#include "swarm/module.h"

const rm::PluginIdentity rm::pluginIdentity{"swarm", "Rackmill swarm Module",
                                            "swarm oscillator bank, Rackmill modules project"};

RMModule_base* rm::createPluginModule(HostCallback callback, int32_t hostValue) noexcept {
  return rm::createModule<swarm::Module>(callback, hostValue);
}

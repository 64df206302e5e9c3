// The two exports of a module library. The library supplies rm::pluginIdentity and
// rm::createPluginModule; everything else is shared.
#include "rackmill/export.h"
#include "rackmill/plugin.h"

RM_EXPORT int32_t RM_CALL getModuleProperties(int32_t index,
                                              ModuleDescription* description) noexcept {
  const rm::FpGuard fp;
  if (description == nullptr) return 0;
  description->flags = RM_MODULE_FLAGS;
  if (index != 0) return 0;
  description->id = rm::pluginIdentity.id;
  description->name = rm::pluginIdentity.name;
  description->credit = rm::pluginIdentity.credit;
  return 1;
}

RM_EXPORT ModuleRecord* RM_CALL makeModule(int32_t index, int32_t kind, HostCallback callback,
                                           int32_t hostValue) noexcept {
  const rm::FpGuard fp;
  if (index != 0 || kind != RM_MODULE_KIND) return nullptr;
  RMModule_base* module = rm::createPluginModule(callback, hostValue);
  if (module == nullptr) return nullptr;
  module->enteredFrom(fp);
  return module->record();
}

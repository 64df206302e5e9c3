// What a module library supplies to the shared code of its two exports: its three description
// strings and the creation of its Module. Define both once per library:
//
//   const rm::PluginIdentity rm::pluginIdentity{"vellum", "vellum", "credit line"};
//   RMModule_base* rm::createPluginModule(HostCallback cb, int32_t hostValue) noexcept {
//     return rm::createModule<Module>(cb, hostValue);
//   }
#pragma once

#include <new>

#include "rackmill/module_base.h"

namespace rm {

struct PluginIdentity {
  const char* id;
  const char* name;
  const char* credit;
};

extern const PluginIdentity pluginIdentity;

// Creates one module instance; null when it cannot be created.
RMModule_base* createPluginModule(HostCallback callback, int32_t hostValue) noexcept;

template <class M>
RMModule_base* createModule(HostCallback callback, int32_t hostValue) noexcept {
  try {
    return new (std::nothrow) M(callback, hostValue);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace rm

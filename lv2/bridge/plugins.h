// The bundle's plug-ins, each made from what instantiate loaded: our three, and the plug-in of
// any module library.
#pragma once

#include <memory>

#include "bridge/session_plugin.h"

namespace rmlv2 {

std::unique_ptr<SessionPlugin> makeEnvelopePlugin(HostContext context);
std::unique_ptr<SessionPlugin> makeOscillatorPlugin(HostContext context);
std::unique_ptr<SessionPlugin> makeInstrumentPlugin(HostContext context);
std::unique_ptr<SessionPlugin> makeModulePlugin(HostContext context);

}  // namespace rmlv2

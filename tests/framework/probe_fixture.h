// Shared set-up of the framework tests: the probe library and a host session around it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "loaded_library.h"
#include "probe_module.h"
#include "rackmill/module_base.h"
#include "rmhost/session.h"

inline rmhost::Library& probeLibrary() {
  return loadedLibrary(PROBE_PATH);
}

inline PinDescription describe(int32_t datatype, const char* name, int32_t flags = 0,
                               void* variable = probe::kModuleVariable) {
  PinDescription d{};
  d.variable = variable;
  d.direction = dirInput;
  d.datatype = datatype;
  d.name = name;
  d.flags = flags;
  return d;
}

inline PinDescription outputPin(const char* name) {
  PinDescription d = describe(dtAudio, name);
  d.direction = dirOutput;
  return d;
}

// A session hosting one probe instance whose pin table the test sets before open.
class ProbeHost : public ::testing::Test {
 protected:
  void create(int32_t pinCount = -1, int32_t blockSize = 64) {
    session = std::make_unique<rmhost::Session>(
        rmhost::SessionConfig{44100.0f, blockSize, pinCount, true});
    id = session->create(probeLibrary(), session->addGroup());
    ASSERT_GE(id, 0);
    session->dispatch(id, opHostMessage, 0, probe::kAttachProbe, &probe);
  }
  void addPins(std::initializer_list<PinDescription> pins) {
    for (const PinDescription& d : pins) probe.descriptions[probe.descriptionCount++] = d;
  }
  void open() { session->open(id); }
  RMModule_base& module() { return *static_cast<RMModule_base*>(probe.object); }
  void statusEvent(int32_t pin, int32_t status, int32_t position = 0) {
    ModuleEvent event{0, eventPinStatus, status, 0, pin};
    session->deliver(id, event, position);
  }
  int countRequests(int32_t opcode) const {
    int n = 0;
    for (const auto& r : session->requests()) n += r.opcode == opcode ? 1 : 0;
    return n;
  }

  probe::Probe probe;
  std::unique_ptr<rmhost::Session> session;
  rmhost::InstanceId id = -1;
};

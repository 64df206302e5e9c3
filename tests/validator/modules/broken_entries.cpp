// A module library whose two exports break the interface's rules, written without the framework:
// getModuleProperties answers for every index, leaves the flags alone, writes an empty name and a
// word of the host's; makeModule answers any index and kind with one static record that has the
// wrong magic and version, keeps no host value, names no object and has a dispatcher that answers
// 0 to everything, close included.
#include "rackmill/abi.h"
#include "rackmill/export.h"

namespace {

intptr_t RM_CALL answerNothing(ModuleRecord*, int32_t, int32_t, int32_t, void*, float) {
  return 0;
}
void RM_CALL processNothing(void*, int32_t, int32_t) {}
void RM_CALL handleNothing(void*, ModuleEvent*) {}

ModuleRecord brokenRecord() {
  ModuleRecord record{};
  record.magic = 0x21444142;  // "BAD!"
  record.version = 2;
  record.reserved0 = 5;
  record.dispatcherEntry = &answerNothing;
  record.processEntry = &processNothing;
  record.eventEntry = &handleNothing;
  record.sampleRate = 48000.0f;
  record.blockSize = 64;
  return record;
}

ModuleRecord record = brokenRecord();

}  // namespace

RM_EXPORT int32_t RM_CALL getModuleProperties(int32_t, ModuleDescription* description) {
  description->id = "broken";
  description->name = "";
  description->credit = "validator test library";
  description->hostWordA = 7;
  return 1;
}

RM_EXPORT ModuleRecord* RM_CALL makeModule(int32_t, int32_t, HostCallback, int32_t) {
  return &record;
}

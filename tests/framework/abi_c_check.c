/* The host interface used from C: abi.h compiles as C11 with its layout checks, and a host
 * written in C declares its callback and calls a module through the interface's types. Building
 * this file is the test. */
#include "rackmill/abi.h"

static intptr_t RM_CALL answerClock(ModuleRecord* record, int32_t opcode, int32_t index,
                                    int32_t value, void* ptr, float opt) {
  (void)record, (void)index, (void)value, (void)ptr, (void)opt;
  return opcode == hostSampleClock ? 1 : 0;
}

ModuleRecord* rmCreateFromC(MakeModuleFn make, GetModulePropertiesFn describe) {
  ModuleDescription description = {0, 0, 0, 0, 0, 0};
  if (describe(0, &description) != 1) return 0;
  return make(0, RM_MODULE_KIND, &answerClock, 0);
}

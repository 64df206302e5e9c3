// A module of the tests' own: its pin table and behaviour are set by the test through a Probe
// handed over with opcode 12 before open, and it records what the framework calls on it.
#pragma once

#include <cstdint>

#include "rackmill/abi.h"

namespace probe {

constexpr int32_t kMaxPins = 32;
constexpr int32_t kMaxCalls = 64;
// A description whose variable is this value is bound to the module's own variable slot.
inline void* const kModuleVariable = reinterpret_cast<void*>(1);

struct Probe {
  // Set by the test.
  int32_t descriptionCount = 0;
  PinDescription descriptions[kMaxPins] = {};

  // Written by the module.
  int32_t describeCalls[kMaxCalls] = {};  // describePin indexes asked during open
  int32_t describeCallCount = 0;
  int32_t pinStatusCalls = 0;
  int32_t lastPinIndex = -1;
  int32_t statusSeen = -1;  // the pin's status while onPinStatus runs
  float valueSeen = 0.0f;   // valueNow of the pin when it is an audio pin
  int32_t resumeCalls = 0;
  int32_t resumeIndexSeen = 0;
  int32_t dataEvents = 0;
  int32_t operationRuns = 0;
  int32_t closeCalls = 0;
  int32_t destroyed = 0;
  ModuleRecord* cloneRecords[8] = {};
  int32_t cloneCount = 0;
  void* variables = nullptr;  // the module's variable slots (kMaxPins of 8 bytes each)
  void* object = nullptr;     // the module object, as the record names it
  // Entry points of the module for the test: type-17 operations and its two process functions.
  void (*switchToSecondProcess)(void*) = nullptr;
  void (*countOperation)(void*) = nullptr;
  void (*sleepOperation)(void*) = nullptr;      // asks the host to sleep
  void (*announceOperation)(void*) = nullptr;   // announces pin 0 streaming at the current clock
  void (*cloneWalkOperation)(void*) = nullptr;  // records the clone walk into cloneRecords
  ProcessEntry firstProcess = nullptr;
  ProcessEntry secondProcess = nullptr;
  void* firstProcessAddress = nullptr;
  // Installs a reference with the given address and adjustment words (for equality rules).
  void (*install)(void* object, void* address, int32_t a0, int32_t a1, int32_t a2) = nullptr;
};

// opHostMessage value that hands a Probe to the module.
constexpr int32_t kAttachProbe = 1;

}  // namespace probe

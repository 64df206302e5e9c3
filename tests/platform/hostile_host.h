// A module library that stands between a host and a real module library and plays a hostile
// host towards the real one: every call into the real library is made in a floating-point
// environment chosen by the test (and, for 32-bit Windows, on a stack misaligned as chosen), and
// every state the real library leaves or shows is checked:
//   - after each entry the environment must be exactly the one the entry was called in;
//   - inside each callback the module makes, the environment must be that same one.
// The host above it (an rmhost::Session) runs in its own, plain environment throughout.
#pragma once

#include <cstdint>

#include "fp_state.h"
#include "rackmill/abi.h"

namespace platform_test {

struct HostileSetup {
  const char* library = nullptr;  // the real module library
  FpBits environment;             // the environment of every call into it
  int32_t stackMisalign = -1;     // 32-bit Windows: ESP mod 16 at each call; -1: plain calls
};

struct HostileReport {
  int64_t entries = 0;
  int64_t callbacks = 0;
  int64_t entryMismatches = 0;     // entries that left another environment
  int64_t callbackMismatches = 0;  // callbacks that ran in another environment
  FpBits firstSeen;                // the first wrong environment
  char firstWhere[48] = {};        // and where it was seen
};

}  // namespace platform_test

// Extra exports of the in-between library. Setup loads the real library (once per path) and
// resets the report; it answers false when the library cannot be loaded.
using HostileSetupFn = bool (*)(const platform_test::HostileSetup* setup);
using HostileReportFn = const platform_test::HostileReport* (*)();

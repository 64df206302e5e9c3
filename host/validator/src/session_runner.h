// One seeded session of the dynamic checks: random rate, block size, splits, clone groups, pin
// values, streams, events and dispatcher requests, with the outputs and the audio-path
// allocations checked after every process call.
#pragma once

#include <cstdint>
#include <vector>

#include "rmhost/check.h"
#include "rmhost/library.h"

namespace rmhost::validator {

struct SessionOutcome {
  std::vector<uint64_t> blockHashes;  // outputs and host requests, one hash per block
  std::vector<int64_t> blockClocks;   // first clock of each hashed block
  int64_t processCalls = 0;
  int64_t events = 0;
  int64_t dispatcherCalls = 0;
  int64_t valueChanges = 0;  // pin values and streams the host changed at a clock
  int64_t samples = 0;
  int64_t nonzeroSamples = 0;  // output samples that are not zero
  uint64_t allocations = 0;       // audio-path allocations and frees
  std::vector<Failure> failures;  // the first of each kind
};

SessionOutcome runSession(Library& library, uint64_t seed, FiniteRule rule);

}  // namespace rmhost::validator

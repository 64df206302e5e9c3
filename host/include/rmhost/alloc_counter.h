// Counts heap operations that a module performs on its audio path (its process function or its
// event handling, outside host callbacks; see rmhost::onModuleAudioPath).
//
// The counter sits in the executable: without AddressSanitizer it defines malloc and its
// relatives and forwards them to the C library; under AddressSanitizer it installs the
// sanitizer's allocation hooks. Counting happens only while armed.
#pragma once

#include <cstdint>

namespace rmhost {

struct AllocationCounts {
  uint64_t allocations = 0;
  uint64_t frees = 0;
  uint64_t total() const { return allocations + frees; }
};

// Starts counting (from zero) or stops it.
void armAllocationCounter(bool armed) noexcept;

// Audio-path allocations and frees seen since the counter was last armed.
AllocationCounts audioPathHeapOperations() noexcept;

// False when this build cannot see allocations (no interposition possible).
bool allocationCounterWorks() noexcept;

}  // namespace rmhost

// A module's pins as one constant table: everything of a pin's description except its variable,
// which belongs to the instance. A module's describePin checks the index and fills the host's
// record from its entry.
#pragma once

#include <cstdint>

#include "rackmill/abi.h"

namespace rm {

struct PinEntry {
  const char* name;
  int32_t direction;
  int32_t datatype;
  const char* defaultValue;  // decimal text, or null
  const char* listItems;     // "label=value,..." for list pins, or null
};

// Fills `description` from `entry` with the instance's `variable`. The record arrives zeroed, so
// a default or list text the entry lacks stays empty.
inline void fillPinDescription(const PinEntry& entry, void* variable,
                               PinDescription& description) noexcept {
  description.variable = variable;
  description.direction = entry.direction;
  description.datatype = entry.datatype;
  description.name = entry.name;
  if (entry.defaultValue != nullptr) description.defaultValue = entry.defaultValue;
  if (entry.listItems != nullptr) description.listItems = entry.listItems;
}

}  // namespace rm

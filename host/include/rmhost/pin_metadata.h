// What the pins of our modules mean to a musician: a sentence on what each does to the sound, its
// unit, its useful range and, for list pins, what each item means. The modules' own pin
// descriptions (names, types, defaults, list texts) stay the host interface's; this table adds
// the words around them. Everything that shows pins to a person reads it: `rmhost info`, the LV2
// Turtle and the documentation.
#pragma once

#include <span>
#include <string_view>

namespace rmhost {

struct ListItemMeaning {
  std::string_view label;    // the item's label as in the pin's list text
  std::string_view meaning;  // what choosing it does
};

struct PinMetadata {
  std::string_view pin;          // the pin's name exactly as the module describes it
  std::string_view description;  // what it does to the sound, in one sentence
  std::string_view unit;         // "Hz", "s", "dB", "semitones", "segments/s", ... or "" if none
  double minimum = 0.0;          // the useful range (a host may still send anything)
  double maximum = 1.0;
  std::span<const ListItemMeaning> items;  // list pins: every item of the list text
};

struct ModuleMetadata {
  std::string_view moduleId;  // the module's identifier, as getModuleProperties gives it
  std::span<const PinMetadata> pins;

  // The entry of pin `name`; null when the table has none.
  const PinMetadata* find(std::string_view name) const;
};

// The table of the module with identifier `moduleId` (swarm's or vellum's); null for others.
const ModuleMetadata* findModuleMetadata(std::string_view moduleId);

// Every module the table knows.
std::span<const ModuleMetadata> allModuleMetadata();

}  // namespace rmhost

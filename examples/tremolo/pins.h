// The pins of the tremolo: their numbers and how the module describes them to the host. Names,
// directions, types and defaults are what saved patches rely on: change them and old patches
// break.
#pragma once

#include <cstdint>

#include "rackmill/abi.h"
#include "rackmill/pin_table.h"

namespace tremolo::pins {

inline constexpr int32_t in = 0;
inline constexpr int32_t rate = 1;
inline constexpr int32_t depth = 2;
inline constexpr int32_t shape = 3;
inline constexpr int32_t out = 4;
inline constexpr int32_t count = 5;

inline constexpr rm::PinEntry table[count] = {
    {"in", dirInput, dtAudio, "0", nullptr},
    {"Rate", dirInput, dtAudio, "5", nullptr},     // Hz
    {"Depth", dirInput, dtAudio, "0.5", nullptr},  // 0: no change, 1: down to silence
    {"Shape", dirInput, dtList, "0", "sine=0,triangle=1,square=2"},
    {"out", dirOutput, dtAudio, nullptr, nullptr},
};

}  // namespace tremolo::pins

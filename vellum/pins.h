// The 18 pins of the vellum module: their numbers and how the module describes them to the host.
// Names, directions, types, default and list texts are what saved patches rely on.
#pragma once

#include <cstdint>

#include "rackmill/abi.h"
#include "rackmill/pin_table.h"

namespace vellum::pins {

inline constexpr int32_t gate = 0;
inline constexpr int32_t attack = 1;
inline constexpr int32_t hold = 2;
inline constexpr int32_t decay = 3;
inline constexpr int32_t sustain = 4;
inline constexpr int32_t release = 5;
inline constexpr int32_t overallLevel = 6;
inline constexpr int32_t attackForm = 7;
inline constexpr int32_t decayForm = 8;
inline constexpr int32_t releaseForm = 9;
inline constexpr int32_t fullAttack = 10;
inline constexpr int32_t noRelease = 11;
inline constexpr int32_t lfoAmt = 12;
inline constexpr int32_t lfoFreq = 13;
inline constexpr int32_t lfoPhase = 14;
inline constexpr int32_t lfoAlign = 15;
inline constexpr int32_t signalOut = 16;
inline constexpr int32_t dbmode = 17;
inline constexpr int32_t count = 18;

inline constexpr const char* offOn = "off=0,on=1";

inline constexpr rm::PinEntry table[count] = {
    {"Gate", dirInput, dtAudio, "1", nullptr},
    {"Attack", dirInput, dtAudio, "0", nullptr},
    {"Hold", dirInput, dtAudio, "0", nullptr},
    {"Decay", dirInput, dtAudio, "5", nullptr},
    {"Sustain", dirInput, dtAudio, "7", nullptr},
    {"Release", dirInput, dtAudio, "4", nullptr},
    {"Overall Level", dirInput, dtAudio, "10", nullptr},
    {"AttackForm", dirInput, dtAudio, "0", nullptr},
    {"DecayForm", dirInput, dtAudio, "0", nullptr},
    {"ReleaseForm", dirInput, dtAudio, "0", nullptr},
    {"FullAttack", dirInput, dtList, "1", offOn},
    {"NoRelease", dirInput, dtList, "0", offOn},
    {"LfoAmt", dirInput, dtAudio, "0", nullptr},
    {"LfoFreq", dirInput, dtAudio, "10", nullptr},
    {"LfoPhase", dirInput, dtAudio, "10", nullptr},
    {"LfoAlign", dirInput, dtList, "1", "off=0,normal=1,bottom mod=2,center mod=3,top mod=4"},
    {"Signal Out", dirOutput, dtAudio, nullptr, nullptr},
    {"dbmode", dirSetting, dtInteger, "0", nullptr},
};

}  // namespace vellum::pins

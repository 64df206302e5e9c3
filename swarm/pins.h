// The 20 pins of the swarm module: their numbers and how the module describes them to the host.
#pragma once

#include <cstdint>

#include "rackmill/abi.h"
#include "rackmill/pin_table.h"

namespace swarm::pins {

inline constexpr int32_t fc1 = 0;
inline constexpr int32_t fm1 = 1;
inline constexpr int32_t partials = 2;  // "N"
inline constexpr int32_t a1 = 3;
inline constexpr int32_t gate = 4;
inline constexpr int32_t poly = 5;
inline constexpr int32_t sync = 6;
inline constexpr int32_t wave1 = 7;
inline constexpr int32_t rotate = 8;
inline constexpr int32_t incr = 9;
inline constexpr int32_t pitchSpread = 10;
inline constexpr int32_t fm2 = 11;
inline constexpr int32_t a2 = 12;
inline constexpr int32_t pitchShuffle = 13;
inline constexpr int32_t wind = 14;
inline constexpr int32_t phaseSpread = 15;
inline constexpr int32_t oscs = 16;
inline constexpr int32_t retrigger = 17;
inline constexpr int32_t outputL = 18;
inline constexpr int32_t outputR = 19;
inline constexpr int32_t count = 20;

inline constexpr const char* polyItems =
    "1=1,2=2,3=3,4=4,5=5,6=6,7=7,8=8,9=9,10=10,11=11,12=12,13=13,14=14,15=15,16=16";
inline constexpr const char* oscsItems =
    "1=1,2=2,3=3,4=4,5=5,6=6,7=7,8=8,9=9,10=10,11=11,12=12,13=13,14=14,15=15,16=16,17=17,18=18,"
    "19=19,20=20,22=22,24=24,26=26,28=28,30=30,35=35,40=40,45=45,50=50,60=60,70=70,80=80,90=90,"
    "100=100,120=120,140=140,160=160,180=180,200=200";

inline constexpr rm::PinEntry table[count] = {
    {"fc_1", dirInput, dtAudio, "0", nullptr},
    {"fm1_1", dirInput, dtAudio, "0", nullptr},
    {"N", dirInput, dtAudio, "0", nullptr},
    {"a_1", dirInput, dtAudio, "0", nullptr},
    {"gate", dirInput, dtAudio, "0", nullptr},
    {"poly", dirInput, dtList, "1", polyItems},
    {"sync", dirInput, dtAudio, "0", nullptr},
    {"Wave_1", dirInput, dtAudio, "0", nullptr},
    {"rotate", dirInput, dtAudio, "0", nullptr},
    {"incr", dirInput, dtAudio, "0", nullptr},
    {"pitchspread", dirInput, dtAudio, "0", nullptr},
    {"fm1_2", dirInput, dtAudio, "0", nullptr},
    {"a_2", dirInput, dtAudio, "0", nullptr},
    {"pitchShuffle", dirInput, dtAudio, "0", nullptr},
    {"wind", dirInput, dtAudio, "0", nullptr},
    {"phasespread", dirInput, dtAudio, "0", nullptr},
    {"oscs", dirInput, dtList, "50", oscsItems},
    {"retrigger", dirInput, dtList, "0", "off=1,on=0"},
    {"outputl", dirOutput, dtAudio, nullptr, nullptr},
    {"outputr", dirOutput, dtAudio, nullptr, nullptr},
};

}  // namespace swarm::pins

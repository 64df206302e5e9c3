// The vellum plug-in driven through the stand-in host, checked sample by sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "loaded_library.h"
#include "rmhost/library.h"
#include "rmhost/session.h"

namespace {

using rmhost::InstanceId;
using rmhost::Request;

constexpr float nan = std::numeric_limits<float>::quiet_NaN();

rmhost::Library& vellumLibrary() {
  return loadedLibrary(VELLUM_PATH);
}

using Pins = std::map<std::string, double>;
using Signal = float (*)(int64_t clock);

// One vellum instance in its own session. At 16 Hz the steps are exact binary fractions: a rate
// of 4 is a step of 0.25. Overall Level is 1 unless given, so the output is the envelope.
struct Rig {
  explicit Rig(Pins initial = {}, float sampleRate = 16.0f, int32_t blockSize = 16)
      : session(rmhost::SessionConfig{sampleRate, blockSize}) {
    id = session.create(vellumLibrary(), session.addGroup());
    initial.try_emplace("Overall Level", 1.0);
    for (const auto& [name, value] : initial) session.setInitial(id, pin(name), value);
    session.open(id);
  }

  int32_t pin(const std::string& name) const {
    const int32_t index = session.findPin(id, name);
    EXPECT_GE(index, 0) << name;
    return index;
  }
  void set(const std::string& name, double value, int64_t clock) {
    session.setValue(id, pin(name), value, clock);
  }
  void stream(const std::string& name, Signal signal, int64_t clock = 0) {
    session.setStream(
        id, pin(name),
        [signal](int64_t start, float* out, int32_t frames) {
          for (int32_t i = 0; i < frames; ++i) out[i] = signal(start + i);
        },
        clock);
  }
  // Runs whole blocks and answers their Signal Out samples.
  std::vector<float> run(int32_t blocks) {
    std::vector<float> out;
    const int32_t size = session.config().blockSize;
    for (int32_t b = 0; b < blocks; ++b) {
      session.runBlock();
      const float* block = session.buffer(id, pin("Signal Out"));
      out.insert(out.end(), block, block + size);
    }
    return out;
  }
  std::vector<Request> requests(int32_t opcode) const {
    std::vector<Request> found;
    for (const Request& r : session.requests()) {
      if (r.opcode == opcode) found.push_back(r);
    }
    return found;
  }

  rmhost::Session session;
  InstanceId id = -1;
};

// Output status announcements as (status, clock) pairs.
std::vector<std::pair<int32_t, intptr_t>> announcements(const Rig& rig) {
  std::vector<std::pair<int32_t, intptr_t>> found;
  for (const Request& r : rig.requests(hostOutputStatus)) {
    EXPECT_EQ(r.index, rig.pin("Signal Out"));
    found.emplace_back(r.value, r.ptr);
  }
  return found;
}

TEST(VellumDescription, IdentityAndPinsToTheLetter) {
  const rmhost::ModuleInfo& info = vellumLibrary().info();
  EXPECT_EQ(info.id, "vellum");
  EXPECT_EQ(info.name, "vellum");
  EXPECT_FALSE(info.credit.empty());
  EXPECT_EQ(info.flags, 2240);

  struct Want {
    const char* name;
    int32_t direction;
    int32_t datatype;
    const char* defaultText;
    const char* listText;
  };
  const Want want[] = {
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
      {"FullAttack", dirInput, dtList, "1", "off=0,on=1"},
      {"NoRelease", dirInput, dtList, "0", "off=0,on=1"},
      {"LfoAmt", dirInput, dtAudio, "0", nullptr},
      {"LfoFreq", dirInput, dtAudio, "10", nullptr},
      {"LfoPhase", dirInput, dtAudio, "10", nullptr},
      {"LfoAlign", dirInput, dtList, "1", "off=0,normal=1,bottom mod=2,center mod=3,top mod=4"},
      {"Signal Out", dirOutput, dtAudio, nullptr, nullptr},
      {"dbmode", dirSetting, dtInteger, "0", nullptr},
  };
  ASSERT_EQ(info.pins.size(), std::size(want));  // describePin(18) answers false
  for (size_t i = 0; i < info.pins.size(); ++i) {
    const rmhost::PinInfo& pin = info.pins[i];
    SCOPED_TRACE(want[i].name);
    EXPECT_EQ(pin.name, want[i].name);
    EXPECT_EQ(pin.direction, want[i].direction);
    EXPECT_EQ(pin.datatype, want[i].datatype);
    EXPECT_EQ(pin.defaultText.value_or("<none>"),
              want[i].defaultText ? want[i].defaultText : "<none>");
    EXPECT_EQ(pin.listText.value_or("<none>"), want[i].listText ? want[i].listText : "<none>");
    EXPECT_EQ(pin.flags, 0);
    EXPECT_TRUE(pin.hasVariable);
  }
}

// --- The envelope, sample by sample ----------------------------------------------------------

struct Scenario {
  const char* name;
  Pins pins;
  Signal gate;  // a streaming gate, or null for the default gate of 1
  std::vector<std::tuple<const char*, double, int64_t>> changes;  // one-off changes at clocks
  std::vector<float> want;                                        // Signal Out from clock 0
  bool splitInvariant = true;  // the same output however the host cuts its blocks
};

float gateHighUntil2(int64_t t) {
  return t < 2 ? 1.0f : 0.0f;
}
float gateHighUntil6(int64_t t) {
  return t < 6 ? 1.0f : 0.0f;
}
float gateHighUntil9(int64_t t) {
  return t < 9 ? 1.0f : 0.0f;
}

// Common segment rates: attack, hold, decay and release of four samples each, sustain 0.5.
Pins quarterSteps(Pins more = {}) {
  Pins pins{{"Attack", 4}, {"Hold", 4}, {"Decay", 4}, {"Sustain", 0.5}, {"Release", 4}};
  for (const auto& [name, value] : more) pins[name] = value;
  return pins;
}

const Scenario scenarios[] = {
    {"attack hold decay sustain release",
     quarterSteps(),
     nullptr,
     {{"Gate", 0, 20}},
     {.25f, .5f, .75f, 1,   1,   1,   1,   .875f, .75f, .625f, .5f, .5f, .5f,
      .5f,  .5f, .5f,  .5f, .5f, .5f, .5f, .375f, .25f, .125f, 0,   0,   0}},
    {"edges of a streaming gate take effect at their sample",
     quarterSteps(),
     [](int64_t t) { return t >= 5 && t < 30 ? 1.0f : 0.0f; },
     {},
     {0,     0,    0,     0,   0,   .25f, .5f,   .75f, 1,     1,   1,   1,
      .875f, .75f, .625f, .5f, .5f, .5f,  .5f,   .5f,  .5f,   .5f, .5f, .5f,
      .5f,   .5f,  .5f,   .5f, .5f, .5f,  .375f, .25f, .125f, 0,   0,   0}},
    {"zero attack starts in the hold",
     quarterSteps({{"Attack", 0}}),
     nullptr,
     {},
     {1, 1, 1, .875f, .75f, .625f, .5f, .5f}},
    {"zero decay jumps to the sustain level",
     quarterSteps({{"Decay", 0}}),
     nullptr,
     {},
     {.25f, .5f, .75f, 1, 1, 1, 1, .5f, .5f}},
    {"zero hold ends at once and the fall still releases",
     quarterSteps({{"Attack", 0}, {"Hold", 0}}),
     nullptr,
     {{"Gate", 0, 16}},
     {.875f, .75f, .625f, .5f, .5f, .5f,   .5f,  .5f,   .5f, .5f, .5f,
      .5f,   .5f,  .5f,   .5f, .5f, .375f, .25f, .125f, 0,   0}},
    {"negative hold ends at once",
     quarterSteps({{"Attack", 0}, {"Hold", -4}}),
     nullptr,
     {},
     {.875f, .75f, .625f, .5f, .5f}},
    {"NaN hold ends at once",
     quarterSteps({{"Attack", 0}, {"Hold", std::nan("")}}),
     nullptr,
     {},
     {.875f, .75f, .625f, .5f, .5f}},
    {"FullAttack on: a fall in the attack lets attack and hold run out, then releases from 1",
     quarterSteps(),
     gateHighUntil2,
     {},
     {.25f, .5f, .75f, 1, 1, 1, 1, .75f, .5f, .25f, 0, 0}},
    {"FullAttack off: a fall in the attack releases from the attack level",
     quarterSteps({{"FullAttack", 0}, {"AttackForm", 1}}),
     gateHighUntil2,
     {},
     {.0703125f, .09375f, .0703125f, .046875f, .0234375f, 0, 0}},
    {"FullAttack off: a fall in the hold releases from 1",
     quarterSteps({{"FullAttack", 0}, {"Hold", 2}}),
     gateHighUntil6,
     {},
     {.25f, .5f, .75f, 1, 1, 1, .75f, .5f, .25f, 0, 0}},
    {"a hold that ends before the fall decays first; the fall releases from the decay",
     quarterSteps(),
     gateHighUntil9,
     {},
     {.25f, .5f, .75f, 1, 1, 1, 1, .875f, .75f, .5625f, .375f, .1875f, 0, 0}},
    {"NoRelease: sustain holds through a fall until the next rise",
     quarterSteps({{"Hold", 0}, {"Decay", 0}, {"NoRelease", 1}}),
     [](int64_t t) { return t < 6 || t >= 20 ? 1.0f : 0.0f; },
     {},
     {.25f, .5f, .75f, 1,   .5f, .5f, .5f, .5f,  .5f, .5f,  .5f, .5f, .5f,
      .5f,  .5f, .5f,  .5f, .5f, .5f, .5f, .25f, .5f, .75f, 1,   .5f}},
    {"NoRelease: a fall in the hold releases from 1 when the hold ends",
     quarterSteps({{"NoRelease", 1}, {"FullAttack", 0}}),
     [](int64_t t) { return t < 5 ? 1.0f : 0.0f; },
     {},
     {.25f, .5f, .75f, 1, 1, 1, 1, .75f, .5f, .25f, 0, 0}},
    {"a rise in the attack restarts it",
     quarterSteps({{"Attack", 2}, {"Decay", 0}, {"Gate", 0.5}}),
     nullptr,
     {{"Gate", 0.8, 3}},
     {.125f, .25f, .375f, .125f, .25f, .375f, .5f, .625f, .75f, .875f, 1, 1, 1, 1, .5f}},
    {"a release that ends before a rise leaves zeros up to the edge",
     quarterSteps({{"Hold", 0}, {"Decay", 0}, {"Release", 8}}),
     [](int64_t t) { return t < 6 || t >= 10 ? 1.0f : 0.0f; },
     {},
     {.25f, .5f, .75f, 1, .5f, .5f, .25f, 0, 0, 0, .25f, .5f, .75f, 1, .5f}},
    {"a rise in the release retriggers",
     quarterSteps({{"Hold", 0}, {"Decay", 0}, {"Release", 2}}),
     [](int64_t t) { return t < 6 || t >= 8 ? 1.0f : 0.0f; },
     {},
     {.25f, .5f, .75f, 1, .5f, .5f, .4375f, .375f, .25f, .5f, .75f, 1, .5f}},
    {"a release rate of 0 holds the level",
     quarterSteps({{"Attack", 0}, {"Hold", 0}, {"Decay", 0}, {"Release", 0}}),
     gateHighUntil2,
     {},
     {.5f, .5f, .5f, .5f, .5f, .5f}},
    {"a negative release rate rises",
     quarterSteps({{"Attack", 0}, {"Hold", 0}, {"Decay", 0}, {"Release", -4}}),
     gateHighUntil2,
     {},
     {.5f, .5f, .625f, .75f, .875f, 1, 1.125f}},
    {"an edge at a hand-over on the stretch end is applied by the next state",
     quarterSteps({{"Hold", 1}}),
     nullptr,
     {{"Hold", 0, 16}, {"Gate", 0, 16}},
     {.25f, .5f, .75f, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, .75f, .5f, .25f, 0, 0}},
    {"tabulated attack form 1",
     quarterSteps({{"AttackForm", 1}, {"Hold", 0}, {"Decay", 0}}),
     nullptr,
     {},
     {.0703125f, .09375f, .2109375f, 1, .5f}},
    {"tabulated attack form 0.5",
     quarterSteps({{"AttackForm", 0.5}, {"Hold", 0}, {"Decay", 0}}),
     nullptr,
     {},
     {.220703125f, .421875f, .662109375f, 1, .5f}},
    {"tabulated attack form -0.5",
     quarterSteps({{"AttackForm", -0.5}, {"Hold", 0}, {"Decay", 0}}),
     nullptr,
     {},
     {.30859375f, .578125f, .80859375f, 1, .5f}},
    {"tabulated attack form -1",
     quarterSteps({{"AttackForm", -1}, {"Hold", 0}, {"Decay", 0}}),
     nullptr,
     {},
     {.671875f, .90625f, .98046875f, 1, .5f}},
    {"decay form -1 towards sustain 0",
     quarterSteps({{"Attack", 0}, {"Hold", 0}, {"DecayForm", -1}, {"Sustain", 0}}),
     nullptr,
     {},
     {.328125f, .09375f, .01953125f, 0, 0}},
    {"release form 0.5 from 1",
     quarterSteps({{"Attack", 0}, {"ReleaseForm", 0.5}}),
     [](int64_t t) { return t < 1 ? 1.0f : 0.0f; },
     {},
     {1, 1, 1, .779296875f, .578125f, .337890625f, 0, 0}},
    {"a strongly negative form ends where the position passes 1",
     quarterSteps({{"AttackForm", -5}, {"Hold", 0}, {"Decay", 0}}),
     nullptr,
     {},
     {1, 1, 1, 1, .5f, .5f}},
    {"linear law scales by Overall Level",
     quarterSteps({{"Hold", 0}, {"Decay", 0}, {"Overall Level", 2}, {"dbmode", 0}}),
     nullptr,
     {},
     {.5f, 1, 1.5f, 2, 1}},
    {"decibel law",
     quarterSteps({{"Hold", 0}, {"Decay", 0}, {"Overall Level", 2}, {"dbmode", 1}}),
     nullptr,
     {},
     {.0625f, .25f, .75f, 2, .25f}},
    {"other dbmode values are linear",
     quarterSteps({{"Hold", 0}, {"Decay", 0}, {"Overall Level", 2}, {"dbmode", 2}}),
     nullptr,
     {},
     {.5f, 1, 1.5f, 2, 1}},
    {"gate changes above the threshold are edges at sub-block starts only",
     quarterSteps({{"Hold", 0}, {"Decay", 0}}),
     [](int64_t t) { return t < 24   ? .5f
                            : t < 40 ? .8f
                                     : .3f; },
     {},
     {.25f, .5f, .75f, 1,   .5f,  .5f, .5f,   .5f,  .5f,   .5f, .5f, .5f, .5f, .5f,
      .5f,  .5f, .5f,  .5f, .5f,  .5f, .5f,   .5f,  .5f,   .5f, .5f, .5f, .5f, .5f,
      .5f,  .5f, .5f,  .5f, .25f, .5f, .75f,  1,    .5f,   .5f, .5f, .5f, .5f, .5f,
      .5f,  .5f, .5f,  .5f, .5f,  .5f, .375f, .25f, .125f, 0,   0},
     false},
    {"a NaN gate makes no edge inside a sub-block and falls at its start",
     quarterSteps({{"Attack", 0}, {"Hold", 0}, {"Decay", 0}}),
     [](int64_t t) { return t < 8    ? 1.0f
                            : t < 24 ? nan
                                     : 1.0f; },
     {},
     {.5f,   .5f,  .5f,   .5f, .5f, .5f, .5f, .5f, .5f, .5f, .5f, .5f, .5f, .5f, .5f, .5f,
      .375f, .25f, .125f, 0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
     false},
};

// Splitters: whole blocks, single samples, and uneven runs.
const std::vector<std::pair<const char*, rmhost::SplitFn>> splitters = {
    {"whole blocks", nullptr},
    {"single samples", [](InstanceId, int32_t, int32_t) { return 1; }},
    {"runs of 5", [](InstanceId, int32_t, int32_t) { return 5; }},
    {"runs of 3 and 7", [](InstanceId, int32_t position, int32_t) { return position % 2 ? 3 : 7; }},
};

TEST(VellumEnvelope, Scenarios) {
  for (const Scenario& scenario : scenarios) {
    for (const auto& [splitName, splitter] : splitters) {
      if (splitter && !scenario.splitInvariant) continue;
      SCOPED_TRACE(std::string(scenario.name) + ", " + splitName);
      Rig rig(scenario.pins);
      rig.session.setSplitter(splitter);
      if (scenario.gate) rig.stream("Gate", scenario.gate);
      for (const auto& [name, value, clock] : scenario.changes) rig.set(name, value, clock);
      const auto out = rig.run(static_cast<int32_t>(scenario.want.size() + 15) / 16);
      for (size_t i = 0; i < scenario.want.size(); ++i) {
        EXPECT_EQ(out[i], scenario.want[i]) << "sample " << i;
      }
    }
  }
}

TEST(VellumEnvelope, DecayAndSustainFollowAStreamingSustain) {
  Rig rig(quarterSteps());
  auto sustain = [](int64_t t) { return 0.25f + static_cast<float>(t) / 256.0f; };
  rig.stream("Sustain", sustain);
  rig.set("Gate", 0, 20);
  const auto out = rig.run(2);
  const float y[] = {.25f, .5f, .75f, 1};
  for (int64_t t = 7; t < 11; ++t) {  // decay towards the sample of the same clock
    EXPECT_EQ(out[t], 1.0f - (1.0f - sustain(t)) * y[t - 7]) << t;
  }
  for (int64_t t = 11; t < 20; ++t) EXPECT_EQ(out[t], sustain(t)) << t;
  // The release starts from the Sustain value at the fall.
  EXPECT_EQ(out[20], sustain(20) - .25f * sustain(20));
}

// --- LFO --------------------------------------------------------------------------------------

constexpr float lfoStep = 6.2831855f / 16.0f;  // LfoFreq 1 at 16 Hz

// The LFO sine at sample k after the phasor was reset (k = 0 is one step past the reset angle).
double lfoSine(float phase, int64_t k) {
  return std::sin(static_cast<double>(phase * 6.2831855f) +
                  static_cast<double>(k + 1) * static_cast<double>(lfoStep));
}

TEST(VellumLfo, FourVariantsOverIdleAndSustain) {
  const double a = 0.5;
  // Variant formulas from envelope e and sine s.
  const std::map<int, double (*)(double, double, double)> variants = {
      {0, [](double e, double, double) { return e; }},
      {1, [](double e, double s, double d) { return e * (1 - d) + (1 + s) * d / 2; }},
      {2, [](double e, double s, double d) { return ((1 + s) * d / 2 + 1 - d) * e; }},
      {3, [](double e, double s, double d) { return ((1 + s) * e + 1 - e) * d / 2 + e * (1 - d); }},
      {4, [](double e, double s, double d) { return (1 - (1 + s) * e / 2) * d + e * (1 - d); }},
  };
  for (const auto& [align, formula] : variants) {
    SCOPED_TRACE(align);
    Rig rig({{"Attack", 0},
             {"Hold", 0},
             {"Decay", 0},
             {"Sustain", 0.5},
             {"LfoAmt", a},
             {"LfoFreq", 1},
             {"LfoPhase", 0},
             {"LfoAlign", align}});
    rig.stream("Gate", [](int64_t t) { return t >= 8 ? 1.0f : 0.0f; });
    const auto out = rig.run(3);
    for (int64_t t = 0; t < 48; ++t) {
      const double e = t < 8 ? 0.0 : 0.5;
      ASSERT_NEAR(out[t], formula(e, lfoSine(0, t), a), 1e-6) << t;
    }
  }
}

// At depth 1 the normal variant is the LFO alone, (1 + s)/2, whatever the envelope does.
Pins lfoAlone(Pins more) {
  Pins pins{{"LfoAmt", 1}, {"LfoFreq", 1}, {"LfoPhase", 0.25}, {"LfoAlign", 1}};
  for (const auto& [name, value] : more) pins[name] = value;
  return pins;
}

TEST(VellumLfo, RiseResetsThePhaseFromTheSubBlockStartExceptInTheAttack) {
  // A rise inside block 2 (at 40) resets the LFO for the whole block: its first sample is
  // modulated with sin(pi/2 + w).
  Rig reset(lfoAlone({{"Attack", 0}, {"Decay", 0}}));
  reset.stream("Gate", [](int64_t t) { return t < 20 || t >= 40 ? 1.0f : 0.0f; });
  const auto out = reset.run(3);
  for (int64_t t = 0; t < 32; ++t) ASSERT_NEAR(out[t], (1 + lfoSine(0.25f, t)) / 2, 1e-6) << t;
  for (int64_t t = 32; t < 48; ++t) {
    ASSERT_NEAR(out[t], (1 + lfoSine(0.25f, t - 32)) / 2, 1e-6) << t;
  }

  // A rise during the attack restarts the attack but leaves the LFO running.
  Rig kept(lfoAlone({{"Attack", 0.5}, {"Gate", 0.5}}));
  kept.set("Gate", 0.8, 16);
  const auto out2 = kept.run(2);
  for (int64_t t = 0; t < 32; ++t) ASSERT_NEAR(out2[t], (1 + lfoSine(0.25f, t)) / 2, 1e-6) << t;
}

TEST(VellumLfo, AmountZeroLeavesSamplesAndStopsTheAngle) {
  Rig rig({{"Attack", 0},
           {"Hold", 0},
           {"Decay", 0},
           {"Sustain", 0.5},
           {"LfoAmt", 1},
           {"LfoFreq", 1},
           {"LfoPhase", 0},
           {"LfoAlign", 3}});
  rig.set("LfoAmt", 0, 16);
  rig.set("LfoAmt", 1, 32);
  const auto out = rig.run(3);
  // center mod at depth 1: ((1 + s) e + 1 - e) / 2.
  auto center = [](double s) { return ((1 + s) * 0.5 + 0.5) / 2; };
  for (int64_t t = 0; t < 16; ++t) ASSERT_NEAR(out[t], center(lfoSine(0, t)), 1e-6) << t;
  for (int64_t t = 16; t < 32; ++t) EXPECT_EQ(out[t], 0.5f) << t;
  for (int64_t t = 32; t < 48; ++t) ASSERT_NEAR(out[t], center(lfoSine(0, t - 16)), 1e-6) << t;
}

// --- Idle watch, sleep and resume -------------------------------------------------------------

TEST(VellumIdleWatch, AnnouncementsAndSleepRequestThroughANote) {
  Rig rig(quarterSteps());
  rig.set("Gate", 0, 20);
  rig.run(4);
  using A = std::pair<int32_t, intptr_t>;
  // Streaming from the attack at 0, one-off in the sustain at 11; at the fall (20) the status
  // event wakes it, the sustain pass re-enters the watch and the release leaves it again; one-off
  // once the release has ended (24).
  EXPECT_EQ(announcements(rig), (std::vector<A>{{pinStreaming, 0},
                                                {pinOneOff, 11},
                                                {pinStreaming, 20},
                                                {pinOneOff, 20},
                                                {pinStreaming, 20},
                                                {pinOneOff, 24}}));
  // The watch entered at 24 asks to sleep once a whole block has been rendered inside it.
  const auto sleeps = rig.requests(hostSleep);
  ASSERT_EQ(sleeps.size(), 1u);
  EXPECT_EQ(sleeps[0].clock, 32);
  EXPECT_TRUE(rig.session.asleep(rig.id));
}

TEST(VellumIdleWatch, SleepAfterOneBlockSizeOfSamplesInsideTheWatch) {
  Rig rig({{"Gate", 0}});
  rig.session.setSplitter([](InstanceId, int32_t, int32_t) { return 5; });
  rig.run(3);
  // Calls of 5 samples: the watch is entered in the first (processEnvelope), then the idle
  // function counts 5 + 5 + 1 + 5 = 16 samples and asks in the call over 16..20.
  const auto sleeps = rig.requests(hostSleep);
  ASSERT_EQ(sleeps.size(), 1u);
  EXPECT_EQ(sleeps[0].clock, 16);
  EXPECT_TRUE(announcements(rig).empty());  // the output was never announced streaming
}

TEST(VellumIdleWatch, AStreamingInputKeepsTheModuleAwake) {
  Rig rig({{"Gate", 0}});
  rig.stream("LfoFreq", [](int64_t t) { return static_cast<float>(t % 3); });
  rig.run(4);
  EXPECT_TRUE(rig.requests(hostSleep).empty());
  // The stream ends with a one-off value: the next idle pass enters the watch again.
  rig.set("LfoFreq", 1, 64);
  rig.run(3);
  using A = std::pair<int32_t, intptr_t>;
  // Streaming from the stream's status event; one-off only once no input streams.
  EXPECT_EQ(announcements(rig), (std::vector<A>{{pinStreaming, 0}, {pinOneOff, 64}}));
  ASSERT_EQ(rig.requests(hostSleep).size(), 1u);
  EXPECT_EQ(rig.requests(hostSleep)[0].clock, 80);
}

TEST(VellumIdleWatch, StatusChangeWakesAndRearmsTheWatch) {
  Rig rig({{"Gate", 0}});
  rig.run(2);
  ASSERT_TRUE(rig.session.asleep(rig.id));
  rig.session.clearRequests();
  rig.set("Overall Level", 3, 40);
  rig.run(3);
  // The host resumes it for the event; the pin change reinstalls processEnvelope and announces
  // streaming, the next idle pass announces one-off and restarts the countdown.
  using A = std::pair<int32_t, intptr_t>;
  EXPECT_EQ(announcements(rig), (std::vector<A>{{pinStreaming, 40}, {pinOneOff, 40}}));
  EXPECT_EQ(rig.requests(hostProcessChanged).size(), 2u);
  ASSERT_EQ(rig.requests(hostSleep).size(), 1u);
  EXPECT_EQ(rig.requests(hostSleep)[0].clock, 48);
}

TEST(VellumIdleWatch, LfoDecidesWhetherIdleAndSustainMaySleep) {
  struct Case {
    Pins pins;
    bool sleeps;
  };
  const Case cases[] = {
      {{{"Gate", 0}, {"LfoAmt", 0.5}, {"LfoAlign", 1}}, false},   // idle, normal: the LFO alone
      {{{"Gate", 0}, {"LfoAmt", 0.5}, {"LfoAlign", 2}}, true},    // idle, bottom: constant 0
      {{{"Decay", 0}, {"LfoAmt", 0.5}, {"LfoAlign", 2}}, false},  // sustain modulated
      {{{"Decay", 0}, {"LfoAmt", 0.5}, {"LfoAlign", 0}}, true},   // sustain, LFO off
      {{{"Decay", 0}, {"LfoAmt", 0}, {"LfoAlign", 4}}, true},     // sustain, no depth
  };
  for (const Case& c : cases) {
    Rig rig(c.pins);
    rig.run(3);
    EXPECT_EQ(!rig.requests(hostSleep).empty(), c.sleeps)
        << "Gate " << c.pins.count("Gate") << " align " << c.pins.at("LfoAlign");
  }
}

TEST(VellumResume, DropsRunningSegmentsToIdleButKeepsSustain) {
  struct Case {
    const char* state;
    Pins pins;
    Signal gate;
    float after;  // the first sample after the resume
  };
  const Case cases[] = {
      {"attack", {{"Attack", 0.5}}, nullptr, 0},
      {"hold", {{"Attack", 4}, {"Hold", 0.5}}, nullptr, 0},
      {"decay", {{"Attack", 0}, {"Decay", 0.5}, {"Sustain", 0}}, nullptr, 0},
      {"sustain", {{"Attack", 0}, {"Decay", 0}, {"Sustain", 0.5}}, nullptr, 0.5f},
      {"release",
       {{"Attack", 0}, {"Decay", 0}, {"Sustain", 0.5}, {"Release", 0.5}},
       [](int64_t t) { return t < 8 ? 1.0f : 0.0f; },
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    Rig rig(c.pins);
    if (c.gate) rig.stream("Gate", c.gate);
    const auto before = rig.run(1);
    ASSERT_NE(before[15], 0.0f);  // the segment still runs at the resume
    rig.session.dispatch(rig.id, opResume);
    const auto after = rig.run(1);
    EXPECT_EQ(after[0], c.after);
    EXPECT_EQ(after[15], c.after);
  }
}

TEST(VellumOpen, SampleRateIsReadAtOpenWithAFallback) {
  // Attack 11025 at 44100 Hz is a step of about 0.25.
  Rig reference({{"Attack", 11025}}, 44100.0f);
  const auto want = reference.run(1);
  for (float rate : {0.0f, -16.0f, std::numeric_limits<float>::infinity(), nan}) {
    SCOPED_TRACE(rate);
    Rig rig({{"Attack", 11025}}, rate);
    EXPECT_EQ(rig.run(1), want);
  }
  // A later rate leaves the running module alone.
  Rig rig({{"Attack", 11025}}, 44100.0f);
  rig.session.dispatch(rig.id, opSetSampleRate, 0, 0, nullptr, 8.0f);
  EXPECT_EQ(rig.run(1), want);
}

TEST(VellumOpen, AHostWithFewerPinsGetsASilentModule) {
  rmhost::SessionConfig config{16.0f, 16};
  config.pinCount = 5;
  rmhost::Session session(config);
  const InstanceId id = session.create(vellumLibrary(), session.addGroup());
  session.open(id);
  const int32_t out = session.findPin(id, "Signal Out");
  std::fill(session.buffer(id, out), session.buffer(id, out) + 16, -1.0f);
  session.setValue(id, session.findPin(id, "Gate"), 0, 4);
  session.runBlock();  // neither the process calls nor the status event touch missing pins
  EXPECT_EQ(session.buffer(id, out)[15], -1.0f);
}

}  // namespace

// Whatever finite values the pins carry, the host gets finite, normal samples or zeros.
TEST(VellumOutput, FiniteInputsNeverGiveNonFiniteOrSubnormalSamples) {
  struct Case {
    const char* what;
    Pins pins;
  };
  const std::vector<Case> cases{
      {"a negative release rises without bound", {{"Release", -650.0}, {"Sustain", 75.0}}},
      {"a huge LFO depth on a strongly bent decay",
       {{"LfoAmt", 63.5}, {"DecayForm", 54.0}, {"LfoAlign", 4}}},
      {"a steep attack curve reaches subnormal values", {{"AttackForm", 10.5}, {"Attack", 5.9}}},
      {"a subnormal level", {{"Overall Level", 1e-40}}},
      {"a level near the largest float", {{"Overall Level", 3e38}, {"Sustain", 75.0}}},
  };
  for (const Case& c : cases) {
    Rig rig(c.pins, 48000.0f, 256);
    rig.set("Gate", 1.0, 0);
    rig.set("Gate", 0.0, 48000);
    for (float x : rig.run(2000)) {
      ASSERT_TRUE(std::isfinite(x)) << c.what;
      ASSERT_FALSE(std::fpclassify(x) == FP_SUBNORMAL) << c.what;
    }
  }
}

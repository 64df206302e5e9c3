// The swarm module as a host sees it: identity, pins, open values and the voice list's sharing.
#include <algorithm>
#include <cmath>
#include <limits>

#include "swarm_fixture.h"

namespace swarm_test {
namespace {

std::string countList(std::initializer_list<int> values) {
  std::string text;
  for (int v : values)
    text += (text.empty() ? "" : ",") + std::to_string(v) + "=" + std::to_string(v);
  return text;
}

TEST(SwarmModule, DescribesItselfAndTwentyPins) {
  const rmhost::ModuleInfo& info = swarmLibrary().info();
  EXPECT_EQ(info.id, "swarm");
  EXPECT_EQ(info.name, "Rackmill swarm Module");
  EXPECT_FALSE(info.credit.empty());
  EXPECT_EQ(info.flags, 2240);

  struct Expected {
    const char* name;
    int32_t direction;
    int32_t datatype;
    std::optional<std::string> defaultText;
    std::optional<std::string> listText;
  };
  const std::string polyList = countList({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  const std::string oscsList = countList(
      {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,  15,  16,  17,  18,  19, 20,
       22, 24, 26, 28, 30, 35, 40, 45, 50, 60, 70, 80, 90, 100, 120, 140, 160, 180, 200});
  const std::vector<Expected> expected = {
      {"fc_1", dirInput, dtAudio, "0", {}},
      {"fm1_1", dirInput, dtAudio, "0", {}},
      {"N", dirInput, dtAudio, "0", {}},
      {"a_1", dirInput, dtAudio, "0", {}},
      {"gate", dirInput, dtAudio, "0", {}},
      {"poly", dirInput, dtList, "1", polyList},
      {"sync", dirInput, dtAudio, "0", {}},
      {"Wave_1", dirInput, dtAudio, "0", {}},
      {"rotate", dirInput, dtAudio, "0", {}},
      {"incr", dirInput, dtAudio, "0", {}},
      {"pitchspread", dirInput, dtAudio, "0", {}},
      {"fm1_2", dirInput, dtAudio, "0", {}},
      {"a_2", dirInput, dtAudio, "0", {}},
      {"pitchShuffle", dirInput, dtAudio, "0", {}},
      {"wind", dirInput, dtAudio, "0", {}},
      {"phasespread", dirInput, dtAudio, "0", {}},
      {"oscs", dirInput, dtList, "50", oscsList},
      {"retrigger", dirInput, dtList, "0", "off=1,on=0"},
      {"outputl", dirOutput, dtAudio, {}, {}},
      {"outputr", dirOutput, dtAudio, {}, {}},
  };
  ASSERT_EQ(info.pins.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const rmhost::PinInfo& pin = info.pins[i];
    SCOPED_TRACE(pin.name);
    EXPECT_EQ(pin.name, expected[i].name);
    EXPECT_EQ(pin.direction, expected[i].direction);
    EXPECT_EQ(pin.datatype, expected[i].datatype);
    EXPECT_EQ(pin.defaultText, expected[i].defaultText);
    EXPECT_EQ(pin.listText, expected[i].listText);
    EXPECT_EQ(pin.flags, 0);
    EXPECT_TRUE(pin.hasVariable);
  }
  PinDescription untouched{};
  Voices voices(1);
  EXPECT_FALSE(voices[0].describePin(20, &untouched));
  EXPECT_FALSE(voices[0].describePin(-1, &untouched));
  EXPECT_EQ(untouched.name, nullptr);
}

TEST(SwarmModule, OpenSetsEveryFieldForTheSampleRate) {
  struct Case {
    float rate;
    double expectedRate;
    double maxFrequency;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const Case& c : {Case{48000.0f, 48000.0, 21000.0}, Case{44100.0f, 44100.0, 21000.0},
                        Case{22050.0f, 22050.0, 10500.0},
                        Case{32000.0f, 32000.0, 15238.095238095237}, Case{0.0f, 44100.0, 21000.0},
                        Case{-8000.0f, 44100.0, 21000.0}, Case{nan, 44100.0, 21000.0}}) {
    SCOPED_TRACE(c.rate);
    Voices voices(1, {}, rmhost::SessionConfig{c.rate, 64, -1, true});
    const swarm::Module& m = voices[0];
    EXPECT_EQ(m.sampleRate, c.expectedRate);
    EXPECT_EQ(m.maxFrequency, c.maxFrequency);
    EXPECT_EQ(m.phaseStepPerHz, 6.283185307179586 / c.expectedRate);
    ASSERT_NE(m.voiceList, nullptr);
    EXPECT_EQ(m.voiceList->fadeStep, 1.0 / (c.expectedRate * 0.01));
    EXPECT_EQ(m.level, 1.0);
    EXPECT_EQ(m.prevSync, 0.0f);
    EXPECT_EQ(m.oscCount, 0u);
    EXPECT_EQ(m.renormIndex, 0);
    EXPECT_EQ(m.oscs, 50);
    EXPECT_EQ(m.poly, 1);
    EXPECT_EQ(m.retrigger, 0);
    EXPECT_TRUE(m.tailStarted && m.oscsRecomputed && m.filtersNeedInit && m.notePending);
    EXPECT_FALSE(m.stateCopied || m.noteArmed || m.gateActive);
    EXPECT_TRUE(m.vectorPathAvailable);  // every x86-64 processor runs two-lane doubles
    EXPECT_EQ(m.bankPath, dsp::fastestBankPath());
    for (const swarm::dsp::OscillatorState& s : m.oscillators) {
      for (const swarm::dsp::Complex& z : {s.carrier, s.carrierStep, s.modulator, s.modulatorStep,
                                           s.modulatorPowN, s.modulatorStepPowN}) {
        EXPECT_EQ(z.re, 1.0);
        EXPECT_EQ(z.im, 0.0);
      }
      EXPECT_EQ(s.waveMix, 0.0);
      EXPECT_EQ(s.decay, 1.0);
      EXPECT_EQ(s.decayPowN, 1.0);
      EXPECT_EQ(s.gain, 1.0);
    }
  }
}

TEST(SwarmModule, ClonesShareOneListUntilTheFirstIsDestroyed) {
  for (size_t victim = 0; victim < 4; ++victim) {
    Voices voices(0);
    for (int i = 0; i < 4; ++i) voices.ids.push_back(voices.create({}));
    voices.session.open(voices.ids[2]);  // the opening clone serves the whole group
    const swarm::VoiceList* list = voices[2].voiceList;
    ASSERT_NE(list, nullptr);
    for (size_t i = 0; i < 4; ++i) {
      if (i != 2) voices.session.open(voices.ids[i]);
      EXPECT_EQ(voices[i].voiceList, list);
      EXPECT_EQ(voices[i].voiceIndex, static_cast<int16_t>(i));
    }
    voices.session.destroy(voices.ids[victim]);
    for (size_t i = 0; i < 4; ++i) {
      if (i == victim) continue;
      EXPECT_EQ(voices[i].voiceList, nullptr) << i;
    }
    // The others delete nothing more (a second delete would be caught by AddressSanitizer).
    for (size_t i = 0; i < 4; ++i) {
      if (i != victim) voices.session.destroy(voices.ids[i]);
    }
  }
}

TEST(SwarmModule, CrowdedAndLateClones) {
  Voices voices(0);
  for (int i = 0; i < 34; ++i) voices.ids.push_back(voices.create({{pins::gate, 1.0}}));
  for (rmhost::InstanceId id : voices.ids) voices.session.open(id);
  for (size_t i = 0; i < 32; ++i) EXPECT_EQ(voices[i].voiceIndex, static_cast<int16_t>(i));
  // Clones beyond the 32 slots get no list, make none of their own, and stay silent.
  for (size_t i = 32; i < 34; ++i) {
    EXPECT_EQ(voices[i].voiceList, nullptr);
    voices.note(i, 10);
  }
  voices.run(2);
  for (size_t i = 32; i < 34; ++i) {
    EXPECT_FALSE(voices[i].noteArmed);
    for (int j = 0; j < 1024; ++j) ASSERT_EQ(voices.out(i, pins::outputL)[j], 0.0f);
  }

  // A clone added after the group opened makes a list of its own, which outlives the first.
  voices.ids.push_back(voices.add({}));
  const swarm::VoiceList* own = voices[34].voiceList;
  ASSERT_NE(own, nullptr);
  EXPECT_NE(own, voices[0].voiceList);
  EXPECT_EQ(voices[34].voiceIndex, 0);
  voices.session.destroy(voices.ids[0]);
  EXPECT_EQ(voices[1].voiceList, nullptr);
  EXPECT_EQ(voices[34].voiceList, own);
}

// A host that keeps fewer pins than described writes only their variables. The voices then
// render nothing: no crash through the buffers they were never given, no note, and an output
// the host kept stays as the host left it.
TEST(SwarmModule, AShortPinTableGivesSilentVoices) {
  for (int32_t kept : {0, 1, 5, 10, 19}) {
    SCOPED_TRACE(kept);
    rmhost::SessionConfig config{44100.0f, 64, kept, true};
    rmhost::Session session(config);
    const int32_t group = session.addGroup();
    std::vector<rmhost::InstanceId> ids;
    for (int i = 0; i < 2; ++i) {
      ids.push_back(session.create(swarmLibrary(), group));
      for (int32_t pin : {pins::gate, pins::sync, pins::oscs, pins::fc1}) {
        if (pin < kept) session.setInitial(ids.back(), pin, 1.0);
      }
    }
    for (rmhost::InstanceId id : ids) session.open(id);
    for (rmhost::InstanceId id : ids) {
      float* left = session.buffer(id, pins::outputL);
      std::fill(left, left + 64, -1.0f);
      for (int32_t pin : {pins::gate, pins::sync}) {
        if (pin < kept) session.setValue(id, pin, 2.0, 10);
      }
    }
    session.runBlock();
    session.dispatch(ids[0], opResume);
    session.runBlock();
    for (rmhost::InstanceId id : ids) {
      EXPECT_FALSE(moduleOf(session, id).noteArmed);
      EXPECT_EQ(session.buffer(id, pins::outputL)[63], -1.0f);
    }
  }
}

TEST(SwarmModule, DescribePinWithoutADescriptionAnswersNo) {
  Voices voices(1);
  for (int32_t index : {0, 19, 20}) {
    EXPECT_EQ(voices.session.dispatch(voices.ids[0], opDescribePin, index, 0, nullptr), 0);
  }
  EXPECT_EQ(voices.session.dispatch(voices.ids[0], opHostMessage, 0, 0, nullptr), 0);
}

}  // namespace
}  // namespace swarm_test

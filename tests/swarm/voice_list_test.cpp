// The shared voice list on its own: stealing, release, ordering invariants, rotating phase.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "swarm/voice_list.h"

namespace {

using swarm::VoiceList;

std::vector<int16_t> newestFirst(const VoiceList& list) {
  std::vector<int16_t> order;
  for (int16_t v = list.newest; v >= 0 && order.size() <= VoiceList::slotCount; v = list.older[v]) {
    order.push_back(v);
    if (v == list.oldest) break;
  }
  return order;
}

// Every invariant of the order, checked from both ends.
void expectConsistent(const VoiceList& list) {
  const std::vector<int16_t> order = newestFirst(list);
  ASSERT_EQ(static_cast<int32_t>(order.size()), list.count);
  int listed = 0;
  for (int16_t v = 0; v < VoiceList::slotCount; ++v) {
    listed += list.listed(v) ? 1 : 0;
    if (!list.listed(v)) {
      EXPECT_EQ(list.newer[v], -1) << v;
    }
    if (list.stolen[v]) {
      EXPECT_FALSE(list.listed(v)) << v;
    }
  }
  EXPECT_EQ(listed, list.count);
  if (list.count == 0) {
    EXPECT_EQ(list.newest, -1);
    return;
  }
  EXPECT_EQ(list.older[list.oldest], list.oldest);
  EXPECT_EQ(list.newer[list.newest], -1);
  std::vector<int16_t> backwards;
  for (int16_t v = list.oldest; v >= 0; v = list.newer[v]) backwards.insert(backwards.begin(), v);
  EXPECT_EQ(backwards, order);
}

TEST(VoiceList, PolyOneStealsEveryOtherVoiceAndReplacesItself) {
  VoiceList list(44100.0f);
  list.noteOn(0, 1, nullptr);
  list.noteOn(1, 1, nullptr);
  EXPECT_TRUE(list.stolen[0]);
  EXPECT_EQ(newestFirst(list), std::vector<int16_t>{1});
  list.noteOn(1, 1, nullptr);  // the only listed voice is stolen and placed again
  EXPECT_EQ(list.count, 1);
  EXPECT_FALSE(list.stolen[1]);
  EXPECT_EQ(newestFirst(list), std::vector<int16_t>{1});
  // A poly value the host has not written yet counts as 1.
  list.noteOn(2, 0, nullptr);
  list.noteOn(3, -5, nullptr);
  EXPECT_EQ(newestFirst(list), std::vector<int16_t>{3});
  expectConsistent(list);
}

TEST(VoiceList, RenoteAtFullPolyStealsTheOldest) {
  VoiceList list(44100.0f);
  list.noteOn(4, 2, nullptr);
  list.noteOn(7, 2, nullptr);
  list.noteOn(7, 2, nullptr);
  EXPECT_TRUE(list.stolen[4]);
  EXPECT_EQ(newestFirst(list), std::vector<int16_t>{7});
  expectConsistent(list);
}

TEST(VoiceList, ReleasedVoiceIsStolenFirst) {
  VoiceList list(44100.0f);
  for (int16_t v : {0, 1, 2}) list.noteOn(v, 3, nullptr);
  list.release(1);
  list.noteOn(3, 3, nullptr);
  EXPECT_TRUE(list.stolen[1]);
  EXPECT_FALSE(list.stolen[0]);
  EXPECT_EQ(newestFirst(list), (std::vector<int16_t>{3, 2, 0}));
  // Releasing an unlisted or the oldest voice changes nothing.
  const std::vector<int16_t> before = newestFirst(list);
  list.release(1);
  list.release(0);
  EXPECT_EQ(newestFirst(list), before);
  expectConsistent(list);
}

TEST(VoiceList, RandomOperationsKeepTheOrderConsistent) {
  std::mt19937 random(7);
  VoiceList list(48000.0f);
  for (int step = 0; step < 20000; ++step) {
    const auto voice = static_cast<int16_t>(random() % VoiceList::slotCount);
    const auto poly = static_cast<int16_t>(random() % 17);
    if (random() % 3 == 0) {
      list.release(voice);
    } else {
      list.noteOn(voice, poly, nullptr);
      EXPECT_EQ(list.newest, voice);
      EXPECT_LE(list.count, std::max<int16_t>(poly, 1));
    }
    expectConsistent(list);
    if (HasFatalFailure()) return;
  }
}

TEST(VoiceList, RotatingPhaseFoldsOnceAndRestartsOnANewStep) {
  VoiceList list(44100.0f);
  list.takeRotateStep(2.5);
  EXPECT_EQ(list.advanceRotation(), 0.5);  // 2.5 folded once only
  list.takeRotateStep(2.5);                // the same step keeps the phase
  EXPECT_EQ(list.rotatePhase, 0.5);
  list.takeRotateStep(std::nan(""));
  EXPECT_EQ(list.rotatePhase, 0.0);
  list.rotatePhase = 0.25;
  list.takeRotateStep(std::nan(""));  // NaN never equals itself: restarts again
  EXPECT_EQ(list.rotatePhase, 0.0);
}

}  // namespace

// An LV2 host instantiates on its UI thread and runs on its audio thread; two instances may run on
// two audio threads at once, and cleanup comes on yet another thread. The samples must be those
// of an instance that stays on one thread.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>

#include "lv2_test_support.h"

namespace lv2test {
namespace {

const std::vector<Note> kChord = {
    {100, 9000, 60, 100}, {100, 9000, 64, 90}, {3000, 14000, 67, 70}, {6000, 20000, 71, 120}};
constexpr int64_t kFrames = 30000;

Stereo playChord(Instance& inst) {
  return play(inst, scoreOf(kChord), kFrames, randomLengths(3));
}

bool same(const Stereo& a, const Stereo& b) {
  const auto equal = [](const std::vector<float>& x, const std::vector<float>& y) {
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(float)) == 0;
  };
  return equal(a.left, b.left) && equal(a.right, b.right);
}

Stereo reference(const std::string& uri) {
  Instance inst(world(), uri, 48000);
  return playChord(inst);
}

TEST(Lv2Threads, InstantiateRunAndCleanUpOnThreeThreads) {
  const Stereo expected = reference(kInstrument);
  ASSERT_GT(peak(expected.left), 0.01f);
  std::unique_ptr<Instance> inst;
  Stereo out;
  std::thread([&] { inst = std::make_unique<Instance>(world(), kInstrument, 48000); }).join();
  ASSERT_TRUE(inst->ok());
  std::thread([&] { out = playChord(*inst); }).join();
  std::thread([&] { inst.reset(); }).join();
  EXPECT_TRUE(same(out, expected));
}

TEST(Lv2Threads, TwoInstancesRunOnTwoThreadsAtOnce) {
  const Stereo expected = reference(kInstrument);
  for (int round = 0; round < 3; ++round) {
    Instance first(world(), kInstrument, 48000);
    Instance second(world(), kInstrument, 48000);
    Stereo a;
    Stereo b;
    std::thread one([&] { a = playChord(first); });
    std::thread two([&] { b = playChord(second); });
    one.join();
    two.join();
    EXPECT_TRUE(same(a, expected)) << "round " << round;
    EXPECT_TRUE(same(b, expected)) << "round " << round;
  }
}

}  // namespace
}  // namespace lv2test

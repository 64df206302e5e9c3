// The session's timing, wiring, sleep and clone groups, seen from a probe module.
#include <gtest/gtest.h>

#include <memory>

#include "loaded_library.h"
#include "probe_module.h"
#include "rackmill/module_base.h"
#include "rmhost/alloc_counter.h"
#include "rmhost/session.h"

namespace {

rmhost::Library& probeLibrary() {
  return loadedLibrary(PROBE_PATH);
}

PinDescription audioPin(int32_t direction) {
  PinDescription d{};
  d.variable = probe::kModuleVariable;
  d.direction = direction;
  d.datatype = dtAudio;
  d.name = direction == dirOutput ? "out" : "in";
  return d;
}

class SessionTest : public ::testing::Test {
 protected:
  static constexpr int32_t kBlock = 32;

  void TearDown() override { session.reset(); }

  // A probe instance with one audio pin of the given direction.
  rmhost::InstanceId add(probe::Probe& p, int32_t direction, int32_t group = -1) {
    if (group < 0) group = session->addGroup();
    const rmhost::InstanceId id = session->create(probeLibrary(), group);
    session->dispatch(id, opHostMessage, 0, probe::kAttachProbe, &p);
    p.descriptions[0] = audioPin(direction);
    p.descriptionCount = 1;
    return id;
  }
  void run(rmhost::InstanceId id, void (*operation)(void*), int32_t position) {
    ModuleEvent event{0, eventRunOperation, 0, 0, reinterpret_cast<intptr_t>(operation)};
    session->deliver(id, event, position);
  }

  std::unique_ptr<rmhost::Session> session =
      std::make_unique<rmhost::Session>(rmhost::SessionConfig{48000.0f, kBlock, -1, true});
  probe::Probe a, b, c, d;
};

TEST_F(SessionTest, ValueChangesArriveAsOneOffEventsAtTheirSample) {
  const auto id = add(a, dirInput);
  session->open(id);
  session->setValue(id, 0, 0.25, kBlock + 5);
  session->runBlock();
  EXPECT_EQ(a.pinStatusCalls, 0);
  session->runBlock();
  EXPECT_EQ(a.pinStatusCalls, 1);
  EXPECT_EQ(a.statusSeen, pinOneOff);
  EXPECT_EQ(a.valueSeen, 0.25f);
  // The clock seen at the event is the change's clock.
  bool seen = false;
  for (const auto& r : session->requests()) {
    if (r.opcode == hostSampleClock) {
      EXPECT_EQ(r.clock, kBlock + 5);
      seen = true;
    }
  }
  EXPECT_TRUE(seen);
  const float* in = session->buffer(id, 0);
  EXPECT_EQ(in[4], 0.0f);
  EXPECT_EQ(in[5], 0.25f);
  session->runBlock();
  EXPECT_EQ(in[0], 0.25f);
}

TEST_F(SessionTest, EventsSplitProcessCallsAndSplittersCutThemFurther) {
  const auto id = add(a, dirOutput);
  session->open(id);
  session->setValue(id, 0, 1.0, 10);
  std::vector<std::pair<int32_t, int32_t>> calls;
  session->setSplitter([&](rmhost::InstanceId, int32_t pos, int32_t remaining) {
    calls.emplace_back(pos, remaining);
    return std::min(remaining, 8);
  });
  session->runBlock();
  // Calls: [0,8) [8,10) at the event, then [10,18) [18,26) [26,32).
  const std::vector<std::pair<int32_t, int32_t>> expected{
      {0, 10}, {8, 2}, {10, 22}, {18, 14}, {26, 6}};
  EXPECT_EQ(calls, expected);
}

TEST_F(SessionTest, WiredOutputsShareTheirBufferAndPassOnTheirStatus) {
  const auto producer = add(a, dirOutput);
  const auto consumer = add(b, dirInput);
  session->open(producer);
  session->open(consumer);
  session->connect(producer, 0, consumer, 0);  // rewrites the consumer's pin variable
  EXPECT_EQ(session->buffer(consumer, 0), session->buffer(producer, 0));

  session->beginBlock();
  run(producer, a.announceOperation, 7);  // announced at clock 7
  session->endBlock();
  session->runBlock();  // consumer hears it at the start of the next block: already past 7
  EXPECT_EQ(b.pinStatusCalls, 1);
  EXPECT_EQ(b.statusSeen, pinStreaming);
  EXPECT_EQ(static_cast<RMModule_base*>(b.object)->pin(0).status, pinStreaming);
}

TEST_F(SessionTest, ASleepingModuleHoldsItsOutputAndWakesBeforeItsNextEvent) {
  const auto id = add(a, dirOutput);
  session->open(id);
  session->runBlock();  // the first process function writes 1.0
  float* out = session->buffer(id, 0);
  session->beginBlock();
  run(id, a.sleepOperation, 0);
  EXPECT_TRUE(session->asleep(id));
  run(id, a.switchToSecondProcess, 0);  // would write 2.0, but the module is not called
  session->endBlock();
  session->runBlock();
  for (int32_t i = 0; i < kBlock; ++i) ASSERT_EQ(out[i], 1.0f);
  EXPECT_EQ(a.resumeCalls, 0);

  session->setValue(id, 0, 0.0, session->clock() + 3);
  session->runBlock();
  EXPECT_FALSE(session->asleep(id));
  EXPECT_EQ(a.resumeCalls, 1);
  EXPECT_EQ(out[2], 1.0f);
  EXPECT_EQ(out[3], 2.0f);
}

TEST_F(SessionTest, CloneWalkFollowsCreationOrderAndSkipsDestroyedClones) {
  const int32_t group = session->addGroup();
  const auto first = add(a, dirOutput, group);
  const auto second = add(b, dirOutput, group);
  const auto third = add(c, dirOutput, group);
  add(d, dirOutput);  // another group
  for (auto id : {first, second, third}) session->open(id);

  session->beginBlock();
  run(second, b.cloneWalkOperation, 0);
  ASSERT_EQ(b.cloneCount, 3);
  EXPECT_EQ(b.cloneRecords[0], session->record(first));
  EXPECT_EQ(b.cloneRecords[1], session->record(second));
  EXPECT_EQ(b.cloneRecords[2], session->record(third));

  session->destroy(first);
  run(third, c.cloneWalkOperation, 0);
  ASSERT_EQ(c.cloneCount, 2);
  EXPECT_EQ(c.cloneRecords[0], session->record(second));
}

TEST_F(SessionTest, PinCountAndBlockSizeReachTheModule) {
  session = std::make_unique<rmhost::Session>(rmhost::SessionConfig{22050.0f, 100, 7, true});
  const auto id = add(a, dirInput);
  session->open(id);
  EXPECT_EQ(session->record(id)->sampleRate, 22050.0f);
  EXPECT_EQ(session->record(id)->blockSize, 100);
  EXPECT_EQ(static_cast<RMModule_base*>(a.object)->pinCount(), 7);
}

TEST_F(SessionTest, ShortBlocksAdvanceTheClockByTheirLengthAndKeepEventsExact) {
  const auto id = add(a, dirInput);
  session->open(id);
  std::vector<std::pair<int32_t, int32_t>> calls;
  std::vector<std::pair<int64_t, int32_t>> streamed;
  session->setSplitter([&](rmhost::InstanceId, int32_t pos, int32_t remaining) {
    calls.emplace_back(pos, remaining);
    return remaining;
  });
  session->setStream(
      id, 0,
      [&](int64_t clock, float* out, int32_t frames) {
        streamed.emplace_back(clock, frames);
        for (int32_t i = 0; i < frames; ++i) out[i] = static_cast<float>(clock + i);
      },
      3);
  session->setValue(id, 0, 0.5, 15);
  session->runBlock(10);
  session->runBlock(0);  // nothing happens
  EXPECT_EQ(session->clock(), 10);
  session->runBlock(22);
  EXPECT_EQ(session->clock(), 32);
  // Calls: [0,3) [3,10) in the first block; [10,15) [15,32) in the second.
  const std::vector<std::pair<int32_t, int32_t>> expectedCalls{{0, 3}, {3, 7}, {0, 5}, {5, 17}};
  EXPECT_EQ(calls, expectedCalls);
  // The stream fills only the frames of each block, from its start clock.
  const std::vector<std::pair<int64_t, int32_t>> expectedStream{{3, 7}, {10, 22}};
  EXPECT_EQ(streamed, expectedStream);
  EXPECT_EQ(a.valueSeen, 0.5f);
  session->runBlock(kBlock + 5);  // capped at the block size
  EXPECT_EQ(session->clock(), 32 + kBlock);
}

TEST_F(SessionTest, RunningAndPinChangesStayOffTheHeapWithinTheEventCapacity) {
  ASSERT_TRUE(rmhost::allocationCounterWorks());
  session =
      std::make_unique<rmhost::Session>(rmhost::SessionConfig{48000.0f, kBlock, -1, false, 64});
  const auto id = add(a, dirInput);
  session->open(id);
  session->runBlock(5);
  rmhost::AllocationCounts counts;
  {
    rmhost::AudioThreadScope audioThread;
    rmhost::armAllocationCounter(true);
    for (int run = 0; run < 20; ++run) {
      for (int k = 0; k < 8; ++k) session->setValue(id, 0, run + k, session->clock() + k);
      session->runBlock(1 + run % kBlock);
    }
    counts = rmhost::audioPathHeapOperations();
    rmhost::armAllocationCounter(false);
  }
  EXPECT_EQ(counts.total(), 0u);
  EXPECT_EQ(session->pendingEvents(id), 0);
}

TEST_F(SessionTest, CallbacksFindTheirInstanceAfterManyInstancesCameAndWent) {
  // More instances than the process-wide owner table has slots, one at a time: freed slots are
  // taken again and lookups still find the live instance.
  const int32_t group = session->addGroup();
  for (int i = 0; i < 20000; ++i) session->destroy(session->create(probeLibrary(), group));
  const auto first = add(a, dirOutput, group);
  const auto second = add(b, dirOutput, group);
  session->open(first);
  session->open(second);
  session->beginBlock();
  run(second, b.cloneWalkOperation, 0);
  ASSERT_EQ(b.cloneCount, 2);
  EXPECT_EQ(b.cloneRecords[0], session->record(first));
}

}  // namespace

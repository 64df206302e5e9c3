// Switching process functions, and the event types other than pin status.
#include <cstring>
#include <vector>

#include "probe_fixture.h"

namespace {

// A callback of the test's own that notes, for each opcode-22 request, what the record's
// processEntry held at that moment.
std::vector<ProcessEntry> gEntrySeenAtNotice;

intptr_t RM_CALL noticeCallback(ModuleRecord* record, int32_t opcode, int32_t, int32_t, void*,
                                float) {
  if (opcode == hostProcessChanged) gEntrySeenAtNotice.push_back(record->processEntry);
  return 0;
}

class ProcessSwitch : public ::testing::Test {
 protected:
  void SetUp() override {
    gEntrySeenAtNotice.clear();
    record = probeLibrary().makeModule()(0, 1, &noticeCallback, 0);
    ASSERT_NE(record, nullptr);
    record->dispatcherEntry(record, opHostMessage, 0, probe::kAttachProbe, &probe, 0.0f);
  }
  void TearDown() override { record->dispatcherEntry(record, opClose, 0, 0, nullptr, 0.0f); }
  void install(void* address, int32_t a0 = 0, int32_t a1 = 0, int32_t a2 = 0) {
    probe.install(record->object, address, a0, a1, a2);
  }

  probe::Probe probe;
  ModuleRecord* record = nullptr;
};

TEST_F(ProcessSwitch, RecordMovesBeforeTheHostIsTold) {
  record->dispatcherEntry(record, opOpen, 0, 0, nullptr, 0.0f);
  ASSERT_EQ(gEntrySeenAtNotice.size(), 1u);
  EXPECT_EQ(gEntrySeenAtNotice[0], probe.firstProcess);
  EXPECT_EQ(record->processEntry, probe.firstProcess);
}

TEST_F(ProcessSwitch, InstallingTheCurrentFunctionDoesNothing) {
  install(probe.firstProcessAddress);
  const ModuleRecord before = *record;
  install(probe.firstProcessAddress);
  EXPECT_EQ(gEntrySeenAtNotice.size(), 1u);
  EXPECT_EQ(std::memcmp(&before, record, sizeof before), 0);
}

TEST_F(ProcessSwitch, AdjustmentWordsTakePartInEqualityExceptForNull) {
  install(probe.firstProcessAddress);
  install(probe.firstProcessAddress, 0, 4, 0);
  EXPECT_EQ(gEntrySeenAtNotice.size(), 2u);
  const auto* stored = &static_cast<RMModule_base*>(record->object)->processFunction();
  EXPECT_EQ(stored->adjust[1], 4);

  install(nullptr, 1, 2, 3);
  EXPECT_EQ(gEntrySeenAtNotice.size(), 3u);
  install(nullptr, 7, 7, 7);  // two null addresses are equal whatever their words
  EXPECT_EQ(gEntrySeenAtNotice.size(), 3u);
  EXPECT_EQ(stored->adjust[0], 1);
  install(probe.firstProcessAddress);  // leave a callable function for close
}

class Events : public ProbeHost {};

TEST_F(Events, RunOperationCallsTheFunctionOnTheModule) {
  create(1);
  addPins({outputPin("out")});
  open();
  ModuleEvent run{0, eventRunOperation, 0, 0, reinterpret_cast<intptr_t>(probe.countOperation)};
  session->deliver(id, run, 0);
  EXPECT_EQ(probe.operationRuns, 1);
}

TEST_F(Events, DataEventsReachOnDataEventAndOtherTypesAreIgnored) {
  create(1);
  addPins({outputPin("out")});
  open();
  ModuleEvent data{5, eventData, 6, 7, 0};
  session->deliver(id, data, 0);
  EXPECT_EQ(probe.dataEvents, 1);
  for (int32_t type : {1, 5, 16, 18, -1}) {
    ModuleEvent other{0, type, 1, 0, 0};
    session->deliver(id, other, 0);
  }
  EXPECT_EQ(probe.dataEvents + probe.pinStatusCalls + probe.operationRuns, 1);
}

TEST_F(Events, ANewProcessFunctionServesTheNextCall) {
  create(1);
  addPins({outputPin("out")});
  open();
  float* out = session->buffer(id, 0);
  session->beginBlock();
  session->process(id, 0, 16);
  EXPECT_EQ(out[15], 1.0f);
  ModuleEvent run{0, eventRunOperation, 0, 0,
                  reinterpret_cast<intptr_t>(probe.switchToSecondProcess)};
  session->deliver(id, run, 16);
  EXPECT_EQ(session->record(id)->processEntry, probe.secondProcess);
  EXPECT_EQ(countRequests(hostProcessChanged), 2);  // open, then the switch
  session->process(id, 16, 16);
  EXPECT_EQ(out[15], 1.0f);
  EXPECT_EQ(out[16], 2.0f);
}

}  // namespace

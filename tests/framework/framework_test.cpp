// The exports, the fresh record and the dispatcher.
#include <cfloat>
#include <cmath>
#include <cstring>

#include "probe_fixture.h"
#include "rackmill/sample_guard.h"

namespace {

TEST(Exports, DescribeIndexZeroOnly) {
  const char* untouched = "untouched";
  ModuleDescription d{untouched, untouched, untouched, 7, 8, 0};
  EXPECT_EQ(probeLibrary().getModuleProperties()(1, &d), 0);
  EXPECT_EQ(d.flags, 2240);
  EXPECT_EQ(d.id, untouched);
  EXPECT_EQ(d.name, untouched);
  EXPECT_EQ(d.credit, untouched);

  EXPECT_EQ(probeLibrary().getModuleProperties()(0, &d), 1);
  EXPECT_STREQ(d.id, "probe");
  EXPECT_STREQ(d.name, "Probe Module");
  EXPECT_STREQ(d.credit, "framework tests");
  EXPECT_EQ(d.hostWordA, 7);
  EXPECT_EQ(d.hostWordB, 8);
  EXPECT_EQ(d.flags, 2240);
}

TEST(Exports, MakeModuleChecksIndexAndKind) {
  const MakeModuleFn make = probeLibrary().makeModule();
  EXPECT_EQ(make(0, 2, nullptr, 0), nullptr);
  EXPECT_EQ(make(1, 1, nullptr, 0), nullptr);
  EXPECT_EQ(make(-1, 1, nullptr, 0), nullptr);
  ModuleRecord* a = make(0, 1, nullptr, 0);
  ModuleRecord* b = make(0, 1, nullptr, 0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_NE(a->object, b->object);
  EXPECT_EQ(a->dispatcherEntry(a, opClose, 0, 0, nullptr, 0.0f), 1);
  EXPECT_EQ(b->dispatcherEntry(b, opClose, 0, 0, nullptr, 0.0f), 1);
}

TEST(Record, FreshRecordReadsAsConstructed) {
  ModuleRecord* r = probeLibrary().makeModule()(0, 1, nullptr, -123456);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(std::memcmp(&r->magic, "{PMR", 4), 0);
  EXPECT_EQ(r->magic, 0x524D507Bu);
  EXPECT_EQ(r->version, 1);
  EXPECT_EQ(r->hostValue, -123456);
  EXPECT_NE(r->object, nullptr);
  EXPECT_EQ(&static_cast<RMModule_base*>(r->object)->record()->magic, &r->magic);
  EXPECT_EQ(r->reserved0, 0);
  for (int32_t word : r->reserved1) EXPECT_EQ(word, 0);
  EXPECT_EQ(r->sampleRate, 44100.0f);
  EXPECT_EQ(r->blockSize, 1024);
  ASSERT_NE(r->dispatcherEntry, nullptr);
  ASSERT_NE(r->eventEntry, nullptr);

  // The first process function leaves every buffer untouched.
  ASSERT_NE(r->processEntry, nullptr);
  r->processEntry(r->object, 0, 1024);
  r->dispatcherEntry(r, opClose, 0, 0, nullptr, 0.0f);
}

class Dispatcher : public ProbeHost {
 protected:
  void TearDown() override { session.reset(); }  // before `second` goes
  probe::Probe second;
};

TEST_F(Dispatcher, RateAndBlockSizeLiveInTheRecord) {
  create();
  ModuleRecord* r = session->record(id);
  session->dispatch(id, opSetSampleRate, 0, 0, nullptr, 48000.0f);
  session->dispatch(id, opSetBlockSize, 0, 256);
  EXPECT_EQ(module().getSampleRate(), 48000.0f);
  EXPECT_EQ(module().getBlockSize(), 256);
  EXPECT_EQ(r->sampleRate, 48000.0f);
  EXPECT_EQ(r->blockSize, 256);
  // A host that writes the fields directly is seen as well.
  r->sampleRate = 96000.0f;
  EXPECT_EQ(module().getSampleRate(), 96000.0f);
}

TEST_F(Dispatcher, DescribePinAnswersOnlyForDescribedPins) {
  create();
  addPins({describe(dtAudio, "in")});
  PinDescription d{};
  EXPECT_EQ(session->dispatch(id, opDescribePin, 0, 0, &d), 1);
  EXPECT_STREQ(d.name, "in");
  EXPECT_EQ(d.datatype, dtAudio);
  PinDescription none{};
  EXPECT_EQ(session->dispatch(id, opDescribePin, 1, 0, &none), 0);
  EXPECT_EQ(none.name, nullptr);
}

TEST_F(Dispatcher, ResumeCallsResumeIndexOnlyAboveZero) {
  create();
  session->dispatch(id, opResume, 0);
  session->dispatch(id, opResume, -4);
  EXPECT_EQ(probe.resumeCalls, 2);
  EXPECT_EQ(probe.resumeIndexSeen, 0);
  session->dispatch(id, opResume, 3);
  EXPECT_EQ(probe.resumeCalls, 3);
  EXPECT_EQ(probe.resumeIndexSeen, 3);
}

TEST_F(Dispatcher, ProcessDescriptorIsOneRecordRewrittenPerRequest) {
  create();
  const rmhost::InstanceId other = session->create(probeLibrary(), session->addGroup());
  session->dispatch(other, opHostMessage, 0, probe::kAttachProbe, &second);
  session->open(id);
  session->open(other);

  const auto* first = reinterpret_cast<ProcessDescriptor*>(session->dispatch(id, 13));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->one, 1);
  EXPECT_EQ(first->size, static_cast<int32_t>(sizeof(ProcessReference)));
  EXPECT_EQ(first->zero, 0);
  EXPECT_EQ(first->reference, &module().processFunction());
  const auto* again = reinterpret_cast<ProcessDescriptor*>(session->dispatch(other, 13));
  EXPECT_EQ(again, first);
  const auto& secondModule = *static_cast<RMModule_base*>(second.object);
  EXPECT_EQ(first->reference, &secondModule.processFunction());
  EXPECT_EQ(static_cast<const ProcessReference*>(first->reference)->address,
            second.firstProcessAddress);
}

TEST_F(Dispatcher, UnlistedOpcodesAnswerZeroAndChangeNothing) {
  create();
  ModuleRecord before = *session->record(id);
  for (int32_t opcode : {4, 5, 7, 9, 10, 11, 14, 99, -1}) {
    EXPECT_EQ(session->dispatch(id, opcode, 1, 2, &probe, 3.0f), 0) << opcode;
  }
  EXPECT_EQ(std::memcmp(&before, session->record(id), sizeof before), 0);
  EXPECT_EQ(probe.resumeCalls + probe.closeCalls + probe.destroyed, 0);
}

TEST_F(Dispatcher, CloseFreesTheInstanceAndItsPins) {
  create(4);
  addPins({describe(dtAudio, "a"), describe(dtList, "b"), describe(dtInteger, "c"),
           describe(dtAudio, "d", 0, nullptr)});
  open();
  ASSERT_EQ(module().pinCount(), 4);
  EXPECT_EQ(session->dispatch(id, opClose), 1);
  EXPECT_FALSE(session->alive(id));
  EXPECT_EQ(probe.closeCalls, 1);
  EXPECT_EQ(probe.destroyed, 1);
}

TEST_F(Dispatcher, OpeningAgainRebuildsThePinTable) {
  create(2);
  addPins({describe(dtAudio, "a"), describe(dtInteger, "b")});
  open();
  open();  // LeakSanitizer reports the first table if it is kept
  EXPECT_EQ(module().pinCount(), 2);
  EXPECT_TRUE(module().pin(1).isSetUp());
}

TEST(NoCallback, HostRequestsAnswerZeroAndOpenBuildsNoPins) {
  ModuleRecord* r = probeLibrary().makeModule()(0, 1, nullptr, 0);
  ASSERT_NE(r, nullptr);
  probe::Probe p;
  p.descriptionCount = 1;
  p.descriptions[0] = describe(dtAudio, "in");
  r->dispatcherEntry(r, opHostMessage, 0, probe::kAttachProbe, &p, 0.0f);
  auto* m = static_cast<RMModule_base*>(r->object);
  EXPECT_EQ(m->callHost(hostSampleClock), 0);
  r->dispatcherEntry(r, opOpen, 0, 0, nullptr, 0.0f);
  EXPECT_EQ(m->pinCount(), 0);
  // Installing a process function still moves the record.
  EXPECT_EQ(reinterpret_cast<void*>(r->processEntry), p.firstProcessAddress);
  r->dispatcherEntry(r, opClose, 0, 0, nullptr, 0.0f);
}

}  // namespace

namespace {

TEST(SampleGuard, PassesNormalSamplesAndMendsTheRest) {
  EXPECT_EQ(rm::hostSample(0.5f), 0.5f);
  EXPECT_EQ(rm::hostSample(-FLT_MIN), -FLT_MIN);
  EXPECT_EQ(rm::hostSample(FLT_MAX), FLT_MAX);
  EXPECT_EQ(rm::hostSample(1e-40f), 0.0f);
  EXPECT_EQ(rm::hostSample(-1e-45f), 0.0f);
  EXPECT_EQ(rm::hostSample(std::nanf("")), 0.0f);
  EXPECT_EQ(rm::hostSample(INFINITY), FLT_MAX);
  EXPECT_EQ(rm::hostSample(-INFINITY), -FLT_MAX);
}

}  // namespace

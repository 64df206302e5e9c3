// Building the pin table, status events, valueNow and output announcements.
#include <vector>

#include "probe_fixture.h"

namespace {

class Pins : public ProbeHost {
 protected:
  std::vector<int32_t> describeCalls() const {
    return {probe.describeCalls, probe.describeCalls + probe.describeCallCount};
  }
  // Fills `n` descriptions of audio inputs bound to module variables.
  void addAudioPins(int32_t n) {
    for (int32_t i = 0; i < n; ++i) addPins({describe(dtAudio, "in")});
  }
};

TEST_F(Pins, EveryDescribedPinIsBoundToItsVariable) {
  create(18);
  addAudioPins(18);
  open();
  ASSERT_EQ(module().pinCount(), 18);
  auto* slots = static_cast<unsigned char(*)[8]>(probe.variables);
  for (int32_t i = 0; i < 18; ++i) {
    const RMPin& pin = module().pin(i);
    EXPECT_EQ(pin.index, i);
    EXPECT_EQ(pin.status, pinStatic);
    EXPECT_EQ(pin.module, &module());
    EXPECT_EQ(pin.variable, &slots[i]);
    // The host wrote the pin's buffer address into the variable.
    EXPECT_EQ(*static_cast<float**>(pin.variable), session->buffer(id, i));
  }
}

TEST_F(Pins, HostCountBelowTheDescriptionsStopsEarly) {
  create(5);
  addAudioPins(18);
  open();
  EXPECT_EQ(describeCalls(), (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 4}));
  EXPECT_EQ(module().pinCount(), 5);
  for (int32_t i = 0; i < 5; ++i) EXPECT_TRUE(module().pin(i).isSetUp());
}

TEST_F(Pins, HostOnlyDescriptionsGetNoPin) {
  create(2);
  addPins({describe(dtAudio, "first"), describe(dtAudio, "host only", pinFlagHostOnly),
           describe(dtInteger, "third")});
  open();
  auto* slots = static_cast<unsigned char(*)[8]>(probe.variables);
  EXPECT_EQ(module().pin(0).variable, &slots[0]);
  EXPECT_EQ(module().pin(1).variable, &slots[2]);
  EXPECT_EQ(module().pin(1).datatype, dtInteger);
}

TEST_F(Pins, ModuleTooCancelsHostOnly) {
  create(2);
  addPins({describe(dtAudio, "first"),
           describe(dtAudio, "both", pinFlagHostOnly | pinFlagModuleToo),
           describe(dtInteger, "third")});
  open();
  auto* slots = static_cast<unsigned char(*)[8]>(probe.variables);
  EXPECT_EQ(module().pin(1).variable, &slots[1]);
}

TEST_F(Pins, RepeatLastGivesEveryFurtherPinItsOwnBuffer) {
  create(6);
  addPins({describe(dtInteger, "a"), describe(dtList, "b"),
           describe(dtAudio, "more", pinFlagRepeatLast)});
  open();
  for (int32_t i = 3; i < 6; ++i) {
    const RMPin& pin = module().pin(i);
    EXPECT_EQ(pin.datatype, dtAudio);
    EXPECT_EQ(pin.variable, &pin.storage.buffer);
    EXPECT_EQ(pin.storage.buffer, session->buffer(id, i)) << i;
  }
  int bufferRequests = 0;
  for (const auto& r : session->requests()) {
    if (r.opcode == hostPinBuffer) {
      EXPECT_EQ(r.index, 3 + bufferRequests++);
    }
  }
  EXPECT_EQ(bufferRequests, 3);
}

TEST_F(Pins, RepeatLastIsIgnoredOnAHostOnlyDescription) {
  create(4);
  addPins({describe(dtAudio, "a"), describe(dtAudio, "b", pinFlagRepeatLast | pinFlagHostOnly)});
  open();
  EXPECT_TRUE(module().pin(0).isSetUp());
  EXPECT_FALSE(module().pin(1).isSetUp());
}

TEST_F(Pins, OwnStorageByDataType) {
  create(3);
  addPins({describe(dtList, "list", 0, nullptr), describe(2, "typeless", 0, nullptr),
           describe(dtInteger, "int", 0, nullptr)});
  open();
  EXPECT_EQ(*static_cast<int16_t*>(module().pin(0).variable), 0);
  EXPECT_EQ(module().pin(1).variable, nullptr);
  EXPECT_EQ(*static_cast<int32_t*>(module().pin(2).variable), 0);
}

TEST_F(Pins, NoDescriptionsNoPinsSetUp) {
  create(3);
  open();
  EXPECT_EQ(module().pinCount(), 3);
  for (int32_t i = 0; i < 3; ++i) EXPECT_FALSE(module().pin(i).isSetUp());
}

TEST_F(Pins, OneOffStatusReadsZeroAfterTheEvent) {
  create(5);
  addAudioPins(5);
  open();
  statusEvent(4, pinOneOff);
  EXPECT_EQ(probe.pinStatusCalls, 1);
  EXPECT_EQ(probe.lastPinIndex, 4);
  EXPECT_EQ(probe.statusSeen, pinOneOff);
  EXPECT_EQ(module().pin(4).status, pinStatic);
  statusEvent(4, pinStreaming);
  EXPECT_EQ(module().pin(4).status, pinStreaming);
}

TEST_F(Pins, StrayStatusEventsAreIgnored) {
  create(3);
  addPins({describe(dtAudio, "a")});  // pins 1 and 2 are never set up
  open();
  statusEvent(3, pinOneOff);
  statusEvent(-1, pinOneOff);
  statusEvent(1, pinOneOff);
  session->record(id)->eventEntry(session->record(id)->object, nullptr);
  EXPECT_EQ(probe.pinStatusCalls, 0);
}

TEST_F(Pins, ValueNowReadsTheBufferAtTheCurrentClock) {
  create(1, 64);
  addAudioPins(1);
  open();
  // The pin streams its own sample clock, so a sample's value names its clock.
  session->setStream(
      id, 0,
      [](int64_t clock, float* out, int32_t n) {
        for (int32_t i = 0; i < n; ++i) out[i] = static_cast<float>(clock + i);
      },
      0);
  for (int i = 0; i < 3; ++i) session->runBlock();
  session->beginBlock();
  statusEvent(0, pinOneOff, 10);
  EXPECT_EQ(probe.valueSeen, 3 * 64 + 10);
  EXPECT_EQ(session->buffer(id, 0)[10], 3 * 64 + 10);
}

TEST_F(Pins, TransmitStatusReachesTheHost) {
  create(17);
  addAudioPins(17);
  open();
  session->clearRequests();
  module().pin(16).transmitStatus(700, pinStreaming);
  ASSERT_EQ(session->requests().size(), 1u);
  const rmhost::Request& r = session->requests()[0];
  EXPECT_EQ(r.opcode, hostOutputStatus);
  EXPECT_EQ(r.index, 16);
  EXPECT_EQ(r.value, pinStreaming);
  EXPECT_EQ(r.ptr, 700);
}

}  // namespace

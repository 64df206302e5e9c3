// The stand-in host: hosts module instances exactly as Rackmill does.
//
// A Session owns instances (grouped into clone groups), the host-side pin buffers, the sample
// clock and the pending events. Time runs in blocks of `blockSize` frames; the buffers of every
// pin hold one block, and buffer position p of the block starting at clock T is clock T + p.
// During a process call on [offset, offset + frames) the sample clock (host opcode 3) answers
// T + offset and the pin block start (opcode 8) answers T; an event delivered at block
// position p sees clock T + p.
//
// Pins are fed by the host (a constant that changes at given clocks, each change delivered as a
// one-off status event; or a stream, announced as streaming), or wired to another instance's
// output (the input reads the output's buffer; the output's announced status reaches the input
// as a status event at the announced clock).
//
// Instances are processed in creation order, so wire producers before consumers. A module that
// asks to sleep (opcode 10) is not processed further: its outputs hold the last sample it wrote
// until the host wakes it (opcode 8) before delivering its next status event.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rackmill/abi.h"
#include "rmhost/library.h"

namespace rmhost {

using InstanceId = int32_t;

// One request a module made through its host callback.
struct Request {
  InstanceId instance = -1;
  int32_t opcode = 0;
  int32_t index = 0;
  int32_t value = 0;
  intptr_t ptr = 0;
  int64_t clock = 0;  // the host's sample clock when the request arrived
};

struct SessionConfig {
  float sampleRate = 44100.0f;
  int32_t blockSize = 1024;  // largest block in frames; also written with opcode 3
  // Answer of opcode 14, the pins the host keeps: only their variables are written. -1: the
  // number of described pins.
  int32_t pinCount = -1;
  bool logRequests = true;
  // Pending pin changes each instance can hold without allocating. A host on a real-time thread
  // sets it (and logRequests false) so that running and changing pins never touch the heap.
  int32_t eventCapacity = 0;
};

// Fills `frames` samples of a stream for clocks [clock, clock + frames).
using StreamFn = std::function<void(int64_t clock, float* out, int32_t frames)>;

// Chooses the length of the next process call of an instance within a block: given the block
// position and the frames left before the next event or the block end, answers 1..remaining.
using SplitFn = std::function<int32_t(InstanceId, int32_t position, int32_t remaining)>;

class Session {
 public:
  explicit Session(const SessionConfig& config = {});
  ~Session();  // closes every instance still alive (opcode 1)
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const SessionConfig& config() const { return config_; }

  // --- Instances ----------------------------------------------------------------------------
  int32_t addGroup();  // a new, empty clone group
  // makeModule(0, 1, callback, hostValue), opcodes 2 and 3, pin discovery (opcode 6), pin
  // values from the default texts (pins are read again at open). Answers -1 when makeModule answers
  // null.
  InstanceId create(Library& library, int32_t group);
  // Like create, with explicit makeModule arguments (for argument checks).
  InstanceId createWith(Library& library, int32_t group, int32_t index, int32_t kind,
                        int32_t hostValue);
  void open(InstanceId id);     // writes every pin variable, then opcode 0
  void destroy(InstanceId id);  // opcode 1; the instance leaves its group
  bool alive(InstanceId id) const;
  int32_t instanceCount() const;                              // ids handed out so far, alive or not
  const std::vector<InstanceId>& group(int32_t group) const;  // alive members in creation order
  ModuleRecord* record(InstanceId id) const;
  const std::vector<PinInfo>& pins(InstanceId id) const;
  int32_t findPin(InstanceId id, const std::string& name) const;  // -1 when absent
  float* buffer(InstanceId id, int32_t pin) const;  // the block buffer the pin reads or writes

  // --- Pin values ---------------------------------------------------------------------------
  // Value before open, without an event (like a default text).
  void setInitial(InstanceId id, int32_t pin, double value);
  // One-off change at `clock`: from there the buffer (or list/integer variable) holds the value,
  // and a status event pinOneOff is delivered at that clock.
  void setValue(InstanceId id, int32_t pin, double value, int64_t clock);
  // Stream from `clock` on, announced with a status event pinStreaming at that clock.
  void setStream(InstanceId id, int32_t pin, StreamFn stream, int64_t clock);
  // Wires an output to an input. Pins with a module variable may be wired at any time; a pin
  // without one learns its buffer at open, so wire it before.
  void connect(InstanceId from, int32_t outputPin, InstanceId to, int32_t inputPin);

  // --- Running ------------------------------------------------------------------------------
  int64_t clock() const { return blockStart_; }  // clock of the current block's first sample
  void setSplitter(SplitFn splitter) { splitter_ = std::move(splitter); }
  // One block of every open instance in creation order, with events at their clocks.
  void runBlock();
  // A shorter block of `frames` (0 to blockSize) frames: the clock advances by `frames`. Once
  // instances are set up this neither allocates nor locks while queues stay within
  // eventCapacity and no request is logged.
  void runBlock(int32_t frames);
  // Pin changes waiting for an instance.
  int32_t pendingEvents(InstanceId id) const;

  // Low-level access for tests and the validator. beginBlock fills the host-fed buffers of the
  // current block; process and deliver act at a block position; endBlock advances the clock.
  void beginBlock();
  void process(InstanceId id, int32_t offset, int32_t frames);
  void deliver(InstanceId id, ModuleEvent& event, int32_t position);
  intptr_t dispatch(InstanceId id, int32_t opcode, int32_t index = 0, int32_t value = 0,
                    void* ptr = nullptr, float opt = 0.0f);
  void endBlock();

  bool asleep(InstanceId id) const;
  const std::vector<Request>& requests() const { return requests_; }
  void clearRequests() { requests_.clear(); }

  struct Instance;

 private:
  friend intptr_t hostCallback(ModuleRecord*, int32_t, int32_t, int32_t, void*, float);
  intptr_t onRequest(Instance& inst, int32_t opcode, int32_t index, int32_t value, void* ptr);
  Instance& get(InstanceId id) const;
  void fillHostBuffers(Instance& inst, int32_t from);
  void queueStatus(Instance& inst, int32_t pin, int32_t status, int64_t clock, bool hasValue,
                   double value);
  void deliverDue(Instance& inst, int64_t upTo);
  void runInstance(Instance& inst);
  void callProcess(Instance& inst, int32_t offset, int32_t frames);
  void writeVariable(Instance& inst, int32_t pin);
  void discoverPins(Instance& inst);

  SessionConfig config_;
  std::vector<std::unique_ptr<Instance>> instances_;
  std::vector<std::vector<InstanceId>> groups_;
  std::vector<Request> requests_;
  SplitFn splitter_;
  int64_t blockStart_ = 0;
  int32_t blockFrames_ = 0;     // length of the current block
  int32_t position_ = 0;        // block position of the call in progress
  int64_t nextEventOrder_ = 0;  // keeps events of one clock in the order they were queued
};

// True while a module's process function or event handling runs on this thread, outside any
// host callback: the part of the audio path that belongs to the module. Also true, host code
// included, inside an AudioThreadScope.
bool onModuleAudioPath() noexcept;

// Marks a stretch of a host's audio thread (an adapter's run, say) as audio path as a whole, so
// that the allocation counter sees the host's own heap operations there too.
struct AudioThreadScope {
  AudioThreadScope() noexcept;
  ~AudioThreadScope();
  AudioThreadScope(const AudioThreadScope&) = delete;
  AudioThreadScope& operator=(const AudioThreadScope&) = delete;
};

}  // namespace rmhost

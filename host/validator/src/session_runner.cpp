#include "session_runner.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <memory>
#include <string>

#include "random.h"
#include "rmhost/alloc_counter.h"
#include "rmhost/session.h"

namespace rmhost::validator {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

uint64_t mix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ull;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

// FNV-1a over bytes, for comparing two runs of one seed.
struct Hash {
  uint64_t state = 0xcbf29ce484222325ull;
  void add(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) state = (state ^ bytes[i]) * 0x100000001b3ull;
  }
  template <class T>
  void add(T value) {
    add(&value, sizeof value);
  }
};

// Values a host may write into a pin: ordinary ranges, zeros, huge magnitudes, subnormal
// numbers and, when allowed, NaN and infinities.
float interestingValue(Rng& rng, bool nonFinite) {
  const double r = rng.unit();
  if (nonFinite && r < 0.08) return rng.pick({kNaN, kInf, -kInf});
  if (r < 0.35) return static_cast<float>(rng.unit());
  if (r < 0.50) return static_cast<float>(rng.between(0, 16));
  if (r < 0.62) return static_cast<float>(rng.uniform(-10.0, 10.0));
  if (r < 0.68) return rng.pick({0.0f, -0.0f});
  if (r < 0.76) return rng.pick({1e10f, -1e10f, 1e30f, -1e30f, FLT_MAX, -FLT_MAX});
  if (r < 0.84) return rng.pick({1e-40f, -1e-40f, FLT_TRUE_MIN, -FLT_TRUE_MIN, FLT_MIN, 1e-30f});
  if (r < 0.90) return static_cast<float>(rng.uniform(-1000.0, 0.0));
  return static_cast<float>(rng.uniform(0.0, 100.0));
}

// Narrows a stream value; finite values stay finite.
float narrow(double v) {
  if (!std::isfinite(v)) return static_cast<float>(v);
  return static_cast<float>(std::clamp(v, -static_cast<double>(FLT_MAX), double{FLT_MAX}));
}

// A stream the host feeds into an audio input: a pure function of the sample clock, so that
// refilling a buffer gives the same samples.
struct StreamShape {
  enum Kind { square, sine, ramp, noise } kind = square;
  float low = 0.0f;
  float high = 1.0f;
  int64_t period = 1;
  int64_t duty = 0;
  uint64_t salt = 0;
  float special = 0.0f;
  uint64_t specialPerMille = 0;

  float at(int64_t clock) const {
    const double lo = low;
    const double hi = high;
    const int64_t phase = ((clock % period) + period) % period;
    switch (kind) {
      case square:
        return phase < duty ? high : low;
      case sine:
        return narrow(lo + (hi - lo) * 0.5 *
                               (1.0 + std::sin(6.283185307179586 * static_cast<double>(phase) /
                                               static_cast<double>(period))));
      case ramp:
        return narrow(lo + (hi - lo) * static_cast<double>(phase) / static_cast<double>(period));
      case noise:
        break;
    }
    const uint64_t h = mix(salt ^ static_cast<uint64_t>(clock));
    if (h % 1000 < specialPerMille) return special;
    return narrow(lo + (hi - lo) * static_cast<double>(h >> 11) * 0x1.0p-53);
  }
};

StreamShape randomStream(Rng& rng, bool nonFinite) {
  StreamShape s;
  s.kind = rng.pick({StreamShape::square, StreamShape::square, StreamShape::sine, StreamShape::ramp,
                     StreamShape::noise});
  if (rng.chance(0.5)) {
    s.low = 0.0f;
    s.high = static_cast<float>(rng.pick({1, 1, 2, 5, 10}));
  } else {
    s.low = interestingValue(rng, nonFinite);
    s.high = interestingValue(rng, nonFinite);
  }
  s.period = static_cast<int64_t>(rng.logUniform(1.0, 50000.0));
  s.duty = rng.between(0, s.period);
  s.salt = rng.bits();
  s.special = interestingValue(rng, nonFinite);
  s.specialPerMille = rng.chance(0.3) ? static_cast<uint64_t>(rng.between(1, 50)) : 0;
  return s;
}

void noOperation(void*) {}

enum class SplitMode { whole, random, tiny, mixed };

struct PlannedInstance {
  int32_t group = 0;
  int64_t createBlock = 0;
  int64_t openBlock = 0;     // >= block count: never opened
  int64_t destroyBlock = 0;  // >= block count: destroyed at the end
  InstanceId id = -1;
};

struct LiveInstance {
  size_t plan = 0;
  bool opened = false;
  int32_t checkedUpTo = 0;  // block position up to which its outputs have been checked
};

// What ran last on the audio path, for naming the call that allocated.
struct LastCall {
  InstanceId instance = -1;
  int64_t block = 0;
  int32_t offset = 0;
  int32_t frames = 0;
  std::string event;  // set when the last thing was an event or request of the validator's
};

class SessionRun {
 public:
  SessionRun(Library& library, uint64_t seed, FiniteRule rule)
      : library_(library), info_(library.info()), rng_(seed), rule_(rule) {
    for (const PinInfo& pin : info_.pins) {
      if (pin.direction == dirOutput && pin.datatype == dtAudio) outputs_.push_back(pin.index);
    }
  }

  SessionOutcome run() {
    plan();
    SessionConfig config;
    config.sampleRate = sampleRate_;
    config.blockSize = blockSize_;
    config.pinCount = keptPins_ < described() ? keptPins_ : -1;
    session_ = std::make_unique<Session>(config);
    session_->setSplitter([this](InstanceId id, int32_t position, int32_t remaining) {
      return onProcessCall(id, position, remaining);
    });
    allocationsSeen_ = rmhost::audioPathHeapOperations().total();
    for (block_ = 0; block_ < blocks_; ++block_) {
      changeInstances();
      if (rng_.chance(actionRate_)) betweenBlocksRequest();
      session_->runBlock();
      afterBlock();
    }
    destroyAll();
    return std::move(outcome_);
  }

 private:
  // ---- Planning ----------------------------------------------------------------------------
  void plan() {
    sampleRate_ = rng_.chance(0.3) ? rng_.pick({8000.0f, 11025.0f, 22050.0f, 32000.0f, 44100.0f,
                                                48000.0f, 88200.0f, 96000.0f, 176400.0f, 192000.0f})
                                   : static_cast<float>(rng_.logUniform(8000.0, 192000.0));
    const double r = rng_.unit();
    blockSize_ = r < 0.15   ? static_cast<int32_t>(rng_.between(1, 4))
                 : r < 0.60 ? rng_.pick({16, 32, 64, 100, 128, 256, 441, 512, 1000, 1024})
                            : static_cast<int32_t>(rng_.logUniform(1.0, 4096.0));
    nonFiniteInputs_ = rng_.chance(0.35);
    split_ = rng_.pick(
        {SplitMode::whole, SplitMode::whole, SplitMode::random, SplitMode::tiny, SplitMode::mixed});
    actionRate_ = rng_.pick({0.0, 0.02, 0.1, 0.3});
    // Now and then a host that keeps fewer pins than described: none, one, half, all but one.
    keptPins_ = described();
    if (rng_.chance(0.1)) {
      keptPins_ = std::max(rng_.pick({0, 1, described() / 2, described() - 1}), 0);
    }

    const int32_t groups = rng_.chance(0.7) ? 1 : rng_.chance(0.8) ? 2 : 3;
    std::vector<int32_t> initial;
    for (int32_t g = 0; g < groups; ++g) {
      const double c = rng_.unit();
      const int64_t clones = c < 0.35   ? 1
                             : c < 0.60 ? 2
                             : c < 0.85 ? rng_.between(3, 4)
                             : c < 0.99 ? rng_.between(5, 8)
                                        : rng_.between(33, 35);
      initial.insert(initial.end(), static_cast<size_t>(clones), g);
    }
    shuffle(initial);  // groups are created interleaved

    // Sessions with many instances stay short.
    const double most = initial.size() > 8 ? 1500.0 : 12000.0;
    blocks_ = std::clamp<int64_t>(
        static_cast<int64_t>(std::ceil(rng_.logUniform(64.0, most) / blockSize_)), 2, 4000);

    for (const int32_t g : initial) plan_.push_back(planInstance(g, 0));
    if (rng_.chance(0.2)) {
      for (int64_t n = rng_.between(1, 2); n > 0; --n) {
        const auto group = static_cast<int32_t>(rng_.between(0, groups - 1));
        plan_.push_back(planInstance(group, rng_.between(1, blocks_ - 1)));
      }
    }
    groups_ = groups;
  }

  PlannedInstance planInstance(int32_t group, int64_t createBlock) {
    PlannedInstance p;
    p.group = group;
    p.createBlock = createBlock;
    const double o = rng_.unit();
    p.openBlock = o < 0.75   ? createBlock
                  : o < 0.95 ? rng_.between(createBlock, blocks_ - 1)
                             : blocks_;
    p.destroyBlock = rng_.chance(0.3) ? rng_.between(createBlock, blocks_ - 1) : blocks_;
    return p;
  }

  size_t pickIndex(size_t count) {
    return static_cast<size_t>(rng_.between(0, static_cast<int64_t>(count) - 1));
  }

  template <class T>
  void shuffle(std::vector<T>& items) {
    for (size_t i = items.size(); i > 1; --i) {
      std::swap(items[i - 1], items[pickIndex(i)]);
    }
  }

  // ---- Instances ---------------------------------------------------------------------------
  void changeInstances() {
    if (block_ == 0) {
      for (int32_t g = 0; g < groups_; ++g) session_->addGroup();
    }
    for (size_t p = 0; p < plan_.size(); ++p) {
      if (plan_[p].createBlock == block_) create(p);
    }
    for (size_t p = 0; p < plan_.size(); ++p) {
      const InstanceId id = plan_[p].id;
      if (id < 0 || !session_->alive(id)) continue;
      if (plan_[p].destroyBlock == block_) {
        session_->destroy(id);
      } else if (plan_[p].openBlock == block_) {
        session_->open(id);
        live_[static_cast<size_t>(id)].opened = true;
      }
    }
  }

  void create(size_t p) {
    const InstanceId id = session_->create(library_, plan_[p].group);
    if (id < 0) {
      report(FailureKind::record, "makeModule answered null for a new instance");
      return;
    }
    plan_[p].id = id;
    live_.resize(static_cast<size_t>(id) + 1);
    live_[static_cast<size_t>(id)].plan = p;
    for (const PinInfo& pin : info_.pins) {
      if (pin.direction != dirOutput && pin.index < keptPins_) feedInput(id, pin);
    }
  }

  int32_t described() const { return static_cast<int32_t>(info_.pins.size()); }

  void destroyAll() {
    std::vector<InstanceId> remaining;
    for (const PlannedInstance& p : plan_) {
      if (p.id >= 0 && session_->alive(p.id)) remaining.push_back(p.id);
    }
    shuffle(remaining);  // the first clone goes first, last or in the middle
    for (const InstanceId id : remaining) session_->destroy(id);
    Hash hash;
    hashRequests(hash);
    outcome_.blockHashes.push_back(hash.state);
    outcome_.blockClocks.push_back(session_->clock());
    session_.reset();
  }

  // ---- Inputs ------------------------------------------------------------------------------
  int64_t endClock() const { return blocks_ * blockSize_; }
  int64_t laterClock() { return rng_.between(session_->clock(), endClock() - 1); }

  // The value is drawn before the clock: every draw of a seed happens in one fixed order
  // (the order in which a call's arguments are evaluated is not fixed).
  void changeLater(InstanceId id, int32_t pin, double value) {
    session_->setValue(id, pin, value, laterClock());
    ++outcome_.valueChanges;
  }

  // Mostly an item of the pin's list; sometimes any 16-bit value, as a corrupt patch may hold.
  double listValue(const PinInfo& pin) {
    if (pin.listText && rng_.chance(0.9)) {
      if (const auto items = parseListItems(*pin.listText); items && !items->empty()) {
        return (*items)[pickIndex(items->size())].value;
      }
    }
    return static_cast<double>(rng_.between(INT16_MIN, INT16_MAX));
  }

  double integerValue() {
    if (rng_.chance(0.3)) return static_cast<double>(rng_.between(-100, 100));
    return rng_.pick<double>({0, 1, 2, 3, -1, 255, 65536, INT32_MAX, INT32_MIN});
  }

  void feedInput(InstanceId id, const PinInfo& pin) {
    if (pin.datatype == dtAudio) {
      feedAudio(id, pin);
      return;
    }
    const bool integer =
        pin.datatype == dtInteger || pin.datatype == dtWord32 || pin.datatype == dtByte;
    if (pin.datatype != dtList && !integer) return;  // the host cannot know what it holds
    const auto value = [&] { return integer ? integerValue() : listValue(pin); };
    const double mode = rng_.unit();
    if (mode < 0.3) return;  // the default
    if (mode < 0.6) {
      session_->setInitial(id, pin.index, value());
      return;
    }
    for (int64_t n = rng_.between(1, 3); n > 0; --n) {
      changeLater(id, pin.index, value());
    }
  }

  void feedAudio(InstanceId id, const PinInfo& pin) {
    const double mode = rng_.unit();
    if (mode < 0.25) return;  // the default
    if (mode < 0.40) {
      session_->setInitial(id, pin.index, interestingValue(rng_, nonFiniteInputs_));
    } else if (mode < 0.65) {
      for (int64_t n = rng_.between(1, 4); n > 0; --n) {
        changeLater(id, pin.index, interestingValue(rng_, nonFiniteInputs_));
      }
    } else if (mode < 0.92 || !wireFromEarlier(id, pin)) {  // a stream, or another's output
      const StreamShape shape = randomStream(rng_, nonFiniteInputs_);
      session_->setStream(
          id, pin.index,
          [shape](int64_t clock, float* out, int32_t frames) {
            for (int32_t i = 0; i < frames; ++i) out[i] = shape.at(clock + i);
          },
          laterClock());
      ++outcome_.valueChanges;
      if (rng_.chance(0.3)) {
        changeLater(id, pin.index, interestingValue(rng_, nonFiniteInputs_));
      }
    }
  }

  // Wires an output of an earlier instance that is still alive into this input.
  bool wireFromEarlier(InstanceId id, const PinInfo& pin) {
    std::vector<InstanceId> producers;
    for (InstanceId other = 0; other < id; ++other) {
      if (session_->alive(other)) producers.push_back(other);
    }
    if (producers.empty() || outputs_.empty()) return false;
    const InstanceId from = producers[pickIndex(producers.size())];
    session_->connect(from, outputs_[pickIndex(outputs_.size())], id, pin.index);
    return true;
  }

  // ---- Running -----------------------------------------------------------------------------
  int32_t onProcessCall(InstanceId id, int32_t position, int32_t remaining) {
    LiveInstance& inst = live_[static_cast<size_t>(id)];
    checkOutputs(id, inst.checkedUpTo, position);
    inst.checkedUpTo = position;
    checkAllocations(id, position);
    if (rng_.chance(actionRate_)) {
      lastCall_ = LastCall{id, block_, position, 0, requestBetweenCalls(id, position)};
      checkAllocations(id, position);
    }
    int32_t frames = remaining;
    switch (split_) {
      case SplitMode::whole:
        break;
      case SplitMode::random:
        frames = static_cast<int32_t>(rng_.between(1, remaining));
        break;
      case SplitMode::tiny:
        frames = static_cast<int32_t>(rng_.between(1, std::min(remaining, 3)));
        break;
      case SplitMode::mixed:
        if (rng_.chance(0.5)) frames = static_cast<int32_t>(rng_.between(1, remaining));
        break;
    }
    lastCall_ = LastCall{id, block_, position, frames, {}};
    if (!session_->asleep(id)) {
      ++outcome_.processCalls;
      outcome_.samples += frames;
    }
    return frames;
  }

  // An event or dispatcher request at a block position, between two process calls of `id`.
  // Answers what it did.
  std::string requestBetweenCalls(InstanceId id, int32_t position) {
    const auto pinCount = static_cast<int64_t>(keptPins_);
    const int64_t choice = rng_.between(0, 9);
    if (choice <= 5) {
      ModuleEvent event{};
      if (choice <= 2 && pinCount > 0) {
        event.type = eventPinStatus;
        event.target = static_cast<intptr_t>(rng_.between(0, pinCount - 1));
        event.intValue = rng_.pick({pinStatic, pinOneOff, pinOneOff, pinStreaming, pinStreaming});
      } else if (choice == 3) {
        event.type = eventData;
        event.firstValue = static_cast<int32_t>(rng_.bits());
        event.intValue = static_cast<int32_t>(rng_.bits());
        event.shortValue = static_cast<uint16_t>(rng_.bits());
      } else if (choice == 4) {
        event.type = eventRunOperation;
        event.target = reinterpret_cast<intptr_t>(&noOperation);
      } else {
        event.type = rng_.pick<int32_t>({1, 3, 4, 5, 16, 18, 255, -1, INT32_MAX, INT32_MIN});
        event.target = static_cast<intptr_t>(rng_.bits() & 0xffff);
        event.intValue = static_cast<int32_t>(rng_.bits());
      }
      session_->deliver(id, event, position);
      ++outcome_.events;
      return "event type " + std::to_string(event.type) + " (target " +
             std::to_string(event.target) + ", value " + std::to_string(event.intValue) + ")";
    }
    return dispatcherRequest(id, choice);
  }

  // A dispatcher request to an opened instance (the lifecycle puts open first).
  void betweenBlocksRequest() {
    std::vector<InstanceId> opened;
    for (const PlannedInstance& p : plan_) {
      if (p.id >= 0 && session_->alive(p.id) && live_[static_cast<size_t>(p.id)].opened) {
        opened.push_back(p.id);
      }
    }
    if (opened.empty()) return;
    const InstanceId id = opened[pickIndex(opened.size())];
    dispatcherRequest(id, rng_.between(6, 9));
  }

  // Requests through the dispatcher that a host may make at any time after open: resume,
  // pin descriptions, the process descriptor, host messages, new rate or block size, and
  // opcodes the interface does not define.
  std::string dispatcherRequest(InstanceId id, int64_t choice) {
    ++outcome_.dispatcherCalls;
    int32_t opcode = opResume;
    int32_t index = 0;
    int32_t value = 0;
    float opt = 0.0f;
    PinDescription scratch{};
    void* pointer = nullptr;
    if (choice == 6) {
      index = rng_.pick<int32_t>({0, 1, 3, -1, 1000});
    } else if (choice == 7) {
      opcode = rng_.pick<int32_t>({4, 5, 7, 9, 10, 11, 14, 15, 64, -1, INT32_MIN, INT32_MAX});
      index = static_cast<int32_t>(rng_.bits());
      value = static_cast<int32_t>(rng_.bits());
      opt = interestingValue(rng_, true);
    } else if (choice == 8) {
      opcode = rng_.pick<int32_t>({opDescribePin, opProcessDescriptor, opHostMessage});
      const auto pins = static_cast<int64_t>(session_->pins(id).size());
      index = static_cast<int32_t>(rng_.between(-2, pins + 2));
      value = static_cast<int32_t>(rng_.bits());
      // Mostly a description to fill; sometimes none, as a careless host may pass.
      if (opcode == opDescribePin && rng_.chance(0.8)) pointer = &scratch;
    } else {
      opcode = rng_.pick<int32_t>({opSetSampleRate, opSetBlockSize});
      opt = static_cast<float>(rng_.logUniform(8000.0, 192000.0));
      value = static_cast<int32_t>(rng_.between(1, 8192));
    }
    session_->dispatch(id, opcode, index, value, pointer, opt);
    return "dispatcher opcode " + std::to_string(opcode) + " (index " + std::to_string(index) +
           ", value " + std::to_string(value) + ")";
  }

  void afterBlock() {
    Hash hash;
    for (const PlannedInstance& p : plan_) {
      if (p.id < 0 || !session_->alive(p.id)) continue;
      LiveInstance& inst = live_[static_cast<size_t>(p.id)];
      if (!inst.opened) continue;
      checkOutputs(p.id, inst.checkedUpTo, blockSize_);
      inst.checkedUpTo = 0;
      for (const int32_t pin : outputs_) {
        hash.add(session_->buffer(p.id, pin), sizeof(float) * static_cast<size_t>(blockSize_));
      }
    }
    checkAllocations(-1, blockSize_);
    hashRequests(hash);
    outcome_.blockHashes.push_back(hash.state);
    outcome_.blockClocks.push_back(block_ * blockSize_);
  }

  void hashRequests(Hash& hash) {
    for (const Request& request : session_->requests()) {
      hash.add(request.instance);
      hash.add(request.opcode);
      hash.add(request.index);
      hash.add(request.value);
      hash.add(request.clock);
      if (request.opcode == hostOutputStatus) hash.add(request.ptr);  // a clock
    }
    session_->clearRequests();
  }

  // ---- Checks ------------------------------------------------------------------------------
  void checkOutputs(InstanceId id, int32_t from, int32_t to) {
    if (from >= to) return;
    const bool mustBeFinite = rule_ == FiniteRule::always || !nonFiniteInputs_;
    for (const int32_t pin : outputs_) {
      const float* samples = session_->buffer(id, pin);
      for (int32_t i = from; i < to; ++i) {
        const int kind = std::fpclassify(samples[i]);
        if (kind != FP_ZERO) ++outcome_.nonzeroSamples;
        if (kind == FP_SUBNORMAL && !reported(FailureKind::subnormal)) {
          report(FailureKind::subnormal, sampleContext(id, pin, i, from, to, samples[i]));
        } else if (mustBeFinite && (kind == FP_NAN || kind == FP_INFINITE) &&
                   !reported(FailureKind::nonFinite)) {
          report(FailureKind::nonFinite, sampleContext(id, pin, i, from, to, samples[i]) +
                                             (nonFiniteInputs_ ? "" : "; every input finite"));
        }
      }
    }
  }

  static std::string number(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
    return text;
  }

  // Names the sample, the call that wrote it and the audio inputs at that sample.
  std::string sampleContext(InstanceId id, int32_t pin, int32_t position, int32_t from, int32_t to,
                            float value) const {
    std::string text = number(value) + " on output \"" + info_.pins[static_cast<size_t>(pin)].name +
                       "\" of instance " + std::to_string(id) + " (group " +
                       std::to_string(plan_[live_[static_cast<size_t>(id)].plan].group) +
                       ") at clock " + std::to_string(block_ * blockSize_ + position) +
                       ", written by the process call at [" + std::to_string(from) + ", " +
                       std::to_string(to) + ") of block " + std::to_string(block_) + context() +
                       "; audio inputs there:";
    for (const PinInfo& input : info_.pins) {
      if (input.direction == dirOutput || input.datatype != dtAudio) continue;
      text += " " + input.name + "=" + number(session_->buffer(id, input.index)[position]);
    }
    return text;
  }

  std::string context() const {
    return "; " + std::to_string(static_cast<int>(sampleRate_)) + " Hz, block size " +
           std::to_string(blockSize_);
  }

  void checkAllocations(InstanceId next, int32_t position) {
    const uint64_t now = rmhost::audioPathHeapOperations().total();
    if (now == allocationsSeen_) return;
    outcome_.allocations += now - allocationsSeen_;
    std::string where;
    if (!lastCall_.event.empty()) {
      where = lastCall_.event + " delivered to instance " + std::to_string(lastCall_.instance) +
              " at block position " + std::to_string(lastCall_.offset);
    } else {
      where = "the process call [" + std::to_string(lastCall_.offset) + ", " +
              std::to_string(lastCall_.offset + lastCall_.frames) + ") of instance " +
              std::to_string(lastCall_.instance) + " in block " + std::to_string(lastCall_.block);
      if (next >= 0) {
        where += ", or a pin status event delivered to instance " + std::to_string(next) +
                 " at block position " + std::to_string(position);
      }
    }
    report(FailureKind::allocation,
           std::to_string(now - allocationsSeen_) + " heap operations in " + where + context());
    allocationsSeen_ = now;
  }

  bool reported(FailureKind kind) const {
    return std::any_of(outcome_.failures.begin(), outcome_.failures.end(),
                       [kind](const Failure& f) { return f.kind == kind; });
  }

  // Keeps the first failure of each kind.
  void report(FailureKind kind, std::string detail) {
    if (!reported(kind))
      outcome_.failures.push_back(Failure{kind, std::nullopt, std::move(detail)});
  }

  Library& library_;
  const ModuleInfo& info_;
  Rng rng_;
  FiniteRule rule_;
  std::vector<int32_t> outputs_;  // audio output pins
  std::unique_ptr<Session> session_;

  float sampleRate_ = 44100.0f;
  int32_t blockSize_ = 1024;
  int64_t blocks_ = 0;
  bool nonFiniteInputs_ = false;
  SplitMode split_ = SplitMode::whole;
  double actionRate_ = 0.0;
  int32_t groups_ = 1;
  int32_t keptPins_ = 0;  // pins the host keeps, the opcode-14 answer
  std::vector<PlannedInstance> plan_;
  std::vector<LiveInstance> live_;  // by instance id

  int64_t block_ = 0;
  LastCall lastCall_;
  uint64_t allocationsSeen_ = 0;
  SessionOutcome outcome_;
};

}  // namespace

SessionOutcome runSession(Library& library, uint64_t seed, FiniteRule rule) {
  try {
    return SessionRun(library, seed, rule).run();
  } catch (const std::exception& error) {
    SessionOutcome outcome;
    outcome.failures.push_back(
        Failure{FailureKind::host, std::nullopt, std::string("the host failed: ") + error.what()});
    return outcome;
  }
}

}  // namespace rmhost::validator

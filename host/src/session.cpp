#include "rmhost/session.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace rmhost {

namespace {

thread_local int tModuleDepth = 0;     // module process/event calls in progress
thread_local int tCallbackDepth = 0;   // host callbacks in progress
thread_local int tHostAudioDepth = 0;  // AudioThreadScopes in force

// Marks a module's process or event call for the length of a scope.
struct ModuleCallScope {
  ModuleCallScope() { ++tModuleDepth; }
  ~ModuleCallScope() { --tModuleDepth; }
};

struct CallbackScope {
  CallbackScope() { ++tCallbackDepth; }
  ~CallbackScope() { --tCallbackDepth; }
};

// Which session and instance a record belongs to, for the callback. Sessions on different
// threads share it (one session may create instances while another runs), so it is a fixed
// open-addressing table of atomics: lookups never lock or allocate and never see a torn entry.
class OwnerTable {
 public:
  static constexpr size_t kSlots = size_t{1} << 14;

  bool insert(const ModuleRecord* record, Session* session, InstanceId id) {
    for (size_t n = 0, i = slotOf(record); n < kSlots; ++n, i = (i + 1) % kSlots) {
      Slot& slot = slots_[i];
      const ModuleRecord* seen = slot.record.load(std::memory_order_acquire);
      if (seen != nullptr && seen != tombstone()) continue;
      if (!slot.claimed.exchange(true, std::memory_order_acq_rel)) {
        slot.session.store(session, std::memory_order_relaxed);
        slot.id.store(id, std::memory_order_relaxed);
        slot.record.store(record, std::memory_order_release);
        return true;
      }
    }
    return false;
  }

  bool find(const ModuleRecord* record, Session*& session, InstanceId& id) const {
    for (size_t n = 0, i = slotOf(record); n < kSlots; ++n, i = (i + 1) % kSlots) {
      const Slot& slot = slots_[i];
      const ModuleRecord* seen = slot.record.load(std::memory_order_acquire);
      if (seen == nullptr) return false;
      if (seen != record) continue;
      session = slot.session.load(std::memory_order_relaxed);
      id = slot.id.load(std::memory_order_relaxed);
      return true;
    }
    return false;
  }

  void erase(const ModuleRecord* record) {
    for (size_t n = 0, i = slotOf(record); n < kSlots; ++n, i = (i + 1) % kSlots) {
      Slot& slot = slots_[i];
      const ModuleRecord* seen = slot.record.load(std::memory_order_acquire);
      if (seen == nullptr) return;
      if (seen != record) continue;
      slot.record.store(tombstone(), std::memory_order_release);
      slot.claimed.store(false, std::memory_order_release);
      return;
    }
  }

 private:
  struct Slot {
    std::atomic<const ModuleRecord*> record{nullptr};  // null: never used; tombstone: free again
    std::atomic<bool> claimed{false};
    std::atomic<Session*> session{nullptr};
    std::atomic<InstanceId> id{-1};
  };
  static const ModuleRecord* tombstone() {
    static const ModuleRecord kFreed{};
    return &kFreed;
  }
  static size_t slotOf(const ModuleRecord* record) {
    return static_cast<size_t>((reinterpret_cast<uintptr_t>(record) >> 4) * 0x9E3779B97F4A7C15ull) %
           kSlots;
  }
  Slot slots_[kSlots];
};

OwnerTable& owners() {
  static OwnerTable table;
  return table;
}

// A double written into an integer pin variable: saturated, NaN as 0.
template <class T>
T saturate(double v) {
  if (std::isnan(v)) return 0;
  v = std::trunc(v);
  if (v <= static_cast<double>(std::numeric_limits<T>::min())) {
    return std::numeric_limits<T>::min();
  }
  if (v >= static_cast<double>(std::numeric_limits<T>::max())) {
    return std::numeric_limits<T>::max();
  }
  return static_cast<T>(v);
}

}  // namespace

bool onModuleAudioPath() noexcept {
  return tHostAudioDepth > 0 || (tModuleDepth > 0 && tCallbackDepth == 0);
}

AudioThreadScope::AudioThreadScope() noexcept {
  ++tHostAudioDepth;
}

AudioThreadScope::~AudioThreadScope() {
  --tHostAudioDepth;
}

struct PendingEvent {
  int64_t clock = 0;
  int64_t order = 0;  // keeps events of one clock in the order they were queued
  int32_t pin = 0;
  int32_t status = pinOneOff;
  bool setsValue = false;
  double value = 0.0;
  StreamFn stream;  // set: the pin becomes this stream
};

struct Wire {
  InstanceId to;
  int32_t pin;
};

struct InputFeed {
  double value = 0.0;
  StreamFn stream;
  InstanceId wiredFrom = -1;
  int32_t wiredPin = -1;
  bool stale = true;  // the buffer does not hold `value` throughout
};

struct Session::Instance {
  InstanceId id = -1;
  int32_t group = 0;
  ModuleRecord* record = nullptr;
  std::vector<PinInfo> pins;
  std::vector<PinDescription> descriptions;
  std::vector<std::vector<float>> buffers;  // one per pin the host keeps
  std::vector<InputFeed> feeds;
  std::vector<std::vector<Wire>> wires;  // per output pin
  std::vector<float> lastOut;            // per pin: last sample written, held while asleep
  std::vector<PendingEvent> queue;       // ordered by (clock, order)
  int64_t doneUntil = 0;                 // clock up to which the instance has been processed
  bool opened = false;
  bool asleep = false;
};

intptr_t hostCallback(ModuleRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                      float) {
  CallbackScope scope;
  Session* session = nullptr;
  InstanceId id = -1;
  if (!owners().find(record, session, id)) return 0;
  return session->onRequest(session->get(id), opcode, index, value, ptr);
}

namespace {
intptr_t RM_CALL callbackEntry(ModuleRecord* record, int32_t opcode, int32_t index, int32_t value,
                               void* ptr, float opt) {
  return hostCallback(record, opcode, index, value, ptr, opt);
}
}  // namespace

Session::Session(const SessionConfig& config) : config_(config), blockFrames_(config.blockSize) {
  if (config_.blockSize < 1) throw std::invalid_argument("block size must be at least 1");
}

Session::~Session() {
  for (auto& inst : instances_) {
    if (inst->record != nullptr) destroy(inst->id);
  }
}

int32_t Session::addGroup() {
  groups_.emplace_back();
  return static_cast<int32_t>(groups_.size() - 1);
}

InstanceId Session::create(Library& library, int32_t group) {
  return createWith(library, group, 0, RM_MODULE_KIND, static_cast<int32_t>(instances_.size()));
}

InstanceId Session::createWith(Library& library, int32_t group, int32_t index, int32_t kind,
                               int32_t hostValue) {
  ModuleRecord* record = library.makeModule()(index, kind, &callbackEntry, hostValue);
  if (record == nullptr) return -1;

  auto inst = std::make_unique<Instance>();
  inst->queue.reserve(static_cast<size_t>(std::max(config_.eventCapacity, 0)));
  inst->id = static_cast<InstanceId>(instances_.size());
  inst->group = group;
  inst->record = record;
  inst->doneUntil = blockStart_;
  if (!owners().insert(record, this, inst->id)) {
    record->dispatcherEntry(record, opClose, 0, 0, nullptr, 0.0f);
    return -1;
  }

  record->dispatcherEntry(record, opSetSampleRate, 0, 0, nullptr, config_.sampleRate);
  record->dispatcherEntry(record, opSetBlockSize, 0, config_.blockSize, nullptr, 0.0f);

  const InstanceId id = inst->id;
  instances_.push_back(std::move(inst));
  groups_.at(static_cast<size_t>(group)).push_back(id);
  discoverPins(get(id));
  return id;
}

// Reads the pin descriptions and gives every pin the host keeps a buffer and its default value.
// Pins already known keep their feeds.
void Session::discoverPins(Instance& inst) {
  std::vector<PinDescription> descriptions;
  std::vector<PinInfo> pins = describePins(inst.record, &descriptions);
  const size_t kept = std::max<size_t>(
      pins.size(), config_.pinCount > 0 ? static_cast<size_t>(config_.pinCount) : 0);
  const size_t known = inst.pins.size();
  inst.buffers.resize(kept, std::vector<float>(static_cast<size_t>(config_.blockSize), 0.0f));
  inst.feeds.resize(kept);
  inst.wires.resize(kept);
  inst.lastOut.resize(kept, 0.0f);
  for (size_t i = known; i < pins.size(); ++i) {
    const PinInfo& pin = pins[i];
    if (pin.direction == dirOutput || !pin.defaultText) continue;
    if (const auto v = parseNumber(*pin.defaultText)) inst.feeds[i].value = *v;
  }
  inst.pins = std::move(pins);
  inst.descriptions = std::move(descriptions);
  fillHostBuffers(inst, 0);
}

void Session::open(InstanceId id) {
  Instance& inst = get(id);
  discoverPins(inst);
  for (const PinInfo& pin : inst.pins) writeVariable(inst, pin.index);
  inst.record->dispatcherEntry(inst.record, opOpen, 0, 0, nullptr, 0.0f);
  inst.opened = true;
}

void Session::destroy(InstanceId id) {
  Instance& inst = get(id);
  if (inst.record == nullptr) return;
  ModuleRecord* record = inst.record;
  record->dispatcherEntry(record, opClose, 0, 0, nullptr, 0.0f);
  owners().erase(record);
  inst.record = nullptr;
  inst.opened = false;
  auto& members = groups_[static_cast<size_t>(inst.group)];
  members.erase(std::remove(members.begin(), members.end(), id), members.end());
}

bool Session::alive(InstanceId id) const {
  return id >= 0 && id < instanceCount() && instances_[static_cast<size_t>(id)]->record != nullptr;
}

int32_t Session::instanceCount() const {
  return static_cast<int32_t>(instances_.size());
}

const std::vector<InstanceId>& Session::group(int32_t group) const {
  return groups_.at(static_cast<size_t>(group));
}

ModuleRecord* Session::record(InstanceId id) const {
  return get(id).record;
}

const std::vector<PinInfo>& Session::pins(InstanceId id) const {
  return get(id).pins;
}

int32_t Session::findPin(InstanceId id, const std::string& name) const {
  for (const PinInfo& pin : get(id).pins) {
    if (pin.name == name) return pin.index;
  }
  return -1;
}

float* Session::buffer(InstanceId id, int32_t pin) const {
  const Instance& inst = get(id);
  if (pin < 0 || static_cast<size_t>(pin) >= inst.buffers.size()) return nullptr;
  const InputFeed& feed = inst.feeds[static_cast<size_t>(pin)];
  if (feed.wiredFrom >= 0) return buffer(feed.wiredFrom, feed.wiredPin);
  return const_cast<float*>(inst.buffers[static_cast<size_t>(pin)].data());
}

Session::Instance& Session::get(InstanceId id) const {
  if (id < 0 || id >= instanceCount()) throw std::out_of_range("no such instance");
  return *instances_[static_cast<size_t>(id)];
}

void Session::writeVariable(Instance& inst, int32_t pin) {
  if (pin < 0 || static_cast<size_t>(pin) >= inst.descriptions.size()) return;
  // A host that keeps fewer pins than the module describes never writes the others.
  if (config_.pinCount >= 0 && pin >= config_.pinCount) return;
  void* variable = inst.descriptions[static_cast<size_t>(pin)].variable;
  if (variable == nullptr) return;
  const double value = inst.feeds[static_cast<size_t>(pin)].value;
  switch (inst.pins[static_cast<size_t>(pin)].datatype) {
    case dtAudio:
      *static_cast<float**>(variable) = buffer(inst.id, pin);
      break;
    case dtList:
      *static_cast<int16_t*>(variable) = saturate<int16_t>(value);
      break;
    case dtByte:
      *static_cast<uint8_t*>(variable) = saturate<uint8_t>(value);
      break;
    case dtWord32:
    case dtInteger:
      *static_cast<int32_t*>(variable) = saturate<int32_t>(value);
      break;
    default:
      break;
  }
}

void Session::fillHostBuffers(Instance& inst, int32_t from) {
  const int32_t frames = config_.blockSize - from;
  for (size_t pin = 0; pin < inst.buffers.size(); ++pin) {
    InputFeed& feed = inst.feeds[pin];
    const bool isOutput = pin < inst.pins.size() && inst.pins[pin].direction == dirOutput;
    if (isOutput || feed.wiredFrom >= 0) continue;
    float* out = inst.buffers[pin].data() + from;
    if (feed.stream) {
      if (blockFrames_ > from) feed.stream(blockStart_ + from, out, blockFrames_ - from);
    } else if (feed.stale || from > 0) {
      std::fill(out, out + frames, static_cast<float>(feed.value));
      feed.stale = from > 0;
    }
  }
}

void Session::setInitial(InstanceId id, int32_t pin, double value) {
  Instance& inst = get(id);
  InputFeed& feed = inst.feeds.at(static_cast<size_t>(pin));
  feed.value = value;
  feed.stream = nullptr;
  feed.stale = true;
  fillHostBuffers(inst, 0);
  if (inst.opened) writeVariable(inst, pin);
}

void Session::queueStatus(Instance& inst, int32_t pin, int32_t status, int64_t clock,
                          bool setsValue, double value) {
  PendingEvent event;
  event.clock = std::max(clock, inst.doneUntil);
  event.order = nextEventOrder_++;
  event.pin = pin;
  event.status = status;
  event.setsValue = setsValue;
  event.value = value;
  const auto at =
      std::upper_bound(inst.queue.begin(), inst.queue.end(), event,
                       [](const PendingEvent& a, const PendingEvent& b) {
                         return a.clock != b.clock ? a.clock < b.clock : a.order < b.order;
                       });
  inst.queue.insert(at, std::move(event));
}

void Session::setValue(InstanceId id, int32_t pin, double value, int64_t clock) {
  queueStatus(get(id), pin, pinOneOff, clock, true, value);
}

void Session::setStream(InstanceId id, int32_t pin, StreamFn stream, int64_t clock) {
  Instance& inst = get(id);
  queueStatus(inst, pin, pinStreaming, clock, false, 0.0);
  // The queue is ordered; find the event just queued (last of its clock) and attach the stream.
  for (auto it = inst.queue.rbegin(); it != inst.queue.rend(); ++it) {
    if (it->pin == pin && it->status == pinStreaming && !it->stream && !it->setsValue) {
      it->stream = std::move(stream);
      break;
    }
  }
}

void Session::connect(InstanceId from, int32_t outputPin, InstanceId to, int32_t inputPin) {
  Instance& producer = get(from);
  Instance& consumer = get(to);
  producer.wires.at(static_cast<size_t>(outputPin)).push_back(Wire{to, inputPin});
  InputFeed& feed = consumer.feeds.at(static_cast<size_t>(inputPin));
  feed.wiredFrom = from;
  feed.wiredPin = outputPin;
  feed.stream = nullptr;
  if (consumer.opened) writeVariable(consumer, inputPin);
}

void Session::beginBlock() {
  position_ = 0;
  for (auto& inst : instances_) {
    if (inst->record != nullptr) fillHostBuffers(*inst, 0);
  }
}

void Session::endBlock() {
  blockStart_ += blockFrames_;
  position_ = 0;
  blockFrames_ = config_.blockSize;
  for (auto& inst : instances_) inst->doneUntil = std::max(inst->doneUntil, blockStart_);
}

void Session::runBlock() {
  runBlock(config_.blockSize);
}

void Session::runBlock(int32_t frames) {
  if (frames <= 0) return;
  blockFrames_ = std::min(frames, config_.blockSize);
  beginBlock();
  for (auto& inst : instances_) {
    if (inst->record != nullptr && inst->opened) runInstance(*inst);
  }
  endBlock();
}

// Delivers the queued events due at or before clock `upTo`, at the current block position.
void Session::deliverDue(Instance& inst, int64_t upTo) {
  while (!inst.queue.empty() && inst.queue.front().clock <= upTo && inst.record != nullptr) {
    PendingEvent event = std::move(inst.queue.front());
    inst.queue.erase(inst.queue.begin());
    InputFeed& feed = inst.feeds.at(static_cast<size_t>(event.pin));
    const int32_t from = position_;
    if (event.setsValue && feed.wiredFrom < 0) {
      feed.value = event.value;
      feed.stream = nullptr;
      auto& buf = inst.buffers[static_cast<size_t>(event.pin)];
      std::fill(buf.begin() + from, buf.end(), static_cast<float>(event.value));
      feed.stale = true;
      writeVariable(inst, event.pin);
    } else if (event.stream && feed.wiredFrom < 0) {
      feed.stream = std::move(event.stream);
      if (blockFrames_ > from) {
        feed.stream(blockStart_ + from, inst.buffers[static_cast<size_t>(event.pin)].data() + from,
                    blockFrames_ - from);
      }
    }
    ModuleEvent message{0, eventPinStatus, event.status, 0, event.pin};
    deliver(inst.id, message, from);
  }
}

void Session::runInstance(Instance& inst) {
  const int64_t blockEnd = blockStart_ + blockFrames_;
  int32_t pos = 0;
  while (pos < blockFrames_ && inst.record != nullptr) {
    position_ = pos;
    inst.doneUntil = blockStart_ + pos;
    deliverDue(inst, blockStart_ + pos);
    int32_t until = blockFrames_;
    if (!inst.queue.empty() && inst.queue.front().clock < blockEnd) {
      until = static_cast<int32_t>(inst.queue.front().clock - blockStart_);
    }
    int32_t frames = until - pos;
    if (splitter_) frames = std::clamp(splitter_(inst.id, pos, frames), 1, frames);
    process(inst.id, pos, frames);
    pos += frames;
  }
  inst.doneUntil = blockEnd;
}

void Session::process(InstanceId id, int32_t offset, int32_t frames) {
  Instance& inst = get(id);
  if (inst.record == nullptr || frames <= 0) return;
  position_ = offset;
  if (!inst.asleep) {
    ModuleCallScope scope;
    inst.record->processEntry(inst.record->object, offset, frames);
  }
  for (const PinInfo& pin : inst.pins) {
    if (pin.direction != dirOutput || pin.datatype != dtAudio) continue;
    float* out = buffer(id, pin.index);
    float& last = inst.lastOut[static_cast<size_t>(pin.index)];
    if (inst.asleep) {
      std::fill(out + offset, out + offset + frames, last);
    } else {
      last = out[offset + frames - 1];
    }
  }
}

void Session::deliver(InstanceId id, ModuleEvent& event, int32_t position) {
  Instance& inst = get(id);
  if (inst.record == nullptr) return;
  position_ = position;
  if (inst.asleep && event.type == eventPinStatus) {
    inst.asleep = false;
    dispatch(id, opResume, 0);
  }
  ModuleCallScope scope;
  inst.record->eventEntry(inst.record->object, &event);
}

intptr_t Session::dispatch(InstanceId id, int32_t opcode, int32_t index, int32_t value, void* ptr,
                           float opt) {
  Instance& inst = get(id);
  if (inst.record == nullptr) return 0;
  if (opcode == opClose) {
    destroy(id);
    return 1;
  }
  return inst.record->dispatcherEntry(inst.record, opcode, index, value, ptr, opt);
}

int32_t Session::pendingEvents(InstanceId id) const {
  return static_cast<int32_t>(get(id).queue.size());
}

bool Session::asleep(InstanceId id) const {
  return get(id).asleep;
}

intptr_t Session::onRequest(Instance& inst, int32_t opcode, int32_t index, int32_t value,
                            void* ptr) {
  const int64_t now = blockStart_ + position_;
  if (config_.logRequests) {
    requests_.push_back(
        Request{inst.id, opcode, index, value, reinterpret_cast<intptr_t>(ptr), now});
  }
  switch (opcode) {
    case hostOutputStatus: {
      if (index < 0 || static_cast<size_t>(index) >= inst.wires.size()) return 0;
      const int64_t at = reinterpret_cast<intptr_t>(ptr);
      for (const Wire& wire : inst.wires[static_cast<size_t>(index)]) {
        Instance& consumer = get(wire.to);
        if (consumer.record != nullptr) queueStatus(consumer, wire.pin, value, at, false, 0.0);
      }
      return 0;
    }
    case hostSampleClock:
      return static_cast<intptr_t>(now);
    case hostPinBuffer:
      return reinterpret_cast<intptr_t>(buffer(inst.id, index));
    case hostPinBlockStart:
      return static_cast<intptr_t>(blockStart_);
    case hostSleep:
      inst.asleep = true;
      return 0;
    case hostFirstClone:
    case hostNextClone: {
      if (ptr == nullptr) return 0;
      const auto& members = groups_[static_cast<size_t>(inst.group)];
      ModuleRecord* answer = nullptr;
      if (opcode == hostFirstClone) {
        if (!members.empty()) answer = get(members.front()).record;
      } else {
        const auto it = std::find(members.begin(), members.end(), inst.id);
        if (it != members.end() && it + 1 != members.end()) answer = get(*(it + 1)).record;
      }
      *static_cast<ModuleRecord**>(ptr) = answer;
      return 0;
    }
    case hostPinCount:
      return config_.pinCount >= 0 ? config_.pinCount : static_cast<intptr_t>(inst.pins.size());
    default:
      return 0;
  }
}

}  // namespace rmhost

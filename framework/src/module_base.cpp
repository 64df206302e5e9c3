#include <cstring>
#include <new>

#include "rackmill/module_base.h"

namespace {

// The library's one descriptor, rewritten by every opcode-13 request of any of its instances.
ProcessDescriptor gProcessDescriptor{1, static_cast<int32_t>(sizeof(ProcessReference)), nullptr, 0};

intptr_t RM_CALL dispatcherEntry(ModuleRecord* record, int32_t opcode, int32_t index, int32_t value,
                                 void* ptr, float opt) noexcept {
  const rm::FpGuard fp;
  RMModule_base* module = RMModule_base::fromRecord(record);
  module->enteredFrom(fp);
  try {
    return module->dispatch(opcode, index, value, ptr, opt);
  } catch (...) {
    return 0;
  }
}

void RM_CALL eventEntry(void* object, ModuleEvent* event) noexcept {
  const rm::FpGuard fp;
  RMModule_base* module = static_cast<RMModule_base*>(object);
  module->enteredFrom(fp);
  try {
    module->handleEvent(event);
  } catch (...) {
  }
}

bool hostOnly(const PinDescription& d) {
  return (d.flags & pinFlagHostOnly) != 0 && (d.flags & pinFlagModuleToo) == 0;
}

}  // namespace

void RM_CALL emptyProcess(void*, int32_t, int32_t) noexcept {}

RMModule_base::RMModule_base(HostCallback callback, int32_t hostValue) noexcept
    : callback_(callback) {
  std::memset(&record_, 0, sizeof record_);
  process_ = emptyProcessReference();
  record_.processEntry = &emptyProcess;
  record_.magic = RM_MODULE_MAGIC;
  record_.version = RM_MODULE_VERSION;
  record_.hostValue = hostValue;
  record_.object = this;
  record_.dispatcherEntry = &dispatcherEntry;
  record_.eventEntry = &eventEntry;
  record_.sampleRate = 44100.0f;
  record_.blockSize = 1024;
}

RMModule_base::~RMModule_base() {
  delete[] pins_;
}

void RMModule_base::onPinStatus(RMPin&) {}

void RMModule_base::handleEvent(ModuleEvent* event) {
  if (event == nullptr) return;
  switch (event->type) {
    case eventPinStatus: {
      // The host only names pins it has; a stray index or a pin never set up is ignored
      // rather than written through.
      const intptr_t target = event->target;
      if (target < 0 || target >= pinCount_ || !pins_[target].isSetUp()) return;
      pins_[target].onStatusChange(event->intValue);
      break;
    }
    case eventData:
      onDataEvent(event->firstValue, event->intValue, event->shortValue);
      break;
    case eventRunOperation:
      if (event->target != 0) reinterpret_cast<void (*)(void*)>(event->target)(this);
      break;
    default:
      break;
  }
}

intptr_t RMModule_base::dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr,
                                 float opt) {
  switch (static_cast<uint32_t>(opcode)) {
    case opOpen:
      open();
      return 0;
    case opClose:
      close();
      delete this;
      return 1;
    case opSetSampleRate:
      setSampleRate(opt);
      return 0;
    case opSetBlockSize:
      setBlockSize(value);
      return 0;
    case opDescribePin:
      return describePin(index, static_cast<PinDescription*>(ptr)) ? 1 : 0;
    case opResume:
      resume();
      if (index > 0) resumeIndex(index);
      return 0;
    case opHostMessage:
      onHostMessage(value, index, ptr);
      return 0;
    case opProcessDescriptor:
      gProcessDescriptor = {1, static_cast<int32_t>(sizeof(ProcessReference)), &process_, 0};
      return reinterpret_cast<intptr_t>(&gProcessDescriptor);
    default:
      return 0;
  }
}

void RMModule_base::open() {
  // A host that opens an instance again gets a fresh table, not a second one beside the first.
  delete[] pins_;
  pins_ = nullptr;
  pinCount_ = 0;

  const intptr_t answer = callHost(hostPinCount);
  const int32_t count = answer > 0 && answer <= INT32_MAX ? static_cast<int32_t>(answer) : 0;
  if (count > 0) {
    pins_ = new (std::nothrow) RMPin[static_cast<size_t>(count)];
    // A table that cannot be made leaves the module without pins.
    pinCount_ = pins_ != nullptr ? count : 0;
  }

  PinDescription description{};
  int32_t d = 0;
  int32_t i = 0;
  if (!describePin(d, &description)) return;
  while (i < pinCount_) {
    if (!hostOnly(description)) {
      pins_[i].init(this, i, description.datatype, description.variable);
      ++i;
    }
    ++d;
    description = PinDescription{};
    if (!describePin(d, &description)) break;
  }

  description = PinDescription{};
  describePin(d - 1, &description);
  if (hostOnly(description) || (description.flags & pinFlagRepeatLast) == 0) return;
  for (; i < pinCount_; ++i) pins_[i].init(this, i, description.datatype, nullptr);
}

void RMModule_base::close() {}
void RMModule_base::spareNotify(int32_t, int32_t) {}
void RMModule_base::setSampleRate(float rate) {
  record_.sampleRate = rate;
}
void RMModule_base::setBlockSize(int32_t size) {
  record_.blockSize = size;
}
float RMModule_base::getSampleRate() {
  return record_.sampleRate;
}
int32_t RMModule_base::getBlockSize() {
  return record_.blockSize;
}
bool RMModule_base::describePin(int32_t, PinDescription*) {
  return false;
}
bool RMModule_base::spareQueryA(int32_t) {
  return false;
}
bool RMModule_base::spareQueryB(int32_t) {
  return false;
}
void RMModule_base::resume() {}
void RMModule_base::resumeIndex(int32_t) {}
void RMModule_base::onDataEvent(int32_t, int32_t, uint16_t) {}
void RMModule_base::onHostMessage(int32_t, int32_t, void*) {}

intptr_t RMModule_base::callHost(int32_t opcode, int32_t index, int32_t value, void* ptr,
                                 float opt) noexcept {
  if (callback_ == nullptr) return 0;
  if (!hostFpKnown_) return callback_(&record_, opcode, index, value, ptr, opt);
  const rm::HostFpScope host(hostFp_);
  return callback_(&record_, opcode, index, value, ptr, opt);
}

int32_t RMModule_base::sampleClock() noexcept {
  return static_cast<int32_t>(callHost(hostSampleClock));
}

void RMModule_base::setProcessFunction(const ProcessReference& reference) noexcept {
  const bool same = reference.address == process_.address &&
                    (reference.address == nullptr ||
                     std::memcmp(reference.adjust, process_.adjust, sizeof reference.adjust) == 0);
  if (same) return;
  process_ = reference;
  record_.processEntry = reinterpret_cast<ProcessEntry>(reference.address);
  callHost(hostProcessChanged);
}

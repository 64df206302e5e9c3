// libFuzzer target: one module library (PLUGIN_PATH) hosted by the stand-in host, with every
// host action taken from the fuzz input: sample rate, block size, the pins the host keeps, clones
// created, opened and destroyed, pin values and streams of arbitrary bits, process calls split
// anywhere, events of any type on valid pins, and dispatcher requests, null pointers included. The
// sanitizers turn any memory error, undefined behaviour or leak into a finding.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "rmhost/library.h"
#include "rmhost/session.h"

namespace {

constexpr int kMaxInstances = 8;
constexpr int kMaxSteps = 400;

rmhost::Library* library = nullptr;

float anyFloat(FuzzedDataProvider& in) {
  const uint32_t bits = in.ConsumeIntegral<uint32_t>();
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void doNothing(void*) {}

class FuzzHost {
 public:
  explicit FuzzHost(FuzzedDataProvider& in) : in_(in) {
    rmhost::SessionConfig config;
    config.sampleRate = in.ConsumeFloatingPointInRange(8000.0f, 192000.0f);
    config.blockSize = in.ConsumeIntegralInRange<int32_t>(1, 300);
    config.logRequests = false;
    // Now and then a host that keeps fewer pins than the module describes.
    if (in.ConsumeIntegralInRange(0, 7) == 0) {
      const auto described = static_cast<int32_t>(library->info().pins.size());
      config.pinCount = in.ConsumeIntegralInRange<int32_t>(0, described);
    }
    session_ = std::make_unique<rmhost::Session>(config);
    session_->setSplitter([this](rmhost::InstanceId, int32_t, int32_t remaining) {
      return in_.ConsumeBool() ? remaining : in_.ConsumeIntegralInRange<int32_t>(1, remaining);
    });
    group_ = session_->addGroup();
    for (int n = in.ConsumeIntegralInRange(1, 4); n > 0; --n) create();
  }

  ~FuzzHost() {
    // Destroys in an order taken from the input: first clone first, last or in the middle.
    while (!live_.empty()) {
      const size_t at = in_.ConsumeIntegralInRange<size_t>(0, live_.size() - 1);
      session_->destroy(live_[at]);
      live_.erase(live_.begin() + static_cast<std::ptrdiff_t>(at));
    }
  }

  void step() {
    switch (in_.ConsumeIntegralInRange(0, 10)) {
      case 0:
        create();
        break;
      case 1:
        openOne();
        break;
      case 2:
        if (const auto id = pickLive()) destroy(*id);
        break;
      case 3:
        if (const auto id = pickLive()) setValue(*id);
        break;
      case 4:
        if (const auto id = pickLive()) setStream(*id);
        break;
      case 5:
        if (const auto id = pickLive()) deliverEvent(*id);
        break;
      case 6:
        if (const auto id = pickLive()) dispatch(*id);
        break;
      default:
        session_->runBlock();
        break;
    }
  }

 private:
  std::optional<rmhost::InstanceId> pickLive() {
    if (live_.empty()) return std::nullopt;
    return live_[in_.ConsumeIntegralInRange<size_t>(0, live_.size() - 1)];
  }

  int32_t pickPin(rmhost::InstanceId id) {
    const auto count = static_cast<int32_t>(session_->pins(id).size());
    return count == 0 ? -1 : in_.ConsumeIntegralInRange<int32_t>(0, count - 1);
  }

  int64_t laterClock() {
    return session_->clock() +
           in_.ConsumeIntegralInRange<int64_t>(0, 2 * session_->config().blockSize);
  }

  void create() {
    if (static_cast<int>(live_.size()) >= kMaxInstances) return;
    const rmhost::InstanceId id = session_->create(*library, group_);
    if (id >= 0) live_.push_back(id);
  }

  // Opens an instance not opened yet: a host opens each instance once.
  void openOne() {
    std::vector<rmhost::InstanceId> closed;
    for (const rmhost::InstanceId id : live_) {
      if (std::find(opened_.begin(), opened_.end(), id) == opened_.end()) closed.push_back(id);
    }
    if (closed.empty()) return;
    const rmhost::InstanceId id = closed[in_.ConsumeIntegralInRange<size_t>(0, closed.size() - 1)];
    session_->open(id);
    opened_.push_back(id);
  }

  void destroy(rmhost::InstanceId id) {
    session_->destroy(id);
    live_.erase(std::find(live_.begin(), live_.end(), id));
  }

  void setValue(rmhost::InstanceId id) {
    const int32_t pin = pickPin(id);
    if (pin < 0 || session_->pins(id)[static_cast<size_t>(pin)].direction == dirOutput) return;
    const float value = anyFloat(in_);
    session_->setValue(id, pin, value, laterClock());
  }

  // A stream that repeats up to eight values taken from the input.
  void setStream(rmhost::InstanceId id) {
    const int32_t pin = pickPin(id);
    if (pin < 0 || session_->pins(id)[static_cast<size_t>(pin)].direction == dirOutput) return;
    std::array<float, 8> values{};
    const size_t count = in_.ConsumeIntegralInRange<size_t>(1, values.size());
    for (size_t i = 0; i < count; ++i) values[i] = anyFloat(in_);
    const int64_t hold = in_.ConsumeIntegralInRange<int64_t>(1, 64);
    session_->setStream(
        id, pin,
        [values, count, hold](int64_t clock, float* out, int32_t frames) {
          for (int32_t i = 0; i < frames; ++i) {
            out[i] = values[static_cast<size_t>((clock + i) / hold) % count];
          }
        },
        laterClock());
  }

  void deliverEvent(rmhost::InstanceId id) {
    ModuleEvent event{};
    event.type = in_.PickValueInArray<int32_t>(
        {eventPinStatus, eventPinStatus, eventData, eventRunOperation, 1, 5, -1});
    event.firstValue = in_.ConsumeIntegral<int32_t>();
    event.intValue = event.type == eventPinStatus ? in_.ConsumeIntegralInRange<int32_t>(0, 2)
                                                  : in_.ConsumeIntegral<int32_t>();
    event.shortValue = in_.ConsumeIntegral<uint16_t>();
    if (event.type == eventPinStatus) {
      const int32_t pin = pickPin(id);
      if (pin < 0) return;
      event.target = pin;
    } else if (event.type == eventRunOperation) {
      event.target = reinterpret_cast<intptr_t>(&doNothing);
    } else {
      event.target = in_.ConsumeIntegral<int32_t>();
    }
    const int32_t position =
        in_.ConsumeIntegralInRange<int32_t>(0, session_->config().blockSize - 1);
    session_->deliver(id, event, position);
  }

  // Any opcode but open and close, which the lifecycle steps own.
  void dispatch(rmhost::InstanceId id) {
    int32_t opcode = in_.ConsumeIntegral<int32_t>();
    if (opcode == opOpen || opcode == opClose) opcode = opResume;
    if (in_.ConsumeBool()) opcode = in_.ConsumeIntegralInRange<int32_t>(2, 14);
    if (opcode == opOpen || opcode == opClose) opcode = opResume;
    const int32_t index = in_.ConsumeIntegral<int32_t>();
    const int32_t value = in_.ConsumeIntegral<int32_t>();
    PinDescription scratch{};
    // A pin description request sometimes comes without a description to fill.
    void* pointer = opcode == opDescribePin && in_.ConsumeBool() ? &scratch : nullptr;
    // A host sets rates and block sizes in the ranges it runs at; other requests carry anything.
    if (opcode == opSetSampleRate) {
      session_->dispatch(id, opcode, index, value, pointer,
                         in_.ConsumeFloatingPointInRange(8000.0f, 192000.0f));
    } else if (opcode == opSetBlockSize) {
      session_->dispatch(id, opcode, index, in_.ConsumeIntegralInRange<int32_t>(1, 8192));
    } else {
      session_->dispatch(id, opcode, index, value, pointer, anyFloat(in_));
    }
  }

  FuzzedDataProvider& in_;
  std::unique_ptr<rmhost::Session> session_;
  int32_t group_ = 0;
  std::vector<rmhost::InstanceId> live_;
  std::vector<rmhost::InstanceId> opened_;
};

}  // namespace

// The sanitizer runtime is a shared library here, loaded after the C++ runtime that libFuzzer
// needs; that order is sound (neither defines the allocator), so the runtime's check is off.
extern "C" const char* __asan_default_options() {
  return "verify_asan_link_order=0";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string error;
  static std::unique_ptr<rmhost::Library> loaded = rmhost::Library::load(PLUGIN_PATH, &error);
  if (!loaded) {
    std::fprintf(stderr, "cannot load %s: %s\n", PLUGIN_PATH, error.c_str());
    std::abort();
  }
  library = loaded.get();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  FuzzHost host(in);
  for (int steps = 0; steps < kMaxSteps && in.remaining_bytes() > 0; ++steps) host.step();
  return 0;
}

#include "probe_module.h"

#include "rackmill/plugin.h"

namespace {

class Module : public RMModule_base {
 public:
  using RMModule_base::RMModule_base;

  ~Module() override {
    if (probe_ != nullptr) ++probe_->destroyed;
  }

  void onHostMessage(int32_t value, int32_t, void* ptr) override {
    if (value != probe::kAttachProbe) return;
    probe_ = static_cast<probe::Probe*>(ptr);
    probe_->variables = variables_;
    probe_->object = record()->object;
    probe_->switchToSecondProcess = [](void* object) {
      static_cast<Module*>(static_cast<RMModule_base*>(object))
          ->setProcessFunction(processReference<Module, &Module::second>());
    };
    probe_->countOperation = [](void* object) {
      ++static_cast<Module*>(static_cast<RMModule_base*>(object))->probe_->operationRuns;
    };
    probe_->sleepOperation = [](void* object) {
      static_cast<RMModule_base*>(object)->callHost(hostSleep);
    };
    probe_->announceOperation = [](void* object) {
      auto* m = static_cast<RMModule_base*>(object);
      m->pin(0).transmitStatus(m->sampleClock(), pinStreaming);
    };
    probe_->cloneWalkOperation = [](void* object) {
      auto* m = static_cast<Module*>(static_cast<RMModule_base*>(object));
      probe::Probe& p = *m->probe_;
      p.cloneCount = 0;
      ModuleRecord* clone = nullptr;
      m->callHost(hostFirstClone, 0, 0, &clone);
      while (clone != nullptr && p.cloneCount < 8) {
        p.cloneRecords[p.cloneCount++] = clone;
        ModuleRecord* next = nullptr;
        RMModule_base::fromRecord(clone)->callHost(hostNextClone, 0, 0, &next);
        clone = next;
      }
    };
    const ProcessReference first = processReference<Module, &Module::first>();
    probe_->firstProcessAddress = first.address;
    probe_->firstProcess = reinterpret_cast<ProcessEntry>(first.address);
    probe_->secondProcess =
        reinterpret_cast<ProcessEntry>(processReference<Module, &Module::second>().address);
    probe_->install = [](void* object, void* address, int32_t a0, int32_t a1, int32_t a2) {
      static_cast<RMModule_base*>(object)->setProcessFunction(
          ProcessReference{address, {a0, a1, a2}});
    };
  }

  void open() override {
    setProcessFunction(processReference<Module, &Module::first>());
    opening_ = true;
    RMModule_base::open();
    opening_ = false;
  }

  void close() override {
    if (probe_ != nullptr) ++probe_->closeCalls;
  }

  bool describePin(int32_t index, PinDescription* d) override {
    if (probe_ == nullptr) return false;
    if (opening_ && probe_->describeCallCount < probe::kMaxCalls) {
      probe_->describeCalls[probe_->describeCallCount++] = index;
    }
    if (index < 0 || index >= probe_->descriptionCount) return false;
    *d = probe_->descriptions[index];
    if (d->variable == probe::kModuleVariable) d->variable = &variables_[index];
    return true;
  }

  void onPinStatus(RMPin& pin) override {
    if (probe_ == nullptr) return;
    ++probe_->pinStatusCalls;
    probe_->lastPinIndex = pin.index;
    probe_->statusSeen = pin.status;
    if (pin.datatype == dtAudio) probe_->valueSeen = pin.valueNow();
  }

  void resume() override {
    if (probe_ != nullptr) ++probe_->resumeCalls;
  }
  void resumeIndex(int32_t index) override {
    if (probe_ != nullptr) probe_->resumeIndexSeen = index;
  }
  void onDataEvent(int32_t, int32_t, uint16_t) override {
    if (probe_ != nullptr) ++probe_->dataEvents;
  }

 private:
  // Writes the run's positions into pin 0's buffer when pin 0 is an output: 1 from the first
  // function, 2 from the second.
  void first(int32_t offset, int32_t frames) { fill(offset, frames, 1.0f); }
  void second(int32_t offset, int32_t frames) { fill(offset, frames, 2.0f); }
  void fill(int32_t offset, int32_t frames, float value) {
    if (pinCount() == 0 || pin(0).datatype != dtAudio) return;
    if (probe_ != nullptr && probe_->descriptions[0].direction != dirOutput) return;
    float* out = *static_cast<float**>(pin(0).variable);
    for (int32_t i = 0; i < frames; ++i) out[offset + i] = value;
  }

  probe::Probe* probe_ = nullptr;
  bool opening_ = false;
  alignas(8) unsigned char variables_[probe::kMaxPins][8] = {};
};

}  // namespace

const rm::PluginIdentity rm::pluginIdentity{"probe", "Probe Module", "framework tests"};

RMModule_base* rm::createPluginModule(HostCallback callback, int32_t hostValue) noexcept {
  return rm::createModule<Module>(callback, hostValue);
}

// RMModule_base and RMPin: the C++ side of the host interface that every module derives from.
#pragma once

#include <cstdint>

#include "rackmill/abi.h"
#include "rackmill/fp_guard.h"

class RMModule_base;

// One pin of a module: where its value lives, its status, and the calls a module makes on it.
class RMPin {
 public:
  RMPin() = default;
  RMPin(const RMPin&) = delete;
  RMPin& operator=(const RMPin&) = delete;
  virtual ~RMPin() = default;

  // Binds the pin. A null variable points the pin at its own storage, filled by data type
  // (an audio pin asks the host for its buffer); types without own storage keep variable null.
  void init(RMModule_base* owner, int32_t pinIndex, int32_t type, void* var) noexcept;

  // Records a new status and tells the module; a one-off status reads 0 again afterwards.
  void onStatusChange(int32_t newStatus) noexcept;

  // Announces an output's status to the host, applying from sample clock `clock`.
  void transmitStatus(int32_t clock, int32_t newStatus) noexcept;

  // The sample of this audio pin's buffer at the current sample clock.
  float valueNow() const noexcept;

  // True once init has bound the pin.
  bool isSetUp() const noexcept { return module != nullptr; }

  void* variable = nullptr;
  RMModule_base* module = nullptr;
  int32_t index = 0;
  int32_t status = pinStatic;
  int32_t datatype = 0;
  union Storage {
    int16_t list;
    uint8_t byte;
    int32_t word;
    float* buffer;
  } storage{};
};

// Base class of every module instance. Holds the host-facing record and the pin table, turns the
// record's entries into virtual calls, and gives every operation a do-nothing default.
class RMModule_base {
 public:
  RMModule_base(HostCallback callback, int32_t hostValue) noexcept;
  RMModule_base(const RMModule_base&) = delete;
  RMModule_base& operator=(const RMModule_base&) = delete;

  // Virtual operations in slot order.
  virtual ~RMModule_base();                      // 0
  virtual void onPinStatus(RMPin& pin);          // 1
  virtual void handleEvent(ModuleEvent* event);  // 2
  virtual intptr_t dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr,
                            float opt);                                         // 3
  virtual void open();                                                          // 4
  virtual void close();                                                         // 5
  virtual void spareNotify(int32_t a, int32_t b);                               // 6
  virtual void setSampleRate(float rate);                                       // 7
  virtual void setBlockSize(int32_t size);                                      // 8
  virtual float getSampleRate();                                                // 9
  virtual int32_t getBlockSize();                                               // 10
  virtual bool describePin(int32_t index, PinDescription* description);         // 11
  virtual bool spareQueryA(int32_t value);                                      // 12
  virtual bool spareQueryB(int32_t value);                                      // 13
  virtual void resume();                                                        // 14
  virtual void resumeIndex(int32_t index);                                      // 15
  virtual void onDataEvent(int32_t first, int32_t value, uint16_t shortValue);  // 16
  virtual void onHostMessage(int32_t value, int32_t index, void* ptr);          // 17

  // Calls the host, in the host's floating-point environment; answers 0 without a callback.
  intptr_t callHost(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
                    float opt = 0.0f) noexcept;
  // The host's current sample clock.
  int32_t sampleClock() noexcept;
  // Pin `index` of the table; callers pass indexes below pinCount().
  RMPin& pin(int32_t index) noexcept { return pins_[index]; }
  int32_t pinCount() const noexcept { return pinCount_; }
  // Installs a process function, keeping the record and the host informed.
  void setProcessFunction(const ProcessReference& reference) noexcept;
  const ProcessReference& processFunction() const noexcept { return process_; }

  // Called first in every guarded entry: callbacks from here on run in the host's environment.
  void enteredFrom(const rm::FpGuard& guard) noexcept {
    hostFp_ = guard.host();
    hostFpKnown_ = true;
  }

  ModuleRecord* record() noexcept { return &record_; }
  static RMModule_base* fromRecord(ModuleRecord* record) noexcept {
    return static_cast<RMModule_base*>(record->object);
  }

 private:
  HostCallback callback_;
  ModuleRecord record_;
  RMPin* pins_ = nullptr;
  ProcessReference process_;
  int32_t pinCount_ = 0;
  // The host's environment at the latest entry (a nested entry, made from inside a callback,
  // sees the host's environment of that callback, which is the same).
  rm::FpState hostFp_{};
  bool hostFpKnown_ = false;
};

// The process function every module starts with: it leaves all buffers untouched.
void RM_CALL emptyProcess(void* object, int32_t offset, int32_t frames) noexcept;

// The reference to emptyProcess, installed by a module that must render nothing.
inline ProcessReference emptyProcessReference() noexcept {
  return ProcessReference{reinterpret_cast<void*>(&emptyProcess), {0, 0, 0}};
}

// Builds a ProcessReference for member function F of module class M. The host calls the stored
// address as a plain ProcessEntry with the module object; the thunk turns that into the call.
template <class M, void (M::*F)(int32_t, int32_t)>
void RM_CALL processThunk(void* object, int32_t offset, int32_t frames) noexcept {
  const rm::FpGuard fp;
  RMModule_base* module = static_cast<RMModule_base*>(object);
  module->enteredFrom(fp);
  (static_cast<M*>(module)->*F)(offset, frames);
}

template <class M, void (M::*F)(int32_t, int32_t)>
ProcessReference processReference() noexcept {
  return ProcessReference{reinterpret_cast<void*>(&processThunk<M, F>), {0, 0, 0}};
}

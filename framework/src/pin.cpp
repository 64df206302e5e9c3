#include "rackmill/module_base.h"

void RMPin::init(RMModule_base* owner, int32_t pinIndex, int32_t type, void* var) noexcept {
  module = owner;
  index = pinIndex;
  datatype = type;
  status = pinStatic;
  storage = Storage{};
  variable = var;
  if (var != nullptr) return;

  switch (type) {
    case dtList:
      storage.list = 0;
      variable = &storage.list;
      break;
    case dtByte:
      storage.byte = 0;
      variable = &storage.byte;
      break;
    case dtAudio:
      storage.buffer = reinterpret_cast<float*>(owner->callHost(hostPinBuffer, pinIndex));
      variable = &storage.buffer;
      break;
    case dtWord32:
    case dtInteger:
      storage.word = 0;
      variable = &storage.word;
      break;
    default:
      // Other types have no own storage: the module must name a variable for them.
      break;
  }
}

void RMPin::onStatusChange(int32_t newStatus) noexcept {
  status = newStatus;
  module->onPinStatus(*this);
  if (newStatus == pinOneOff) status = pinStatic;
}

void RMPin::transmitStatus(int32_t clock, int32_t newStatus) noexcept {
  module->callHost(hostOutputStatus, index, newStatus,
                   reinterpret_cast<void*>(static_cast<intptr_t>(clock)));
}

float RMPin::valueNow() const noexcept {
  const float* buffer = *static_cast<float* const*>(variable);
  const intptr_t position =
      static_cast<intptr_t>(module->sampleClock()) - module->callHost(hostPinBlockStart, index);
  return buffer[position];
}

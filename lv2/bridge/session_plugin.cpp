#include "bridge/session_plugin.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace rmlv2 {

SessionPlugin::SessionPlugin(HostContext context)
    : context_(std::move(context)), ports_(context_.layout.ports.size(), nullptr) {}

// The session closes its instances before the libraries go.
SessionPlugin::~SessionPlugin() {
  session_.reset();
}

void SessionPlugin::connect(uint32_t port, void* data) noexcept {
  if (port < ports_.size()) ports_[port] = data;
}

void SessionPlugin::activate() {
  if (fresh_) return;
  ready_ = false;
  feeds_.clear();
  session_.reset();
  rmhost::SessionConfig config;
  config.sampleRate = static_cast<float>(context_.sampleRate);
  config.blockSize = kMaxBlock;
  config.logRequests = false;
  config.eventCapacity = kEventCapacity;
  session_ = std::make_unique<rmhost::Session>(config);
  build();
  fresh_ = true;
  ready_ = true;
}

void SessionPlugin::run(uint32_t frames) noexcept {
  fresh_ = false;
  done_ = 0;
  if (ready_) {
    render(frames);
    return;
  }
  for (const Port& port : context_.layout.ports) {
    const bool output = port.type == PortType::audioOut || port.type == PortType::cvOut;
    auto* buffer = static_cast<float*>(ports_[port.index]);
    if (output && buffer != nullptr) std::fill(buffer, buffer + frames, 0.0f);
  }
}

rmhost::InstanceId SessionPlugin::create(rmhost::Library& library, int32_t group) {
  const rmhost::InstanceId id = session_->create(library, group);
  if (id < 0) throw std::runtime_error(library.path() + " made no instance");
  return id;
}

void SessionPlugin::feedControls(Module module, const std::vector<rmhost::InstanceId>& targets,
                                 int32_t exceptPin) {
  for (const Port& port : context_.layout.ports) {
    if (port.role != Role::modulePin || port.module != module || port.pin == exceptPin) continue;
    ControlFeed feed{&port, targets, port.defaultValue};
    for (rmhost::InstanceId id : targets) session_->setInitial(id, port.pin, port.defaultValue);
    feeds_.push_back(std::move(feed));
  }
}

float SessionPlugin::control(const Port& port) const noexcept {
  const auto* value = static_cast<const float*>(ports_[port.index]);
  return port.clamp(value != nullptr ? *value : port.defaultValue);
}

void SessionPlugin::applyControls(int64_t clock) noexcept {
  for (ControlFeed& feed : feeds_) {
    const float value = control(*feed.port);
    if (value == feed.applied) continue;
    feed.applied = value;
    for (rmhost::InstanceId id : feed.targets) session_->setValue(id, feed.port->pin, value, clock);
  }
}

}  // namespace rmlv2

// The plug-in of any module library: one instance of the module in a session of its own. Audio
// and CV input ports stream into their pins sample by sample, controls become pin changes at the
// start of each run, output pins are copied to their ports.
#include <algorithm>

#include "bridge/plugins.h"

namespace rmlv2 {

namespace {

class ModulePlugin final : public SessionPlugin {
 public:
  using SessionPlugin::SessionPlugin;

 private:
  struct Output {
    const Port* port = nullptr;
    const float* signal = nullptr;  // the module's block buffer
  };

  void build() override {
    instance_ = create(*context_.module, session_->addGroup());
    feedControls(Module::single, {instance_});
    outputs_.clear();
    session_->open(instance_);
    for (const Port& port : context_.layout.ports) {
      if (port.role != Role::signalIn) continue;
      session_->setStream(
          instance_, port.pin,
          [this, index = port.index](int64_t clock, float* out, int32_t count) {
            const auto* in = static_cast<const float*>(ports_[index]);
            if (in == nullptr) {
              std::fill(out, out + count, 0.0f);
              return;
            }
            in += clock - runStart_;
            for (int32_t i = 0; i < count; ++i) out[i] = finiteOrZero(in[i]);
          },
          0);
    }
    for (const Port& port : context_.layout.ports) {
      if (port.role == Role::signalOut) {
        outputs_.push_back({&port, session_->buffer(instance_, port.pin)});
      }
    }
  }

  void render(uint32_t frames) noexcept override {
    runStart_ = session_->clock();
    applyControls(runStart_);
    renderFrames(frames, [this](uint32_t at, int32_t count) {
      for (const Output& output : outputs_) {
        auto* out = static_cast<float*>(ports_[output.port->index]);
        if (out == nullptr) continue;
        for (int32_t i = 0; i < count; ++i) out[at + i] = finiteOrZero(output.signal[i]);
      }
    });
  }

  rmhost::InstanceId instance_ = -1;
  std::vector<Output> outputs_;
  int64_t runStart_ = 0;
};

}  // namespace

std::unique_ptr<SessionPlugin> makeModulePlugin(HostContext context) {
  return std::make_unique<ModulePlugin>(std::move(context));
}

}  // namespace rmlv2

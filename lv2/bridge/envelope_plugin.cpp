// vellum alone: a CV gate in, the envelope as CV out, every other pin a control.
//
// The module reads its gate only for edges, at a threshold of 1e-7 within a process call, but
// also takes any change of value at the start of a call for an edge, and restarts its LFO from
// the start of the call that holds a rise. Fed the host's CV as it is, its sound would follow the
// host's run lengths. So the gate reaches it as value changes at the crossings of that threshold
// (1 above, 0 below): each edge falls at the start of a call, whatever the runs.
#include "bridge/plugins.h"

namespace rmlv2 {

namespace {

constexpr float kGateThreshold = 1e-7f;

class EnvelopePlugin final : public SessionPlugin {
 public:
  using SessionPlugin::SessionPlugin;

 private:
  void render(uint32_t frames) noexcept override {
    const int64_t start = session_->clock();
    applyControls(start);
    const float* gate = port<const float>(Role::gateCv);
    out_ = port<float>(Role::envelopeCv);
    for (uint32_t i = 0; i < frames; ++i) {
      const bool high = gate != nullptr && gate[i] >= kGateThreshold;
      if (high == high_) continue;
      if (session_->pendingEvents(envelope_) >= kFlushAt) renderTo(i);
      session_->setValue(envelope_, gatePin_, high ? 1.0 : 0.0, start + i);
      high_ = high;
    }
    renderTo(frames);
  }

  void renderTo(uint32_t until) noexcept {
    renderFrames(until, [this](uint32_t at, int32_t frames) {
      for (int32_t i = 0; i < frames; ++i) out_[at + i] = finiteOrZero(signal_[i]);
    });
  }

  void build() override {
    gatePin_ = context_.layout.find(Role::gateCv)->pin;
    envelope_ = create(*context_.vellum, session_->addGroup());
    feedControls(Module::vellum, {envelope_});
    session_->setInitial(envelope_, gatePin_, 0.0);
    session_->open(envelope_);
    signal_ = session_->buffer(envelope_, context_.layout.find(Role::envelopeCv)->pin);
    high_ = false;
  }

  rmhost::InstanceId envelope_ = -1;
  int32_t gatePin_ = -1;
  const float* signal_ = nullptr;
  float* out_ = nullptr;
  bool high_ = false;
};

}  // namespace

std::unique_ptr<SessionPlugin> makeEnvelopePlugin(HostContext context) {
  return std::make_unique<EnvelopePlugin>(std::move(context));
}

}  // namespace rmlv2

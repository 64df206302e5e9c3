// swarm alone, one voice: CV gate, sync and pitch in, stereo out, every other pin a control.
//
// The module starts a note when its sync pin is updated to a value above 0.1 and releases the
// voice when a block starts with the gate at 0, so gate and sync reach it as value changes at
// their edges (exact frames), not as streams. The pitch streams; the module reads it at the
// note's start.
#include <algorithm>
#include <cmath>

#include "bridge/plugins.h"

namespace rmlv2 {

namespace {

class OscillatorPlugin final : public SessionPlugin {
 public:
  using SessionPlugin::SessionPlugin;

 private:
  void render(uint32_t frames) noexcept override {
    const int64_t start = session_->clock();
    runStart_ = start;
    pitchIn_ = port<const float>(Role::pitchCv);
    applyControls(start);
    const float* gate = port<const float>(Role::gateCv);
    const float* sync = port<const float>(Role::syncCv);
    const bool syncFromGate = control(*context_.layout.find(Role::syncFromGate)) >= 0.5f;
    left_ = port<float>(Role::audioLeft);
    right_ = port<float>(Role::audioRight);
    for (uint32_t i = 0; i < frames; ++i) {
      const bool gateUp = gate != nullptr && gate[i] > 0.0f;
      if (gateUp && !gateUp_) pulseLeft_ = pulse_;
      const bool syncUp = (sync != nullptr && sync[i] > 0.1f) || (syncFromGate && pulseLeft_ > 0);
      if (pulseLeft_ > 0) --pulseLeft_;
      if (gateUp == gateUp_ && syncUp == syncUp_) continue;
      if (session_->pendingEvents(oscillator_) >= kFlushAt) renderTo(i);
      if (gateUp != gateUp_)
        session_->setValue(oscillator_, gatePin_, gateUp ? 1.0 : 0.0, start + i);
      if (syncUp != syncUp_)
        session_->setValue(oscillator_, syncPin_, syncUp ? 1.0 : 0.0, start + i);
      gateUp_ = gateUp;
      syncUp_ = syncUp;
    }
    renderTo(frames);
  }

  void build() override {
    const HostContext& c = context_;
    gatePin_ = c.layout.find(Role::gateCv)->pin;
    syncPin_ = c.layout.find(Role::syncCv)->pin;
    const int32_t pitchPin = c.layout.find(Role::pitchCv)->pin;
    oscillator_ = create(*context_.swarm, session_->addGroup());
    feedControls(Module::swarm, {oscillator_});
    session_->setInitial(oscillator_, gatePin_, 0.0);
    session_->setInitial(oscillator_, syncPin_, 0.0);
    session_->open(oscillator_);
    session_->setStream(
        oscillator_, pitchPin,
        [this](int64_t clock, float* out, int32_t count) {
          const float* in = pitchIn_ != nullptr ? pitchIn_ + (clock - runStart_) : nullptr;
          for (int32_t i = 0; i < count; ++i) out[i] = in != nullptr ? safePitch(in[i]) : 0.0f;
        },
        0);
    outLeft_ = session_->buffer(oscillator_, session_->findPin(oscillator_, "outputl"));
    outRight_ = session_->buffer(oscillator_, session_->findPin(oscillator_, "outputr"));
    pulse_ = std::max<int32_t>(1, static_cast<int32_t>(std::lround(0.001 * c.sampleRate)));
    gateUp_ = syncUp_ = false;
    pulseLeft_ = 0;
  }

  // Pitch in the module's units (0.1 per octave, 0.5 = 440 Hz), kept within the audible range.
  static float safePitch(float value) noexcept {
    return std::clamp(finiteOrZero(value), -0.5f, 1.2f);
  }

  // Renders the run's frames up to `until` (exclusive).
  void renderTo(uint32_t until) noexcept {
    renderFrames(until, [this](uint32_t at, int32_t frames) {
      for (int32_t i = 0; i < frames; ++i) {
        left_[at + i] = finiteOrZero(outLeft_[i]);
        right_[at + i] = finiteOrZero(outRight_[i]);
      }
    });
  }

  rmhost::InstanceId oscillator_ = -1;
  int32_t gatePin_ = -1;
  int32_t syncPin_ = -1;
  const float* outLeft_ = nullptr;
  const float* outRight_ = nullptr;
  float* left_ = nullptr;
  float* right_ = nullptr;
  const float* pitchIn_ = nullptr;
  int64_t runStart_ = 0;
  int32_t pulse_ = 1;
  int32_t pulseLeft_ = 0;
  bool gateUp_ = false;
  bool syncUp_ = false;
};

}  // namespace

std::unique_ptr<SessionPlugin> makeOscillatorPlugin(HostContext context) {
  return std::make_unique<OscillatorPlugin>(std::move(context));
}

}  // namespace rmlv2

// What the bundle's plug-ins share: the module libraries loaded from the bundle, a session
// made afresh at each activation, the host's port buffers and the controls fed to module pins.
#pragma once

#include <lv2/log/logger.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "layout/ports.h"
#include "rmhost/library.h"
#include "rmhost/session.h"

namespace rmlv2 {

// Largest session block; longer host runs are split into blocks of at most this many frames.
inline constexpr int32_t kMaxBlock = 256;
// Pending pin changes an instance can hold without allocating. A plug-in renders what it can
// before it takes more once kFlushAt changes wait (CV plug-ins) or kFlushAt MIDI messages came
// since it last rendered (the instrument: a message gives a voice a few changes at most), so the
// queues stay far below the capacity.
inline constexpr int32_t kEventCapacity = 1024;
inline constexpr int32_t kFlushAt = 64;

// What instantiate received and loaded.
struct HostContext {
  double sampleRate = 0.0;
  LV2_URID_Map* map = nullptr;
  LV2_Log_Logger logger{};
  std::unique_ptr<rmhost::Library> swarm;  // our plug-ins
  std::unique_ptr<rmhost::Library> vellum;
  std::unique_ptr<rmhost::Library> module;  // the plug-in of a module library
  Plugin layout;
};

class SessionPlugin {
 public:
  explicit SessionPlugin(HostContext context);
  virtual ~SessionPlugin();
  SessionPlugin(const SessionPlugin&) = delete;
  SessionPlugin& operator=(const SessionPlugin&) = delete;

  void connect(uint32_t port, void* data) noexcept;
  // Builds a fresh session: every instance, voice list and tail starts from scratch. A session
  // that has not run yet is fresh already and kept.
  void activate();
  // Renders the run, or silence while no session is ready (an activation failed).
  void run(uint32_t frames) noexcept;
  // Voices heard in the latest run (the instrument); -1 for plug-ins without voices.
  virtual int32_t voicesHeard() const noexcept { return -1; }

 protected:
  // A control port feeding one pin of some instances.
  struct ControlFeed {
    const Port* port = nullptr;
    std::vector<rmhost::InstanceId> targets;
    float applied = 0.0f;  // the value the pins hold
  };

  // Creates the instances of a fresh session (called by activate, session already made).
  virtual void build() = 0;
  virtual void render(uint32_t frames) noexcept = 0;
  rmhost::InstanceId create(rmhost::Library& library, int32_t group);
  // Sends the controls of a module's pins (but `exceptPin`) to `targets` from now on; the pins
  // start at the controls' defaults.
  void feedControls(Module module, const std::vector<rmhost::InstanceId>& targets,
                    int32_t exceptPin = -1);
  // Changed controls become pin changes at `clock`.
  void applyControls(int64_t clock) noexcept;
  float control(const Port& port) const noexcept;
  template <class T>
  T* port(Role role) const noexcept {
    const Port* p = context_.layout.find(role);
    return p == nullptr ? nullptr : static_cast<T*>(ports_[p->index]);
  }
  // Runs the session on to frame `until` of the current run, in blocks of at most kMaxBlock;
  // after each block, takeOutput(frame, frames) copies what the modules wrote there.
  template <class TakeOutput>
  void renderFrames(uint32_t until, TakeOutput&& takeOutput) noexcept {
    while (done_ < until) {
      const auto block = static_cast<int32_t>(std::min<uint32_t>(until - done_, kMaxBlock));
      session_->runBlock(block);
      takeOutput(done_, block);
      done_ += static_cast<uint32_t>(block);
    }
  }

  HostContext context_;
  std::vector<void*> ports_;
  std::unique_ptr<rmhost::Session> session_;
  std::vector<ControlFeed> feeds_;
  uint32_t done_ = 0;   // frames of the current run rendered so far
  bool fresh_ = false;  // built and not run since
  bool ready_ = false;  // the session is complete
};

// Replaces anything that is not a finite number by silence: the last guard of every output.
inline float finiteOrZero(float value) noexcept {
  return value - value == 0.0f ? value : 0.0f;
}

}  // namespace rmlv2

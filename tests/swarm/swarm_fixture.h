// Shared set-up of the swarm tests: the plug-in loaded by the stand-in host, a clone group of
// voices, and a view of the instances the plug-in made.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "loaded_library.h"
#include "rmhost/session.h"
#include "swarm/module.h"
#include "swarm/pins.h"

namespace swarm_test {

namespace pins = swarm::pins;
namespace dsp = swarm::dsp;

inline rmhost::Library& swarmLibrary() {
  return loadedLibrary(SWARM_PATH);
}

inline swarm::Module& moduleOf(const rmhost::Session& session, rmhost::InstanceId id) {
  return *static_cast<swarm::Module*>(static_cast<RMModule_base*>(session.record(id)->object));
}

struct PinValue {
  int32_t pin;
  double value;
};

// One clone group of `count` voices, every pin at its default unless `initial` says otherwise.
// All clones exist before the first opens, so that they share one voice list.
class Voices {
 public:
  explicit Voices(int count, std::vector<PinValue> initial = {}, rmhost::SessionConfig config = {})
      : session(config), group(session.addGroup()) {
    for (int i = 0; i < count; ++i) ids.push_back(create(initial));
    for (rmhost::InstanceId id : ids) session.open(id);
    session.clearRequests();
  }

  // Creates one more clone of the group, not yet opened.
  rmhost::InstanceId create(const std::vector<PinValue>& initial) {
    const rmhost::InstanceId id = session.create(swarmLibrary(), group);
    for (const PinValue& p : initial) session.setInitial(id, p.pin, p.value);
    return id;
  }
  rmhost::InstanceId add(const std::vector<PinValue>& initial) {
    const rmhost::InstanceId id = create(initial);
    session.open(id);
    return id;
  }

  swarm::Module& operator[](size_t voice) const { return moduleOf(session, ids[voice]); }

  void set(size_t voice, int32_t pin, double value, int64_t clock) {
    session.setValue(ids[voice], pin, value, clock);
  }
  // A note: "sync" updated to a higher value than ever before, which is a note-on and a rising
  // edge at the same sample (renderFast does not follow "sync", so a dip to 0 while a voice
  // sounds would go unseen).
  void note(size_t voice, int64_t clock) {
    syncLevel += 1.0;
    set(voice, pins::sync, syncLevel, clock);
  }
  // Opens the gate and plays a note at `clock`.
  void play(size_t voice, int64_t clock) {
    set(voice, pins::gate, 1.0, clock);
    note(voice, clock);
  }
  void run(int blocks) {
    for (int i = 0; i < blocks; ++i) session.runBlock();
  }
  // The requests of one voice with the given opcode.
  std::vector<rmhost::Request> requests(size_t voice, int32_t opcode) const {
    std::vector<rmhost::Request> out;
    for (const rmhost::Request& r : session.requests()) {
      if (r.instance == ids[voice] && r.opcode == opcode) out.push_back(r);
    }
    return out;
  }
  const float* out(size_t voice, int32_t pin) const { return session.buffer(ids[voice], pin); }

  rmhost::Session session;
  int32_t group;
  double syncLevel = 0.0;
  std::vector<rmhost::InstanceId> ids;
};

}  // namespace swarm_test

#include "scenarios.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>

#include "rmhost/session.h"

namespace platform_test {
namespace {

using Pins = std::map<std::string, double>;

rmhost::Library& library(const std::string& path) {
  static std::map<std::string, std::unique_ptr<rmhost::Library>> loaded;
  std::unique_ptr<rmhost::Library>& entry = loaded[path];
  if (!entry) {
    std::string error;
    entry = rmhost::Library::load(path, &error);
    if (!entry) throw std::runtime_error(error);
  }
  return *entry;
}

struct Rig {
  Rig(const std::string& path, int voices, const Pins& initial)
      : session(rmhost::SessionConfig{48000.0f, 256}) {
    const int32_t group = session.addGroup();
    for (int i = 0; i < voices; ++i) {
      ids.push_back(session.create(library(path), group));
      for (const auto& [name, value] : initial) session.setInitial(ids.back(), pin(name), value);
    }
    for (rmhost::InstanceId id : ids) session.open(id);
  }

  int32_t pin(const std::string& name) const {
    const int32_t index = session.findPin(ids.front(), name);
    if (index < 0) throw std::runtime_error("no pin " + name);
    return index;
  }
  void set(size_t voice, const std::string& name, double value, int64_t clock) {
    session.setValue(ids[voice], pin(name), value, clock);
  }
  // Runs blocks and collects every output pin of every instance.
  void run(int blocks, std::vector<float>& out) {
    const int32_t size = session.config().blockSize;
    for (int b = 0; b < blocks; ++b) {
      session.runBlock();
      for (rmhost::InstanceId id : ids) {
        for (const rmhost::PinInfo& p : session.pins(id)) {
          if (p.direction != dirOutput) continue;
          const float* block = session.buffer(id, p.index);
          out.insert(out.end(), block, block + size);
        }
      }
    }
  }

  rmhost::Session session;
  std::vector<rmhost::InstanceId> ids;
};

int blocks(int full, double length) {
  return static_cast<int>(full * length);
}

// Envelopes with every curve form, the LFO in each variant and both output laws.
std::vector<float> vellumShapes(const std::string& path, double length) {
  std::vector<float> out;
  for (int variant = 0; variant < 5; ++variant) {
    Rig rig(path, 1,
            {{"Gate", 0},
             {"Attack", 3.5},
             {"Hold", 1},
             {"Decay", 4.2},
             {"Sustain", 6},
             {"Release", 5.1},
             {"Overall Level", 7},
             {"AttackForm", variant * 0.9 - 2},
             {"DecayForm", 1.7 - variant},
             {"ReleaseForm", variant * 0.6},
             {"LfoAmt", 3.3},
             {"LfoFreq", 6.5},
             {"LfoPhase", 2.5},
             {"LfoAlign", variant},
             {"dbmode", variant % 2}});
    rig.set(0, "Gate", 1.0, 100);
    rig.set(0, "Gate", 0.0, 30000);
    rig.set(0, "Gate", 0.8, 52345);
    rig.set(0, "Gate", 0.0, 70001);
    rig.run(blocks(400, length), out);
  }
  return out;
}

// Swarm voices playing notes: a rich bank of `oscs` oscillators per voice.
std::vector<float> swarmNotes(const std::string& path, int voices, double oscs, double length) {
  std::vector<float> out;
  Rig rig(path, voices,
          {{"oscs", oscs},
           {"N", 20},
           {"fc_1", 0.4},
           {"fm1_1", 0.3},
           {"a_1", 0.7},
           {"a_2", 0.5},
           {"pitchspread", 0.01},
           {"Wave_1", 0.3},
           {"phasespread", 0.2},
           {"poly", voices}});
  double sync = 0.0;
  for (int v = 0; v < voices; ++v) {
    const int64_t at = 64 + 3000 * v;
    rig.set(v, "fc_1", 0.25 + 0.11 * v, at);
    rig.set(v, "gate", 1.0, at);
    rig.set(v, "sync", sync += 1.0, at);
  }
  rig.set(0, "gate", 0.0, 40000);
  rig.run(blocks(300, length), out);
  return out;
}

}  // namespace

const std::vector<Scenario>& scenarios() {
  static const std::vector<Scenario> all{{"vellum-shapes", "vellum", true},
                                         {"swarm-small", "swarm", true},
                                         {"swarm-200", "swarm", false}};
  return all;
}

std::vector<float> render(const Scenario& scenario, const std::string& libraryPath, double length) {
  if (scenario.name == "vellum-shapes") return vellumShapes(libraryPath, length);
  if (scenario.name == "swarm-small") return swarmNotes(libraryPath, 2, 4, length);
  if (scenario.name == "swarm-200") return swarmNotes(libraryPath, 3, 200, length);
  throw std::runtime_error("no scenario " + scenario.name);
}

std::string libraryFile(const std::string& plugin) {
#ifdef _WIN32
  return plugin + ".dll";
#else
  return "lib" + plugin + ".so";
#endif
}

}  // namespace platform_test

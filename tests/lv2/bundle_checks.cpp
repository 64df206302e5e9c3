#include "bundle_checks.h"

#include <cmath>
#include <limits>
#include <random>

#include "rmhost/alloc_counter.h"

namespace lv2test {

namespace {

constexpr float kHostile[] = {std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(), 1e30f, -1e30f};

// Plays `frames` frames in runs of random lengths from 0 to 600 with noise on every audio and
// CV input; answers the outputs, one after the other. `change` may set controls between runs.
template <class Change>
std::vector<float> play(Instance& plugin, uint32_t seed, int64_t frames, Change change,
                        bool watched) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
  std::vector<float> out;
  for (int64_t done = 0; done < frames;) {
    const uint32_t n = std::min<uint32_t>(random() % 601, static_cast<uint32_t>(frames - done));
    change(done);
    for (const PortInfo& port : plugin.ports()) {
      if (port.input && (port.audio || port.cv)) {
        float* in = plugin.buffer(port.symbol);
        for (uint32_t i = 0; i < n; ++i) in[i] = noise(random);
      }
    }
    plugin.run(n, watched);
    for (const PortInfo& port : plugin.ports()) {
      if (!port.input && (port.audio || port.cv)) {
        out.insert(out.end(), plugin.buffer(port.symbol), plugin.buffer(port.symbol) + n);
      }
    }
    done += n;
  }
  return out;
}

bool allFinite(const std::vector<float>& samples) {
  for (float s : samples)
    if (!std::isfinite(s)) return false;
  return true;
}

}  // namespace

std::vector<std::string> checkBundlePlugin(World& world, const std::string& uri) {
  std::vector<std::string> failures;
  auto fail = [&](const std::string& what) { failures.push_back(uri + ": " + what); };
  const auto nothing = [](int64_t) {};
  for (double rate : {22050.0, 48000.0, 192000.0}) {
    Instance plugin(world, uri, rate);
    if (!plugin.ok()) {
      fail("refused to instantiate at " + std::to_string(rate) + " Hz: " + world.log());
      return failures;
    }
    if (!allFinite(play(plugin, 1, 20000, nothing, false))) fail("output not finite");
  }
  // Every control at each hostile value, then all of them at once.
  Instance probe(world, uri, 48000);
  for (const PortInfo& port : probe.ports()) {
    if (!port.control || !port.input) continue;
    for (float value : kHostile) {
      Instance plugin(world, uri, 48000);
      plugin.control(port.symbol) = value;
      if (!allFinite(play(plugin, 2, 3000, nothing, false))) {
        fail("output not finite with " + port.symbol + " = " + std::to_string(value));
      }
    }
  }
  // Controls moving between runs, counted for heap operations in run().
  if (rmhost::allocationCounterWorks()) {
    Instance plugin(world, uri, 48000);
    rmhost::armAllocationCounter(true);
    play(
        plugin, 3, 40000,
        [&](int64_t done) {
          for (const PortInfo& port : plugin.ports()) {
            if (port.control && port.input) {
              const float span = port.maximum - port.minimum;
              plugin.control(port.symbol) = port.minimum + span * static_cast<float>(done % 7) / 6;
            }
          }
        },
        true);
    const rmhost::AllocationCounts counts = rmhost::audioPathHeapOperations();
    rmhost::armAllocationCounter(false);
    if (counts.total() != 0) fail(std::to_string(counts.total()) + " heap operations in run()");
  }
  // A fresh activation plays as a fresh instance.
  Instance fresh(world, uri, 48000);
  Instance reused(world, uri, 48000);
  play(reused, 4, 7000, nothing, false);
  reused.deactivate();
  reused.activate();
  if (play(fresh, 5, 7000, nothing, false) != play(reused, 5, 7000, nothing, false)) {
    fail("after deactivate and activate the output differs from a fresh instance's");
  }
  return failures;
}

}  // namespace lv2test

// renderFast of one swarm voice through the stand-in host: 200 oscillators with "N" 50, on the
// paired and the single path, in ns per oscillator-sample; also counts the heap allocations the
// voice makes per block, frees included (expected: none).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "rmhost/alloc_counter.h"
#include "rmhost/session.h"
#include "swarm/module.h"
#include "swarm/pins.h"

namespace {

constexpr int32_t kBlock = 1024;
constexpr int32_t kOscillators = 200;

rmhost::Library& swarmLibrary() {
  static std::unique_ptr<rmhost::Library> library = rmhost::Library::load(SWARM_PATH, nullptr);
  return *library;
}

void renderFast(benchmark::State& state, bool paired) {
  namespace pins = swarm::pins;
  rmhost::Session session({48000.0f, kBlock, -1, false});
  const rmhost::InstanceId id = session.create(swarmLibrary(), session.addGroup());
  for (auto [pin, value] : {std::pair{pins::oscs, 200.0},
                            {pins::partials, 50.0},
                            {pins::fc1, 0.45},
                            {pins::fm1, 0.5},
                            {pins::a1, 0.8},
                            {pins::pitchSpread, 0.001},
                            {pins::gate, 1.0}}) {
    session.setInitial(id, pin, value);
  }
  auto* module =
      static_cast<swarm::Module*>(static_cast<RMModule_base*>(session.record(id)->object));
  module->vectorPathAvailable = paired;
  session.open(id);
  session.setValue(id, pins::sync, 1.0, 0);
  session.runBlock();  // note-on and retune; renderFast serves from here on
  session.runBlock();

  rmhost::armAllocationCounter(true);
  for (auto _ : state) {
    session.process(id, 0, kBlock);
    benchmark::DoNotOptimize(session.buffer(id, pins::outputL)[kBlock - 1]);
  }
  const double blocks = static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations() * kBlock * kOscillators);
  state.counters["ns_per_osc_sample"] = benchmark::Counter(
      blocks * kBlock * kOscillators, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["allocs_per_block"] =
      static_cast<double>(rmhost::audioPathHeapOperations().total()) / blocks;
  rmhost::armAllocationCounter(false);
}

void BM_RenderFastPaired(benchmark::State& state) {
  renderFast(state, true);
}
void BM_RenderFastSingle(benchmark::State& state) {
  renderFast(state, false);
}
BENCHMARK(BM_RenderFastPaired)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderFastSingle)->Unit(benchmark::kMicrosecond);

}  // namespace

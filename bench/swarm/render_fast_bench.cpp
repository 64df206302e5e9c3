// A swarm module through the stand-in host: a band of 16 voices (clones) at 48 kHz, each holding
// a note, so that every block runs renderFast.
//
//   RenderFast/<path>/oscs:K/N:P/block:B
//       ns per oscillator-sample for each path this processor runs, K oscillators with P
//       partials, host blocks of B frames; also the heap operations (allocations and frees) per
//       block on the audio path, expected 0, and the figure as a multiple of the eight-lane
//       limit of the step measured right after it (x_limit, see step_limit.h)
//   BM_RenderGeneral/block:B
//       the sample-by-sample render of one voice of 200 oscillators, "N" 50, ns per sample
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "rmhost/alloc_counter.h"
#include "rmhost/library.h"
#include "rmhost/session.h"
#include "step_limit.h"
#include "swarm/dsp/bank_paths.h"
#include "swarm/module.h"
#include "swarm/pins.h"

namespace {

namespace pins = swarm::pins;

constexpr int32_t kVoices = 16;

rmhost::Library& swarmLibrary() {
  static std::unique_ptr<rmhost::Library> library = [] {
    std::string error;
    auto loaded = rmhost::Library::load(SWARM_PATH, &error);
    if (!loaded) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
    return loaded;
  }();
  return *library;
}

swarm::Module& moduleOf(const rmhost::Session& session, rmhost::InstanceId id) {
  return *static_cast<swarm::Module*>(static_cast<RMModule_base*>(session.record(id)->object));
}

// 16 clones sharing one voice list at "poly" 16, each started on its own pitch and past its
// note-on block, so that the next blocks are steady.
struct Band {
  Band(int32_t blockSize, int32_t oscillators, int32_t partials)
      : session(config(blockSize)), oscCount(static_cast<uint32_t>(oscillators)) {
    const int32_t group = session.addGroup();
    for (int32_t v = 0; v < kVoices; ++v) {
      const rmhost::InstanceId id = session.create(swarmLibrary(), group);
      for (auto [pin, value] : {std::pair{pins::oscs, double(oscillators)},
                                {pins::partials, double(partials)},
                                {pins::fc1, 0.3 + 0.01 * v},
                                {pins::fm1, 0.5},
                                {pins::a1, 0.8},
                                {pins::wave1, 0.3},
                                {pins::pitchSpread, 0.001},
                                {pins::poly, 16.0},
                                {pins::gate, 1.0}}) {
        session.setInitial(id, pin, value);
      }
      voices.push_back(id);
    }
    for (rmhost::InstanceId id : voices) session.open(id);
    for (rmhost::InstanceId id : voices) session.setValue(id, pins::sync, 1.0, 0);
    session.runBlock();
    session.runBlock();
  }

  static rmhost::SessionConfig config(int32_t blockSize) {
    rmhost::SessionConfig c{48000.0f, blockSize};
    c.logRequests = false;
    return c;
  }

  // Every voice sounds and the next block goes to renderFast's steady state.
  bool steady() const {
    for (rmhost::InstanceId id : voices) {
      const swarm::Module& m = moduleOf(session, id);
      if (m.notePending || !m.gateActive || m.oscCount != oscCount) return false;
    }
    return true;
  }

  rmhost::Session session;
  uint32_t oscCount;
  std::vector<rmhost::InstanceId> voices;
};

void renderFast(benchmark::State& state, swarm::dsp::BankPath path) {
  const auto oscillators = static_cast<int32_t>(state.range(0));
  const auto block = static_cast<int32_t>(state.range(2));
  Band band(block, oscillators, static_cast<int32_t>(state.range(1)));
  if (!band.steady()) {
    state.SkipWithError("the voices did not reach their steady state");
    return;
  }
  for (rmhost::InstanceId id : band.voices) moduleOf(band.session, id).bankPath = path;
  const float* out = band.session.buffer(band.voices.back(), pins::outputL);

  rmhost::armAllocationCounter(true);
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    for (rmhost::InstanceId id : band.voices) band.session.process(id, 0, block);
    benchmark::DoNotOptimize(out[block - 1]);
  }
  const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
  const double blocks = static_cast<double>(state.iterations());
  state.counters["ns_per_osc_sample"] =
      benchmark::Counter(blocks * block * kVoices * oscillators,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["heap_ops_per_block"] =
      static_cast<double>(rmhost::audioPathHeapOperations().total()) / blocks;
  rmhost::armAllocationCounter(false);
  // The limit, measured at the clock speed the render just ran at.
  const double limit = swarm_bench::stepLimitNsPerOscSample();
  if (limit > 0.0 && state.iterations() > 0) {
    const double ns = elapsed.count() / (blocks * block * kVoices * oscillators);
    state.counters["x_limit"] = ns / limit;
  }
}

// One voice's renderGeneral on a tuned, sounding bank, called directly (the host would only reach
// it around note changes).
void BM_RenderGeneral(benchmark::State& state) {
  const auto block = static_cast<int32_t>(state.range(0));
  Band band(block, 200, 50);
  swarm::Module& voice = moduleOf(band.session, band.voices.front());
  const float* out = band.session.buffer(band.voices.front(), pins::outputL);
  for (auto _ : state) {
    voice.renderGeneral(0, block);
    benchmark::DoNotOptimize(out[block - 1]);
  }
  state.counters["ns_per_sample"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * block,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RenderGeneral)->Arg(64)->Arg(256)->ArgName("block")->Unit(benchmark::kMicrosecond);

const bool registered = [] {
  for (swarm::dsp::BankPath path : swarm::dsp::kBankPaths) {
    if (!swarm::dsp::processorRuns(path)) continue;
    benchmark::RegisterBenchmark(
        (std::string("RenderFast/") + swarm::dsp::bankPathName(path)).c_str(), renderFast, path)
        ->ArgsProduct({{200, 50}, {50, 5}, {64, 256}})
        ->ArgNames({"oscs", "N", "block"})
        ->Unit(benchmark::kMicrosecond);
  }
  return true;
}();

}  // namespace

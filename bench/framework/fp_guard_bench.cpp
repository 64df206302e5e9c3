// The floating-point guard's share of a block.
//
//   BM_VellumBlock/guarded|direct      one 64-frame block of a vellum envelope cycling through its
//                                      segments, through the process thunk or by a direct call
//   BM_SwarmBand/guarded|direct        one 64-frame block of 16 swarm voices holding notes
//   BM_GuardAlone, BM_HostScopeAlone   the entry guard, and the switch around one callback, with
//                                      nothing inside, in the environment a host typically has
//                                      (the inexact flag raised by its own work)
//
// Both calls use the benchmark's own copy of the modules' code on instances the libraries made, so
// they differ by the entry guard alone. A callback the module makes (vellum asks the sample clock
// once per block) switches to the host's environment in both, which BM_HostScopeAlone prices.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "rackmill/fp_guard.h"
#include "rmhost/library.h"
#include "rmhost/session.h"
#include "swarm/module.h"
#include "swarm/pins.h"
#include "vellum/module.h"

namespace {

constexpr int32_t kBlock = 64;
constexpr int32_t kVoices = 16;

rmhost::Library& library(const char* path) {
  static std::vector<std::unique_ptr<rmhost::Library>> loaded;
  for (auto& l : loaded) {
    if (l->path() == path) return *l;
  }
  std::string error;
  auto l = rmhost::Library::load(path, &error);
  if (!l) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::exit(1);
  }
  loaded.push_back(std::move(l));
  return *loaded.back();
}

rmhost::SessionConfig config() {
  rmhost::SessionConfig c{48000.0f, kBlock};
  c.logRequests = false;
  return c;
}

// A host's usual environment: defaults, with the inexact flag its own arithmetic raised.
void hostEnvironment() {
  volatile double x = 1.0;
  benchmark::DoNotOptimize(x / 3.0);
}

// Runs blocks of every instance through the process thunk a module installs (the guard, then the
// call) or by the direct call, both from the same copy of the module's code.
template <class M, void (M::*F)(int32_t, int32_t)>
void runBlocks(benchmark::State& state, rmhost::Session& session,
               const std::vector<rmhost::InstanceId>& ids) {
  const bool guarded = state.range(0) != 0;
  hostEnvironment();
  for (auto _ : state) {
    for (rmhost::InstanceId id : ids) {
      void* object = session.record(id)->object;
      if (guarded) {
        processThunk<M, F>(object, 0, kBlock);
      } else {
        (static_cast<M*>(static_cast<RMModule_base*>(object))->*F)(0, kBlock);
      }
    }
    benchmark::ClobberMemory();
  }
  state.SetLabel(guarded ? "guarded" : "direct");
}

void BM_VellumBlock(benchmark::State& state) {
  rmhost::Session session(config());
  const rmhost::InstanceId id = session.create(library(VELLUM_PATH), session.addGroup());
  for (const auto& [name, value] : {std::pair<const char*, double>{"Attack", 5},
                                    {"Decay", 10},
                                    {"Sustain", 0.5},
                                    {"Release", 8},
                                    {"LfoAmt", 0.3},
                                    {"LfoFreq", 6}}) {
    session.setInitial(id, session.findPin(id, name), value);
  }
  session.open(id);
  session.setStream(
      id, session.findPin(id, "Gate"),
      [](int64_t clock, float* out, int32_t frames) {
        for (int32_t i = 0; i < frames; ++i) out[i] = (clock + i) % 9600 < 4800 ? 1.0f : 0.0f;
      },
      0);
  session.runBlock();
  runBlocks<vellum::Module, &vellum::Module::processEnvelope>(state, session, {id});
}
BENCHMARK(BM_VellumBlock)->Arg(1)->Arg(0)->ArgName("guarded");

void BM_SwarmBand(benchmark::State& state) {
  namespace pins = swarm::pins;
  rmhost::Session session(config());
  const int32_t group = session.addGroup();
  std::vector<rmhost::InstanceId> voices;
  for (int32_t v = 0; v < kVoices; ++v) {
    const rmhost::InstanceId id = session.create(library(SWARM_PATH), group);
    for (auto [pin, value] : {std::pair{pins::fc1, 0.3 + 0.01 * v},
                              {pins::a1, 0.8},
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
  runBlocks<swarm::Module, &swarm::Module::renderFast>(state, session, voices);
}
BENCHMARK(BM_SwarmBand)->Arg(1)->Arg(0)->ArgName("guarded");

void BM_GuardAlone(benchmark::State& state) {
  hostEnvironment();
  for (auto _ : state) {
    const rm::FpGuard guard;
    benchmark::DoNotOptimize(&guard);
  }
}
BENCHMARK(BM_GuardAlone);

void BM_HostScopeAlone(benchmark::State& state) {
  hostEnvironment();
  const rm::FpGuard guard;
  volatile double x = 1.0;
  benchmark::DoNotOptimize(x / 3.0);  // the module's own inexact flag
  for (auto _ : state) {
    const rm::HostFpScope host(guard.host());
    benchmark::DoNotOptimize(&host);
  }
}
BENCHMARK(BM_HostScopeAlone);

}  // namespace

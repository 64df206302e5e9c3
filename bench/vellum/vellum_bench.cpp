// Cost of the vellum envelope in ns per sample: the whole module through the stand-in host on a
// gate that keeps cycling through every segment, with and without the LFO, and the DSP kernels
// on their own.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "rmhost/library.h"
#include "rmhost/session.h"
#include "vellum/dsp/lfo.h"
#include "vellum/dsp/output_law.h"
#include "vellum/dsp/segment_curve.h"

namespace {

constexpr float sampleRate = 48000.0f;
constexpr int32_t blockSize = 1024;

void reportPerSample(benchmark::State& state, int64_t samplesPerIteration) {
  state.SetItemsProcessed(state.iterations() * samplesPerIteration);
  // Seconds per sample, printed with an SI prefix (n for ns).
  state.counters["per_sample"] =
      benchmark::Counter(static_cast<double>(state.iterations() * samplesPerIteration),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

rmhost::Library& vellumLibrary() {
  static std::unique_ptr<rmhost::Library> library = [] {
    std::string error;
    auto loaded = rmhost::Library::load(VELLUM_PATH, &error);
    if (!loaded) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
    return loaded;
  }();
  return *library;
}

// A steady envelope: the gate streams a 5 Hz square wave, so every 0.2 s the module runs attack,
// hold, decay, sustain and release along shaped curves. Arguments: LFO (0 none, 1 center mod) and
// "dbmode" (0 linear, 1 decibel law).
void BM_ModuleSteadyEnvelope(benchmark::State& state) {
  rmhost::SessionConfig config{sampleRate, blockSize};
  config.logRequests = false;
  rmhost::Session session(config);
  const rmhost::InstanceId id = session.create(vellumLibrary(), session.addGroup());
  const bool lfo = state.range(0) != 0;
  const std::pair<const char*, double> pins[] = {{"Attack", 100},
                                                 {"Hold", 50},
                                                 {"Decay", 40},
                                                 {"Sustain", 0.6},
                                                 {"Release", 25},
                                                 {"AttackForm", 0.3},
                                                 {"DecayForm", -0.4},
                                                 {"ReleaseForm", 0.5},
                                                 {"LfoAmt", lfo ? 0.3 : 0.0},
                                                 {"LfoFreq", 6},
                                                 {"LfoAlign", 3},
                                                 {"Overall Level", 1},
                                                 {"dbmode", static_cast<double>(state.range(1))}};
  for (const auto& [name, value] : pins) session.setInitial(id, session.findPin(id, name), value);
  session.open(id);
  session.setStream(
      id, session.findPin(id, "Gate"),
      [](int64_t clock, float* out, int32_t frames) {
        for (int32_t i = 0; i < frames; ++i) out[i] = (clock + i) % 9600 < 4800 ? 1.0f : 0.0f;
      },
      0);
  const float* out = session.buffer(id, session.findPin(id, "Signal Out"));
  for (auto _ : state) {
    session.runBlock();
    benchmark::DoNotOptimize(out[blockSize - 1]);
  }
  reportPerSample(state, blockSize);
}
BENCHMARK(BM_ModuleSteadyEnvelope)->ArgsProduct({{0, 1}, {0, 1}})->ArgNames({"lfo", "dbmode"});

// The curve kernel alone: one pass over a block with a shaped form.
void BM_SegmentCurve(benchmark::State& state) {
  std::vector<float> out(blockSize);
  const float step = 1.0f / (4.0f * blockSize);
  for (auto _ : state) {
    float position = 0.0f;
    benchmark::DoNotOptimize(vellum::renderCurve(0.3f, step, position, out.data(), 0, blockSize));
    benchmark::ClobberMemory();
  }
  reportPerSample(state, blockSize);
}
BENCHMARK(BM_SegmentCurve);

// The LFO renderers alone over a block.
void BM_Lfo(benchmark::State& state) {
  const auto renderer = static_cast<vellum::LfoRenderer>(state.range(0));
  std::vector<float> samples(blockSize, 0.5f);
  vellum::LfoState lfo;
  for (auto _ : state) {
    vellum::renderLfo(renderer, lfo, 0.001f, 0.3f, 0.0f, 1, blockSize, samples.data());
    benchmark::ClobberMemory();
  }
  reportPerSample(state, blockSize);
}
BENCHMARK(BM_Lfo)->DenseRange(1, 3)->ArgName("renderer");

// The output laws alone: 0 linear, 1 decibel.
void BM_OutputLaw(benchmark::State& state) {
  const auto law = static_cast<vellum::OutputLaw>(state.range(0));
  std::vector<float> samples(blockSize);
  for (auto _ : state) {
    for (int32_t i = 0; i < blockSize; ++i) samples[static_cast<size_t>(i)] = i / 1024.0f;
    vellum::applyOutputLaw(law, 0.9f, blockSize, samples.data());
    benchmark::ClobberMemory();
  }
  reportPerSample(state, blockSize);
}
BENCHMARK(BM_OutputLaw)->Arg(0)->Arg(1)->ArgName("decibel");

}  // namespace

BENCHMARK_MAIN();

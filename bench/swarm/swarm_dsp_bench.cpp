// Block sums of a 200-oscillator bank with 50 partials each, per path. The reported
// "osc_sample" figure is the time per oscillator and sample.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "swarm/dsp/oscillator.h"
#include "swarm/dsp/retune.h"

namespace {

using namespace swarm::dsp;

constexpr uint32_t kCount = 200;
constexpr uint32_t kFrames = 512;

OscillatorBank tunedBank() {
  OscillatorBank bank{};
  for (uint32_t k = 0; k < kCount; ++k) {
    bank[k].carrier = {std::cos(0.7 * k), std::sin(0.7 * k)};
    bank[k].modulator = {std::cos(1.3 * k), std::sin(1.3 * k)};
  }
  RetuneParams p;
  p.pitch = 0.3;
  p.spacingRatio = 0.5;
  p.partials = 50;
  p.decayFirst = 0.9;
  p.decayFall = 0.5;
  p.waveMix = 0.5;
  p.pitchSpread = 0.001;
  p.spacing = 1.0 / (kCount - 1);
  p.phaseStepPerHz = 6.283185307179586 / 44100.0;
  p.maxFrequency = 21000.0;
  retuneBank(bank, kCount, p);
  return bank;
}

template <bool kPaired>
void blockSums(benchmark::State& state) {
  OscillatorBank bank = tunedBank();
  std::vector<double> left(kFrames), right(kFrames);
  uint32_t block = 0;
  for (auto _ : state) {
    if (kPaired) {
      sumBankPaired(bank, kCount, left.data(), right.data(), kFrames);
    } else {
      sumBankSingle(bank, kCount, left.data(), right.data(), kFrames);
    }
    renormalise(bank[block++ % kMaxOscillators]);
    benchmark::DoNotOptimize(left.data());
    benchmark::DoNotOptimize(right.data());
  }
  state.counters["osc_sample"] = benchmark::Counter(
      static_cast<double>(kCount) * kFrames,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(blockSums<true>)->Name("BlockSums/paired");
BENCHMARK(blockSums<false>)->Name("BlockSums/single");

}  // namespace

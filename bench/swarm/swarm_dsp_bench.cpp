// Block sums of the oscillator bank on every path this processor runs, without a host: the
// kernels alone. Arguments: oscillators, partials ("N"), frames per call. The "osc_sample"
// counter is the time per oscillator and sample.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "step_limit.h"
#include "swarm/dsp/bank_paths.h"
#include "swarm/dsp/oscillator.h"
#include "swarm/dsp/output_stage.h"
#include "swarm/dsp/retune.h"

namespace {

using namespace swarm::dsp;

// A bank set-up at 48 kHz: `count` oscillators spread around one pitch, `partials` each.
RetuneParams setUp(uint32_t count, int32_t partials) {
  RetuneParams p;
  p.pitch = 0.3;
  p.spacingRatio = 0.5;
  p.partials = static_cast<float>(partials);
  p.decayFirst = 0.9;
  p.decayFall = 0.5;
  p.waveMix = 0.5;
  p.pitchSpread = 0.001;
  p.spacing = 1.0 / (count - 1);
  p.phaseStepPerHz = 6.283185307179586 / 48000.0;
  p.maxFrequency = 21000.0;
  return p;
}

OscillatorBank tunedBank(uint32_t count, int32_t partials) {
  OscillatorBank bank{};
  for (uint32_t k = 0; k < count; ++k) {
    bank[k].carrier = {std::cos(0.7 * k), std::sin(0.7 * k)};
    bank[k].modulator = {std::cos(1.3 * k), std::sin(1.3 * k)};
  }
  retuneBank(bank, count, setUp(count, partials));
  return bank;
}

void blockSums(benchmark::State& state, BankPath path) {
  const auto count = static_cast<uint32_t>(state.range(0));
  const auto frames = static_cast<uint32_t>(state.range(2));
  OscillatorBank bank = tunedBank(count, static_cast<int32_t>(state.range(1)));
  std::vector<double> left(frames), right(frames);
  LaneSums lanes;
  uint32_t block = 0;
  for (auto _ : state) {
    sumBank(path, bank, count, lanes, left.data(), right.data(), frames);
    renormalise(bank[block++ % count]);
    benchmark::DoNotOptimize(left.data());
    benchmark::DoNotOptimize(right.data());
  }
  state.counters["osc_sample"] = benchmark::Counter(
      static_cast<double>(count) * frames,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The sound of the bank made the plain way, for comparison: every partial of every oscillator
// (N + 1 per oscillator) as a rotating phasor of its own, the partials of one oscillator side by
// side so that the compiler can put them in vector lanes; left output only.
void explicitPartials(benchmark::State& state) {
  const auto count = static_cast<uint32_t>(state.range(0));
  const auto partials = static_cast<uint32_t>(state.range(1)) + 1;
  const auto frames = static_cast<uint32_t>(state.range(2));
  const size_t total = size_t{count} * partials;
  std::vector<double> re(total), im(total), stepRe(total), stepIm(total);
  for (size_t i = 0; i < total; ++i) {
    re[i] = std::cos(0.1 * i);
    im[i] = std::sin(0.1 * i);
    stepRe[i] = std::cos(1e-3 * i);
    stepIm[i] = std::sin(1e-3 * i);
  }
  std::vector<double> left(frames);
  for (auto _ : state) {
    for (uint32_t j = 0; j < frames; ++j) left[j] = 0.0;
    for (uint32_t k = 0; k < count; ++k) {
      double* zr = &re[size_t{k} * partials];
      double* zi = &im[size_t{k} * partials];
      const double* sr = &stepRe[size_t{k} * partials];
      const double* si = &stepIm[size_t{k} * partials];
      for (uint32_t j = 0; j < frames; ++j) {
        double sum = 0.0;
        for (uint32_t p = 0; p < partials; ++p) {
          sum += zi[p];
          const double r = zr[p] * sr[p] - zi[p] * si[p];
          zi[p] = zi[p] * sr[p] + zr[p] * si[p];
          zr[p] = r;
        }
        left[j] += sum;
      }
    }
    benchmark::DoNotOptimize(left.data());
  }
  state.counters["osc_sample"] = benchmark::Counter(
      static_cast<double>(count) * frames,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

#if defined(__x86_64__)
void BM_StepLimitEightLanes(benchmark::State& state) {
  constexpr int64_t kRounds = 1000;
  for (auto _ : state) swarm_bench::multiplyRounds(kRounds);
  state.counters["osc_sample"] = benchmark::Counter(
      kRounds * 8.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
#endif

// A voice's output stage on its own, per sample, past the glides that follow a bank set-up.
void BM_OutputStage(benchmark::State& state) {
  constexpr uint32_t kFrames = 256;
  constexpr double kRate = 48000.0;
  std::vector<double> left(kFrames), right(kFrames);
  // Sums of many partials: a dense signal whose peaks come at irregular samples.
  for (uint32_t j = 0; j < kFrames; ++j) {
    for (int p = 1; p <= 40; ++p) {
      left[j] += 3.0 * std::sin(0.0137 * p * p * j + p) / p;
      right[j] += 3.0 * std::cos(0.0119 * p * p * j + 2 * p) / p;
    }
  }
  std::vector<float> outLeft(kFrames), outRight(kFrames);
  OutputStage stage;
  stage.initialise(kRate, 200);
  for (int block = 0; block < 200; ++block) {
    stage.processBlock(left.data(), right.data(), outLeft.data(), outRight.data(), kFrames,
                       1.0 / 200, kRate);
  }
  for (auto _ : state) {
    stage.processBlock(left.data(), right.data(), outLeft.data(), outRight.data(), kFrames,
                       1.0 / 200, kRate);
    benchmark::DoNotOptimize(outLeft.data());
  }
  state.counters["per_sample"] = benchmark::Counter(
      kFrames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_OutputStage);

// A retune of a whole bank of 200 oscillators with "N" 50, to another pitch and blend.
void BM_Retune(benchmark::State& state) {
  OscillatorBank bank = tunedBank(200, 50);
  RetuneParams p = setUp(200, 50);
  p.pitch = 0.35;
  p.waveMix = 0.3;
  for (auto _ : state) {
    retuneBank(bank, 200, p);
    benchmark::DoNotOptimize(bank.data());
  }
}
BENCHMARK(BM_Retune)->Unit(benchmark::kMicrosecond);

void sizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"oscs", "N", "frames"});
  for (int64_t oscs : {50, 200}) {
    for (int64_t partials : {5, 50}) {
      for (int64_t frames : {64, 256}) b->Args({oscs, partials, frames});
    }
  }
}

const bool registered = [] {
  for (BankPath path : kBankPaths) {
    if (!processorRuns(path)) continue;
    benchmark::RegisterBenchmark((std::string("BlockSums/") + bankPathName(path)).c_str(),
                                 blockSums, path)
        ->Apply(sizes);
  }
#if defined(__x86_64__)
  if (processorRuns(BankPath::avx512)) {
    benchmark::RegisterBenchmark("StepLimit/avx512", BM_StepLimitEightLanes);
  }
#endif
  benchmark::RegisterBenchmark("BlockSums/explicit_partials", explicitPartials)
      ->Args({200, 50, 256})
      ->ArgNames({"oscs", "N", "frames"});
  return true;
}();

}  // namespace

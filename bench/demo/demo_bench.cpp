// The demo patch (examples/demo.toml) rendered in memory by the command-line tool's renderer, as
// `rmhost render` does it without writing files: seconds of audio per second of rendering.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "patch.h"
#include "plugins.h"
#include "renderer.h"

namespace {

void BM_DemoPatch(benchmark::State& state) {
  const rmcli::Patch patch = rmcli::loadPatch(DEMO_PATCH);
  const rmcli::PluginFinder finder({std::filesystem::path(PLUGIN_DIR)});
  double seconds = 0.0;
  for (auto _ : state) {
    rmcli::Renderer renderer(patch, finder);
    const rmcli::AudioBuffer audio = renderer.render();
    seconds += static_cast<double>(audio.frames) / audio.sampleRate;
    benchmark::DoNotOptimize(audio.samples.data());
  }
  state.counters["real_time_factor"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DemoPatch)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();

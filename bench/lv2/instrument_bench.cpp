// The LV2 instrument in a lilv host with 16 voices held (200 oscillators, "N" 50 each) at
// 48 kHz in 256-frame runs, beside the same notes and settings through the renderer. The
// counter real_time_fraction is processing time per second of audio on one core.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <sstream>

#include "lv2_host.h"
#include "patch.h"
#include "plugins.h"
#include "renderer.h"

namespace {

constexpr int kRate = 48000;
constexpr uint32_t kRun = 256;
constexpr int kVoices = 16;

int keyOf(int voice) {
  return 40 + 2 * voice;
}

void settle(lv2test::Instance& inst) {
  inst.control("voices") = kVoices;
  inst.control("osc_poly") = kVoices;
  inst.control("osc_oscs") = 200;
  inst.control("osc_N") = 50;
}

void BM_Lv2Instrument(benchmark::State& state) {
  lv2test::World world(RM_LV2_BUNDLE);
  lv2test::Instance inst(world, lv2test::kInstrument, kRate);
  if (!inst.ok()) {
    state.SkipWithError(world.log().c_str());
    return;
  }
  settle(inst);
  for (int v = 0; v < kVoices; ++v) inst.midi(0, {0x90, static_cast<uint8_t>(keyOf(v)), 100});
  for (int i = 0; i < 200; ++i) inst.run(kRun);  // past the attacks, into the held notes
  double seconds = 0.0;
  for (auto _ : state) {
    inst.run(kRun);
    seconds += static_cast<double>(kRun) / kRate;
  }
  state.counters["real_time_fraction"] =
      benchmark::Counter(seconds, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Lv2Instrument)->Unit(benchmark::kMicrosecond)->MinTime(3.0);

// The same voices through the renderer: its session, note layer, gain stages and mixer.
std::string heldNotesPatch(double seconds) {
  std::ostringstream patch;
  patch << "[render]\nsample_rate = " << kRate << "\nblock_size = " << kRun
        << "\nlength = " << seconds
        << "\ngain = 0.4\n\n[[part]]\nid = \"keys\"\nvoices = " << kVoices << "\nrelease = 0.52\n\n"
        << "[[module]]\nid = \"osc\"\nplugin = \"swarm\"\npart = \"keys\"\n"
        << "notes = { pitch = \"fc_1\", voice_gate = \"gate\", trigger = \"sync\" }\n"
        << "pins = { poly = " << kVoices << ", oscs = 200, N = 50, fm1_1 = 1.0, a_1 = 0.6, "
        << "Wave_1 = 0.5, incr = 0.25, pitchspread = 0.0002, a_2 = 0.5, phasespread = 0.4, "
        << "retrigger = 1 }\n\n"
        << "[[module]]\nid = \"env\"\nplugin = \"vellum\"\npart = \"keys\"\n"
        << "notes = { gate = \"Gate\", velocity = \"Overall Level\", velocity_sensitivity = 0.7 }\n"
        << "pins = { Attack = 50, Decay = 1.5, Sustain = 0.6, Release = 2, \"Overall Level\" = 1, "
        << "DecayForm = 0.3, ReleaseForm = 0.3, LfoFreq = 4.5 }\n\n"
        << "[[gain]]\nid = \"vca\"\ninput = [\"osc.outputl\", \"osc.outputr\"]\n"
        << "control = \"env.Signal Out\"\n\n[[mix]]\nsource = \"vca\"\ngain = 1.0\n\n";
  for (int v = 0; v < kVoices; ++v) {
    patch << "[[note]]\nstart = 0.0\nlength = " << seconds << "\npitch = " << keyOf(v)
          << "\nvelocity = 100\n\n";
  }
  return patch.str();
}

void BM_RendererSameVoices(benchmark::State& state) {
  constexpr double kSeconds = 2.0;
  const rmcli::Patch patch = rmcli::parsePatch(heldNotesPatch(kSeconds));
  const rmcli::PluginFinder finder({std::filesystem::path(PLUGIN_DIR)});
  double seconds = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    rmcli::Renderer renderer(patch, finder);
    state.ResumeTiming();
    const rmcli::AudioBuffer audio = renderer.render();
    seconds += static_cast<double>(audio.frames) / audio.sampleRate;
    benchmark::DoNotOptimize(audio.samples.data());
  }
  state.counters["real_time_fraction"] =
      benchmark::Counter(seconds, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RendererSameVoices)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();

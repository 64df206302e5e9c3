// The instrument through a lilv host: the renderer's sound for the same notes, run lengths that
// change nothing, voices stolen and freed, silence after the tails, a fresh start on activation.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "lv2_test_support.h"
#include "rendered_patch.h"

namespace lv2test {
namespace {

constexpr int kRate = 48000;

std::string number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// Clocks a voice stays taken after its note: the bridge's rule for the envelope's release rate.
int64_t releaseClocks(float rate, int sampleRate) {
  const double seconds = rate > 0.1 ? 1.0 / rate : 10.0;
  return std::llround((seconds + 0.02) * sampleRate);
}

// A patch that plays `notes` as the instrument does with its controls as they are now: one swarm
// and one vellum per voice, each voice's stereo times its envelope, summed, times the gain.
std::string equivalentPatch(Instance& inst, const std::vector<Note>& notes, int64_t frames) {
  std::ostringstream swarmPins, vellumPins;
  for (const PortInfo& port : inst.ports()) {
    if (!port.control || !port.input) continue;
    const bool osc = port.symbol.rfind("osc_", 0) == 0;
    const bool env = port.symbol.rfind("env_", 0) == 0;
    if (!osc && !env) continue;
    std::ostringstream& pins = osc ? swarmPins : vellumPins;
    pins << (pins.tellp() > 0 ? ", " : "") << "\"" << port.name
         << "\" = " << number(inst.control(port.symbol));
  }
  std::ostringstream patch;
  patch << "[render]\nsample_rate = " << kRate
        << "\nblock_size = 256\nlength = " << number(static_cast<double>(frames) / kRate)
        << "\ngain = " << number(inst.control("gain")) << "\n\n"
        << "[[part]]\nid = \"keys\"\nvoices = " << inst.control("voices") << "\nrelease = "
        << number(static_cast<double>(releaseClocks(inst.control("env_Release"), kRate)) / kRate)
        << "\n\n[[module]]\nid = \"osc\"\nplugin = \"" << bundle() << "/libswarm.so\"\n"
        << "part = \"keys\"\nnotes = { pitch = \"fc_1\", voice_gate = \"gate\", trigger = \"sync\" "
           "}\n"
        << "pins = { " << swarmPins.str() << " }\n\n"
        << "[[module]]\nid = \"env\"\nplugin = \"" << bundle() << "/libvellum.so\"\n"
        << "part = \"keys\"\nnotes = { gate = \"Gate\", velocity = \"Overall Level\", "
        << "velocity_sensitivity = " << number(inst.control("velocity_sensitivity")) << " }\n"
        << "pins = { " << vellumPins.str() << " }\n\n"
        << "[[gain]]\nid = \"vca\"\ninput = [\"osc.outputl\", \"osc.outputr\"]\n"
        << "control = \"env.Signal Out\"\n\n[[mix]]\nsource = \"vca\"\ngain = 1.0\n\n";
  for (const Note& note : notes) {
    patch << "[[note]]\nstart = " << number(static_cast<double>(note.start) / kRate)
          << "\nlength = " << number(static_cast<double>(note.end - note.start) / kRate)
          << "\npitch = " << note.key << "\nvelocity = " << note.velocity << "\n\n";
  }
  return patch.str();
}

// A first run of one frame lines the one-frame-late session up with the renderer's blocks.
Lengths alignedWithRenderer() {
  return [](int64_t done) { return done == 0 ? 1u : 256u; };
}

const std::vector<Note> kPhrase = {
    {2400, 30000, 60, 100}, {2400, 30000, 64, 80},  {2400, 30000, 67, 127},
    {14001, 20000, 72, 40}, {26000, 52000, 62, 90}, {26001, 40000, 69, 110},
};

TEST(Instrument, PlaysTheRenderersSoundOfTheSameNotes) {
  Instance inst(world(), kInstrument, kRate);
  ASSERT_TRUE(inst.ok()) << world().log();
  const int64_t frames = 80000;
  const Stereo expected = renderPatch(equivalentPatch(inst, kPhrase, frames));
  const Stereo aligned = play(inst, scoreOf(kPhrase), frames + 1, alignedWithRenderer());
  ASSERT_GT(peak(expected.left), 0.05f);
  // One frame of latency: output frame f + 1 is the renderer's frame f.
  EXPECT_EQ(aligned.left[0], 0.0f);
  EXPECT_EQ(maxDifference(expected.left, aligned.left, 1), 0.0);
  EXPECT_EQ(maxDifference(expected.right, aligned.right, 1), 0.0);

  // Other run lengths move swarm's one-oscillator-per-call renormalisation: rounding only.
  Instance again(world(), kInstrument, kRate);
  const Stereo random = play(again, scoreOf(kPhrase), frames + 1, randomLengths(7));
  EXPECT_LE(maxDifference(expected.left, random.left, 1), 1e-6);
  EXPECT_LE(maxDifference(expected.right, random.right, 1), 1e-6);
}

TEST(Instrument, StealsAtThePolyphonyLimitAsTheRendererDoes) {
  Instance inst(world(), kInstrument, kRate);
  inst.control("voices") = 2;
  // Three held notes on two voices: the third takes the oldest; then a voice is free again.
  const std::vector<Note> notes = {{1000, 40000, 60, 100},
                                   {5000, 40000, 64, 100},
                                   {9000, 40000, 67, 100},
                                   {90000, 95000, 72, 100}};
  const int64_t frames = 130000;
  const Stereo expected = renderPatch(equivalentPatch(inst, notes, frames));
  const Stereo out = play(inst, scoreOf(notes), frames + 1, alignedWithRenderer());
  EXPECT_EQ(maxDifference(expected.left, out.left, 1), 0.0);
  EXPECT_EQ(maxDifference(expected.right, out.right, 1), 0.0);
  EXPECT_GT(peak(out.left, 90000, 95000), 0.01f);  // a released voice plays the last note
}

TEST(Instrument, RunLengthsChangeNothingAudible) {
  const int64_t frames = 60000;
  Instance steadyPlugin(world(), kInstrument, kRate);
  const Stereo reference = play(steadyPlugin, scoreOf(kPhrase), frames, steady(256));
  for (uint32_t seed : {1u, 2u, 3u}) {
    Instance plugin(world(), kInstrument, kRate);
    const Stereo out = play(plugin, scoreOf(kPhrase), frames, randomLengths(seed));
    EXPECT_LE(maxDifference(reference.left, out.left), 1e-6) << "seed " << seed;
    EXPECT_LE(maxDifference(reference.right, out.right), 1e-6) << "seed " << seed;
  }
}

TEST(Instrument, TailsEndInSilenceWithinSeconds) {
  Instance inst(world(), kInstrument, kRate);
  const std::vector<Note> notes = {
      {100, 24000, 48, 127}, {100, 24000, 55, 127}, {100, 24000, 96, 127}};
  const Stereo out = play(inst, scoreOf(notes), 4 * kRate, steady(512));
  EXPECT_GT(peak(out.left, 0, 24000), 0.1f);  // clearly audible with every default
  EXPECT_LT(peak(out.left, 0, 24000), 1.0f);
  EXPECT_EQ(peak(out.left, 3 * kRate), 0.0f);
  EXPECT_EQ(peak(out.right, 3 * kRate), 0.0f);
}

TEST(Instrument, SustainPedalAndAllNotesOffAndAllSoundOff) {
  auto run = [](std::vector<Midi> score) {
    Instance inst(world(), kInstrument, kRate);
    return play(inst, score, 3 * kRate, steady(256));
  };
  // The pedal holds the note past its note-off until it is lifted.
  const Stereo held = run({{0, {0xB0, 64, 127}},
                           {100, {0x90, 60, 100}},
                           {4800, {0x80, 60, 0}},
                           {72000, {0xB0, 64, 0}}});
  EXPECT_GT(peak(held.left, 48000, 72000), 0.01f);
  EXPECT_EQ(peak(held.left, 5 * kRate / 2), 0.0f);
  // All notes off ends the note like its note-off; all sound off cuts it at once.
  const Stereo notesOff = run({{100, {0x90, 60, 100}}, {4800, {0xB0, 123, 0}}});
  EXPECT_EQ(peak(notesOff.left, 2 * kRate), 0.0f);
  const Stereo soundOff = run({{100, {0x90, 60, 100}}, {4800, {0xB0, 120, 0}}});
  EXPECT_GT(peak(notesOff.left, 9600, 12000), 0.01f);  // still releasing
  EXPECT_EQ(peak(soundOff.left, 9600), 0.0f);
}

TEST(Instrument, ActivationAfterDeactivationStartsFromScratch) {
  const int64_t frames = 40000;
  Instance fresh(world(), kInstrument, kRate);
  const Stereo first = play(fresh, scoreOf(kPhrase), frames, randomLengths(11));
  Instance reused(world(), kInstrument, kRate);
  play(reused, scoreOf({{10, 30000, 50, 127}, {20, 30000, 70, 10}}), 20000, steady(300));
  reused.deactivate();
  reused.activate();
  const Stereo second = play(reused, scoreOf(kPhrase), frames, randomLengths(11));
  EXPECT_EQ(maxDifference(first.left, second.left), 0.0);
  EXPECT_EQ(maxDifference(first.right, second.right), 0.0);
}

}  // namespace
}  // namespace lv2test

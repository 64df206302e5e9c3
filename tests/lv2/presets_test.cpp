// The factory bank as LV2 presets of the instrument: every sound is listed with its label, every
// preset sets every control, plays its phrase as the sound's renderer patch does, and the
// instrument's own defaults are the default sound, whose notes all have clear onsets.
#include <lv2/atom/atom.h>
#include <lv2/presets/presets.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "lv2_test_support.h"
#include "rendered_patch.h"
#include "sound_bank.h"

namespace lv2test {
namespace {

constexpr int kRate = 48000;

const std::vector<rmfactory::Sound>& sounds() {
  static const auto bank = rmfactory::loadSounds(SOUNDS_DIR);
  return bank;
}

std::string presetUri(const rmfactory::Sound& sound) {
  return kInstrument + "/preset/" + sound.key;
}

// The presets lilv finds for the instrument, by URI, with their labels.
std::map<std::string, std::string> listedPresets() {
  LilvWorld* lilv = world().lilv();
  LilvNode* presetClass = lilv_new_uri(lilv, LV2_PRESETS__Preset);
  LilvNode* label = lilv_new_uri(lilv, LILV_NS_RDFS "label");
  LilvNodes* related = lilv_plugin_get_related(world().plugin(kInstrument), presetClass);
  std::map<std::string, std::string> presets;
  LILV_FOREACH(nodes, i, related) {
    const LilvNode* preset = lilv_nodes_get(related, i);
    lilv_world_load_resource(lilv, preset);
    LilvNode* name = lilv_world_get(lilv, preset, label, nullptr);
    presets[lilv_node_as_uri(preset)] = name ? lilv_node_as_string(name) : "";
    lilv_node_free(name);
  }
  lilv_nodes_free(related);
  lilv_node_free(label);
  lilv_node_free(presetClass);
  return presets;
}

// The port values of a preset, by symbol, as a host restores them.
std::map<std::string, float> presetValues(const std::string& uri) {
  LilvWorld* lilv = world().lilv();
  LilvNode* node = lilv_new_uri(lilv, uri.c_str());
  lilv_world_load_resource(lilv, node);
  LilvState* state = lilv_state_new_from_world(lilv, world().uridMap(), node);
  std::map<std::string, float> values;
  if (state != nullptr) {
    struct Sink {
      std::map<std::string, float>* values;
      LV2_URID floatType;
    } sink{&values, world().map(LV2_ATOM__Float)};
    lilv_state_emit_port_values(
        state,
        [](const char* symbol, void* user, const void* value, uint32_t size, uint32_t type) {
          const auto* s = static_cast<Sink*>(user);
          if (type == s->floatType && size == sizeof(float))
            (*s->values)[symbol] = *static_cast<const float*>(value);
        },
        &sink);
    lilv_state_free(state);
  }
  lilv_node_free(node);
  return values;
}

std::vector<Note> phraseNotes(const rmfactory::Sound& sound) {
  std::vector<Note> notes;
  for (const rmfactory::PhraseNote& played : sound.phrase)
    for (const std::string& pitch : played.pitches) {
      const auto name = rmcli::parseNoteName(pitch);
      const int key = static_cast<int>(name ? *name : std::stod(pitch));
      const auto start = std::llround(played.start * kRate);
      notes.push_back({start, start + std::llround(played.length * kRate), key, played.velocity});
    }
  return notes;
}

// The sound's renderer patch, as committed in examples/factory, with the bundle's modules.
Stereo renderFactoryPatch(const rmfactory::Sound& sound) {
  std::ifstream in(std::filesystem::path(EXAMPLES_DIR) / "factory" / (sound.key + ".toml"));
  std::ostringstream text;
  text << in.rdbuf();
  std::string patch = text.str();
  patch = std::regex_replace(patch, std::regex("plugin = \"(swarm|vellum)\""),
                             "plugin = \"" + bundle() + "/lib$1.so\"");
  return renderPatch(patch);
}

TEST(Presets, EverySoundIsListedWithItsLabel) {
  const auto presets = listedPresets();
  EXPECT_GE(presets.size(), 16u);
  EXPECT_EQ(presets.size(), sounds().size());
  for (const rmfactory::Sound& sound : sounds()) {
    const auto found = presets.find(presetUri(sound));
    ASSERT_NE(found, presets.end()) << sound.key;
    EXPECT_EQ(found->second, sound.name);
  }
}

// Each preset sets every control; with it the instrument plays the sound's phrase as its renderer
// patch does (one frame later, and up to the rounding of the different order of the gains).
TEST(Presets, EachPlaysItsPhraseAsItsPatchDoes) {
  for (const rmfactory::Sound& sound : sounds()) {
    SCOPED_TRACE(sound.key);
    const std::map<std::string, float> values = presetValues(presetUri(sound));
    Instance inst(world(), kInstrument, kRate);
    ASSERT_TRUE(inst.ok()) << world().log();
    for (const PortInfo& port : inst.ports()) {
      if (!port.control || !port.input) continue;
      const auto value = values.find(port.symbol);
      ASSERT_NE(value, values.end()) << port.symbol << " is not set by the preset";
      EXPECT_GE(value->second, port.minimum) << port.symbol;
      EXPECT_LE(value->second, port.maximum) << port.symbol;
      inst.control(port.symbol) = value->second;
    }
    const Stereo expected = renderFactoryPatch(sound);
    const auto frames = static_cast<int64_t>(expected.left.size());
    const Stereo out = play(inst, scoreOf(phraseNotes(sound)), frames + 1,
                            [](int64_t done) { return done == 0 ? 1u : 256u; });
    ASSERT_TRUE(allFinite(out.left) && allFinite(out.right));
    const float loudest = std::max(peak(out.left), peak(out.right));
    EXPECT_GT(loudest, 0.5f);  // the patch peaks between -6 and -1 dBFS
    EXPECT_LT(loudest, 0.9f);
    EXPECT_LE(maxDifference(expected.left, out.left, 1), 1e-5);
    EXPECT_LE(maxDifference(expected.right, out.right, 1), 1e-5);
  }
}

TEST(Presets, TheInstrumentsDefaultsAreTheDefaultSound) {
  const auto values = presetValues(kInstrument + "/preset/" + rmfactory::kDefaultSound);
  Instance inst(world(), kInstrument, kRate);
  int controls = 0;
  for (const PortInfo& port : inst.ports()) {
    if (!port.control || !port.input) continue;
    ++controls;
    const auto value = values.find(port.symbol);
    ASSERT_NE(value, values.end()) << port.symbol;
    EXPECT_EQ(port.defaultValue, value->second) << port.symbol;
  }
  EXPECT_GT(controls, 30);
}

// Onsets: frames of 10 ms every 5 ms; an onset is a frame whose level rises by 6 dB or more over
// the quietest of the 40 ms before it, the strongest of such a run of frames, at least 80 ms
// after the last onset.
std::vector<double> onsetTimes(const Stereo& audio) {
  constexpr int kHop = kRate / 200;
  constexpr int kWindow = 2 * kHop;
  std::vector<double> levels;
  for (size_t start = 0; start + kWindow <= audio.left.size(); start += kHop) {
    double energy = 1e-12;
    for (size_t i = start; i < start + kWindow; ++i)
      energy += audio.left[i] * audio.left[i] + audio.right[i] * audio.right[i];
    levels.push_back(10.0 * std::log10(energy / kWindow));
  }
  std::vector<double> onsets;
  for (size_t i = 8; i < levels.size(); ++i) {
    const double before = *std::min_element(levels.begin() + static_cast<long>(i) - 8,
                                            levels.begin() + static_cast<long>(i));
    const double rise = levels[i] - before;
    if (rise < 6.0 || (i + 1 < levels.size() && levels[i + 1] - before > rise)) continue;
    const double time = static_cast<double>(i * kHop + kWindow / 2) / kRate;
    if (!onsets.empty() && time - onsets.back() < 0.08) continue;
    onsets.push_back(time);
  }
  return onsets;
}

TEST(Instrument, EverySeparateNoteOfTheDefaultSoundHasAClearOnset) {
  // Twelve separate notes over three octaves, repeated keys among them, at several velocities,
  // each 0.3 s long and 0.15 s before the next: every onset stands out, and nothing else does.
  // (The earlier defaults, 30 oscillators beating against each other, showed 32 onsets here.)
  const int keys[] = {48, 52, 55, 60, 60, 64, 67, 72, 72, 76, 79, 84};
  std::vector<Note> notes;
  for (int n = 0; n < 12; ++n) {
    const int64_t start = kRate / 10 + n * kRate * 9 / 20;
    notes.push_back({start, start + kRate * 3 / 10, keys[n], 60 + 5 * n});
  }
  Instance inst(world(), kInstrument, kRate);
  const Stereo out = play(inst, scoreOf(notes), 6 * kRate, steady(512));
  const std::vector<double> onsets = onsetTimes(out);
  ASSERT_EQ(onsets.size(), notes.size()) << "onsets found: " << ::testing::PrintToString(onsets);
  for (size_t n = 0; n < notes.size(); ++n)
    EXPECT_NEAR(onsets[n], static_cast<double>(notes[n].start) / kRate, 0.025) << "note " << n;
}

}  // namespace
}  // namespace lv2test

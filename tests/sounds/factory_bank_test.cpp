// The factory-bank generator: mistakes in a sound file named at their place, the renderer patch
// it writes, the preset values it gives every control, and the presets' Turtle.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "loaded_library.h"
#include "patch.h"
#include "presets.h"
#include "sound_bank.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kMinimal = R"(name = "Test Keys"
family = "plucks"
description = "A test"

[swarm]
N = 4
retrigger = "off"

[vellum]
Release = 2.0
"Overall Level" = 0.5

[instrument]
gain = 0.25

[[phrase]]
start = 0.5
length = 1.0
pitch = ["C4", 64]
velocity = 90
)";

class SoundFiles : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("factory_bank_test_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name) << text;
  }
  // The message loading the directory fails with, or "" when it loads.
  std::string failure() {
    try {
      rmfactory::loadSounds(dir_);
    } catch (const rmfactory::SoundError& error) {
      return error.what();
    }
    return "";
  }

  fs::path dir_;
};

TEST_F(SoundFiles, MistakesAreNamedAtTheirPlace) {
  struct Case {
    std::string from, to, message;
  };
  const Case cases[] = {
      {"[instrument]\ngain", "[instrument]\ngian", "test.toml:14:1: error: unknown key \"gian\""},
      {"\"plucks\"", "\"pluck\"", "test.toml:2:10: error: unknown family \"pluck\""},
      {"velocity = 90", "velocity = 0", "must be a number from 1 to 127"},
      {"N = 4", "N = true", "test.toml:6:5: error: a pin value is a number"},
      {"pitch = [\"C4\", 64]", "pitch = []", "a note needs at least one pitch"},
      {"[[phrase]]", "[[phrases]]", "needs \"phrase\""},
      {"name = \"Test Keys\"", "name = \"Test Keys", "test.toml:1:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.to);
    std::string text = kMinimal;
    text.replace(text.find(c.from), c.from.size(), c.to);
    write("test.toml", text);
    EXPECT_NE(failure().find(c.message), std::string::npos) << failure();
  }
  write("test.toml", kMinimal);
  EXPECT_EQ(failure(), "");
  write("Bad_Name.toml", kMinimal);
  EXPECT_NE(failure().find("lower-case letters, digits and '-'"), std::string::npos);
}

// The patch is one the renderer reads, and it plays as the instrument would: the release of a
// voice from the envelope's rate, velocity on "Overall Level", the chord as one note each.
TEST_F(SoundFiles, ThePatchPlaysThePhraseAsTheInstrument) {
  write("test-keys.toml", kMinimal);
  const auto sounds = rmfactory::loadSounds(dir_);
  ASSERT_EQ(sounds.size(), 1u);
  const std::string text = rmfactory::patchText(sounds.front());
  const rmcli::Patch patch = rmcli::parsePatch(text);
  ASSERT_EQ(patch.parts.size(), 1u);
  EXPECT_EQ(patch.parts[0].voices, 8);
  EXPECT_DOUBLE_EQ(patch.parts[0].release, 0.52);  // 1 / 2 + 0.02
  EXPECT_DOUBLE_EQ(*patch.render.length, 2.4);     // 1.5 + 0.52 + 0.3, to a tenth above
  ASSERT_EQ(patch.notes.size(), 2u);
  EXPECT_EQ(patch.notes[1].key, 64);
  EXPECT_EQ(patch.notes[1].velocity, 90);
  ASSERT_EQ(patch.mix.size(), 1u);
  EXPECT_EQ(patch.mix[0].gain, 0.25);
  EXPECT_NE(text.find("\"Overall Level\" = 0.5\n"), std::string::npos) << text;
  EXPECT_NE(text.find("velocity = \"Overall Level\", velocity_sensitivity = 0.7"),
            std::string::npos);
  EXPECT_NE(text.find("retrigger = \"off\"\n"), std::string::npos);
}

class FactoryPresets : public SoundFiles {
 protected:
  const rmhost::ModuleInfo& swarm() { return loadedLibrary(SWARM_PATH).info(); }
  const rmhost::ModuleInfo& vellum() { return loadedLibrary(VELLUM_PATH).info(); }
  rmlv2::Plugin instrument() { return rmlv2::describePlugins(swarm(), vellum()).front(); }

  rmfactory::Sound sound(const std::string& text) {
    write("test-keys.toml", text);
    return rmfactory::loadSounds(dir_).front();
  }
  float value(const std::vector<std::pair<const rmlv2::Port*, float>>& values,
              const std::string& symbol) {
    for (const auto& [port, v] : values)
      if (port->symbol == symbol) return v;
    ADD_FAILURE() << "no " << symbol;
    return NAN;
  }
};

TEST_F(FactoryPresets, EveryControlGetsTheSoundsValueOrTheModulesDefault) {
  const rmlv2::Plugin plugin = instrument();
  const auto values = rmfactory::presetValues(plugin, swarm(), vellum(), sound(kMinimal));
  size_t controls = 0;
  for (const rmlv2::Port& port : plugin.ports) controls += port.isControlIn();
  EXPECT_EQ(values.size(), controls);
  EXPECT_EQ(value(values, "osc_N"), 4.0f);
  EXPECT_EQ(value(values, "osc_retrigger"), 1.0f);  // "off" is 1
  EXPECT_EQ(value(values, "env_Overall_Level"), 0.5f);
  EXPECT_EQ(value(values, "env_Sustain"), 7.0f);  // the module's own default
  EXPECT_EQ(value(values, "osc_oscs"), 50.0f);
  EXPECT_EQ(value(values, "gain"), 0.25f);
  EXPECT_EQ(value(values, "voices"), 8.0f);
}

// A sound that leaves Release alone keeps its voices as long as vellum's own default rate asks.
TEST_F(FactoryPresets, TheReleaseOfAVoiceFollowsVellumsOwnDefault) {
  std::string text = kMinimal;
  text.erase(text.find("Release = 2.0\n"), 14);
  const rmfactory::Sound plain = sound(text);
  double rate = 0.0;
  for (const rmhost::PinInfo& pin : vellum().pins)
    if (pin.name == "Release") rate = rmhost::parseNumber(*pin.defaultText).value();
  ASSERT_GT(rate, 0.1);
  EXPECT_DOUBLE_EQ(plain.releaseSeconds(), 1.0 / rate + 0.02);
}

TEST_F(FactoryPresets, ValuesTheInstrumentCannotTakeAreRefused) {
  const rmlv2::Plugin plugin = instrument();
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"N = 4", "N = 4000", ":6:5: error: N = 4000 lies outside"},
      {"N = 4", "fc_1 = 0.5", ":6:8: error: fc_1 is no control"},  // the notes drive it
      {"retrigger = \"off\"", "retrigger = \"of\"", ":7:13: error: retrigger has no item"},
  };
  for (const auto& [from, to, expected] : cases) {
    SCOPED_TRACE(to);
    std::string text = kMinimal;
    text.replace(text.find(from), std::string(from).size(), to);
    const rmfactory::Sound bad = sound(text);
    const std::string place = (dir_ / "test-keys.toml").string() + expected;
    try {
      rmfactory::presetValues(plugin, swarm(), vellum(), bad);
      ADD_FAILURE() << "accepted";
    } catch (const rmfactory::SoundError& error) {
      EXPECT_EQ(std::string(error.what()).rfind(place, 0), 0u) << error.what();
    }
  }
}

// What the bundle's Turtle writer adds: a manifest statement per preset, in the prefixes it
// declares, and presets.ttl with every control of each preset.
TEST_F(FactoryPresets, TheManifestFindsEveryPresetInPresetsTtl) {
  const rmlv2::Plugin plugin = instrument();
  const std::vector<rmfactory::Sound> sounds{sound(kMinimal)};
  const rmlv2::ManifestExtras extras = rmfactory::presetExtras(plugin, swarm(), vellum(), sounds);
  ASSERT_EQ(extras.statements.size(), 1u);
  EXPECT_EQ(extras.statements[0], "<" + plugin.uri +
                                      "/preset/test-keys>\n"
                                      "  a <http://lv2plug.in/ns/ext/presets#Preset> ;\n"
                                      "  lv2:appliesTo <" +
                                      plugin.uri +
                                      "> ;\n"
                                      "  rdfs:seeAlso <presets.ttl> .");
  ASSERT_EQ(extras.files.size(), 1u);
  EXPECT_EQ(extras.files[0].first, "presets.ttl");
  const std::string& turtle = extras.files[0].second;
  EXPECT_NE(turtle.find("rdfs:label \"Test Keys\""), std::string::npos);
  EXPECT_NE(turtle.find("[ lv2:symbol \"osc_N\" ; pset:value 4.0 ]"), std::string::npos);
  EXPECT_NE(turtle.find("[ lv2:symbol \"osc_pitchspread\" ; pset:value 0.0 ]"), std::string::npos);
}

}  // namespace

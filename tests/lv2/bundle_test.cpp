// `rmhost lv2-bundle`: the bundle of any module library through a lilv host, the mapping of odd
// pin descriptions to ports, and bad input that must leave nothing behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "bundle_checks.h"
#include "lv2_bundle.h"
#include "lv2_test_support.h"
#include "rmhost/session.h"

namespace lv2test {
namespace {

namespace fs = std::filesystem;

// A fresh folder per test for libraries, metadata files and bundles.
class BundleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / ("rm_bundle_test_" + std::string(test->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A copy of a test module under the name `file`, with `metadata` beside it unless empty.
  std::string library(const char* built, const std::string& file,
                      const std::string& metadata = "") {
    fs::copy_file(built, dir_ / file);
    if (!metadata.empty())
      std::ofstream(dir_ / (fs::path(file).stem().string() + ".pins.toml")) << metadata;
    return (dir_ / file).string();
  }

  struct Result {
    int code = 0;
    std::string out;
    std::string err;
  };
  Result make(std::vector<std::string> libraries, const fs::path& output) {
    rmcli::Lv2BundleOptions options;
    options.libraries = std::move(libraries);
    options.output = output;
    options.bridge = bundle() + "/rackmill_lv2.so";
    std::ostringstream out, err;
    const int code = rmcli::runLv2Bundle(options, out, err);
    return {code, out.str(), err.str()};
  }

  // The folder holds nothing but `names`.
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

std::vector<std::string> symbols(World& world, const std::string& uri) {
  std::vector<std::string> found;
  Instance plugin(world, uri, 48000);
  for (const PortInfo& port : plugin.ports()) found.push_back(port.symbol);
  return found;
}

const std::string kSoundUri = "https://rackmill.example/lv2/module/pins_sound";

TEST_F(BundleTest, AModulePlaysInALilvHostAsInTheStandInHost) {
  const std::string lib = library(PINS_SOUND_PATH, "libgain.so",
                                  "[pin.in]\nport = \"audio\"\n"
                                  "[pin.level]\nminimum = 0.0\nmaximum = 2.0\nunit = \"dB\"\n");
  const Result made = make({lib}, dir_ / "gain.lv2");
  ASSERT_EQ(made.code, 0) << made.err;
  World world((dir_ / "gain.lv2").string());
  EXPECT_EQ(symbols(world, kSoundUri), (std::vector<std::string>{"in", "level", "mode", "out"}));
  for (const std::string& failure : checkBundlePlugin(world, kSoundUri)) ADD_FAILURE() << failure;

  // The output equals the module's in the stand-in host, sample for sample.
  Instance plugin(world, kSoundUri, 48000);
  plugin.control("level") = 0.25f;
  std::string error;
  auto module = rmhost::Library::load(lib, &error);
  rmhost::Session session({48000.0f, 256});
  const rmhost::InstanceId id = session.create(*module, session.addGroup());
  session.setInitial(id, session.findPin(id, "level"), 0.25);
  session.open(id);
  session.setStream(
      id, session.findPin(id, "in"),
      [](int64_t clock, float* out, int32_t n) {
        for (int32_t i = 0; i < n; ++i) out[i] = std::sin(0.01f * static_cast<float>(clock + i));
      },
      0);
  for (int block = 0; block < 8; ++block) {
    for (int i = 0; i < 256; ++i) {
      plugin.buffer("in")[i] = std::sin(0.01f * static_cast<float>(block * 256 + i));
    }
    plugin.run(256);
    session.runBlock();
    const float* expected = session.buffer(id, session.findPin(id, "out"));
    for (int i = 0; i < 256; ++i) ASSERT_EQ(plugin.buffer("out")[i], expected[i]) << block;
  }
}

// Also libraries whose names make the same Turtle file name or the manifest's, or hold a space.
TEST_F(BundleTest, OddPinNamesGiveValidUniqueSymbolsAndSixtyFourPinsSixtyFourPorts) {
  const Result made =
      make({library(PINS_ODD_PATH, "libodd x.so"), library(PINS_MANY_PATH, "libodd_x.so"),
            library(PINS_SOUND_PATH, "manifest.so")},
           dir_ / "odd.lv2");
  ASSERT_EQ(made.code, 0) << made.err;
  World world((dir_ / "odd.lv2").string());
  // Stable: the same names give these symbols, whatever else changes in the bundle.
  EXPECT_EQ(symbols(world, "https://rackmill.example/lv2/module/pins_odd"),
            (std::vector<std::string>{"in_put", "level", "level_2", "_3rd_band", "in_put_2",
                                      "pin_5", "__ber", "pin_7"}));
  EXPECT_EQ(symbols(world, "https://rackmill.example/lv2/module/pins_many").size(), 64u);
  for (const char* id : {"pins_odd", "pins_many", "pins_sound"}) {
    for (const std::string& failure :
         checkBundlePlugin(world, "https://rackmill.example/lv2/module/" + std::string(id))) {
      ADD_FAILURE() << failure;
    }
  }
}

TEST_F(BundleTest, BadInputIsNamedAndLeavesNothingBehind) {
  const std::string sound = library(PINS_SOUND_PATH, "libgain.so");
  std::ofstream(dir_ / "libtext.so") << "not a library";
  const std::string empty = library(PINS_NONE_PATH, "libnone.so");
  struct Case {
    std::vector<std::string> libraries;
    std::string output;
    int code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{(dir_ / "libtext.so").string()}, "a.lv2", 1, "is not a module library"},
      {{empty}, "a.lv2", 1, "describes no pin"},
      {{sound, sound}, "a.lv2", 1, "two libraries named libgain.so"},
      {{(dir_ / "libmissing.so").string()}, "a.lv2", 1, "cannot read the module library"},
      {{sound}, "a", 2, "must be named NAME.lv2"},
      {{sound}, "missing/a.lv2", 1, "cannot create"},
      {{sound}, "libgain.so/a.lv2", 1, "cannot create"},
  };
  const std::vector<std::string> before = entries();
  for (const Case& c : cases) {
    const Result made = make(c.libraries, dir_ / c.output);
    EXPECT_EQ(made.code, c.code) << c.output << ": " << made.err;
    EXPECT_NE(made.err.find(c.message), std::string::npos) << made.err;
    EXPECT_EQ(made.err.rfind("rmhost: error: ", 0), 0u) << made.err;
    EXPECT_EQ(entries(), before) << made.err;
  }
  // An existing folder is left as it was.
  fs::create_directory(dir_ / "kept.lv2");
  std::ofstream(dir_ / "kept.lv2" / "mine.txt") << "mine";
  const Result made = make({sound}, dir_ / "kept.lv2");
  EXPECT_EQ(made.code, 1);
  EXPECT_NE(made.err.find("exists"), std::string::npos) << made.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "kept.lv2"), fs::directory_iterator()), 1);
}

TEST_F(BundleTest, MetadataMistakesAreNamedWithTheirPlace) {
  const struct {
    std::string metadata;
    std::string message;
  } cases[] = {
      {"[pin.in\n", "libgain.pins.toml:1:"},
      {"[pin.volume]\nminimum = 0.0\n", "has no pin \"volume\""},
      {"[pin.level]\nport = \"loud\"\n", "libgain.pins.toml:2:8: error: \"port\" must be"},
      {"[pin.level]\nminimum = 2.0\nmaximum = 1.0\n", "minimum above maximum"},
      {"[pin.mode]\nport = \"audio\"\n", "only audio pins stream"},
      {"[pin.out]\nport = \"control\"\n", "is an output"},
      {"colour = \"red\"\n", "unknown key \"colour\""},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    const Result made = make({library(PINS_SOUND_PATH, "libgain.so", c.metadata)}, dir_ / "a.lv2");
    EXPECT_EQ(made.code, 1) << c.metadata;
    EXPECT_NE(made.err.find(c.message), std::string::npos) << made.err;
    EXPECT_FALSE(fs::exists(dir_ / "a.lv2"));
  }
}

// Hosts save port symbols: ours stay as they are.
TEST(OurBundle, PortSymbolsStayTheSame) {
  auto list = [](const std::string& uri) {
    std::string joined;
    for (const std::string& s : symbols(world(), uri)) joined += s + " ";
    return joined;
  };
  EXPECT_EQ(list(kSwarm),
            "gate sync pitch out_l out_r sync_from_gate fm1_1 N a_1 poly Wave_1 rotate incr "
            "pitchspread fm1_2 a_2 pitchShuffle wind phasespread oscs retrigger ");
  EXPECT_EQ(list(kVellum),
            "gate out Attack Hold Decay Sustain Release Overall_Level AttackForm DecayForm "
            "ReleaseForm FullAttack NoRelease LfoAmt LfoFreq LfoPhase LfoAlign dbmode ");
  EXPECT_EQ(list(kInstrument),
            "midi_in out_l out_r latency voices velocity_sensitivity gain osc_fm1_1 osc_N osc_a_1 "
            "osc_poly osc_Wave_1 osc_rotate osc_incr osc_pitchspread osc_fm1_2 osc_a_2 "
            "osc_pitchShuffle osc_wind osc_phasespread osc_oscs osc_retrigger env_Attack env_Hold "
            "env_Decay env_Sustain env_Release env_Overall_Level env_AttackForm env_DecayForm "
            "env_ReleaseForm env_FullAttack env_NoRelease env_LfoAmt env_LfoFreq env_LfoPhase "
            "env_LfoAlign env_dbmode ");
}

}  // namespace
}  // namespace lv2test

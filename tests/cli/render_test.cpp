// Rendering: what the host feeds the modules (with a test module that shows its gate), the gain
// stage and the mixer, patch mistakes that only the plug-ins reveal, and rmhost end to end:
// files, determinism, refused patches, and every example with the real plug-ins.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>

#include "patch.h"
#include "renderer.h"
#include "reported.h"

namespace {

namespace fs = std::filesystem;

// A patch text with TONE standing for the test module's library.
std::string withTone(std::string text) {
  for (size_t at; (at = text.find("TONE")) != std::string::npos;) text.replace(at, 4, TONE_PATH);
  return text;
}

rmcli::AudioBuffer render(const std::string& text) {
  rmcli::Renderer renderer(rmcli::parsePatch(withTone(text)), rmcli::PluginFinder({}));
  return renderer.render();
}

// Sample rate 8000, so that 0.0125 s is clock 100.
constexpr const char* kGatePatch = R"(
[render]
sample_rate = 8000
block_size = 16
length = 0.1

[[part]]
id = "p"
voices = 2
release = 0.005

[[module]]
id = "t"
plugin = "TONE"
part = "p"
notes = { gate = "gate" }

[[mix]]
source = "t.gate out"
pan = -1

[[note]]
start = 0.0125
length = 0.025
pitch = 60

[[note]]
start = 0.025
length = 0.03
pitch = 64
)";

TEST(Render, NoteGatesReachTheirVoicesAtExactSamples) {
  const auto audio = render(kGatePatch);
  ASSERT_EQ(audio.frames, 800);
  // Pan -1 puts a mono source on the left alone; the left sum counts the open gates.
  auto open = [&](int64_t frame) { return audio.left(frame); };
  EXPECT_EQ(open(99), 0.0f);
  EXPECT_EQ(open(100), 1.0f);
  EXPECT_EQ(open(199), 1.0f);
  EXPECT_EQ(open(200), 2.0f);  // the second note on the second voice
  EXPECT_EQ(open(299), 2.0f);
  EXPECT_EQ(open(300), 1.0f);
  EXPECT_EQ(open(439), 1.0f);
  EXPECT_EQ(open(440), 0.0f);
  for (int64_t f = 0; f < audio.frames; ++f) ASSERT_EQ(audio.right(f), 0.0f) << f;
}

TEST(Render, GainStageScalesEachVoiceByABroadcastControl) {
  // The control module has one voice and serves both voices of "t"; it is written after its
  // consumer's use, and "src" is fed by a connection from a module written later in the file.
  const auto audio = render(R"(
connect = ["ctl.gate out -> src.gate"]
[render]
sample_rate = 8000
length = 0.05
[[part]]
id = "p"
voices = 2
[[module]]
id = "t"
plugin = "TONE"
part = "p"
notes = { gate = "gate" }
[[module]]
id = "src"
plugin = "TONE"
[[module]]
id = "ctl"
plugin = "TONE"
pins = { gate = 0.25 }
[[gain]]
id = "vca"
input = "t.gate out"
control = "src.gate out"
[[mix]]
source = "vca"
pan = -1
[[note]]
start = 0
length = 1
pitch = [60, 67]
)");
  EXPECT_EQ(audio.left(0), 0.5f);  // two voices × gate 1 × control 0.25
  EXPECT_EQ(audio.left(399), 0.5f);
}

TEST(Render, MixerPansMonoWithConstantPowerAndBalancesStereo) {
  const char* patch = R"(
[render]
sample_rate = 8000
length = 0.01
gain = 2
[[module]]
id = "t"
plugin = "TONE"
pins = { gate = 0.5 }
[[mix]]
source = "t.gate out"
pan = PAN
[[mix]]
source = "t"
gain = 0
)";
  auto at = [&](const char* pan) {
    std::string text = patch;
    text.replace(text.find("PAN"), 3, pan);
    return render(text);
  };
  const auto centre = at("0");
  EXPECT_FLOAT_EQ(centre.left(10), static_cast<float>(2 * 0.5 * std::cos(std::numbers::pi / 4)));
  EXPECT_FLOAT_EQ(centre.right(10), centre.left(10));
  const auto right = at("1");
  EXPECT_NEAR(right.left(10), 0.0f, 1e-7);
  EXPECT_FLOAT_EQ(right.right(10), 1.0f);
}

TEST(Render, NotePinsApplyToTheirNoteOnly) {
  // The tone's level follows each note; a note without a value gets the module's level again.
  const auto audio = render(R"(
[render]
sample_rate = 8000
length = 0.04
[[part]]
id = "p"
voices = 1
[[module]]
id = "t"
plugin = "TONE"
part = "p"
notes = { gate = "gate" }
pins = { level = 0.5, wave = "square" }
[[mix]]
source = "t.out"
pan = -1
[[note]]
start = 0
length = 0.01
pitch = 69
pins = { t.level = 0.25 }
[[note]]
start = 0.02
length = 0.01
pitch = 69
)");
  EXPECT_EQ(std::fabs(audio.left(1)), 0.25f);
  EXPECT_EQ(std::fabs(audio.left(161)), 0.5f);
}

TEST(Render, VelocityScalesItsPinByTheVelocityGain) {
  // level 0.5; velocity 127 keeps it, velocity 64 at sensitivity 0.5 gives 0.5 × (0.5 + 0.5 ×
  // (64/127)²), and a note pin sets the value that velocity then scales.
  const auto audio = render(R"(
[render]
sample_rate = 8000
length = 0.06
[[part]]
id = "p"
voices = 1
[[module]]
id = "t"
plugin = "TONE"
part = "p"
notes = { gate = "gate", velocity = "level", velocity_sensitivity = 0.5 }
pins = { level = 0.5, wave = "square" }
[[mix]]
source = "t.out"
pan = -1
[[note]]
start = 0
length = 0.01
pitch = 69
[[note]]
start = 0.02
length = 0.01
pitch = 69
velocity = 64
)");
  const double gain = 0.5 + 0.5 * (64.0 / 127.0) * (64.0 / 127.0);
  EXPECT_EQ(std::fabs(audio.left(1)), 0.5f);
  EXPECT_EQ(std::fabs(audio.left(161)), static_cast<float>(0.5 * gain));
}

struct PluginMistake {
  const char* name;
  std::string text;
  int line;
  const char* message;
};

// Lines 1-11; a connect line written before it moves every line down by one.
const std::string kTwoModules =
    "[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"TONE\"\n"
    "[[module]]\nid = \"b\"\nplugin = \"TONE\"\nvoices = 3\n[[mix]]\nsource = \"a.out\"\n";

const PluginMistake kMistakes[] = {
    {"unknown plugin",
     "[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"swarn\"\n[[mix]]\nsource = \"a\"\n",
     5, "plug-in \"swarn\" not found"},
    {"unknown pin",
     "[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"TONE\"\n"
     "pins = { gat = 1 }\n[[mix]]\nsource = \"a\"\n",
     6, "has no pin \"gat\"; did you mean \"gate\"?"},
    {"unknown list label",
     "[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"TONE\"\n"
     "[module.pins]\nwave = \"saw\"\n[[mix]]\nsource = \"a\"\n",
     7, "takes one of: \"sine\", \"square\""},
    {"list value not in list",
     "[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"TONE\"\n"
     "pins = { wave = 2 }\n[[mix]]\nsource = \"a\"\n",
     6, "takes one of: 0, 1"},
    {"setting an output",
     "[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"TONE\"\n"
     "pins = { out = 1 }\n[[mix]]\nsource = \"a\"\n",
     6, "is an output"},
    {"connection into an output", "connect = [\"a.out -> b.out\"]\n" + kTwoModules, 1,
     "\"b.out\" is not an audio input"},
    {"connection from an input", "connect = [\"a.gate -> b.gate\"]\n" + kTwoModules, 1,
     "\"a.gate\" is not an audio output"},
    {"voice counts differ", "connect = [\"b.out -> a.level\"]\n" + kTwoModules, 1,
     "cannot connect 3 voices to 1"},
    {"loop",
     "connect = [\n\"a.out -> b.level\",\n\"b.out -> a.level\",\n]\n[render]\nlength = 1\n"
     "[[module]]\nid = \"a\"\nplugin = \"TONE\"\n[[module]]\nid = \"b\"\nplugin = \"TONE\"\n"
     "[[mix]]\nsource = \"a.out\"\n",
     2, "loop through \"a\""},
    {"pin set and connected",
     "connect = [\"a.out -> b.level\"]\n[render]\nlength = 1\n[[module]]\nid = \"a\"\n"
     "plugin = \"TONE\"\n[[module]]\nid = \"b\"\nplugin = \"TONE\"\npins = { level = 0.5 }\n"
     "[[mix]]\nsource = \"a.out\"\n",
     1, "already fed by a value in its pins (line 10)"},
    {"note pin and connection",
     "connect = [\"a.out -> b.level\"]\n[render]\nlength = 1\n[[part]]\nid = \"p\"\n"
     "[[module]]\nid = \"a\"\nplugin = \"TONE\"\n[[module]]\nid = \"b\"\nplugin = \"TONE\"\n"
     "part = \"p\"\n[[mix]]\nsource = \"a.out\"\n[[note]]\nstart = 0\nlength = 1\npitch = 60\n"
     "pins = { b.level = 0.5 }\n",
     1, "already fed by a note (line 19)"},
    {"input fed twice",
     "connect = [\"a.out -> b.level\", \"a.gate out -> b.level\"]\n" + kTwoModules, 1,
     "already fed by a connection (line 1)"},
    {"gain control of two signals",
     kTwoModules + "[[gain]]\nid = \"g\"\ninput = \"a.out\"\ncontrol = \"b\"\n", 15,
     "a gain's control is one signal"},
    {"gain of unequal voices",
     kTwoModules + "[[module]]\nid = \"c\"\nplugin = \"TONE\"\nvoices = 2\n"
                   "[[gain]]\nid = \"g\"\ninput = \"b.out\"\ncontrol = \"c.out\"\n",
     16, "signals of 2 and 3 voices"},
};

class PluginMistakes : public testing::TestWithParam<PluginMistake> {};

TEST_P(PluginMistakes, AreRejectedWithTheirLine) {
  const PluginMistake& mistake = GetParam();
  try {
    rmcli::Renderer renderer(rmcli::parsePatch(withTone(mistake.text)), rmcli::PluginFinder({}));
    FAIL() << "accepted";
  } catch (const rmcli::PatchError& error) {
    EXPECT_TRUE(reported(error, mistake.line, mistake.message)) << allMessages(error);
  }
}

INSTANTIATE_TEST_SUITE_P(Render, PluginMistakes, testing::ValuesIn(kMistakes),
                         [](const testing::TestParamInfo<PluginMistake>& param) {
                           std::string name = param.param.name;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// --- rmhost end to end --------------------------------------------------------------------

class Rmhost : public testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() / ("rmhost_test_" + std::to_string(getpid()) + "_" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs rmhost in the test directory; answers its exit code, keeps its output.
  int run(const std::string& arguments) {
    const std::string command =
        "cd '" + dir_.string() + "' && '" RMHOST_PATH "' " + arguments + " > out.txt 2> err.txt";
    const int status = std::system(command.c_str());
    out_ = read(dir_ / "out.txt");
    err_ = read(dir_ / "err.txt");
    fs::remove(dir_ / "out.txt");
    fs::remove(dir_ / "err.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name) << text;
  }

  static std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
  std::string out_;
  std::string err_;
};

struct WavFile {
  SF_INFO info{};
  std::vector<float> samples;
};

WavFile readWav(const fs::path& path) {
  WavFile wav;
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &wav.info);
  if (!file) return wav;
  wav.samples.resize(static_cast<size_t>(wav.info.frames * wav.info.channels));
  sf_readf_float(file, wav.samples.data(), wav.info.frames);
  sf_close(file);
  return wav;
}

TEST_F(Rmhost, RendersWavAndPngTheSameWayTwice) {
  write("tone.toml", withTone(kGatePatch));
  ASSERT_EQ(run("render tone.toml --png tone.png"), 0) << err_;
  EXPECT_NE(out_.find("wrote tone.wav (0.10 s, 8000 Hz, stereo, 32-bit float"), std::string::npos)
      << out_;
  EXPECT_NE(out_.find("x real time"), std::string::npos) << out_;
  const std::string wav = read(dir_ / "tone.wav"), png = read(dir_ / "tone.png");
  ASSERT_EQ(run("render tone.toml -o again.wav --png again.png"), 0) << err_;
  EXPECT_EQ(read(dir_ / "again.wav"), wav);
  EXPECT_EQ(read(dir_ / "again.png"), png);
  EXPECT_EQ(png.substr(1, 3), "PNG");

  // Float samples under the extensible header (float sub-format, 24 extension bytes) and a fact
  // chunk, which sox and libsndfile both read without a warning.
  EXPECT_EQ(wav.substr(12, 10), std::string("fmt \x2a\0\0\0\xfe\xff", 10));
  EXPECT_EQ(wav.substr(36, 8), std::string("\x18\0\x20\0\x03\0\0\0", 8));
  EXPECT_EQ(wav.substr(60, 14), std::string("\0\0fact\x04\0\0\0\x20\x03\0\0", 14));
  const WavFile file = readWav(dir_ / "tone.wav");
  EXPECT_EQ(file.info.format, SF_FORMAT_WAVEX | SF_FORMAT_FLOAT);
  EXPECT_EQ(file.info.channels, 2);
  EXPECT_EQ(file.info.frames, 800);

  ASSERT_EQ(run("render tone.toml -q --bits 16 -o short.wav"), 0) << err_;
  EXPECT_EQ(out_, "");
  const WavFile pcm = readWav(dir_ / "short.wav");
  EXPECT_EQ(pcm.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  EXPECT_FLOAT_EQ(pcm.samples[2 * 150], 1.0f - 1.0f / 32768.0f);  // full scale, clipped
  EXPECT_NE(err_.find("clipped"), std::string::npos) << err_;     // the overlap peaks at 2
}

TEST_F(Rmhost, RefusedPatchNamesTheLineAndLeavesNoFile) {
  write("bad.toml", withTone("[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"TONE\"\n"
                             "pins = { levle = 1 }\n[[mix]]\nsource = \"a\"\n"));
  EXPECT_EQ(run("render bad.toml -o bad.wav --png bad.png"), 1);
  EXPECT_EQ(err_.rfind("bad.toml:6:", 0), 0u) << err_;
  EXPECT_NE(err_.find("did you mean \"level\""), std::string::npos) << err_;
  EXPECT_EQ(files(), (std::vector<std::string>{"bad.toml"}));

  write("broken.toml", "[render]\nlength = 1\n[[module]\n");
  EXPECT_EQ(run("render broken.toml"), 1);
  EXPECT_EQ(err_.rfind("broken.toml:3:", 0), 0u) << err_;
  EXPECT_EQ(files(), (std::vector<std::string>{"bad.toml", "broken.toml"}));
}

// A MIDI file on the command line: its notes on the patch's first part, the messages nothing
// follows named in the summary, the WAV file named after the song; a damaged file leaves nothing.
TEST_F(Rmhost, PlaysAMidiFileAndNamesWhatItIgnored) {
  const fs::path midi = MIDI_FIXTURES;
  write("tone.toml", withTone(kGatePatch));
  ASSERT_EQ(run("render tone.toml --midi '" + (midi / "ignored.mid").string() + "'"), 0) << err_;
  EXPECT_NE(out_.find("ignored.mid: 2 notes; ignored 3 pitch bends, 2 program changes, "
                      "2 controller messages (CC 1, 7), 1 channel pressure message, "
                      "1 poly pressure message, 1 system-exclusive message\n"),
            std::string::npos)
      << out_;
  EXPECT_NE(out_.find("wrote ignored.wav (0.10 s"), std::string::npos) << out_;
  EXPECT_EQ(run("render tone.toml -q -o quiet.wav --midi '" + (midi / "tempo.mid").string() + "'"),
            0);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(files(), (std::vector<std::string>{"ignored.wav", "quiet.wav", "tone.toml"}));

  std::ifstream table(midi / "malformed.tsv");
  for (std::string line; std::getline(table, line);) {
    const std::string name = line.substr(0, line.find('\t'));
    const std::string offset =
        line.substr(name.size() + 1, line.find('\t', name.size() + 1) - name.size() - 1);
    SCOPED_TRACE(name);
    EXPECT_EQ(run("render tone.toml -o bad.wav --png bad.png --midi '" +
                  (midi / (name + ".mid")).string() + "'"),
              1);
    EXPECT_EQ(err_.rfind((midi / name).string() + ".mid: error: byte " + offset + ": ", 0), 0u)
        << err_;
    EXPECT_EQ(files(), (std::vector<std::string>{"ignored.wav", "quiet.wav", "tone.toml"}));
  }
}

TEST_F(Rmhost, InfoListsPinsAsTextAndJson) {
  const std::string dir = fs::path(TONE_PATH).parent_path().string();
  ASSERT_EQ(run("--plugin-path '" + dir + "' info cli_test_tone"), 0) << err_;
  EXPECT_NE(out_.find("tone\n  name:     Test tone\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("      3 wave      input      list     0\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("items: sine=0, square=1"), std::string::npos) << out_;
  ASSERT_EQ(run("info '" TONE_PATH "' --json"), 0) << err_;
  EXPECT_NE(out_.find("\"name\" : \"gate out\""), std::string::npos) << out_;
  EXPECT_EQ(run("info nonesuch"), 1);
  EXPECT_NE(err_.find("plug-in \"nonesuch\" not found"), std::string::npos) << err_;
}

// Every way a command line can go wrong: the exit code (1 bad input, 2 usage) and the first line
// of what rmhost says, which starts with "rmhost:" or a file position and names what to do.
TEST_F(Rmhost, ErrorsGiveTheirExitCodeAndSayWhatToDo) {
  const fs::path midi = MIDI_FIXTURES;
  const std::string here = dir_.string() + "/";
  const std::string tone = "--plugin-path '" + fs::path(TONE_PATH).parent_path().string() + "' ";
  write("tone.toml", withTone(kGatePatch));
  write("two.toml", withTone("[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"TONE\"\n"
                             "pins = { levle = 1, gat = 0 }\n[[mix]]\nsource = \"b\"\n"));
  write("plugin.toml",
        "[render]\nlength = 1\n[[module]]\nid = \"a\"\nplugin = \"cli_test_tne\"\n"
        "[[mix]]\nsource = \"a\"\n");
  struct Case {
    std::string arguments;
    int exitCode;
    std::string firstLine;
  };
  const Case cases[] = {
      {"render nothere.toml", 1,
       "rmhost: error: cannot read the patch file " + here +
           "nothere.toml: No such file or directory"},
      {"render two.toml", 1,
       "two.toml:6:18: error: module \"a\" (tone) has no pin \"levle\"; did you mean \"level\"?"},
      {tone + "render plugin.toml", 1,
       "plugin.toml:5:10: error: plug-in \"cli_test_tne\" not found; did you mean "
       "\"cli_test_tone\"?"},
      {"render tone.toml --midi nothere.mid", 1,
       "rmhost: error: cannot read the MIDI file " + here +
           "nothere.mid: No such file or directory"},
      {"render tone.toml --midi '" + (midi / "no-notes.mid").string() + "'", 1,
       (midi / "no-notes.mid").string() + ": error: byte 30: the file holds no notes"},
      {"render tone.toml -o missing/out.wav", 1,
       "rmhost: error: cannot write in " + here + "missing: No such file or directory"},
      {"info nonesuch-plugin", 1, "rmhost: error: plug-in \"nonesuch-plugin\" not found in "},
      {"check lib/nonesuch.so", 1,
       "rmhost: error: cannot read the module library " + here +
           "lib/nonesuch.so: No such file or directory"},
      {"info '" NOT_A_MODULE_PATH "'", 1,
       "rmhost: error: cannot load the plug-in: " NOT_A_MODULE_PATH
       ": not a module library (missing getModuleProperties)"},
      {"check '" NOT_A_MODULE_PATH "'", 1,
       "rmhost: error: cannot load the plug-in: " NOT_A_MODULE_PATH
       ": not a module library (missing getModuleProperties)"},
      {"render", 2, "rmhost: error: patch is required"},
      {"render tone.toml --bits 12", 2, "rmhost: error: --bits: 12 not in {16,24,32}"},
      {"check", 2, "rmhost: error: plugin is required"},
      {"rendr tone.toml", 2,
       "rmhost: error: unknown command \"rendr\"; did you mean \"render\"? (the commands: info, "
       "render, check, lv2-bundle)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    EXPECT_EQ(run(c.arguments), c.exitCode) << err_;
    const std::string first = err_.substr(0, err_.find('\n'));
    EXPECT_EQ(first.substr(0, c.firstLine.size()), c.firstLine) << err_;
    EXPECT_EQ(out_, "");
  }
  EXPECT_EQ(run("render two.toml"), 1);
  EXPECT_EQ(std::count(err_.begin(), err_.end(), '\n'), 3) << err_;  // gat, levle and the mix
  EXPECT_EQ(run("--help"), 0);
  EXPECT_NE(out_.find("Exit codes: 0 success, 1 bad input or a failed check, 2 usage error."),
            std::string::npos)
      << out_;
}

// Every example renders with the real plug-ins: a stereo float file of the patch's length,
// finite, audible, and the same bytes on a second run.
TEST_F(Rmhost, EveryExampleRenders) {
  const fs::path plugins = fs::path(RMHOST_PATH).parent_path().parent_path() / "plugins";
  if (!fs::exists(plugins / "libswarm.so") || !fs::exists(plugins / "libvellum.so"))
    GTEST_SKIP() << "swarm and vellum are not built";
  int examples = 0;
  for (const auto& entry : fs::directory_iterator(EXAMPLES_DIR)) {
    if (entry.path().extension() != ".toml") continue;
    ++examples;
    const std::string name = entry.path().stem().string();
    SCOPED_TRACE(name);
    const rmcli::Patch patch = rmcli::loadPatch(entry.path());
    const std::string args = "render '" + entry.path().string() + "' -q -o " + name;
    ASSERT_EQ(run(args + "1.wav --png " + name + ".png"), 0) << err_;
    ASSERT_EQ(run(args + "2.wav"), 0) << err_;
    EXPECT_EQ(err_, "");
    const std::string bytes = read(dir_ / (name + "1.wav"));
    EXPECT_EQ(read(dir_ / (name + "2.wav")), bytes);
    EXPECT_EQ(read(dir_ / (name + ".png")).substr(1, 3), "PNG");

    const WavFile wav = readWav(dir_ / (name + "1.wav"));
    EXPECT_EQ(wav.info.format, SF_FORMAT_WAVEX | SF_FORMAT_FLOAT);
    EXPECT_EQ(wav.info.channels, 2);
    EXPECT_EQ(wav.info.samplerate, patch.render.sampleRate);
    EXPECT_EQ(wav.info.frames, std::llround(*patch.render.length * patch.render.sampleRate));
    double energy[2] = {0.0, 0.0};
    for (size_t i = 0; i < wav.samples.size(); ++i) {
      ASSERT_TRUE(std::isfinite(wav.samples[i])) << "sample " << i;
      energy[i % 2] += static_cast<double>(wav.samples[i]) * wav.samples[i];
    }
    for (double e : energy) EXPECT_GT(std::sqrt(e / wav.info.frames), 0.01);  // RMS above -40 dB
  }
  EXPECT_GE(examples, 3);
}

}  // namespace

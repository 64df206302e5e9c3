// A mix above full scale warns in every output format, names the loudest strip at its line, and
// the master gain it proposes brings the peak to -1 dBFS.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>

#include "rmhost_run.h"

namespace {

// Both modules left at their own defaults, as a new user's first patch does: far too loud.
std::string defaultLevelPatch(const std::string& renderGain) {
  return "[render]\nsample_rate = 48000\nlength = 1.2\ngain = " + renderGain +
         "\n"
         "[[part]]\nid = \"keys\"\nvoices = 2\n"
         "[[module]]\nid = \"osc\"\nplugin = \"swarm\"\npart = \"keys\"\n"
         "notes = { pitch = \"fc_1\", voice_gate = \"gate\", trigger = \"sync\" }\n"
         "[[module]]\nid = \"env\"\nplugin = \"vellum\"\npart = \"keys\"\n"
         "notes = { gate = \"Gate\" }\n"
         "[[gain]]\nid = \"vca\"\ninput = [\"osc.outputl\", \"osc.outputr\"]\n"
         "control = \"env.Signal Out\"\n"
         "[[mix]]\nsource = \"osc\"\ngain = 0.01\n"
         "[[mix]]\nsource = \"vca\"\ngain = 0.4\n"  // line 25
         "[[note]]\nstart = 0.0\nlength = 1.0\npitch = [\"C4\", \"G4\"]\n";
}

double peakDbfs(const std::string& summary) {
  std::smatch match;
  if (!std::regex_search(summary, match, std::regex("peak ([-+][0-9.]+) dBFS"))) return NAN;
  return std::stod(match[1]);
}

TEST(LevelWarning, EveryFormatWarnsAndTheProposedGainFixesIt) {
  ScratchDir dir("level_warning");
  std::ofstream(dir.path() / "loud.toml") << defaultLevelPatch("1.0");
  for (const char* bits : {"32", "24", "16"}) {
    SCOPED_TRACE(bits);
    const RmhostRun run = runRmhost(dir.path(), std::string("render loud.toml --bits ") + bits);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_GT(peakDbfs(run.out), 10.0) << run.out;
    EXPECT_EQ(run.err.rfind("rmhost: warning: the mix peaks at +", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(std::string(bits) == "32" ? "the float file keeps the overs"
                                                     : "is clipped in loud.wav"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("\nloud.toml:25:1: note: the loudest mix strip, source \"vca\" with "
                           "gain 0.4"),
              std::string::npos)
        << run.err;
  }

  const RmhostRun loud = runRmhost(dir.path(), "render loud.toml -q");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(loud.err, match, std::regex("set gain = ([0-9.e-]+) under")))
      << loud.err;
  std::ofstream(dir.path() / "fixed.toml") << defaultLevelPatch(match[1]);
  const RmhostRun fixed = runRmhost(dir.path(), "render fixed.toml");
  ASSERT_EQ(fixed.status, 0) << fixed.err;
  EXPECT_EQ(fixed.err, "");
  EXPECT_NEAR(peakDbfs(fixed.out), -1.0, 0.05) << fixed.out;
}

}  // namespace

// `rmhost info` on our modules: every input and setting pin says what it does, in which unit
// and over which range, in text and in JSON, and the flags word is decoded.
#include <gtest/gtest.h>

#include <string>

#include "rmhost/pin_metadata.h"
#include "rmhost_run.h"

namespace {

class Info : public testing::TestWithParam<const char*> {};

// JSON is read by Python's own parser, so that the test checks what a program would get.
TEST_P(Info, JsonGivesEveryInputAndSettingPinItsMeaning) {
  ScratchDir dir(std::string("info_json_") + GetParam());
  const RmhostRun run = runRmhost(dir.path(), std::string("info --json ") + GetParam());
  ASSERT_EQ(run.status, 0) << run.err;
  std::ofstream(dir.path() / "info.json") << run.out;
  const char* check = R"(
import json, sys
info = json.load(open('info.json'))
assert info['flags'] == 2240 and info['flag_bits'] == [6, 7, 11], info['flag_bits']
inputs = 0
for pin in info['pins']:
    if pin['direction'] == 'output':
        continue
    inputs += 1
    assert isinstance(pin['description'], str) and len(pin['description']) > 20, pin
    assert isinstance(pin['unit'], str), pin
    assert isinstance(pin['min'], float) and isinstance(pin['max'], float), pin
    assert pin['min'] < pin['max'], pin
    assert isinstance(pin['default'], (int, float)), pin
    for item in pin.get('list', []):
        assert item['meaning'], item
print(inputs)
)";
  std::ofstream(dir.path() / "check.py") << check;
  const RmhostRun python{
      std::system(("cd '" + dir.path().string() + "' && python3 check.py > count.txt 2> error.txt")
                      .c_str()),
      readFile(dir.path() / "count.txt"), readFile(dir.path() / "error.txt")};
  EXPECT_EQ(python.status, 0) << python.err;
  EXPECT_EQ(python.out, std::string(GetParam()) == "swarm" ? "18\n" : "17\n");
}

TEST_P(Info, TextShowsRangesUnitsAndDescriptions) {
  ScratchDir dir(std::string("info_text_") + GetParam());
  const RmhostRun run = runRmhost(dir.path(), std::string("info ") + GetParam());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("flags:    2240 (0x8c0: bits 6, 7, 11)\n"), std::string::npos);
  const rmhost::ModuleMetadata* module = rmhost::findModuleMetadata(GetParam());
  ASSERT_NE(module, nullptr);
  for (const rmhost::PinMetadata& pin : module->pins) {
    // The description's first words follow the pin's row, under its name.
    const std::string start(pin.description.substr(0, pin.description.find(' ', 12)));
    EXPECT_NE(run.out.find(std::string(15, ' ') + start), std::string::npos) << pin.pin;
  }
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LE(line.size(), 100u) << line;
    EXPECT_FALSE(!line.empty() && line.back() == ' ') << line;
  }
}

INSTANTIATE_TEST_SUITE_P(Modules, Info, testing::Values("swarm", "vellum"));

TEST(InfoText, ListItemsWithWordsAreExplainedOneByOne) {
  ScratchDir dir("info_items");
  const RmhostRun run = runRmhost(dir.path(), "info vellum");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("     10 FullAttack"), std::string::npos);
  EXPECT_NE(run.out.find("               top mod=4: tremolo"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("     16 Signal Out     output     audio    -"), std::string::npos);
}

}  // namespace

// The pin metadata table against the modules it describes: every pin of both libraries has an
// entry, every list item a meaning, and every range and text is usable by what shows them.
#include "rmhost/pin_metadata.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "loaded_library.h"

namespace {

struct ModuleCase {
  const char* id;
  const char* path;
  size_t pins;
};

class PinMetadataTest : public testing::TestWithParam<ModuleCase> {};

TEST_P(PinMetadataTest, CoversEveryPinAndListItemOfTheLibrary) {
  const rmhost::ModuleInfo& info = loadedLibrary(GetParam().path).info();
  ASSERT_EQ(info.id, GetParam().id);
  ASSERT_EQ(info.pins.size(), GetParam().pins);
  const rmhost::ModuleMetadata* module = rmhost::findModuleMetadata(info.id);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->pins.size(), info.pins.size()) << "the table describes pins the module lacks";
  for (const rmhost::PinInfo& pin : info.pins) {
    SCOPED_TRACE(pin.name);
    const rmhost::PinMetadata* entry = module->find(pin.name);
    ASSERT_NE(entry, nullptr);
    EXPECT_GE(entry->description.size(), 20u);
    EXPECT_NE(entry->description.back(), '.') << "one sentence without a final full stop";
    EXPECT_LT(entry->minimum, entry->maximum);
    if (!pin.listText) {
      EXPECT_TRUE(entry->items.empty());
      continue;
    }
    const auto items = rmhost::parseListItems(*pin.listText);
    ASSERT_TRUE(items);
    ASSERT_EQ(entry->items.size(), items->size());
    for (size_t i = 0; i < items->size(); ++i) {
      EXPECT_EQ(entry->items[i].label, (*items)[i].label);
      EXPECT_FALSE(entry->items[i].meaning.empty());
      EXPECT_GE((*items)[i].value, entry->minimum);
      EXPECT_LE((*items)[i].value, entry->maximum);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modules, PinMetadataTest,
                         testing::Values(ModuleCase{"swarm", SWARM_PATH, 20},
                                         ModuleCase{"vellum", VELLUM_PATH, 18}),
                         [](const auto& param) { return std::string(param.param.id); });

TEST(PinMetadata, ModulesAndPinsAreFoundByNameOnly) {
  EXPECT_EQ(rmhost::allModuleMetadata().size(), 2u);
  EXPECT_EQ(rmhost::findModuleMetadata("probe"), nullptr);
  const rmhost::ModuleMetadata* vellum = rmhost::findModuleMetadata("vellum");
  ASSERT_NE(vellum, nullptr);
  EXPECT_EQ(vellum->find("overall level"), nullptr);
  ASSERT_NE(vellum->find("Overall Level"), nullptr);
  EXPECT_EQ(vellum->find("LfoFreq")->unit, "Hz");
  for (const rmhost::ModuleMetadata& module : rmhost::allModuleMetadata()) {
    std::set<std::string_view> names;
    for (const rmhost::PinMetadata& pin : module.pins)
      EXPECT_TRUE(names.insert(pin.pin).second)
          << module.moduleId << " lists " << pin.pin << " twice";
  }
}

// The pin tables of the sound guide, by module: each row's cells after the pin's name.
std::map<std::string, std::map<std::string, std::vector<std::string>>> guideTables() {
  std::ifstream in(DOCS_DIR "/sound-guide.md");
  std::map<std::string, std::map<std::string, std::vector<std::string>>> tables;
  std::string module;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("<!-- pins: ", 0) == 0) {
      module = line.substr(11, line.find(' ', 11) - 11);
      continue;
    }
    if (line == "<!-- end of pins -->") module.clear();
    if (module.empty() || line.rfind("| `", 0) != 0) continue;
    std::vector<std::string> cells;
    std::istringstream row(line.substr(2));
    for (std::string cell; std::getline(row, cell, '|');) {
      cell.erase(0, cell.find_first_not_of(' '));
      cell.erase(cell.find_last_not_of(' ') + 1);
      cells.push_back(cell);
    }
    const std::string name = cells.front().substr(1, cells.front().size() - 2);
    cells.erase(cells.begin());
    EXPECT_TRUE(tables[module].emplace(name, cells).second) << name << " twice in " << module;
  }
  return tables;
}

// The guide's pin tables say what the metadata says, pin for pin and word for word.
TEST(PinMetadata, TheGuidesPinTablesFollowTheTable) {
  const auto tables = guideTables();
  ASSERT_EQ(tables.size(), 2u) << "docs/sound-guide.md should have a pin table per module";
  for (const rmhost::ModuleMetadata& module : rmhost::allModuleMetadata()) {
    SCOPED_TRACE(module.moduleId);
    const auto table = tables.find(std::string(module.moduleId));
    ASSERT_NE(table, tables.end());
    EXPECT_EQ(table->second.size(), module.pins.size());
    for (const rmhost::PinMetadata& pin : module.pins) {
      const auto row = table->second.find(std::string(pin.pin));
      ASSERT_NE(row, table->second.end()) << pin.pin << " has no row";
      std::ostringstream range;
      range << pin.minimum << " to " << pin.maximum;
      const std::vector<std::string> expected{std::string(pin.description),
                                              pin.unit.empty() ? "–" : std::string(pin.unit),
                                              range.str()};
      EXPECT_EQ(row->second, expected) << pin.pin;
    }
  }
}

}  // namespace

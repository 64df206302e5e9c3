// Loading module libraries and reading their descriptions and pin texts.
#include <gtest/gtest.h>

#include "rmhost/library.h"

namespace {

TEST(Library, LoadFailuresExplainThemselves) {
  std::string error;
  EXPECT_EQ(rmhost::Library::load("/nonexistent/libnothing.so", &error), nullptr);
  EXPECT_NE(error.find("libnothing"), std::string::npos);
  error.clear();
  // A shared library without the two exports is refused.
#ifdef _WIN32
  const char* systemLibrary = "kernel32.dll";
#else
  const char* systemLibrary = "libm.so.6";
#endif
  EXPECT_EQ(rmhost::Library::load(systemLibrary, &error), nullptr);
  EXPECT_NE(error.find("getModuleProperties"), std::string::npos);
}

TEST(Library, InfoReadsTheIdentity) {
  std::string error;
  auto library = rmhost::Library::load(PROBE_PATH, &error);
  ASSERT_NE(library, nullptr) << error;
  const rmhost::ModuleInfo& info = library->info();
  EXPECT_EQ(info.id, "probe");
  EXPECT_EQ(info.name, "Probe Module");
  EXPECT_EQ(info.flags, 2240);
  EXPECT_TRUE(info.pins.empty());  // the probe describes pins only when a test hands them over
}

TEST(ListItems, ParseLabelsWithSpacesAndNegativeValues) {
  const auto items = rmhost::parseListItems("off=0,normal=1,bottom mod=2,minus=-3");
  ASSERT_TRUE(items);
  ASSERT_EQ(items->size(), 4u);
  EXPECT_EQ((*items)[2].label, "bottom mod");
  EXPECT_EQ((*items)[2].value, 2);
  EXPECT_EQ((*items)[3].value, -3);
}

TEST(ListItems, RejectMalformedTexts) {
  for (const char* text : {"", "off", "=1", "a=1,", "a=1,,b=2", "a=x", "a=1.5", "a=99999999999"}) {
    EXPECT_FALSE(rmhost::parseListItems(text)) << text;
  }
}

TEST(Numbers, WholeTextMustBeANumber) {
  EXPECT_EQ(rmhost::parseNumber("10"), 10.0);
  EXPECT_EQ(rmhost::parseNumber("-0.5"), -0.5);
  EXPECT_FALSE(rmhost::parseNumber(""));
  EXPECT_FALSE(rmhost::parseNumber("1x"));
  EXPECT_FALSE(rmhost::parseNumber("1e999"));
}

}  // namespace

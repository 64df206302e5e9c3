// A host may leave the x87 unit in another precision or rounding mode when it calls a module
// (some set single precision). Where the C runtime computes sin, cos, exp and log on the x87
// unit, the modules' samples must not follow it, and the host gets its own control word back.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "scenarios.h"

namespace {

#if defined(_WIN32) && (defined(__i386__) || defined(__x86_64__))
#define RM_TEST_X87 1

uint16_t controlWord() {
  uint16_t word = 0;
  __asm__ volatile("fnstcw %0" : "=m"(word));
  return word;
}

void setControlWord(uint16_t word) {
  __asm__ volatile("fldcw %0" : : "m"(word));
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}
#endif

TEST(X87ControlWord, SamplesDoNotFollowTheHostsPrecisionOrRounding) {
#ifndef RM_TEST_X87
  GTEST_SKIP() << "the C runtime's maths does not use the x87 unit on this platform";
#else
  const uint16_t saved = controlWord();
  // Single precision, round to nearest; double precision, round down; extended, toward zero.
  const uint16_t hostWords[] = {0x007f, 0x067f, 0x0f7f};
  for (const platform_test::Scenario& s : platform_test::scenarios()) {
    const std::string path = std::string(PLUGIN_DIR) + "/" + platform_test::libraryFile(s.plugin);
    const std::vector<float> reference = platform_test::render(s, path);
    for (const uint16_t word : hostWords) {
      setControlWord(word);
      const std::vector<float> samples = platform_test::render(s, path);
      const uint16_t after = controlWord();
      setControlWord(saved);
      EXPECT_EQ(after, word) << s.name << ": the host's control word was not restored";
      EXPECT_TRUE(sameBits(samples, reference)) << s.name << " with control word " << word;
    }
  }
#endif
}

}  // namespace

// Whatever floating-point environment a host calls a module in, the samples are those of a plain
// run, the host gets its environment back exactly after every entry, and every callback into the
// host runs in the host's environment. The calls go through the hostile in-between library
// (hostile_host.h), which also misaligns the stack of 32-bit calls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hostile_host.h"
#include "scenarios.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using platform_test::FpBits;
using platform_test::HostileReport;
using platform_test::HostileSetup;
using platform_test::Scenario;

// A third of each scenario, short enough for the 50 environments: every swarm voice starts, and
// vellum's first envelope rises and falls.
constexpr double kLength = 0.34;

std::string realLibrary(const Scenario& s) {
  return std::string(PLUGIN_DIR) + "/" + platform_test::libraryFile(s.plugin);
}

struct Hostile {
  HostileSetupFn setup = nullptr;
  HostileReportFn report = nullptr;
};

const Hostile& hostile() {
  static const Hostile h = [] {
    Hostile found;
#ifdef _WIN32
    HMODULE library = LoadLibraryA(HOSTILE_PATH);
    if (library == nullptr) return found;
    found.setup = reinterpret_cast<HostileSetupFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "hostileSetup")));
    found.report = reinterpret_cast<HostileReportFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "hostileReport")));
#else
    void* library = dlopen(HOSTILE_PATH, RTLD_NOW);
    if (library == nullptr) return found;
    found.setup = reinterpret_cast<HostileSetupFn>(dlsym(library, "hostileSetup"));
    found.report = reinterpret_cast<HostileReportFn>(dlsym(library, "hostileReport"));
#endif
    return found;
  }();
  return h;
}

const std::vector<float>& plainRender(const Scenario& s) {
  static std::vector<std::vector<float>> renders(platform_test::scenarios().size());
  std::vector<float>& samples = renders[static_cast<size_t>(&s - &platform_test::scenarios()[0])];
  if (samples.empty()) samples = platform_test::render(s, realLibrary(s), kLength);
  return samples;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Renders every scenario through the hostile library and checks samples and environments.
void expectIndifferent(const FpBits& environment, int32_t stackMisalign = -1) {
  ASSERT_NE(hostile().setup, nullptr) << "cannot load " << HOSTILE_PATH;
  for (const Scenario& s : platform_test::scenarios()) {
    const std::string real = realLibrary(s);
    const HostileSetup setup{real.c_str(), environment, stackMisalign};
    ASSERT_TRUE(hostile().setup(&setup)) << real;
    const std::vector<float> samples = platform_test::render(s, HOSTILE_PATH, kLength);
    const HostileReport& report = *hostile().report();
    const std::string context = s.name + " in " + platform_test::describe(environment) +
                                ", stack " + std::to_string(stackMisalign);
    EXPECT_TRUE(sameBits(samples, plainRender(s))) << context;
    EXPECT_GT(report.entries, 0) << context;
    EXPECT_GT(report.callbacks, 0) << context;
    EXPECT_EQ(report.entryMismatches, 0)
        << context << ": first " << platform_test::describe(report.firstSeen) << " after the "
        << report.firstWhere;
    EXPECT_EQ(report.callbackMismatches, 0)
        << context << ": first " << platform_test::describe(report.firstSeen) << " in a "
        << report.firstWhere;
  }
}

constexpr uint32_t kRounding[] = {0x0000, 0x2000, 0x4000, 0x6000};  // nearest, down, up, zero
constexpr uint32_t kFlushing[] = {0x0000, 0x8000, 0x0040, 0x8040};  // none, FTZ, DAZ, both
constexpr uint32_t kMasked = 0x1f80;
constexpr uint32_t kRaisedFlags = 0x003f;

TEST(FpEnvironment, SseRoundingFlushingAndExceptionMasks) {
  int combination = 0;
  // Masked with every flag raised first, then every exception unmasked (a fault traps there).
  for (const uint32_t masks : {kMasked | kRaisedFlags, uint32_t{0}}) {
    for (const uint32_t rounding : kRounding) {
      for (const uint32_t flushing : kFlushing) {
        FpBits environment;
        environment.mxcsr = rounding | flushing | masks;
        // The x87 exception flags are raised in every other combination.
        environment.x87Flags = (combination++ % 2) != 0 ? 0x21 : 0;
        expectIndifferent(environment);
      }
    }
  }
}

TEST(FpEnvironment, X87PrecisionRoundingAndExceptionMasks) {
  for (const uint16_t precision : {0x0000, 0x0200, 0x0300}) {  // 24, 53 and 64 bits
    for (const uint16_t rounding : {0x0000, 0x0400, 0x0800, 0x0c00}) {
      FpBits environment;
      environment.x87Control = static_cast<uint16_t>(0x007f | precision | rounding);
      expectIndifferent(environment);
    }
  }
  // Every x87 exception unmasked: a flag the module left raised would trap in the host.
  FpBits unmasked;
  unmasked.x87Control = 0x0340;
  expectIndifferent(unmasked);
}

// 32-bit Windows promises only 4-byte stack alignment to a called function (the 32-bit System V
// ABI of Linux promises 16, and 64-bit conventions promise 16 everywhere).
TEST(FpEnvironment, MisalignedStackOf32BitCalls) {
#if !(defined(_WIN32) && defined(__i386__))
  GTEST_SKIP() << "only 32-bit Windows calls with a stack aligned to 4 bytes";
#else
  for (const int32_t misalign : {0, 4, 8, 12}) expectIndifferent(FpBits{}, misalign);
#endif
}

}  // namespace

// The validator passes a sound module and catches every failure kind in a module built with
// that one fault, naming a seed that reproduces it.
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cctype>
#include <iostream>
#include <sstream>

#include <gtest/gtest.h>

#include "rmhost/check.h"

namespace {

using rmhost::CheckOptions;
using rmhost::CheckReport;
using rmhost::FailureKind;

CheckReport check(const char* path, int32_t sessions, uint64_t seed = 1) {
  CheckOptions options;
  options.pluginPath = path;
  options.sessions = sessions;
  options.seed = seed;
  return rmhost::checkModuleLibrary(options);
}

std::string describe(const CheckReport& report) {
  std::ostringstream out;
  rmhost::printReport(report, out);
  return out.str();
}

TEST(Validator, SoundModulePassesAndReportsWhatRan) {
  const CheckReport report = check(GOOD_PATH, 40);
  EXPECT_TRUE(report.passed()) << describe(report);
  EXPECT_EQ(report.moduleId, "rmcheck_good");
  EXPECT_EQ(report.sessions, 40);
  EXPECT_TRUE(report.allocationCounting);
  EXPECT_EQ(report.audioPathAllocations, 0u);
  EXPECT_GT(report.processCalls, 40);
  EXPECT_GT(report.samples, report.processCalls);
  EXPECT_GT(report.events + report.valueChanges, 0);
  EXPECT_GT(report.dispatcherCalls, 0);

  const std::string text = describe(report);
  EXPECT_NE(text.find("sessions: 40"), std::string::npos) << text;
  EXPECT_NE(text.find("PASSED"), std::string::npos) << text;
  std::ostringstream sink;
  EXPECT_EQ(rmhost::runCheck(CheckOptions{GOOD_PATH, 1, 2, {}, nullptr}, sink), 0);
}

struct FaultCase {
  const char* path;
  FailureKind kind;
};

class FaultyModule : public testing::TestWithParam<FaultCase> {};

// Only the built-in fault is reported, every failure names its session's seed, and checking
// that seed alone shows the fault again.
TEST_P(FaultyModule, IsCaughtWithAReproducingSeed) {
  const FaultCase& fault = GetParam();
  const CheckReport report = check(fault.path, 12);
  ASSERT_FALSE(report.passed());
  for (const auto& failure : report.failures) {
    EXPECT_EQ(failure.kind, fault.kind) << describe(report);
    ASSERT_TRUE(failure.seed.has_value());
  }
  const uint64_t seed = *report.failures.front().seed;
  const CheckReport again = check(fault.path, 1, seed);
  ASSERT_EQ(again.failures.size(), 1u) << describe(again);
  EXPECT_EQ(again.failures.front().kind, fault.kind);
  EXPECT_EQ(again.failures.front().seed, seed);
  EXPECT_EQ(again.failures.front().detail, report.failures.front().detail);
  std::ostringstream sink;
  EXPECT_EQ(rmhost::runCheck(CheckOptions{fault.path, seed, 1, {}, nullptr}, sink), 1);
}

INSTANTIATE_TEST_SUITE_P(EachKind, FaultyModule,
                         testing::Values(FaultCase{ALLOCATES_PATH, FailureKind::allocation},
                                         FaultCase{NAN_PATH, FailureKind::nonFinite},
                                         FaultCase{SUBNORMAL_PATH, FailureKind::subnormal},
                                         FaultCase{NONDETERMINISTIC_PATH,
                                                   FailureKind::nondeterminism}),
                         [](const testing::TestParamInfo<FaultCase>& param) {
                           std::string name = rmhost::failureKindName(param.param.kind);
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

TEST(Validator, NaNFromNonFiniteInputIsAllowedOnlyWhereTheRuleSaysSo) {
  CheckOptions options{NAN_PATH, 1, 12, rmhost::FiniteRule::always, nullptr};
  const CheckReport strict = rmhost::checkModuleLibrary(options);
  options.finiteRule = rmhost::FiniteRule::whenInputsFinite;
  const CheckReport lenient = rmhost::checkModuleLibrary(options);
  // The faulty module writes NaN whatever its input; the lenient rule counts only the sessions
  // fed with finite inputs, the strict rule the others as well.
  const auto inFiniteSession = [](const rmhost::Failure& f) {
    return f.detail.find("every input finite") != std::string::npos;
  };
  EXPECT_GT(lenient.failures.size(), 0u);
  EXPECT_TRUE(std::all_of(lenient.failures.begin(), lenient.failures.end(), inFiniteSession));
  EXPECT_FALSE(std::all_of(strict.failures.begin(), strict.failures.end(), inFiniteSession));
  EXPECT_EQ(std::count_if(strict.failures.begin(), strict.failures.end(), inFiniteSession),
            static_cast<std::ptrdiff_t>(lenient.failures.size()));
}

// Whether a death test's child failed: its wait status, or on Windows its exit code (an
// exception's code after a crash).
bool crashed(int status) {
#ifdef _WIN32
  return status != 0;
#else
  return !WIFEXITED(status) || WEXITSTATUS(status) != 0;
#endif
}

void checkCrashingModule() {
  rmhost::runCheck(CheckOptions{CRASHES_PATH, 1, 50, {}, &std::cerr}, std::cout);
  std::exit(0);
}

TEST(Validator, CrashNamesTheSeedOnStderrFirst) {
#ifdef _WIN32
  // GoogleTest has only its simple regular expressions here.
  EXPECT_EXIT(checkCrashingModule(), crashed, "session seed \\d+");
#else
  EXPECT_EXIT(checkCrashingModule(), crashed, "session seed [0-9]+");
#endif
}

// A module that renders through pins a short table never gave it, or fills a description
// through a null pointer, crashes the check; the case is named on stderr first.
void checkWithoutSessions(const char* path) {
  rmhost::runCheck(CheckOptions{path, 1, 0, {}, &std::cerr}, std::cout);
  std::exit(0);
}

TEST(Validator, ShortPinTablesAndNullPointersAreTriedAndNamed) {
  const CheckReport report = check(GOOD_PATH, 0);
  EXPECT_TRUE(report.passed()) << describe(report);
  EXPECT_EQ(report.shortPinCounts, (std::vector<int32_t>{0, 1, 2}));
  EXPECT_GT(report.nullPointerRequests, 0);
  const std::string text = describe(report);
  const std::string line =
      "hosts keeping fewer pins than described: 0 1 2 pins; requests with a null "
      "pointer: " +
      std::to_string(report.nullPointerRequests) + "\n";
  EXPECT_NE(text.find(line), std::string::npos) << text;

  EXPECT_EXIT(checkWithoutSessions(IGNORESPINCOUNT_PATH), crashed, "short pin table: 0 of 3 pins");
  EXPECT_EXIT(checkWithoutSessions(NULLDESCRIPTION_PATH), crashed,
              "null pointers in dispatcher opcodes 6 and 12, before open");
}

TEST(Validator, MalformedDescriptionsAndExtraExportsAreReported) {
  const CheckReport report = check(BADSTATIC_PATH, 0);
  const auto count = [&](FailureKind kind) {
    return std::count_if(report.failures.begin(), report.failures.end(),
                         [&](const rmhost::Failure& f) { return f.kind == kind; });
  };
  EXPECT_EQ(count(FailureKind::exports), 1) << describe(report);
  EXPECT_EQ(count(FailureKind::description) + count(FailureKind::record), 0) << describe(report);
  const std::string text = describe(report);
  EXPECT_NE(text.find("extraEntry"), std::string::npos) << text;
  // One fault per pin 0 to 7; the duplicate name shows at pin 7.
  for (const char* expected :
       {"pin 0 \"\": no printable name", "pin 1 \"gain\": list text", "pin 2 \"mode\": default",
        "pin 3 \"level\": default \"loud\"", "pin 4 \"side\": unknown direction 2",
        "pin 5 \"blob\": data type 7", "pin 6 \"choice\": list pin without list text",
        "pin 7 \"level\": name used twice"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  }
  EXPECT_EQ(count(FailureKind::pinDescription), 8) << text;
}

TEST(Validator, ExportsBreakingTheRulesAreReportedAndNoSessionRuns) {
  const CheckReport report = check(BROKENENTRIES_PATH, 5);
  const std::string text = describe(report);
  EXPECT_EQ(report.sessions, 0) << text;
  for (const char* expected :
       {"getModuleProperties: name is not set", "writes the two words that belong to the host",
        "does not write one flags word", "index 1 does not answer 0",
        "index -1 writes the description strings", "index 1, kind 1 answers a record",
        "index 0, kind 2 answers a record", "magic is not", "version is not 1",
        "does not keep the host value", "names no object", "reserved record words are not 0",
        "does not start at 44100 Hz", "opcode 1 does not answer 1"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  }
  EXPECT_TRUE(std::all_of(report.failures.begin(), report.failures.end(), [](const auto& f) {
    return f.kind == FailureKind::description || f.kind == FailureKind::record;
  })) << text;
}

#ifdef _WIN32
TEST(Validator, ExportsByOrdinalAloneCountAsExports) {
  const CheckReport report = check(ORDINAL_PATH, 0);
  ASSERT_EQ(report.failures.size(), 1u) << describe(report);
  EXPECT_EQ(report.failures.front().kind, FailureKind::exports);
  EXPECT_NE(report.failures.front().detail.find("#7"), std::string::npos) << describe(report);
}
#endif

TEST(Validator, MissingLibraryIsALoadFailure) {
  const CheckReport report = check("/nonexistent/libnothing.so", 1);
  ASSERT_EQ(report.failures.size(), 1u);
  EXPECT_EQ(report.failures.front().kind, FailureKind::load);
}

}  // namespace

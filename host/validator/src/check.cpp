#include "rmhost/check.h"

#include <algorithm>
#include <exception>
#include <map>
#include <ostream>

#include "edge_hosts.h"
#include "rmhost/alloc_counter.h"
#include "session_runner.h"
#include "static_checks.h"

namespace rmhost {
namespace {

// Session failures of one kind printed in full; the rest are counted. Static failures are all
// printed.
constexpr int kShownPerKind = 10;

FiniteRule defaultFiniteRule(const std::string& moduleId) {
  return moduleId == "swarm" ? FiniteRule::always : FiniteRule::whenInputsFinite;
}

void add(CheckReport& report, const validator::SessionOutcome& run) {
  report.processCalls += run.processCalls;
  report.events += run.events;
  report.valueChanges += run.valueChanges;
  report.dispatcherCalls += run.dispatcherCalls;
  report.samples += run.samples;
  report.nonzeroSamples += run.nonzeroSamples;
  report.audioPathAllocations += run.allocations;
}

// Compares the two runs of one seed; a failure names the first block that differs.
void compareRuns(const validator::SessionOutcome& first, const validator::SessionOutcome& second,
                 uint64_t seed, std::vector<Failure>& failures) {
  const size_t common = std::min(first.blockHashes.size(), second.blockHashes.size());
  const auto differ = std::mismatch(first.blockHashes.begin(), first.blockHashes.begin() + common,
                                    second.blockHashes.begin());
  const auto block = static_cast<size_t>(differ.first - first.blockHashes.begin());
  if (block == common && first.blockHashes.size() == second.blockHashes.size()) return;
  const std::string at = block < common ? "block " + std::to_string(block) + " (clock " +
                                              std::to_string(first.blockClocks[block]) + ")"
                                        : "the number of blocks";
  failures.push_back(Failure{
      FailureKind::nondeterminism, seed,
      "two runs of the seed differ first in " + at + ": output samples or requests to the host"});
}

void runSessions(Library& library, const CheckOptions& options, FiniteRule rule,
                 CheckReport& report) {
  for (int32_t i = 0; i < options.sessions; ++i) {
    const uint64_t seed = options.seed + static_cast<uint64_t>(i);
    if (options.progress != nullptr) *options.progress << "session seed " << seed << std::endl;
    const auto first = validator::runSession(library, seed, rule);
    const auto second = validator::runSession(library, seed, rule);
    ++report.sessions;
    add(report, first);
    add(report, second);
    for (const Failure& failure : first.failures) {
      report.failures.push_back(Failure{failure.kind, seed, failure.detail});
    }
    // A fault that shows only in the second run is a fault all the same.
    for (const Failure& failure : second.failures) {
      const bool known = std::any_of(first.failures.begin(), first.failures.end(),
                                     [&](const Failure& f) { return f.kind == failure.kind; });
      if (!known) report.failures.push_back(Failure{failure.kind, seed, failure.detail});
    }
    compareRuns(first, second, seed, report.failures);
  }
}

}  // namespace

const char* failureKindName(FailureKind kind) {
  switch (kind) {
    case FailureKind::load:
      return "load";
    case FailureKind::exports:
      return "exports";
    case FailureKind::description:
      return "description";
    case FailureKind::record:
      return "record";
    case FailureKind::pinDescription:
      return "pin description";
    case FailureKind::allocation:
      return "audio-path allocation";
    case FailureKind::nonFinite:
      return "non-finite output";
    case FailureKind::subnormal:
      return "subnormal output";
    case FailureKind::nondeterminism:
      return "nondeterminism";
    case FailureKind::host:
      return "host";
  }
  return "unknown";
}

CheckReport checkModuleLibrary(const CheckOptions& options) {
  CheckReport report;
  report.path = options.pluginPath;
  std::string error;
  const auto library = Library::load(options.pluginPath, &error);
  if (!library) {
    report.failures.push_back(Failure{FailureKind::load, std::nullopt, error});
    return report;
  }
  validator::checkExports(options.pluginPath, report.failures);
  validator::checkDescription(*library, report.failures);
  validator::checkFreshRecord(*library, report.failures);
  const ModuleInfo& info = library->info();
  report.moduleId = info.id;
  validator::checkPins(info.pins, report.failures);
  const bool canRun = std::none_of(report.failures.begin(), report.failures.end(),
                                   [](const Failure& f) { return f.kind == FailureKind::record; });
  if (!canRun) return report;

  armAllocationCounter(true);
  report.allocationCounting = allocationCounterWorks();
  if (!report.allocationCounting) {
    report.failures.push_back(
        Failure{FailureKind::allocation, std::nullopt, "this executable cannot count allocations"});
  }
  runSessions(*library, options, options.finiteRule.value_or(defaultFiniteRule(info.id)), report);
  armAllocationCounter(false);
  report.shortPinCounts =
      validator::checkShortPinTables(*library, report.failures, options.progress);
  report.nullPointerRequests =
      validator::checkNullPointers(*library, report.failures, options.progress);
  return report;
}

void printReport(const CheckReport& report, std::ostream& out) {
  out << "module \"" << report.moduleId << "\" (" << report.path << ")\n"
      << "sessions: " << report.sessions << ", each run twice\n"
      << "process calls: " << report.processCalls << ", samples: " << report.samples
      << ", output samples not zero: " << report.nonzeroSamples << "\n"
      << "events: " << report.events << " delivered by the validator, " << report.valueChanges
      << " pin value and stream changes\n"
      << "dispatcher requests: " << report.dispatcherCalls << "\n"
      << "hosts keeping fewer pins than described:";
  for (const int32_t count : report.shortPinCounts) out << " " << count;
  out << " pins; requests with a null pointer: " << report.nullPointerRequests << "\n"
      << "audio-path allocations and frees: " << report.audioPathAllocations
      << (report.allocationCounting ? "" : " (not counted)") << "\n";

  std::map<FailureKind, int> shown;
  for (const Failure& failure : report.failures) {
    if (failure.seed && ++shown[failure.kind] > kShownPerKind) continue;
    out << "FAIL [" << failureKindName(failure.kind) << "]";
    if (failure.seed) out << " seed " << *failure.seed;
    out << ": " << failure.detail << "\n";
  }
  for (const auto& [kind, count] : shown) {
    if (count > kShownPerKind) {
      out << "FAIL [" << failureKindName(kind) << "]: " << count - kShownPerKind
          << " more not shown\n";
    }
  }
  if (report.passed()) {
    out << "PASSED\n";
  } else {
    const bool seeded = std::any_of(report.failures.begin(), report.failures.end(),
                                    [](const Failure& f) { return f.seed.has_value(); });
    out << "FAILED: " << report.failures.size() << " failures"
        << (seeded ? " (rerun one seed with --seed S --sessions 1)" : "") << "\n";
  }
}

int runCheck(const CheckOptions& options, std::ostream& out) {
  try {
    const CheckReport report = checkModuleLibrary(options);
    printReport(report, out);
    return report.passed() ? 0 : 1;
  } catch (const std::exception& error) {
    out << "FAILED: the check itself stopped: " << error.what() << "\n";
    return 1;
  }
}

}  // namespace rmhost

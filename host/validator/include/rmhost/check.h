// The validator: checks that a module library of this host interface is well formed and that
// nothing a host does makes it crash, allocate on the audio path, write non-finite or subnormal
// samples, or behave differently for the same input.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace rmhost {

// When a module's outputs must be finite.
enum class FiniteRule {
  always,            // whatever the inputs hold
  whenInputsFinite,  // when every input the host feeds is finite
};

struct CheckOptions {
  std::string pluginPath;
  uint64_t seed = 1;  // session i runs with seed + i; a failure names its session's seed
  int32_t sessions = 200;
  // Defaults by module identifier: "swarm" always, any other module when inputs are finite.
  std::optional<FiniteRule> finiteRule;
  // Where each session announces its seed before it starts, so that a crash can be reproduced
  // (with --seed S --sessions 1); null for silence.
  std::ostream* progress = nullptr;
};

enum class FailureKind {
  load,            // the library cannot be loaded
  exports,         // exported names other than the two entries
  description,     // getModuleProperties misbehaves
  record,          // makeModule or the fresh ModuleRecord misbehaves
  pinDescription,  // a malformed pin description
  allocation,      // heap allocation or free on the audio path
  nonFinite,       // NaN or infinity in an output
  subnormal,       // subnormal number in an output
  nondeterminism,  // two runs of one seed differ
  host,            // the stand-in host could not carry a session out
};

const char* failureKindName(FailureKind kind);

struct Failure {
  FailureKind kind;
  std::optional<uint64_t> seed;  // the session that shows it; none for static checks
  std::string detail;            // which call, instance, pin, sample
};

// What ran, summed over both runs of every session.
struct CheckReport {
  std::string path;
  std::string moduleId;
  int64_t sessions = 0;  // each ran twice
  int64_t processCalls = 0;
  int64_t events = 0;           // events the validator delivered itself
  int64_t valueChanges = 0;     // pin values and streams changed at a clock (one event each)
  int64_t dispatcherCalls = 0;  // requests besides create, open and close
  int64_t samples = 0;          // frames rendered by process calls, over all instances
  int64_t nonzeroSamples = 0;   // output samples that are not zero: shows the module sounded
  uint64_t audioPathAllocations = 0;
  bool allocationCounting = false;
  std::vector<int32_t> shortPinCounts;  // host pin counts below the described count, each tried
  int64_t nullPointerRequests = 0;      // dispatcher requests with a null pointer where one is due
  std::vector<Failure> failures;
  bool passed() const { return failures.empty(); }
};

// Runs the static checks, then options.sessions dynamic sessions.
CheckReport checkModuleLibrary(const CheckOptions& options);

// Prints the report to `out`.
void printReport(const CheckReport& report, std::ostream& out);

// checkModuleLibrary and printReport together; answers the process exit code (0: passed).
int runCheck(const CheckOptions& options, std::ostream& out);

}  // namespace rmhost

#include "edge_hosts.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>

#include "rmhost/session.h"

namespace rmhost::validator {
namespace {

constexpr int32_t kBlock = 64;
constexpr int32_t kClones = 2;
constexpr int32_t kBlocks = 6;

void announce(std::ostream* progress, const std::string& what) {
  if (progress != nullptr) *progress << what << std::endl;
}

bool keptInput(const PinInfo& pin, int32_t kept) {
  return pin.index < kept && pin.direction != dirOutput;
}

// Two clones on a host that keeps `kept` pins: values, streams and status events on the kept
// inputs, a resume, and every pin description asked for again.
void runShortTable(Library& library, int32_t kept, std::vector<Failure>& failures) {
  const ModuleInfo& info = library.info();
  const std::string where =
      "pin table of " + std::to_string(kept) + " of " + std::to_string(info.pins.size()) + " pins";
  Session session(SessionConfig{48000.0f, kBlock, kept, false});
  const int32_t group = session.addGroup();
  std::vector<InstanceId> ids;
  for (int32_t i = 0; i < kClones; ++i) {
    const InstanceId id = session.create(library, group);
    if (id < 0) {
      failures.push_back(
          Failure{FailureKind::record, std::nullopt, where + ": makeModule answered null"});
      return;
    }
    ids.push_back(id);
    for (const PinInfo& pin : info.pins) {
      if (keptInput(pin, kept)) session.setInitial(id, pin.index, 1.0);
    }
  }
  for (const InstanceId id : ids) session.open(id);

  const double values[] = {2.0, 0.0, 0.5, 1.0};
  for (int32_t block = 0; block < kBlocks; ++block) {
    const int64_t at = session.clock() + 1 + block;
    for (const InstanceId id : ids) {
      for (const PinInfo& pin : info.pins) {
        if (!keptInput(pin, kept)) continue;
        if (block == 2 && pin.datatype == dtAudio) {
          session.setStream(
              id, pin.index,
              [](int64_t clock, float* out, int32_t frames) {
                for (int32_t i = 0; i < frames; ++i) {
                  out[i] = static_cast<float>(std::sin(0.01 * static_cast<double>(clock + i)));
                }
              },
              at);
        } else {
          session.setValue(id, pin.index, values[block % 4], at);
        }
      }
    }
    if (block == 3) {
      session.dispatch(ids.front(), opResume, 1);
      PinDescription scratch{};
      for (int32_t index = -1; index <= static_cast<int32_t>(info.pins.size()); ++index) {
        scratch = PinDescription{};
        session.dispatch(ids.back(), opDescribePin, index, 0, &scratch);
      }
    }
    session.runBlock();
  }
}

}  // namespace

std::vector<int32_t> checkShortPinTables(Library& library, std::vector<Failure>& failures,
                                         std::ostream* progress) {
  const auto described = static_cast<int32_t>(library.info().pins.size());
  std::vector<int32_t> counts;
  for (const int32_t count : {0, 1, described / 2, described - 1}) {
    if (count >= 0 && count < described &&
        std::find(counts.begin(), counts.end(), count) == counts.end()) {
      counts.push_back(count);
    }
  }
  for (const int32_t count : counts) {
    announce(progress, "short pin table: " + std::to_string(count) + " of " +
                           std::to_string(described) + " pins");
    runShortTable(library, count, failures);
  }
  return counts;
}

int64_t checkNullPointers(Library& library, std::vector<Failure>& failures,
                          std::ostream* progress) {
  const ModuleInfo& info = library.info();
  const auto described = static_cast<int32_t>(info.pins.size());
  Session session(SessionConfig{48000.0f, kBlock, -1, false});
  const int32_t group = session.addGroup();
  const InstanceId opened = session.create(library, group);
  const InstanceId unopened = session.create(library, group);
  if (opened < 0 || unopened < 0) {
    failures.push_back(Failure{FailureKind::record, std::nullopt,
                               "null pointer requests: makeModule answered null"});
    return 0;
  }
  int64_t requests = 0;
  const auto askWithNull = [&](InstanceId id, const char* when) {
    announce(progress, std::string("null pointers in dispatcher opcodes 6 and 12, ") + when);
    for (const int32_t index : {-1, 0, 1, described - 1, described}) {
      session.dispatch(id, opDescribePin, index, 0, nullptr);
      session.dispatch(id, opHostMessage, index, index, nullptr);
      requests += 2;
    }
  };
  askWithNull(unopened, "before open");
  session.open(opened);
  askWithNull(opened, "after open");
  for (int32_t block = 0; block < 2; ++block) {
    session.runBlock();
    askWithNull(opened, "between blocks");
  }
  return requests;
}

}  // namespace rmhost::validator

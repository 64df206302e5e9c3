// Hosts at the edges of what the interface allows, run once per check after the seeded sessions:
//   checkShortPinTables  hosts that keep fewer pins than the module describes (none, one, half,
//                        all but one) and so write only those pins' variables
//   checkNullPointers    dispatcher requests that pass a null pointer where one is expected
//                        (pin descriptions, host messages), before and after open
// What they catch is a crash, which ends the check; each case is announced on `progress` first,
// so that it is named. The outputs are left to the seeded sessions.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "rmhost/check.h"
#include "rmhost/library.h"

namespace rmhost::validator {

// Answers the pin counts that were tried.
std::vector<int32_t> checkShortPinTables(Library& library, std::vector<Failure>& failures,
                                         std::ostream* progress);

// Answers the number of requests made.
int64_t checkNullPointers(Library& library, std::vector<Failure>& failures, std::ostream* progress);

}  // namespace rmhost::validator

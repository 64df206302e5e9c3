// Checks that need no session: the library's exports, its description, a fresh module record and
// the pin descriptions.
#pragma once

#include <vector>

#include "rmhost/check.h"
#include "rmhost/library.h"

namespace rmhost::validator {

void checkExports(const std::string& path, std::vector<Failure>& failures);
void checkDescription(Library& library, std::vector<Failure>& failures);
void checkFreshRecord(Library& library, std::vector<Failure>& failures);
void checkPins(const std::vector<PinInfo>& pins, std::vector<Failure>& failures);

}  // namespace rmhost::validator

// `rmhost info`: a module library's identity and pins, as text for people or JSON for programs.
#pragma once

#include <ostream>
#include <string>

#include "rmhost/library.h"

namespace rmcli {

void printInfo(std::ostream& out, rmhost::Library& library);
void printInfoJson(std::ostream& out, rmhost::Library& library);

}  // namespace rmcli

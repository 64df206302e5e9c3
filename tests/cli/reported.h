// Whether a rejected patch names a given mistake: a message with this text at this line (0 for
// the file as a whole). A patch's mistakes are reported together, so a test names the one it
// is about and lets the others be.
#pragma once

#include <string>
#include <string_view>

#include "diagnostics.h"

inline bool reported(const rmcli::PatchError& error, int line, std::string_view message) {
  for (const rmcli::Diagnostic& diagnostic : error.diagnostics())
    if (diagnostic.where.line == line && diagnostic.message.find(message) != std::string::npos)
      return true;
  return false;
}

// Every message of the error, one a line, for a failing test's output.
inline std::string allMessages(const rmcli::PatchError& error) {
  return rmcli::describeError("patch", error);
}

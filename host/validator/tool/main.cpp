// rmhost-check PLUGIN [--seed S] [--sessions N] [--quiet]: the validator on its own, for tests
// and CI. Each session's seed goes to stderr before it starts (unless --quiet), so that the seed
// of a session that crashes the process is the last line there.
#include <cstdlib>
#include <iostream>
#include <string>

#include "rmhost/check.h"

namespace {

int usage() {
  std::cerr << "usage: rmhost-check PLUGIN [--seed S] [--sessions N] [--quiet]\n";
  return 2;
}

bool parseUnsigned(const char* text, uint64_t* out) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0' || text[0] == '-') return false;
  *out = value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  rmhost::CheckOptions options;
  options.progress = &std::cerr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    uint64_t number = 0;
    if (arg == "--quiet") {
      options.progress = nullptr;
    } else if ((arg == "--seed" || arg == "--sessions") && i + 1 < argc) {
      if (!parseUnsigned(argv[++i], &number)) return usage();
      if (arg == "--seed") options.seed = number;
      if (arg == "--sessions") options.sessions = static_cast<int32_t>(number);
    } else if (options.pluginPath.empty() && arg.rfind("--", 0) != 0) {
      options.pluginPath = arg;
    } else {
      return usage();
    }
  }
  if (options.pluginPath.empty()) return usage();
  return rmhost::runCheck(options, std::cout);
}

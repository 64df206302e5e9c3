// Fixed renders of both plug-ins through the stand-in host, for comparing builds and platforms:
// the same scenario must give the same samples wherever the libraries run.
#pragma once

#include <string>
#include <vector>

namespace platform_test {

struct Scenario {
  std::string name;
  std::string plugin;  // "swarm" or "vellum"
  // What the samples must match across platforms: exactly, or to 1 float ulp per sample where
  // the C runtimes' sin, cos, exp and log round differently.
  bool exact = true;
};

const std::vector<Scenario>& scenarios();

// Renders a scenario with the plug-in library at `libraryPath`: every output sample of every
// instance, block after block. A `length` below 1 renders that share of the blocks only.
std::vector<float> render(const Scenario& scenario, const std::string& libraryPath,
                          double length = 1.0);

// The file name of a plug-in library on this platform ("libswarm.so", "swarm.dll").
std::string libraryFile(const std::string& plugin);

}  // namespace platform_test

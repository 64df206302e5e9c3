// The two commands of rmhost, apart from argument parsing, so that tests can run them directly.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "rmhost/library.h"
#include "wav.h"

namespace rmcli {

struct InfoOptions {
  std::string plugin;  // a plug-in name or a library path
  bool json = false;
  std::vector<std::filesystem::path> pluginPath;
};

struct RenderOptions {
  std::filesystem::path patch;
  std::optional<std::filesystem::path> midi;  // played instead of the patch's MIDI files
  std::filesystem::path output;  // empty: the MIDI file's or else the patch's name with .wav, here
  std::optional<std::filesystem::path> picture;
  bool strip = false;  // the picture as a small spectrogram strip
  SampleFormat format = SampleFormat::float32;
  bool quiet = false;
  std::vector<std::filesystem::path> pluginPath;
};

// Each answers the process exit code (ExitCode): 0 done, 1 bad input (with a message on `err`).
int runInfo(const InfoOptions& options, std::ostream& out, std::ostream& err);
int runRender(const RenderOptions& options, std::ostream& out, std::ostream& err);

// The module library `plugin` names (a plug-in name or a library path), loaded; null after a
// message on `err` when it is not found or is no module library.
std::unique_ptr<rmhost::Library> openPlugin(const std::string& plugin,
                                            const std::vector<std::filesystem::path>& pluginPath,
                                            std::ostream& err);

}  // namespace rmcli

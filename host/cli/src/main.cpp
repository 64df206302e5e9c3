// rmhost: the stand-in host on the command line. `info` describes a module library, `render`
// plays a patch file offline into a WAV file and, on request, a PNG picture of it, `check`
// validates a module library, `lv2-bundle` makes an LV2 bundle of module libraries.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>

#include "commands.h"
#include "diagnostics.h"
#include "lv2_bundle.h"
#include "rmhost/check.h"

namespace {

constexpr const char* kFooter =
    "Exit codes: 0 success, 1 bad input or a failed check, 2 usage error.\n"
    "Run 'rmhost COMMAND --help' for a command's options.";

// The library must be a module library before the check starts; anything else gets one error.
int runCheckCommand(rmhost::CheckOptions check, const std::string& plugin,
                    const std::vector<std::filesystem::path>& pluginPath, bool quiet) {
  const auto library = rmcli::openPlugin(plugin, pluginPath, std::cerr);
  if (!library) return rmcli::kExitBadInput;
  check.pluginPath = library->path();
  rmcli::ToolLines lines(std::cerr);
  std::ostream progress(&lines);
  if (!quiet) check.progress = &progress;
  const rmhost::CheckReport report = rmhost::checkModuleLibrary(check);
  rmhost::printReport(report, std::cout);
  if (report.passed()) return rmcli::kExitSuccess;
  std::cerr << rmcli::toolError(library->path() + " fails the check (" +
                                std::to_string(report.failures.size()) + " failures above)")
            << '\n';
  return rmcli::kExitBadInput;
}

// The first word of the command line that is no option: the command, or what stands for it.
std::string commandWord(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--plugin-path") {
      ++i;
    } else if (arg.empty() || arg[0] != '-') {
      return arg;
    }
  }
  return {};
}

// What is wrong with a command line the parser refused; an unknown command gets a "did you mean".
std::string usageMessage(CLI::App& app, const CLI::ParseError& error, int argc, char** argv) {
  std::vector<std::string> commands;
  std::string list;
  for (const CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
    commands.push_back(command->get_name());
    list += (list.empty() ? "" : ", ") + command->get_name();
  }
  const std::string word = commandWord(argc, argv);
  if (word.empty() || std::find(commands.begin(), commands.end(), word) != commands.end())
    return rmcli::toolError(error.what());
  return rmcli::toolError("unknown command " + rmcli::inQuotes(word) +
                          rmcli::didYouMean(word, commands) + " (the commands: " + list + ")");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    CLI::App app{"rmhost: describe, render with and validate module libraries", "rmhost"};
    app.footer(kFooter);
    app.require_subcommand(1);
    app.fallthrough();
    std::vector<std::filesystem::path> pluginPath;
    app.add_option("--plugin-path", pluginPath,
                   "Directory searched first for plug-ins named by name (repeatable)");

    rmcli::InfoOptions info;
    CLI::App* infoCommand = app.add_subcommand("info", "Show a module library's identity and pins");
    infoCommand->add_option("plugin", info.plugin, "Plug-in name (swarm, vellum) or library path")
        ->required();
    infoCommand->add_flag("--json", info.json, "Print JSON instead of text");

    rmcli::RenderOptions render;
    int bits = 32;
    CLI::App* renderCommand = app.add_subcommand("render", "Render a patch file to WAV (and PNG)");
    renderCommand->add_option("patch", render.patch, "Patch file (TOML)")->required();
    renderCommand->add_option("--midi", render.midi,
                              "Play this Standard MIDI File on the patch's first part (instead "
                              "of its [[midi]] tables)");
    renderCommand->add_option("-o,--output", render.output,
                              "WAV file to write (default: the MIDI file's or else the patch's "
                              "name with .wav, here)");
    renderCommand->add_option("--png", render.picture,
                              "Also draw waveform and spectrogram into this PNG file");
    renderCommand->add_flag("--strip", render.strip,
                            "Draw the PNG as a small spectrogram strip (720 x 240) for docs");
    renderCommand->add_option("--bits", bits, "Sample format: 32 (float, default), 24 or 16")
        ->check(CLI::IsMember({16, 24, 32}));
    renderCommand->add_flag("-q,--quiet", render.quiet, "Print nothing when all goes well");

    rmhost::CheckOptions check;
    std::string checkPlugin;
    bool checkQuiet = false;
    CLI::App* checkCommand = app.add_subcommand(
        "check", "Validate a module library: static checks, then seeded random sessions");
    checkCommand->add_option("plugin", checkPlugin, "Plug-in name (swarm, vellum) or library path")
        ->required();
    checkCommand->add_option("--seed", check.seed,
                             "Seed of the first session (session i: seed + i)");
    checkCommand->add_option("--sessions", check.sessions, "Number of sessions (default 200)")
        ->check(CLI::NonNegativeNumber);
    checkCommand->add_flag("-q,--quiet", checkQuiet, "Do not print each session's seed to stderr");

    rmcli::Lv2BundleOptions bundle;
    CLI::App* bundleCommand = app.add_subcommand(
        "lv2-bundle", "Make an LV2 bundle of module libraries, one plug-in per library");
    bundleCommand->add_option("library", bundle.libraries, "Plug-in names or library paths")
        ->required();
    bundleCommand->add_option("-o,--output", bundle.output, "Bundle folder to create, NAME.lv2")
        ->required();

    try {
      app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
      if (error.get_exit_code() == 0) return app.exit(error);  // --help
      std::cerr << usageMessage(app, error, argc, argv) << '\n';
      std::cerr << "rmhost: run 'rmhost --help' for usage\n";
      return rmcli::kExitUsage;
    }

    if (bundleCommand->parsed()) {
      bundle.pluginPath = pluginPath;
      return rmcli::runLv2Bundle(bundle, std::cout, std::cerr);
    }

    if (checkCommand->parsed()) return runCheckCommand(check, checkPlugin, pluginPath, checkQuiet);
    if (infoCommand->parsed()) {
      info.pluginPath = pluginPath;
      return rmcli::runInfo(info, std::cout, std::cerr);
    }
    render.pluginPath = pluginPath;
    render.format = bits == 16   ? rmcli::SampleFormat::pcm16
                    : bits == 24 ? rmcli::SampleFormat::pcm24
                                 : rmcli::SampleFormat::float32;
    return rmcli::runRender(render, std::cout, std::cerr);
  } catch (const std::exception& error) {
    std::cerr << rmcli::toolError(error.what()) << '\n';
    return rmcli::kExitBadInput;
  }
}

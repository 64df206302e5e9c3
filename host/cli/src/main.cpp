// rmhost: the stand-in host on the command line. `info` describes a module library, `render`
// plays a patch file offline into a WAV file and, on request, a PNG picture of it, `check`
// validates a module library, `lv2-bundle` makes an LV2 bundle of module libraries.
#include <CLI/CLI.hpp>

#include <iostream>

#include "commands.h"
#include "lv2_bundle.h"
#include "plugins.h"
#include "rmhost/check.h"

int main(int argc, char** argv) {
  try {
    CLI::App app{"rmhost: describe, render with and validate module libraries"};
    app.require_subcommand(1);
    app.fallthrough();
    std::vector<std::filesystem::path> pluginPath;
    app.add_option("--plugin-path", pluginPath,
                   "Directory searched first for plug-ins named in patches (repeatable)");

    rmcli::InfoOptions info;
    CLI::App* infoCommand = app.add_subcommand("info", "Show a module library's identity and pins");
    infoCommand->add_option("plugin", info.plugin, "Plug-in name (swarm, vellum) or library path")
        ->required();
    infoCommand->add_flag("--json", info.json, "Print JSON instead of text");

    rmcli::RenderOptions render;
    int bits = 32;
    CLI::App* renderCommand = app.add_subcommand("render", "Render a patch file to WAV (and PNG)");
    renderCommand->add_option("patch", render.patch, "Patch file (TOML)")
        ->required()
        ->check(CLI::ExistingFile);
    renderCommand
        ->add_option("--midi", render.midi,
                     "Play this Standard MIDI File on the patch's first part (instead "
                     "of its [[midi]] tables)")
        ->check(CLI::ExistingFile);
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

    CLI11_PARSE(app, argc, argv);

    if (bundleCommand->parsed()) {
      bundle.pluginPath = pluginPath;
      return rmcli::runLv2Bundle(bundle, std::cout, std::cerr);
    }

    if (checkCommand->parsed()) {
      std::vector<std::filesystem::path> directories = pluginPath;
      for (auto& dir : rmcli::PluginFinder::besideExecutable()) directories.push_back(dir);
      std::vector<std::filesystem::path> tried;
      const auto library = rmcli::PluginFinder(directories)
                               .find(checkPlugin, std::filesystem::current_path(), &tried);
      if (!library) {
        std::cerr << "rmhost: no module library \"" << checkPlugin << "\"\n";
        return 1;
      }
      check.pluginPath = library->string();
      if (!checkQuiet) check.progress = &std::cerr;
      return rmhost::runCheck(check, std::cout);
    }

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
    std::cerr << "rmhost: error: " << error.what() << '\n';
    return 1;
  }
}

#include "commands.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

#include "diagnostics.h"
#include "info.h"
#include "output_file.h"
#include "patch.h"
#include "picture.h"
#include "plugins.h"
#include "progress.h"
#include "renderer.h"

namespace rmcli {

namespace {

PluginFinder finderFor(const std::vector<std::filesystem::path>& extra) {
  std::vector<std::filesystem::path> directories = extra;
  for (auto& dir : PluginFinder::besideExecutable()) directories.push_back(std::move(dir));
  return PluginFinder(std::move(directories));
}

const char* formatName(SampleFormat format) {
  switch (format) {
    case SampleFormat::pcm16:
      return "16-bit";
    case SampleFormat::pcm24:
      return "24-bit";
    case SampleFormat::float32:
      return "32-bit float";
  }
  return "";
}

std::string decibels(double level) {
  if (level <= 0.0) return "-inf dBFS";
  char text[32];
  std::snprintf(text, sizeof text, "%+.1f dBFS", 20.0 * std::log10(level));
  return text;
}

struct Levels {
  double peak = 0.0;
  int64_t notFinite = 0;
};

Levels measure(const AudioBuffer& audio) {
  Levels levels;
  for (float sample : audio.samples) {
    if (!std::isfinite(sample))
      ++levels.notFinite;
    else
      levels.peak = std::max(levels.peak, static_cast<double>(std::fabs(sample)));
  }
  return levels;
}

// Above full scale the mix clips wherever it goes next, so every format warns: a float file
// keeps the overs, but players and conversions do not. The warning names the loudest strip and a
// master gain that brings the peak to -1 dBFS.
void warnAboveFullScale(std::ostream& err, const std::string& patchName, const Patch& patch,
                        const std::vector<StripLevel>& strips, double peak, SampleFormat format,
                        const std::filesystem::path& wavPath) {
  if (!(peak > 1.0)) return;
  constexpr double kTarget = 0.8912509381337456;  // -1 dBFS
  char fix[64];
  std::snprintf(fix, sizeof fix, "%.3g", patch.render.gain * kTarget / peak);
  err << "rmhost: warning: the mix peaks at " << decibels(peak) << ", above full scale (0 dBFS)";
  if (format == SampleFormat::float32)
    err << "; the float file keeps the overs, but playback and 16- or 24-bit copies clip them";
  else
    err << " and is clipped in " << wavPath.string();
  err << ". To peak at -1 dBFS, set gain = " << fix << " under [render] (now " << patch.render.gain
      << ")\n";
  const auto loudest =
      std::max_element(strips.begin(), strips.end(),
                       [](const StripLevel& a, const StripLevel& b) { return a.peak < b.peak; });
  if (loudest == strips.end()) return;
  err << patchName << ':' << loudest->where.line << ':' << loudest->where.column
      << ": note: the loudest mix strip, source \"" << loudest->source << "\" with gain "
      << loudest->gain << ", peaks at " << decibels(loudest->peak)
      << " on its own; lower its gain or the level of what feeds it\n";
}

}  // namespace

std::unique_ptr<rmhost::Library> openPlugin(const std::string& plugin,
                                            const std::vector<std::filesystem::path>& pluginPath,
                                            std::ostream& err) {
  const PluginFinder finder = finderFor(pluginPath);
  const auto path = finder.find(plugin, std::filesystem::current_path());
  if (!path) {
    err << toolError(finder.notFound(plugin, std::filesystem::current_path())) << '\n';
    return nullptr;
  }
  std::string error;
  auto library = rmhost::Library::load(path->string(), &error);
  if (!library) err << toolError("cannot load the plug-in: " + error) << '\n';
  return library;
}

int runInfo(const InfoOptions& options, std::ostream& out, std::ostream& err) {
  const auto library = openPlugin(options.plugin, options.pluginPath, err);
  if (!library) return kExitBadInput;
  if (options.json)
    printInfoJson(out, *library);
  else
    printInfo(out, *library);
  return kExitSuccess;
}

int runRender(const RenderOptions& options, std::ostream& out, std::ostream& err) {
  const std::string patchName = options.patch.string();
  try {
    Problems problems;
    const Patch patch = readPatchFile(options.patch, problems, options.midi);
    Renderer renderer(patch, finderFor(options.pluginPath), std::move(problems));

    const auto start = std::chrono::steady_clock::now();
    AudioBuffer audio;
    {
      ProgressBar bar(patch.render.sampleRate);
      audio = renderer.render([&bar](int64_t done, int64_t total) { bar.update(done, total); });
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const std::filesystem::path named = options.midi ? *options.midi : options.patch;
    const std::filesystem::path wavPath =
        options.output.empty() ? named.stem().concat(".wav") : options.output;
    PendingFile wav(wavPath);
    writeWav(wav.path(), audio, options.format);
    std::unique_ptr<PendingFile> png;
    if (options.picture) {
      png = std::make_unique<PendingFile>(*options.picture);
      (options.strip ? drawStrip(audio) : drawPicture(audio)).writePng(png->path());
    }
    wav.commit();
    if (png) png->commit();

    const Levels levels = measure(audio);
    const double seconds = static_cast<double>(audio.frames) / audio.sampleRate;
    if (levels.notFinite > 0)
      err << toolWarning(std::to_string(levels.notFinite) + " samples are not finite numbers")
          << '\n';
    warnAboveFullScale(err, patchName, patch, renderer.stripLevels(), levels.peak, options.format,
                       wavPath);
    if (options.quiet) return kExitSuccess;
    for (const std::string& notice : patch.notices) out << notice << '\n';
    char summary[160];
    std::snprintf(summary, sizeof summary, "%.2f s, %d Hz, stereo, %s, peak %s", seconds,
                  audio.sampleRate, formatName(options.format), decibels(levels.peak).c_str());
    out << "wrote " << wavPath.string() << " (" << summary << ")\n";
    if (options.picture) out << "wrote " << options.picture->string() << '\n';
    std::snprintf(summary, sizeof summary, "rendered in %.3f s, %.1fx real time\n", elapsed,
                  elapsed > 0.0 ? seconds / elapsed : 0.0);
    out << summary;
    return kExitSuccess;
  } catch (const PatchError& error) {
    err << describeError(patchName, error) << '\n';
  } catch (const std::exception& error) {  // files that cannot be read or written
    err << toolError(error.what()) << '\n';
  }
  return kExitBadInput;
}

}  // namespace rmcli

// The offline renderer: builds a session from a patch and runs it block by block into a stereo
// buffer, with the host's note allocator, gain stages and mixer around the module instances.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "patch.h"
#include "plugins.h"

namespace rmcli {

// Interleaved stereo samples.
struct AudioBuffer {
  int sampleRate = 0;
  int64_t frames = 0;
  std::vector<float> samples;  // left, right, left, right, ...

  float left(int64_t frame) const { return samples[2 * frame]; }
  float right(int64_t frame) const { return samples[2 * frame + 1]; }
};

// What one [[mix]] strip added to the output: its source, its place in the patch, its gain and
// the peak of its own contribution (master gain included), over the whole render.
struct StripLevel {
  std::string source;
  Where where;
  double gain = 1.0;
  double peak = 0.0;
};

// Called now and then during a render with the frames done so far.
using ProgressFn = std::function<void(int64_t done, int64_t total)>;

class Renderer {
 public:
  // Loads the plug-ins and checks every pin, connection and helper of the patch against them;
  // throws a PatchError with `problems` (the patch's mistakes found so far) and every mistake
  // found here. Nothing is rendered yet.
  Renderer(const Patch& patch, const PluginFinder& finder, Problems problems = {});
  ~Renderer();
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  int64_t frames() const;
  // Runs the whole patch; a renderer renders once.
  AudioBuffer render(const ProgressFn& progress = {});
  // After render: the level of every strip, in patch order.
  std::vector<StripLevel> stripLevels() const;

 private:
  struct Graph;
  std::unique_ptr<Graph> graph_;
};

}  // namespace rmcli

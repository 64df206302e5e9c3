// A patch rendered by the renderer, for comparing the LV2 instrument with it.
#pragma once

#include <string>

#include "lv2_test_support.h"
#include "patch.h"
#include "plugins.h"
#include "renderer.h"

namespace lv2test {

inline Stereo renderPatch(const std::string& patch) {
  rmcli::Renderer renderer(rmcli::parsePatch(patch), rmcli::PluginFinder({}));
  const rmcli::AudioBuffer audio = renderer.render();
  Stereo out;
  for (int64_t i = 0; i < audio.frames; ++i) {
    out.left.push_back(audio.left(i));
    out.right.push_back(audio.right(i));
  }
  return out;
}

}  // namespace lv2test

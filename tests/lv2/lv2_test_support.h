// Scores, run-length patterns and comparisons shared by the LV2 tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lv2_host.h"

namespace lv2test {

inline const std::string& bundle() {
  static const std::string path = RM_LV2_BUNDLE;
  return path;
}

inline World& world() {
  static World shared(bundle());
  return shared;
}

struct Midi {
  int64_t frame = 0;
  std::vector<uint8_t> bytes;
};

struct Note {
  int64_t start = 0;
  int64_t end = 0;
  int key = 60;
  int velocity = 100;
};

// Note-ons and note-offs of the notes on channel 1, in frame order (note-offs first in a frame).
inline std::vector<Midi> scoreOf(const std::vector<Note>& notes) {
  std::vector<Midi> score;
  for (const Note& n : notes) {
    score.push_back(
        {n.start, {0x90, static_cast<uint8_t>(n.key), static_cast<uint8_t>(n.velocity)}});
    score.push_back({n.end, {0x80, static_cast<uint8_t>(n.key), 0}});
  }
  std::stable_sort(score.begin(), score.end(), [](const Midi& a, const Midi& b) {
    return a.frame != b.frame ? a.frame < b.frame : (a.bytes[0] & 0xF0) < (b.bytes[0] & 0xF0);
  });
  return score;
}

using Lengths = std::function<uint32_t(int64_t done)>;

inline Lengths steady(uint32_t n) {
  return [n](int64_t) { return n; };
}

// 0, 1, odd and long runs, up to the host buffers' size.
inline Lengths randomLengths(uint32_t seed) {
  auto engine = std::make_shared<std::mt19937>(seed);
  return [engine](int64_t) -> uint32_t {
    const auto next = [&] { return static_cast<uint32_t>((*engine)()); };
    const uint32_t kind = next() % 6;
    if (kind == 0) return 0;
    if (kind == 1) return 1;
    if (kind == 2) return 1 + 2 * (next() % 40);
    return 1 + next() % 1500;
  };
}

struct Stereo {
  std::vector<float> left;
  std::vector<float> right;
};

// Runs `frames` frames of a plug-in with stereo outputs `left`/`right`, MIDI from the score, run
// lengths from `lengths`; `before` may change ports before each run.
inline Stereo play(Instance& plugin, const std::vector<Midi>& score, int64_t frames,
                   const Lengths& lengths, const char* left = "out_l", const char* right = "out_r",
                   const std::function<void(int64_t)>& before = {}, bool watched = false) {
  Stereo out;
  size_t next = 0;
  for (int64_t done = 0; done < frames;) {
    const auto n = static_cast<uint32_t>(std::min<int64_t>(lengths(done), frames - done));
    for (; next < score.size() && score[next].frame < done + n; ++next) {
      plugin.midi(static_cast<uint32_t>(score[next].frame - done), score[next].bytes);
    }
    if (before) before(done);
    plugin.run(n, watched);
    const float* l = plugin.buffer(left);
    const float* r = plugin.buffer(right);
    out.left.insert(out.left.end(), l, l + n);
    out.right.insert(out.right.end(), r, r + n);
    done += n;
  }
  return out;
}

inline double maxDifference(const std::vector<float>& a, const std::vector<float>& b,
                            size_t offsetB = 0) {
  double worst = 0.0;
  for (size_t i = 0; i + offsetB < b.size() && i < a.size(); ++i) {
    worst = std::max(worst, std::abs(static_cast<double>(a[i]) - b[i + offsetB]));
  }
  return worst;
}

inline float peak(const std::vector<float>& x, size_t from = 0, size_t to = SIZE_MAX) {
  float p = 0.0f;
  for (size_t i = from; i < std::min(to, x.size()); ++i) p = std::max(p, std::abs(x[i]));
  return p;
}

inline bool allFinite(const std::vector<float>& x) {
  for (float v : x)
    if (!std::isfinite(v)) return false;
  return true;
}

}  // namespace lv2test

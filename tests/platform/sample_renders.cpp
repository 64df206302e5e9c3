// rm-sample-renders: the fixed scenarios of scenarios.h, written and compared across platforms.
//
//   rm-sample-renders render PLUGIN_DIR OUT_DIR   writes OUT_DIR/<scenario>.f32 (raw floats)
//   rm-sample-renders compare DIR_A DIR_B         per scenario: differing samples, the largest
//                                                 difference in float ulps of the sample and in
//                                                 ulps at the render's peak; fails when an exact
//                                                 scenario differs at all or another by more than
//                                                 one ulp at its peak
//
// Near zero a sample's own ulp is tiny: a sum of 200 oscillators that cancels to 1e-6 keeps the
// rounding of its full-scale terms, so the looser scenarios are judged at the render's peak.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>

#include "scenarios.h"

namespace {

using platform_test::Scenario;

bool write(const std::string& path, const std::vector<float>& samples) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(samples.data()),
            static_cast<std::streamsize>(samples.size() * sizeof(float)));
  return static_cast<bool>(out);
}

std::optional<std::vector<float>> read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
  std::vector<float> samples(bytes.size() / sizeof(float));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
  return samples;
}

// Distance of two floats in representable steps (sign-magnitude order); NaNs equal only by bits.
uint64_t ulps(float a, float b) {
  const auto ordered = [](float x) {
    int32_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    return bits < 0 ? -int64_t{bits & 0x7fffffff} : int64_t{bits};
  };
  if (std::isnan(a) || std::isnan(b)) return std::memcmp(&a, &b, sizeof a) == 0 ? 0 : UINT32_MAX;
  const int64_t d = ordered(a) - ordered(b);
  return static_cast<uint64_t>(d < 0 ? -d : d);
}

int renderAll(const std::string& pluginDir, const std::string& outDir) {
  for (const Scenario& s : platform_test::scenarios()) {
    const auto samples =
        platform_test::render(s, pluginDir + "/" + platform_test::libraryFile(s.plugin));
    if (!write(outDir + "/" + s.name + ".f32", samples)) {
      std::cerr << "cannot write " << outDir << "/" << s.name << ".f32\n";
      return 1;
    }
    std::cout << s.name << ": " << samples.size() << " samples\n";
  }
  return 0;
}

int compareAll(const std::string& dirA, const std::string& dirB) {
  bool agree = true;
  for (const Scenario& s : platform_test::scenarios()) {
    const auto a = read(dirA + "/" + s.name + ".f32");
    const auto b = read(dirB + "/" + s.name + ".f32");
    if (!a || !b || a->size() != b->size() || a->empty()) {
      std::cout << s.name << ": missing or of different lengths\n";
      agree = false;
      continue;
    }
    size_t differing = 0;
    uint64_t largest = 0;
    float peak = 0.0f;
    float widest = 0.0f;
    for (size_t i = 0; i < a->size(); ++i) {
      const uint64_t d = ulps((*a)[i], (*b)[i]);
      differing += d != 0;
      largest = std::max(largest, d);
      peak = std::max(peak, std::fabs((*a)[i]));
      if (d != 0) widest = std::max(widest, std::fabs((*a)[i] - (*b)[i]));
    }
    const float peakUlp = std::nextafter(peak, INFINITY) - peak;
    const double atPeak = peakUlp > 0.0f ? double(widest) / double(peakUlp) : 0.0;
    const bool ok = s.exact ? differing == 0 : largest < UINT32_MAX && atPeak <= 1.0;
    agree = agree && ok;
    std::cout << s.name << ": " << a->size() << " samples, " << differing << " differ, largest "
              << largest << " ulp of the sample, " << atPeak << " ulp at the peak " << peak << " ("
              << (s.exact ? "must be identical" : "at most 1 ulp at the peak") << ") "
              << (ok ? "ok" : "FAILED") << "\n";
  }
  return agree ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 4 ? argv[1] : "";
  try {
    if (mode == "render") return renderAll(argv[2], argv[3]);
    if (mode == "compare") return compareAll(argv[2], argv[3]);
  } catch (const std::exception& e) {
    std::cerr << "rm-sample-renders: " << e.what() << "\n";
    return 1;
  }
  std::cerr << "usage: rm-sample-renders render PLUGIN_DIR OUT_DIR | compare DIR_A DIR_B\n";
  return 2;
}

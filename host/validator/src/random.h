// Seeded choices of the validator. The engine's output sequence is fixed by the language; the
// distributions are written out here so that a seed means the same session everywhere.
#pragma once

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <random>

namespace rmhost::validator {

class Rng {
 public:
  explicit Rng(uint64_t seed) : engine_(seed) {}

  uint64_t bits() { return engine_(); }
  // Uniform in [0, 1) with 53 random bits.
  double unit() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }
  // True with probability p.
  bool chance(double p) { return unit() < p; }
  // Uniform integer in [lo, hi].
  int64_t between(int64_t lo, int64_t hi) {
    const uint64_t span = static_cast<uint64_t>(hi - lo) + 1;
    return lo + static_cast<int64_t>(span == 0 ? engine_() : engine_() % span);
  }
  double uniform(double lo, double hi) { return lo + (hi - lo) * unit(); }
  // Log-uniform in [lo, hi], lo > 0.
  double logUniform(double lo, double hi) { return lo * std::exp(unit() * std::log(hi / lo)); }
  template <class T>
  T pick(std::initializer_list<T> choices) {
    return choices.begin()[between(0, static_cast<int64_t>(choices.size()) - 1)];
  }

 private:
  std::mt19937_64 engine_;
};

}  // namespace rmhost::validator

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <complex>

#include "swarm/dsp/complex.h"
#include "swarm/dsp/flush.h"

namespace {

using swarm::dsp::Complex;
using swarm::dsp::complexPowers;
using swarm::dsp::flush;

// Below 2^-83 the sum x + t is rounded to the grid of t's last bit, 2^-136.
double onFlushGrid(double x) {
  return std::ldexp(std::nearbyint(std::ldexp(x, 136)), -136);
}

TEST(Flush, PassesLargeValuesAndRemovesSubnormals) {
  EXPECT_EQ(swarm::dsp::kFlushOffset, 1.0000000195414814e-25);
  for (double x : {1.0, -3.5, 1e-10, 1e300}) EXPECT_EQ(flush(x), x);
  for (double x : {5.6e-42, -5.6e-42, 1e-300, DBL_TRUE_MIN}) EXPECT_EQ(flush(x), 0.0) << x;
  for (double x : {3e-41, 1.234e-30, -7.7e-39}) EXPECT_EQ(flush(x), onFlushGrid(x)) << x;
  EXPECT_NE(flush(1.234e-30), 1.234e-30);  // the coarsening really happens
}

// The plain formula wherever the squares stay normal; the same direction where they do not.
TEST(Normalise, KeepsTheDirectionOfTinyAndHugePhasors) {
  const Complex plain = swarm::dsp::normalise({3.0, -4.0});
  EXPECT_EQ(plain.re, 3.0 * (1.0 / std::sqrt(25.0)));
  EXPECT_EQ(plain.im, -4.0 * (1.0 / std::sqrt(25.0)));
  for (double scale : {1e-160, 3e-305, DBL_TRUE_MIN * 5.0, 1e160, 1e300}) {
    const Complex z = swarm::dsp::normalise({3.0 * scale, -4.0 * scale});
    EXPECT_NEAR(z.re, 0.6, 1e-15) << scale;
    EXPECT_NEAR(z.im, -0.8, 1e-15) << scale;
  }
  const Complex zero = swarm::dsp::normalise({0.0, -0.0});
  EXPECT_EQ(zero.re, 0.0);
  EXPECT_EQ(zero.im, 0.0);
}

std::complex<double> naivePower(Complex z, int n) {
  std::complex<double> r{1.0, 0.0};
  for (int i = 0; i < n; ++i) r *= std::complex<double>{z.re, z.im};
  return r;
}

// Up to rounding, and up to the flush grid for powers that decay to almost nothing.
TEST(ComplexPowers, MatchRepeatedMultiplication) {
  const Complex z1{std::cos(0.37), std::sin(0.37)};
  const Complex z2{0.9 * std::cos(-2.1), 0.9 * std::sin(-2.1)};
  for (int n : {1, 2, 5, 6, 7, 12, 51, 200, 1001}) {
    const auto [p1, p2] = complexPowers(z1, z2, n);
    const auto e1 = naivePower(z1, n);
    const auto e2 = naivePower(z2, n);
    EXPECT_NEAR(p1.re, e1.real(), 1e-12) << n;
    EXPECT_NEAR(p1.im, e1.imag(), 1e-12) << n;
    EXPECT_NEAR(p2.re, e2.real(), 1e-12 * std::abs(e2) + 1e-41) << n;
    EXPECT_NEAR(p2.im, e2.imag(), 1e-12 * std::abs(e2) + 1e-41) << n;
  }
}

TEST(ComplexPowers, NonPositiveExponentsGiveOneAndTinyPowersGiveZero) {
  const Complex z{0.3, -0.4};
  for (int n : {0, -1, -1000}) {
    const auto [p1, p2] = complexPowers(z, z, n);
    EXPECT_EQ(p1.re, 1.0);
    EXPECT_EQ(p1.im, 0.0);
    EXPECT_EQ(p2.re, 1.0);
  }
  // 0.5^200 would be about 6e-61: flushed to exact zeros instead.
  const auto [small, unit] = complexPowers({0.5 * std::cos(0.2), 0.5 * std::sin(0.2)},
                                           {std::cos(0.2), std::sin(0.2)}, 200);
  EXPECT_EQ(small.re, 0.0);
  EXPECT_EQ(small.im, 0.0);
  EXPECT_NEAR(std::hypot(unit.re, unit.im), 1.0, 1e-13);
}

}  // namespace

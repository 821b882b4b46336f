// zirk-corr's vector functions against the C library's scalar ones.
#include "vector_math.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace zirk_corr {
namespace {

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Applies `each` to `values`, checks every entry against `scalar` within
// `relative` of its size plus `absolute`, and checks that every entry gets
// the bits it gets alone in the first lane of a zero-padded vector.
void check(void (*each)(std::span<double>), double (*scalar)(double),
           std::vector<double> values, double relative, double absolute,
           const char* name) {
  values.resize(padded_size(values.size()), 0.0);
  const std::vector<double> arguments = values;
  each(values);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double x = arguments[i];
    const double exact = scalar(x);
    EXPECT_NEAR(values[i], exact, relative * std::fabs(exact) + absolute)
        << name << "(" << x << ")";
    std::vector<double> alone(kLanes, 0.0);
    alone[0] = x;
    each(alone);
    EXPECT_TRUE(same_bits(alone[0], values[i])) << name << "(" << x << ")";
  }
}

TEST(VectorMathTest, AgreesWithScalarFunctionsLaneByLane) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::vector<double> r = {0.0, -0.0, 1e-300, -1e-9, 0.5, -0.999};
  // The clip of a class of 4 and of 358 individuals, either side.
  for (double n : {4.0, 358.0}) {
    r.push_back(1.0 - 6.0 / (n * n * n - n));
    r.push_back(-r.back());
  }
  for (int i = 0; i < 997; ++i) r.push_back(unit(random));
  // log((1 + c) / (1 - c)) rounds the ratio first: about 1e-16 absolute
  // near 0, within 1e-13 relative elsewhere.
  check(
      atanh_each, [](double c) { return std::atanh(c); }, r, 1e-13, 1e-15,
      "atanh");

  std::vector<double> x = {0.0, 1e-12, 0.5, 1.0, 5.0, 25.99};
  for (int i = 0; i < 1001; ++i) x.push_back(26.0 * std::fabs(unit(random)));
  check(
      erfc_each, [](double v) { return std::erfc(v); }, x, 4e-15, 0.0, "erfc");

  // Twice a pooled Fisher z: within about +-40 for any class size.
  std::vector<double> twice = {0.0, -0.0, 1e-12, -3.0, 26.6, -40.0};
  for (int i = 0; i < 1001; ++i) twice.push_back(40.0 * unit(random));
  check(
      exp_each, [](double v) { return std::exp(v); }, twice, 4e-15, 0.0,
      "exp");

  std::vector<double> positive = {1.0, 1e-300, 4.9e-324, 1e300, 0.1};
  for (int i = 0; i < 1003; ++i) {
    positive.push_back(std::ldexp(std::fabs(unit(random)) + 0.5,
                                  static_cast<int>(random() % 2000) - 1000));
  }
  check(
      log10_each, [](double v) { return std::log10(v); }, positive, 4e-15, 0.0,
      "log10");
}

// The clamp is done in the vectors: each value must get the bits of
// std::clamp followed by atanh_each, at the limit, beyond it either side,
// at +-1 (which would make z infinite) and inside.
TEST(VectorMathTest, ClampedAtanhIsClampThenAtanh) {
  std::mt19937_64 random(5);
  std::uniform_real_distribution<double> wide(-1.2, 1.2);
  for (double n : {4.0, 91.0, 358.0}) {
    const double limit = 1.0 - 6.0 / (n * n * n - n);
    std::vector<double> r = {0.0,   -0.0,   1.0,    -1.0,
                             limit, -limit, 1.0001, -1.0001};
    r.push_back(std::nextafter(limit, 1.0));
    r.push_back(-std::nextafter(limit, 1.0));
    r.push_back(std::nextafter(limit, 0.0));
    while (r.size() < 203) r.push_back(wide(random));
    // 203 values: the last vector is partial and takes zeros after r.
    std::vector<double> expected = r;
    expected.resize(padded_size(r.size()), 0.0);
    for (double& c : expected) c = std::clamp(c, -limit, limit);
    atanh_each(expected);
    std::vector<double> z(expected.size(), 99.0);
    clamped_atanh(r, limit, z.data());
    for (std::size_t i = 0; i < z.size(); ++i) {
      EXPECT_TRUE(same_bits(z[i], expected[i]))
          << "n " << n << " entry " << i << ": " << z[i] << " against "
          << expected[i];
      EXPECT_TRUE(std::isfinite(z[i])) << "n " << n << " entry " << i;
    }
  }
}

}  // namespace
}  // namespace zirk_corr

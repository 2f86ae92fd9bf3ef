// First derivatives on a knot sequence: known values and properties.
#include <gtest/gtest.h>

#include <random>

#include "helpers.hpp"

using namespace testing_bsbasis;

namespace {

TEST(Derivative, IntegerKnotsKnownValues) {
  std::vector<double> t;
  for (int m = 0; m <= 13; ++m) t.push_back(m);
  auto r = lib_grid(t, {3.5}, 4, 10, 1);
  const std::vector<double> want = {-1. / 8, -5. / 8, 5. / 8, 1. / 8};
  for (int q = 0; q < 4; ++q) {
    EXPECT_EQ(r.j[q], q);
    EXPECT_NEAR(r.B[q], want[q], 1e-15);
  }
}

// Against a central difference of the basis values.
TEST(Derivative, MatchesDifferenceQuotient) {
  const std::vector<double> t = {0, 0, 0, 0, 0.5, 1.25, 2, 3, 3, 3, 3};
  const double h = 1e-6;
  for (double x : {0.1, 0.7, 1.3, 2.2, 2.9}) {
    auto d = lib_grid(t, {x}, 4, 7, 1);
    auto lo = lib_grid(t, {x - h}, 4, 7, 0);
    auto hi = lib_grid(t, {x + h}, 4, 7, 0);
    for (int q = 0; q < 4; ++q) {
      ASSERT_EQ(lo.j[q], d.j[q]);
      EXPECT_NEAR(d.B[q], (hi.B[q] - lo.B[q]) / (2 * h), 1e-6) << x;
    }
  }
}

TEST(Derivative, SumToZeroAndStayZeroOutOfRange) {
  std::mt19937_64 rng(41);
  for (int round = 0; round < 300; ++round) {
    const int order = 2 + round % 7;
    const auto t = random_knots(rng, order, round % 3);
    const int nj = int(t.size()) - order;
    if (nj < 1) continue;
    const auto x = stress_abscissae(rng, t, 40);
    auto r = lib_grid(t, x, order, nj, 1);
    for (size_t p = 0; p < x.size(); ++p) {
      double sum = 0, big = 0;
      for (int q = 0; q < order; ++q) {
        const double v = r.B[p * order + q];
        ASSERT_TRUE(std::isfinite(v)) << x[p];
        sum += v;
        big = std::max(big, std::fabs(v));
      }
      ASSERT_NEAR(sum, 0.0, 1e-12 * std::max(big, 1.0)) << "order " << order << " x " << x[p];
      if (!(x[p] >= t.front() && x[p] < t.back())) ASSERT_TRUE(out_of_range_block(r, p, order));
    }
  }
}

TEST(Derivative, OrderOneIsZero) {
  const std::vector<double> t = {0, 1, 2, 3};
  auto r = lib_grid(t, {0.5, 2.5}, 1, 3, 1);
  EXPECT_EQ(r.B, (std::vector<double>{0.0, 0.0}));
  EXPECT_EQ(r.j, (std::vector<int>{0, 2}));
}

}  // namespace

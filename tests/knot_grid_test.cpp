// Basis on a knot sequence: known values and properties.
#include <gtest/gtest.h>

#include <random>

#include "helpers.hpp"

using namespace testing_bsbasis;

namespace {

const std::vector<double> kClamped = {0, 0, 0, 0, 1, 2, 3, 3, 3, 3};

TEST(KnotGrid, IntegerKnotsEqualTheUniformKernel) {
  std::vector<double> t;
  for (int m = 0; m <= 13; ++m) t.push_back(m);
  std::mt19937_64 rng(31);
  const auto x = stress_abscissae(rng, t, 400);
  for (int order_stop = 0; order_stop <= 4; ++order_stop) {
    auto grid = lib_blossom_grid(t, x, order_stop, 4, 10);
    auto uni = lib_blossom(x, order_stop, 4, 10);
    EXPECT_EQ(grid.i, uni.i);
    EXPECT_EQ(grid.j, uni.j);
    for (size_t e = 0; e < grid.B.size(); ++e)
      ASSERT_EQ(bits(grid.B[e] + 0.0), bits(uni.B[e] + 0.0))
          << "x " << x[e / 4] << " order_stop " << order_stop;
  }
}

TEST(KnotGrid, ClampedCubic) {
  auto r = lib_blossom_grid(kClamped, {0.0, 3.0, 2.999, -0.5, 3.5}, 4, 4, 6);
  EXPECT_EQ(std::vector<int>(r.j.begin(), r.j.begin() + 4), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(std::vector<double>(r.B.begin(), r.B.begin() + 4),
            (std::vector<double>{1, 0, 0, 0}));
  EXPECT_EQ(std::vector<int>(r.j.begin() + 8, r.j.begin() + 12),
            (std::vector<int>{2, 3, 4, 5}));
  for (int p : {1, 3, 4})  // the last knot, below and above the knots
    EXPECT_TRUE(out_of_range_block(r, p, 4)) << p;
}

TEST(KnotGrid, RepeatedKnotsDivideNothingByZero) {
  const std::vector<double> t = {0, 0, 0, 1, 1, 1, 2, 2, 2};
  std::vector<double> x;
  for (int k = 0; k < 40; ++k) x.push_back(k / 20.0);
  auto r = lib_blossom_grid(t, x, 3, 3, 6);
  for (size_t p = 0; p < x.size(); ++p) {
    double sum = 0;
    for (int q = 0; q < 3; ++q) {
      ASSERT_TRUE(std::isfinite(r.B[p * 3 + q]));
      sum += r.B[p * 3 + q];
    }
    EXPECT_NEAR(sum, 1.0, 1e-15) << x[p];
  }
}

TEST(KnotGrid, PartitionOfUnityOnRandomKnots) {
  std::mt19937_64 rng(32);
  for (int round = 0; round < 300; ++round) {
    const int order = 1 + round % 8;
    const auto t = random_knots(rng, order, round % 3);
    const int nj = int(t.size()) - order;
    if (nj < 1) continue;
    const auto x = stress_abscissae(rng, t, 50, true);
    auto r = lib_blossom_grid(t, x, order, order, nj);
    for (size_t p = 0; p < x.size(); ++p) {
      if (out_of_range_block(r, p, order)) continue;
      double sum = 0, big = 0;
      for (int q = 0; q < order; ++q) {
        const double v = r.B[p * order + q];
        big = std::max(big, std::fabs(v));
        ASSERT_GE(v, -1e-14);
        sum += v;
      }
      ASSERT_NEAR(sum, 1.0, 1e-13) << "order " << order << " x " << x[p];
    }
  }
}

TEST(KnotGrid, NoAbscissaeWritesNothing) {
  std::vector<double> t = kClamped;
  int i = -3, j = -3;
  double B = -3;
  blossom_grid(t.data(), 10, nullptr, 0, &i, &j, &B, 0, 4, 4, 6);
  blossom(nullptr, 0, &i, &j, &B, 0, 4, 4, 6);
  EXPECT_EQ(i, -3);
  EXPECT_EQ(j, -3);
  EXPECT_EQ(B, -3);
}

}  // namespace

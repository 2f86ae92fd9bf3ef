// Basis on the uniform integer grid: known values and properties.
#include <gtest/gtest.h>

#include <random>

#include "helpers.hpp"

using namespace testing_bsbasis;

namespace {

TEST(UniformGrid, CubicKnownValues) {
  auto r = lib_blossom({3.0, 3.5}, 4, 4, 10);
  const std::vector<double> want = {1. / 6, 2. / 3, 1. / 6, 0,
                                    1. / 48, 23. / 48, 23. / 48, 1. / 48};
  for (int e = 0; e < 8; ++e) {
    EXPECT_EQ(r.i[e], e / 4);
    EXPECT_EQ(r.j[e], e % 4);
    EXPECT_NEAR(r.B[e], want[e], 1e-15) << e;
  }
}

TEST(UniformGrid, StopsAtALowerOrder) {
  auto r = lib_blossom({3.5}, 3, 4, 10);
  EXPECT_EQ(r.B[0], 0.0);  // position 0 keeps the caller's zero
  EXPECT_NEAR(r.B[1], 1. / 8, 1e-15);
  EXPECT_NEAR(r.B[2], 3. / 4, 1e-15);
  EXPECT_NEAR(r.B[3], 1. / 8, 1e-15);
  for (int stop : {1, 0, -5}) {
    auto s = lib_blossom({3.5, 7.25}, stop, 4, 10);
    EXPECT_EQ(s.B, (std::vector<double>{0, 0, 0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(s.j, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  }
}

TEST(UniformGrid, RangeEnds) {
  // In range: deg <= x < nj.
  auto r = lib_blossom({3.0, 10.0, 11.0, 2.999, -1.0}, 4, 4, 10);
  EXPECT_EQ(r.j[0], 0);
  EXPECT_EQ(r.j[3], 3);
  for (int p = 1; p < 5; ++p) EXPECT_TRUE(out_of_range_block(r, p, 4)) << p;
  // Order 1: the block is a single entry.
  auto o1 = lib_blossom({0.5, 4.0, 9.99, 10.0}, 1, 1, 10);
  EXPECT_EQ(o1.j, (std::vector<int>{0, 4, 9, 0}));
  EXPECT_EQ(o1.B, (std::vector<double>{1, 1, 1, 0}));
}

TEST(UniformGrid, PartitionOfUnity) {
  std::mt19937_64 rng(21);
  for (int order = 1; order <= 8; ++order) {
    const int nj = order + 12;
    std::vector<double> x(500);
    for (double &v : x) v = std::uniform_real_distribution<double>(order - 1, nj)(rng);
    auto r = lib_blossom(x, order, order, nj);
    for (size_t p = 0; p < x.size(); ++p) {
      double sum = 0;
      for (int q = 0; q < order; ++q) {
        const double v = r.B[p * order + q];
        EXPECT_GE(v, -1e-15);
        sum += v;
      }
      EXPECT_NEAR(sum, 1.0, 1e-14) << "order " << order << " x " << x[p];
    }
  }
}

}  // namespace

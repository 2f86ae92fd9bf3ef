// Regressions for faults that fuzzing found on arguments outside (and at the
// edge of) the documented limits.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <vector>

#include "bsbasis.h"

namespace {

// blossom_grid without knots (nt <= 0) searched t anyway and read t[0] and
// t[nt - 1].  t is null here, so any read faults.
TEST(FaultRegression, BlossomGridWithoutKnotsReadsNoKnot) {
  std::vector<double> x = {0.0, 1.5, -2.0};
  for (int nt : {0, -1, INT_MIN}) {
    const int order = 3, nx = int(x.size()), n = nx * order;
    std::vector<int> i(n, -7), j(n, -7);
    std::vector<double> B(n, 0.0);
    blossom_grid(nullptr, nt, x.data(), nx, i.data(), j.data(), B.data(), n, order,
                 order, 5);
    for (int e = 0; e < n; ++e) {
      EXPECT_EQ(i[e], e / order) << "nt " << nt;
      EXPECT_EQ(j[e], 0) << "nt " << nt;
      EXPECT_EQ(B[e], 0.0) << "nt " << nt;
    }
  }
}

// order_stop = INT_MIN overflowed in the level count, which wrapped to
// INT_MAX and sized a scratch table of INT_MAX * ncol doubles; when that
// allocation failed every value came out NaN.  It must act as no level.
TEST(FaultRegression, BlossomGridOrderStopAtIntMin) {
  std::vector<double> t;
  for (int m = 0; m < 40; ++m) t.push_back(m);
  std::vector<double> x = {5.5, 100.0};
  const int order = 4, nx = 2, n = nx * order;
  std::vector<int> i(n), j(n);
  std::vector<double> B(n, 0.0);
  blossom_grid(t.data(), int(t.size()), x.data(), nx, i.data(), j.data(), B.data(),
               n, INT_MIN, order, 36);
  // Seeding only: the in-range block holds 1.0 at the top, zeros below.
  EXPECT_EQ(B[0], 0.0);
  EXPECT_EQ(B[1], 0.0);
  EXPECT_EQ(B[2], 0.0);
  EXPECT_EQ(B[3], 1.0);
  EXPECT_EQ(j[3], 5);
  for (int q = 4; q < 8; ++q) {
    EXPECT_EQ(j[q], 0);
    EXPECT_EQ(B[q], 0.0);
  }
}

// A knot gap so small that its reciprocal overflows to inf made deriv_grid
// multiply the zeros of out-of-range blocks by inf: NaN where the block
// must stay zero.  Every order, so that each kernel path is covered.
TEST(FaultRegression, DerivGridOutOfRangeBlocksStayZeroOnTinyKnotGaps) {
  const double tiny = std::numeric_limits<double>::denorm_min();
  for (int order = 2; order <= 10; ++order) {
    // order - 1 knots at 0, then tiny: the first span is tiny.
    std::vector<double> t(order - 1, 0.0);
    t.push_back(tiny);
    for (int m = 1; m <= 8; ++m) t.push_back(m);
    const int nt = int(t.size()), nj = nt - order;
    std::vector<double> x = {-1.0, 8.0, 9.0, std::nan(""),
                             std::numeric_limits<double>::infinity()};
    const int nx = int(x.size()), n = nx * order;
    std::vector<int> i(n), j(n);
    std::vector<double> B(n, 0.0);
    blossom_grid(t.data(), nt, x.data(), nx, i.data(), j.data(), B.data(), n,
                 order - 1, order, nj);
    deriv_grid(t.data(), nt, i.data(), j.data(), B.data(), n, nx, order);
    for (int e = 0; e < n; ++e) {
      EXPECT_EQ(j[e], 0) << "order " << order << " entry " << e;
      EXPECT_EQ(B[e], 0.0) << "order " << order << " entry " << e;  // fails for NaN
    }
  }
}

// The guard above must not touch in-range blocks: a block in range on the
// same knots still gets its derivatives (they sum to zero).
TEST(FaultRegression, DerivGridInRangeBlockOnTinyKnotGapsUnchanged) {
  const double tiny = std::numeric_limits<double>::denorm_min();
  std::vector<double> t = {0, 0, 0, tiny, 1, 2, 3, 4, 4, 4, 4};
  const int nt = int(t.size()), order = 4, nj = nt - order;
  std::vector<double> x = {2.5};
  std::vector<int> i(order), j(order);
  std::vector<double> B(order, 0.0);
  blossom_grid(t.data(), nt, x.data(), 1, i.data(), j.data(), B.data(), order,
               order - 1, order, nj);
  deriv_grid(t.data(), nt, i.data(), j.data(), B.data(), order, 1, order);
  EXPECT_EQ(j[0], 2);
  EXPECT_EQ(j[3], 5);
  double sum = 0;
  for (double v : B) {
    EXPECT_TRUE(std::isfinite(v));
    sum += v;
  }
  EXPECT_NEAR(sum, 0.0, 1e-12);
}

// Knots may start with -inf (non-decreasing is all that is asked).  The
// vector paths settled a whole group of abscissae in the guessed interval by
// comparisons alone, so a group of x = -inf in [t[g], t[g+1]) = [-inf, 0)
// was taken as in range; non-finite abscissae are always out of range.
TEST(FaultRegression, BlossomGridMinusInfinityGroupOnInfiniteKnots) {
  const double inf = std::numeric_limits<double>::infinity();
  for (int order = 2; order <= 8; ++order) {
    std::vector<double> t(order, -inf);
    for (int m = 0; m <= 10; ++m) t.push_back(m);
    const int nt = int(t.size()), nj = nt - order;
    for (int nx : {1, 2, 4, 8, 300}) {
      std::vector<double> x(nx, -inf);
      const int n = nx * order;
      std::vector<int> i(n, -7), j(n, -7);
      std::vector<double> B(n, 0.0);
      blossom_grid(t.data(), nt, x.data(), nx, i.data(), j.data(), B.data(), n,
                   order, order, nj);
      for (int e = 0; e < n; ++e) {
        ASSERT_EQ(i[e], e / order) << "order " << order << " nx " << nx;
        ASSERT_EQ(j[e], 0) << "order " << order << " nx " << nx << " entry " << e;
        ASSERT_EQ(B[e], 0.0) << "order " << order << " nx " << nx << " entry " << e;
      }
    }
  }
}

}  // namespace

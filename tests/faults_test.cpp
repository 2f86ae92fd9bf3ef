// Arguments outside the documented limits: the library stays inside its
// arrays and gives the documented sound results.
#include <gtest/gtest.h>

#include <climits>

#include "helpers.hpp"

using namespace testing_bsbasis;

namespace {

// Output arrays with sentinel entries on both sides of the region a call may use.
struct Guarded {
  static constexpr int kPad = 16;
  std::vector<int> i, j;
  std::vector<double> B;
  size_t n;
  explicit Guarded(size_t n_) : i(n_ + 2 * kPad, -77), j(n_ + 2 * kPad, -77),
                                B(n_ + 2 * kPad, 0.0), n(n_) {
    for (int k = 0; k < kPad; ++k) B[k] = B[n + kPad + k] = -77.0;
  }
  int *pi() { return i.data() + kPad; }
  int *pj() { return j.data() + kPad; }
  double *pB() { return B.data() + kPad; }
  bool pads_intact() const {
    for (int k = 0; k < kPad; ++k)
      for (size_t e : {size_t(k), n + kPad + k})
        if (i[e] != -77 || j[e] != -77 || B[e] != -77.0) return false;
    return true;
  }
  bool untouched() const {
    for (size_t e = kPad; e < n + kPad; ++e)
      if (i[e] != -77 || j[e] != -77 || B[e] != 0.0) return false;
    return pads_intact();
  }
  // Block p is out of range: row p, column 0, value 0 everywhere.
  bool zero_block(int p, int order) const {
    for (int q = 0; q < order; ++q) {
      const size_t e = kPad + size_t(p) * order + q;
      if (i[e] != p || j[e] != 0 || !(B[e] == 0.0)) return false;
    }
    return true;
  }
};

const std::vector<double> kKnots = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};

TEST(Faults, NonFiniteAbscissaeAreOutOfRange) {
  std::vector<double> x = {kNaN, kInf, -kInf, 8.5, -kNaN};
  std::vector<double> t = kKnots;
  for (int order : {1, 2, 4, 7}) {
    Guarded u(x.size() * order), g(x.size() * order);
    blossom(x.data(), 5, u.pi(), u.pj(), u.pB(), 0, order, order, 10);
    blossom_grid(t.data(), 14, x.data(), 5, g.pi(), g.pj(), g.pB(), 0, order, order, 10);
    for (int p : {0, 1, 2, 4}) {
      EXPECT_TRUE(u.zero_block(p, order)) << "blossom order " << order << " block " << p;
      EXPECT_TRUE(g.zero_block(p, order)) << "blossom_grid order " << order << " block " << p;
    }
    EXPECT_FALSE(u.zero_block(3, order));
    EXPECT_TRUE(u.pads_intact() && g.pads_intact());
  }
}

TEST(Faults, OutOfRangeBlocksNeverHoldNaN) {
  // Differences that overflow to infinity, multiplied by zero values.
  std::vector<double> t = {1e308, 1.2e308, 1.4e308, 1.5e308, 1.6e308, 1.7e308, 1.75e308};
  std::vector<double> x = {-1.7e308, 1.79e308, 1.3e308, -1e300};
  Guarded g(x.size() * 4);
  blossom_grid(t.data(), 7, x.data(), 4, g.pi(), g.pj(), g.pB(), 0, 4, 4, 3);
  for (int p = 0; p < 4; ++p) EXPECT_TRUE(g.zero_block(p, 4)) << p;
  // Values left in B by the caller do not survive in an out-of-range block.
  std::vector<double> y = {-5.0, 50.0};
  Guarded u(8);
  for (int e = 0; e < 8; ++e) u.pB()[e] = kNaN;
  blossom(y.data(), 2, u.pi(), u.pj(), u.pB(), 0, 4, 4, 10);
  EXPECT_TRUE(u.zero_block(0, 4) && u.zero_block(1, 4));
}

TEST(Faults, NonPositiveOrderTouchesNothing) {
  std::vector<double> x = {3.5, 4.5}, t = kKnots;
  for (int order : {0, -1, INT_MIN}) {
    Guarded a(8);
    blossom(x.data(), 2, a.pi(), a.pj(), a.pB(), 8, 4, order, 10);
    blossom_grid(t.data(), 14, x.data(), 2, a.pi(), a.pj(), a.pB(), 8, 4, order, 10);
    deriv_grid(t.data(), 14, a.pi(), a.pj(), a.pB(), 8, 2, order);
    test(x.data(), 2, t.data(), 14, a.pj(), a.pB(), 8, order);
    EXPECT_TRUE(a.untouched()) << order;
  }
}

TEST(Faults, OrderStopAboveOrderActsAsOrder) {
  std::vector<double> t = kKnots;
  std::vector<double> x = {3.0, 3.5, 9.99, 12.0};
  for (int stop : {5, 9, INT_MAX}) {
    auto u = lib_blossom(x, stop, 4, 10);
    auto g = lib_blossom_grid(t, x, stop, 4, 10);
    EXPECT_EQ(u.B, lib_blossom(x, 4, 4, 10).B);
    EXPECT_EQ(g.B, lib_blossom_grid(t, x, 4, 4, 10).B);
    Guarded a(x.size() * 4);
    blossom(x.data(), 4, a.pi(), a.pj(), a.pB(), 16, stop, 4, 10);
    blossom_grid(t.data(), 14, x.data(), 4, a.pi(), a.pj(), a.pB(), 16, stop, 4, 10);
    EXPECT_TRUE(a.pads_intact());
  }
}

TEST(Faults, EmptySearchArrayAnswersMinusOne) {
  for (int len : {0, -1, INT_MIN}) {
    EXPECT_EQ(binary_search_with_guess(1.0, nullptr, len, 0), -1);
    std::vector<double> keys = {kNaN, -1.0, 1e300};
    std::vector<int> idx(3, 5);
    binary_search(keys.data(), idx.data(), 3, nullptr, len);
    EXPECT_EQ(idx, (std::vector<int>{-1, -1, -1}));
  }
}

// Knots shorter than the bound or the order needs: nothing is read past the
// knots (the exact-size vector lets AddressSanitizer see it), and a block
// whose columns would need a knot past the end is out of range.
TEST(Faults, BoundBeyondTheKnots) {
  for (int nt = 0; nt <= 6; ++nt) {
    std::vector<double> t(kKnots.begin(), kKnots.begin() + nt);
    std::vector<double> x = {0.0, 0.5, 1.5, 2.5, 3.5, 4.5, 5.0, 5.5, 7.0};
    for (int order = 1; order <= 4; ++order) {
      for (int nj : {nt - 1, nt, nt + 3, INT_MAX}) {
        auto r = lib_blossom_grid(t, x, order, order, nj);
        auto d = lib_grid(t, x, order, nj, 1);
        // Within the limits nj <= nt - 1 the answer is the same.
        std::vector<double> tt = t;
        const bool comparable = nt >= 3 && nj > nt - 1;
        auto capped = comparable ? lib_blossom_grid(tt, x, order, order, nt - 1) : r;
        for (size_t p = 0; p < x.size(); ++p)
          for (int q = 0; q < order; ++q) {
            const size_t e = p * order + q;
            ASSERT_EQ(r.i[e], int(p));
            ASSERT_TRUE(r.j[e] >= 0 && r.j[e] <= std::max(nt - 2, 0));
            ASSERT_TRUE(std::isfinite(r.B[e]) && std::isfinite(d.B[e]));
            ASSERT_EQ(r.j[e], capped.j[e]);
            ASSERT_EQ(bits(r.B[e]), bits(capped.B[e]));
          }
        if (nt <= 0 || (order >= 2 && nt < 3))
          for (double v : r.B) ASSERT_EQ(v, 0.0) << "nt " << nt << " order " << order;
      }
    }
  }
}

TEST(Faults, DerivativeIgnoresBadColumns) {
  std::vector<double> t = kKnots;
  std::vector<int> i(8, 0);
  std::vector<int> j = {-1, 0, 1, 2, INT_MAX - 1, INT_MAX, INT_MIN, 10};
  std::vector<double> B = {0.0, 0.25, 0.5, 0.25, 0.1, 0.2, 0.3, 0.4};
  deriv_grid(t.data(), 14, i.data(), j.data(), B.data(), 8, 2, 4);
  EXPECT_EQ(B[0], 0.0);  // column -1
  for (int e : {4, 5, 6}) EXPECT_EQ(B[e], 0.0) << e;
  for (double v : B) EXPECT_TRUE(std::isfinite(v));
  EXPECT_NE(B[1], 0.0);
  EXPECT_NE(B[7], 0.0);  // column 10 has a span
  // Columns and rows are not changed.
  EXPECT_EQ(j, (std::vector<int>{-1, 0, 1, 2, INT_MAX - 1, INT_MAX, INT_MIN, 10}));
  // No knots at all: every entry comes out 0.
  std::vector<double> C = {0.1, 0.2, 0.3, 0.4};
  std::vector<int> j2 = {0, 1, 2, 3};
  deriv_grid(nullptr, 0, i.data(), j2.data(), C.data(), 4, 1, 4);
  EXPECT_EQ(C, (std::vector<double>{0, 0, 0, 0}));
}

TEST(Faults, OrderOneFillerWrapsNotOverflows) {
  std::vector<int> j = {INT_MIN, INT_MIN + 1};
  std::vector<double> B(2);
  test(nullptr, 0, nullptr, 0, j.data(), B.data(), 2, 2);
  EXPECT_EQ(B, (std::vector<double>{0.0, 1.0}));
  EXPECT_EQ(j[1], INT_MIN);
}

}  // namespace

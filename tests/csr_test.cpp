// CSR conversion and the closed right end, checked against a direct
// Cox-de Boor evaluation written independently of the kernels.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <variant>
#include <vector>

#include "bsbasis.hpp"

namespace {

// B-spline c of order k on t at x by the textbook recursion.  Order 1 is the
// indicator of [t[c], t[c+1]), or of (t[c], t[c+1]] for left limits.
double cox_de_boor(const std::vector<double> &t, int c, int k, double x, bool left) {
  if (k == 1)
    return left ? (t[c] < x && x <= t[c + 1]) : (t[c] <= x && x < t[c + 1]);
  double v = 0.0;
  if (t[c + k - 1] > t[c])
    v += (x - t[c]) / (t[c + k - 1] - t[c]) * cox_de_boor(t, c, k - 1, x, left);
  if (t[c + k] > t[c + 1])
    v += (t[c + k] - x) / (t[c + k] - t[c + 1]) * cox_de_boor(t, c + 1, k - 1, x, left);
  return v;
}

double cox_de_boor_deriv(const std::vector<double> &t, int c, int k, double x,
                         bool left) {
  if (k == 1) return 0.0;
  double v = 0.0;
  if (t[c + k - 1] > t[c]) v += cox_de_boor(t, c, k - 1, x, left) / (t[c + k - 1] - t[c]);
  if (t[c + k] > t[c + 1])
    v -= cox_de_boor(t, c + 1, k - 1, x, left) / (t[c + k] - t[c + 1]);
  return (k - 1) * v;
}

// Checks the CSR layout of d and every stored value against Cox-de Boor:
// in-range rows hold `order` ascending columns, the other rows are empty, and
// every column missing from a row is zero there.
void check_csr(const bsbasis::Design &d, const bsbasis::Csr32 &c,
               const std::vector<double> &t, const std::vector<double> &x,
               bool deriv, double right) {
  ASSERT_EQ(c.rows, d.rows);
  ASSERT_EQ(c.cols, d.cols);
  ASSERT_EQ(c.indptr.size(), static_cast<std::size_t>(d.rows) + 1);
  ASSERT_EQ(c.indptr[0], 0);
  EXPECT_EQ(c.nnz(), d.nnz());
  for (std::size_t p = 0; p < x.size(); ++p) {
    SCOPED_TRACE("x = " + std::to_string(x[p]));
    const int len = c.indptr[p + 1] - c.indptr[p];
    ASSERT_EQ(len, d.in_range[p] ? d.order : 0);
    const bool left = x[p] == right;
    std::vector<double> dense(static_cast<std::size_t>(d.cols), 0.0);
    for (int e = c.indptr[p]; e < c.indptr[p + 1]; ++e) {
      if (e > c.indptr[p]) {
        ASSERT_EQ(c.indices[e], c.indices[e - 1] + 1);
      }
      ASSERT_GE(c.indices[e], 0);
      ASSERT_LT(c.indices[e], d.cols);
      dense[c.indices[e]] = c.data[e];
    }
    if (!d.in_range[p]) continue;
    for (int col = 0; col < d.cols; ++col) {
      const double want = deriv ? cox_de_boor_deriv(t, col, d.order, x[p], left)
                                : cox_de_boor(t, col, d.order, x[p], left);
      EXPECT_NEAR(dense[col], want, 1e-14 * (1.0 + std::fabs(want))) << "column " << col;
    }
  }
}

struct Case {
  const char *name;
  std::vector<double> t;
  int order;
  int nj;
};

const Case kCases[] = {
    {"clamped cubic", {0, 0, 0, 0, 1, 2, 3, 3, 3, 3}, 4, 6},
    {"clamped quadratic, uneven", {-1, -1, -1, -0.25, 0.5, 0.625, 2, 2, 2}, 3, 6},
    {"interior end, simple knot", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 4, 5},
    {"interior end, double knot", {0, 0.5, 1, 1.5, 2, 3, 3, 4, 5, 6, 7}, 3, 5},
    {"order 1", {0, 0.5, 1.25, 2, 3}, 1, 4},
    {"order 2, end knot repeated", {0, 0, 1, 2, 2, 2}, 2, 3},
};

std::vector<double> abscissae(const Case &c) {
  const double lo = c.t[c.order - 1], hi = c.t[c.nj];
  std::vector<double> x;
  for (int m = -3; m <= 43; ++m) x.push_back(lo + (hi - lo) * m / 40.0);
  for (double v : c.t) x.push_back(v);
  x.push_back(std::nextafter(hi, -1e300));
  x.push_back(std::numeric_limits<double>::quiet_NaN());
  return x;
}

TEST(Csr, RowsValuesAndRightEnd) {
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.name);
    const bsbasis::KnotBasis basis(c.t, c.order, c.nj);
    const std::vector<double> x = abscissae(c);
    for (bool deriv : {false, true}) {
      SCOPED_TRACE(deriv ? "derivatives" : "values");
      for (auto end : {bsbasis::RightEnd::closed, bsbasis::RightEnd::half_open}) {
        const bsbasis::Design d =
            deriv ? basis.derivatives(x, end) : basis.values(x, end);
        check_csr(d, d.to_csr<std::int32_t>(), c.t, x, deriv, basis.right());
        for (std::size_t p = 0; p < x.size(); ++p)
          if (x[p] == basis.right())
            EXPECT_EQ(d.in_range[p], end == bsbasis::RightEnd::closed);
      }
    }
  }
}

TEST(Csr, ClosedIntervalIsAPartitionOfUnity) {
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.name);
    const bsbasis::KnotBasis basis(c.t, c.order, c.nj);
    std::vector<double> x;
    for (double v : c.t)
      if (v >= basis.left() && v <= basis.right()) x.push_back(v);
    const bsbasis::Csr32 v = basis.values(x).to_csr<std::int32_t>();
    const bsbasis::Csr32 dv = basis.derivatives(x).to_csr<std::int32_t>();
    // Only the full basis sums to one; a leading subset does on its base
    // interval as well, since the later functions vanish there.
    for (std::size_t p = 0; p < x.size(); ++p) {
      ASSERT_EQ(v.indptr[p + 1] - v.indptr[p], c.order) << "x = " << x[p];
      double s = 0.0, ds = 0.0;
      for (int e = v.indptr[p]; e < v.indptr[p + 1]; ++e) s += v.data[e];
      for (int e = dv.indptr[p]; e < dv.indptr[p + 1]; ++e) ds += dv.data[e];
      EXPECT_NEAR(s, 1.0, 1e-14) << "x = " << x[p];
      EXPECT_NEAR(ds, 0.0, 1e-12) << "x = " << x[p];
    }
  }
}

TEST(Csr, UniformRightEnd) {
  for (int order = 1; order <= 5; ++order) {
    const int nj = order + 4;
    const bsbasis::UniformBasis basis(order, nj);
    std::vector<double> t(nj + order);
    for (std::size_t m = 0; m < t.size(); ++m) t[m] = double(m);
    std::vector<double> x;
    for (int m = -4; m <= 4 * (nj + 1); ++m) x.push_back(m / 4.0);
    for (bool deriv : {false, true}) {
      const bsbasis::Design d = deriv ? basis.derivatives(x) : basis.values(x);
      check_csr(d, d.to_csr<std::int32_t>(), t, x, deriv, nj);
      for (std::size_t p = 0; p < x.size(); ++p)
        EXPECT_EQ(d.in_range[p], x[p] >= order - 1 && x[p] <= nj);
    }
  }
}

TEST(Csr, OutOfRangeRowsAreEmpty) {
  // Left of the base interval, right of it, and not a number.
  const bsbasis::KnotBasis basis({0, 0, 0, 0, 1, 1, 1, 1}, 4);
  const bsbasis::Design d =
      basis.values({-0.5, 1.5, std::numeric_limits<double>::quiet_NaN()});
  EXPECT_EQ(std::vector<std::uint8_t>(d.in_range.begin(), d.in_range.end()),
            (std::vector<std::uint8_t>{0, 0, 0}));
  const bsbasis::Csr32 c = d.to_csr<std::int32_t>();
  EXPECT_EQ(c.indptr, (std::vector<std::int32_t>{0, 0, 0, 0}));
}

TEST(Csr, IndexWidth) {
  const bsbasis::UniformBasis basis(4, 20);
  std::vector<double> x(10000);
  for (std::size_t p = 0; p < x.size(); ++p) x[p] = 2.0 + 20.0 * p / x.size();
  const bsbasis::Design d = basis.values(x);  // 1000 or so rows out of range
  const std::int64_t nnz = d.nnz();
  ASSERT_GT(nnz, 32767);
  ASSERT_LT(nnz, static_cast<std::int64_t>(x.size()) * 4);
  // An index type too narrow for the entries is refused, not wrapped.
  EXPECT_THROW(d.to_csr<std::int16_t>(), std::length_error);
  const bsbasis::Csr64 wide = d.to_csr<std::int64_t>();
  const bsbasis::Csr32 narrow = d.to_csr<std::int32_t>();
  EXPECT_EQ(wide.indptr.back(), nnz);
  EXPECT_EQ(wide.indices, narrow.indices);
  EXPECT_EQ(wide.data, narrow.data);
  // The automatic choice takes 32 bits while the entries fit.
  const auto any = d.to_csr();
  ASSERT_TRUE(std::holds_alternative<bsbasis::Csr32>(any));
  EXPECT_EQ(std::get<bsbasis::Csr32>(any).indptr, narrow.indptr);
}

}  // namespace

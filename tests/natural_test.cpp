// Natural cubic splines: against a dense reference of the definition (the
// B-splines on the augmented knots, the second-derivative constraints at
// the boundary knots, dqrdc2's Householder reflections applied to whole
// rows), against values of R's splines::ns, and the contract of the rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "bsbasis.h"

namespace {

constexpr int W = BSBASIS_NATURAL_WIDTH;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

struct Rows {
  int status;
  std::vector<int32_t> i, j;
  std::vector<double> B;
  int64_t nempty = -1;
};

Rows natural(double lo, double hi, const std::vector<double> &kn, bool intercept, int nu,
             const std::vector<double> &x) {
  Rows r;
  r.i.assign(x.size() * W, -9);
  r.j.assign(x.size() * W, -9);
  r.B.assign(x.size() * W, kNaN);
  r.status = bsbasis_natural_design(lo, hi, kn.data(), int64_t(kn.size()), intercept, nu,
                                    x.data(), int64_t(x.size()), r.i.data(), r.j.data(),
                                    r.B.data(), &r.nempty);
  return r;
}

std::vector<double> augmented(double lo, double hi, const std::vector<double> &kn) {
  std::vector<double> t(4, lo);
  t.insert(t.end(), kn.begin(), kn.end());
  t.insert(t.end(), 4, hi);
  return t;
}

// Dense rows of the B-splines (LINEAR beyond the ends, as ns continues
// them), nb = nt - 4 columns.
std::vector<std::vector<double>> bspline_rows(const std::vector<double> &t, int nu,
                                              const std::vector<double> &x) {
  const int64_t nj = int64_t(t.size()) - 4;
  std::vector<int32_t> j(x.size() * 4);
  std::vector<double> B(x.size() * 4);
  EXPECT_EQ(bsbasis_design(t.data(), int64_t(t.size()), 4, nj, nu, BSBASIS_EXTRAPOLATE_LINEAR,
                           x.data(), int64_t(x.size()), nullptr, j.data(), B.data(), nullptr),
            BSBASIS_OK);
  std::vector<std::vector<double>> rows(x.size(), std::vector<double>(size_t(nj), 0.0));
  for (size_t p = 0; p < x.size(); ++p)
    for (int q = 0; q < 4; ++q)
      if (j[p * 4 + q] >= 0) rows[p][size_t(j[p * 4 + q])] += B[p * 4 + q];
  return rows;
}

// The natural basis by the definition, densely: columns of C the second
// derivatives at lo and hi, reflections as dqrdc2 forms them, rows
// reflected as dqrsl applies Q^T, the first two columns dropped.
std::vector<std::vector<double>> reference(double lo, double hi, const std::vector<double> &kn,
                                           bool intercept, int nu, const std::vector<double> &x) {
  const std::vector<double> t = augmented(lo, hi, kn);
  auto C = bspline_rows(t, 2, {lo, hi});
  auto rows = bspline_rows(t, nu, x);
  const size_t drop = intercept ? 0 : 1;
  const size_t n = C[0].size() - drop;
  std::vector<std::vector<double>> X(2, std::vector<double>(n));
  for (int c = 0; c < 2; ++c)
    for (size_t r = 0; r < n; ++r) X[c][r] = C[c][r + drop];
  std::vector<std::vector<double>> u(2, std::vector<double>(n, 0.0));
  bool used[2] = {false, false};
  for (size_t l = 0; l < 2 && l + 1 < n; ++l) {
    double ssq = 0;
    for (size_t r = l; r < n; ++r) ssq += X[l][r] * X[l][r];
    double nrm = std::sqrt(ssq);
    if (nrm == 0) continue;
    if (X[l][l] != 0) nrm = std::copysign(nrm, X[l][l]);
    for (size_t r = l; r < n; ++r) X[l][r] *= 1.0 / nrm;
    X[l][l] += 1.0;
    if (l == 0) {
      double dot = 0;
      for (size_t r = 0; r < n; ++r) dot += X[0][r] * X[1][r];
      const double tt = -dot / X[0][0];
      for (size_t r = 0; r < n; ++r) X[1][r] += tt * X[0][r];
    }
    for (size_t r = l; r < n; ++r) u[l][r] = X[l][r];
    used[l] = true;
  }
  std::vector<std::vector<double>> out;
  for (auto &row : rows) {
    std::vector<double> v(row.begin() + long(drop), row.end());
    for (int l = 0; l < 2; ++l) {
      if (!used[l]) continue;
      double dot = 0;
      for (size_t r = 0; r < n; ++r) dot += u[l][r] * v[r];
      const double tt = -dot / u[l][size_t(l)];
      for (size_t r = 0; r < n; ++r) v[r] += tt * u[l][r];
    }
    out.emplace_back(v.begin() + 2, v.end());
  }
  return out;
}

std::vector<double> dense_row(const Rows &r, size_t p, size_t cols) {
  std::vector<double> d(cols, 0.0);
  for (int q = 0; q < W; ++q) {
    const int32_t c = r.j[p * W + q];
    if (c >= 0) {
      EXPECT_LT(size_t(c), cols);
      if (size_t(c) < cols) d[size_t(c)] += r.B[p * W + q];
    }
  }
  return d;
}

TEST(Natural, MatchesRsNs) {
  // splines::ns(c(-0.25, 0.1, 0.5, 0.9, 1, 1.5), knots = c(0.3, 0.6),
  //             Boundary.knots = c(0, 1)), row by row.
  const std::vector<double> x = {-0.25, 0.1, 0.5, 0.9, 1, 1.5};
  const double R[6][3] = {
      {0.23186944788008418, -0.63764098167023142, 0.4057715337901473},
      {-0.084406773063589985, 0.24739640370265026, -0.15743407508350471},
      {0.36314643387777301, 0.46662508461390217, -0.26231120103135769},
      {0.13207078992383187, 0.36805532770946225, 0.49630245379527738},
      {-0.15053763440860218, 0.41397849462365599, 0.73655913978494625},
      {-1.602150537634409, 0.65591397849462485, 1.9462365591397841}};
  const Rows r = natural(0, 1, {0.3, 0.6}, false, 0, x);
  ASSERT_EQ(r.status, BSBASIS_OK);
  for (size_t p = 0; p < x.size(); ++p) {
    const std::vector<double> d = dense_row(r, p, 3);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(d[size_t(c)], R[p][c], 1e-14) << p << " " << c;
  }
}

TEST(Natural, AgreesWithTheDefinitionOnRandomKnots) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int trial = 0; trial < 300; ++trial) {
    const double lo = u(rng) * 4 - 2, hi = lo + 0.1 + u(rng) * 5;
    const int nk = int(rng() % 9);
    std::vector<double> kn(static_cast<size_t>(nk), 0.0);
    for (double &k : kn) k = lo + (hi - lo) * (0.02 + 0.96 * u(rng));
    std::sort(kn.begin(), kn.end());
    if (nk > 2 && rng() % 4 == 0) kn[1] = kn[2];  // a double knot
    const bool intercept = rng() % 2;
    const int nu = int(rng() % 4);
    std::vector<double> x(40);
    for (double &v : x) v = lo - 0.5 * (hi - lo) + 2 * (hi - lo) * u(rng);
    x.push_back(lo);
    x.push_back(hi);
    const Rows r = natural(lo, hi, kn, intercept, nu, x);
    ASSERT_EQ(r.status, BSBASIS_OK);
    const auto ref = reference(lo, hi, kn, intercept, nu, x);
    const size_t cols = size_t(nk) + 1 + intercept;
    ASSERT_EQ(ref[0].size(), cols);
    for (size_t p = 0; p < x.size(); ++p) {
      const std::vector<double> d = dense_row(r, p, cols);
      double scale = 0;
      for (double v : ref[p]) scale = std::max(scale, std::fabs(v));
      for (size_t c = 0; c < cols; ++c)
        ASSERT_LE(std::fabs(d[c] - ref[p][c]), 1e-13 * std::max(scale, 1e-300))
            << "trial " << trial << " row " << p << " column " << c;
      // The row's layout: columns ascending, then padding.
      int q = 0;
      for (; q < W && r.j[p * W + size_t(q)] >= 0; ++q) {
        EXPECT_EQ(r.i[p * W + size_t(q)], int32_t(p));
        if (q > 0) EXPECT_GT(r.j[p * W + size_t(q)], r.j[p * W + size_t(q) - 1]);
      }
      for (; q < W; ++q) {
        EXPECT_EQ(r.j[p * W + size_t(q)], -1);
        EXPECT_EQ(r.B[p * W + size_t(q)], 0.0);
      }
    }
  }
}

TEST(Natural, SecondDerivativeVanishesAtTheBoundaryAndLinearBeyond) {
  const std::vector<double> kn = {0.2, 0.45, 0.5, 0.8};
  const Rows d2 = natural(0, 1, kn, true, 2, {0.0, 1.0, -3.0, 7.0});
  const Rows d1 = natural(0, 1, kn, true, 1, {0.0, 1.0, -3.0, 7.0});
  const Rows v = natural(0, 1, kn, true, 0, {0.0, 1.0, -3.0, 7.0});
  ASSERT_EQ(d2.status, BSBASIS_OK);
  const size_t cols = kn.size() + 2;
  for (size_t p = 0; p < 4; ++p) {
    const auto s2 = dense_row(d2, p, cols), s1 = dense_row(d1, p, cols), s0 = dense_row(v, p, cols);
    for (size_t c = 0; c < cols; ++c) {
      if (p < 2) EXPECT_NEAR(s2[c], 0.0, 1e-9) << p << " " << c;
      if (p >= 2) EXPECT_EQ(s2[c], 0.0);  // linear beyond the boundary knots
      if (p >= 2) {
        // value = value at the boundary + (x - boundary) * slope there
        const auto b0 = dense_row(v, p - 2, cols), b1 = dense_row(d1, p - 2, cols);
        const double dx = p == 2 ? -3.0 : 6.0;
        EXPECT_NEAR(s0[c], b0[c] + dx * b1[c], 1e-12) << p << " " << c;
        EXPECT_NEAR(s1[c], b1[c], 1e-12) << p << " " << c;
      }
    }
  }
}

TEST(Natural, EmptyRowsAndArguments) {
  const Rows r = natural(0, 1, {0.5}, false, 0, {kNaN, kInf, -kInf, 0.5});
  ASSERT_EQ(r.status, BSBASIS_OK);
  EXPECT_EQ(r.nempty, 3);
  for (size_t e = 0; e < 3 * W; ++e) {
    EXPECT_EQ(r.j[e], -1);
    EXPECT_EQ(r.B[e], 0.0);
  }
  const std::vector<double> x = {0.5};
  EXPECT_EQ(natural(1, 0, {}, false, 0, x).status, BSBASIS_ERROR_KNOTS);
  EXPECT_EQ(natural(0, kInf, {}, false, 0, x).status, BSBASIS_ERROR_KNOTS);
  EXPECT_EQ(natural(0, 1, {0.0}, false, 0, x).status, BSBASIS_ERROR_KNOTS);  // on lo
  EXPECT_EQ(natural(0, 1, {1.0}, false, 0, x).status, BSBASIS_ERROR_KNOTS);  // on hi
  EXPECT_EQ(natural(0, 1, {0.6, 0.5}, false, 0, x).status, BSBASIS_ERROR_KNOTS);
  EXPECT_EQ(natural(0, 1, {kNaN}, false, 0, x).status, BSBASIS_ERROR_KNOTS);
  EXPECT_EQ(natural(0, 1, {}, false, -1, x).status, BSBASIS_ERROR_ORDER);
  int32_t j[W];
  double B[W];
  EXPECT_EQ(bsbasis_natural_design(0, 1, nullptr, 2, 0, 0, x.data(), 1, nullptr, j, B, nullptr),
            BSBASIS_ERROR_NULL);
  EXPECT_EQ(bsbasis_natural_design(0, 1, nullptr, -1, 0, 0, x.data(), 1, nullptr, j, B, nullptr),
            BSBASIS_ERROR_COUNT);
  EXPECT_EQ(bsbasis_natural_design(0, 1, nullptr, 0, 0, 0, nullptr, 1, nullptr, j, B, nullptr),
            BSBASIS_ERROR_NULL);
  EXPECT_EQ(bsbasis_natural_design(0, 1, nullptr, 0, 0, 0, x.data(), -1, nullptr, j, B, nullptr),
            BSBASIS_ERROR_COUNT);
  // No knots and no intercept: one column.
  const Rows one = natural(0, 1, {}, false, 0, {0.25});
  ASSERT_EQ(one.status, BSBASIS_OK);
  EXPECT_EQ(one.j[0], 0);
  EXPECT_EQ(one.j[1], -1);
}

TEST(Natural, LongInputsCrossSubTiles) {
  // Rows beyond the first sub-tile are those of a call on them alone.
  std::vector<double> x(20000);
  for (size_t p = 0; p < x.size(); ++p) x[p] = -0.1 + 1.2 * double((p * 7919) % 20000) / 20000.0;
  const std::vector<double> kn = {0.1, 0.3, 0.7};
  const Rows all = natural(0, 1, kn, true, 1, x);
  ASSERT_EQ(all.status, BSBASIS_OK);
  const std::vector<double> tail(x.begin() + 12345, x.end());
  const Rows part = natural(0, 1, kn, true, 1, tail);
  for (size_t e = 0; e < part.B.size(); ++e) {
    ASSERT_EQ(part.j[e], all.j[12345 * W + e]);
    ASSERT_EQ(part.B[e], all.B[12345 * W + e]);
  }
}

}  // namespace

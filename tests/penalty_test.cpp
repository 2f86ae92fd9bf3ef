// The penalty matrices against dense and independent references: D^T D
// formed densely, and Gram matrices by a reference quadrature of another
// rule on the Cox-de Boor recursion, in long double.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "helpers.hpp"

using namespace testing_bsbasis;

namespace {

constexpr int kPad = 8;
constexpr double kGuard = -777.0;

// An output array of n doubles, filled with `fill`, between guard entries.
struct Band {
  std::vector<double> v;
  size_t n;
  explicit Band(size_t n_, double fill = kNaN) : v(n_ + 2 * kPad, kGuard), n(n_) {
    for (size_t e = 0; e < n; ++e) v[kPad + e] = fill;
  }
  double *data() { return v.data() + kPad; }
  double at(int64_t u, int64_t n_cols, int64_t r, int64_t c) const {
    return v[kPad + (u + r - c) * n_cols + c];
  }
  bool guards_intact() const {
    for (int k = 0; k < kPad; ++k)
      if (v[k] != kGuard || v[kPad + n + k] != kGuard) return false;
    return true;
  }
};

// ------------------------------------------------------ difference penalty

TEST(DifferencePenalty, EqualsDenseDtD) {
  for (int d = 1; d <= 4; ++d) {
    for (int64_t n : {1, 2, 3, 4, 5, 6, 7, 12, 40}) {
      // D: n - d rows of the d-th differences of the identity.
      std::vector<std::vector<double>> D;
      for (int64_t k = 0; k + d < n; ++k) {
        std::vector<double> row(n, 0.0);
        row[k] = 1.0;
        for (int l = 0; l < d; ++l)
          for (int64_t c = n - 1; c > 0; --c) row[c] -= row[c - 1];
        D.push_back(row);
      }
      Band ab((d + 1) * n);
      ASSERT_EQ(bsbasis_difference_penalty(n, d, ab.data()), BSBASIS_OK);
      ASSERT_TRUE(ab.guards_intact());
      for (int64_t c = 0; c < n; ++c)
        for (int64_t r = c - d; r <= c; ++r) {
          double want = 0.0;
          for (size_t k = 0; r >= 0 && k < D.size(); ++k) want += D[k][r] * D[k][c];
          EXPECT_EQ(bits(ab.at(d, n, r, c)), bits(want))
              << "order " << d << " n " << n << " at (" << r << ", " << c << ")";
        }
    }
  }
}

TEST(DifferencePenalty, BadArgumentsWriteNothing) {
  struct Case {
    int64_t n;
    int32_t order;
    int status;
  };
  for (const Case &k : {Case{0, 2, BSBASIS_ERROR_COUNT}, Case{-3, 2, BSBASIS_ERROR_COUNT},
                        Case{INT64_MIN, 2, BSBASIS_ERROR_COUNT},
                        Case{INT64_MAX, 2, BSBASIS_ERROR_COUNT},
                        Case{INT64_MAX / 4 + 1, 3, BSBASIS_ERROR_COUNT},
                        Case{5, 0, BSBASIS_ERROR_ORDER}, Case{5, 5, BSBASIS_ERROR_ORDER},
                        Case{5, -1, BSBASIS_ERROR_ORDER}, Case{5, INT32_MIN, BSBASIS_ERROR_ORDER}}) {
    Band ab(4, 1.5);
    EXPECT_EQ(bsbasis_difference_penalty(k.n, k.order, ab.data()), k.status)
        << "n " << k.n << " order " << k.order;
    for (size_t e = 0; e < ab.v.size(); ++e)
      EXPECT_EQ(ab.v[e], e < kPad || e >= kPad + 4 ? kGuard : 1.5);
  }
  EXPECT_EQ(bsbasis_difference_penalty(5, 2, nullptr), BSBASIS_ERROR_NULL);
}

// ------------------------------------------------------ derivative penalty

// The m-th derivative of B-spline c of order k on t at x, right-continuous.
long double cox_de_boor(const std::vector<double> &t, int c, int k, int m, long double x) {
  if (k == 1) return m == 0 && t[c] <= x && x < t[c + 1] ? 1.0L : 0.0L;
  const long double a = (long double)t[c + k - 1] - t[c], b = (long double)t[c + k] - t[c + 1];
  const long double lo = a > 0 ? cox_de_boor(t, c, k - 1, m ? m - 1 : 0, x) / a : 0.0L;
  const long double hi = b > 0 ? cox_de_boor(t, c + 1, k - 1, m ? m - 1 : 0, x) / b : 0.0L;
  if (m > 0) return (k - 1) * (lo - hi);
  return (x - t[c]) * lo + (t[c + k] - x) * hi;
}

// The 12-point Gauss-Legendre rule, its nodes by bisection on P_12.
struct Rule {
  std::vector<long double> x, w;
  Rule() {
    const int n = 12;
    auto P = [&](long double z, long double *dp) {
      long double a = 1, b = 0;
      for (int k = 1; k <= n; ++k) {
        const long double c = ((2 * k - 1) * z * a - (k - 1) * b) / k;
        b = a;
        a = c;
      }
      *dp = n * (b - z * a) / (1 - z * z);
      return a;
    };
    long double dp, prev = -1;
    const int grid = 4000;
    for (int g = 1; g <= grid; ++g) {
      long double lo = prev, hi = -1 + 2.0L * g / grid;
      prev = hi;
      if ((P(lo, &dp) > 0) == (P(hi, &dp) > 0)) continue;
      for (int it = 0; it < 200; ++it) {
        const long double mid = (lo + hi) / 2;
        ((P(mid, &dp) > 0) == (P(lo, &dp) > 0) ? lo : hi) = mid;
      }
      P(lo, &dp);
      x.push_back(lo);
      w.push_back(2 / ((1 - lo * lo) * dp * dp));
    }
  }
};

// The Gram matrix G[r][c], r <= c <= r + order - 1, as a band like the library's.
std::vector<double> reference_gram(const std::vector<double> &t, int order, int nj, int m) {
  static const Rule rule;
  const int u = order - 1;
  std::vector<long double> g(static_cast<size_t>(order) * nj, 0.0L);
  for (int J = u; J < nj; ++J) {
    if (!(t[J] < t[J + 1])) continue;
    const long double half = ((long double)t[J + 1] - t[J]) / 2, mid = t[J] + half;
    for (size_t q = 0; q < rule.x.size(); ++q) {
      const long double x = mid + half * rule.x[q];
      std::vector<long double> b(order);
      for (int a = 0; a < order; ++a) b[a] = cox_de_boor(t, J - u + a, order, m, x);
      for (int a = 0; a < order; ++a)
        for (int c = a; c < order; ++c)
          g[(u + a - c) * nj + J - u + c] += half * rule.w[q] * b[a] * b[c];
    }
  }
  return std::vector<double>(g.begin(), g.end());
}

std::vector<double> clamped(int order, std::vector<double> inner) {
  std::vector<double> t(order - 1, inner.front());
  t.insert(t.end(), inner.begin(), inner.end());
  t.insert(t.end(), order - 1, inner.back());
  return t;
}

// Clamped knots on [-1, 2]: random interior (kind 0), interior knots each
// repeated up to `order` times (1), or integers without clamping (2).
// Interior knots are jittered from an even grid: no gap is below half the
// grid's, so that rounding the abscissae stays small against every gap.
std::vector<double> knots(std::mt19937_64 &rng, int order, int kind, int intervals) {
  std::vector<double> t;
  if (kind == 2) {
    for (int m = 0; m < intervals + 2 * order - 1; ++m) t.push_back(m - 3.0);
    return t;
  }
  std::uniform_real_distribution<double> u(-0.25, 0.25);
  std::vector<double> inner = {-1.0};
  for (int k = 1; k < intervals; ++k) {
    const double v = -1.0 + 3.0 * (k + u(rng)) / intervals;
    const int rep = kind == 1 ? std::uniform_int_distribution<int>(1, order)(rng) : 1;
    inner.insert(inner.end(), rep, v);
  }
  inner.push_back(2.0);
  return clamped(order, inner);
}

// Largest difference from the reference relative to the reference's largest entry.
double relative_error(const std::vector<double> &want, const double *got) {
  double err = 0.0, top = 0.0;
  for (size_t e = 0; e < want.size(); ++e) {
    err = std::max(err, std::fabs(want[e] - got[e]));
    top = std::max(top, std::fabs(want[e]));
  }
  return top > 0 ? err / top : err;
}

TEST(DerivativePenalty, MatchesReferenceQuadrature) {
  std::mt19937_64 rng(20240611);
  for (int order = 1; order <= 6; ++order)
    for (int kind = 0; kind < 3; ++kind)
      for (int trim = 0; trim < 2; ++trim)
        for (int m = 0; m <= 3 && m < order; ++m) {
          const std::vector<double> t = knots(rng, order, kind, 7);
          const int nt = static_cast<int>(t.size()), nj = nt - order - trim;
          const std::vector<double> want = reference_gram(t, order, nj, m);
          Band ab(want.size());
          ASSERT_EQ(bsbasis_derivative_penalty(t.data(), nt, order, nj, m, ab.data()),
                    BSBASIS_OK);
          EXPECT_TRUE(ab.guards_intact());
          EXPECT_LE(relative_error(want, ab.data()), 1e-12)
              << "order " << order << " kind " << kind << " nj " << nj << " m " << m;
          // The top-left corner holds no element.
          for (int c = 0; c < order - 1; ++c)
            for (int r = c - order + 1; r < 0; ++r)
              EXPECT_EQ(ab.at(order - 1, nj, r, c), 0.0);
        }
}

TEST(DerivativePenalty, ManyIntervalsSpanSeveralEvaluations) {
  // Three evaluation windows.  Abscissae round by about 2^-52 times the
  // number of intervals of their interval, so more would blur the bound.
  std::mt19937_64 rng(7);
  const int order = 8, m = 0;
  const std::vector<double> t = knots(rng, order, 1, 2100);
  const int nt = static_cast<int>(t.size()), nj = nt - order;
  const std::vector<double> want = reference_gram(t, order, nj, m);
  Band ab(want.size()), again(want.size());
  ASSERT_EQ(bsbasis_derivative_penalty(t.data(), nt, order, nj, m, ab.data()), BSBASIS_OK);
  ASSERT_EQ(bsbasis_derivative_penalty(t.data(), nt, order, nj, m, again.data()), BSBASIS_OK);
  EXPECT_LE(relative_error(want, ab.data()), 1e-12);
  for (size_t e = 0; e < ab.v.size(); ++e) ASSERT_EQ(bits(ab.v[e]), bits(again.v[e])) << e;
}

TEST(DerivativePenalty, DerivativesOfOrderOrHigherGiveZeros) {
  const std::vector<double> t = clamped(3, {0.0, 0.3, 0.3, 1.0});
  for (int m : {3, 4, 1000, INT32_MAX}) {
    Band ab(3 * 6);
    ASSERT_EQ(bsbasis_derivative_penalty(t.data(), 8, 3, 5, m, ab.data()), BSBASIS_OK);
    for (size_t e = 0; e < 15; ++e) EXPECT_EQ(ab.data()[e], 0.0) << "m " << m;
    EXPECT_TRUE(std::isnan(ab.data()[15]));  // beyond order*nj: not written
    EXPECT_TRUE(ab.guards_intact());
  }
}

TEST(DerivativePenalty, NodesOfAnIntervalOfOneUlpStayInIt) {
  // The midpoint of [a, b] rounds to b.  The nodes are kept in [a, b), where
  // the third derivatives of cubics are constant: the result stays exact.
  const double a = std::nextafter(0.5, 1.0), b = std::nextafter(a, 1.0);
  const std::vector<double> t = clamped(4, {0.0, a, b, 1.0});
  const int nj = static_cast<int>(t.size()) - 4;
  const std::vector<double> want = reference_gram(t, 4, nj, 3);
  Band ab(want.size());
  ASSERT_EQ(bsbasis_derivative_penalty(t.data(), t.size(), 4, nj, 3, ab.data()), BSBASIS_OK);
  EXPECT_LE(relative_error(want, ab.data()), 1e-12);
  EXPECT_TRUE(ab.guards_intact());
}

TEST(DerivativePenalty, BadArgumentsWriteNothing) {
  const std::vector<double> good = clamped(4, {0.0, 0.5, 1.0});  // nt 9, nj 5
  struct Case {
    std::vector<double> t;
    int64_t nt;
    int32_t order;
    int64_t nj;
    int32_t m;
    int status;
  };
  std::vector<double> nan_knot = good, falling = good, huge = good;
  nan_knot[4] = kNaN;
  falling[4] = 2.0;
  huge[0] = -DBL_MAX;
  huge[8] = DBL_MAX;
  const std::vector<Case> cases = {
      {good, 9, 4, 5, -1, BSBASIS_ERROR_ORDER},   {good, 9, 0, 5, 0, BSBASIS_ERROR_ORDER},
      {good, -1, 4, 5, 2, BSBASIS_ERROR_COUNT},   {good, INT64_MAX, 4, 5, 2, BSBASIS_ERROR_COUNT},
      {good, 7, 4, 3, 2, BSBASIS_ERROR_KNOTS},    {good, 9, 4, 3, 2, BSBASIS_ERROR_COLUMNS},
      {good, 9, 4, 6, 2, BSBASIS_ERROR_COLUMNS},  {good, 9, 4, INT64_MAX, 2, BSBASIS_ERROR_COLUMNS},
      {nan_knot, 9, 4, 5, 2, BSBASIS_ERROR_KNOTS}, {falling, 9, 4, 5, 2, BSBASIS_ERROR_KNOTS},
      {huge, 9, 4, 5, 2, BSBASIS_ERROR_KNOTS},
      {{0, 0, 0, 0, 0, 0, 0, 0}, 8, 4, 4, 2, BSBASIS_ERROR_KNOTS},
  };
  for (const Case &k : cases) {
    Band ab(20, 1.5);
    EXPECT_EQ(bsbasis_derivative_penalty(k.t.data(), k.nt, k.order, k.nj, k.m, ab.data()),
              k.status)
        << "nt " << k.nt << " order " << k.order << " nj " << k.nj << " m " << k.m;
    for (size_t e = 0; e < ab.v.size(); ++e)
      EXPECT_EQ(ab.v[e], e < kPad || e >= kPad + 20 ? kGuard : 1.5);
  }
  Band ab(20);
  EXPECT_EQ(bsbasis_derivative_penalty(nullptr, 9, 4, 5, 2, ab.data()), BSBASIS_ERROR_NULL);
  EXPECT_EQ(bsbasis_derivative_penalty(good.data(), 9, 4, 5, 2, nullptr), BSBASIS_ERROR_NULL);
}

}  // namespace

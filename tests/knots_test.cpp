// Knots from data: where the base knots go, what lies beyond the ends, and
// that unusable arguments or data are refused without a write.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "helpers.hpp"

using namespace testing_bsbasis;

namespace {

constexpr int kPad = 8;
constexpr double kGuard = -777.0;

// The knots of one call with guard entries on both sides.
struct Knots {
  std::vector<double> v;
  int64_t n;
  int status;
  Knots(const std::vector<double> &x, const double *w, int64_t n_knots, int order, int kind,
        int boundary)
      : v(n_knots + 2 * (order - 1) + 2 * kPad, kGuard), n(n_knots + 2 * (order - 1)) {
    status = bsbasis_make_knots(x.data(), x.size(), w, n_knots, order, kind, boundary,
                                v.data() + kPad);
  }
  double operator[](int64_t i) const { return v[kPad + i]; }
  bool guards_intact() const {
    for (int k = 0; k < kPad; ++k)
      if (v[k] != kGuard || v[kPad + n + k] != kGuard) return false;
    return true;
  }
  bool untouched() const {
    for (double e : v)
      if (e != kGuard) return false;
    return true;
  }
};

std::vector<double> random_data(std::mt19937_64 &rng, int n) {
  std::normal_distribution<double> z(1.0, 3.0);
  std::vector<double> x(n);
  for (double &v : x) v = z(rng);
  return x;
}

TEST(MakeKnots, UniformSpansThePositivelyWeightedData) {
  std::mt19937_64 rng(5);
  for (int order = 1; order <= 5; ++order)
    for (int64_t nk : {2, 3, 7, 20}) {
      std::vector<double> x = random_data(rng, 50), w(50, 1.0);
      w[0] = w[1] = 0.0;  // outside the others' range: ignored
      x[0] = -100.0;
      x[1] = 100.0;
      const double lo = *std::min_element(x.begin() + 2, x.end());
      const double hi = *std::max_element(x.begin() + 2, x.end());
      for (int boundary : {BSBASIS_BOUNDARY_CLAMPED, BSBASIS_BOUNDARY_EXTENDED}) {
        const Knots t(x, w.data(), nk, order, BSBASIS_KNOTS_UNIFORM, boundary);
        ASSERT_EQ(t.status, BSBASIS_OK);
        ASSERT_TRUE(t.guards_intact());
        const int k = order - 1;
        EXPECT_EQ(t[k], lo);
        EXPECT_EQ(t[k + nk - 1], hi);
        const double h = (hi - lo) / (nk - 1);
        for (int64_t i = 0; i < t.n; ++i) {
          double want = lo + (i - k) * h;
          if (boundary == BSBASIS_BOUNDARY_CLAMPED) want = i < k ? lo : i >= k + nk ? hi : want;
          EXPECT_NEAR(t[i], want, 1e-14 * (hi - lo) * order) << "order " << order << " i " << i;
        }
      }
    }
}

// The 'linear' sample quantile: sort, then interpolate at q*(n - 1).
double quantile(std::vector<double> x, double q) {
  std::sort(x.begin(), x.end());
  const double v = q * (x.size() - 1);
  const size_t lo = std::min(size_t(v), x.size() - 1), hi = std::min(lo + 1, x.size() - 1);
  return x[lo] + (v - lo) * (x[hi] - x[lo]);
}

TEST(MakeKnots, QuantilesWithoutWeightsInterpolateTheSortedData) {
  std::mt19937_64 rng(8);
  for (int64_t nk : {2, 3, 5, 11}) {
    const std::vector<double> x = random_data(rng, 37);
    const Knots t(x, nullptr, nk, 4, BSBASIS_KNOTS_QUANTILE, BSBASIS_BOUNDARY_EXTENDED);
    ASSERT_EQ(t.status, BSBASIS_OK);
    for (int64_t i = 0; i < nk; ++i)
      EXPECT_NEAR(t[3 + i], quantile(x, double(i) / (nk - 1)), 1e-14) << "nk " << nk;
    // Beyond the ends the end intervals repeat.
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(t[i + 1] - t[i], t[4] - t[3], 1e-13);
      EXPECT_NEAR(t[t.n - 1 - i] - t[t.n - 2 - i], t[t.n - 4] - t[t.n - 5], 1e-13);
    }
  }
}

TEST(MakeKnots, WeightedQuantilesAreLowerQuantilesOfTheRepeatedData) {
  // Integer weight w counts as w copies: the knot at fraction q is the
  // first sorted value whose cumulative count reaches q times the total.
  std::mt19937_64 rng(9);
  std::uniform_int_distribution<int> count(0, 4);
  for (int trial = 0; trial < 20; ++trial) {
    const std::vector<double> x = random_data(rng, 25);
    std::vector<double> w(25);
    for (double &v : w) v = count(rng);
    w[3] = 1.0;
    w[4] = 2.0;
    std::vector<double> rep;
    for (size_t p = 0; p < x.size(); ++p) rep.insert(rep.end(), size_t(w[p]), x[p]);
    std::sort(rep.begin(), rep.end());
    const int64_t nk = 5;  // fractions i/4: no rounding in the targets
    const Knots t(x, w.data(), nk, 3, BSBASIS_KNOTS_QUANTILE, BSBASIS_BOUNDARY_CLAMPED);
    ASSERT_EQ(t.status, BSBASIS_OK);
    for (int64_t i = 0; i < nk; ++i) {
      const double target = double(i) / (nk - 1) * rep.size();
      const size_t at = std::max(size_t(std::ceil(target)), size_t(1)) - 1;
      EXPECT_EQ(t[2 + i], rep[std::min(at, rep.size() - 1)]) << "trial " << trial << " i " << i;
    }
  }
}

TEST(MakeKnots, WeightedEndsAreTheExtremesEvenWhenTheWeightsRound) {
  // 1e-20 adds nothing to a total of 1, yet its abscissa has weight: it is
  // the right end.  Likewise a huge weight in the middle.
  const Knots small({0.0, 1.0}, std::vector<double>{1.0, 1e-20}.data(), 3, 1,
                    BSBASIS_KNOTS_QUANTILE, BSBASIS_BOUNDARY_CLAMPED);
  ASSERT_EQ(small.status, BSBASIS_OK);
  EXPECT_EQ(small[0], 0.0);
  EXPECT_EQ(small[2], 1.0);
  const Knots huge({-2.0, 0.5, 3.0}, std::vector<double>{1.0, 1e300, 1.0}.data(), 4, 2,
                   BSBASIS_KNOTS_QUANTILE, BSBASIS_BOUNDARY_CLAMPED);
  ASSERT_EQ(huge.status, BSBASIS_OK);
  EXPECT_EQ(huge[1], -2.0);
  EXPECT_EQ(huge[2], 0.5);
  EXPECT_EQ(huge[4], 3.0);
}

TEST(MakeKnots, SameBitsForAnyInputOrder) {
  std::mt19937_64 rng(10);
  std::vector<double> x = random_data(rng, 60), w(60);
  for (size_t p = 0; p < x.size(); ++p) {
    x[p] = std::round(x[p]);  // many ties
    w[p] = double(p % 5);
  }
  std::vector<size_t> perm(x.size());
  std::iota(perm.begin(), perm.end(), 0);
  std::shuffle(perm.begin(), perm.end(), rng);
  std::vector<double> px, pw;
  for (size_t p : perm) {
    px.push_back(x[p]);
    pw.push_back(w[p]);
  }
  for (int kind : {BSBASIS_KNOTS_UNIFORM, BSBASIS_KNOTS_QUANTILE})
    for (const double *wa : {(const double *)nullptr, (const double *)w.data()}) {
      const double *wb = wa ? pw.data() : nullptr;
      const Knots a(x, wa, 9, 4, kind, BSBASIS_BOUNDARY_EXTENDED);
      const Knots b(px, wb, 9, 4, kind, BSBASIS_BOUNDARY_EXTENDED);
      ASSERT_EQ(a.status, BSBASIS_OK);
      for (int64_t i = 0; i < a.n; ++i) EXPECT_EQ(bits(a[i]), bits(b[i])) << kind << " " << i;
    }
}

TEST(MakeKnots, BadArgumentsAndDataWriteNothing) {
  const std::vector<double> x = {0.0, 1.0, 2.0, 3.0};
  const std::vector<double> w = {1.0, 1.0, 1.0, 1.0};
  struct Case {
    std::vector<double> x, w;  // w empty: NULL
    int64_t nx, n_knots;
    int order, kind, boundary, status;
  };
  const int U = BSBASIS_KNOTS_UNIFORM, Q = BSBASIS_KNOTS_QUANTILE;
  const int C = BSBASIS_BOUNDARY_CLAMPED, E = BSBASIS_BOUNDARY_EXTENDED;
  const std::vector<Case> cases = {
      {x, {}, -1, 4, 3, U, C, BSBASIS_ERROR_COUNT},
      {x, {}, 4, 1, 3, U, C, BSBASIS_ERROR_COUNT},
      {x, {}, 4, INT64_MIN, 3, U, C, BSBASIS_ERROR_COUNT},
      {x, {}, 4, INT64_MAX, 3, U, C, BSBASIS_ERROR_COUNT},
      {x, {}, 4, 4, 0, U, C, BSBASIS_ERROR_ORDER},
      {x, {}, 4, 4, 3, 2, C, BSBASIS_ERROR_MODE},
      {x, {}, 4, 4, 3, -1, C, BSBASIS_ERROR_MODE},
      {x, {}, 4, 4, 3, U, 2, BSBASIS_ERROR_MODE},
      {{0, kNaN, 2}, {}, 3, 4, 3, U, C, BSBASIS_ERROR_DATA},
      {{0, 1, kInf}, {}, 3, 4, 3, Q, C, BSBASIS_ERROR_DATA},
      {x, {1, -1, 1, 1}, 4, 4, 3, U, C, BSBASIS_ERROR_DATA},
      {x, {1, kNaN, 1, 1}, 4, 4, 3, Q, C, BSBASIS_ERROR_DATA},
      {x, {1, kInf, 1, 1}, 4, 4, 3, Q, C, BSBASIS_ERROR_DATA},
      {x, {0, 0, 0, 0}, 4, 4, 3, U, C, BSBASIS_ERROR_DATA},
      {x, {0, 5, 0, 0}, 4, 4, 3, Q, C, BSBASIS_ERROR_DATA},
      {{2, 2, 2}, {}, 3, 4, 3, Q, C, BSBASIS_ERROR_DATA},
      {x, {}, 0, 4, 3, U, C, BSBASIS_ERROR_DATA},
      // Knots that overflow: the spread, the continuation, the total weight.
      {{-DBL_MAX, DBL_MAX}, {}, 2, 3, 2, U, C, BSBASIS_ERROR_DATA},
      {{0, DBL_MAX / 2}, {}, 2, 2, 4, U, E, BSBASIS_ERROR_DATA},
      {x, {DBL_MAX, DBL_MAX, 1, 1}, 4, 4, 3, Q, C, BSBASIS_ERROR_DATA},
  };
  for (size_t c = 0; c < cases.size(); ++c) {
    const Case &k = cases[c];
    const int64_t nk = k.n_knots >= 2 && k.n_knots < 100 ? k.n_knots : 2;
    const int order = k.order >= 1 ? k.order : 1;
    std::vector<double> out(nk + 2 * (order - 1) + 2 * kPad, kGuard);
    EXPECT_EQ(bsbasis_make_knots(k.x.data(), k.nx, k.w.empty() ? nullptr : k.w.data(),
                                 k.n_knots, k.order, k.kind, k.boundary, out.data() + kPad),
              k.status)
        << "case " << c;
    for (double e : out) ASSERT_EQ(e, kGuard) << "case " << c;
  }
  std::vector<double> out(8);
  EXPECT_EQ(bsbasis_make_knots(nullptr, 4, nullptr, 4, 3, U, C, out.data()), BSBASIS_ERROR_NULL);
  EXPECT_EQ(bsbasis_make_knots(x.data(), 4, nullptr, 4, 3, U, C, nullptr), BSBASIS_ERROR_NULL);
}

}  // namespace

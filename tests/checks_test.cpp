// bsbasis_check_knots: which rule a basis on knots breaks and where, and
// that every function taking such a basis returns the status it gives.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "bsbasis.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

struct Verdict {
  int status;
  int32_t rule;
  int64_t index;
};

Verdict check(const std::vector<double> &t, int order, int64_t nj, int64_t nt = -2) {
  Verdict v{0, -7, -7};
  v.status = bsbasis_check_knots(t.empty() ? nullptr : t.data(),
                                 nt == -2 ? int64_t(t.size()) : nt, order, nj, &v.rule, &v.index);
  return v;
}

// The status of each function that takes a basis on knots, on one abscissa.
std::vector<int> statuses_of_users(const std::vector<double> &t, int order, int64_t nj) {
  const double *tp = t.empty() ? nullptr : t.data();
  const int64_t nt = int64_t(t.size());
  const double x = t.empty() ? 0.0 : t[0];
  int32_t j[64];
  double B[64], c[64] = {}, out = 0, ab[64 * 8], rhs[64], sums[2] = {0, 0};
  int64_t count = 0;
  std::vector<int> st;
  st.push_back(bsbasis_design(tp, nt, order, nj, 0, BSBASIS_EXTRAPOLATE_ZERO, &x, 1, nullptr,
                              j, B, nullptr));
  st.push_back(bsbasis_evaluate(tp, nt, order, nj, 0, BSBASIS_EXTRAPOLATE_ZERO, c, &x, 1, &out));
  st.push_back(bsbasis_normal_equations(tp, nt, order, nj, 0, BSBASIS_EXTRAPOLATE_ZERO, &x,
                                        nullptr, nullptr, 1, ab, rhs, sums, &count, nullptr));
  st.push_back(bsbasis_derivative_penalty(tp, nt, order, nj, 1, ab));
  return st;
}

TEST(CheckKnots, EachRuleWithItsStatusAndIndex) {
  const std::vector<double> good = {0, 0, 1, 2, 3, 3};  // order 2, nj 4
  struct Case {
    std::vector<double> t;
    int order;
    int64_t nj;
    int status;
    int32_t rule;
    int64_t index;
  };
  const std::vector<Case> cases = {
      {good, 2, 4, BSBASIS_OK, BSBASIS_RULE_NONE, -1},
      {good, 0, 4, BSBASIS_ERROR_ORDER, BSBASIS_RULE_ORDER, -1},
      {{}, 2, 2, BSBASIS_ERROR_NULL, BSBASIS_RULE_NULL_KNOTS, -1},
      {{0, 1, 2}, 2, 2, BSBASIS_ERROR_KNOTS, BSBASIS_RULE_TOO_FEW, -1},
      {good, 2, 5, BSBASIS_ERROR_COLUMNS, BSBASIS_RULE_COLUMNS, -1},
      {good, 2, 1, BSBASIS_ERROR_COLUMNS, BSBASIS_RULE_COLUMNS, -1},
      {{kNaN, 0, 1, 2, 3, 3}, 2, 4, BSBASIS_ERROR_KNOTS, BSBASIS_RULE_NOT_FINITE, 0},
      {{0, 0, 1, 2, kInf, 3}, 2, 4, BSBASIS_ERROR_KNOTS, BSBASIS_RULE_NOT_FINITE, 4},
      {{0, 0, 1, 0.5, 3, 3}, 2, 4, BSBASIS_ERROR_KNOTS, BSBASIS_RULE_DECREASING, 3},
      // A decreasing knot before a non-finite one is the first fault.
      {{0, 0, 1, 0.5, kNaN, 3}, 2, 4, BSBASIS_ERROR_KNOTS, BSBASIS_RULE_DECREASING, 3},
      {{0, 0, 1, 1 + 0x1p-52, 3, 3}, 2, 4, BSBASIS_OK, BSBASIS_RULE_NONE, -1},
      {{0, 0, 0x1p-1070, 2, 3, 3}, 2, 4, BSBASIS_ERROR_KNOTS, BSBASIS_RULE_TOO_CLOSE, 2},
      {{-DBL_MAX, -DBL_MAX, 0, 1, DBL_MAX, DBL_MAX}, 2, 4, BSBASIS_ERROR_KNOTS,
       BSBASIS_RULE_SPAN, -1},
      {{0, 1, 1, 1, 1, 2}, 2, 3, BSBASIS_ERROR_KNOTS, BSBASIS_RULE_EMPTY_BASE, -1},
  };
  for (const Case &c : cases) {
    const Verdict v = check(c.t, c.order, c.nj);
    EXPECT_EQ(v.status, c.status) << "rule " << c.rule;
    EXPECT_EQ(v.rule, c.rule) << "rule " << c.rule;
    EXPECT_EQ(v.index, c.index) << "rule " << c.rule;
  }
}

TEST(CheckKnots, CountsOutOfRangeAreNotRead) {
  const std::vector<double> t = {0, 0, 1, 1};
  for (int64_t nt : {int64_t(-1), int64_t(INT32_MAX) + 1, INT64_MAX}) {
    const Verdict v = check(t, 2, 2, nt);
    EXPECT_EQ(v.status, BSBASIS_ERROR_COUNT);
    EXPECT_EQ(v.rule, BSBASIS_RULE_KNOT_COUNT);
    EXPECT_EQ(v.index, -1);
  }
  // Both outputs are optional.
  EXPECT_EQ(bsbasis_check_knots(t.data(), 4, 2, 2, nullptr, nullptr), BSBASIS_OK);
  EXPECT_EQ(bsbasis_check_knots(t.data(), 4, 3, 2, nullptr, nullptr), BSBASIS_ERROR_KNOTS);
}

// On random bases with faults planted, the verdict agrees with what every
// user of the basis returns, and its index points at a knot that breaks the
// rule with none before it.
TEST(CheckKnots, AgreesWithEveryUserOnRandomBases) {
  std::mt19937_64 rng(20261209);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  int seen[16] = {};
  for (int trial = 0; trial < 4000; ++trial) {
    const int order = 1 + int(rng() % 5);
    const int nt = int(rng() % 14);
    std::vector<double> t(nt);
    double v = u(rng) * 4 - 2;
    for (double &k : t) {
      k = v;
      if (rng() % 3) v += u(rng);
    }
    switch (rng() % 7) {
      case 0: if (nt) t[rng() % nt] = kNaN; break;
      case 1: if (nt) t[rng() % nt] = rng() % 2 ? kInf : -kInf; break;
      case 2: if (nt > 1) std::swap(t[rng() % nt], t[rng() % nt]); break;
      case 3:  // a positive gap below 1/DBL_MAX, after a knot at 0
        if (nt > 2) {
          const int m = 1 + int(rng() % (nt - 1));
          const double shift = t[m - 1];
          for (double &k : t) k = k - shift;
          t[m] = 0x1p-1072;
          for (int c = m + 1; c < nt; ++c) t[c] = std::max(t[c], t[m]);
        }
        break;
      case 4: if (nt > 1) { t[0] = -DBL_MAX; t[nt - 1] = DBL_MAX; } break;
      default: break;
    }
    const int64_t nj = int64_t(nt) - order + int64_t(rng() % 3) - 1;
    const Verdict got = check(t, order, nj);
    ++seen[got.rule];
    for (int st : statuses_of_users(t, order, nj)) ASSERT_EQ(st, got.status) << "trial " << trial;
    if (got.rule == BSBASIS_RULE_NOT_FINITE || got.rule == BSBASIS_RULE_DECREASING ||
        got.rule == BSBASIS_RULE_TOO_CLOSE) {
      const int64_t m = got.index;
      ASSERT_TRUE(m >= 0 && m < nt);
      for (int64_t c = 0; c < m; ++c) {
        ASSERT_TRUE(std::isfinite(t[c]));
        if (c > 0) {
          ASSERT_GE(t[c], t[c - 1]);
          ASSERT_FALSE(t[c] > t[c - 1] && t[c] - t[c - 1] < 1 / DBL_MAX);
        }
      }
      if (got.rule == BSBASIS_RULE_NOT_FINITE) ASSERT_FALSE(std::isfinite(t[m]));
      if (got.rule == BSBASIS_RULE_DECREASING) ASSERT_LT(t[m], t[m - 1]);
      if (got.rule == BSBASIS_RULE_TOO_CLOSE) ASSERT_LT(t[m] - t[m - 1], 1 / DBL_MAX);
    } else {
      ASSERT_EQ(got.index, -1);
    }
  }
  // The planted faults reach every rule the draw can break.
  for (int32_t rule : {BSBASIS_RULE_NONE, BSBASIS_RULE_TOO_FEW, BSBASIS_RULE_COLUMNS,
                       BSBASIS_RULE_NOT_FINITE, BSBASIS_RULE_DECREASING, BSBASIS_RULE_TOO_CLOSE,
                       BSBASIS_RULE_SPAN, BSBASIS_RULE_EMPTY_BASE})
    EXPECT_GT(seen[rule], 0) << "rule " << rule;
}

}  // namespace

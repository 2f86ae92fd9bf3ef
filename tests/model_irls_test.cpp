// Iterations of a model with a binomial or Poisson response: each step's
// sums against the plain sums of the working weights and responses formed
// here, the iterations against maximum likelihood in closed form, and the
// checks of the responses.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "bsbasis.h"
#include "helpers.hpp"

namespace {

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Two columns: a factor of three levels and a coordinate in [0, 1].
struct Data {
  std::vector<double> x, y, w;
  std::int64_t n;
};

Data data(std::int64_t n, int family, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  Data d{std::vector<double>(2 * n), std::vector<double>(n), std::vector<double>(n), n};
  const double rate[3] = {0.5, 2.0, 7.0}, prob[3] = {0.2, 0.5, 0.9};
  for (std::int64_t p = 0; p < n; ++p) {
    const int level = static_cast<int>(u(rng) * 3);
    d.x[2 * p] = level;
    d.x[2 * p + 1] = u(rng);
    d.w[p] = 0.5 + u(rng);
    if (family == BSBASIS_FAMILY_POISSON)
      d.y[p] = std::poisson_distribution<int>(rate[level])(rng);
    else
      d.y[p] = u(rng) < prob[level] ? 1.0 : 0.0;
  }
  return d;
}

struct Model {
  std::vector<double> t;
  bsbasis_margin margin{};
  std::vector<bsbasis_term> terms;
  Model() : t{0, 0, 0, 0, 0.5, 1, 1, 1, 1} {
    margin.kind = BSBASIS_MARGIN_KNOTS;
    margin.order = 4;
    margin.extrapolate = BSBASIS_EXTRAPOLATE_ERROR;
    margin.t = t.data();
    margin.nt = 9;
    margin.nj = 5;
    margin.column = 1;
    bsbasis_term f{}, s{};
    f.kind = BSBASIS_TERM_FACTOR;
    f.column = 0;
    f.nlevels = 3;
    s.kind = BSBASIS_TERM_SPLINE;
    s.d = 1;
    s.margins = &margin;
    terms = {f, s};
  }
};

// The working weight and response of one row, written out from the
// family's formulas.
void working(int family, double eta, double y, double w, double *W, double *z) {
  if (family == BSBASIS_FAMILY_POISSON) {
    const double mu = std::max(std::exp(eta), DBL_EPSILON);
    *W = w * mu;
    *z = eta + (y - mu) / mu;
  } else {
    const double e = std::exp(eta), mu = e / (1.0 + e), dmu = e / ((1.0 + e) * (1.0 + e));
    *W = w * dmu * dmu / (mu * (1.0 - mu));
    *z = eta + (y - mu) / dmu;
  }
}

TEST(ModelIrls, AStepIsTheSumsOfItsWorkingRows) {
  const Model m;
  for (int family : {BSBASIS_FAMILY_BINOMIAL, BSBASIS_FAMILY_POISSON}) {
    SCOPED_TRACE(family);
    const Data d = data(70000, family, 1);
    const std::int64_t p = 8;
    std::vector<double> coef = {-0.3, 0.1, 0.4, 0.2, -0.1, 0.05, 0.3, -0.2};
    std::vector<double> G(p * p, 0.0), rhs(p, 0.0), sums(3, 0.0);
    std::int64_t count = 0, bad_row, bad_term;
    ASSERT_EQ(bsbasis_model_irls(m.terms.data(), 2, d.x.data(), d.n, 2, 2, 1, family,
                                 coef.data(), d.y.data(), d.w.data(), G.data(), rhs.data(),
                                 sums.data(), nullptr, &count, &bad_row, &bad_term),
              BSBASIS_OK);
    std::vector<double> eta(d.n), W(d.n), z(d.n);
    ASSERT_EQ(bsbasis_model_evaluate(m.terms.data(), 2, d.x.data(), d.n, 2, 2, 1, coef.data(),
                                     nullptr, eta.data(), nullptr, nullptr, nullptr),
              BSBASIS_OK);
    double dev = 0.0;
    for (std::int64_t r = 0; r < d.n; ++r) {
      working(family, eta[r], d.y[r], d.w[r], &W[r], &z[r]);
      if (family == BSBASIS_FAMILY_POISSON) {
        const double mu = std::exp(eta[r]);
        dev += 2 * d.w[r] * ((d.y[r] > 0 ? d.y[r] * std::log(d.y[r] / mu) : 0.0) - (d.y[r] - mu));
      } else {
        const double mu = 1 / (1 + std::exp(-eta[r]));
        dev += -2 * d.w[r] * (d.y[r] > 0 ? std::log(mu) : std::log(1 - mu));
      }
    }
    std::vector<double> G2(p * p, 0.0), rhs2(p, 0.0), sums2(2, 0.0);
    std::int64_t count2 = 0;
    ASSERT_EQ(bsbasis_model_normal_equations(m.terms.data(), 2, d.x.data(), d.n, 2, 2, 1,
                                             z.data(), W.data(), G2.data(), rhs2.data(),
                                             sums2.data(), &count2, nullptr, nullptr),
              BSBASIS_OK);
    // The same products in the same order: the same bits, up to the
    // working weights and responses themselves (formed here with the
    // family's formulas, not with the library's guards).
    for (std::int64_t e = 0; e < p * p; ++e) EXPECT_NEAR(G[e], G2[e], 1e-12 * std::fabs(G2[e]));
    for (std::int64_t e = 0; e < p; ++e) EXPECT_NEAR(rhs[e], rhs2[e], 1e-11 * std::fabs(rhs2[e]) + 1e-11);
    EXPECT_NEAR(sums[0], sums2[0], 1e-11 * sums2[0]);
    EXPECT_NEAR(sums[1], sums2[1], 1e-12 * sums2[1]);
    EXPECT_NEAR(sums[2], dev, 1e-10 * dev);
    EXPECT_EQ(count, d.n);
  }
}

TEST(ModelIrls, TheGaussianStepIsThePlainSums) {
  const Model m;
  const Data d = data(5000, BSBASIS_FAMILY_POISSON, 2);
  std::vector<double> G(64, 0.0), rhs(8, 0.0), sums(3, 0.0), G2(64, 0.0), rhs2(8, 0.0),
      sums2(2, 0.0), colsums(8, 0.0);
  std::int64_t count = 0, count2 = 0;
  ASSERT_EQ(bsbasis_model_irls(m.terms.data(), 2, d.x.data(), d.n, 2, 2, 1,
                               BSBASIS_FAMILY_GAUSSIAN, nullptr, d.y.data(), nullptr, G.data(),
                               rhs.data(), sums.data(), colsums.data(), &count, nullptr,
                               nullptr),
            BSBASIS_OK);
  ASSERT_EQ(bsbasis_model_normal_equations(m.terms.data(), 2, d.x.data(), d.n, 2, 2, 1,
                                           d.y.data(), nullptr, G2.data(), rhs2.data(),
                                           sums2.data(), &count2, nullptr, nullptr),
            BSBASIS_OK);
  for (int e = 0; e < 64; ++e) EXPECT_TRUE(same_bits(G[e], G2[e])) << e;
  for (int e = 0; e < 8; ++e) EXPECT_TRUE(same_bits(rhs[e], rhs2[e])) << e;
  EXPECT_TRUE(same_bits(sums[0], sums2[0]));
  EXPECT_TRUE(same_bits(sums[1], sums2[1]));
  // At the start eta = y: no deviance.
  EXPECT_EQ(sums[2], 0.0);
  // The column sums are X^T 1: the right-hand side for responses of 1.
  const std::vector<double> ones(d.n, 1.0);
  std::vector<double> G3(64, 0.0), ones_rhs(8, 0.0), sums3(2, 0.0);
  std::int64_t count3 = 0;
  ASSERT_EQ(bsbasis_model_normal_equations(m.terms.data(), 2, d.x.data(), d.n, 2, 2, 1,
                                           ones.data(), nullptr, G3.data(), ones_rhs.data(),
                                           sums3.data(), &count3, nullptr, nullptr),
            BSBASIS_OK);
  for (int e = 0; e < 8; ++e) EXPECT_TRUE(same_bits(colsums[e], ones_rhs[e])) << e;
}

// Solves the k x k system whose upper triangle G holds: mirrored, then by
// the tests' dense elimination.
std::vector<double> solve(std::vector<double> G, std::vector<double> b, int k) {
  for (int r = 0; r < k; ++r)
    for (int c = 0; c < r; ++c) G[r * k + c] = G[c * k + r];
  return testing_bsbasis::dense_solve(std::move(G), std::move(b));
}

// A factor alone: the maximum likelihood puts each level's mean at the
// weighted mean of its responses, so the iterations must reach the link
// of those means.
TEST(ModelIrls, IterationsReachTheClosedForm) {
  const Model m;
  for (int family : {BSBASIS_FAMILY_BINOMIAL, BSBASIS_FAMILY_POISSON}) {
    SCOPED_TRACE(family);
    const Data d = data(20000, family, 3);
    double sy[3] = {}, sw[3] = {};
    for (std::int64_t r = 0; r < d.n; ++r) {
      sy[static_cast<int>(d.x[2 * r])] += d.w[r] * d.y[r];
      sw[static_cast<int>(d.x[2 * r])] += d.w[r];
    }
    std::vector<double> coef;
    double last = INFINITY, dev = 0.0;
    int steps = 0;
    for (; steps < 25; ++steps) {
      std::vector<double> G(9, 0.0), rhs(3, 0.0), sums(3, 0.0);
      std::int64_t count = 0;
      ASSERT_EQ(bsbasis_model_irls(m.terms.data(), 1, d.x.data(), d.n, 2, 2, 1, family,
                                   coef.empty() ? nullptr : coef.data(), d.y.data(),
                                   d.w.data(), G.data(), rhs.data(), sums.data(), nullptr,
                                   &count, nullptr, nullptr),
                BSBASIS_OK);
      dev = sums[2];
      if (std::fabs(dev - last) < 1e-12 * dev) break;
      last = dev;
      coef = solve(G, rhs, 3);
    }
    EXPECT_LT(steps, 12);
    for (int l = 0; l < 3; ++l) {
      const double mean = sy[l] / sw[l];
      const double want =
          family == BSBASIS_FAMILY_POISSON ? std::log(mean) : std::log(mean / (1 - mean));
      EXPECT_NEAR(coef[l], want, 1e-9) << "level " << l;
    }
  }
}

TEST(ModelIrls, ResponsesAndCoefficientsAreChecked) {
  const Model m;
  Data d = data(50, BSBASIS_FAMILY_BINOMIAL, 4);
  std::vector<double> G(64, 7.0), rhs(8, 7.0), sums(3, 7.0), coef(8, 0.0);
  std::int64_t count = 7, bad_row = 0, bad_term = 0;
  auto call = [&](int family, const double *c) {
    return bsbasis_model_irls(m.terms.data(), 2, d.x.data(), d.n, 2, 2, 1, family, c,
                              d.y.data(), d.w.data(), G.data(), rhs.data(), sums.data(),
                              nullptr, &count, &bad_row, &bad_term);
  };
  d.y[9] = 1.5;
  EXPECT_EQ(call(BSBASIS_FAMILY_BINOMIAL, nullptr), BSBASIS_ERROR_DATA);
  EXPECT_EQ(bad_row, 9);
  EXPECT_EQ(bad_term, -1);
  EXPECT_EQ(call(BSBASIS_FAMILY_POISSON, nullptr), BSBASIS_OK);  // 1.5 is a count's mean
  G.assign(64, 7.0);
  sums.assign(3, 7.0);
  count = 7;
  d.y[9] = -1.0;
  EXPECT_EQ(call(BSBASIS_FAMILY_POISSON, nullptr), BSBASIS_ERROR_DATA);
  EXPECT_EQ(bad_row, 9);
  // An earlier row at fault for a term wins.
  d.x[2 * 4 + 1] = NAN;
  EXPECT_EQ(call(BSBASIS_FAMILY_POISSON, nullptr), BSBASIS_ERROR_DATA);
  EXPECT_EQ(bad_row, 4);
  EXPECT_EQ(bad_term, 1);
  d = data(50, BSBASIS_FAMILY_BINOMIAL, 4);
  coef[3] = INFINITY;
  EXPECT_EQ(call(BSBASIS_FAMILY_BINOMIAL, coef.data()), BSBASIS_ERROR_DATA);
  EXPECT_EQ(bad_row, -1);
  EXPECT_EQ(call(7, nullptr), BSBASIS_ERROR_MODE);
  EXPECT_EQ(bsbasis_model_irls(m.terms.data(), 2, d.x.data(), d.n, 2, 2, 1,
                               BSBASIS_FAMILY_POISSON, nullptr, nullptr, nullptr, G.data(),
                               rhs.data(), sums.data(), nullptr, &count, nullptr, nullptr),
            BSBASIS_ERROR_NULL);
  // Nothing was added by any failed call.
  for (double g : G) EXPECT_EQ(g, 7.0);
  EXPECT_EQ(count, 7);
  EXPECT_EQ(sums[2], 7.0);
}

}  // namespace

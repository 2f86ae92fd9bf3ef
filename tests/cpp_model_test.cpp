// The C++ host's additive models: sums against dense rows that the bases'
// own values() give, the same bits for every thread count, errors that name
// the row and the term, and the Gaussian fit against a constrained least-
// squares solve (Lagrange multipliers on the dense rows, eliminated as
// helpers.hpp does).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bsbasis.hpp"
#include "helpers.hpp"

namespace {

using bsbasis::Extrapolate;
using bsbasis::KnotBasis;
using bsbasis::Model;
using bsbasis::ModelSums;
using bsbasis::PeriodicBasis;
using bsbasis::Table;
using bsbasis::Term;
using bsbasis::UniformBasis;
const std::size_t kTile = BSBASIS_NORMAL_TILE;

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::vector<double> uniform(std::size_t n, double lo, double hi, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(lo, hi);
  std::vector<double> v(n);
  for (double &e : v) e = u(rng);
  return v;
}

KnotBasis cubic(double lo, double hi, int intervals) {
  std::vector<double> t(3, lo);
  for (int k = 0; k <= intervals; ++k) t.push_back(lo + (hi - lo) * k / intervals);
  t.insert(t.end(), 3, hi);
  return KnotBasis(t, 4);
}

// Four columns: x0, x1 in [0, 1], x2 a factor of 3 levels, x3 in [0, 2).
struct Data {
  std::size_t n;
  std::vector<double> x, y, w;  // x row-major, n x 4
};

Data data(std::size_t n, unsigned seed) {
  Data d{n, std::vector<double>(n * 4), uniform(n, -1, 1, seed + 1), uniform(n, 0, 2, seed + 2)};
  const std::vector<double> a = uniform(n, 0, 1, seed), b = uniform(n, 0, 1, seed + 3),
                            c = uniform(n, 0, 3, seed + 4), e = uniform(n, 0, 2, seed + 5);
  for (std::size_t p = 0; p < n; ++p) {
    d.x[p * 4 + 0] = a[p];
    d.x[p * 4 + 1] = b[p];
    d.x[p * 4 + 2] = std::floor(c[p]);
    d.x[p * 4 + 3] = e[p];
    d.y[p] = d.y[p] + std::sin(6 * a[p]) + b[p] * b[p] + 0.3 * std::floor(c[p]);
  }
  return d;
}

Model model() {
  const KnotBasis b = cubic(0, 1, 5);
  return Model({Term::intercept(), Term::spline(b, 0), Term::factor(2, 3),
                Term::tensor({Term::spline(cubic(0, 1, 2), 1),
                              Term::spline(PeriodicBasis({0, 0.5, 1, 1.5, 2}, 3), 3)}),
                Term::linear(3), Term::spline(UniformBasis(3, 6, -0.2, 0.25), 1)},
               4);
}

// The dense model matrix, from each basis's own values().
std::vector<double> dense_rows(const Data &d, std::int64_t p) {
  const KnotBasis b = cubic(0, 1, 5), bt = cubic(0, 1, 2);
  const PeriodicBasis ring({0, 0.5, 1, 1.5, 2}, 3);
  const UniformBasis u(3, 6, -0.2, 0.25);
  std::vector<double> X(d.n * static_cast<std::size_t>(p), 0.0);
  auto dense = [&](const bsbasis::Design &D) {
    std::vector<double> r(D.rows * D.cols, 0.0);
    for (std::int64_t i = 0; i < D.rows; ++i)
      if (D.in_range[i])
        for (int q = 0; q < D.order; ++q)
          r[i * D.cols + D.j[i * D.order + q]] += D.B[i * D.order + q];
    return r;
  };
  std::vector<double> c0(d.n), c1(d.n), c3(d.n);
  for (std::size_t i = 0; i < d.n; ++i) {
    c0[i] = d.x[i * 4];
    c1[i] = d.x[i * 4 + 1];
    c3[i] = d.x[i * 4 + 3];
  }
  const std::vector<double> S = dense(b.values(c0)), T1 = dense(bt.values(c1)),
                            T2 = dense(ring.values(c3)), U = dense(u.values(c1));
  for (std::size_t i = 0; i < d.n; ++i) {
    double *row = X.data() + i * p;
    std::size_t at = 0;
    row[at++] = 1.0;
    for (int c = 0; c < b.nj(); ++c) row[at++] = S[i * b.nj() + c];
    for (int l = 0; l < 3; ++l) row[at++] = d.x[i * 4 + 2] == l ? 1.0 : 0.0;
    for (int c1 = 0; c1 < bt.nj(); ++c1)
      for (int c2 = 0; c2 < ring.nj(); ++c2)
        row[at++] = T1[i * bt.nj() + c1] * T2[i * ring.nj() + c2];
    row[at++] = d.x[i * 4 + 3];
    for (int c = 0; c < u.nj(); ++c) row[at++] = U[i * u.nj() + c];
    EXPECT_EQ(at, static_cast<std::size_t>(p));
  }
  return X;
}

TEST(CppModel, SumsMatchTheDenseRows) {
  const Model m = model();
  const std::int64_t p = m.cols();
  EXPECT_EQ(p, 1 + 8 + 3 + 5 * 4 + 1 + 6);
  EXPECT_EQ(m.first(3), 12);
  const Data d = data(3000, 1);
  const std::vector<double> X = dense_rows(d, p);
  const ModelSums s = m.sums(Table::row_major(d.x.data(), 3000, 4), d.y.data(), d.w.data());
  double worst = 0.0;
  for (std::int64_t r = 0; r < p; ++r) {
    long double g[64] = {};
    long double rhs = 0.0L;
    for (std::size_t i = 0; i < d.n; ++i) {
      for (std::int64_t c = 0; c < p; ++c)
        g[c] += static_cast<long double>(d.w[i]) * X[i * p + r] * X[i * p + c];
      rhs += static_cast<long double>(d.w[i]) * X[i * p + r] * d.y[i];
    }
    for (std::int64_t c = 0; c < p; ++c)
      worst = std::max(worst, std::fabs(s.at(r, c) - static_cast<double>(g[c])));
    worst = std::max(worst, std::fabs(s.rhs[r] - static_cast<double>(rhs)));
    // The lower triangle is left at zero; at() reads the upper one.
    for (std::int64_t c = 0; c < r; ++c) EXPECT_EQ(s.gram[r * p + c], 0.0);
  }
  EXPECT_LT(worst, 1e-9);
  EXPECT_EQ(s.count, 3000);
}

TEST(CppModel, ThreadsAndTablesGiveTheSameBits) {
  const Model m = model();
  const std::size_t n = 2 * kTile + 999;
  const Data d = data(n, 2);
  std::vector<double> cm(n * 4);  // the same table, column-major
  for (std::size_t i = 0; i < n; ++i)
    for (int c = 0; c < 4; ++c) cm[c * n + i] = d.x[i * 4 + c];
  const ModelSums one = m.sums(Table::row_major(d.x.data(), n, 4), d.y.data(), d.w.data());
  for (int threads : {2, 3}) {
    const ModelSums more = m.sums(Table::column_major(cm.data(), n, 4), d.y.data(),
                                  d.w.data(), threads);
    for (std::size_t e = 0; e < one.gram.size(); ++e)
      ASSERT_TRUE(same_bits(one.gram[e], more.gram[e])) << threads << " entry " << e;
    for (std::size_t e = 0; e < one.rhs.size(); ++e)
      ASSERT_TRUE(same_bits(one.rhs[e], more.rhs[e])) << threads;
    EXPECT_TRUE(same_bits(one.yty, more.yty));
    EXPECT_TRUE(same_bits(one.sum_weights, more.sum_weights));
  }
  // Chained a tile at a time.
  ModelSums head = m.sums(Table::row_major(d.x.data(), kTile, 4), d.y.data(), d.w.data());
  for (std::size_t p0 = kTile; p0 < n; p0 += kTile)
    head += m.sums(Table::row_major(d.x.data() + p0 * 4, std::min(kTile, n - p0), 4),
                   d.y.data() + p0, d.w.data() + p0, 2);
  for (std::size_t e = 0; e < one.gram.size(); ++e)
    ASSERT_TRUE(same_bits(one.gram[e], head.gram[e])) << "chained, entry " << e;
}

TEST(CppModel, ErrorsNameTheRowAndTheTerm) {
  const Model m = model();
  const std::size_t n = kTile + 100;
  Data d = data(n, 3);
  d.x[(kTile + 17) * 4 + 1] = std::nan("");  // read by terms 3 and 5
  for (int threads : {1, 2}) {
    try {
      m.sums(Table::row_major(d.x.data(), n, 4), d.y.data(), nullptr, threads);
      ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument &e) {
      const std::string what = e.what();
      EXPECT_NE(what.find("row " + std::to_string(kTile + 17) + ": term 3"), std::string::npos)
          << what;
    }
  }
  d = data(50, 4);
  d.x[7 * 4 + 2] = 3.0;  // a level past the factor's three
  EXPECT_THROW(m.sums(Table::row_major(d.x.data(), 50, 4), nullptr, nullptr), std::invalid_argument);
  d = data(50, 4);
  d.w[9] = -1.0;
  try {
    m.sums(Table::row_major(d.x.data(), 50, 4), d.y.data(), d.w.data());
    ADD_FAILURE() << "no exception";
  } catch (const std::invalid_argument &e) {
    EXPECT_NE(std::string(e.what()).find("row 9: the weight is -1"), std::string::npos)
        << e.what();
  }
  // A table of the wrong width, a term on a column the table lacks.
  EXPECT_THROW(m.sums(Table::row_major(d.x.data(), 10, 3), nullptr, nullptr),
               std::invalid_argument);
  try {
    Model({Term::intercept(), Term::linear(7)}, 4);
    ADD_FAILURE() << "no exception";
  } catch (const std::invalid_argument &e) {
    EXPECT_NE(std::string(e.what()).find("term 1"), std::string::npos) << e.what();
  }
  EXPECT_THROW(Term::tensor({Term::linear(0), Term::linear(1)}), std::invalid_argument);
}

TEST(CppModel, CopiesOutliveTheirSource) {
  const Data d = data(500, 5);
  std::vector<Model> kept;
  ModelSums want;
  {
    const Model m = model();
    want = m.sums(Table::row_major(d.x.data(), 500, 4), d.y.data(), nullptr);
    kept.push_back(m);
    Model other = model();
    other = m;
    kept.push_back(std::move(other));
  }
  for (const Model &m : kept) {
    const ModelSums got = m.sums(Table::row_major(d.x.data(), 500, 4), d.y.data(), nullptr);
    for (std::size_t e = 0; e < want.gram.size(); ++e)
      ASSERT_TRUE(same_bits(want.gram[e], got.gram[e]));
  }
}

// Solves [A C^T; C 0] [c; mu] = [b; 0] by the Gaussian elimination of
// helpers.hpp: the constrained minimiser, written independently of the
// reflections fit_gaussian uses.
std::vector<double> kkt(std::vector<double> A, std::vector<double> b,
                        const std::vector<std::vector<double>> &C, std::size_t p) {
  const std::size_t k = C.size(), n = p + k;
  std::vector<double> M(n * n, 0.0), r(n, 0.0);
  for (std::size_t i = 0; i < p; ++i) {
    r[i] = b[i];
    for (std::size_t j = 0; j < p; ++j) M[i * n + j] = A[i * p + j];
  }
  for (std::size_t q = 0; q < k; ++q)
    for (std::size_t j = 0; j < p; ++j) M[(p + q) * n + j] = M[j * n + p + q] = C[q][j];
  r = testing_bsbasis::dense_solve(std::move(M), std::move(r));
  r.resize(p);
  return r;
}

TEST(CppModel, GaussianFitMatchesTheConstrainedSolve) {
  const Model m = model();
  const std::int64_t p = m.cols();
  const Data d = data(4000, 6);
  const Table x = Table::row_major(d.x.data(), 4000, 4);
  const ModelSums s = m.sums(x, d.y.data(), d.w.data());
  const std::vector<double> P1 = bsbasis::dense(bsbasis::difference_penalty(8, 2));
  const std::vector<std::vector<double>> Pt = bsbasis::tensor_penalties(
      {bsbasis::dense(bsbasis::difference_penalty(5, 2)),
       bsbasis::dense(bsbasis::difference_penalty(4, 1))});
  // First differences on the uniform term: the tensor term already holds
  // the straight lines in x1, unpenalised.  A ridge on the factor, whose
  // three levels sum to the intercept.
  const std::vector<double> Pu = bsbasis::dense(bsbasis::difference_penalty(6, 1));
  const std::vector<double> ridge = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const std::vector<bsbasis::TermPenalty> pens = {
      {1, P1, 0.3}, {2, ridge, 0.1}, {3, Pt[0], 2.0}, {3, Pt[1], 0.05}, {5, Pu, 1.5}};
  const std::vector<double> coef = bsbasis::fit_gaussian(m, s, pens);

  // The same problem, dense: A = X^T W X + penalties, one centring row per
  // spline term from the weighted column sums.
  std::vector<double> A(p * p), b(s.rhs);
  for (std::int64_t r = 0; r < p; ++r)
    for (std::int64_t c = 0; c < p; ++c) A[r * p + c] = s.at(r, c);
  for (const auto &pen : pens) {
    const std::int64_t f = m.first(pen.term), w = m.first(pen.term + 1) - f;
    for (std::int64_t r = 0; r < w; ++r)
      for (std::int64_t c = 0; c < w; ++c) A[(f + r) * p + f + c] += pen.lam * pen.S[r * w + c];
  }
  std::vector<std::vector<double>> C;
  for (std::size_t k : {1, 3, 5}) {
    std::vector<double> row(p, 0.0);
    for (std::int64_t c = m.first(k); c < m.first(k + 1); ++c) row[c] = s.at(0, c);
    C.push_back(row);
  }
  const std::vector<double> want = kkt(A, b, C, p);
  const bsbasis::Buffer<double> fit = m.evaluate(x, coef), ref = m.evaluate(x, want);
  double range = 0.0, worst = 0.0;
  for (std::size_t i = 0; i < d.n; ++i) {
    range = std::max(range, std::fabs(ref[i]));
    worst = std::max(worst, std::fabs(fit[i] - ref[i]));
  }
  EXPECT_LT(worst, 1e-10 * range);
  for (const std::vector<double> &row : C) {  // the centring holds on coef
    double dot = 0.0, scale = 0.0;
    for (std::int64_t c = 0; c < p; ++c) {
      dot += row[c] * coef[c];
      scale += std::fabs(row[c] * coef[c]);
    }
    EXPECT_LT(std::fabs(dot), 1e-11 * scale);
  }

  // Variances: X V X^T with V = I is the squared norm of each row.
  std::vector<double> V(p * p, 0.0);
  for (std::int64_t c = 0; c < p; ++c) V[c * p + c] = 1.0;
  bsbasis::Buffer<double> var;
  m.evaluate(x, coef, V, var);
  const std::vector<double> X = dense_rows(d, p);
  for (std::size_t i = 0; i < 50; ++i) {
    double sq = 0.0;
    for (std::int64_t c = 0; c < p; ++c) sq += X[i * p + c] * X[i * p + c];
    EXPECT_NEAR(var[i], sq, 1e-12 * sq);
  }
}

TEST(CppModel, GaussianFitRefusesWhatItCannotSolve) {
  const Model m = model();
  const Data d = data(300, 7);
  const ModelSums s = m.sums(Table::row_major(d.x.data(), 300, 4), d.y.data(), nullptr);
  // A tensor term of 20 columns without a penalty and a factor that
  // duplicates the intercept: singular.
  EXPECT_THROW(bsbasis::fit_gaussian(m, s, {}), bsbasis::SingularSystem);
  EXPECT_THROW(bsbasis::fit_gaussian(m, s, {{1, std::vector<double>(9, 0.0), 1.0}}),
               std::invalid_argument);
  EXPECT_THROW(bsbasis::fit_gaussian(m, s, {{9, {}, 1.0}}), std::invalid_argument);
  EXPECT_THROW(bsbasis::fit_gaussian(m, s, {{1, bsbasis::dense(bsbasis::difference_penalty(8)),
                                             -1.0}}),
               std::invalid_argument);
  const ModelSums none = m.sums(Table::row_major(d.x.data(), 300, 4), nullptr, nullptr);
  EXPECT_THROW(bsbasis::fit_gaussian(m, none, {}), std::invalid_argument);
}

}  // namespace

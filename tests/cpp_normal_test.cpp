// The C++ host's normal equations, banded solves and spline values: against
// dense sums and products of the rows that values() gives, a dense
// elimination (helpers.hpp), and their own bits for every thread count.
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

using bsbasis::Banded;
using bsbasis::Design;
using bsbasis::Extrapolate;
using bsbasis::KnotBasis;
using bsbasis::NormalEquations;
using bsbasis::UniformBasis;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const std::size_t kTile = BSBASIS_NORMAL_TILE;

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void expect_same_bits(const NormalEquations &a, const NormalEquations &b, const char *what) {
  ASSERT_EQ(a.gram.ab.size(), b.gram.ab.size()) << what;
  ASSERT_EQ(a.rhs.size(), b.rhs.size()) << what;
  for (std::size_t e = 0; e < a.gram.ab.size(); ++e)
    ASSERT_TRUE(same_bits(a.gram.ab[e], b.gram.ab[e])) << what << " gram entry " << e;
  for (std::size_t e = 0; e < a.rhs.size(); ++e)
    ASSERT_TRUE(same_bits(a.rhs[e], b.rhs[e])) << what << " rhs " << e;
  EXPECT_TRUE(same_bits(a.yty, b.yty)) << what;
  EXPECT_TRUE(same_bits(a.sum_weights, b.sum_weights)) << what;
  EXPECT_EQ(a.count, b.count) << what;
}

KnotBasis knot_basis(Extrapolate mode = Extrapolate::Zero) {
  std::vector<double> t{-1, -1, -1, -1, -0.5, 0.1, 0.2, 0.2, 0.9, 1.4, 2, 2, 2, 2};
  return KnotBasis(t, 4, std::nullopt, mode);
}

std::vector<double> uniform(std::size_t n, double lo, double hi, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(lo, hi);
  std::vector<double> v(n);
  for (double &e : v) e = u(rng);
  return v;
}

// The sums from the dense rows of d, in long double, against ne.
void expect_dense_sums(const NormalEquations &ne, const Design &d, const std::vector<double> &y,
                       const std::vector<double> &w) {
  const std::size_t n = static_cast<std::size_t>(d.cols), k = static_cast<std::size_t>(d.order);
  std::vector<long double> G(n * n, 0.0L), r(n, 0.0L);
  long double yty = 0.0L, sw = 0.0L, top = 0.0L, rtop = 0.0L;
  std::int64_t count = 0;
  for (std::size_t p = 0; p < static_cast<std::size_t>(d.rows); ++p) {
    if (!d.in_range[p]) continue;
    const long double wp = w.empty() ? 1.0L : w[p];
    ++count;
    sw += wp;
    yty += wp * y[p] * y[p];
    for (std::size_t a = 0; a < k; ++a) {
      r[d.j[p * k + a]] += wp * d.B[p * k + a] * y[p];
      for (std::size_t b = 0; b < k; ++b)
        G[d.j[p * k + a] * n + d.j[p * k + b]] += wp * d.B[p * k + a] * d.B[p * k + b];
    }
  }
  for (long double g : G) top = std::max(top, std::fabs(g));
  for (long double v : r) rtop = std::max(rtop, std::fabs(v));
  EXPECT_EQ(ne.count, count);
  EXPECT_NEAR(ne.sum_weights, static_cast<double>(sw), 1e-13 * static_cast<double>(sw));
  EXPECT_NEAR(ne.yty, static_cast<double>(yty), 1e-13 * static_cast<double>(yty));
  for (std::size_t a = 0; a < n; ++a) {
    EXPECT_NEAR(ne.rhs[a], static_cast<double>(r[a]), 1e-13 * static_cast<double>(rtop));
    for (std::size_t b = 0; b < n; ++b)
      ASSERT_NEAR(ne.gram.at(a, b), static_cast<double>(G[a * n + b]),
                  1e-13 * static_cast<double>(top))
          << "G[" << a << "][" << b << "]";
  }
}

TEST(CppNormal, SumsMatchDenseRows) {
  std::vector<double> x = uniform(5000, -1.3, 2.3, 1), y = uniform(5000, -2, 2, 2),
                      w = uniform(5000, 0, 3, 3);
  x[7] = kNaN;    // an empty row, whose y is not read
  y[7] = kNaN;
  x[8] = 2.0;     // the right end, closed
  w[9] = 0.0;
  for (int nu : {0, 1}) {
    for (Extrapolate mode : {Extrapolate::Zero, Extrapolate::Linear}) {
      const KnotBasis b = knot_basis(mode);
      SCOPED_TRACE(nu);
      expect_dense_sums(bsbasis::normal_equations(b, x, y, w, nu), b.derivatives(x, nu), y, w);
      expect_dense_sums(bsbasis::normal_equations(b, x, y, nu), b.derivatives(x, nu), y, {});
    }
    const UniformBasis u(3, 9, -1.0, 0.375);
    expect_dense_sums(bsbasis::normal_equations(u, x, y, w, nu), u.derivatives(x, nu), y, w);
  }
  const NormalEquations none = bsbasis::normal_equations(knot_basis(), x, std::vector<double>{});
  EXPECT_FALSE(none.has_responses());
  EXPECT_EQ(none.yty, 0.0);
  EXPECT_EQ(none.sum_weights, static_cast<double>(none.count));
}

TEST(CppNormal, SameBitsForAnyThreadCountAndSplit) {
  const std::size_t nx = 5 * kTile + 1234;  // more tiles than 2 workers hold
  const std::vector<double> x = uniform(nx, -1.2, 2.2, 4), y = uniform(nx, -5, 5, 5),
                            w = uniform(nx, 0, 2, 6);
  const KnotBasis b = knot_basis();
  const UniformBasis u(4, 12, -1.0, 0.25, Extrapolate::Constant);
  const NormalEquations one = bsbasis::normal_equations(b, x, y, w, 0, 1);
  const NormalEquations uone = bsbasis::normal_equations(u, x, y, w, 1, 1);
  const NormalEquations bare = bsbasis::normal_equations(b, x.data(), nx, nullptr, nullptr);
  for (int threads : {2, 3, 5, 8}) {
    SCOPED_TRACE(threads);
    expect_same_bits(one, bsbasis::normal_equations(b, x, y, w, 0, threads), "knots");
    expect_same_bits(uone, bsbasis::normal_equations(u, x, y, w, 1, threads), "uniform");
    expect_same_bits(bare, bsbasis::normal_equations(b, x.data(), nx, nullptr, nullptr, 0,
                                                     threads),
                     "no responses");
  }
  // The whole tiles, then the partial one.
  const std::size_t m = 5 * kTile;
  const NormalEquations head = bsbasis::normal_equations(b, x.data(), m, y.data(), w.data(), 0, 2);
  const NormalEquations tail =
      bsbasis::normal_equations(b, x.data() + m, nx - m, y.data() + m, w.data() + m);
  expect_same_bits(one, head + tail, "head + tail");
  NormalEquations sum = head;
  sum += tail;
  expect_same_bits(one, sum, "head += tail");

  EXPECT_THROW(head + bare, std::invalid_argument);  // with and without responses
  EXPECT_THROW(head + uone, std::invalid_argument);  // other columns
}

TEST(CppNormal, BadDataNamesTheRow) {
  const std::size_t nx = 2 * kTile + 500;
  const std::vector<double> x = uniform(nx, -1, 2, 7);
  std::vector<double> y = uniform(nx, -1, 1, 8), w(nx, 1.0);
  const KnotBasis b = knot_basis();
  auto message = [&](int threads) -> std::string {
    try {
      bsbasis::normal_equations(b, x, y, w, 0, threads);
    } catch (const std::invalid_argument &e) {
      return e.what();
    }
    return "no exception";
  };
  y[kTile + 17] = kNaN;
  y[2 * kTile + 3] = kNaN;
  for (int threads : {1, 3})
    EXPECT_NE(message(threads).find("row " + std::to_string(kTile + 17) + ": y is nan"),
              std::string::npos)
        << message(threads);
  w[40] = -1.0;
  EXPECT_NE(message(3).find("row 40: the weight is -1"), std::string::npos) << message(3);
  w[40] = 1.0;
  w[2 * kTile + 1] = std::numeric_limits<double>::infinity();
  y[kTile + 17] = y[2 * kTile + 3] = 0.5;
  EXPECT_NE(message(2).find("row " + std::to_string(2 * kTile + 1) + ": the weight is inf"),
            std::string::npos)
      << message(2);

  // Under Extrapolate::Error an abscissa outside names itself, offset by its tile.
  std::vector<double> xs = uniform(nx, -1, 2, 9);
  xs[kTile + 3] = 2.5;
  try {
    bsbasis::normal_equations(knot_basis(Extrapolate::Error), xs, y, 0, 2);
    ADD_FAILURE() << "no exception";
  } catch (const std::invalid_argument &e) {
    EXPECT_NE(std::string(e.what()).find("x[" + std::to_string(kTile + 3) + "] = 2.5"),
              std::string::npos)
        << e.what();
  }

  const std::vector<double> three{0.0, 0.5, 1.0}, two{0.0, 0.5};
  EXPECT_THROW(bsbasis::normal_equations(b, three, two), std::invalid_argument);
  EXPECT_THROW(bsbasis::normal_equations(b, three, three, two), std::invalid_argument);
  EXPECT_THROW(bsbasis::normal_equations(b, three, three, three, 0, 0), std::invalid_argument);
  EXPECT_THROW(bsbasis::evaluate(b, two, three), std::invalid_argument);
}

// A null x with rows to read is refused on every thread count, before the
// rows are split among workers (each would offset the null pointer).
TEST(CppNormal, NullAbscissaeThrowOnAnyThreadCount) {
  const KnotBasis b = knot_basis();
  for (int threads : {1, 2, 4})
    for (std::size_t nx : {std::size_t(3), 2 * kTile + 5}) {
      try {
        bsbasis::normal_equations(b, nullptr, nx, nullptr, nullptr, 0, threads);
        ADD_FAILURE() << "no exception, threads " << threads << " nx " << nx;
      } catch (const std::invalid_argument &e) {
        EXPECT_NE(std::string(e.what()).find("x is null"), std::string::npos) << e.what();
      }
    }
  EXPECT_EQ(bsbasis::normal_equations(b, nullptr, 0, nullptr, nullptr, 0, 2).count, 0);
}

// evaluate() against the dense rows of derivatives() times c; 0 on an empty row.
template <class Basis>
void expect_products(const Basis &b, const std::vector<double> &x, int nu, unsigned seed) {
  const std::vector<double> c = uniform(static_cast<std::size_t>(b.nj()), -3, 3, seed);
  const Design d = b.derivatives(x, nu);
  const bsbasis::Buffer<double> f = bsbasis::evaluate(b, c, x, nu);
  ASSERT_EQ(f.size(), x.size());
  for (std::size_t p = 0; p < x.size(); ++p) {
    double s = 0.0, scale = 0.0;
    for (std::size_t e = p * d.order; e < (p + 1) * d.order; ++e) {
      s += d.B[e] * c[d.j[e]];
      scale += std::fabs(d.B[e] * c[d.j[e]]);
    }
    if (!d.in_range[p]) EXPECT_EQ(f[p], 0.0) << "x = " << x[p];
    else EXPECT_NEAR(f[p], s, 1e-13 * scale) << "x = " << x[p] << " nu = " << nu;
  }
}

TEST(CppNormal, EvaluateIsTheRowsTimesTheCoefficients) {
  std::vector<double> x = uniform(700, -1.5, 2.5, 10);
  x[3] = kNaN;
  for (int nu : {0, 1, 2}) {
    expect_products(knot_basis(Extrapolate::Zero), x, nu, 11);
    expect_products(knot_basis(Extrapolate::Linear), x, nu, 12);
    expect_products(UniformBasis(3, 7, -2.0, 0.5), x, nu, 13);
  }
}

// A c = b on the dense A, by the elimination of helpers.hpp.
std::vector<double> dense_solve(const Banded &a, std::vector<double> b) {
  const std::size_t n = static_cast<std::size_t>(a.n);
  std::vector<double> A(n * n);
  for (std::size_t r = 0; r < n; ++r)
    for (std::size_t c = 0; c < n; ++c) A[r * n + c] = a.at(r, c);
  return testing_bsbasis::dense_solve(std::move(A), std::move(b));
}

TEST(CppNormal, SolveBandedMatchesDenseElimination) {
  std::mt19937 rng(14);
  std::uniform_real_distribution<double> e(-1.0, 1.0);
  for (int u : {0, 1, 3, 6})
    for (std::int64_t n : {1, 2, 5, 40}) {
      // Symmetric, diagonally dominant: positive definite.
      Banded a;
      a.n = n;
      a.u = u;
      a.ab.assign(static_cast<std::size_t>((u + 1) * n), 0.0);
      for (std::int64_t c = 0; c < n; ++c)
        for (std::int64_t r = std::max<std::int64_t>(0, c - u); r < c; ++r)
          a.ab[(u + r - c) * n + c] = e(rng);
      for (std::int64_t c = 0; c < n; ++c) {
        double s = 0.0;
        for (std::int64_t r = std::max<std::int64_t>(0, c - u); r <= std::min(n - 1, c + u); ++r)
          if (r != c) s += std::fabs(a.at(r, c));
        a.ab[u * n + c] = s + 0.5 + 0.5 * e(rng);
      }
      std::vector<double> b(static_cast<std::size_t>(n));
      for (double &v : b) v = e(rng);
      const std::vector<double> got = bsbasis::solve_banded(a, b), want = dense_solve(a, b);
      for (std::size_t k = 0; k < b.size(); ++k)
        ASSERT_NEAR(got[k], want[k], 1e-12 * (1.0 + std::fabs(want[k])))
            << "u = " << u << " n = " << n << " k = " << k;
    }

  // G + lam * P for a narrower and a wider penalty, entry by entry.
  const KnotBasis b = knot_basis();
  const std::vector<double> x = uniform(300, -1, 2, 15), y = uniform(300, -1, 1, 16);
  const NormalEquations ne = bsbasis::normal_equations(b, x, y);
  for (int d : {2, 4}) {
    const Banded P = bsbasis::difference_penalty(b.nj(), d);
    const Banded S = bsbasis::add_penalty(ne.gram, P, 0.3);
    EXPECT_EQ(S.u, std::max(ne.gram.u, P.u));
    for (std::int64_t r = 0; r < b.nj(); ++r)
      for (std::int64_t c = 0; c < b.nj(); ++c)
        ASSERT_EQ(S.at(r, c), ne.gram.at(r, c) + 0.3 * P.at(r, c)) << r << ", " << c;
    const std::vector<double> got = bsbasis::solve(ne, P, 0.3), want = dense_solve(S, ne.rhs);
    for (std::size_t k = 0; k < got.size(); ++k)
      EXPECT_NEAR(got[k], want[k], 1e-12 * (1.0 + std::fabs(want[k])));
  }
  EXPECT_THROW(bsbasis::add_penalty(ne.gram, bsbasis::difference_penalty(3), 1.0),
               std::invalid_argument);
  EXPECT_THROW(bsbasis::add_penalty(ne.gram, bsbasis::difference_penalty(b.nj()), -1.0),
               std::invalid_argument);
  EXPECT_THROW(bsbasis::solve_banded(ne.gram, std::vector<double>{1.0}), std::invalid_argument);
}

TEST(CppNormal, SingularSystemsThrow) {
  // Three abscissae for ten columns: singular without a penalty, fine with one.
  const KnotBasis b = knot_basis();
  const std::vector<double> x{-0.9, 0.15, 1.7}, y{1.0, 2.0, 0.5};
  const NormalEquations ne = bsbasis::normal_equations(b, x, y);
  EXPECT_THROW(bsbasis::solve(ne), bsbasis::SingularSystem);
  EXPECT_THROW(bsbasis::solve(ne, bsbasis::difference_penalty(b.nj()), 0.0),
               bsbasis::SingularSystem);
  for (double c : bsbasis::solve(ne, bsbasis::difference_penalty(b.nj(), 2), 1e-3))
    EXPECT_TRUE(std::isfinite(c));

  // Pivots against n * eps * (largest diagonal): [[1, 1], [1, 1 + k eps]]
  // has the pivot k eps in its second column.
  const double eps = std::numeric_limits<double>::epsilon();
  auto two_by_two = [](double a01, double a11) {
    Banded a;
    a.n = 2;
    a.u = 1;
    a.ab = {0.0, a01, 1.0, a11};
    return a;
  };
  try {
    bsbasis::solve_banded(two_by_two(1.0, 1.0 + 2 * eps), std::vector<double>{1, 1});
    ADD_FAILURE() << "no exception";
  } catch (const bsbasis::SingularSystem &e) {
    EXPECT_EQ(e.column(), 1);
  }
  const std::vector<double> c =
      bsbasis::solve_banded(two_by_two(1.0, 1.0 + 8 * eps), std::vector<double>{1, 1});
  EXPECT_EQ(c[1], 0.0);
  EXPECT_EQ(c[0], 1.0);
  EXPECT_THROW(bsbasis::solve_banded(two_by_two(2.0, 1.0), std::vector<double>{1, 1}),
               bsbasis::SingularSystem);  // indefinite
  EXPECT_THROW(bsbasis::solve_banded(two_by_two(kNaN, 1.0), std::vector<double>{1, 1}),
               std::invalid_argument);
}

}  // namespace

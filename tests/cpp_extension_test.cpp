// The C++ host's derivatives of any order, extrapolation modes, periodic and
// tensor-product bases, penalties and knots: against direct formulas written
// here, hand-checked values, and the library's own bits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bsbasis.hpp"

namespace {

using bsbasis::Design;
using bsbasis::Extrapolate;
using bsbasis::KnotBasis;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Derivative nu of B-spline c of order k on t at x, by the textbook
// recursion; order 1 is the indicator of [t[c], t[c+1]), or of (t[c],
// t[c+1]] for left limits.
double cox_de_boor(const std::vector<double> &t, int c, int k, double x, int nu, bool left) {
  if (k == 1)
    return nu > 0 ? 0.0 : left ? (t[c] < x && x <= t[c + 1]) : (t[c] <= x && x < t[c + 1]);
  double a = 0.0, b = 0.0;
  if (t[c + k - 1] > t[c]) a = cox_de_boor(t, c, k - 1, x, nu > 0 ? nu - 1 : 0, left) /
                               (t[c + k - 1] - t[c]);
  if (t[c + k] > t[c + 1]) b = cox_de_boor(t, c + 1, k - 1, x, nu > 0 ? nu - 1 : 0, left) /
                               (t[c + k] - t[c + 1]);
  return nu > 0 ? (k - 1) * (a - b) : (x - t[c]) * a + (t[c + k] - x) * b;
}

// Row p of d as a dense vector; checks that its columns ascend.
std::vector<double> dense_row(const Design &d, std::size_t p) {
  std::vector<double> r(static_cast<std::size_t>(d.cols), 0.0);
  for (int q = 0; q < d.order; ++q) {
    const std::size_t e = p * d.order + q;
    if (q > 0) {
      EXPECT_LT(d.j[e - 1], d.j[e]) << "row " << p;
    }
    r.at(static_cast<std::size_t>(d.j[e])) = d.B[e];
  }
  return r;
}

// Every row of d against f(column), within 1e-12 of the row's largest value.
template <class F>
void expect_rows(const Design &d, const std::vector<double> &x, F f) {
  for (std::size_t p = 0; p < x.size(); ++p) {
    ASSERT_TRUE(d.in_range[p]) << "x = " << x[p];
    const std::vector<double> got = dense_row(d, p);
    std::vector<double> want(got.size());
    double top = 0.0;
    for (std::size_t c = 0; c < got.size(); ++c) top = std::max(top, std::fabs(want[c] = f(c, x[p])));
    for (std::size_t c = 0; c < got.size(); ++c)
      ASSERT_NEAR(got[c], want[c], 1e-12 * top) << "x = " << x[p] << " column " << c;
  }
}

std::vector<double> random_knots(int order, std::mt19937 &rng) {
  std::uniform_real_distribution<double> u(-1.0, 3.0);
  std::vector<double> t(3 * order + 6);
  for (double &v : t) v = u(rng);
  std::sort(t.begin(), t.end());
  t[order + 3] = t[order + 2];  // a double interior knot
  return t;
}

TEST(CppExtension, HigherDerivativesMatchCoxDeBoor) {
  std::mt19937 rng(3);
  for (int order = 1; order <= 7; ++order) {
    const std::vector<double> t = random_knots(order, rng);
    const int nt = static_cast<int>(t.size());
    for (int nj : {nt - order, nt - order - 2}) {
      const KnotBasis basis(t, order, nj);
      std::vector<double> x(t.begin() + order - 1, t.begin() + nj + 1);  // knots, right end
      for (int m = 0; m < 40; ++m) x.push_back(basis.left() + (basis.right() - basis.left()) * m / 40);
      for (int nu = 0; nu <= order + 1; ++nu) {
        SCOPED_TRACE("order " + std::to_string(order) + " nj " + std::to_string(nj) + " nu " +
                     std::to_string(nu));
        expect_rows(basis.derivatives(x, nu), x, [&](std::size_t c, double v) {
          return cox_de_boor(t, static_cast<int>(c), order, v, nu, v == basis.right());
        });
      }
    }
  }
  // Uniform knots origin + m * spacing, against the same formula on them.
  const bsbasis::UniformBasis uniform(4, 9, -1.5, 0.25);
  std::vector<double> t(13), x;
  for (int m = 0; m < 13; ++m) t[m] = -1.5 + 0.25 * m;
  for (int m = 0; m <= 30; ++m) x.push_back(uniform.left() + (uniform.right() - uniform.left()) * m / 30);
  EXPECT_EQ(uniform.left(), t[3]);
  EXPECT_EQ(uniform.right(), t[9]);
  for (int nu = 0; nu <= 5; ++nu)
    expect_rows(uniform.derivatives(x, nu), x, [&](std::size_t c, double v) {
      return cox_de_boor(t, static_cast<int>(c), 4, v, nu, v == uniform.right());
    });
}

// The host's rows are the library's bits, in every chunking; empty rows
// (column -1 in the library) hold column 0 and value 0 with in_range 0.
template <class Basis, class Call>
void expect_library_bits(const Basis &basis, const std::vector<double> &x, int nu, Call call) {
  const std::size_t k = static_cast<std::size_t>(basis.order()), n = x.size() * k;
  std::vector<std::int32_t> i(n), j(n);
  std::vector<double> B(n);
  ASSERT_EQ(call(x.data(), static_cast<std::int64_t>(x.size()), i.data(), j.data(), B.data()),
            BSBASIS_OK);
  for (std::int64_t chunk : {std::int64_t(1), std::int64_t(7), basis.default_chunk()}) {
    const Design d = basis.evaluate(x.data(), x.size(), nu, bsbasis::RightEnd::closed, chunk);
    for (std::size_t e = 0; e < n; ++e) {
      const bool empty = j[e / k * k] < 0;
      ASSERT_EQ(d.in_range[e / k], !empty) << "x = " << x[e / k];
      ASSERT_EQ(d.i[e], i[e]);
      ASSERT_EQ(d.j[e], empty ? 0 : j[e]);
      ASSERT_TRUE(same_bits(d.B[e], B[e])) << "x = " << x[e / k] << ": " << d.B[e] << " vs " << B[e];
    }
  }
}

TEST(CppExtension, RowsAreTheLibrarysBits) {
  std::mt19937 rng(5);
  for (int order = 1; order <= 6; ++order) {
    const std::vector<double> t = random_knots(order, rng);
    std::vector<double> x(t);
    std::uniform_real_distribution<double> u(-3.0, 5.0);
    for (int m = 0; m < 60; ++m) x.push_back(u(rng));
    x.insert(x.end(), {kNaN, kInf, -kInf, t[t.size() - order]});
    for (Extrapolate mode : {Extrapolate::Zero, Extrapolate::Continue, Extrapolate::Constant,
                             Extrapolate::Linear, Extrapolate::Periodic})
      for (int nu : {0, 1, 2, order}) {
        SCOPED_TRACE("order " + std::to_string(order) + " nu " + std::to_string(nu) + " mode " +
                     std::to_string(static_cast<int>(mode)));
        const KnotBasis basis(t, order, mode);
        expect_library_bits(basis, x, nu, [&](const double *xs, std::int64_t nx, auto... out) {
          return bsbasis_design(t.data(), static_cast<std::int64_t>(t.size()), order,
                                basis.nj(), nu, static_cast<int>(mode), xs, nx, out..., nullptr);
        });
        const bsbasis::UniformBasis uniform(order, order + 5, -2.0, 0.75, mode);
        expect_library_bits(uniform, x, nu, [&](const double *xs, std::int64_t nx, auto... out) {
          return bsbasis_uniform_design(-2.0, 0.75, order + 5, order, nu, static_cast<int>(mode),
                                        xs, nx, out..., nullptr);
        });
      }
    std::vector<double> breaks(t);
    breaks.erase(std::unique(breaks.begin(), breaks.end()), breaks.end());
    const bsbasis::PeriodicBasis periodic(breaks, order);
    expect_library_bits(periodic, x, 1, [&](const double *xs, std::int64_t nx, auto... out) {
      return bsbasis_periodic_design(breaks.data(), static_cast<std::int64_t>(breaks.size()),
                                     order, 1, xs, nx, out..., nullptr);
    });
  }
}

// The quadratic Bernstein basis on [0, 1]: (1-x)^2, 2x(1-x), x^2.
TEST(CppExtension, ExtrapolationModesByHand) {
  const std::vector<double> t{0, 0, 0, 1, 1, 1};
  const auto row = [&](Extrapolate mode, double x, int nu) {
    const Design d = KnotBasis(t, 3, mode).derivatives({x}, nu);
    return d.in_range[0] ? std::vector<double>(d.B.begin(), d.B.end()) : std::vector<double>{};
  };
  using V = std::vector<double>;
  // Continue: the end polynomials; at x = -1 and 2.
  EXPECT_EQ(row(Extrapolate::Continue, -1.0, 0), (V{4, -4, 1}));
  EXPECT_EQ(row(Extrapolate::Continue, 2.0, 0), (V{1, -4, 4}));
  EXPECT_EQ(row(Extrapolate::Continue, 2.0, 1), (V{2, -6, 4}));
  EXPECT_EQ(row(Extrapolate::Continue, 2.0, 2), (V{2, -4, 2}));
  // Constant: the end values, derivatives 0.
  EXPECT_EQ(row(Extrapolate::Constant, -1.0, 0), (V{1, 0, 0}));
  EXPECT_EQ(row(Extrapolate::Constant, 2.0, 0), (V{0, 0, 1}));
  EXPECT_EQ(row(Extrapolate::Constant, kInf, 0), (V{0, 0, 1}));
  EXPECT_EQ(row(Extrapolate::Constant, 2.0, 1), (V{0, 0, 0}));
  // Linear: value + slope * (x - end); slopes (-2, 2, 0) at 0, (0, -2, 2) at 1.
  EXPECT_EQ(row(Extrapolate::Linear, -1.0, 0), (V{3, -2, 0}));
  EXPECT_EQ(row(Extrapolate::Linear, 2.0, 0), (V{0, -2, 3}));
  EXPECT_EQ(row(Extrapolate::Linear, 2.0, 1), (V{0, -2, 2}));
  EXPECT_EQ(row(Extrapolate::Linear, 2.0, 2), (V{0, 0, 0}));
  // Periodic: 1.25 and -0.75 wrap to 0.25.
  EXPECT_EQ(row(Extrapolate::Periodic, 1.25, 0), (V{0.5625, 0.375, 0.0625}));
  EXPECT_EQ(row(Extrapolate::Periodic, -0.75, 0), (V{0.5625, 0.375, 0.0625}));
  // Empty rows: Zero outside, NaN everywhere, +-inf where nothing continues.
  for (Extrapolate mode : {Extrapolate::Zero, Extrapolate::Continue, Extrapolate::Constant,
                           Extrapolate::Linear, Extrapolate::Periodic}) {
    EXPECT_EQ(row(mode, kNaN, 0), V{});
    // The closed right end; Periodic wraps it onto the left end.
    EXPECT_EQ(row(mode, 1.0, 0), mode == Extrapolate::Periodic ? (V{1, 0, 0}) : (V{0, 0, 1}));
  }
  EXPECT_EQ(row(Extrapolate::Zero, 2.0, 0), V{});
  EXPECT_EQ(row(Extrapolate::Zero, -1e-300, 1), V{});
  for (Extrapolate mode : {Extrapolate::Continue, Extrapolate::Linear, Extrapolate::Periodic})
    EXPECT_EQ(row(mode, -kInf, 0), V{});
  // Empty rows in the triplets and in CSR.
  const Design d = KnotBasis(t, 3).values({-1.0, 0.5, kNaN});
  EXPECT_EQ(std::vector<int>(d.j.begin(), d.j.end()), (std::vector<int>{0, 0, 0, 0, 1, 2, 0, 0, 0}));
  EXPECT_EQ(std::vector<double>(d.B.begin(), d.B.end()), (V{0, 0, 0, 0.25, 0.5, 0.25, 0, 0, 0}));
  EXPECT_EQ(d.to_csr<std::int32_t>().indptr, (std::vector<std::int32_t>{0, 0, 3, 3}));
}

template <class F>
std::string message_of(F &&f) {
  try {
    f();
  } catch (const std::invalid_argument &e) {
    return e.what();
  }
  return "(no std::invalid_argument)";
}

TEST(CppExtension, ErrorModeAndHalfOpenRightEnd) {
  const KnotBasis basis({0, 0, 0, 1, 1, 1}, 3, Extrapolate::Error);
  Design d = basis.values({0.0, 1.0, 0.5});
  EXPECT_EQ(d.nnz(), 9);
  EXPECT_EQ(message_of([&] { basis.derivatives({0.5, 1.5}, 2, d); }),
            "bsbasis: x[1] = 1.5: an abscissa lies outside the base interval [0, 1] "
            "(Extrapolate::Error)");
  EXPECT_EQ(d.rows, 0);  // a failed evaluation leaves the Design empty
  EXPECT_EQ(message_of([&] { basis.values({kNaN}); }),
            "bsbasis: x[0] = nan: an abscissa lies outside the base interval [0, 1] "
            "(Extrapolate::Error)");
  EXPECT_EQ(message_of([&] { basis.values({0.5, 1.0}, bsbasis::RightEnd::half_open); }),
            "bsbasis: x[1] = 1 is the right end of the half-open base interval [0, 1) "
            "(Extrapolate::Error)");
  // Beyond the first chunk, the abscissa is still numbered among all of them.
  std::vector<double> x(3000, 0.25);
  x[2500] = -4.0;
  EXPECT_NE(message_of([&] { basis.values(x); }).find("x[2500] = -4"), std::string::npos);
  const bsbasis::UniformBasis uniform(2, 3, Extrapolate::Continue);
  EXPECT_EQ(message_of([&] { uniform.values({1.0}, bsbasis::RightEnd::half_open); }),
            "bsbasis: RightEnd::half_open goes with Extrapolate::Zero or Extrapolate::Error, "
            "not Extrapolate::Continue");
  EXPECT_EQ(bsbasis::UniformBasis(2, 3).values({3.0}, bsbasis::RightEnd::half_open).nnz(), 0);
}

TEST(CppExtension, PeriodicBasisWrapsColumns) {
  // Uniform quadratic on 4 intervals: 0.125, 0.75, 0.125 at mid-interval.
  const bsbasis::PeriodicBasis ring({0, 1, 2, 3, 4}, 3);
  EXPECT_EQ(ring.nj(), 4);
  const Design d = ring.values({0.5, 3.5, -0.5, 7.5});
  EXPECT_EQ(std::vector<int>(d.j.begin(), d.j.begin() + 3), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(std::vector<double>(d.B.begin(), d.B.begin() + 3), (std::vector<double>{0.125, 0.75, 0.125}));
  for (std::size_t p = 1; p < 4; ++p) {  // 3.5, and -0.5 and 7.5 wrapped onto it
    EXPECT_EQ(std::vector<int>(d.j.begin() + 3 * p, d.j.begin() + 3 * p + 3), (std::vector<int>{0, 1, 3}));
    EXPECT_EQ(std::vector<double>(d.B.begin() + 3 * p, d.B.begin() + 3 * p + 3),
              (std::vector<double>{0.75, 0.125, 0.125}));
  }
  EXPECT_EQ(ring.values({kInf, kNaN}).nnz(), 0);

  // Uneven breaks: column c is the sum of the functions c - deg + k*m of the
  // breaks continued periodically, which start at break c - deg + k*m.
  const std::vector<double> u{-1.0, -0.25, 0.5, 0.625, 2.0, 3.5};
  const int m = 5, order = 4;
  const double period = u[m] - u[0];
  const auto ext = [&](int g) {
    const int k = g >= 0 ? g / m : -((-g + m - 1) / m);
    return u[g - k * m] + k * period;
  };
  const bsbasis::PeriodicBasis basis(u, order);
  std::vector<double> x;
  for (int q = 0; q < 50; ++q) x.push_back(u[0] + period * q / 50);
  for (int nu = 0; nu <= order; ++nu)
    expect_rows(basis.derivatives(x, nu), x, [&](std::size_t c, double v) {
      double s = 0.0;
      for (int k = -2; k <= 2; ++k) {
        const int g = static_cast<int>(c) - (order - 1) + k * m;
        std::vector<double> local(order + 1);
        for (int q = 0; q <= order; ++q) local[q] = ext(g + q);
        s += cox_de_boor(local, 0, order, v, nu, false);
      }
      return s;
    });
}

TEST(CppExtension, TensorRowsAreKroneckerProducts) {
  const KnotBasis a({0, 0, 0, 0, 0.5, 1, 1, 1, 1}, 4), b({-1, -1, -1, 0, 2, 3, 3, 3}, 3),
      c({0, 0, 1, 2, 2}, 2);
  const bsbasis::TensorBasis tensor({a, b, c});
  EXPECT_EQ(tensor.cols(), 5 * 5 * 3);
  EXPECT_EQ(tensor.entries_per_row(), 4 * 3 * 2);
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> u(-0.2, 1.1), v(-1.2, 3.2), w(-0.1, 2.1);
  std::vector<double> x;
  for (int p = 0; p < 700; ++p) x.insert(x.end(), {u(rng), v(rng), w(rng)});
  x.insert(x.end(), {1.0, 3.0, 2.0, 0.5, kNaN, 1.0});  // right ends; a NaN
  const std::size_t n = x.size() / 3;
  for (const std::vector<int> &nu : {std::vector<int>{}, std::vector<int>{1, 0, 2}, std::vector<int>{2, 1, 1}}) {
    const auto S = nu.empty() ? tensor.values(x) : tensor.derivatives(x, nu);
    const auto W = nu.empty() ? tensor.values<std::int64_t, std::int64_t>(x)
                              : tensor.derivatives<std::int64_t, std::int64_t>(x, nu);
    ASSERT_EQ(S.rows, static_cast<std::int64_t>(n));
    EXPECT_EQ(S.data, W.data);
    EXPECT_TRUE(std::equal(S.indices.begin(), S.indices.end(), W.indices.begin(), W.indices.end()));
    std::vector<Design> f;
    for (int q = 0; q < 3; ++q) {
      std::vector<double> xq;
      for (std::size_t p = 0; p < n; ++p) xq.push_back(x[3 * p + q]);
      f.push_back(tensor.factors()[q].derivatives(xq, nu.empty() ? 0 : nu[q]));
    }
    int empty = 0;
    for (std::size_t p = 0; p < n; ++p) {
      const bool in = f[0].in_range[p] && f[1].in_range[p] && f[2].in_range[p];
      ASSERT_EQ(S.indptr[p + 1] - S.indptr[p], in ? 24 : 0) << "point " << p;
      empty += !in;
      std::int32_t e = S.indptr[p];
      for (std::size_t q0 = 0; in && q0 < 4; ++q0)
        for (std::size_t q1 = 0; q1 < 3; ++q1)
          for (std::size_t q2 = 0; q2 < 2; ++q2, ++e) {
            const std::size_t e0 = 4 * p + q0, e1 = 3 * p + q1, e2 = 2 * p + q2;
            EXPECT_EQ(S.indices[e], (f[0].j[e0] * 5 + f[1].j[e1]) * 3 + f[2].j[e2]);
            EXPECT_TRUE(same_bits(S.data[e], f[0].B[e0] * f[1].B[e1] * f[2].B[e2])) << "point " << p;
          }
    }
    EXPECT_GT(empty, 100);
    EXPECT_LT(empty, 650);
  }
  // One mode for all factors: theirs, or the one given.
  const KnotBasis held({0, 0, 1, 1}, 2, Extrapolate::Constant);
  EXPECT_EQ(bsbasis::TensorBasis({held, held}).values({5.0, -5.0}).data, (std::vector<double>{0, 0, 1, 0}));
  EXPECT_EQ(bsbasis::TensorBasis({held, c}, Extrapolate::Zero).values({5.0, 1.0}).nnz(), 0);
  EXPECT_EQ(message_of([&] { bsbasis::TensorBasis({held, c}); }),
            "bsbasis: the factors of a TensorBasis extrapolate differently (Extrapolate::Constant "
            "and Extrapolate::Zero); give the mode to the TensorBasis");
  const bsbasis::TensorBasis strict({a, b}, Extrapolate::Error);
  EXPECT_EQ(message_of([&] { strict.values({0.5, 0.5, 0.5, 7.0}); }),
            "bsbasis: x[3] = 7: an abscissa lies outside the base interval [-1, 3] of factor 1 "
            "(Extrapolate::Error)");
  EXPECT_EQ(message_of([&] { tensor.values({0.5, 0.5}); }),
            "bsbasis: x has 2 coordinates, not a multiple of the 3 of a point");
  EXPECT_EQ(message_of([&] { tensor.derivatives(x, {1, 1}); }),
            "bsbasis: nu has 2 derivative orders for 3 factors");
}

TEST(CppExtension, DifferencePenaltyIsDtD) {
  const std::int64_t n = 9;
  for (int d = 1; d <= 4; ++d) {
    // D: rows k of (-1)^(d-s) C(d, s) at column k + s.
    std::vector<std::vector<double>> D(n - d, std::vector<double>(n, 0.0));
    for (std::int64_t k = 0; k < n - d; ++k)
      for (int s = 0, binom = 1; s <= d; binom = binom * (d - s) / (s + 1), ++s)
        D[k][k + s] = ((d - s) % 2 ? -1.0 : 1.0) * binom;
    const bsbasis::Banded P = bsbasis::difference_penalty(n, d);
    ASSERT_EQ(P.u, d);
    ASSERT_EQ(P.ab.size(), static_cast<std::size_t>((d + 1) * n));
    for (std::int64_t r = 0; r < n; ++r)
      for (std::int64_t c = 0; c < n; ++c) {
        double dtd = 0.0;
        for (std::int64_t k = 0; k < n - d; ++k) dtd += D[k][r] * D[k][c];
        ASSERT_EQ(P.at(r, c), dtd) << "order " << d << " at " << r << ", " << c;
        if (r <= c && c - r <= d) {
          ASSERT_EQ(P.ab[(d + r - c) * n + c], dtd);
        }
      }
    for (std::int64_t c = 0; c < d; ++c) EXPECT_EQ(P.ab[c], 0.0);  // the empty corner
  }
  EXPECT_EQ(bsbasis::difference_penalty(2, 3).ab, bsbasis::Buffer<double>(8, 0.0));
  EXPECT_THROW(bsbasis::difference_penalty(0), std::invalid_argument);
  EXPECT_EQ(message_of([] { bsbasis::difference_penalty(5, 5); }),
            "bsbasis: the difference order must lie in 1 .. 4, got 5");
  EXPECT_THROW(bsbasis::difference_penalty(5).at(5, 0), std::out_of_range);
}

TEST(CppExtension, DerivativePenaltyIsTheGramMatrix) {
  // Hats on 0, 1, 2, 3: slopes +-1.
  const bsbasis::Banded G = bsbasis::derivative_penalty(KnotBasis({0, 0, 1, 2, 3, 3}, 2), 1);
  EXPECT_EQ(G.u, 1);
  EXPECT_EQ(std::vector<double>(G.ab.begin(), G.ab.end()), (std::vector<double>{0, -1, -1, -1, 1, 2, 2, 1}));
  // A cubic, m = 2: Simpson's rule on each interval is exact for the
  // products of second derivatives (quadratics there).
  const std::vector<double> t{0, 0, 0, 0, 0.5, 1.25, 1.5, 3, 3, 3, 3};
  const KnotBasis cubic(t, 4);
  const bsbasis::Banded P = bsbasis::derivative_penalty(cubic, 2);
  for (int r = 0; r < cubic.nj(); ++r)
    for (int c = 0; c < cubic.nj(); ++c) {
      double s = 0.0;
      for (int J = 3; J < cubic.nj(); ++J) {
        const double a = t[J], b = t[J + 1], h = b - a;
        const auto f = [&](double v) {
          return cox_de_boor(t, r, 4, v, 2, v == b) * cox_de_boor(t, c, 4, v, 2, v == b);
        };
        if (h > 0) s += h / 6 * (f(a) + 4 * f(0.5 * (a + b)) + f(b));
      }
      ASSERT_NEAR(P.at(r, c), s, 1e-12 * (1.0 + std::fabs(s))) << r << ", " << c;
    }
  EXPECT_EQ(bsbasis::derivative_penalty(cubic, 4).ab, bsbasis::Buffer<double>(4 * 7, 0.0));
  EXPECT_EQ(message_of([&] { bsbasis::derivative_penalty(cubic, -1); }),
            "bsbasis: the derivative order m must be >= 0, got -1");
}

TEST(CppExtension, MakeKnots) {
  std::vector<double> x;
  for (int m = 0; m <= 10; ++m) x.push_back(m);
  using bsbasis::Boundary;
  using bsbasis::KnotKind;
  EXPECT_EQ(bsbasis::make_knots(x, 3, 4), (std::vector<double>{0, 0, 0, 0, 5, 10, 10, 10, 10}));
  EXPECT_EQ(bsbasis::make_knots(x, 3, 4, KnotKind::Uniform, Boundary::Extended),
            (std::vector<double>{-15, -10, -5, 0, 5, 10, 15, 20, 25}));
  EXPECT_EQ(bsbasis::make_knots({0.0, 1.0, 2.0, 3.0, 100.0}, 3, 1, KnotKind::Quantile),
            (std::vector<double>{0, 2, 100}));
  std::vector<double> w(x.size(), 0.0);
  std::fill(w.begin(), w.begin() + 5, 1.0);  // only 0 .. 4 weigh
  EXPECT_EQ(bsbasis::make_knots(x, 3, 2, KnotKind::Uniform, Boundary::Clamped, w),
            (std::vector<double>{0, 0, 2, 4, 4}));
  EXPECT_EQ(KnotBasis(bsbasis::make_knots(x, 6, 4), 4).nj(), 6 + 4 - 2);
  // Refused data: the message names the cause, not only the status.
  EXPECT_EQ(message_of([&] { bsbasis::make_knots({1.0, 1.0}, 3); }),
            "bsbasis: make_knots: needs at least 2 distinct abscissae, got only 1");
  EXPECT_EQ(message_of([&] { bsbasis::make_knots({0.0, kNaN, 1.0}, 3); }),
            "bsbasis: make_knots: x[1] = nan is not finite");
  EXPECT_EQ(message_of([&] { bsbasis::make_knots({-1e308, 1e308}, 3); }),
            "bsbasis: make_knots: the data span [-1e+308, 1e+308], whose length overflows "
            "a double");
  const std::vector<double> two{0.0, 1.0, 2.0}, bad_w{1.0, -1.0, 1.0}, one_w{0.0, 2.0, 0.0};
  EXPECT_EQ(message_of([&] {
              bsbasis::make_knots(two, 3, 2, KnotKind::Uniform, Boundary::Clamped, bad_w);
            }),
            "bsbasis: make_knots: weights[1] = -1; weights must be finite and >= 0");
  EXPECT_EQ(message_of([&] {
              bsbasis::make_knots(two, 3, 2, KnotKind::Quantile, Boundary::Clamped, one_w);
            }),
            "bsbasis: make_knots: needs at least 2 distinct abscissae with positive weight, "
            "got only 1");
  EXPECT_EQ(message_of([&] { bsbasis::make_knots(x, 1); }),
            "bsbasis: make_knots needs n_knots >= 2, got 1");
  EXPECT_EQ(bsbasis::make_knots(x.data(), 5, 3, 2), (std::vector<double>{0, 0, 2, 4, 4}));
  EXPECT_EQ(message_of([&] { bsbasis::make_knots(x, 3, 4, KnotKind::Quantile, Boundary::Clamped, std::vector<double>(3)); }),
            "bsbasis: make_knots: 3 weights for 11 abscissae");
}

TEST(CppExtension, ValidationMessages) {
  const std::vector<double> t{0, 0, 0, 1, 2, 2, 2};
  EXPECT_EQ(message_of([&] { KnotBasis(t, 3).derivatives({0.5}, -1); }),
            "bsbasis: the derivative order nu must be >= 0, got -1");
  EXPECT_EQ(message_of([&] { KnotBasis(t, 3, static_cast<Extrapolate>(9)); }),
            "bsbasis: KnotBasis: unknown extrapolation mode, kind or boundary");
  EXPECT_EQ(message_of([] { bsbasis::UniformBasis(3, 5, kNaN, 1.0); }),
            "bsbasis: origin is nan; it must be finite");
  EXPECT_EQ(message_of([] { bsbasis::UniformBasis(3, 5, 0.0, 0.0); }),
            "bsbasis: spacing is 0; it must be finite and positive");
  EXPECT_EQ(message_of([] { bsbasis::UniformBasis(3, 5, 1e17, 1.0); }),
            "bsbasis: UniformBasis: knots not finite, decreasing, too few, with an empty base "
            "interval, or with spans that overflow");
  EXPECT_EQ(message_of([] { bsbasis::PeriodicBasis({0, 1, 1, 2}, 2); }),
            "bsbasis: breaks must increase strictly, but breaks[2] = 1 <= breaks[1] = 1");
  EXPECT_EQ(message_of([] { bsbasis::PeriodicBasis({0, 1, kInf}, 1); }),
            "bsbasis: breaks[2] is inf; breaks must be finite");
  EXPECT_EQ(message_of([] { bsbasis::PeriodicBasis({0, 1, 2}, 3); }),
            "bsbasis: breaks has 3 entries; a periodic basis of order 3 needs at least order "
            "+ 1 = 4");
  EXPECT_EQ(message_of([] { bsbasis::PeriodicBasis({0, 1}, 0); }),
            "bsbasis: order must be >= 1, got 0");
  EXPECT_EQ(message_of([] { bsbasis::TensorBasis(std::vector<KnotBasis>{}); }),
            "bsbasis: a TensorBasis has 1 .. 64 factors, got 0");
  // A built-in array followed by a count is a pointer and a count.
  const double raw[] = {0.5, 1.0, 1.5, 2.0};
  EXPECT_EQ(KnotBasis(t, 3).derivatives(raw, 3).rows, 3);
  EXPECT_EQ(KnotBasis(t, 3).derivatives(raw, 3, 2).B, KnotBasis(t, 3).derivatives({0.5, 1.0, 1.5}, 2).B);
}

TEST(CppExtension, NaturalBasisRowsAndDense) {
  const bsbasis::NaturalBasis nb(0, 1, {0.3, 0.6});
  EXPECT_EQ(nb.cols(), 3);
  const std::vector<double> x = {-0.25, 0.1, 0.5, 1.5};
  const bsbasis::NaturalRows r = nb.rows(x);
  ASSERT_EQ(r.rows, 4);
  // The rows are the library's bits, and dense() places them.
  std::vector<std::int32_t> j(x.size() * BSBASIS_NATURAL_WIDTH);
  std::vector<double> B(j.size());
  ASSERT_EQ(bsbasis_natural_design(0, 1, std::vector<double>{0.3, 0.6}.data(), 2, 0, 0, x.data(),
                                   4, nullptr, j.data(), B.data(), nullptr),
            BSBASIS_OK);
  EXPECT_EQ(r.j, j);
  EXPECT_EQ(r.B, B);
  const std::vector<double> d = r.dense();
  // splines::ns(x, knots = c(0.3, 0.6), Boundary.knots = c(0, 1)), rows 1 and 4.
  EXPECT_NEAR(d[0], 0.23186944788008418, 1e-14);
  EXPECT_NEAR(d[2], 0.4057715337901473, 1e-14);
  EXPECT_NEAR(d[9], -1.602150537634409, 1e-14);
  EXPECT_NEAR(d[11], 1.9462365591397841, 1e-14);
  // Second derivatives vanish at the boundary knots.
  for (double v : nb.rows({0.0, 1.0}, 2).dense()) EXPECT_NEAR(v, 0.0, 1e-9);
  EXPECT_EQ(bsbasis::NaturalBasis(0, 1, {}, true).cols(), 2);
  EXPECT_EQ(message_of([] { bsbasis::NaturalBasis(1, 0); }),
            "bsbasis: the boundary knots must be finite with lo < hi, got [1, 0]");
  EXPECT_EQ(message_of([] { bsbasis::NaturalBasis(0, 1, {0.5, 1.0}); }),
            "bsbasis: knots[1] = 1 must lie strictly between the boundary knots 0 and 1");
  EXPECT_EQ(message_of([] { bsbasis::NaturalBasis(0, 1, {0.75, 0.5}); }),
            "bsbasis: knots must be non-decreasing, but knots[1] = 0.5 < knots[0] = 0.75");
  EXPECT_EQ(message_of([&] { nb.rows(x, -1); }),
            "bsbasis: the derivative order nu must be >= 0, got -1");
}

}  // namespace

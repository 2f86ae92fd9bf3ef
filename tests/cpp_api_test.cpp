// The C++ API against the C kernels: bit-equal values, derivatives and rows,
// the in-range mask, chunked kernel calls, input forms and validation.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "bsbasis.hpp"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Raw {
  std::vector<int> i, j;
  std::vector<double> B;
};

// The host pipeline written out against the C entry points.
Raw raw_knot(std::vector<double> t, std::vector<double> x, int order, int nj,
             bool deriv) {
  const int nx = static_cast<int>(x.size()), nt = static_cast<int>(t.size());
  Raw r{std::vector<int>(x.size() * order), std::vector<int>(x.size() * order),
        std::vector<double>(x.size() * order, 0.0)};
  blossom_grid(t.data(), nt, x.data(), nx, r.i.data(), r.j.data(), r.B.data(),
               nx * order, deriv ? order - 1 : order, order, nj);
  if (deriv)
    deriv_grid(t.data(), nt, r.i.data(), r.j.data(), r.B.data(), nx * order, nx,
               order);
  return r;
}

Raw raw_uniform(std::vector<double> x, int order, int nj) {
  const int nx = static_cast<int>(x.size());
  Raw r{std::vector<int>(x.size() * order), std::vector<int>(x.size() * order),
        std::vector<double>(x.size() * order, 0.0)};
  blossom(x.data(), nx, r.i.data(), r.j.data(), r.B.data(), nx * order, order,
          order, nj);
  return r;
}

Raw raw_of(const bsbasis::Design &d) {
  return Raw{{d.i.begin(), d.i.end()}, {d.j.begin(), d.j.end()}, {d.B.begin(), d.B.end()}};
}

// Rows p with skip(p) false must match the raw triplets bit for bit.
template <class Skip>
void expect_rows_equal(const bsbasis::Design &d, const Raw &r, Skip skip) {
  ASSERT_EQ(d.B.size(), r.B.size());
  const std::size_t k = static_cast<std::size_t>(d.order);
  int compared = 0;
  for (std::size_t e = 0; e < r.B.size(); ++e) {
    if (skip(e / k)) continue;
    ++compared;
    ASSERT_EQ(d.i[e], r.i[e]) << "entry " << e;
    ASSERT_EQ(d.j[e], r.j[e]) << "entry " << e;
    ASSERT_TRUE(same_bits(d.B[e], r.B[e]))
        << "entry " << e << ": " << d.B[e] << " vs " << r.B[e];
  }
  EXPECT_GT(compared, 0);
}

// Largest m with t[m] <= x, -1 below t[0]; nt for NaN.
int interval(const std::vector<double> &t, double x) {
  if (std::isnan(x)) return static_cast<int>(t.size());
  int m = -1;
  while (m + 1 < static_cast<int>(t.size()) && t[m + 1] <= x) ++m;
  return m;
}

struct KnotCase {
  std::vector<double> t;
  int order;
  int nj;
};

std::vector<KnotCase> knot_cases() {
  std::vector<KnotCase> cases;
  cases.push_back({{0, 0, 0, 0, 1, 2, 3, 3, 3, 3}, 4, 6});
  cases.push_back({{0, 0, 0, 0, 1, 2, 3, 3, 3, 3}, 4, 4});
  // Repeated interior knots, uneven spacing, every order from 1 to 5.
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-2.0, 5.0);
  for (int order = 1; order <= 5; ++order) {
    std::vector<double> t(14 + order);
    for (double &v : t) v = u(rng);
    std::sort(t.begin(), t.end());
    t[6] = t[5];
    t[9] = t[8] = t[7];
    const int full = static_cast<int>(t.size()) - order;
    cases.push_back({t, order, full});
    cases.push_back({t, order, std::max(1, full - 3)});
    cases.push_back({t, order, 8});  // t[8] is a triple interior knot
  }
  return cases;
}

std::vector<double> abscissae(const std::vector<double> &t, int nj) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(t.front() - 1.0, t.back() + 1.0);
  std::vector<double> x(300);
  for (double &v : x) v = u(rng);
  for (double v : t) x.push_back(v);  // every knot, the right end t[nj] too
  x.push_back(t[nj]);
  x.insert(x.end(), {kNaN, kInf, -kInf, std::nextafter(t[nj], -kInf)});
  return x;
}

TEST(CppApi, KnotBasisMatchesKernelsBitForBit) {
  for (const KnotCase &c : knot_cases()) {
    SCOPED_TRACE("order " + std::to_string(c.order) + " nj " + std::to_string(c.nj));
    const bsbasis::KnotBasis basis(c.t, c.order, c.nj);
    const std::vector<double> x = abscissae(c.t, c.nj);
    const double right = c.t[c.nj];
    for (bool deriv : {false, true}) {
      const Raw r = raw_knot(c.t, x, c.order, c.nj, deriv);
      const auto eval = [&](bsbasis::RightEnd end) {
        return deriv ? basis.derivatives(x, end) : basis.values(x, end);
      };
      const bsbasis::Design open = eval(bsbasis::RightEnd::half_open);
      EXPECT_EQ(open.rows, static_cast<std::int64_t>(x.size()));
      EXPECT_EQ(open.cols, c.nj);
      EXPECT_EQ(open.order, c.order);
      expect_rows_equal(open, r, [](std::size_t) { return false; });
      const bsbasis::Design closed = eval(bsbasis::RightEnd::closed);
      expect_rows_equal(closed, r, [&](std::size_t p) { return x[p] == right; });

      // The mask: the kernels' interval rule, plus the right end when closed
      // and the base interval is not empty.
      for (std::size_t p = 0; p < x.size(); ++p) {
        const int J = interval(c.t, x[p]);
        const bool in = J >= c.order - 1 && J < c.nj;
        EXPECT_EQ(open.in_range[p], in) << "x = " << x[p];
        const bool end = x[p] == right && c.t[c.order - 1] < right;
        EXPECT_EQ(closed.in_range[p], in || end) << "x = " << x[p];
      }
    }
  }
}

TEST(CppApi, UniformBasisMatchesKernels) {
  for (int order = 1; order <= 5; ++order) {
    const int nj = order + 6;
    const bsbasis::UniformBasis basis(order, nj);
    std::vector<double> x;
    for (double v = -1.5; v <= nj + 1.0; v += 0.25) x.push_back(v);
    x.insert(x.end(), {kNaN, kInf, -kInf, double(nj), std::nextafter(double(nj), 0.0)});
    const Raw r = raw_uniform(x, order, nj);
    expect_rows_equal(basis.values(x, bsbasis::RightEnd::half_open), r,
                      [](std::size_t) { return false; });
    expect_rows_equal(basis.values(x), r, [&](std::size_t p) { return x[p] == nj; });

    // Derivatives: the knot derivative kernel on the integer knots, which
    // the knot basis on those knots runs too.
    std::vector<double> t(nj + order);
    for (std::size_t m = 0; m < t.size(); ++m) t[m] = double(m);
    const bsbasis::KnotBasis knots(t, order, nj);
    const Raw rd = raw_knot(t, x, order, nj, true);
    expect_rows_equal(basis.derivatives(x, bsbasis::RightEnd::half_open), rd,
                      [](std::size_t) { return false; });
    const bsbasis::Design du = basis.derivatives(x), dk = knots.derivatives(x);
    for (std::size_t p = 0; p < x.size(); ++p) {
      ASSERT_EQ(du.in_range[p], dk.in_range[p]);
      for (int q = 0; q < order; ++q) {
        const std::size_t e = p * order + q;
        ASSERT_EQ(du.j[e], dk.j[e]);
        EXPECT_NEAR(du.B[e], dk.B[e], 1e-14) << "x = " << x[p];
      }
    }
  }
}

TEST(CppApi, ChunkedCallsMatchOneCall) {
  const KnotCase c = knot_cases()[4];
  const bsbasis::KnotBasis basis(c.t, c.order, c.nj);
  const bsbasis::UniformBasis uniform(3, 9);
  const std::vector<double> x = abscissae(c.t, c.nj);
  for (bool deriv : {false, true}) {
    for (auto end : {bsbasis::RightEnd::closed, bsbasis::RightEnd::half_open}) {
      const bsbasis::Design one = basis.evaluate(x.data(), x.size(), deriv, end, 1 << 20);
      const bsbasis::Design many = basis.evaluate(x.data(), x.size(), deriv, end, 7);
      expect_rows_equal(many, raw_of(one), [](std::size_t) { return false; });
      EXPECT_EQ(many.in_range, one.in_range);
      const bsbasis::Design u1 = uniform.evaluate(x.data(), x.size(), deriv, end, 1 << 20);
      const bsbasis::Design u7 = uniform.evaluate(x.data(), x.size(), deriv, end, 7);
      expect_rows_equal(u7, raw_of(u1), [](std::size_t) { return false; });
      EXPECT_EQ(u7.in_range, u1.in_range);
    }
  }
}

// The uniform derivatives as they were formed on the explicit integer knots
// 0 .. nj + order - 1: the uniform kernel stopped one level short, then the
// knot derivative kernel.  The closed right end takes the library's row
// there (its left limits), as bsbasis_uniform_design forms it.
Raw full_knot_derivatives(std::vector<double> x, int order, int nj,
                          bsbasis::RightEnd end) {
  std::vector<double> t(static_cast<std::size_t>(nj) + order);
  for (std::size_t m = 0; m < t.size(); ++m) t[m] = double(m);
  const int nx = static_cast<int>(x.size()), n = nx * order;
  Raw r{std::vector<int>(n), std::vector<int>(n), std::vector<double>(n, 0.0)};
  blossom(x.data(), nx, r.i.data(), r.j.data(), r.B.data(), n, order - 1, order, nj);
  deriv_grid(t.data(), static_cast<int>(t.size()), r.i.data(), r.j.data(), r.B.data(), n,
             nx, order);
  if (end == bsbasis::RightEnd::closed) {
    const double right = nj;
    std::vector<std::int32_t> j(order);
    std::vector<double> B(order);
    EXPECT_EQ(bsbasis_uniform_design(0.0, 1.0, nj, order, 1, BSBASIS_EXTRAPOLATE_ZERO, &right,
                                     1, nullptr, j.data(), B.data(), nullptr),
              BSBASIS_OK);
    for (std::size_t p = 0; p < x.size(); ++p) {
      if (x[p] != nj) continue;
      for (int q = 0; q < order; ++q) {
        r.j[p * order + q] = j[q];
        r.B[p * order + q] = B[q];
      }
    }
  }
  return r;
}

TEST(CppApi, UniformDerivativesAreTheFullKnotBits) {
  for (int order = 1; order <= 7; ++order) {
    SCOPED_TRACE("order " + std::to_string(order));
    const int nj = 3000 + order;
    const bsbasis::UniformBasis basis(order, nj);
    // Both ends and their neighbourhoods, every interval, out of range on
    // both sides: more abscissae than one call of the derivative kernel takes.
    std::vector<double> x;
    for (double v = -2.0; v <= nj + 2.0; v += 0.375) x.push_back(v);
    for (double e : {double(order - 1), double(nj)})
      x.insert(x.end(), {e, std::nextafter(e, -kInf), std::nextafter(e, kInf)});
    x.insert(x.end(), {kNaN, kInf, -kInf, 1e300, -1e300});
    for (auto end : {bsbasis::RightEnd::half_open, bsbasis::RightEnd::closed}) {
      const Raw want = full_knot_derivatives(x, order, nj, end);
      expect_rows_equal(basis.derivatives(x, end), want, [](std::size_t) { return false; });
      // All abscissae in one call: the derivative kernel in several calls.
      expect_rows_equal(basis.evaluate(x.data(), x.size(), true, end, 1 << 20), want,
                        [](std::size_t) { return false; });
    }
  }
}

// Into a Design that already holds other entries (junk of every kind), the
// results are those of a fresh one: no entry is left from before.
TEST(CppApi, ReusedDesignHoldsTheFreshBits) {
  const auto poisoned = [](std::size_t entries, std::size_t rows) {
    bsbasis::Design d;
    d.i.assign(entries, -7);
    d.j.assign(entries, 123456);
    d.B.assign(entries, kNaN);
    d.in_range.assign(rows, 9);
    return d;
  };
  for (const KnotCase &c : knot_cases()) {
    SCOPED_TRACE("order " + std::to_string(c.order) + " nj " + std::to_string(c.nj));
    const bsbasis::KnotBasis basis(c.t, c.order, c.nj);
    const bsbasis::UniformBasis uniform(c.order, c.order + 30);
    std::vector<double> x;
    while (x.size() < 5000) {  // several chunks
      const std::vector<double> a = abscissae(c.t, c.nj);
      x.insert(x.end(), a.begin(), a.end());
      for (double v : a) x.push_back(6.0 * v);  // the uniform basis's range
    }
    for (bool deriv : {false, true}) {
      for (auto end : {bsbasis::RightEnd::closed, bsbasis::RightEnd::half_open}) {
        // The storage is kept when it suffices; a smaller x reuses a prefix.
        for (std::size_t n : {x.size(), x.size() / 3}) {
          bsbasis::Design d = poisoned(x.size() * 6, x.size());
          const double *storage = d.B.data();
          const bsbasis::Design want = basis.evaluate(x.data(), n, deriv, end, 1 << 20);
          basis.evaluate(x.data(), n, deriv, end, basis.default_chunk(), d);
          EXPECT_EQ(d.B.data(), storage);
          EXPECT_EQ(d.rows, want.rows);
          EXPECT_EQ(d.in_range, want.in_range);
          expect_rows_equal(d, raw_of(want), [](std::size_t) { return false; });

          bsbasis::Design u = poisoned(x.size() * 6, x.size());
          deriv ? uniform.derivatives(x.data(), n, u, end) : uniform.values(x.data(), n, u, end);
          const bsbasis::Design uw = uniform.evaluate(x.data(), n, deriv, end, 1 << 20);
          EXPECT_EQ(u.in_range, uw.in_range);
          expect_rows_equal(u, raw_of(uw), [](std::size_t) { return false; });
        }
      }
    }
  }
  // Growing past the storage, and the range and list forms of the overload.
  const KnotCase c = knot_cases()[0];
  const bsbasis::KnotBasis basis(c.t, c.order, c.nj);
  const std::vector<double> x = abscissae(c.t, c.nj);
  bsbasis::Design d = poisoned(8, 2);
  EXPECT_EQ(&basis.values(x, d), &d);
  expect_rows_equal(d, raw_of(basis.values(x)), [](std::size_t) { return false; });
  EXPECT_EQ(&basis.derivatives({c.t[c.order], c.t[c.nj]}, d), &d);
  EXPECT_EQ(d.rows, 2);
  expect_rows_equal(d, raw_of(basis.derivatives({c.t[c.order], c.t[c.nj]})),
                    [](std::size_t) { return false; });
}

TEST(CppApi, InputFormsAgree) {
  const bsbasis::KnotBasis basis({0, 0, 0, 1, 2, 2, 2}, 3);
  const std::array<double, 4> a{0.0, 0.5, 1.5, 2.0};
  const std::vector<double> v(a.begin(), a.end());
  const double raw[] = {0.0, 0.5, 1.5, 2.0};
  const bsbasis::Design ref = basis.values(v);
  for (const bsbasis::Design &d :
       {basis.values(a), basis.values(raw), basis.values(raw, 4),
        basis.values({0.0, 0.5, 1.5, 2.0})}) {
    EXPECT_EQ(d.j, ref.j);
    EXPECT_EQ(d.B, ref.B);
  }
  EXPECT_EQ(basis.values(v.data(), 0).rows, 0);
}

TEST(CppApi, TooManyAbscissaeThrowsBeforeReading) {
  // Rows are int: 2^31 abscissae cannot be numbered.  The length check comes
  // before anything is allocated or read.
  const double one = 1.0;
  const std::size_t n = static_cast<std::size_t>(INT_MAX) + 1;
  const bsbasis::KnotBasis basis({0, 1, 2, 3}, 2);
  const bsbasis::UniformBasis uniform(2, 4);
  EXPECT_THROW(basis.values(&one, n), std::length_error);
  EXPECT_THROW(basis.derivatives(&one, n), std::length_error);
  EXPECT_THROW(uniform.values(&one, n), std::length_error);
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

TEST(CppApi, ValidationMessagesNameTheArgument) {
  using bsbasis::KnotBasis;
  using bsbasis::UniformBasis;
  const std::vector<double> t{0, 0, 1, 2, 3, 3};
  EXPECT_EQ(message_of([&] { KnotBasis(t, 0); }),
            "bsbasis: order must be >= 1, got 0");
  EXPECT_EQ(message_of([&] { KnotBasis({0, 1, kNaN, 3}, 2); }),
            "bsbasis: knots[2] is nan; knots must be finite");
  EXPECT_EQ(message_of([&] { KnotBasis({0, 1, 2, kInf}, 2); }),
            "bsbasis: knots[3] is inf; knots must be finite");
  EXPECT_EQ(message_of([&] { KnotBasis({0, 1, 0.5, 3}, 2); }),
            "bsbasis: knots must be non-decreasing, but knots[2] = 0.5 < knots[1] = 1");
  EXPECT_EQ(message_of([&] { KnotBasis({0, 0, 1, 1, 2, 2, 3}, 4); }),
            "bsbasis: knots has 7 entries; order 4 needs at least 2 * order = 8");
  EXPECT_EQ(message_of([&] { KnotBasis(t, 2, 1); }),
            "bsbasis: nj must lie in order .. nt - order = 2 .. 4 for 6 knots of order 2, got 1");
  EXPECT_EQ(message_of([&] { KnotBasis(t, 2, 5); }),
            "bsbasis: nj must lie in order .. nt - order = 2 .. 4 for 6 knots of order 2, got 5");
  EXPECT_EQ(message_of([&] { UniformBasis(-1, 5); }),
            "bsbasis: order must be >= 1, got -1");
  EXPECT_EQ(message_of([&] { UniformBasis(4, 3); }),
            "bsbasis: nj must lie in order .. INT_MAX - order = 4 .. 2147483643, got 3");
  EXPECT_EQ(message_of([&] { UniformBasis(4, INT_MAX - 3); }),
            "bsbasis: nj must lie in order .. INT_MAX - order = 4 .. 2147483643, got 2147483644");

  // The limits themselves are accepted, and nj defaults to the full basis.
  EXPECT_EQ(KnotBasis(t, 2).nj(), 4);
  EXPECT_EQ(KnotBasis(t, 2, 2).nj(), 2);
  EXPECT_EQ(KnotBasis({0, 1}, 1).nj(), 1);
  EXPECT_EQ(KnotBasis({0, 0, 0, 1, 1, 1}, 3).nj(), 3);
  EXPECT_EQ(UniformBasis(4, 4).nj(), 4);
  EXPECT_EQ(UniformBasis(1, INT_MAX - 1).nj(), INT_MAX - 1);
}

// Knots whose base interval is empty or whose bound nj is below the order
// leave no row in range: refused, by the same rule as the Python host.
TEST(CppApi, EmptyBaseIntervalIsRefused) {
  using bsbasis::KnotBasis;
  EXPECT_EQ(message_of([] { KnotBasis({1, 1, 1, 1, 1, 1, 1, 1}, 4); }),
            "bsbasis: the base interval [knots[3], knots[4]] = [1, 1] is empty; "
            "it needs knots[order - 1] < knots[nj]");
  const std::vector<double> t{0, 0, 0, 0, 1, 2, 3, 3, 3, 3};
  EXPECT_EQ(message_of([&] { KnotBasis(t, 4, 1); }),
            "bsbasis: nj must lie in order .. nt - order = 4 .. 6 for 10 knots of "
            "order 4, got 1");
  // A non-empty base interval after a run of equal knots is fine; equal
  // knots that close it are not.
  EXPECT_EQ(KnotBasis({0, 0, 0, 0, 0, 1, 1, 1, 1}, 4).right(), 1.0);
  EXPECT_EQ(KnotBasis({0, 0, 0, 2, 2, 2, 3, 4}, 3, 3).right(), 2.0);
  EXPECT_EQ(message_of([] { KnotBasis({0, 1, 1, 1, 1, 2}, 3, 3); }),
            "bsbasis: the base interval [knots[2], knots[3]] = [1, 1] is empty; "
            "it needs knots[order - 1] < knots[nj]");
}

// Differences of knots that a double cannot hold or invert would give wrong
// values or NaN: refused when the basis is built.
TEST(CppApi, KnotSpansThatOverflowAreRefused) {
  using bsbasis::KnotBasis;
  EXPECT_EQ(message_of([] { KnotBasis({-1e308, -1e308, 1e308, 1e308}, 2); }),
            "bsbasis: the span knots[3] - knots[0] = 1e+308 - -1e+308 overflows a double");
  const double tiny = std::numeric_limits<double>::denorm_min();
  EXPECT_EQ(message_of([&] { KnotBasis({0, 0, tiny, 1, 1}, 2); }),
            "bsbasis: knots[2] - knots[1] = 4.9406564584124654e-324 is too small: "
            "its reciprocal overflows");
  EXPECT_EQ(message_of([] { KnotBasis({0, 0, 0, 1e-310, 1, 1, 1}, 3); }),
            "bsbasis: knots[3] - knots[2] = 9.9999999999999694e-311 is too small: "
            "its reciprocal overflows");

  // Just inside both limits: every value finite, rows summing to one.
  const double wide = std::numeric_limits<double>::max() / 2;
  const double small = 2.0 / std::numeric_limits<double>::max();
  for (const std::vector<double> &t :
       {std::vector<double>{-wide, -wide, wide, wide},
        std::vector<double>{0, 0, small, 1, 1}}) {
    const KnotBasis basis(t, 2);
    const std::vector<double> x{t[1], t[2], 0.5 * t[2], t[3]};
    const bsbasis::Design d = basis.values(x);
    for (std::size_t p = 0; p < x.size(); ++p) {
      ASSERT_TRUE(d.in_range[p]) << "x = " << x[p];
      const double s = d.B[2 * p] + d.B[2 * p + 1];
      EXPECT_NEAR(s, 1.0, 1e-15) << "x = " << x[p];
    }
    const bsbasis::Design dd = basis.derivatives(x);
    for (double v : dd.B) EXPECT_FALSE(std::isnan(v));
  }
}

}  // namespace

// The extension API's evaluations (bsbasis_design, bsbasis_uniform_design,
// bsbasis_periodic_design, bsbasis_tensor_design) against the scalar
// reference of design_reference.hpp, bit for bit, on every path; and the
// contracts of bsbasis.h: empty rows, rows of i, nothing written outside the
// arrays, a status for every bad argument.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "eval/design.hpp"
#include "design_reference.hpp"
#include "helpers.hpp"
#include "paths.hpp"

using namespace testing_bsbasis;

namespace {

constexpr int kCalls = 600;
constexpr int kPad = 8;
constexpr int32_t kIdle = -77;
constexpr double kIdleB = -77.0;

bool same(double a, double b) { return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b)); }

// Output arrays of n entries with guards on both sides; the entries start
// at a fill that the call must overwrite (NaN by default), columns 32 or
// 64 bits wide.
struct Out {
  size_t n;
  std::vector<int32_t> i, j;
  std::vector<int64_t> j64;
  std::vector<double> B;
  int64_t nempty = -5;
  int status = 99;
  explicit Out(size_t n_, double fill = kNaN)
      : n(n_), i(n_ + 2 * kPad, kIdle), j(n_ + 2 * kPad, kIdle), j64(n_ + 2 * kPad, kIdle),
        B(n_ + 2 * kPad, kIdleB) {
    for (size_t e = 0; e < n; ++e) B[kPad + e] = fill;
  }
  int32_t *pi() { return i.data() + kPad; }
  int32_t *pj() { return j.data() + kPad; }
  int64_t *pj64() { return j64.data() + kPad; }
  double *pB() { return B.data() + kPad; }
  int64_t col(size_t e, bool wide) const { return wide ? j64[kPad + e] : j[kPad + e]; }
  bool guards_intact() const {
    for (int k = 0; k < kPad; ++k)
      for (size_t e : {size_t(k), n + kPad + k})
        if (i[e] != kIdle || j[e] != kIdle || j64[e] != kIdle || B[e] != kIdleB) return false;
    return true;
  }
  // Nothing written at all: the state of a fresh Out with fill `fill`.
  bool untouched(double fill = kNaN) const {
    for (size_t e = kPad; e < n + kPad; ++e)
      if (i[e] != kIdle || j[e] != kIdle || j64[e] != kIdle || !same(B[e], fill)) return false;
    return guards_intact() && nempty == -5;
  }
};

// How a call is made: i given or NULL, B filled with NaN or zeros, nempty
// given or NULL.
struct Way {
  bool with_i;
  double fill;
  bool with_nempty;
};

Way some_way(std::mt19937_64 &rng) {
  return {rng() % 4 != 0, (rng() & 1) ? kNaN : 0.0, rng() % 4 != 0};
}

const Way kPlain = {true, 0.0, true};

// got against want: the status; every row, empty ones with column -1 and
// value 0, the others with want's columns (increasing, below ncols) and
// the bits of want's values (NaN as NaN); the rows of i where given, i
// untouched where not; *nempty where given; the guards.  Empty when all
// agree.
std::string differences(const ref::Rows &want, const Out &got, int64_t ncols, Way w,
                        bool wide = false) {
  const bool with_i = w.with_i;
  std::ostringstream s;
  if (!got.guards_intact()) return "written outside the arrays";
  if (got.status != want.status) {
    s << "status " << got.status << " want " << want.status;
    return s.str();
  }
  if (want.status != BSBASIS_OK) return "";
  const int E = want.order;
  for (size_t p = 0; p < want.empty.size(); ++p)
    for (int q = 0; q < E; ++q) {
      const size_t e = p * E + q;
      const int32_t row = got.i[kPad + e];
      if (with_i ? row != int32_t(p) : row != kIdle) {
        s << "row " << row << " at " << p << "/" << q;
        return s.str();
      }
      const int64_t c = got.col(e, wide);
      const double v = got.B[kPad + e];
      if (want.empty[p]) {
        if (c != -1 || !(v == 0.0)) {
          s << "empty row " << p << " pos " << q << ": (" << c << ", " << v << ")";
          return s.str();
        }
        continue;
      }
      if (c != want.j[e] || !same(v, want.B[e])) {
        s << "row " << p << " pos " << q << ": got (" << c << ", " << v << ") want ("
          << want.j[e] << ", " << want.B[e] << ")";
        return s.str();
      }
      if (c < 0 || c >= ncols || (q > 0 && !(c > got.col(e - 1, wide)))) {
        s << "row " << p << " pos " << q << ": column " << c << " out of order";
        return s.str();
      }
    }
  if (w.with_nempty && got.nempty != want.nempty) {
    s << "nempty " << got.nempty << " want " << want.nempty;
    return s.str();
  }
  return "";
}

// ----------------------------------------------------- calls into arrays

Out lib_design(const std::vector<double> &t, int order, int nj, int nu, int mode,
               const std::vector<double> &x, Way w) {
  Out o(x.size() * order, w.fill);
  o.status = bsbasis_design(t.data(), int64_t(t.size()), order, nj, nu, mode, x.data(),
                            int64_t(x.size()), w.with_i ? o.pi() : nullptr, o.pj(), o.pB(),
                            w.with_nempty ? &o.nempty : nullptr);
  return o;
}

Out lib_uniform(double origin, double spacing, int64_t n, int order, int nu, int mode,
                const std::vector<double> &x, Way w) {
  Out o(x.size() * order, w.fill);
  o.status = bsbasis_uniform_design(origin, spacing, n, order, nu, mode, x.data(),
                                    int64_t(x.size()), w.with_i ? o.pi() : nullptr, o.pj(),
                                    o.pB(), w.with_nempty ? &o.nempty : nullptr);
  return o;
}

Out lib_periodic(const std::vector<double> &u, int order, int nu, const std::vector<double> &x,
                 Way w) {
  Out o(x.size() * order, w.fill);
  o.status = bsbasis_periodic_design(u.data(), int64_t(u.size()), order, nu, x.data(),
                                     int64_t(x.size()), w.with_i ? o.pi() : nullptr, o.pj(),
                                     o.pB(), w.with_nempty ? &o.nempty : nullptr);
  return o;
}

// ------------------------------------------------------------- inputs

// One abscissa to a few tiles: small counts, and counts on either side of
// one and two sub-tiles of this order.
size_t some_count(std::mt19937_64 &rng, int order) {
  const size_t S = size_t(bsbasis::design_sub_tile(order));
  const size_t tiles[] = {S - 1, S, S + 1, 2 * S - 1, 2 * S, 2 * S + 1};
  return (rng() % 6) ? 1 + rng() % 40 : tiles[rng() % 6];
}

// Abscissae about the knots `near` and the base interval [lo, hi]: the
// stress set of helpers.hpp plus the ends and one ulp either side of them;
// under ERROR only those in [lo, hi]; sorted or not.
std::vector<double> abscissae(std::mt19937_64 &rng, const std::vector<double> &near, double lo,
                              double hi, size_t n, int mode) {
  std::vector<double> x = stress_abscissae(rng, near, n);
  const double ends[] = {lo, hi, std::nextafter(lo, -kInf), std::nextafter(lo, kInf),
                         std::nextafter(hi, -kInf), std::nextafter(hi, kInf)};
  for (double &v : x) {
    if (rng() % 5 == 0) v = ends[rng() % 6];
    if (mode == BSBASIS_EXTRAPOLATE_ERROR && !(v >= lo && v <= hi)) v = (rng() & 1) ? lo : hi;
  }
  if (rng() & 1) sort_abscissae(x);
  return x;
}

// Random knots of the four kinds of helpers.hpp, now and then many of them
// (spans formed at each use rather than tabled) or with a gap of DBL_MIN
// (a reciprocal near DBL_MAX).
std::vector<double> some_knots(std::mt19937_64 &rng, int order, int call) {
  const int intervals = call % 23 == 0 ? 3000 : 1 + int(rng() % 12);
  std::vector<double> t = random_knots(rng, order, call % 4, intervals);
  if (call % 7 == 0) {
    const double at = t[rng() % t.size()];
    for (double &v : t) v = v - at;
    t.push_back(DBL_MIN);
    std::sort(t.begin(), t.end());
  }
  return t;
}

class DesignPaths : public ::testing::TestWithParam<Path> {
 protected:
  UsePath use_{GetParam()};
};

// Every order to 8 and some beyond, every derivative order to order + 1,
// every mode, on knots of every kind, repeated ones included.
TEST_P(DesignPaths, KnotsMatchReference) {
  std::mt19937_64 rng(101);
  int compared = 0;
  for (int call = 0; call < kCalls; ++call) {
    const int order = call % 50 == 49 ? 9 + int(rng() % 12) : 1 + int(rng() % 8);
    const int nu = int(rng() % (order + 2));
    const int mode = int(rng() % 6);
    const std::vector<double> t = some_knots(rng, order, call);
    const int nt = int(t.size());
    if (nt < 2 * order) continue;
    const int nj = (rng() & 1) ? nt - order : order + int(rng() % (nt - 2 * order + 1));
    const std::vector<double> x =
        abscissae(rng, t, t[order - 1], t[nj], some_count(rng, order), mode);
    const Way w = some_way(rng);
    const Out got = lib_design(t, order, nj, nu, mode, x, w);
    SCOPED_TRACE("order " + std::to_string(order) + " nu " + std::to_string(nu) + " mode " +
                 std::to_string(mode) + " nt " + std::to_string(nt) + " nj " +
                 std::to_string(nj) + " nx " + std::to_string(x.size()));
    if (!ref::usable_knots(t, order, nj)) {
      ASSERT_EQ(got.status, BSBASIS_ERROR_KNOTS);
      continue;
    }
    ASSERT_EQ(differences(ref::design(t, order, nj, nu, mode, x), got, nj, w), "");
    ++compared;
  }
  EXPECT_GT(compared, kCalls / 2);
}

// Clamped knots with a further repeated knot at each end of the base
// interval: the end intervals t[order-1] .. t[order] and t[nj-1] .. t[nj]
// are empty, so the end pieces and the limit at hi come from their
// neighbours.
TEST_P(DesignPaths, EmptyEndIntervals) {
  for (int order = 2; order <= 6; ++order)
    for (int nu = 0; nu <= order; ++nu)
      for (int mode = 1; mode < 6; ++mode) {
        std::vector<double> t(order + 1, 0.0);
        for (int m = 1; m <= 4; ++m) t.push_back(m * 0.75);
        t.insert(t.end(), order, 3.0);
        const int nt = int(t.size()), nj = nt - order;
        ASSERT_EQ(t[nj - 1], t[nj]);
        const std::vector<double> x = {-1.0, 0.0, 0.5, 2.5, 3.0, 3.5, 7.0};
        SCOPED_TRACE("order " + std::to_string(order) + " nu " + std::to_string(nu) +
                     " mode " + std::to_string(mode));
        EXPECT_EQ(differences(ref::design(t, order, nj, nu, mode, x),
                              lib_design(t, order, nj, nu, mode, x, kPlain), nj, kPlain),
                  "");
      }
}

// The row at the right end hi = t[nj] is the limit from the left, exactly:
// 0 in every column whose support ends at hi and whose derivative of order
// nu vanishes there (knot c + order at hi, nu < order - 1 - q for position
// q), and at a clamped end the unit vector; CONSTANT and LINEAR continue
// that row.  At the left end the same holds by the recurrence itself.
// Knots drawn from [0, 1] so that the spans do not divide exactly.
TEST_P(DesignPaths, EndRowsAreExactLimits) {
  std::mt19937_64 rng(108);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  int inexact_before = 0;
  for (int call = 0; call < 400; ++call) {
    const int order = 1 + call % 6, deg = order - 1;
    const bool clamped = call % 3 != 0;
    std::vector<double> inner(rng() % 6);
    for (double &v : inner) v = unit(rng);
    std::sort(inner.begin(), inner.end());
    std::vector<double> t(order, 0.0);
    t.insert(t.end(), inner.begin(), inner.end());
    for (int q = 0; q < order; ++q) t.push_back(clamped || q == 0 ? 1.0 : t.back() + unit(rng));
    const int nt = int(t.size()), nj = nt - order;
    const double hi = t[nj];
    const int nu = int(rng() % order);
    SCOPED_TRACE("order " + std::to_string(order) + " nu " + std::to_string(nu) + " call " +
                 std::to_string(call));
    const Out end = lib_design(t, order, nj, nu, BSBASIS_EXTRAPOLATE_ZERO, {0.0, hi}, kPlain);
    ASSERT_EQ(end.status, BSBASIS_OK);
    const double *left = end.B.data() + kPad, *right = left + order;
    const int32_t *cols = end.j.data() + kPad + order;
    for (int q = 0; q < order; ++q) {
      const bool vanishes = t[cols[q] + order] == hi && nu < deg - q;
      if (vanishes) EXPECT_EQ(bits(right[q]), bits(0.0)) << "right end, position " << q;
      // At a clamped left end the same holds from the right: position q
      // (column q) vanishes below derivative order q.
      if (nu < q) EXPECT_EQ(bits(left[q]), bits(0.0)) << "left end, position " << q;
      const double piece = ref::piece(ref::KnotSeq{t}, order, nj - 1, hi, nu)[q];
      inexact_before += vanishes && piece != 0.0;
    }
    if (nu == 0 && clamped) {
      EXPECT_EQ(right[deg], 1.0);
      EXPECT_EQ(left[0], 1.0);
    }
    if (nu > 1) continue;
    // CONSTANT beyond hi repeats the row at hi; LINEAR adds the slope,
    // which vanishes where the derivative of order 1 does.
    const std::vector<double> beyond = {hi + 0.5};
    const Out cons = lib_design(t, order, nj, 0, BSBASIS_EXTRAPOLATE_CONSTANT, beyond, kPlain);
    const Out lin = lib_design(t, order, nj, nu, BSBASIS_EXTRAPOLATE_LINEAR, beyond, kPlain);
    for (int q = 0; q < order; ++q) {
      if (nu == 0) EXPECT_EQ(bits(cons.B[kPad + q]), bits(right[q])) << "constant " << q;
      if (t[cols[q] + order] == hi && 1 < deg - q)
        EXPECT_EQ(bits(lin.B[kPad + q]), bits(0.0)) << "linear " << q;
    }
  }
  // The recurrence alone leaves rounding in some of those columns: the
  // knots above are ones where the exact limit takes more than the pieces.
  EXPECT_GT(inexact_before, 0);
}

// The integer grid's first column of the end interval ends at n: its
// values and derivatives below order - 1 vanish there (the pieces of
// integer spans give that 0 already; this keeps it so).
TEST_P(DesignPaths, UniformRightEndIsExact) {
  for (int order = 2; order <= 24; ++order)
    for (int nu = 0; nu < order - 1; ++nu)
      for (double spacing : {1.0, 0.1, 0.7}) {
        const int n = order + 5;
        const double hi = 0.3 + spacing * n;
        const Out o = lib_uniform(0.3, spacing, n, order, nu, BSBASIS_EXTRAPOLATE_ZERO, {hi},
                                  kPlain);
        ASSERT_EQ(o.status, BSBASIS_OK);
        EXPECT_EQ(o.j[kPad], n - order);
        EXPECT_EQ(bits(o.B[kPad]), bits(0.0)) << "order " << order << " nu " << nu;
      }
}

// The uniform grid at spacings that do and do not round, origins at 0 and
// far from it.
TEST_P(DesignPaths, UniformMatchesReference) {
  std::mt19937_64 rng(102);
  const double origins[] = {0.0, -3.0, 0.1, 1e6 + 0.3, -2.5e-3, 12345.678};
  const double spacings[] = {1.0, 0.5, 0.1, 1.0 / 3.0, 7.25, 1e-3, 0x1p-20, 2.9};
  for (int call = 0; call < kCalls; ++call) {
    const int order = call % 50 == 49 ? 9 + int(rng() % 12) : 1 + int(rng() % 8);
    const int nu = int(rng() % (order + 2));
    const int mode = int(rng() % 6);
    const double origin = origins[rng() % 6], spacing = spacings[rng() % 8];
    const int64_t n = order + int64_t(call % 9 == 0 ? 300 : rng() % 30);
    std::vector<double> near;
    for (int64_t m = -2; m <= n + order + 1; ++m) near.push_back(origin + spacing * double(m));
    const double lo = origin + spacing * (order - 1.0), hi = origin + spacing * double(n);
    const std::vector<double> x = abscissae(rng, near, lo, hi, some_count(rng, order), mode);
    const Way w = some_way(rng);
    SCOPED_TRACE("order " + std::to_string(order) + " nu " + std::to_string(nu) + " mode " +
                 std::to_string(mode) + " origin " + std::to_string(origin) + " spacing " +
                 std::to_string(spacing) + " n " + std::to_string(n) + " nx " +
                 std::to_string(x.size()));
    ASSERT_EQ(differences(ref::uniform_design(origin, spacing, n, order, nu, mode, x),
                          lib_uniform(origin, spacing, n, order, nu, mode, x, w), n, w),
              "");
  }
}

// With origin 0 and a spacing of a power of 2 every coordinate and span
// scales exactly: the uniform grid gives the bits of bsbasis_design on its
// knots, in every mode.
TEST_P(DesignPaths, UniformEqualsDesignOnItsKnots) {
  std::mt19937_64 rng(103);
  for (int call = 0; call < kCalls / 3; ++call) {
    const int order = 1 + int(rng() % 8);
    const int nu = int(rng() % (order + 2));
    const int mode = int(rng() % 6);
    const double spacing = std::ldexp(1.0, int(rng() % 21) - 10);
    const int64_t n = order + int64_t(rng() % 20);
    std::vector<double> t;
    for (int64_t m = 0; m < n + order; ++m) t.push_back(spacing * double(m));
    const std::vector<double> x =
        abscissae(rng, t, t[order - 1], t[n], some_count(rng, order), mode);
    const Out a = lib_uniform(0.0, spacing, n, order, nu, mode, x, kPlain);
    const Out b = lib_design(t, order, int(n), nu, mode, x, kPlain);
    ASSERT_EQ(a.status, BSBASIS_OK);
    ASSERT_EQ(b.status, BSBASIS_OK);
    ASSERT_EQ(a.j, b.j) << "order " << order << " nu " << nu << " mode " << mode;
    for (size_t e = 0; e < a.B.size(); ++e)
      ASSERT_TRUE(same(a.B[e], b.B[e])) << "order " << order << " nu " << nu << " mode "
                                          << mode << " spacing " << spacing << " entry " << e;
    ASSERT_EQ(a.nempty, b.nempty);
  }
}

TEST_P(DesignPaths, PeriodicMatchesReference) {
  std::mt19937_64 rng(104);
  for (int call = 0; call < kCalls; ++call) {
    const int order = call % 50 == 49 ? 9 + int(rng() % 8) : 1 + int(rng() % 8);
    const int nu = int(rng() % (order + 2));
    const int m = order + int(rng() % (call % 10 == 0 ? 200 : 10));
    std::vector<double> u = {std::uniform_real_distribution<double>(-5.0, 5.0)(rng)};
    for (int k = 0; k < m; ++k)
      u.push_back(u.back() + ((rng() % 9) ? std::uniform_real_distribution<double>(0.01, 2.0)(rng)
                                          : 1.0 / 64));
    const double P = u[m] - u[0];
    std::vector<double> near = u;
    for (double v : {u[0] - 2.5 * P, u[m] + 7.25 * P, u[0] - 1e6 * P, u[m] + P})
      near.push_back(v);
    std::sort(near.begin(), near.end());
    const std::vector<double> x =
        abscissae(rng, near, u[0], u[m], some_count(rng, order), BSBASIS_EXTRAPOLATE_ZERO);
    const Way w = some_way(rng);
    SCOPED_TRACE("order " + std::to_string(order) + " nu " + std::to_string(nu) + " m " +
                 std::to_string(m) + " nx " + std::to_string(x.size()));
    ASSERT_EQ(differences(ref::periodic_design(u, order, nu, x), lib_periodic(u, order, nu, x, w),
                          m, w),
              "");
  }
}

// ------------------------------------------------------------- tensor

struct Factor {
  std::vector<double> t;
  int order, nj, nu;
};

// The Kronecker product of the factors' rows from bsbasis_design: columns
// ((c0*nj1 + c1)*nj2 + c2)..., values ((b0*b1)*b2)..., the last factor
// fastest; empty when any factor's row is.
ref::Rows kronecker(const std::vector<Factor> &f, int mode, const std::vector<double> &x) {
  const size_t d = f.size(), npts = x.size() / d;
  std::vector<Out> rows;
  for (size_t a = 0; a < d; ++a) {
    std::vector<double> xa(npts);
    for (size_t p = 0; p < npts; ++p) xa[p] = x[p * d + a];
    rows.push_back(lib_design(f[a].t, f[a].order, f[a].nj, f[a].nu, mode, xa, kPlain));
  }
  ref::Rows r;
  r.order = 1;
  for (const Factor &g : f) r.order *= g.order;
  for (size_t a = 0; a < d; ++a)
    if (rows[a].status != BSBASIS_OK) {
      r.status = rows[a].status;
      return r;
    }
  for (size_t p = 0; p < npts; ++p) {
    bool empty = false;
    for (size_t a = 0; a < d; ++a) empty = empty || rows[a].pj()[p * f[a].order] < 0;
    std::vector<int64_t> c = {0};
    std::vector<double> v = {1.0};
    for (size_t a = 0; a < d; ++a) {
      std::vector<int64_t> c2;
      std::vector<double> v2;
      for (size_t e = 0; e < c.size(); ++e)
        for (int q = 0; q < f[a].order; ++q) {
          const size_t at = p * f[a].order + q;
          c2.push_back(c[e] * f[a].nj + rows[a].pj()[at]);
          v2.push_back(a == 0 ? rows[a].pB()[at] : v[e] * rows[a].pB()[at]);
        }
      c.swap(c2);
      v.swap(v2);
    }
    r.empty.push_back(empty);
    r.nempty += empty;
    for (int e = 0; e < r.order; ++e) {
      r.j.push_back(int32_t(c[e]));
      r.B.push_back(v[e]);
    }
  }
  return r;
}

TEST_P(DesignPaths, TensorIsKroneckerOfRows) {
  std::mt19937_64 rng(105);
  for (int call = 0; call < kCalls / 2; ++call) {
    const int d = 1 + int(rng() % (call % 10 == 0 ? 4 : 3));
    const int mode = int(rng() % 6);
    const bool values = rng() % 4 == 0;  // nu NULL
    std::vector<Factor> f;
    std::vector<const double *> tp;
    std::vector<int64_t> nt, nj;
    std::vector<int32_t> order, nu;
    int64_t cols = 1;
    for (int a = 0; a < d; ++a) {
      Factor g;
      g.order = 1 + int(rng() % (d > 2 ? 4 : 6));
      g.t = random_knots(rng, g.order, int(rng() % 4), g.order + int(rng() % 8));
      g.nj = int(g.t.size()) - g.order;
      g.nu = values ? 0 : int(rng() % (g.order + 1));
      if (!ref::usable_knots(g.t, g.order, g.nj)) {
        --a;
        continue;
      }
      f.push_back(g);
      cols *= g.nj;
    }
    for (const Factor &g : f) {
      tp.push_back(g.t.data());
      nt.push_back(int64_t(g.t.size()));
      order.push_back(g.order);
      nj.push_back(g.nj);
      nu.push_back(g.nu);
    }
    const int S = std::min(256, bsbasis::design_sub_tile(*std::max_element(order.begin(), order.end())));
    const size_t sizes[] = {size_t(S) - 1, size_t(S) + 1, 2 * size_t(S) + 1};
    const size_t npts = (rng() % 5) ? 1 + rng() % 30 : sizes[rng() % 3];
    // Coordinates per dimension, row-major.
    std::vector<double> x(npts * d);
    for (int a = 0; a < d; ++a) {
      const std::vector<double> xa = abscissae(rng, f[a].t, f[a].t[f[a].order - 1],
                                               f[a].t[f[a].nj], npts, mode);
      for (size_t p = 0; p < npts; ++p) x[p * d + a] = xa[p];
    }
    const ref::Rows want = kronecker(f, mode, x);
    const int E = want.order;
    SCOPED_TRACE("d " + std::to_string(d) + " mode " + std::to_string(mode) + " E " +
                 std::to_string(E) + " npts " + std::to_string(npts));
    for (bool wide : {false, true}) {
      const Way w = some_way(rng);
      Out o(npts * E, w.fill);
      o.status = bsbasis_tensor_design(d, tp.data(), nt.data(), order.data(), nj.data(),
                                       values ? nullptr : nu.data(), mode, x.data(),
                                       int64_t(npts), w.with_i ? o.pi() : nullptr,
                                       wide ? nullptr : o.pj(), wide ? o.pj64() : nullptr,
                                       o.pB(), w.with_nempty ? &o.nempty : nullptr);
      ASSERT_EQ(differences(want, o, cols, w, wide), "") << (wide ? "j64" : "j32");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, DesignPaths, ::testing::ValuesIn(paths_here()),
                         [](const ::testing::TestParamInfo<Path> &p) { return p.param.name; });

// ------------------------------------------------------------ contracts

const std::vector<double> kKnots = {0, 0, 0, 0, 1, 2, 3, 4, 5, 5, 5, 5};  // cubic, nj 8

// Under ERROR one abscissa outside [lo, hi], NaN or infinite, anywhere in a
// long array: BSBASIS_ERROR_RANGE and nothing written, *nempty included.
// The ends themselves are in.
bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The neighbours of whole numbers that place a uniform design's coordinate
// strictly inside its interval: libm's nextafter, bit for bit, on every
// kind of whole number a knot index can be (zero of either sign, small,
// powers of two and their neighbours, up to the largest index).
TEST(UniformCoordinate, NeighboursOfWholeNumbersAreNextafters) {
  std::vector<double> wholes = {0.0, -0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 1e6, 2147483646.0,
                                2147483647.0};
  for (int e = 1; e < 53; ++e)
    for (double d : {-1.0, 0.0, 1.0}) wholes.push_back(std::ldexp(1.0, e) + d);
  std::mt19937_64 g(7);
  for (int q = 0; q < 10000; ++q) wholes.push_back(static_cast<double>(g() % 2147483648u));
  for (double v : wholes) {
    const double up = v == 0.0 ? std::nextafter(0.0, 1.0) : std::nextafter(v, v + 1.0);
    EXPECT_TRUE(same_bits(bsbasis::above_whole(v), up)) << v;
    if (v >= 1.0)
      EXPECT_TRUE(same_bits(bsbasis::below_whole(v), std::nextafter(v, v - 1.0))) << v;
  }
}

TEST(DesignContract, ErrorModeRejectsBeforeWriting) {
  const int E = BSBASIS_EXTRAPOLATE_ERROR;
  std::vector<double> x(1100, 2.5);
  x.front() = 0.0;
  x.back() = 5.0;
  const std::vector<double> u = {0, 1, 2, 3, 4, 5};
  for (double bad : {kNaN, kInf, -kInf, std::nextafter(0.0, -1.0), std::nextafter(5.0, 6.0), 1e300})
    for (size_t at : {size_t(0), size_t(600), x.size() - 1}) {
      std::vector<double> y = x;
      y[at] = bad;
      SCOPED_TRACE("x " + std::to_string(bad) + " at " + std::to_string(at));
      for (int nu : {0, 2}) {
        Out a(y.size() * 4), b(y.size() * 4);
        a.status = bsbasis_design(kKnots.data(), 12, 4, 8, nu, E, y.data(), int64_t(y.size()),
                                  a.pi(), a.pj(), a.pB(), &a.nempty);
        // The uniform grid with lo = 0 and hi = 5: origin -3, spacing 1, n 8.
        b.status = bsbasis_uniform_design(-3.0, 1.0, 8, 4, nu, E, y.data(), int64_t(y.size()),
                                          b.pi(), b.pj(), b.pB(), &b.nempty);
        EXPECT_EQ(a.status, BSBASIS_ERROR_RANGE);
        EXPECT_EQ(b.status, BSBASIS_ERROR_RANGE);
        EXPECT_TRUE(a.untouched()) << "design, *nempty " << a.nempty;
        EXPECT_TRUE(b.untouched()) << "uniform, *nempty " << b.nempty;
      }
      // A tensor with the bad coordinate in either dimension.
      for (int dim = 0; dim < 2; ++dim) {
        std::vector<double> xy(2 * y.size(), 2.5);
        for (size_t p = 0; p < y.size(); ++p) xy[2 * p + dim] = y[p];
        const double *tp[2] = {kKnots.data(), kKnots.data()};
        const int64_t nt[2] = {12, 12}, nj[2] = {8, 8};
        const int32_t order[2] = {4, 4};
        Out o(y.size() * 16);
        o.status = bsbasis_tensor_design(2, tp, nt, order, nj, nullptr, E, xy.data(),
                                         int64_t(y.size()), o.pi(), o.pj(), nullptr, o.pB(),
                                         &o.nempty);
        EXPECT_EQ(o.status, BSBASIS_ERROR_RANGE);
        EXPECT_TRUE(o.untouched()) << "tensor, dimension " << dim << ", *nempty " << o.nempty;
      }
    }
  // The same arrays all in range: accepted.
  Out a(x.size() * 4);
  EXPECT_EQ(bsbasis_design(kKnots.data(), 12, 4, 8, 0, E, x.data(), int64_t(x.size()), a.pi(),
                           a.pj(), a.pB(), &a.nempty),
            BSBASIS_OK);
  EXPECT_EQ(a.nempty, 0);
}

// A bad argument of each kind, one at a time, in every function: the
// status the header gives it, and nothing written.
TEST(DesignContract, StatusOfEveryBadArgument) {
  const double x[3] = {0.5, 1.5, 4.5};
  const int64_t big = int64_t(INT32_MAX) + 1;
  const std::vector<double> t = kKnots;
  struct KnotCase {
    const char *what;
    std::vector<double> t;
    int order;
    int64_t nt, nj;
    int want;
  };
  std::vector<double> nan_knot = t, inf_knot = t, down = t, gap = t, wide = t, flat = t;
  nan_knot[6] = kNaN;
  inf_knot[11] = kInf;
  down[6] = 1.5;
  gap[4] = std::numeric_limits<double>::denorm_min();  // a gap below 1/DBL_MAX
  for (double &v : wide) v = v * 0.38e308 - 0.95e308;  // a span that overflows
  flat = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};               // empty base interval
  const std::vector<KnotCase> knot_cases = {
      {"order 0", t, 0, 12, 8, BSBASIS_ERROR_ORDER},
      {"order -1", t, -1, 12, 8, BSBASIS_ERROR_ORDER},
      {"order INT32_MIN", t, INT32_MIN, 12, 8, BSBASIS_ERROR_ORDER},
      {"nt -1", t, 4, -1, 8, BSBASIS_ERROR_COUNT},
      {"nt INT32_MAX + 1", t, 4, big, 8, BSBASIS_ERROR_COUNT},
      {"nt < 2*order", t, 4, 7, 4, BSBASIS_ERROR_KNOTS},
      {"nj < order", t, 4, 12, 3, BSBASIS_ERROR_COLUMNS},
      {"nj > nt - order", t, 4, 12, 9, BSBASIS_ERROR_COLUMNS},
      {"nj negative", t, 4, 12, -1, BSBASIS_ERROR_COLUMNS},
      {"NaN knot", nan_knot, 4, 12, 8, BSBASIS_ERROR_KNOTS},
      {"infinite knot", inf_knot, 4, 12, 8, BSBASIS_ERROR_KNOTS},
      {"decreasing", down, 4, 12, 8, BSBASIS_ERROR_KNOTS},
      {"tiny gap", gap, 4, 12, 8, BSBASIS_ERROR_KNOTS},
      {"overflowing span", wide, 4, 12, 8, BSBASIS_ERROR_KNOTS},
      {"empty base interval", flat, 4, 12, 8, BSBASIS_ERROR_KNOTS},
  };
  for (const KnotCase &c : knot_cases) {
    Out o(12);
    o.status = bsbasis_design(c.t.data(), c.nt, c.order, c.nj, 0, 1, x, 3, o.pi(), o.pj(),
                              o.pB(), &o.nempty);
    EXPECT_EQ(o.status, c.want) << "design: " << c.what;
    EXPECT_TRUE(o.untouched()) << "design: " << c.what;
    // The same basis as a tensor factor, in either place.
    for (int at = 0; at < 2; ++at) {
      const double *tp[2] = {t.data(), t.data()};
      int64_t nt[2] = {12, 12}, nj[2] = {8, 8};
      int32_t order[2] = {4, 4};
      tp[at] = c.t.data();
      nt[at] = c.nt;
      nj[at] = c.nj;
      order[at] = c.order;
      const double xy[2] = {1.5, 2.5};
      Out p(16);
      p.status = bsbasis_tensor_design(2, tp, nt, order, nj, nullptr, 1, xy, 1, p.pi(), p.pj(),
                                       nullptr, p.pB(), &p.nempty);
      EXPECT_EQ(p.status, c.want) << "tensor factor " << at << ": " << c.what;
      EXPECT_TRUE(p.untouched()) << "tensor: " << c.what;
    }
  }

  // The call's own arguments.
  struct CallCase {
    const char *what;
    int nu, mode;
    const double *x;
    int64_t nx;
    bool i, j, B;
    int want;
  };
  const std::vector<CallCase> call_cases = {
      {"nu -1", -1, 1, x, 3, true, true, true, BSBASIS_ERROR_ORDER},
      {"nu INT32_MIN", INT32_MIN, 1, x, 3, true, true, true, BSBASIS_ERROR_ORDER},
      {"mode -1", 0, -1, x, 3, true, true, true, BSBASIS_ERROR_MODE},
      {"mode 6", 0, 6, x, 3, true, true, true, BSBASIS_ERROR_MODE},
      {"mode INT32_MAX", 0, INT32_MAX, x, 3, true, true, true, BSBASIS_ERROR_MODE},
      {"nx -1", 0, 1, x, -1, true, true, true, BSBASIS_ERROR_COUNT},
      {"nx INT64_MIN", 0, 1, x, INT64_MIN, true, true, true, BSBASIS_ERROR_COUNT},
      {"nx*order overflows", 0, 1, x, INT64_MAX / 2, false, true, true, BSBASIS_ERROR_COUNT},
      {"nx INT32_MAX + 1 with i", 0, 1, x, big, true, true, true, BSBASIS_ERROR_COUNT},
      {"x NULL", 0, 1, nullptr, 3, true, true, true, BSBASIS_ERROR_NULL},
      {"j NULL", 0, 1, x, 3, true, false, true, BSBASIS_ERROR_NULL},
      {"B NULL", 0, 1, x, 3, true, true, false, BSBASIS_ERROR_NULL},
  };
  for (const CallCase &c : call_cases) {
    for (int fn = 0; fn < 3; ++fn) {
      Out o(12);
      int32_t *i = c.i ? o.pi() : nullptr, *j = c.j ? o.pj() : nullptr;
      double *B = c.B ? o.pB() : nullptr;
      const std::vector<double> u = {0, 1, 2, 3, 4, 5};
      if (fn == 0)
        o.status = bsbasis_design(t.data(), 12, 4, 8, c.nu, c.mode, c.x, c.nx, i, j, B, &o.nempty);
      else if (fn == 1)
        o.status = bsbasis_uniform_design(0.0, 1.0, 8, 4, c.nu, c.mode, c.x, c.nx, i, j, B,
                                          &o.nempty);
      else if (c.mode == 1)  // no mode to get wrong
        o.status = bsbasis_periodic_design(u.data(), 6, 4, c.nu, c.x, c.nx, i, j, B, &o.nempty);
      else
        continue;
      const char *name[] = {"design", "uniform", "periodic"};
      EXPECT_EQ(o.status, c.want) << name[fn] << ": " << c.what;
      EXPECT_TRUE(o.untouched()) << name[fn] << ": " << c.what;
    }
  }

  // No abscissae: nothing needed, nothing written but *nempty = 0.
  for (int fn = 0; fn < 3; ++fn) {
    int64_t ne = -5;
    const std::vector<double> u = {0, 1, 2, 3, 4, 5};
    const int st = fn == 0   ? bsbasis_design(t.data(), 12, 4, 8, 1, 1, nullptr, 0, nullptr,
                                              nullptr, nullptr, &ne)
                   : fn == 1 ? bsbasis_uniform_design(0.0, 1.0, 8, 4, 1, 1, nullptr, 0, nullptr,
                                                      nullptr, nullptr, &ne)
                             : bsbasis_periodic_design(u.data(), 6, 4, 1, nullptr, 0, nullptr,
                                                       nullptr, nullptr, &ne);
    EXPECT_EQ(st, BSBASIS_OK) << fn;
    EXPECT_EQ(ne, 0) << fn;
  }
}

TEST(DesignContract, StatusOfBadGridsAndBreaks) {
  const double x[2] = {3.5, 4.5};
  const int64_t n_max = int64_t(INT32_MAX) - 4;
  struct GridCase {
    const char *what;
    double origin, spacing;
    int64_t n;
    int order, want;
  };
  const std::vector<GridCase> grids = {
      {"order 0", 0, 1, 8, 0, BSBASIS_ERROR_ORDER},
      {"n < order", 0, 1, 3, 4, BSBASIS_ERROR_COLUMNS},
      {"n negative", 0, 1, -8, 4, BSBASIS_ERROR_COLUMNS},
      {"n + order > INT32_MAX", 0, 1, n_max + 1, 4, BSBASIS_ERROR_COLUMNS},
      {"n INT64_MAX", 0, 1, INT64_MAX, 4, BSBASIS_ERROR_COLUMNS},
      {"NaN origin", kNaN, 1, 8, 4, BSBASIS_ERROR_KNOTS},
      {"infinite origin", -kInf, 1, 8, 4, BSBASIS_ERROR_KNOTS},
      {"zero spacing", 0, 0.0, 8, 4, BSBASIS_ERROR_KNOTS},
      {"negative spacing", 0, -1.0, 8, 4, BSBASIS_ERROR_KNOTS},
      {"NaN spacing", 0, kNaN, 8, 4, BSBASIS_ERROR_KNOTS},
      {"infinite spacing", 0, kInf, 8, 4, BSBASIS_ERROR_KNOTS},
      {"spacing at the knots' resolution", 1e16, 4.0, 8, 4, BSBASIS_ERROR_KNOTS},
      {"last knot overflows", 1e308, 1e307, 100, 4, BSBASIS_ERROR_KNOTS},
      {"span overflows", -1e308, 1e307, 100, 4, BSBASIS_ERROR_KNOTS},
  };
  for (const GridCase &c : grids) {
    Out o(8);
    o.status = bsbasis_uniform_design(c.origin, c.spacing, c.n, c.order, 0, 1, x, 2, o.pi(),
                                      o.pj(), o.pB(), &o.nempty);
    EXPECT_EQ(o.status, c.want) << c.what;
    EXPECT_TRUE(o.untouched()) << c.what;
  }
  // The largest grid: n + order = INT32_MAX.  Its rows near the start.
  {
    const std::vector<double> xs = {3.0, 3.25, 1e9 + 0.5};
    EXPECT_EQ(differences(ref::uniform_design(0.0, 1.0, n_max, 4, 1, 1, xs),
                          lib_uniform(0.0, 1.0, n_max, 4, 1, 1, xs, kPlain), n_max, kPlain),
              "");
  }
  // Spacing just above twice the resolution of the knots: accepted.
  {
    Out o(8);
    EXPECT_EQ(bsbasis_uniform_design(1e16, 4.0 + 8.0, 8, 4, 0, 1, x, 2, o.pi(), o.pj(), o.pB(),
                                     &o.nempty),
              BSBASIS_OK);
  }

  struct BreakCase {
    const char *what;
    std::vector<double> u;
    int64_t nbreaks;
    int order, want;
  };
  const std::vector<double> u = {0, 1, 2, 3, 4, 5};
  const std::vector<BreakCase> breaks = {
      {"order 0", u, 6, 0, BSBASIS_ERROR_ORDER},
      {"nbreaks 1", u, 1, 1, BSBASIS_ERROR_COUNT},
      {"nbreaks -1", u, -1, 4, BSBASIS_ERROR_COUNT},
      {"nbreaks INT32_MAX + 1", u, int64_t(INT32_MAX) + 1, 4, BSBASIS_ERROR_COUNT},
      {"fewer intervals than the order", u, 4, 4, BSBASIS_ERROR_COLUMNS},
      {"repeated break", {0, 1, 2, 2, 4, 5}, 6, 4, BSBASIS_ERROR_KNOTS},
      {"decreasing", {0, 1, 3, 2, 4, 5}, 6, 4, BSBASIS_ERROR_KNOTS},
      {"NaN", {0, 1, kNaN, 3, 4, 5}, 6, 4, BSBASIS_ERROR_KNOTS},
      {"infinite", {0, 1, 2, 3, 4, kInf}, 6, 4, BSBASIS_ERROR_KNOTS},
      {"period overflows", {-1e308, -1, 0, 1, 2, 1e308}, 6, 4, BSBASIS_ERROR_KNOTS},
      {"tiny gap", {0, 1e-320, 2, 3, 4, 5}, 6, 4, BSBASIS_ERROR_KNOTS},
  };
  for (const BreakCase &c : breaks) {
    Out o(8);
    o.status = bsbasis_periodic_design(c.u.data(), c.nbreaks, c.order, 0, x, 2, o.pi(), o.pj(),
                                       o.pB(), &o.nempty);
    EXPECT_EQ(o.status, c.want) << c.what;
    EXPECT_TRUE(o.untouched()) << c.what;
  }
  int64_t ne = -5;
  EXPECT_EQ(bsbasis_periodic_design(nullptr, 6, 4, 0, x, 0, nullptr, nullptr, nullptr, &ne),
            BSBASIS_ERROR_NULL);
  EXPECT_EQ(ne, -5);
}

TEST(DesignContract, StatusOfBadTensors) {
  const std::vector<double> t = kKnots;
  const std::vector<double> t2 = {0, 1, 2, 3};  // order 2, nj 2
  const double xy[4] = {1.5, 2.5, 0.5, 4.5};
  const double *tp[2] = {t.data(), t.data()};
  const int64_t nt[2] = {12, 12}, nj[2] = {8, 8};
  const int32_t order[2] = {4, 4}, nu_bad[2] = {0, -1};
  const auto call = [&](int32_t d, const double *const *T, const int64_t *NT, const int32_t *O,
                        const int64_t *NJ, const int32_t *NU, int mode, const double *X,
                        int64_t npts, bool i, int jw, bool B) {
    Out o(32);
    o.status = bsbasis_tensor_design(d, T, NT, O, NJ, NU, mode, X, npts, i ? o.pi() : nullptr,
                                     jw & 1 ? o.pj() : nullptr, jw & 2 ? o.pj64() : nullptr,
                                     B ? o.pB() : nullptr, &o.nempty);
    EXPECT_TRUE(o.untouched());
    return o.status;
  };
  EXPECT_EQ(call(0, tp, nt, order, nj, nullptr, 1, xy, 2, true, 1, true), BSBASIS_ERROR_COUNT);
  EXPECT_EQ(call(-1, tp, nt, order, nj, nullptr, 1, xy, 2, true, 1, true), BSBASIS_ERROR_COUNT);
  EXPECT_EQ(call(65, tp, nt, order, nj, nullptr, 1, xy, 2, true, 1, true), BSBASIS_ERROR_COUNT);
  EXPECT_EQ(call(2, nullptr, nt, order, nj, nullptr, 1, xy, 2, true, 1, true), BSBASIS_ERROR_NULL);
  EXPECT_EQ(call(2, tp, nullptr, order, nj, nullptr, 1, xy, 2, true, 1, true), BSBASIS_ERROR_NULL);
  EXPECT_EQ(call(2, tp, nt, nullptr, nj, nullptr, 1, xy, 2, true, 1, true), BSBASIS_ERROR_NULL);
  EXPECT_EQ(call(2, tp, nt, order, nullptr, nullptr, 1, xy, 2, true, 1, true), BSBASIS_ERROR_NULL);
  const double *tnull[2] = {t.data(), nullptr};
  EXPECT_EQ(call(2, tnull, nt, order, nj, nullptr, 1, xy, 2, true, 1, true), BSBASIS_ERROR_NULL);
  EXPECT_EQ(call(2, tp, nt, order, nj, nu_bad, 1, xy, 2, true, 1, true), BSBASIS_ERROR_ORDER);
  EXPECT_EQ(call(2, tp, nt, order, nj, nullptr, -1, xy, 2, true, 1, true), BSBASIS_ERROR_MODE);
  EXPECT_EQ(call(2, tp, nt, order, nj, nullptr, 6, xy, 2, true, 1, true), BSBASIS_ERROR_MODE);
  EXPECT_EQ(call(2, tp, nt, order, nj, nullptr, 1, xy, 2, true, 0, true), BSBASIS_ERROR_NULL);
  EXPECT_EQ(call(2, tp, nt, order, nj, nullptr, 1, xy, 2, true, 3, true), BSBASIS_ERROR_NULL);
  EXPECT_EQ(call(2, tp, nt, order, nj, nullptr, 1, xy, -1, true, 1, true), BSBASIS_ERROR_COUNT);
  EXPECT_EQ(call(2, tp, nt, order, nj, nullptr, 1, xy, int64_t(INT32_MAX) + 1, true, 1, true),
            BSBASIS_ERROR_COUNT);
  EXPECT_EQ(call(2, tp, nt, order, nj, nullptr, 1, xy, INT64_MAX / 8, false, 1, true),
            BSBASIS_ERROR_COUNT);
  EXPECT_EQ(call(2, tp, nt, order, nj, nullptr, 1, nullptr, 2, true, 1, true), BSBASIS_ERROR_NULL);
  EXPECT_EQ(call(2, tp, nt, order, nj, nullptr, 1, xy, 2, true, 1, false), BSBASIS_ERROR_NULL);

  // 31 factors of order 2 give 2^31 entries a row: too many.  Factors of
  // 65538 columns: two overflow 32-bit columns, four 64-bit ones.
  std::vector<const double *> many(64, t2.data());
  const std::vector<int64_t> nt2(64, 4), nj2(64, 2);
  const std::vector<int32_t> o2(64, 2);
  EXPECT_EQ(call(31, many.data(), nt2.data(), o2.data(), nj2.data(), nullptr, 1, xy, 0, false, 2,
                 true),
            BSBASIS_ERROR_COUNT);
  std::vector<double> long_knots(65540);
  for (size_t c = 0; c < long_knots.size(); ++c) long_knots[c] = double(c);
  const std::vector<const double *> lk(64, long_knots.data());
  const std::vector<int64_t> ntl(64, 65540), njl(64, 65538);
  const std::vector<int32_t> o1(64, 1);
  EXPECT_EQ(call(2, lk.data(), ntl.data(), o1.data(), njl.data(), nullptr, 1, xy, 2, false, 1,
                 true),
            BSBASIS_ERROR_COUNT);
  EXPECT_EQ(call(4, lk.data(), ntl.data(), o1.data(), njl.data(), nullptr, 1, xy, 0, false, 2,
                 true),
            BSBASIS_ERROR_COUNT);
  // Two such factors fit in 64-bit columns: the largest column is exact.
  {
    const double p[2] = {65537.5, 65537.5};
    Out o(1);
    ASSERT_EQ(bsbasis_tensor_design(2, lk.data(), ntl.data(), o1.data(), njl.data(), nullptr, 1,
                                    p, 1, o.pi(), nullptr, o.pj64(), o.pB(), &o.nempty),
              BSBASIS_OK);
    EXPECT_EQ(o.pj64()[0], int64_t(65538) * 65538 - 1);
    EXPECT_EQ(o.pB()[0], 1.0);
  }
}

// Derivative orders past the order give zeros, and at once: nu = INT32_MAX
// on knots in every mode, and on a grid whose spacing is not 1 (each
// derivative divides by it), rows in range and continued.
TEST(DesignContract, HugeDerivativeOrderGivesZerosAtOnce) {
  const std::vector<double> x = {5.5, -100.0, 200.0, 7.25, 3.0, 10.0};
  const auto start = std::chrono::steady_clock::now();
  for (int mode = 1; mode < 6; ++mode)
    EXPECT_EQ(differences(ref::design(kKnots, 4, 8, INT32_MAX, mode, x),
                          lib_design(kKnots, 4, 8, INT32_MAX, mode, x, kPlain), 8, kPlain),
              "")
        << "mode " << mode;
  const int C = BSBASIS_EXTRAPOLATE_CONTINUE;
  EXPECT_EQ(differences(ref::uniform_design(0.0, 0.5, 20, 4, INT32_MAX, C, x),
                        lib_uniform(0.0, 0.5, 20, 4, INT32_MAX, C, x, kPlain), 20, kPlain),
            "");
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 2.0);
}

// Every finite abscissa wraps into the period, even where x - u[0] would
// overflow: a row that is not empty and sums to 1.
TEST(DesignContract, PeriodicWrapsEveryFiniteAbscissa) {
  const std::vector<double> u = {-1e300, -2e299, 0.0, 5e299, 1e300};
  const double big = std::numeric_limits<double>::max();
  const std::vector<double> x = {big, -big, 1.5e308, -1.5e308, 3e300, -7e300, 0.25};
  for (int order = 1; order <= 4; ++order) {
    const Out o = lib_periodic(u, order, 0, x, kPlain);
    ASSERT_EQ(o.status, BSBASIS_OK);
    EXPECT_TRUE(o.guards_intact());
    EXPECT_EQ(o.nempty, 0) << "order " << order;
    for (size_t p = 0; p < x.size(); ++p) {
      double sum = 0.0;
      for (int q = 0; q < order; ++q) sum += o.B[kPad + p * order + q];
      EXPECT_NEAR(sum, 1.0, 1e-12) << "order " << order << " x " << x[p];
    }
  }
  // The same wrap in the PERIODIC mode of bsbasis_design.
  const std::vector<double> t = ref::periodic_knots(u, 3);
  const Out d = lib_design(t, 3, int(t.size()) - 3, 0, BSBASIS_EXTRAPOLATE_PERIODIC, x, kPlain);
  ASSERT_EQ(d.status, BSBASIS_OK);
  EXPECT_EQ(d.nempty, 0);
}

// Every code has its own fixed, non-empty text; unknown codes share one.
TEST(DesignContract, StrerrorIsFixed) {
  const char *unknown = bsbasis_strerror(1);
  ASSERT_NE(unknown, nullptr);
  EXPECT_GT(std::strlen(unknown), 0u);
  std::vector<std::string> seen;
  for (int code = BSBASIS_ERROR_MEMORY; code <= BSBASIS_OK; ++code) {
    const char *s = bsbasis_strerror(code);
    ASSERT_NE(s, nullptr) << code;
    EXPECT_GT(std::strlen(s), 0u) << code;
    EXPECT_EQ(s, bsbasis_strerror(code)) << code;
    EXPECT_STRNE(s, unknown) << code;
    for (const std::string &o : seen) EXPECT_NE(o, s) << code;
    seen.push_back(s);
  }
  for (int code : {2, -10, INT_MIN, INT_MAX}) EXPECT_STREQ(bsbasis_strerror(code), unknown);
}

}  // namespace

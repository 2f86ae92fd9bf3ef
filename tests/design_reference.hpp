// A scalar reference for the extension API's evaluations, written from the
// header: one abscissa at a time, each block by the Cox-de Boor recurrence
// up to order - nu and then nu derivative steps
//   (L-1) * (a_q / (t[c+L-1] - t[c]) - a_{q+1} / (t[c+L] - t[c+1])),
// every reciprocal span formed first and multiplied, one rounding per
// operation in the order of lib/numeric.inc (raise_level, derive_values),
// so that the library must match it bit for bit.  On top of it: the
// extrapolation modes, the periodic wrap, the periodic columns and the
// validity rules of the knots.  No test framework here, so that the fuzzers
// can use it too.
#ifndef BSBASIS_TESTS_DESIGN_REFERENCE_HPP
#define BSBASIS_TESTS_DESIGN_REFERENCE_HPP

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "bsbasis.h"

namespace ref {

// The rows of a call: j and B of nx*order entries, which rows are empty.
struct Rows {
  int status = BSBASIS_OK;
  int order = 0;
  std::vector<int32_t> j;
  std::vector<double> B;
  std::vector<bool> empty;
  int64_t nempty = 0;
};

// 1/span for a positive span, else 0.
inline double recip(double span) { return span > 0.0 ? 1.0 / span : 0.0; }

// A knot sequence: knot c, the reciprocal span of column c at width w.
struct KnotSeq {
  const std::vector<double> &t;
  double at(long c) const { return t[c]; }
  double rs(long c, int w) const {
    const long nt = long(t.size());
    return c >= 0 && c + w < nt ? recip(t[c + w] - t[c]) : 0.0;
  }
};

// The integer grid: knot c at c, every span at width w is w.
struct IntegerGrid {
  double at(long c) const { return double(c); }
  double rs(long, int w) const { return recip(double(w)); }
};

// The nu-th derivatives of the order-`order` pieces of interval J at x
// (x need not lie in J), positions 0 .. order-1 for columns J-order+1 .. J.
template <class K>
std::vector<double> piece(const K &k, int order, long J, double x, int nu) {
  const int deg = order - 1;
  const long c0 = J - deg;
  std::vector<double> b(order, 0.0);
  if (nu >= order) return b;
  b[deg] = 1.0;
  // Values of order L at positions deg+1-L .. deg from those of order L-1.
  for (int L = 2; L <= order - nu; ++L) {
    std::vector<double> v(order, 0.0);
    for (int q = deg + 1 - L; q <= deg; ++q) {
      const double a = (x - k.at(c0 + q)) * k.rs(c0 + q, L - 1);
      if (q == deg) {
        v[q] = a * b[q];
      } else {
        const double a1 = (x - k.at(c0 + q + 1)) * k.rs(c0 + q + 1, L - 1);
        v[q] = a * b[q] + (1.0 - a1) * b[q + 1];
      }
    }
    b = v;
  }
  // One derivative step per level: order L-1 to order L.
  for (int L = order - nu + 1; L <= order; ++L) {
    const double km1 = double(L - 1);
    std::vector<double> v(order, 0.0);
    for (int q = order - L; q <= deg; ++q) {
      const long c = c0 + q;
      if (q == deg)
        v[q] = (k.rs(c, L - 1) * b[q]) * km1;
      else
        v[q] = (b[q] * k.rs(c, L - 1) - b[q + 1] * k.rs(c + 1, L - 1)) * km1;
    }
    b = v;
  }
  return b;
}

// x wrapped to lo + (x - lo) mod (hi - lo), numpy's remainder (the sign
// of the divisor) of the rounded difference; non-finite x to NaN.
inline double wrap(double x, double lo, double hi) {
  if (!std::isfinite(x)) return NAN;
  const double P = hi - lo;
  const auto mod = [P](double a) {  // numpy's remainder
    double r = std::fmod(a, P);
    if (r == 0.0)
      r = 0.0;
    else if (r < 0.0)
      r = r + P;
    return r;
  };
  const double d = x - lo;
  if (std::isfinite(d)) return lo + mod(d);
  return lo + mod(mod(x) - mod(lo));  // x - lo overflows: exact remainders
}

// What the rows need of a basis, on knots or on the uniform grid.
//   lo, hi          the base interval in x
//   interval(x)     the interval of x in [lo, hi)
//   coord(x)        x in the coordinates of the pieces (in range)
//   free_coord(x)   the same for any x (CONTINUE)
//   Jlo, Jhi        the end intervals: the first and the last that are not
//                   empty (a repeated knot at an end leaves an empty one)
//   ulo, uhi        the ends in the coordinates of the pieces
//   scale           what a derivative divides by, once per order
struct OnKnots {
  const std::vector<double> &t;
  int order, nj;
  double lo() const { return t[order - 1]; }
  double hi() const { return t[nj]; }
  long interval(double x) const {
    long m = -1;
    for (long c = 0; c < long(t.size()); ++c)
      if (t[c] <= x) m = c;
    return m;
  }
  double coord(double x) const { return x; }
  double free_coord(double x) const { return x; }
  long Jlo() const { return interval(lo()); }
  long Jhi() const {
    long m = order - 1;
    for (long c = order - 1; c < nj; ++c)
      if (t[c] < hi()) m = c;
    return m;
  }
  double ulo() const { return lo(); }
  double uhi() const { return hi(); }
  double scale() const { return 1.0; }
  KnotSeq knots() const { return KnotSeq{t}; }
};

struct OnGrid {
  double origin, spacing;
  long n;
  int order;
  double knot(double m) const { return origin + spacing * m; }
  double lo() const { return knot(order - 1.0); }
  double hi() const { return knot(double(n)); }
  // Among the knots as they round: the largest m in order-1 .. n-1 with
  // knot(m) <= x, walked to from a guess.
  long interval(double x) const {
    const double g = std::floor((x - origin) / spacing);
    long m = long(std::min(std::max(g, order - 1.0), double(n - 1)));
    while (m > order - 1 && knot(double(m)) > x) --m;
    while (m + 1 < n && knot(double(m + 1)) <= x) ++m;
    return m;
  }
  // On a knot, that integer; else (x - origin) / spacing kept strictly
  // inside the interval of x.
  double coord(double x) const {
    const double J = double(interval(x));
    if (x == knot(J)) return J;
    const double r = (x - origin) / spacing;
    const double in_lo = std::nextafter(J, J + 1.0), in_hi = std::nextafter(J + 1.0, J);
    return std::min(std::max(r, in_lo), in_hi);
  }
  double free_coord(double x) const { return (x - origin) / spacing; }
  long Jlo() const { return order - 1; }
  long Jhi() const { return n - 1; }
  double ulo() const { return order - 1.0; }
  double uhi() const { return double(n); }
  double scale() const { return spacing; }
  IntegerGrid knots() const { return IntegerGrid{}; }
};

// The piece of interval J at u, derivatives divided by the scale (once per
// order; zeros stay zeros, so nu >= order needs none).
template <class G>
std::vector<double> scaled_piece(const G &g, long J, double u, int nu) {
  std::vector<double> b = piece(g.knots(), g.order, J, u, nu);
  for (int d = 0; d < nu && d < g.order && g.scale() != 1.0; ++d)
    for (double &v : b) v = v / g.scale();
  return b;
}

// The row at the right end: the piece of the last interval J that is not
// empty at uhi, the limit from the left, with the limits that are exactly
// 0 written as 0.  Column c = J - deg + q whose support [t[c], t[c+order]]
// ends at the right end, where that knot has multiplicity c + order - J in
// the support, vanishes there to the order deg - q: its derivatives of
// lower order have the limit 0.  At a clamped end every other column
// vanishes and the values sum to 1.
template <class G>
std::vector<double> right_piece(const G &g, double uhi, int nu) {
  const int order = g.order, deg = order - 1;
  const long J = g.Jhi(), c0 = J - deg;
  std::vector<double> b = piece(g.knots(), order, J, uhi, nu);
  bool clamped = true;
  for (int q = 0; q < deg; ++q) {
    const bool ends = g.knots().at(c0 + q + order) == uhi;
    clamped = clamped && ends;
    if (ends && nu < deg - q) b[q] = 0.0;
  }
  if (nu == 0 && clamped && g.knots().at(J + order) == uhi) b[deg] = 1.0;
  for (int d = 0; d < nu && d < order && g.scale() != 1.0; ++d)
    for (double &v : b) v = v / g.scale();
  return b;
}

// One row: its columns and values, or empty (false).
template <class G>
bool row(const G &g, int nu, int mode, double x, int32_t *j, double *B) {
  const int order = g.order, deg = order - 1;
  const auto put = [&](long J, const std::vector<double> &b) {
    for (int q = 0; q < order; ++q) {
      j[q] = int32_t(J - deg + q);
      B[q] = b[q];
    }
    return true;
  };
  const double lo = g.lo(), hi = g.hi();
  const double u = mode == BSBASIS_EXTRAPOLATE_PERIODIC ? wrap(x, lo, hi) : x;
  if (u >= lo && u < hi) {
    const long J = g.interval(u);
    return put(J, scaled_piece(g, J, g.coord(u), nu));
  }
  if (u == hi) return put(g.Jhi(), right_piece(g, g.uhi(), nu));
  const bool left = x < lo, finite = std::isfinite(x);
  const long J = left ? g.Jlo() : g.Jhi();
  const double end = left ? lo : hi, uend = left ? g.ulo() : g.uhi();
  if (!std::isnan(x)) switch (mode) {
      case BSBASIS_EXTRAPOLATE_CONTINUE:
        if (finite) return put(J, scaled_piece(g, J, g.free_coord(x), nu));
        break;
      case BSBASIS_EXTRAPOLATE_CONSTANT: {
        std::vector<double> b = left ? scaled_piece(g, J, uend, 0) : right_piece(g, uend, 0);
        if (nu > 0) std::fill(b.begin(), b.end(), 0.0);
        return put(J, b);
      }
      case BSBASIS_EXTRAPOLATE_LINEAR: {
        if (!finite) break;
        // value + (x - end) * slope; the first derivative is the end's
        // slope, higher ones 0.
        const auto end_piece = [&](int d) {
          return left ? scaled_piece(g, J, uend, d) : right_piece(g, uend, d);
        };
        std::vector<double> v = end_piece(nu <= 1 ? nu : 0);
        std::vector<double> s(order, 0.0);
        if (nu > 1) std::fill(v.begin(), v.end(), 0.0);
        if (nu == 0) s = end_piece(1);
        for (int q = 0; q < order; ++q) v[q] = v[q] + (x - end) * s[q];
        return put(J, v);
      }
      default:
        break;
    }
  for (int q = 0; q < order; ++q) {
    j[q] = -1;
    B[q] = 0.0;
  }
  return false;
}

template <class G>
Rows rows(const G &g, int nu, int mode, const std::vector<double> &x) {
  Rows r;
  r.order = g.order;
  if (mode == BSBASIS_EXTRAPOLATE_ERROR)
    for (double v : x)
      if (!(v >= g.lo() && v <= g.hi())) {
        r.status = BSBASIS_ERROR_RANGE;
        return r;
      }
  r.j.assign(x.size() * g.order, 0);
  r.B.assign(x.size() * g.order, 0.0);
  r.empty.assign(x.size(), false);
  for (size_t p = 0; p < x.size(); ++p) {
    const size_t e = p * g.order;
    r.empty[p] = !row(g, nu, mode, x[p], &r.j[e], &r.B[e]);
    r.nempty += r.empty[p];
  }
  return r;
}

// Whether the knots meet the header's rules (status BSBASIS_ERROR_KNOTS
// otherwise), for order >= 1, order <= nj <= nt - order.
inline bool usable_knots(const std::vector<double> &t, int order, long nj) {
  const long nt = long(t.size());
  if (nt < 2L * order) return false;
  for (long c = 0; c < nt; ++c) {
    if (!std::isfinite(t[c])) return false;
    if (c > 0 && !(t[c - 1] <= t[c])) return false;
    if (c > 0 && t[c] > t[c - 1] && t[c] - t[c - 1] < 1.0 / DBL_MAX) return false;
  }
  if (!std::isfinite(t[nt - 1] - t[0])) return false;
  return t[order - 1] < t[nj];
}

inline Rows design(const std::vector<double> &t, int order, int nj, int nu, int mode,
                   const std::vector<double> &x) {
  return rows(OnKnots{t, order, nj}, nu, mode, x);
}

inline Rows uniform_design(double origin, double spacing, long n, int order, int nu,
                           int mode, const std::vector<double> &x) {
  return rows(OnGrid{origin, spacing, n, order}, nu, mode, x);
}

// The knots of the periodic basis on breaks u[0 .. m]: the breaks continued
// by a period on both sides, order - 1 knots each.
inline std::vector<double> periodic_knots(const std::vector<double> &u, int order) {
  const int m = int(u.size()) - 1, deg = order - 1;
  const double P = u[m] - u[0];
  std::vector<double> t;
  for (int q = 0; q < deg; ++q) t.push_back(u[m - deg + q] - P);
  t.insert(t.end(), u.begin(), u.end());
  for (int q = 0; q < deg; ++q) t.push_back(u[1 + q] + P);
  return t;
}

// Columns c mod m, each block sorted by column.
inline Rows periodic_design(const std::vector<double> &u, int order, int nu,
                            const std::vector<double> &x) {
  const int m = int(u.size()) - 1;
  const std::vector<double> t = periodic_knots(u, order);
  Rows r = design(t, order, m + order - 1, nu, BSBASIS_EXTRAPOLATE_PERIODIC, x);
  for (size_t p = 0; p < x.size(); ++p) {
    if (r.empty[p]) continue;
    std::vector<std::pair<int32_t, double>> block;
    for (int q = 0; q < order; ++q) {
      const size_t e = p * order + q;
      block.push_back({r.j[e] % m, r.B[e]});
    }
    std::sort(block.begin(), block.end(),
              [](const std::pair<int32_t, double> &a, const std::pair<int32_t, double> &b) {
                return a.first < b.first;
              });
    for (int q = 0; q < order; ++q) {
      r.j[p * order + q] = block[q].first;
      r.B[p * order + q] = block[q].second;
    }
  }
  return r;
}

}  // namespace ref

#endif

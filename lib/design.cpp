// The extension API's evaluations on knots and on the uniform grid:
// derivatives of any order and the extrapolation modes (composite.cpp
// builds the periodic and tensor-product bases on them).
//
// Abscissae go in sub-tiles that stay in cache.  The evaluation kernels form
// a sub-tile's blocks, stopped nu levels below the top; the derivative
// levels follow on the same sub-tile; the few rows outside the base interval
// (and those at its right end, a limit from the left) are then formed one
// block at a time with the same arithmetic, on the end interval.
#include "design.hpp"

#include <float.h>
#include <math.h>
#include <string.h>

#include <type_traits>

#include "common.hpp"
#include "dispatch.hpp"
#include "kernels.hpp"
#include "numeric.hpp"
#include "span_table.hpp"

namespace bsbasis {
namespace {

constexpr int32_t kModes = kModeCount;
constexpr size_t kStackEntries = 16384;

// Abscissae per sub-tile: a few thousand entries, at least 16 abscissae.
int sub_tile(int order) { return max_int(16, min_int(4096, 16384 / order)); }

// ------------------------------------------------------------- knot access

// A knot sequence: knot c, and the reciprocal span of column c at width w.
struct KnotSeq {
  const double *t;
  int nt;
  double at(index_t c) const { return t[c]; }
  double rs(index_t c, int w) const {
    return c >= 0 && c < nt ? reciprocal_span(t, nt, c, w) : 0.0;
  }
};

// The integer grid, knot c at c: every span at width w is w.
struct IntegerKnots {
  double at(index_t c) const { return static_cast<double>(c); }
  double rs(index_t, int w) const { return uniform_reciprocal_span(w + 1); }
};

// Spans of the columns of one block at one level, from a knot functor.
template <class K>
struct BlockSpans {
  const K &k;
  const int *jb;
  int w;
  double at(int q) const { return k.rs(jb[q], w); }
  double above(int q) const { return k.rs(static_cast<index_t>(jb[q]) + 1, w); }
};

struct KeepEvery {
  double operator()(int, double v) const { return v; }
};

// ----------------------------------------------------------- one block

// Level L of the derivative on one block with columns jb: from the
// order-(L-1) values (or derivatives) at positions order-L+1 .. order-1, the
// next derivative of the order-L functions at positions order-L .. order-1.
template <class K>
void derive_level(const K &k, const int *jb, double *b, int order, int L) {
  const int s = order - L;
  derive_values<double>(BlockSpans<K>{k, jb + s, L - 1}, KeepEvery{}, b + s, L - 1,
                        static_cast<double>(L - 1));
}

// Block of the interval J at x, whether or not x lies in it: the polynomial
// pieces of that interval, their nu-th derivatives.  Columns go to jb.
template <class K>
void forced_block(const K &k, int order, index_t J, double x, int nu, int *jb, double *b) {
  const int deg = order - 1;
  const index_t c0 = J - deg;
  for (int q = 0; q < order; ++q) {
    jb[q] = static_cast<int>(c0 + q);
    b[q] = 0.0;
  }
  if (nu >= order) return;
  b[deg] = 1.0;
  const auto dx = [&](int q) { return x - k.at(c0 + q); };
  const auto rs = [&](int L, int q) { return k.rs(c0 + q, L - 1); };
  for (int L = 2; L <= order - nu; ++L) raise_level<double>(dx, rs, L, deg, b);
  for (int L = order - nu + 1; L <= order; ++L) derive_level(k, jb, b, order, L);
}

// The row at the right end uhi of the base interval is the limit from the
// left on the last interval J that is not empty.  The recurrence forms it
// with rounding: a column whose support ends at uhi gets a few ulps where
// its limit is 0.  Column c = J - deg + q ends at uhi when knot c + order is
// uhi; then uhi is a knot of multiplicity m = c + order - J in its support
// and the function falls to 0 there like (uhi - x)^(order - m), so its
// derivatives of order nu < order - m = deg - q have the limit 0 exactly.
// When every column but the top has the limit 0 (a clamped end), the values
// sum to 1: the top is 1.
template <class K>
void exact_right_limit(const K &k, int order, index_t J, double uhi, int nu, double *b) {
  const int deg = order - 1;
  const index_t c0 = J - deg;
  for (int q = 0; q < deg; ++q)
    if (k.at(c0 + q + order) == uhi && nu < deg - q) b[q] = 0.0;
  if (nu == 0 && k.at(J + order) == uhi) b[deg] = 1.0;
}

// ------------------------------------------------------------ end blocks

// What the rows outside the base interval [lo, hi] and at hi take: the
// blocks at the ends, formed once per call.  For the uniform grid they are
// formed in grid coordinates and scaled by 1/spacing per derivative.
struct Ends {
  int order = 0, nu = 0, mode = 0;
  double lo = 0, hi = 0;
  index_t Jlo = 0, Jhi = 0;
  int *cols = nullptr;     // 3 blocks: left, right, scratch
  double *right = nullptr; // the row at hi: limits from the left
  double *end = nullptr;   // 2 blocks: the values CONSTANT or LINEAR take
  double *slope = nullptr; // 2 blocks: LINEAR's first derivatives
};

void write_block(int *j, double *B, const int *jb, const double *b, int order) {
  for (int q = 0; q < order; ++q) {
    j[q] = jb[q];
    B[q] = b[q];
  }
}

void empty_block(int *j, double *B, int order) {
  for (int q = 0; q < order; ++q) {
    j[q] = -1;
    B[q] = 0.0;
  }
}

// A row outside [lo, hi), NaN included: x the abscissa as given, at_hi
// whether it lies at hi (after any wrap), ux its coordinate in k.  Returns
// whether the row is empty.
template <class K>
bool fix_row(const K &k, const Ends &e, double x, bool at_hi, double ux, double scale,
             int *jb, double *b) {
  const int o = e.order;
  if (at_hi) {
    write_block(jb, b, e.cols + o, e.right, o);
    return false;
  }
  const bool left = x < e.lo;
  const bool finite = is_finite(x);
  if (x == x) switch (e.mode) {
      case BSBASIS_EXTRAPOLATE_CONTINUE:
        if (!finite) break;
        forced_block(k, o, left ? e.Jlo : e.Jhi, ux, e.nu, jb, b);
        for (int d = 0; d < e.nu && scale != 1.0; ++d)
          for (int q = 0; q < o; ++q) b[q] = b[q] / scale;
        return false;
      case BSBASIS_EXTRAPOLATE_CONSTANT:
        write_block(jb, b, e.cols + (left ? 0 : o), e.end + (left ? 0 : o), o);
        return false;
      case BSBASIS_EXTRAPOLATE_LINEAR: {
        if (!finite) break;
        const int side = left ? 0 : o;
        write_block(jb, b, e.cols + side, e.end + side, o);
        const double dx = x - (left ? e.lo : e.hi);
        for (int q = 0; q < o; ++q) b[q] = b[q] + dx * e.slope[side + q];
        return false;
      }
      default:
        break;
    }
  empty_block(jb, b, o);
  return true;
}

// The end blocks in coordinates of k, with ulo and uhi the ends there.
template <class K>
void form_ends(const K &k, double ulo, double uhi, double scale, Ends &e, double *store) {
  const int o = e.order;
  e.right = store;
  e.end = store + o;
  e.slope = store + 3 * o;
  int *tmp = e.cols + 2 * o;
  const auto scaled = [&](double *b, int times) {
    for (int d = 0; d < times && scale != 1.0; ++d)
      for (int q = 0; q < o; ++q) b[q] = b[q] / scale;
  };
  forced_block(k, o, e.Jhi, uhi, e.nu, e.cols + o, e.right);
  exact_right_limit(k, o, e.Jhi, uhi, e.nu, e.right);
  scaled(e.right, e.nu);
  for (int side = 0; side < 2; ++side) {
    int *jb = e.cols + side * o;
    const index_t J = side ? e.Jhi : e.Jlo;
    const double u = side ? uhi : ulo;
    // CONSTANT: the values, derivatives 0.  LINEAR: value and slope
    // continued, so that its nu-th derivative is the end's up to nu = 1.
    const int vnu = e.mode == BSBASIS_EXTRAPOLATE_LINEAR && e.nu <= 1 ? e.nu : 0;
    forced_block(k, o, J, u, vnu, jb, e.end + side * o);
    if (side) exact_right_limit(k, o, J, u, vnu, e.end + side * o);
    scaled(e.end + side * o, vnu);
    const bool zero = e.mode == BSBASIS_EXTRAPOLATE_CONSTANT ? e.nu > 0 : e.nu > 1;
    if (zero)
      for (int q = 0; q < o; ++q) e.end[side * o + q] = 0.0;
    double *sl = e.slope + side * o;
    if (e.mode == BSBASIS_EXTRAPOLATE_LINEAR && e.nu == 0) {
      forced_block(k, o, J, u, 1, tmp, sl);
      if (side) exact_right_limit(k, o, J, u, 1, sl);
      scaled(sl, 1);
    } else {
      for (int q = 0; q < o; ++q) sl[q] = 0.0;
    }
  }
}

// -------------------------------------------------------------- the spans

// The derivative levels' span tables, one per level, each over every knot:
// formed once per call where they pay, else spans are formed at each use.
class LevelTables {
 public:
  LevelTables(const double *t, int nt, int order, int nu, index_t nx)
      : nt_(nt), first_(order - nu + 1), levels_(nu < order ? nu : 0),
        store_(pays(nt, nx, order, levels_) ? static_cast<size_t>(nt) * levels_ : 0) {
    if (levels_ <= 0 || !pays(nt, nx, order, levels_) || !store_.data()) return;
    for (int L = first_; L <= order; ++L)
      for (int c = 0; c < nt; ++c) table(L)[c] = reciprocal_span(t, nt, c, L - 1);
    ok_ = true;
  }
  bool ok() const { return ok_; }
  double *table(int L) { return store_.data() + static_cast<size_t>(L - first_) * nt_; }
  // Indexed by level, for the levels kernel (orders up to kMaxFixed).
  const double *const *all() {
    for (int L = first_; L <= kMaxFixed && L < first_ + levels_; ++L) at_[L] = table(L);
    return at_;
  }

 private:
  static bool pays(int nt, index_t nx, int order, int levels) {
    if (levels <= 0) return false;
    const double n = static_cast<double>(nt);
    return n <= 1024.0 || n <= 2.0 * static_cast<double>(nx) * order;
  }
  int nt_, first_, levels_;
  Scratch<double, 1024> store_;
  const double *at_[kMaxFixed + 1] = {};
  bool ok_ = false;
};

// A sub-tile's blocks while their derivatives form, in the core's cache:
// blocks of L entries, L growing by one per level up to the order, so that
// the caller's arrays are only written, once, at the end.
struct Compact {
  int32_t *j;
  double *b;
};

// Blocks of L entries become blocks of L + 1, in place from the back: the
// new position 0 holds 0 in the column before the old position 0.  Width
// is an int, or a std::integral_constant for the common short blocks.
template <class Width>
void widen_blocks(Compact c, int n, Width L) {
  for (int p = n - 1; p >= 0; --p) {
    const index_t from = block_offset(p, L), to = block_offset(p, L + 1);
    if constexpr (std::is_same_v<Width, int>) {
      for (int q = L - 1; q >= 0; --q) {
        c.j[to + 1 + q] = c.j[from + q];
        c.b[to + 1 + q] = c.b[from + q];
      }
    } else {
      int32_t jb[L];
      double bb[L];
      memcpy(jb, c.j + from, sizeof(int32_t) * L);
      memcpy(bb, c.b + from, sizeof(double) * L);
      memcpy(c.j + to + 1, jb, sizeof(int32_t) * L);
      memcpy(c.b + to + 1, bb, sizeof(double) * L);
    }
    c.j[to] = c.j[to + 1] - 1;
    c.b[to] = 0.0;
  }
}

void widen(Compact c, int n, int L) {
  switch (L) {
    case 1: return widen_blocks(c, n, std::integral_constant<int, 1>{});
    case 2: return widen_blocks(c, n, std::integral_constant<int, 2>{});
    case 3: return widen_blocks(c, n, std::integral_constant<int, 3>{});
    case 4: return widen_blocks(c, n, std::integral_constant<int, 4>{});
    case 5: return widen_blocks(c, n, std::integral_constant<int, 5>{});
    default: return widen_blocks(c, n, L);
  }
}

// The nu-th derivatives of n blocks of the order-`order` basis in c, from
// blocks of L0 = order - nu + 1 entries holding the order - nu values above
// a 0 (as narrow leaves them): the levels L0 .. order, each by level(L) on
// blocks of L.
template <class Level>
void derive_compact(Compact c, int n, int order, int nu, const Level &level) {
  const int L0 = order - nu + 1;
  for (int L = L0; L <= order; ++L) {
    level(L);
    if (L < order) widen(c, n, L);
  }
}

// The several-level vector kernel of an order, where there is one.
LevelsKernel levels_for(int order) {
  return order >= kMinFixed && order <= kMaxFixed ? kernels().levels[order] : nullptr;
}

// The span tables of the integer grid for the levels kernel: for every
// level, the one span of that level at each of 2*order columns.
class GridSpans {
 public:
  explicit GridSpans(int order) {
    for (int L = 1; L <= kMaxFixed && L <= order; ++L) {
      for (int c = 0; c < 2 * kMaxFixed; ++c) spans_[L][c] = uniform_reciprocal_span(L);
      at_[L] = spans_[L];
    }
  }
  const double *const *all() const { return at_; }

 private:
  double spans_[kMaxFixed + 1][2 * kMaxFixed];
  const double *at_[kMaxFixed + 1] = {};
};

// The vector kernel of order L where the dispatched table has one.
DerivKernel lanes_for(int L) {
  return L >= kMinFixed && L <= kMaxFixed ? kernels().deriv[L] : nullptr;
}

// One level of blocks of L on a knot sequence, with the span table where
// it paid.  Blocks not in range (top column below L - 1) are left: their
// rows are formed later.
void knot_level(const double *t, int nt, LevelTables &tables, Compact c, int n, int L) {
  const DerivKernel lanes = lanes_for(L);
  if (tables.ok() && lanes) {
    lanes(tables.table(L), nt, c.j, c.b, n);
    return;
  }
  for (int p = 0; p < n; ++p) {
    const int32_t *jb = c.j + block_offset(p, L);
    double *b = c.b + block_offset(p, L);
    if (jb[L - 1] < L - 1) continue;
    if (tables.ok())
      derive_with_table(tables.table(L), nt, jb, b, L, static_cast<double>(L - 1));
    else
      derive_level(KnotSeq{t, nt}, jb, b, L, L);
  }
}

// The same on the integer grid, where every span of a level is the same:
// the vector kernel takes a table of that span and, for columns, 0 .. L-1
// repeated (pattern).
void grid_level(Compact c, int32_t *pattern, int n, int L) {
  const DerivKernel lanes = lanes_for(L);
  if (lanes) {
    double s[2 * kMaxFixed];
    for (int q = 0; q < 2 * L; ++q) s[q] = uniform_reciprocal_span(L);
    for (index_t e = 0; e < block_offset(n, L); ++e) pattern[e] = static_cast<int32_t>(e % L);
    lanes(s, 2 * L, pattern, c.b, n);
    return;
  }
  for (int p = 0; p < n; ++p) {
    const int32_t *jb = c.j + block_offset(p, L);
    if (jb[L - 1] >= L - 1) derive_level(IntegerKnots{}, jb, c.b + block_offset(p, L), L, L);
  }
}

// The kernels of fixed order run fastest at the full order: they form the
// blocks of `order` stopped at order - nu, in w; the top order - nu + 1
// positions (the lowest of them, unwritten, as 0) go to blocks of that
// many in c, where the derivative levels start.
void narrow(Compact w, Compact c, int n, int order, int nu) {
  const int L0 = order - nu + 1;
  for (int p = 0; p < n; ++p) {
    const index_t from = block_offset(p, order) + nu - 1, to = block_offset(p, L0);
    for (int q = 0; q < L0; ++q) c.j[to + q] = w.j[from + q];
    c.b[to] = 0.0;
    for (int q = 1; q < L0; ++q) c.b[to + q] = w.b[from + q];
  }
}

void copy_out(Compact c, int n, int order, int32_t *j, double *B) {
  memcpy(j, c.j, sizeof(int32_t) * block_offset(n, order));
  memcpy(B, c.b, sizeof(double) * block_offset(n, order));
}

// ---------------------------------------------------------- the evaluation

// One call's shape: what the sub-tiles share.
struct Plan {
  int order, nu, mode, nj;
  Ends ends;
  int *iscratch;
  bool inside;  // every abscissa lies in [lo, hi) and stays there: no row to fix
  Compact compact, wide;
};

void write_rows(int32_t *i, index_t p0, int n, int order) {
  for (int m = 0; m < n; ++m)
    for (int q = 0; q < order; ++q)
      i[block_offset(p0 + m, order) + q] = static_cast<int32_t>(p0 + m);
}

// Numpy's floating remainder, the sign of the divisor: a - floor(a/b)*b as
// it rounds there, in [0, b] for b > 0.
double floor_mod(double a, double b) {
  double r = fmod(a, b);
  if (r != 0.0) {
    if ((b < 0.0) != (r < 0.0)) r = r + b;
  } else {
    r = copysign(0.0, b);
  }
  return r;
}

// x wrapped to lo + (x - lo) mod (hi - lo), the difference and the
// remainder as numpy forms them, for every x: a difference that rounds to
// the period wraps to lo, as hi does.  Where x - lo overflows, the exact
// remainders of x and lo give the one of their difference.  x may land on
// hi by rounding; non-finite x goes to NaN.
double wrap(double x, double lo, double hi) {
  if (!is_finite(x)) return NAN;
  const double period = hi - lo, d = x - lo;
  if (d >= 0.0 && d < period) return lo + d;  // the remainder is d itself
  if (is_finite(d)) return lo + floor_mod(d, period);
  return lo + floor_mod(floor_mod(x, period) - floor_mod(lo, period), period);
}

// Sub-tiles on a knot sequence.  wrapped: a buffer for the wrapped
// abscissae of PERIODIC.
int64_t knot_tiles(const double *t, int nt, const Plan &pl, LevelTables &tables,
                   const double *x, index_t nx, int32_t *i, int32_t *j, double *B,
                   double *wrapped) {
  const int o = pl.order, nu = pl.nu;
  const int stop = nu >= o ? 1 : o - nu;
  const int S = sub_tile(o);
  const KnotSeq k{t, nt};
  int64_t empty = 0;
  for (index_t p0 = 0; p0 < nx; p0 += S) {
    const int n = static_cast<int>(nx - p0 < S ? nx - p0 : S);
    const index_t e0 = block_offset(p0, o);
    const double *u = x + p0;
    if (pl.mode == BSBASIS_EXTRAPOLATE_PERIODIC) {
      for (int m = 0; m < n; ++m) wrapped[m] = wrap(x[p0 + m], pl.ends.lo, pl.ends.hi);
      u = wrapped;
    }
    if (nu == 0 || nu >= o) {
      knot_blocks(t, nt, u, n, pl.iscratch, j + e0, B + e0, stop, o, pl.nj);
      if (nu >= o)
        for (index_t e = e0; e < e0 + static_cast<index_t>(n) * o; ++e) B[e] = 0.0;
    } else {
      const Compact c = pl.compact, w = pl.wide;
      const LevelsKernel levels = levels_for(o);
      if (levels && tables.ok()) {
        // Columns straight to the caller, values through the levels.
        knot_blocks(t, nt, u, n, pl.iscratch, j + e0, w.b, o - nu, o, pl.nj);
        levels(tables.all(), nu, nt, j + e0, w.b, B + e0, n);
      } else {
        knot_blocks(t, nt, u, n, pl.iscratch, w.j, w.b, o - nu, o, pl.nj);
        narrow(w, c, n, o, nu);
        derive_compact(c, n, o, nu, [&](int L) { knot_level(t, nt, tables, c, n, L); });
        copy_out(c, n, o, j + e0, B + e0);
      }
    }
    for (int m = 0; m < n && !pl.inside; ++m) {
      const double um = u[m];
      if (um >= pl.ends.lo && um < pl.ends.hi) continue;
      const index_t e = block_offset(p0 + m, o);
      empty += fix_row(k, pl.ends, x[p0 + m], um == pl.ends.hi, um, 1.0, j + e, B + e);
    }
    if (i) write_rows(i, p0, n, o);
  }
  return empty;
}

// The uniform grid origin + m*spacing.
struct Grid {
  double origin, spacing;
  int deg, n;
  bool plain() const { return origin == 0.0 && spacing == 1.0; }
  double knot(double m) const { return origin + spacing * m; }

  // x's coordinate in the grid's units, placed in the interval that x has
  // among the knots as they round: on a knot it is that integer exactly,
  // between knots strictly between their integers.  x in [lo, hi).
  double coordinate(double x) const {
    const double r = (x - origin) / spacing;
    double J = floor(r);
    J = J < deg ? deg : (J > n - 1 ? n - 1 : J);
    for (int step = 0; step < 64; ++step) {
      if (J > deg && x < knot(J))
        J = J - 1.0;
      else if (J < n - 1 && x >= knot(J + 1.0))
        J = J + 1.0;
      else
        break;
    }
    if (x == knot(J)) return J;
    const double lo = nextafter(J, J + 1.0), hi = nextafter(J + 1.0, J);
    return r < lo ? lo : (r > hi ? hi : r);
  }
};

int64_t grid_tiles(const Grid &g, const Plan &pl, const double *x, index_t nx, int32_t *i,
                   int32_t *j, double *B, double *u, int *pattern) {
  const int o = pl.order, nu = pl.nu;
  const int stop = nu >= o ? 1 : o - nu;
  const int S = sub_tile(o);
  const Ends &e = pl.ends;
  const bool wrapping = pl.mode == BSBASIS_EXTRAPOLATE_PERIODIC;
  const GridSpans grid(o);
  if (nu > 0 && nu < o && levels_for(o))
    for (index_t e = 0; e < block_offset(S, o); ++e) pattern[e] = static_cast<int32_t>(e % o);
  int64_t empty = 0;
  for (index_t p0 = 0; p0 < nx; p0 += S) {
    const int n = static_cast<int>(nx - p0 < S ? nx - p0 : S);
    const index_t e0 = block_offset(p0, o);
    for (int m = 0; m < n; ++m) {
      const double xv = wrapping ? wrap(x[p0 + m], e.lo, e.hi) : x[p0 + m];
      u[m] = xv >= e.lo && xv < e.hi ? (g.plain() ? xv : g.coordinate(xv)) : NAN;
    }
    if (nu == 0 || nu >= o) {
      integer_blocks(u, n, pl.iscratch, j + e0, B + e0, stop, o, pl.nj);
      if (nu >= o)
        for (index_t q = e0; q < e0 + static_cast<index_t>(n) * o; ++q) B[q] = 0.0;
    } else {
      const Compact c = pl.compact, w = pl.wide;
      const LevelsKernel levels = levels_for(o);
      if (levels) {
        // Columns straight to the caller, values through the levels, whose
        // spans the grid's tables give for the repeated columns 0 .. o-1.
        integer_blocks(u, n, pl.iscratch, j + e0, w.b, o - nu, o, pl.nj);
        levels(grid.all(), nu, 2 * o, pattern, w.b, B + e0, n);
      } else {
        integer_blocks(u, n, pl.iscratch, w.j, w.b, o - nu, o, pl.nj);
        narrow(w, c, n, o, nu);
        derive_compact(c, n, o, nu, [&](int L) { grid_level(c, pattern, n, L); });
        copy_out(c, n, o, j + e0, B + e0);
      }
      for (int d = 0; d < nu && g.spacing != 1.0; ++d)
        for (index_t q = e0; q < e0 + block_offset(n, o); ++q) B[q] = B[q] / g.spacing;
    }
    for (int m = 0; m < n && !pl.inside; ++m) {
      if (u[m] == u[m]) continue;
      const double xm = x[p0 + m];
      const double xv = wrapping ? wrap(xm, e.lo, e.hi) : xm;
      const index_t at = block_offset(p0 + m, o);
      empty += fix_row(IntegerKnots{}, e, xm, xv == e.hi, (xm - g.origin) / g.spacing,
                       g.spacing, j + at, B + at);
    }
    if (i) write_rows(i, p0, n, o);
  }
  return empty;
}

int check_call(int32_t order, int32_t nu, int32_t mode, const double *x, index_t nx,
               const int32_t *i, const int32_t *j, const double *B) {
  if (nu < 0) return BSBASIS_ERROR_ORDER;
  if (mode < 0 || mode >= kModes) return BSBASIS_ERROR_MODE;
  if (nx < 0 || nx > INT64_MAX / order) return BSBASIS_ERROR_COUNT;
  if (i && nx > INT32_MAX) return BSBASIS_ERROR_COUNT;
  if (nx > 0 && (!x || !j || !B)) return BSBASIS_ERROR_NULL;
  return BSBASIS_OK;
}

// Where the abscissae lie against [lo, hi]: whether every one lies in the
// closed interval (what ERROR needs; NaN does not) and whether every one
// lies in [lo, hi) (then no row needs more than the kernels).  Two lanes at
// a time: this reads every abscissa once more, so it had better be cheap.
struct Coverage {
  bool closed, half_open;
};

typedef double v2d_t __attribute__((vector_size(16)));
typedef long long v2l_t __attribute__((vector_size(16)));

Coverage coverage(const double *x, index_t nx, double lo, double hi) {
  const v2d_t vlo = {lo, lo}, vhi = {hi, hi};
  v2l_t closed = {-1, -1}, open = {-1, -1};
  index_t p = 0;
  for (; p + 2 <= nx; p += 2) {
    v2d_t v;
    __builtin_memcpy(&v, x + p, sizeof v);
    const v2l_t ge = v >= vlo;
    closed &= ge & (v <= vhi);
    open &= ge & (v < vhi);
  }
  bool c = closed[0] & closed[1], h = open[0] & open[1];
  for (; p < nx; ++p) {
    c = c & (x[p] >= lo) & (x[p] <= hi);
    h = h & (x[p] >= lo) & (x[p] < hi);
  }
  return Coverage{c, h};
}

}  // namespace

int design_sub_tile(int order) { return sub_tile(order); }

bool within_closed(const double *x, index_t nx, double lo, double hi) {
  return coverage(x, nx, lo, hi).closed;
}

int check_basis(const double *t, int64_t nt, int32_t order, int64_t nj) {
  if (order < 1) return BSBASIS_ERROR_ORDER;
  if (nt < 0 || nt > INT32_MAX) return BSBASIS_ERROR_COUNT;
  if (!t) return BSBASIS_ERROR_NULL;
  if (nt < 2 * static_cast<int64_t>(order)) return BSBASIS_ERROR_KNOTS;
  if (nj < order || nj > nt - order) return BSBASIS_ERROR_COLUMNS;
  for (int64_t c = 0; c < nt; ++c) {
    if (!is_finite(t[c])) return BSBASIS_ERROR_KNOTS;
    if (c == 0) continue;
    const double gap = t[c] - t[c - 1];
    // A gap below 1/DBL_MAX has a reciprocal that overflows.
    if (!(gap >= 0.0) || (gap > 0.0 && gap * DBL_MAX < 1.0)) return BSBASIS_ERROR_KNOTS;
  }
  if (!is_finite(t[nt - 1] - t[0])) return BSBASIS_ERROR_KNOTS;
  if (!(t[order - 1] < t[nj])) return BSBASIS_ERROR_KNOTS;
  return BSBASIS_OK;
}

namespace {

// A call's scratch and plan: the end blocks, a sub-tile's abscissae, rows
// and compact blocks.  ok() is false when an allocation failed.
class Call {
 public:
  Call(int order, int nu, int mode, int nj, double lo, double hi, Coverage cover)
      : S_(sub_tile(order)), store_(static_cast<size_t>(order) * 5),
        cols_(static_cast<size_t>(order) * 3), buf_(static_cast<size_t>(S_)),
        rows_(static_cast<size_t>(S_) * order), cj_(derives(nu, order) ? 2 * compact(order) : 0),
        cb_(derives(nu, order) ? 2 * compact(order) : 0) {
    pl.order = order;
    pl.nu = nu;
    pl.mode = mode;
    pl.nj = nj;
    pl.iscratch = rows_.data();
    // A wrapped abscissa may land on hi: PERIODIC always looks.
    pl.inside = cover.half_open && mode != BSBASIS_EXTRAPOLATE_PERIODIC;
    const size_t half = derives(nu, order) ? compact(order) : 0;
    pl.compact = Compact{cj_.data(), cb_.data()};
    pl.wide = Compact{cj_.data() + half, cb_.data() + half};
    Ends &e = pl.ends;
    e.order = order;
    e.nu = nu;
    e.mode = mode;
    e.lo = lo;
    e.hi = hi;
    e.Jlo = order - 1;
    e.Jhi = nj - 1;
    e.cols = cols_.data();
  }
  bool ok() {
    return store_.data() && cols_.data() && buf_.data() && rows_.data() && cj_.data() &&
           cb_.data();
  }
  double *store() { return store_.data(); }
  double *buffer() { return buf_.data(); }
  static bool derives(int nu, int order) { return nu > 0 && nu < order; }
  size_t compact(int order) const { return static_cast<size_t>(S_) * order; }

  Plan pl{};

 private:
  int S_;
  Scratch<double, 64> store_;
  Scratch<int, 24> cols_;
  Scratch<double, 4096> buf_;
  Scratch<int, kStackEntries> rows_;
  Scratch<int32_t, 1> cj_;
  Scratch<double, 1> cb_;
};

}  // namespace

int design_checked(const double *t, int nt, int order, int nj, int nu, int mode,
                   const double *x, index_t nx, int32_t *i, int32_t *j, double *B,
                   int64_t *nempty) {
  nu = min_int(nu, order);  // every order from `order` on gives zeros
  const double lo = t[order - 1], hi = t[nj];
  const Coverage cover = coverage(x, nx, lo, hi);
  if (mode == BSBASIS_EXTRAPOLATE_ERROR && !cover.closed) return BSBASIS_ERROR_RANGE;
  if (nempty) *nempty = 0;
  if (nx == 0) return BSBASIS_OK;
  Call call(order, nu, mode, nj, lo, hi, cover);
  if (!call.ok()) return BSBASIS_ERROR_MEMORY;
  // The end pieces are those of the end intervals that are not empty: a
  // knot repeated at an end of the base interval leaves an empty one there.
  Ends &e = call.pl.ends;
  while (t[e.Jlo + 1] == lo) ++e.Jlo;
  while (t[e.Jhi] == hi) --e.Jhi;
  form_ends(KnotSeq{t, nt}, lo, hi, 1.0, e, call.store());
  LevelTables tables(t, nt, order, nu, nx);
  const int64_t empty = knot_tiles(t, nt, call.pl, tables, x, nx, i, j, B, call.buffer());
  if (nempty) *nempty = empty;
  return BSBASIS_OK;
}

int check_grid(double origin, double spacing, int64_t n, int32_t order) {
  if (order < 1) return BSBASIS_ERROR_ORDER;
  if (n < order || n > INT32_MAX - static_cast<int64_t>(order)) return BSBASIS_ERROR_COLUMNS;
  if (!is_finite(origin) || !is_finite(spacing) || !(spacing > 0.0))
    return BSBASIS_ERROR_KNOTS;
  const double span = static_cast<double>(n + order - 1) * spacing;
  const double last = origin + span;
  if (!is_finite(span) || !is_finite(last)) return BSBASIS_ERROR_KNOTS;
  // Distinct knots need a spacing well above the resolution of the values.
  double big = fabs(origin) > fabs(last) ? fabs(origin) : fabs(last);
  if (span > big) big = span;
  const double resolution = nextafter(big, INFINITY) - big;
  if (!(spacing > 2.0 * resolution)) return BSBASIS_ERROR_KNOTS;
  return BSBASIS_OK;
}

void uniform_bounds(double origin, double spacing, int n, int order, double *lo, double *hi) {
  const Grid g{origin, spacing, order - 1, n};
  *lo = g.plain() ? order - 1.0 : g.knot(order - 1.0);
  *hi = g.plain() ? static_cast<double>(n) : g.knot(n);
}

int uniform_checked(double origin, double spacing, int n, int order, int nu, int mode,
                    const double *x, index_t nx, int32_t *i, int32_t *j, double *B,
                    int64_t *nempty) {
  nu = min_int(nu, order);  // every order from `order` on gives zeros
  const Grid g{origin, spacing, order - 1, n};
  double lo, hi;
  uniform_bounds(origin, spacing, n, order, &lo, &hi);
  const Coverage cover = coverage(x, nx, lo, hi);
  if (mode == BSBASIS_EXTRAPOLATE_ERROR && !cover.closed) return BSBASIS_ERROR_RANGE;
  if (nempty) *nempty = 0;
  if (nx == 0) return BSBASIS_OK;
  Call call(order, nu, mode, n, lo, hi, cover);
  Scratch<int, kStackEntries> pattern(static_cast<size_t>(sub_tile(order)) * order);
  if (!call.ok() || !pattern.data()) return BSBASIS_ERROR_MEMORY;
  form_ends(IntegerKnots{}, order - 1.0, static_cast<double>(n), spacing, call.pl.ends,
            call.store());
  const int64_t empty = grid_tiles(g, call.pl, x, nx, i, j, B, call.buffer(), pattern.data());
  if (nempty) *nempty = empty;
  return BSBASIS_OK;
}

int design(const double *t, int64_t nt, int32_t order, int64_t nj, int32_t nu, int32_t mode,
           const double *x, int64_t nx, int32_t *i, int32_t *j, double *B, int64_t *nempty) {
  int st = check_basis(t, nt, order, nj);
  if (st == BSBASIS_OK) st = check_call(order, nu, mode, x, nx, i, j, B);
  if (st != BSBASIS_OK) return st;
  return design_checked(t, static_cast<int>(nt), order, static_cast<int>(nj), nu, mode, x, nx,
                        i, j, B, nempty);
}

int uniform_design(double origin, double spacing, int64_t n, int32_t order, int32_t nu,
                   int32_t mode, const double *x, int64_t nx, int32_t *i, int32_t *j,
                   double *B, int64_t *nempty) {
  int st = check_grid(origin, spacing, n, order);
  if (st == BSBASIS_OK) st = check_call(order, nu, mode, x, nx, i, j, B);
  if (st != BSBASIS_OK) return st;
  return uniform_checked(origin, spacing, static_cast<int>(n), order, nu, mode, x, nx, i, j, B,
                         nempty);
}

}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT int bsbasis_design(const double *t, int64_t nt, int32_t order, int64_t nj,
                                  int32_t nu, int32_t extrapolate, const double *x,
                                  int64_t nx, int32_t *i, int32_t *j, double *B,
                                  int64_t *nempty) {
  return design(t, nt, order, nj, nu, extrapolate, x, nx, i, j, B, nempty);
}

BSBASIS_EXPORT int bsbasis_uniform_design(double origin, double spacing, int64_t n,
                                          int32_t order, int32_t nu, int32_t extrapolate,
                                          const double *x, int64_t nx, int32_t *i,
                                          int32_t *j, double *B, int64_t *nempty) {
  return uniform_design(origin, spacing, n, order, nu, extrapolate, x, nx, i, j, B, nempty);
}

// The rows on uniform knots origin + m*spacing: derivatives of any order
// and the extrapolation modes, and the export bsbasis_uniform_design.  The
// blocks are formed in the knots' units, where knot m is m, and scaled by
// 1/spacing per derivative.
#include <math.h>

#include "bsbasis.h"
#include "blocks/entry_points.hpp"
#include "checks.hpp"
#include "core/common.hpp"
#include "eval/design.hpp"
#include "eval/plan.hpp"

namespace bsbasis {
namespace {

// Uniform knots origin + m*spacing.
struct UniformKnots {
  double origin, spacing;
  int deg, n;
  bool plain() const { return origin == 0.0 && spacing == 1.0; }
  double knot(double m) const { return origin + spacing * m; }

  // x's coordinate in the knots' units, placed in the interval that x has
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
    const double lo = above_whole(J), hi = below_whole(J + 1.0);
    return r < lo ? lo : (r > hi ? hi : r);
  }
};

// The rows on uniform knots, sub-tile by sub-tile; u holds a sub-tile's
// coordinates in the knots' units.
int64_t uniform_rows(const UniformKnots &g, const Plan &pl, const double *x, index_t nx,
                     int32_t *i, int32_t *j, double *B, double *u, int *pattern) {
  const int o = pl.order, nu = pl.nu;
  const int stop = nu >= o ? 1 : o - nu;
  const int S = sub_tile(o);
  const Ends &e = pl.ends;
  const bool wrapping = pl.mode == BSBASIS_EXTRAPOLATE_PERIODIC;
  const UniformSpans spans(o);
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
        // spans the tables of uniform knots give for the repeated columns 0 .. o-1.
        integer_blocks(u, n, pl.iscratch, j + e0, w.b, o - nu, o, pl.nj);
        levels(spans.all(), nu, 2 * o, pattern, w.b, B + e0, n);
      } else {
        integer_blocks(u, n, pl.iscratch, w.j, w.b, o - nu, o, pl.nj);
        narrow(w, c, n, o, nu);
        derive_compact(c, n, o, nu, [&](int L) { uniform_level(c, pattern, n, L); });
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

}  // namespace

void uniform_bounds(double origin, double spacing, int n, int order, double *lo, double *hi) {
  const UniformKnots g{origin, spacing, order - 1, n};
  *lo = g.plain() ? order - 1.0 : g.knot(order - 1.0);
  *hi = g.plain() ? static_cast<double>(n) : g.knot(n);
}

int uniform_checked(double origin, double spacing, int n, int order, int nu, int mode,
                    const double *x, index_t nx, int32_t *i, int32_t *j, double *B,
                    int64_t *nempty) {
  nu = min_int(nu, order);  // every order from `order` on gives zeros
  const UniformKnots g{origin, spacing, order - 1, n};
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
  const int64_t empty = uniform_rows(g, call.pl, x, nx, i, j, B, call.buffer(), pattern.data());
  if (nempty) *nempty = empty;
  return BSBASIS_OK;
}

int uniform_design(double origin, double spacing, int64_t n, int32_t order, int32_t nu,
                   int32_t mode, const double *x, int64_t nx, int32_t *i, int32_t *j,
                   double *B, int64_t *nempty) {
  int st = check_uniform(origin, spacing, n, order);
  if (st == BSBASIS_OK) st = check_call(order, nu, mode, x, nx, i, j, B);
  if (st != BSBASIS_OK) return st;
  return uniform_checked(origin, spacing, static_cast<int>(n), order, nu, mode, x, nx, i, j, B,
                         nempty);
}

}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT int bsbasis_uniform_design(double origin, double spacing, int64_t n,
                                          int32_t order, int32_t nu, int32_t extrapolate,
                                          const double *x, int64_t nx, int32_t *i,
                                          int32_t *j, double *B, int64_t *nempty) {
  return uniform_design(origin, spacing, n, order, nu, extrapolate, x, nx, i, j, B, nempty);
}

// The rows on a knot sequence: derivatives of any order and the
// extrapolation modes, and the export bsbasis_design.
#include "bsbasis.h"
#include "blocks/entry_points.hpp"
#include "checks.hpp"
#include "core/common.hpp"
#include "eval/design.hpp"
#include "eval/plan.hpp"

namespace bsbasis {
namespace {

// The rows on a knot sequence, sub-tile by sub-tile.  wrapped: a buffer
// for the wrapped abscissae of PERIODIC.
int64_t knot_rows(const double *t, int nt, const Plan &pl, LevelTables &tables,
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

}  // namespace

int design_sub_tile(int order) { return sub_tile(order); }

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
  const int64_t empty = knot_rows(t, nt, call.pl, tables, x, nx, i, j, B, call.buffer());
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

}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT int bsbasis_design(const double *t, int64_t nt, int32_t order, int64_t nj,
                                  int32_t nu, int32_t extrapolate, const double *x,
                                  int64_t nx, int32_t *i, int32_t *j, double *B,
                                  int64_t *nempty) {
  return design(t, nt, order, nj, nu, extrapolate, x, nx, i, j, B, nempty);
}

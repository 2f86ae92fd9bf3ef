// Normal equations and spline values formed tile by tile from the design's
// rows, which never leave a scratch buffer that stays in cache.
#include <string.h>

#include "bsbasis.h"
#include "checks.hpp"
#include "core/common.hpp"
#include "eval/design.hpp"
#include "lanes/dispatch.hpp"

namespace bsbasis {
namespace {

constexpr index_t kNormalTile = BSBASIS_NORMAL_TILE;

// Where the rows come from: a checked basis on knots or on uniform knots.
struct KnotRows {
  const double *t;
  int nt, order, nj, nu, mode;
  int operator()(const double *x, index_t n, int32_t *j, double *B) const {
    return design_checked(t, nt, order, nj, nu, mode, x, n, nullptr, j, B, nullptr);
  }
  void bounds(double *lo, double *hi) const {
    *lo = t[order - 1];
    *hi = t[nj];
  }
};

struct UniformRows {
  double origin, spacing;
  int order, nj, nu, mode;
  int operator()(const double *x, index_t n, int32_t *j, double *B) const {
    return uniform_checked(origin, spacing, nj, order, nu, mode, x, n, nullptr, j, B, nullptr);
  }
  void bounds(double *lo, double *hi) const {
    uniform_bounds(origin, spacing, nj, order, lo, hi);
  }
};

// The generic loop of the sums, for any order: the same operations in the
// same order as the fixed-order kernels (normal_sums.inc).
void sums_generic(int order, const int32_t *j, const double *B, const double *w,
                  const double *y, index_t nx, TileSums *s) {
  const int u = order - 1;
  const index_t n = s->n;
  for (index_t p = 0; p < nx; ++p) {
    const int32_t c0 = j[p * order];
    if (c0 < 0) continue;
    s->lo = c0 < s->lo ? c0 : s->lo;
    s->hi = c0 > s->hi ? c0 : s->hi;
    const double *b = B + p * order;
    const double wp = w ? w[p] : 1.0;
    double *G = s->G + c0;
    for (int a = 0; a < order; ++a) {
      const double wb = w ? wp * b[a] : b[a];
      for (int c = a; c < order; ++c) {
        double &g = G[(u + a - c) * n + c];
        g = g + wb * b[c];
      }
      if (y) s->R[c0 + a] = s->R[c0 + a] + wb * y[p];
    }
    if (y) s->yty = s->yty + (w ? wp * y[p] : y[p]) * y[p];
    s->sw = s->sw + wp;
    ++s->count;
  }
}

void add_rows(int order, const int32_t *j, const double *B, const double *w, const double *y,
              index_t nx, TileSums *s) {
  SumsKernel k = order >= kMinFixed && order <= kMaxFixed ? kernels().sums[order] : nullptr;
  if (k)
    k(j, B, w, y, nx, s);
  else
    sums_generic(order, j, B, w, y, nx, s);
}

// Adds the tile's sums to the outputs over the columns it touched and
// clears them there for the next tile.
void flush(TileSums &s, int order, double *ab, double *rhs, double *sums, int64_t *count) {
  if (s.lo <= s.hi) {
    const index_t c1 = s.hi + order < s.n ? s.hi + order : s.n;
    for (int band = 0; band < order; ++band)
      for (index_t c = s.lo; c < c1; ++c) {
        const index_t e = band * s.n + c;
        ab[e] = ab[e] + s.G[e];
        s.G[e] = 0.0;
      }
    for (index_t c = s.lo; s.R && c < c1; ++c) {
      rhs[c] = rhs[c] + s.R[c];
      s.R[c] = 0.0;
    }
  }
  if (s.R) sums[0] = sums[0] + s.yty;
  sums[1] = sums[1] + s.sw;
  *count += s.count;
}

// Zeroed memory, freed on the way out.
class Zeroed {
 public:
  explicit Zeroed(index_t n) : p_(static_cast<double *>(calloc(n > 0 ? n : 1, sizeof(double)))) {}
  ~Zeroed() { free(p_); }
  Zeroed(const Zeroed &) = delete;
  Zeroed &operator=(const Zeroed &) = delete;
  double *data() { return p_; }

 private:
  double *p_;
};

bool usable_weight(double w) { return (w >= 0.0) & is_finite(w); }

// The first p in [from, to) where ok(v[p]) fails, or `to`.  Blocks of 64
// are tested without branches, so that the common all-good case runs in
// vector lanes.
template <class Ok>
index_t first_failing(const double *v, index_t from, index_t to, Ok ok) {
  constexpr index_t kBlock = 64;
  index_t p = from;
  for (; p + kBlock <= to; p += kBlock) {
    bool all = true;
    for (index_t q = p; q < p + kBlock; ++q) all &= ok(v[q]);
    if (!all) break;
  }
  for (; p < to; ++p)
    if (!ok(v[p])) return p;
  return to;
}

// The first row at fault, or -1: a weight that is negative or not finite,
// or a response that is not finite on a row that is not empty.
template <class Rows>
int64_t first_bad_row(const Rows &rows, const double *x, const double *y, const double *w,
                      index_t nx, int *status) {
  const index_t limit = w ? first_failing(w, 0, nx, usable_weight) : nx;
  for (index_t p = 0; y && p < limit; ++p) {
    p = first_failing(y, p, limit, [](double v) { return is_finite(v); });
    if (p == limit) break;
    // Whether the row is empty: its block, alone.
    Scratch<int32_t, 64> jh(static_cast<size_t>(rows.order));
    Scratch<double, 64> Bh(static_cast<size_t>(rows.order));
    int32_t *jp = jh.data();
    double *Bp = Bh.data();
    if (!jp || !Bp) {
      *status = BSBASIS_ERROR_MEMORY;
      return -1;
    }
    *status = rows(x + p, 1, jp, Bp);
    if (*status != BSBASIS_OK) return -1;
    if (jp[0] >= 0) return p;
  }
  return limit < nx ? limit : -1;
}

// Under ERROR every abscissa must lie in the closed base interval.
template <class Rows>
bool in_range(const Rows &rows, const double *x, index_t nx) {
  if (rows.mode != BSBASIS_EXTRAPOLATE_ERROR) return true;
  double lo, hi;
  rows.bounds(&lo, &hi);
  return within_closed(x, nx, lo, hi);
}

template <class Rows>
int normal_checked(const Rows &rows, const double *x, const double *y, const double *w,
                   index_t nx, double *ab, double *rhs, double *sums, int64_t *count,
                   int64_t *bad_row) {
  const int order = rows.order;
  if (!in_range(rows, x, nx)) return BSBASIS_ERROR_RANGE;
  int st = BSBASIS_OK;
  const int64_t bad = first_bad_row(rows, x, y, w, nx, &st);
  if (st != BSBASIS_OK) return st;
  if (bad >= 0) {
    if (bad_row) *bad_row = bad;
    return BSBASIS_ERROR_DATA;
  }
  if (nx == 0) return BSBASIS_OK;
  const index_t n = rows.nj;
  const index_t S = design_sub_tile(order);
  Zeroed G(static_cast<index_t>(order) * n), R(y ? n : 0);
  Scratch<int32_t, 1> j(static_cast<size_t>(S) * order);
  Scratch<double, 1> B(static_cast<size_t>(S) * order);
  if (!G.data() || !R.data() || !j.data() || !B.data()) return BSBASIS_ERROR_MEMORY;
  for (index_t a = 0; a < nx; a += kNormalTile) {
    const index_t end = nx - a < kNormalTile ? nx : a + kNormalTile;
    TileSums s{G.data(), y ? R.data() : nullptr, n, 0.0, 0.0, 0, INT32_MAX, -1};
    for (index_t p = a; p < end; p += S) {
      const index_t m = end - p < S ? end - p : S;
      st = rows(x + p, m, j.data(), B.data());
      // Only a failed allocation can stop a checked evaluation, and it
      // comes before any tile is added.
      if (st != BSBASIS_OK) return st;
      add_rows(order, j.data(), B.data(), w ? w + p : nullptr, y ? y + p : nullptr, m, &s);
    }
    flush(s, order, ab, rhs, sums, count);
  }
  return BSBASIS_OK;
}

template <class Rows>
int evaluate_checked(const Rows &rows, const double *c, const double *x, index_t nx,
                     double *out) {
  const int order = rows.order;
  if (!in_range(rows, x, nx)) return BSBASIS_ERROR_RANGE;
  const index_t S = design_sub_tile(order);
  Scratch<int32_t, 1> j(static_cast<size_t>(S) * order);
  Scratch<double, 1> B(static_cast<size_t>(S) * order);
  if (!j.data() || !B.data()) return BSBASIS_ERROR_MEMORY;
  for (index_t a = 0; a < nx; a += S) {
    const index_t m = nx - a < S ? nx - a : S;
    const int st = rows(x + a, m, j.data(), B.data());
    if (st != BSBASIS_OK) return st;
    for (index_t p = 0; p < m; ++p) {
      const int32_t *jp = j.data() + p * order;
      const double *b = B.data() + p * order;
      double v = 0.0;
      if (jp[0] >= 0) {
        v = b[0] * c[jp[0]];
        for (int q = 1; q < order; ++q) v = v + b[q] * c[jp[q]];
      }
      out[a + p] = v;
    }
  }
  return BSBASIS_OK;
}

}  // namespace
}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT int bsbasis_normal_equations(const double *t, int64_t nt, int32_t order,
                                            int64_t nj, int32_t nu, int32_t extrapolate,
                                            const double *x, const double *y, const double *w,
                                            int64_t nx, double *ab, double *rhs,
                                            double *sums, int64_t *count, int64_t *bad_row) {
  if (bad_row) *bad_row = -1;
  int st = check_basis(t, nt, order, nj);
  if (st == BSBASIS_OK) st = check_rows(nu, extrapolate, x, nx);
  if (st == BSBASIS_OK) st = check_sums(y, ab, rhs, sums, count);
  if (st != BSBASIS_OK) return st;
  const KnotRows rows{t, static_cast<int>(nt), order, static_cast<int>(nj), nu, extrapolate};
  return normal_checked(rows, x, y, w, nx, ab, rhs, sums, count, bad_row);
}

BSBASIS_EXPORT int bsbasis_uniform_normal_equations(double origin, double spacing, int64_t n,
                                                    int32_t order, int32_t nu,
                                                    int32_t extrapolate, const double *x,
                                                    const double *y, const double *w,
                                                    int64_t nx, double *ab, double *rhs,
                                                    double *sums, int64_t *count,
                                                    int64_t *bad_row) {
  if (bad_row) *bad_row = -1;
  int st = check_uniform(origin, spacing, n, order);
  if (st == BSBASIS_OK) st = check_rows(nu, extrapolate, x, nx);
  if (st == BSBASIS_OK) st = check_sums(y, ab, rhs, sums, count);
  if (st != BSBASIS_OK) return st;
  const UniformRows rows{origin, spacing, order, static_cast<int>(n), nu, extrapolate};
  return normal_checked(rows, x, y, w, nx, ab, rhs, sums, count, bad_row);
}

BSBASIS_EXPORT int bsbasis_evaluate(const double *t, int64_t nt, int32_t order, int64_t nj,
                                    int32_t nu, int32_t extrapolate, const double *c,
                                    const double *x, int64_t nx, double *out) {
  int st = check_basis(t, nt, order, nj);
  if (st == BSBASIS_OK) st = check_rows(nu, extrapolate, x, nx);
  if (st == BSBASIS_OK && (!c || (nx > 0 && !out))) st = BSBASIS_ERROR_NULL;
  if (st != BSBASIS_OK) return st;
  const KnotRows rows{t, static_cast<int>(nt), order, static_cast<int>(nj), nu, extrapolate};
  return evaluate_checked(rows, c, x, nx, out);
}

BSBASIS_EXPORT int bsbasis_uniform_evaluate(double origin, double spacing, int64_t n,
                                            int32_t order, int32_t nu, int32_t extrapolate,
                                            const double *c, const double *x, int64_t nx,
                                            double *out) {
  int st = check_uniform(origin, spacing, n, order);
  if (st == BSBASIS_OK) st = check_rows(nu, extrapolate, x, nx);
  if (st == BSBASIS_OK && (!c || (nx > 0 && !out))) st = BSBASIS_ERROR_NULL;
  if (st != BSBASIS_OK) return st;
  const UniformRows rows{origin, spacing, order, static_cast<int>(n), nu, extrapolate};
  return evaluate_checked(rows, c, x, nx, out);
}

// The sums and row values of an additive model: the model matrix's row p
// is the concatenation of every term's row at p (an intercept, a column of
// x, a factor's indicator, a spline or a tensor product of splines).  Each
// term's rows are formed for a sub-tile of rows into scratch by the
// evaluations' internal row functions, then the rows' products are added;
// the model matrix is never written.
#include "fit/model.hpp"

#include <string.h>

#include "bsbasis.h"
#include "checks.hpp"
#include "core/common.hpp"
#include "fit/family.hpp"

namespace bsbasis {
namespace {

using namespace model;

constexpr index_t kNormalTile = BSBASIS_NORMAL_TILE;

// One tile's sums, from zero.
struct TileSums {
  double *G, *R;  // p x p (upper triangle used) and p
  double yty, sw;
  int64_t count;
  double dev;  // an iteration's deviance
  double *C;   // the column sums, p, or null
};

// An iteration of a family: each row's working weight and response come
// from eta = X[p] coef (coef null: from the family's start).
struct Iteration {
  int32_t family;
  const double *coef;
};

// X[p] coef over the row's K entries in order.
double row_value(const int64_t *rc, const double *rv, index_t K, const double *coef) {
  if (K == 0) return 0.0;
  double f = rv[0] * coef[rc[0]];
  for (index_t e = 1; e < K; ++e) f = f + rv[e] * coef[rc[e]];
  return f;
}

void add_row(const int64_t *rc, const double *rv, index_t K, index_t n, const double *w,
             const double *y, TileSums *s) {
  const double wp = w ? *w : 1.0;
  for (index_t a = 0; a < K; ++a) {
    const double wb = w ? wp * rv[a] : rv[a];
    double *G = s->G + rc[a] * n;
    for (index_t c = a; c < K; ++c) G[rc[c]] = G[rc[c]] + wb * rv[c];
    if (y) s->R[rc[a]] = s->R[rc[a]] + wb * *y;
  }
  if (y) s->yty = s->yty + (w ? wp * *y : *y) * *y;
  s->sw = s->sw + wp;
  ++s->count;
}

// Adds every sum of the tile to the outputs (all of G's upper triangle)
// and clears them for the next tile.
void flush(TileSums &s, index_t n, double *G, double *rhs, double *sums, double *colsums,
           int64_t *count) {
  for (index_t r = 0; r < n; ++r)
    for (index_t c = r; c < n; ++c) {
      const index_t e = r * n + c;
      G[e] = G[e] + s.G[e];
      s.G[e] = 0.0;
    }
  for (index_t c = 0; s.R && c < n; ++c) {
    rhs[c] = rhs[c] + s.R[c];
    s.R[c] = 0.0;
  }
  if (s.R) sums[0] = sums[0] + s.yty;
  sums[1] = sums[1] + s.sw;
  *count += s.count;
  for (index_t c = 0; s.C && c < n; ++c) {
    colsums[c] = colsums[c] + s.C[c];
    s.C[c] = 0.0;
  }
}

// A row of an iteration: its working weight and response, then its sums.
void add_working_row(const int64_t *rc, const double *rv, index_t K, index_t n,
                     const Iteration &it, double y, double w, TileSums *s) {
  const double eta = it.coef ? row_value(rc, rv, K, it.coef) : start_eta(it.family, y, w);
  const Working r = working(it.family, eta, y, w);
  add_row(rc, rv, K, n, &r.W, &r.z, s);
  s->dev = s->dev + r.dev;
}

// The sums of the rows of x into the outputs, tile by tile; with an
// iteration, of the working weights and responses, and the deviance to
// sums[2]; with colsums, the column sums too.
int model_sums(Model &model, const Table &x, const double *y, const double *w, double *G,
               double *rhs, double *sums, double *colsums, int64_t *count,
               const Iteration *it = nullptr) {
  if (x.nrows == 0) return BSBASIS_OK;
  const index_t n = model.ncols;
  Rows r;
  Owned<double> Gt, Rt, Ct;
  int st = prepare_rows(model, &r);
  if (st != BSBASIS_OK) return st;
  if (!Gt.allocate(n * n, true) || !Rt.allocate(y ? n : 0, true) ||
      !Ct.allocate(colsums ? n : 0, true))
    return BSBASIS_ERROR_MEMORY;
  for (index_t a = 0; a < x.nrows; a += kNormalTile) {
    const index_t end = x.nrows - a < kNormalTile ? x.nrows : a + kNormalTile;
    TileSums s{Gt.data(), y ? Rt.data() : nullptr, 0.0, 0.0, 0, 0.0,
               colsums ? Ct.data() : nullptr};
    for (index_t p = a; p < end; p += r.S) {
      const index_t m = end - p < r.S ? end - p : r.S;
      // Only a failed allocation stops a checked evaluation, and it comes
      // before any tile is added.
      st = sub_tile_rows(model, x, p, m);
      if (st != BSBASIS_OK) return st;
      for (index_t q = 0; q < m; ++q) {
        const index_t K = model_row(model, x, p, q, r.rc, r.rv);
        if (it)
          add_working_row(r.rc, r.rv, K, n, *it, y[p + q], w ? w[p + q] : 1.0, &s);
        else
          add_row(r.rc, r.rv, K, n, w ? w + p + q : nullptr, y ? y + p + q : nullptr, &s);
        for (index_t e = 0; s.C && e < K; ++e) s.C[r.rc[e]] = s.C[r.rc[e]] + r.rv[e];
      }
    }
    flush(s, n, G, rhs, sums, colsums, count);
    if (it) sums[2] = sums[2] + s.dev;
  }
  return BSBASIS_OK;
}

int model_values(Model &model, const Table &x, const double *coef, const double *V, double *fit,
                 double *var) {
  if (x.nrows == 0) return BSBASIS_OK;
  const index_t n = model.ncols;
  Rows r;
  int st = prepare_rows(model, &r);
  if (st != BSBASIS_OK) return st;
  for (index_t p = 0; p < x.nrows; p += r.S) {
    const index_t m = x.nrows - p < r.S ? x.nrows - p : r.S;
    st = sub_tile_rows(model, x, p, m);
    if (st != BSBASIS_OK) return st;
    for (index_t q = 0; q < m; ++q) {
      const int64_t *rc = r.rc;
      const double *rv = r.rv;
      const index_t K = model_row(model, x, p, q, r.rc, r.rv);
      fit[p + q] = row_value(rc, rv, K, coef);
      if (!var) continue;
      // u_a = (V[a][c0]*b0 + V[a][c1]*b1) + ..., then (b0*u0 + b1*u1) + ...
      double v = 0.0;
      for (index_t a = 0; a < K; ++a) {
        const double *Va = V + rc[a] * n;
        double ua = Va[rc[0]] * rv[0];
        for (index_t c = 1; c < K; ++c) ua = ua + Va[rc[c]] * rv[c];
        v = a == 0 ? rv[0] * ua : v + rv[a] * ua;
      }
      var[p + q] = v;
    }
  }
  return BSBASIS_OK;
}

// What every call on rows does first: no row or term at fault yet, then
// the terms checked, then the rows and strides (the pointers are each
// call's own).
int check_model_call(const bsbasis_term *terms, int64_t nterms, const double *x, int64_t nrows,
                     int64_t ncols, int64_t row_stride, int64_t col_stride, Model *model,
                     int64_t *bad_row, int64_t *bad_term) {
  if (bad_row) *bad_row = -1;
  if (bad_term) *bad_term = -1;
  int st = check_model(terms, nterms, ncols, model, bad_term);
  if (st == BSBASIS_OK) st = check_table(x, nrows, ncols, row_stride, col_stride);
  return st;
}

// A model of n columns has an n x n G whose offsets int64 must hold.
bool square_fits(index_t n) { return n == 0 || n <= INT64_MAX / n; }

}  // namespace
}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT int bsbasis_model_columns(const bsbasis_term *terms, int64_t nterms, int64_t ncols,
                                         int64_t *p, int64_t *bad_term) {
  if (bad_term) *bad_term = -1;
  Model model;
  int st = check_model(terms, nterms, ncols, &model, bad_term);
  if (st == BSBASIS_OK && !p) st = BSBASIS_ERROR_NULL;
  if (st != BSBASIS_OK) return st;
  *p = model.ncols;
  return BSBASIS_OK;
}

BSBASIS_EXPORT int bsbasis_model_normal_equations(const bsbasis_term *terms, int64_t nterms,
                                                  const double *x, int64_t nrows, int64_t ncols,
                                                  int64_t row_stride, int64_t col_stride,
                                                  const double *y, const double *w, double *G,
                                                  double *rhs, double *sums, int64_t *count,
                                                  int64_t *bad_row, int64_t *bad_term) {
  Model model;
  int st = check_model_call(terms, nterms, x, nrows, ncols, row_stride, col_stride, &model,
                            bad_row, bad_term);
  if (st == BSBASIS_OK && (!G || !sums || !count || (y && !rhs))) st = BSBASIS_ERROR_NULL;
  if (st == BSBASIS_OK && !square_fits(model.ncols)) st = BSBASIS_ERROR_COUNT;
  if (st != BSBASIS_OK) return st;
  const Table table{x, nrows, row_stride, col_stride};
  st = first_fault(model, table, y, w, bad_row, bad_term);
  if (st != BSBASIS_OK) return st;
  return model_sums(model, table, y, w, G, rhs, sums, nullptr, count);
}

BSBASIS_EXPORT int bsbasis_model_evaluate(const bsbasis_term *terms, int64_t nterms,
                                          const double *x, int64_t nrows, int64_t ncols,
                                          int64_t row_stride, int64_t col_stride,
                                          const double *coef, const double *V, double *fit,
                                          double *var, int64_t *bad_row, int64_t *bad_term) {
  Model model;
  int st = check_model_call(terms, nterms, x, nrows, ncols, row_stride, col_stride, &model,
                            bad_row, bad_term);
  if (st == BSBASIS_OK && (!coef || (nrows > 0 && !fit) || (var && !V))) st = BSBASIS_ERROR_NULL;
  if (st == BSBASIS_OK && var && !square_fits(model.ncols)) st = BSBASIS_ERROR_COUNT;
  if (st != BSBASIS_OK) return st;
  const Table table{x, nrows, row_stride, col_stride};
  st = first_fault(model, table, nullptr, nullptr, bad_row, bad_term);
  if (st != BSBASIS_OK) return st;
  return model_values(model, table, coef, V, fit, var);
}

BSBASIS_EXPORT int bsbasis_model_irls(const bsbasis_term *terms, int64_t nterms, const double *x,
                                      int64_t nrows, int64_t ncols, int64_t row_stride,
                                      int64_t col_stride, int32_t family, const double *coef,
                                      const double *y, const double *w, double *G, double *rhs,
                                      double *sums, double *colsums, int64_t *count,
                                      int64_t *bad_row, int64_t *bad_term) {
  Model model;
  int st = check_model_call(terms, nterms, x, nrows, ncols, row_stride, col_stride, &model,
                            bad_row, bad_term);
  if (st == BSBASIS_OK && !known_family(family)) st = BSBASIS_ERROR_MODE;
  if (st == BSBASIS_OK && (!y || !G || !rhs || !sums || !count)) st = BSBASIS_ERROR_NULL;
  if (st == BSBASIS_OK && !square_fits(model.ncols)) st = BSBASIS_ERROR_COUNT;
  for (index_t c = 0; st == BSBASIS_OK && coef && c < model.ncols; ++c)
    if (!is_finite(coef[c])) st = BSBASIS_ERROR_DATA;
  if (st != BSBASIS_OK) return st;
  // The first row at fault, for a value a term reads, a weight, or a
  // response the family does not take.
  index_t limit = 0;
  while (limit < nrows && usable_response(family, y[limit])) ++limit;
  st = first_fault(model, Table{x, limit, row_stride, col_stride}, y, w, bad_row, bad_term);
  if (st != BSBASIS_OK) return st;
  if (limit < nrows) {
    if (bad_row) *bad_row = limit;
    return BSBASIS_ERROR_DATA;
  }
  const Iteration it{family, coef};
  return model_sums(model, Table{x, nrows, row_stride, col_stride}, y, w, G, rhs, sums, colsums,
                    count, &it);
}

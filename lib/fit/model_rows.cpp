// The terms of a model, checked as bsbasis.h states the rules, and their
// rows for a sub-tile of rows: each spline margin's blocks by the
// evaluations' internal row functions (the periodic ones wrapped as the
// periodic design wraps them), a tensor term's rows as the tensor design
// forms them.
#include "bsbasis.h"
#include "checks.hpp"
#include "core/common.hpp"
#include "eval/design.hpp"
#include "fit/model.hpp"

namespace bsbasis {
namespace model {

namespace {

int check_margin(const bsbasis_margin &in, int64_t ncols, Margin *out) {
  Margin &g = *out;
  g.kind = in.kind;
  g.order = in.order;
  g.nu = in.nu;
  g.mode = in.extrapolate;
  g.column = in.column;
  g.origin = in.origin;
  g.spacing = in.spacing;
  int st = BSBASIS_OK;
  switch (in.kind) {
    case BSBASIS_MARGIN_KNOTS:
      st = check_basis(in.t, in.nt, in.order, in.nj);
      if (st != BSBASIS_OK) return st;
      g.t = in.t;
      g.nt = static_cast<int>(in.nt);
      g.nj = g.width = static_cast<int>(in.nj);
      g.lo = in.t[in.order - 1];
      g.hi = in.t[in.nj];
      break;
    case BSBASIS_MARGIN_UNIFORM:
      st = check_uniform(in.origin, in.spacing, in.nj, in.order);
      if (st != BSBASIS_OK) return st;
      g.t = nullptr;
      g.nt = 0;
      g.nj = g.width = static_cast<int>(in.nj);
      uniform_bounds(in.origin, in.spacing, g.nj, in.order, &g.lo, &g.hi);
      break;
    case BSBASIS_MARGIN_PERIODIC: {
      st = check_breaks(in.t, in.nt, in.order);
      if (st != BSBASIS_OK) return st;
      g.mode = BSBASIS_EXTRAPOLATE_PERIODIC;
      const int m = static_cast<int>(in.nt - 1), deg = in.order - 1;
      g.nt = m + 1 + 2 * deg;
      g.nj = m + deg;
      g.width = m;
      g.knots = static_cast<double *>(malloc(sizeof(double) * g.nt));
      if (!g.knots) return BSBASIS_ERROR_MEMORY;
      periodic_knots(in.t, m, deg, g.knots);
      if (check_basis(g.knots, g.nt, in.order, g.nj) != BSBASIS_OK) return BSBASIS_ERROR_KNOTS;
      g.t = g.knots;
      g.lo = g.hi = 0.0;
      break;
    }
    default:
      return BSBASIS_ERROR_MODE;
  }
  if (in.nu < 0) return BSBASIS_ERROR_ORDER;
  if (check_mode(g.mode) != BSBASIS_OK) return BSBASIS_ERROR_MODE;
  if (in.column < 0 || in.column >= ncols) return BSBASIS_ERROR_COUNT;
  return BSBASIS_OK;
}

int check_term(const bsbasis_term &in, int64_t ncols, Term *out) {
  Term &t = *out;
  t.kind = in.kind;
  t.d = 0;
  t.column = in.column;
  t.nlevels = in.nlevels;
  t.entries = 1;
  switch (in.kind) {
    case BSBASIS_TERM_INTERCEPT:
      t.width = 1;
      return BSBASIS_OK;
    case BSBASIS_TERM_LINEAR:
      t.width = 1;
      return in.column >= 0 && in.column < ncols ? BSBASIS_OK : BSBASIS_ERROR_COUNT;
    case BSBASIS_TERM_FACTOR:
      if (in.column < 0 || in.column >= ncols || in.nlevels < 1) return BSBASIS_ERROR_COUNT;
      t.width = in.nlevels;
      return BSBASIS_OK;
    case BSBASIS_TERM_SPLINE:
      break;
    default:
      return BSBASIS_ERROR_MODE;
  }
  if (in.d < 1 || in.d > kMaxMargins) return BSBASIS_ERROR_COUNT;
  if (!in.margins) return BSBASIS_ERROR_NULL;
  t.d = in.d;
  t.width = 1;
  for (int a = 0; a < in.d; ++a) {
    const int st = check_margin(in.margins[a], ncols, &t.m[a]);
    if (st != BSBASIS_OK) return st;
    if (t.entries > INT32_MAX / t.m[a].order) return BSBASIS_ERROR_COUNT;
    t.entries *= t.m[a].order;
    if (t.width > INT64_MAX / t.m[a].width) return BSBASIS_ERROR_COUNT;
    t.width *= t.m[a].width;
  }
  return BSBASIS_OK;
}
}  // namespace

int check_model(const bsbasis_term *terms, int64_t nterms, int64_t ncols, Model *model,
                int64_t *bad_term) {
  if (nterms < 0 || ncols < 0) return BSBASIS_ERROR_COUNT;
  if (nterms > 0 && !terms) return BSBASIS_ERROR_NULL;
  if (!model->terms.allocate(nterms, true)) return BSBASIS_ERROR_MEMORY;
  model->allocated = nterms;
  Term *t = model->terms.data();
  index_t p = 0, entries = 0;
  for (index_t k = 0; k < nterms; ++k) {
    int st = check_term(terms[k], ncols, &t[k]);
    if (st == BSBASIS_OK && t[k].width > INT64_MAX - p) st = BSBASIS_ERROR_COUNT;
    if (st != BSBASIS_OK) {
      if (bad_term) *bad_term = k;
      return st;
    }
    t[k].offset = p;
    p += t[k].width;
    entries += t[k].entries;  // at most 3 * INT32_MAX a term
  }
  model->nterms = nterms;
  model->ncols = p;
  model->entries = entries;
  return BSBASIS_OK;
}

// The rows, strides and x of a call: strides >= 0, the last element's
// offset within int64.
int check_table(const double *x, int64_t nrows, int64_t ncols, int64_t row_stride,
                int64_t col_stride) {
  if (nrows < 0 || row_stride < 0 || col_stride < 0) return BSBASIS_ERROR_COUNT;
  if (nrows > 1 && row_stride > 0 && nrows - 1 > INT64_MAX / row_stride) return BSBASIS_ERROR_COUNT;
  const int64_t last_row = nrows > 1 ? (nrows - 1) * row_stride : 0;
  if (ncols > 1 && col_stride > 0 && ncols - 1 > (INT64_MAX - last_row) / col_stride)
    return BSBASIS_ERROR_COUNT;
  if (nrows > 0 && !x) return BSBASIS_ERROR_NULL;
  return BSBASIS_OK;
}

namespace {

bool is_level(double v, index_t nlevels) {
  return v >= 0.0 && v < static_cast<double>(nlevels) &&
         v == static_cast<double>(static_cast<int64_t>(v));
}

// A term's fault on row p: ERROR_DATA when a value it reads is not finite
// or not one of a factor's levels, else ERROR_RANGE when a margin under
// ERROR has its coordinate outside the base interval, else OK.
int term_fault(const Term &t, const Table &x, index_t p) {
  switch (t.kind) {
    case BSBASIS_TERM_INTERCEPT:
      return BSBASIS_OK;
    case BSBASIS_TERM_LINEAR:
      return is_finite(x.at(p, t.column)) ? BSBASIS_OK : BSBASIS_ERROR_DATA;
    case BSBASIS_TERM_FACTOR:
      return is_level(x.at(p, t.column), t.nlevels) ? BSBASIS_OK : BSBASIS_ERROR_DATA;
    default:
      break;
  }
  bool finite = true, in = true;
  for (int a = 0; a < t.d; ++a) {
    const double v = x.at(p, t.m[a].column);
    finite &= is_finite(v);
    if (t.m[a].mode == BSBASIS_EXTRAPOLATE_ERROR) in &= (v >= t.m[a].lo) & (v <= t.m[a].hi);
  }
  return !finite ? BSBASIS_ERROR_DATA : in ? BSBASIS_OK : BSBASIS_ERROR_RANGE;
}

bool usable_weight(double w) { return (w >= 0.0) & is_finite(w); }

}  // namespace

// The first fault of the data: the first row at fault, and on it the first
// term, then the weight, then the response.
int first_fault(const Model &model, const Table &x, const double *y, const double *w,
                int64_t *bad_row, int64_t *bad_term) {
  index_t row = x.nrows, term = -1;
  int status = BSBASIS_OK;
  const Term *t = model.terms.data();
  for (index_t k = 0; k < model.nterms; ++k) {
    if (t[k].kind == BSBASIS_TERM_INTERCEPT) continue;
    for (index_t p = 0; p < row; ++p) {
      const int st = term_fault(t[k], x, p);
      if (st != BSBASIS_OK) {
        row = p, term = k, status = st;
        break;
      }
    }
  }
  for (index_t p = 0; w && p < row; ++p)
    if (!usable_weight(w[p])) {
      row = p, term = -1, status = BSBASIS_ERROR_DATA;
      break;
    }
  for (index_t p = 0; y && p < row; ++p)
    if (!is_finite(y[p])) {
      row = p, term = -1, status = BSBASIS_ERROR_DATA;
      break;
    }
  if (status != BSBASIS_OK) {
    if (bad_row) *bad_row = row;
    if (bad_term) *bad_term = term;
  }
  return status;
}

int prepare_rows(Model &model, Rows *r) {
  index_t S = kSubTileRows, doubles = 0, ints = 0, cols = 0;
  Term *t = model.terms.data();
  const index_t per_row = model.entries > 0 ? model.entries : 1;
  if (S > kSubTileEntries / per_row) S = kSubTileEntries / per_row;
  if (S < 1) S = 1;
  for (index_t k = 0; k < model.nterms; ++k)
    for (int a = 0; a < t[k].d; ++a)
      if (S > design_sub_tile(t[k].m[a].order)) S = design_sub_tile(t[k].m[a].order);
  for (index_t k = 0; k < model.nterms; ++k) {
    if (t[k].kind != BSBASIS_TERM_SPLINE) continue;
    for (int a = 0; a < t[k].d; ++a) {
      doubles += S * (1 + t[k].m[a].order);
      ints += S * t[k].m[a].order;
    }
    doubles += S * t[k].entries;
    cols += S * t[k].entries;
  }
  doubles += model.entries;
  cols += model.entries;
  if (!r->dstore.allocate(doubles, false) || !r->jstore.allocate(ints, false) ||
      !r->cstore.allocate(cols, false))
    return BSBASIS_ERROR_MEMORY;
  double *dp = r->dstore.data();
  int32_t *ip = r->jstore.data();
  int64_t *cp = r->cstore.data();
  for (index_t k = 0; k < model.nterms; ++k) {
    if (t[k].kind != BSBASIS_TERM_SPLINE) continue;
    for (int a = 0; a < t[k].d; ++a) {
      Margin &g = t[k].m[a];
      g.x = dp;
      g.B = dp + S;
      dp += S * (1 + g.order);
      g.j = ip;
      ip += S * g.order;
    }
    t[k].vals = dp;
    dp += S * t[k].entries;
    t[k].cols = cp;
    cp += S * t[k].entries;
  }
  r->rv = dp;
  r->rc = cp;
  r->S = S;
  return BSBASIS_OK;
}

namespace {

int margin_rows(Margin &g, index_t n) {
  if (g.kind == BSBASIS_MARGIN_UNIFORM)
    return uniform_checked(g.origin, g.spacing, g.nj, g.order, g.nu, g.mode, g.x, n, nullptr, g.j,
                           g.B, nullptr);
  const int st =
      design_checked(g.t, g.nt, g.order, g.nj, g.nu, g.mode, g.x, n, nullptr, g.j, g.B, nullptr);
  if (st == BSBASIS_OK && g.kind == BSBASIS_MARGIN_PERIODIC)
    for (index_t p = 0; p < n; ++p)
      wrap_columns(g.j + block_offset(p, g.order), g.B + block_offset(p, g.order), g.order, g.width);
  return st;
}

// A spline term's rows p0 .. p0 + n - 1 into its cols and vals: row m's
// entries from m*entries on, the tensor design's columns (last margin
// fastest) shifted by the term's offset and its values ((b0*b1)*b2); an
// empty row has column -1 first.
int spline_rows(Term &t, const Table &x, index_t p0, index_t n) {
  for (int a = 0; a < t.d; ++a) {
    Margin &g = t.m[a];
    for (index_t m = 0; m < n; ++m) g.x[m] = x.at(p0 + m, g.column);
    const int st = margin_rows(g, n);
    if (st != BSBASIS_OK) return st;
  }
  const index_t E = t.entries;
  for (index_t m = 0; m < n; ++m) {
    int64_t *jr = t.cols + m * E;
    double *br = t.vals + m * E;
    bool empty = false;
    for (int a = 0; a < t.d; ++a) empty |= t.m[a].j[block_offset(m, t.m[a].order)] < 0;
    if (empty) {
      jr[0] = -1;
      continue;
    }
    const Margin &g0 = t.m[0];
    index_t size = g0.order;
    for (int q = 0; q < g0.order; ++q) {
      jr[q] = g0.j[block_offset(m, g0.order) + q];
      br[q] = g0.B[block_offset(m, g0.order) + q];
    }
    // Each further margin multiplies every entry so far by each of its
    // values, in place from the back.
    for (int a = 1; a < t.d; ++a) {
      const Margin &g = t.m[a];
      const int32_t *ja = g.j + block_offset(m, g.order);
      const double *ba = g.B + block_offset(m, g.order);
      for (index_t e = size - 1; e >= 0; --e) {
        const int64_t c = jr[e];
        const double v = br[e];
        for (int q = g.order - 1; q >= 0; --q) {
          jr[e * g.order + q] = c * g.width + ja[q];
          br[e * g.order + q] = v * ba[q];
        }
      }
      size *= g.order;
    }
    for (index_t e = 0; e < E; ++e) jr[e] += t.offset;
  }
  return BSBASIS_OK;
}
}  // namespace

// Every term's rows of the sub-tile p0 .. p0 + n - 1.
int sub_tile_rows(Model &model, const Table &x, index_t p0, index_t n) {
  Term *t = model.terms.data();
  for (index_t k = 0; k < model.nterms; ++k) {
    if (t[k].kind != BSBASIS_TERM_SPLINE) continue;
    const int st = spline_rows(t[k], x, p0, n);
    if (st != BSBASIS_OK) return st;
  }
  return BSBASIS_OK;
}

// Row m of the sub-tile at p0, in the model's columns: its entries to rc,
// rv in increasing column order, their count returned.  An empty spline
// term has none.
index_t model_row(const Model &model, const Table &x, index_t p0, index_t m, int64_t *rc,
                  double *rv) {
  const Term *t = model.terms.data();
  index_t K = 0;
  for (index_t k = 0; k < model.nterms; ++k) {
    const Term &u = t[k];
    switch (u.kind) {
      case BSBASIS_TERM_INTERCEPT:
        rc[K] = u.offset, rv[K++] = 1.0;
        break;
      case BSBASIS_TERM_LINEAR:
        rc[K] = u.offset, rv[K++] = x.at(p0 + m, u.column);
        break;
      case BSBASIS_TERM_FACTOR:
        rc[K] = u.offset + static_cast<int64_t>(x.at(p0 + m, u.column)), rv[K++] = 1.0;
        break;
      default: {
        const int64_t *c = u.cols + m * u.entries;
        if (c[0] < 0) break;
        const double *v = u.vals + m * u.entries;
        for (index_t e = 0; e < u.entries; ++e) rc[K] = c[e], rv[K++] = v[e];
      }
    }
  }
  return K;
}

}  // namespace model
}  // namespace bsbasis

// The argument rules of the extension API (checks.hpp).
#include "checks.hpp"

#include <float.h>
#include <math.h>

#include "core/numeric.hpp"

namespace bsbasis {

namespace {

// The first rule a basis on knots breaks (bsbasis.h lists them), with the
// knot at fault where the rule is about one.
struct KnotVerdict {
  int status;
  int32_t rule;
  int64_t index;
};

KnotVerdict knot_verdict(const double *t, int64_t nt, int32_t order, int64_t nj) {
  if (order < 1) return {BSBASIS_ERROR_ORDER, BSBASIS_RULE_ORDER, -1};
  if (nt < 0 || nt > INT32_MAX) return {BSBASIS_ERROR_COUNT, BSBASIS_RULE_KNOT_COUNT, -1};
  if (!t) return {BSBASIS_ERROR_NULL, BSBASIS_RULE_NULL_KNOTS, -1};
  if (nt < 2 * static_cast<int64_t>(order))
    return {BSBASIS_ERROR_KNOTS, BSBASIS_RULE_TOO_FEW, -1};
  if (nj < order || nj > nt - order) return {BSBASIS_ERROR_COLUMNS, BSBASIS_RULE_COLUMNS, -1};
  for (int64_t c = 0; c < nt; ++c) {
    if (!is_finite(t[c])) return {BSBASIS_ERROR_KNOTS, BSBASIS_RULE_NOT_FINITE, c};
    if (c == 0) continue;
    const double gap = t[c] - t[c - 1];
    if (!(gap >= 0.0)) return {BSBASIS_ERROR_KNOTS, BSBASIS_RULE_DECREASING, c};
    // A gap below 1/DBL_MAX has a reciprocal that overflows.
    if (gap > 0.0 && gap * DBL_MAX < 1.0)
      return {BSBASIS_ERROR_KNOTS, BSBASIS_RULE_TOO_CLOSE, c};
  }
  if (!is_finite(t[nt - 1] - t[0])) return {BSBASIS_ERROR_KNOTS, BSBASIS_RULE_SPAN, -1};
  if (!(t[order - 1] < t[nj])) return {BSBASIS_ERROR_KNOTS, BSBASIS_RULE_EMPTY_BASE, -1};
  return {BSBASIS_OK, BSBASIS_RULE_NONE, -1};
}

}  // namespace

int check_basis(const double *t, int64_t nt, int32_t order, int64_t nj) {
  return knot_verdict(t, nt, order, nj).status;
}

int check_uniform(double origin, double spacing, int64_t n, int32_t order) {
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

int check_breaks(const double *u, int64_t nbreaks, int32_t order) {
  if (order < 1) return BSBASIS_ERROR_ORDER;
  if (nbreaks < 2 || nbreaks > INT32_MAX - 2 * static_cast<int64_t>(order))
    return BSBASIS_ERROR_COUNT;
  if (!u) return BSBASIS_ERROR_NULL;
  if (nbreaks - 1 < order) return BSBASIS_ERROR_COLUMNS;
  for (int64_t q = 0; q < nbreaks; ++q)
    if (!is_finite(u[q]) || (q > 0 && !(u[q] > u[q - 1]))) return BSBASIS_ERROR_KNOTS;
  return BSBASIS_OK;
}

int check_natural(double lo, double hi, const double *knots, int64_t nknots) {
  if (nknots < 0 || nknots > INT32_MAX - 8) return BSBASIS_ERROR_COUNT;
  if (nknots > 0 && !knots) return BSBASIS_ERROR_NULL;
  if (!is_finite(lo) || !is_finite(hi) || !(lo < hi)) return BSBASIS_ERROR_KNOTS;
  for (int64_t k = 0; k < nknots; ++k)
    if (!(knots[k] > lo && knots[k] < hi) || (k > 0 && !(knots[k] >= knots[k - 1])))
      return BSBASIS_ERROR_KNOTS;
  return BSBASIS_OK;
}

int check_call(int32_t order, int32_t nu, int32_t mode, const double *x, index_t nx,
               const int32_t *i, const int32_t *j, const double *B) {
  if (nu < 0) return BSBASIS_ERROR_ORDER;
  if (check_mode(mode) != BSBASIS_OK) return BSBASIS_ERROR_MODE;
  if (nx < 0 || nx > INT64_MAX / order) return BSBASIS_ERROR_COUNT;
  if (i && nx > INT32_MAX) return BSBASIS_ERROR_COUNT;
  if (nx > 0 && (!x || !j || !B)) return BSBASIS_ERROR_NULL;
  return BSBASIS_OK;
}

int check_rows(int32_t nu, int32_t mode, const double *x, index_t nx) {
  if (nu < 0) return BSBASIS_ERROR_ORDER;
  if (check_mode(mode) != BSBASIS_OK) return BSBASIS_ERROR_MODE;
  if (nx < 0) return BSBASIS_ERROR_COUNT;
  if (nx > 0 && !x) return BSBASIS_ERROR_NULL;
  return BSBASIS_OK;
}

int check_sums(const double *y, const double *ab, const double *rhs, const double *sums,
               const int64_t *count) {
  if (!ab || !sums || !count || (y && !rhs)) return BSBASIS_ERROR_NULL;
  return BSBASIS_OK;
}

int check_tensor(int32_t d, const double *const *t, const int64_t *nt, const int32_t *order,
                 const int64_t *nj, const int32_t *nu, int32_t mode, const double *x,
                 int64_t npts, const int32_t *i, const int32_t *j32, const int64_t *j64,
                 const double *B, int64_t *E) {
  if (d < 1 || d > 64) return BSBASIS_ERROR_COUNT;
  if (!t || !nt || !order || !nj) return BSBASIS_ERROR_NULL;
  int64_t entries = 1, cols = 1;
  for (int a = 0; a < d; ++a) {
    const int st = check_basis(t[a], nt[a], order[a], nj[a]);
    if (st != BSBASIS_OK) return st;
    if (nu && nu[a] < 0) return BSBASIS_ERROR_ORDER;
    if (entries > INT32_MAX / order[a]) return BSBASIS_ERROR_COUNT;
    entries *= order[a];
    if (cols > INT64_MAX / nj[a]) return BSBASIS_ERROR_COUNT;
    cols *= nj[a];
  }
  if (check_mode(mode) != BSBASIS_OK) return BSBASIS_ERROR_MODE;
  if ((j32 == nullptr) == (j64 == nullptr)) return BSBASIS_ERROR_NULL;
  if (j32 && cols > INT32_MAX) return BSBASIS_ERROR_COUNT;
  if (npts < 0 || npts > INT64_MAX / entries || npts > INT64_MAX / d) return BSBASIS_ERROR_COUNT;
  if (i && npts > INT32_MAX) return BSBASIS_ERROR_COUNT;
  if (npts > 0 && (!x || !B)) return BSBASIS_ERROR_NULL;
  *E = entries;
  return BSBASIS_OK;
}

int check_dense(int32_t order, const int32_t *j, const double *B, int64_t nx, int64_t ncols,
                const double *out, int64_t row_stride, int64_t col_stride) {
  if (order < 1) return BSBASIS_ERROR_ORDER;
  if (nx < 0 || ncols < 0 || row_stride < 0 || col_stride < 1) return BSBASIS_ERROR_COUNT;
  if (nx > INT64_MAX / order) return BSBASIS_ERROR_COUNT;
  // The last element's offset, (nx-1)*row_stride + (ncols-1)*col_stride.
  if (nx > 1 && row_stride > 0 && nx - 1 > INT64_MAX / row_stride) return BSBASIS_ERROR_COUNT;
  const int64_t last_row = nx > 1 ? (nx - 1) * row_stride : 0;
  if (ncols > 1 && ncols - 1 > (INT64_MAX - last_row) / col_stride) return BSBASIS_ERROR_COUNT;
  if (nx > 0 && ncols > 0 && (!j || !B || !out)) return BSBASIS_ERROR_NULL;
  return BSBASIS_OK;
}

int check_make_knots(const double *x, int64_t nx, int64_t n_knots, int32_t order, int32_t kind,
                     int32_t boundary, const double *t) {
  if (!t || (nx > 0 && !x)) return BSBASIS_ERROR_NULL;
  if (nx < 0 || n_knots < 2) return BSBASIS_ERROR_COUNT;
  if (order < 1) return BSBASIS_ERROR_ORDER;
  if (n_knots > INT64_MAX - 2 * (static_cast<int64_t>(order) - 1)) return BSBASIS_ERROR_COUNT;
  if (kind != BSBASIS_KNOTS_UNIFORM && kind != BSBASIS_KNOTS_QUANTILE) return BSBASIS_ERROR_MODE;
  if (boundary != BSBASIS_BOUNDARY_CLAMPED && boundary != BSBASIS_BOUNDARY_EXTENDED)
    return BSBASIS_ERROR_MODE;
  return BSBASIS_OK;
}

int check_difference_penalty(int64_t n, int32_t order, const double *ab) {
  if (!ab) return BSBASIS_ERROR_NULL;
  if (n < 1) return BSBASIS_ERROR_COUNT;
  if (order < 1 || order > 4) return BSBASIS_ERROR_ORDER;
  if (n > INT64_MAX / (order + 1)) return BSBASIS_ERROR_COUNT;
  return BSBASIS_OK;
}

int check_derivative_penalty(const double *t, int64_t nt, int32_t order, int64_t nj, int32_t m,
                             const double *ab) {
  const int st = check_basis(t, nt, order, nj);
  if (st != BSBASIS_OK) return st;
  if (m < 0) return BSBASIS_ERROR_ORDER;
  if (!ab) return BSBASIS_ERROR_NULL;
  return BSBASIS_OK;
}

}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT int bsbasis_check_knots(const double *t, int64_t nt, int32_t order, int64_t nj,
                                       int32_t *rule, int64_t *index) {
  const KnotVerdict v = knot_verdict(t, nt, order, nj);
  if (rule) *rule = v.rule;
  if (index) *index = v.index;
  return v.status;
}

// Every argument rule of the extension API, once: each function returns
// BSBASIS_OK or the status the export returns, checking in a fixed order so
// that a call with several faults always reports the same one.  Rules on
// the data themselves (weights, responses, knots placed from data) are
// checked where the data are read.
#ifndef BSBASIS_CHECKS_HPP
#define BSBASIS_CHECKS_HPP

#include "bsbasis.h"
#include "core/common.hpp"

namespace bsbasis {

// The number of extrapolation modes: 0 .. kModeCount - 1.
constexpr int kModeCount = BSBASIS_EXTRAPOLATE_PERIODIC + 1;

// A known extrapolation mode.
inline int check_mode(int32_t mode) {
  return mode >= 0 && mode < kModeCount ? BSBASIS_OK : BSBASIS_ERROR_MODE;
}

// A basis on knots: t, nt, order and nj as bsbasis.h states the rules
// (bsbasis_check_knots says which one a basis breaks).
int check_basis(const double *t, int64_t nt, int32_t order, int64_t nj);

// A basis on uniform knots origin + m*spacing with n columns.
int check_uniform(double origin, double spacing, int64_t n, int32_t order);

// The breaks of a periodic basis: strictly increasing, finite, at least
// order intervals.
int check_breaks(const double *u, int64_t nbreaks, int32_t order);

// Natural cubic splines: finite boundary knots lo < hi and nknots finite,
// non-decreasing interior knots strictly between them.
int check_natural(double lo, double hi, const double *knots, int64_t nknots);

// An evaluation's call: nu, the mode, nx abscissae and the outputs (i
// optional; it limits nx to 32-bit rows).
int check_call(int32_t order, int32_t nu, int32_t mode, const double *x, index_t nx,
               const int32_t *i, const int32_t *j, const double *B);

// A call that reads rows without writing them (sums, spline values).
int check_rows(int32_t nu, int32_t mode, const double *x, index_t nx);

// The outputs of the normal equations: always required; rhs with y.
int check_sums(const double *y, const double *ab, const double *rhs, const double *sums,
               const int64_t *count);

// A tensor product of d bases; its entries per row to *E.
int check_tensor(int32_t d, const double *const *t, const int64_t *nt, const int32_t *order,
                 const int64_t *nj, const int32_t *nu, int32_t mode, const double *x,
                 int64_t npts, const int32_t *i, const int32_t *j32, const int64_t *j64,
                 const double *B, int64_t *E);

// Dense rows from nx blocks into out with the given strides.
int check_dense(int32_t order, const int32_t *j, const double *B, int64_t nx, int64_t ncols,
                const double *out, int64_t row_stride, int64_t col_stride);

// Knots placed from data: the arguments apart from the data's values.
int check_make_knots(const double *x, int64_t nx, int64_t n_knots, int32_t order, int32_t kind,
                     int32_t boundary, const double *t);

// A difference penalty of n columns and difference order `order` (1 .. 4).
int check_difference_penalty(int64_t n, int32_t order, const double *ab);

// A derivative penalty of order m on a basis on knots.
int check_derivative_penalty(const double *t, int64_t nt, int32_t order, int64_t nj, int32_t m,
                             const double *ab);

}  // namespace bsbasis

#endif

// The entry points of the extension API's evaluations, for the bases built
// on them (periodic, tensor) and for what is built from rows (fit/).
#ifndef BSBASIS_DESIGN_HPP
#define BSBASIS_DESIGN_HPP

#include "bsbasis.h"
#include "core/common.hpp"

namespace bsbasis {

// The bodies of bsbasis_design and bsbasis_uniform_design: every argument
// checked, then the evaluation.
int design(const double *t, int64_t nt, int32_t order, int64_t nj, int32_t nu, int32_t mode,
           const double *x, int64_t nx, int32_t *i, int32_t *j, double *B, int64_t *nempty);
int uniform_design(double origin, double spacing, int64_t n, int32_t order, int32_t nu,
                   int32_t mode, const double *x, int64_t nx, int32_t *i, int32_t *j,
                   double *B, int64_t *nempty);

// The sub-tile size of the evaluations at `order`: the scratch below is
// sized by it.
int design_sub_tile(int order);

// bsbasis_design on checked arguments (check_basis, and x, i, j, B for nx
// abscissae, nu >= 0, a known mode).
int design_checked(const double *t, int nt, int order, int nj, int nu, int mode,
                   const double *x, index_t nx, int32_t *i, int32_t *j, double *B,
                   int64_t *nempty);

// The base interval of checked uniform knots, as their evaluation forms it.
void uniform_bounds(double origin, double spacing, int n, int order, double *lo, double *hi);

// bsbasis_uniform_design on checked arguments.
int uniform_checked(double origin, double spacing, int n, int order, int nu, int mode,
                    const double *x, index_t nx, int32_t *i, int32_t *j, double *B,
                    int64_t *nempty);

// The body of bsbasis_natural_design.
int natural_design(double lo, double hi, const double *knots, int64_t nknots, int32_t intercept,
                   int32_t nu, const double *x, int64_t nx, int32_t *i, int32_t *j, double *B,
                   int64_t *nempty);

// The knots of the periodic basis on the breaks u[0 .. m] (m + 1 + 2*deg of
// them), and the rotation that puts a block's wrapped columns (c >= m, as
// c - m) first: the periodic design's own steps, for the bases built on it.
void periodic_knots(const double *u, int m, int deg, double *t);
void wrap_columns(int32_t *jb, double *b, int order, int m);

// Whether every x lies in [lo, hi] (NaN does not).
bool within_closed(const double *x, index_t nx, double lo, double hi);

}  // namespace bsbasis

#endif

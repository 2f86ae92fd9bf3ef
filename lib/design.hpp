// Checks and evaluation shared by the extension API's functions.
#ifndef BSBASIS_DESIGN_HPP
#define BSBASIS_DESIGN_HPP

#include "bsbasis.h"
#include "common.hpp"

namespace bsbasis {

// BSBASIS_OK when t, nt, order and nj describe a usable basis (the rules in
// bsbasis.h), else the status to return.
int check_basis(const double *t, int64_t nt, int32_t order, int64_t nj);

// The sub-tile size of the evaluations at `order`: the scratch below is
// sized by it.
int design_sub_tile(int order);

// bsbasis_design on checked arguments (check_basis, and x, i, j, B for nx
// abscissae, nu >= 0, a known mode).
int design_checked(const double *t, int nt, int order, int nj, int nu, int mode,
                   const double *x, index_t nx, int32_t *i, int32_t *j, double *B,
                   int64_t *nempty);

}  // namespace bsbasis

#endif

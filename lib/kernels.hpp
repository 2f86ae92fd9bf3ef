// Internal entry points of the paths that serve every order.  The exports
// take the kernel of fixed order from the dispatch table when there is one
// and these otherwise; the tests call each path directly.
#ifndef BSBASIS_KERNELS_HPP
#define BSBASIS_KERNELS_HPP

#include "common.hpp"

namespace bsbasis {

// Blocks one at a time, in place in B, for any order >= 1.
void grid_generic(const double *t, int nt, const double *x, index_t nx, int *i,
                  int *j, double *B, int order_stop, int order, int nj);
void uniform_generic(const double *x, index_t nx, int *i, int *j, double *B,
                     int order_stop, int order, int nj);

// First derivatives in place: the path of any order, and the paths of fixed
// order (false, nothing written, for an order without one).
void deriv_generic(const double *t, int nt, const int *j, double *B, index_t nx,
                   int order);
bool deriv_fixed(const double *t, int nt, const int *j, double *B, index_t nx,
                 int order);

}  // namespace bsbasis

#endif

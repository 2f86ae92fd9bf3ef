// Internal entry points.  Each export is a thin wrapper around one of them,
// and code inside the library calls these, never an export: an exported
// name may be interposed by another object in the process, and the
// library's answers must not change with what else is loaded.  The tests
// call each path directly.
#ifndef BSBASIS_KERNELS_HPP
#define BSBASIS_KERNELS_HPP

#include "core/common.hpp"

namespace bsbasis {

// The bodies of the six exports (blossom_grid, blossom, deriv_grid,
// binary_search, test; binary_search_with_guess is search_with_guess in
// interval_search.hpp), with the same limits and arguments.
void knot_blocks(const double *t, int nt, const double *x, index_t nx, int *i, int *j,
                 double *B, int order_stop, int order, int nj);
void integer_blocks(const double *x, index_t nx, int *i, int *j, double *B, int order_stop,
                    int order, int nj);
void derivative_blocks(const double *t, int nt, const int *j, double *B, index_t nx,
                       int order);
void search_many(const double *key, int *index, int N, const double *arr, int len);
void order_one_blocks(int *j, double *B, index_t N, int order);

// The paths of any order, which the exports take when the dispatch table
// has no kernel of fixed order.

// Blocks one at a time, in place in B, for any order >= 1.
void knot_generic(const double *t, int nt, const double *x, index_t nx, int *i,
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

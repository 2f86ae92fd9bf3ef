// Internal entry points of the kernels, one per code path.  The exported
// functions choose among them; the tests call each directly.
#ifndef BSBASIS_KERNELS_HPP
#define BSBASIS_KERNELS_HPP

#include "common.hpp"

namespace bsbasis {

// Instruction sets with a kernel variant of their own.
enum class Isa { kBaseline = 0, kAvx2 = 1, kAvx512 = 2 };

// The best variant this CPU and OS support (cpuid and xgetbv, read once).
Isa best_isa();
// Whether the CPU running this can execute variant `isa`.
bool isa_supported(Isa isa);

// Straightforward paths for any order: a search from the previous answer,
// then every level on one block at a time.
void grid_generic(const double *t, int nt, const double *x, index_t nx, int *i,
                  int *j, double *B, int order_stop, int order, int nj);
void uniform_generic(const double *x, index_t nx, int *i, int *j, double *B,
                     int order_stop, int order, int nj);
void deriv_generic(const double *t, int nt, const int *j, double *B, index_t nx,
                   int order);

// scale[c] = 1 / (t[c + order - 1] - t[c]) for c < nt, or 0 where that span
// is not positive or runs past the last knot.
void fill_deriv_scale(const double *t, int nt, int order, double *scale);

// Fixed-order paths (orders kMinFixed .. kMaxFixed): tiles of abscissae,
// the block in registers, span table entries only for the columns in use.
// They return false, having written nothing, when the order has no fixed
// path or `isa` is not supported here.
constexpr int kMinFixed = 2;
constexpr int kMaxFixed = 6;
bool grid_fixed(Isa isa, const double *t, int nt, const double *x, index_t nx,
                int *i, int *j, double *B, int order_stop, int order, int nj);
bool uniform_fixed(Isa isa, const double *x, index_t nx, int *i, int *j,
                   double *B, int order_stop, int order, int nj);
bool deriv_fixed(Isa isa, const double *t, int nt, const int *j, double *B,
                 index_t nx, int order);

}  // namespace bsbasis

#endif

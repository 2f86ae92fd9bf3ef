// The kernels of fixed order: one table of entry points per instruction
// set, and the choice of the best supported table, made once.
//
// Adding an order: raise kMaxFixed.  Adding an instruction set: a file of
// three definitions, as x86/avx2.cpp, its feature bit (cpu_features) and
// its row in kIsaVariants (dispatch.cpp).
#ifndef BSBASIS_DISPATCH_HPP
#define BSBASIS_DISPATCH_HPP

#include "core/common.hpp"

namespace bsbasis {

// Orders with a tiled kernel; every other order takes the generic path.
constexpr int kMinFixed = 2;
constexpr int kMaxFixed = 6;

using KnotKernel = void (*)(const double *t, int nt, const double *x, index_t nx,
                            int *i, int *j, double *B, int order_stop, int nj);
using UniformKernel = void (*)(const double *x, index_t nx, int *i, int *j,
                               double *B, int order_stop, int nj);
// First derivatives of nx blocks in place, with s[0 .. nt-1] the reciprocal
// spans of the columns at width order - 1 (blocks/derivative.cpp fills them).
using DerivKernel = void (*)(const double *s, int nt, const int *j, double *B, index_t nx);

// Derivatives of order nu (1 .. order-1) of nx blocks, from src (their
// order - nu values, stopped as the block kernels stop) to dst, with s[L]
// the reciprocal spans at width L - 1 of every column for the levels
// L = order - nu + 1 .. order (eval/levels.hpp fills them).
using LevelsKernel = void (*)(const double *const *s, int nu, int nt, const int *j,
                              const double *src, double *dst, index_t nx);

// A tile's running sums of the normal equations: G banded (the upper form,
// n columns, u = order - 1), R the right-hand side (null without y), the
// weighted sum of squares and of weights, the rows counted, and the least
// and greatest first column touched (lo > hi: none yet).
struct TileSums {
  double *G, *R;
  index_t n;
  double yty, sw;
  int64_t count;
  int32_t lo, hi;
};

// Adds nx blocks (j, B as the design writes them, empty rows skipped) with
// weights w and responses y (either may be null) to s, row after row.
using SumsKernel = void (*)(const int32_t *j, const double *B, const double *w,
                            const double *y, index_t nx, TileSums *s);

// Entry points by order; null where an order has none.
struct KernelTable {
  KnotKernel knot[kMaxFixed + 1];
  UniformKernel uniform[kMaxFixed + 1];
  DerivKernel deriv[kMaxFixed + 1];
  LevelsKernel levels[kMaxFixed + 1];
  SumsKernel sums[kMaxFixed + 1];
};

// No kernel at all: every call takes the generic path.
extern const KernelTable kGenericOnly;

// An instruction-set variant: the CPU feature bits it needs, and its table.
struct IsaVariant {
  const char *name;
  uint32_t needs;
  const KernelTable *table;
};

// Every variant compiled in, best first; the last one needs nothing.
extern const IsaVariant kIsaVariants[];
extern const int kIsaVariantCount;

bool supported(const IsaVariant &v);

// The table of the best supported variant, chosen on the first call.
const KernelTable &kernels();

inline KnotKernel knot_kernel(int order) {
  return order >= kMinFixed && order <= kMaxFixed ? kernels().knot[order] : nullptr;
}

inline UniformKernel uniform_kernel(int order) {
  return order >= kMinFixed && order <= kMaxFixed ? kernels().uniform[order] : nullptr;
}

// For the tests: every later call goes through `table` (null: the best
// supported one again).  Not exported; not for concurrent use.
void use_kernels_for_testing(const KernelTable *table);

}  // namespace bsbasis

#endif

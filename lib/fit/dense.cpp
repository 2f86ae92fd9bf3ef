// Dense rows from the blocks of an evaluation: each row's window of columns
// written whole, so the caller's matrix needs no zero-fill.
#include "bsbasis.h"
#include "checks.hpp"
#include "core/common.hpp"

namespace bsbasis {
namespace {

// One row: zeros over the window, then the block's entries added.
template <bool kContiguous>
void dense_row(int order, const int32_t *j, const double *B, int64_t ncols, double *row,
               int64_t col_stride) {
  const int64_t step = kContiguous ? 1 : col_stride;
  for (int64_t c = 0; c < ncols; ++c) row[c * step] = 0.0;
  for (int q = 0; q < order; ++q) {
    const int64_t c = j[q];
    if (c < 0 || c >= ncols) continue;
    double &v = row[c * step];
    v = v + B[q];
  }
}

}  // namespace
}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT int bsbasis_blocks_to_dense(int32_t order, const int32_t *j, const double *B,
                                           int64_t nx, int64_t ncols, double *out,
                                           int64_t row_stride, int64_t col_stride) {
  const int st = check_dense(order, j, B, nx, ncols, out, row_stride, col_stride);
  if (st != BSBASIS_OK || ncols == 0) return st;
  for (int64_t p = 0; p < nx; ++p) {
    const int64_t e = p * order;
    if (col_stride == 1)
      dense_row<true>(order, j + e, B + e, ncols, out + p * row_stride, 1);
    else
      dense_row<false>(order, j + e, B + e, ncols, out + p * row_stride, col_stride);
  }
  return BSBASIS_OK;
}

// Dense rows from the blocks of an evaluation: each row's window of columns
// written whole, so the caller's matrix needs no zero-fill.
#include "bsbasis.h"
#include "common.hpp"

namespace bsbasis {
namespace {

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

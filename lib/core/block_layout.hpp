// The triplet block layout: where a block's rows and columns go, and the
// out-of-range block.
#ifndef BSBASIS_BLOCK_LAYOUT_HPP
#define BSBASIS_BLOCK_LAYOUT_HPP

#include "core/common.hpp"

namespace bsbasis {

// Rows and columns of block p with interval J: rows p, columns J-deg .. J.
BSBASIS_INLINE void write_layout(int *i, int *j, index_t p, int order, int J) {
  const index_t oo = block_offset(p, order);
  const int row = static_cast<int>(p);
  const int c0 = J - (order - 1);
  BSBASIS_UNROLL
  for (int q = 0; q < order; ++q) {
    i[oo + q] = row;
    j[oo + q] = c0 + q;
  }
}

// The out-of-range block p: rows p, columns 0, values 0 at every position.
BSBASIS_INLINE void zero_block(int *i, int *j, double *B, index_t p, int order) {
  const index_t oo = block_offset(p, order);
  const int row = static_cast<int>(p);
  BSBASIS_UNROLL
  for (int q = 0; q < order; ++q) {
    i[oo + q] = row;
    j[oo + q] = 0;
    B[oo + q] = 0.0;
  }
}

// The first position of a block that an evaluation stopped at order_stop
// writes; the positions below keep the caller's values.
BSBASIS_INLINE int first_written(int order, int order_stop) {
  return order - max_int(min_int(order_stop, order), 1);
}

}  // namespace bsbasis

#endif

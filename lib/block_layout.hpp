// The triplet block layout: seeding and out-of-range blocks.
#ifndef BSBASIS_BLOCK_LAYOUT_HPP
#define BSBASIS_BLOCK_LAYOUT_HPP

#include "common.hpp"

namespace bsbasis {

// Block p with interval J: rows p, columns J-deg .. J, 1.0 at the top.
// Positions below the top keep their values.
inline void seed_block(int *i, int *j, double *B, index_t p, int order, int J) {
  const index_t oo = block_offset(p, order);
  const int deg = order - 1;
  const int row = static_cast<int>(p);
  for (int q = 0; q <= deg; ++q) {
    i[oo + q] = row;
    j[oo + q] = J - (deg - q);
  }
  B[oo + deg] = 1.0;
}

// Out-of-range block p: rows p, columns 0, values 0 at every position.
inline void zero_block(int *i, int *j, double *B, index_t p, int order) {
  const index_t oo = block_offset(p, order);
  const int row = static_cast<int>(p);
  for (int q = 0; q < order; ++q) {
    i[oo + q] = row;
    j[oo + q] = 0;
    B[oo + q] = 0.0;
  }
}

}  // namespace bsbasis

#endif

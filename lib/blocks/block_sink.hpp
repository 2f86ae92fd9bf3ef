// The triplet store for the paths that evaluate one block at a time: rows
// and columns written first, the values raised in place in B.
#ifndef BSBASIS_BLOCK_SINK_HPP
#define BSBASIS_BLOCK_SINK_HPP

#include "core/block_layout.hpp"
#include "core/common.hpp"

namespace bsbasis {

class TripletBlocks {
 public:
  TripletBlocks(int *i, int *j, double *B, int order) : i_(i), j_(j), B_(B), order_(order) {}

  void outside(index_t p) const { zero_block(i_, j_, B_, p, order_); }

  // Where block p, in interval J, is to be evaluated.
  double *block(index_t p, int J) const {
    write_layout(i_, j_, p, order_, J);
    return B_ + block_offset(p, order_);
  }

 private:
  int *i_, *j_;
  double *B_;
  int order_;
};

// Seeds block b for an evaluation up to order_stop: 1.0 at the top, 0.0 at
// the positions that the levels will write.
inline void seed_block(double *b, int order, int order_stop) {
  const int deg = order - 1;
  for (int q = first_written(order, order_stop); q < deg; ++q) b[q] = 0.0;
  b[deg] = 1.0;
}

}  // namespace bsbasis

#endif

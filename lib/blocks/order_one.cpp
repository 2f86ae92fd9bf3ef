// The order-1 block filler: the internal entry point and its export.
#include "core/block_layout.hpp"

#include "bsbasis.h"
#include "blocks/entry_points.hpp"

namespace bsbasis {

void order_one_blocks(int *j, double *B, index_t N, int order) {
  if (order <= 0) return;
  index_t e = 0;
  while (e < N) {
    for (int r = 0; r < order && e < N; ++r, ++e) {
      B[e] = r == order - 1 ? 1.0 : 0.0;
      // Wraps instead of overflowing on columns near the int limits.
      j[e] = static_cast<int>(static_cast<unsigned>(j[e]) +
                              static_cast<unsigned>(r - order));
    }
  }
}

}  // namespace bsbasis

BSBASIS_EXPORT void test(double *x, int nx, double *grid, int ngrid, int *j,
                         double *B, int N, int order) {
  (void)x;
  (void)nx;
  (void)grid;
  (void)ngrid;
  bsbasis::order_one_blocks(j, B, N, order);
}

// The exported order-1 block filler.
#include "block_layout.hpp"

#include "bsbasis.h"

using bsbasis::index_t;

BSBASIS_EXPORT void test(double *x, int nx, double *grid, int ngrid, int *j,
                         double *B, int N, int order) {
  (void)x;
  (void)nx;
  (void)grid;
  (void)ngrid;
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

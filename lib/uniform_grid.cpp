// Basis on the uniform integer grid.
#include "block_layout.hpp"
#include "bsbasis.h"
#include "common.hpp"
#include "kernels.hpp"
#include "recurrence.hpp"

namespace bsbasis {
namespace {

constexpr index_t kTile = 256;

// Seeds blocks [p0, p1) and reports which are in range in `in`.
void seed_tile(const double *x, index_t p0, index_t p1, int *i, int *j,
               double *B, int order, int nj, bool *in) {
  const double lo = static_cast<double>(order - 1);
  const double hi = static_cast<double>(nj);
  for (index_t p = p0; p < p1; ++p) {
    const double xx = x[p];
    // Written so that NaN fails the test.
    in[p - p0] = xx >= lo && xx < hi;
    if (in[p - p0])
      seed_block(i, j, B, p, order, static_cast<int>(xx));  // xx >= 0: truncation is floor
    else
      zero_block(i, j, B, p, order);
  }
}

}  // namespace

void uniform_generic(const double *x, index_t nx, int *i, int *j, double *B,
                     int order_stop, int order, int nj) {
  bool in[kTile];
  // Tiles keep a block in cache across the levels; each level divides once.
  for (index_t p0 = 0; p0 < nx; p0 += kTile) {
    const index_t p1 = p0 + kTile < nx ? p0 + kTile : nx;
    seed_tile(x, p0, p1, i, j, B, order, nj, in);
    for (int L = 2; L <= order_stop; ++L) {
      const UniformLevel level{1.0 / static_cast<double>(L - 1)};
      for (index_t p = p0; p < p1; ++p) {
        if (!in[p - p0]) continue;
        const index_t oo = block_offset(p, order);
        raise_level(level, L, x[p], j[oo + order - 1], order, B + oo);
      }
    }
  }
}

}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT void blossom(double *x, int nx, int *i, int *j, double *B,
                            int N, int order_stop, int order, int nj) {
  (void)N;
  if (order <= 0 || nx <= 0) return;
  order_stop = min_int(order_stop, order);
  if (uniform_fixed(best_isa(), x, nx, i, j, B, order_stop, order, nj)) return;
  if (uniform_fixed(Isa::kBaseline, x, nx, i, j, B, order_stop, order, nj)) return;
  uniform_generic(x, nx, i, j, B, order_stop, order, nj);
}

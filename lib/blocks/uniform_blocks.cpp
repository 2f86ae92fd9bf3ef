// The basis on uniform knots (knot m at m): the export, and the path of any
// order, which evaluates one block at a time.
#include "blocks/block_sink.hpp"
#include "bsbasis.h"
#include "core/common.hpp"
#include "lanes/dispatch.hpp"
#include "blocks/entry_points.hpp"
#include "core/numeric.hpp"

namespace bsbasis {
namespace {

// Abscissae whose intervals are found before any of their blocks is formed.
constexpr int kSearchTile = 256;

// x less the left knot of each position's column: column c has knot c.
struct IntegerDx {
  double xx;
  int c0;
  double operator()(int q) const { return xx - static_cast<double>(c0 + q); }
};

struct LevelSpan {
  double rs;
  double operator()(int, int) const { return rs; }
};

// Tiles keep their blocks in cache across the levels; each level divides
// once.
template <class Sink>
void uniform_blocks(const double *x, index_t nx, int order_stop, int order, int nj,
                    const Sink &sink) {
  const int deg = order - 1;
  const double lo = static_cast<double>(deg), hi = static_cast<double>(nj);
  int J[kSearchTile];
  double *b[kSearchTile];
  for (index_t p0 = 0; p0 < nx; p0 += kSearchTile) {
    const int n = static_cast<int>(nx - p0 < kSearchTile ? nx - p0 : kSearchTile);
    for (int m = 0; m < n; ++m) {
      const double xx = x[p0 + m];
      // Written so that NaN fails the test.
      if (xx >= lo && xx < hi) {
        J[m] = static_cast<int>(xx);  // xx >= 0: truncation is floor
        b[m] = sink.block(p0 + m, J[m]);
        seed_block(b[m], order, order_stop);
      } else {
        J[m] = -1;
        sink.outside(p0 + m);
      }
    }
    for (int L = 2; L <= order_stop; ++L) {
      const LevelSpan rs{uniform_reciprocal_span(L)};
      for (int m = 0; m < n; ++m)
        if (J[m] >= 0) raise_level<double>(IntegerDx{x[p0 + m], J[m] - deg}, rs, L, deg, b[m]);
    }
  }
}

}  // namespace

void uniform_generic(const double *x, index_t nx, int *i, int *j, double *B,
                     int order_stop, int order, int nj) {
  uniform_blocks(x, nx, order_stop, order, nj, TripletBlocks(i, j, B, order));
}

void integer_blocks(const double *x, index_t nx, int *i, int *j, double *B, int order_stop,
                    int order, int nj) {
  if (order <= 0 || nx <= 0) return;
  order_stop = min_int(order_stop, order);
  if (const UniformKernel kernel = uniform_kernel(order))
    kernel(x, nx, i, j, B, order_stop, nj);
  else
    uniform_generic(x, nx, i, j, B, order_stop, order, nj);
}

}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT void blossom(double *x, int nx, int *i, int *j, double *B,
                            int N, int order_stop, int order, int nj) {
  (void)N;
  integer_blocks(x, nx, i, j, B, order_stop, order, nj);
}

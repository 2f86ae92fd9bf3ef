// Where a call's abscissae lie against the base interval, read in two
// lanes at a time: every call reads its abscissae once more for it, so it
// had better be cheap.
#include "eval/design.hpp"
#include "eval/ends.hpp"

namespace bsbasis {

typedef double v2d_t __attribute__((vector_size(16)));
typedef long long v2l_t __attribute__((vector_size(16)));

Coverage coverage(const double *x, index_t nx, double lo, double hi) {
  const v2d_t vlo = {lo, lo}, vhi = {hi, hi};
  v2l_t closed = {-1, -1}, open = {-1, -1};
  index_t p = 0;
  for (; p + 2 <= nx; p += 2) {
    v2d_t v;
    __builtin_memcpy(&v, x + p, sizeof v);
    const v2l_t ge = v >= vlo;
    closed &= ge & (v <= vhi);
    open &= ge & (v < vhi);
  }
  bool c = closed[0] & closed[1], h = open[0] & open[1];
  for (; p < nx; ++p) {
    c = c & (x[p] >= lo) & (x[p] <= hi);
    h = h & (x[p] >= lo) & (x[p] < hi);
  }
  return Coverage{c, h};
}

bool within_closed(const double *x, index_t nx, double lo, double hi) {
  return coverage(x, nx, lo, hi).closed;
}

}  // namespace bsbasis

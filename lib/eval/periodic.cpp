// The periodic basis on breaks u[0 .. m]: the basis on the knots continued
// a period beyond each end, evaluated with the abscissae wrapped into the
// period, its columns wrapped onto the m columns of the period.
#include <string.h>

#include "bsbasis.h"
#include "checks.hpp"
#include "core/common.hpp"
#include "eval/design.hpp"

namespace bsbasis {

// The knots of the periodic basis on the breaks u[0 .. m]: the order - 1
// breaks before u[m] shifted down a period, the breaks, and the order - 1
// after u[0] shifted up a period.
void periodic_knots(const double *u, int m, int deg, double *t) {
  const double period = u[m] - u[0];
  for (int q = 0; q < deg; ++q) t[q] = u[m - deg + q] - period;
  for (int q = 0; q <= m; ++q) t[deg + q] = u[q];
  for (int q = 0; q < deg; ++q) t[deg + m + 1 + q] = u[1 + q] + period;
}

// Column c of the m + order - 1 functions on those knots is column c mod m
// of the basis.  A block whose columns pass m ends with the wrapped ones:
// rotated so that they come first, its columns increase.
void wrap_columns(int32_t *jb, double *b, int order, int m) {
  if (jb[0] < 0) return;  // an empty row
  const int over = jb[order - 1] - m + 1;
  if (over <= 0) return;
  int32_t jt[64];
  double bt[64];
  // Rotate left by order - over through a small buffer: orders beyond 64
  // rotate in several rounds.
  const int shift = order - over;
  for (int done = 0; done < shift;) {
    const int n = shift - done < 64 ? shift - done : 64;
    memcpy(jt, jb, sizeof(int32_t) * n);
    memcpy(bt, b, sizeof(double) * n);
    memmove(jb, jb + n, sizeof(int32_t) * (order - n));
    memmove(b, b + n, sizeof(double) * (order - n));
    memcpy(jb + order - n, jt, sizeof(int32_t) * n);
    memcpy(b + order - n, bt, sizeof(double) * n);
    done += n;
  }
  for (int q = 0; q < order; ++q)
    if (jb[q] >= m) jb[q] -= m;
}

}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT int bsbasis_periodic_design(const double *breaks, int64_t nbreaks,
                                           int32_t order, int32_t nu, const double *x,
                                           int64_t nx, int32_t *i, int32_t *j, double *B,
                                           int64_t *nempty) {
  int st = check_breaks(breaks, nbreaks, order);
  if (st == BSBASIS_OK) st = check_call(order, nu, BSBASIS_EXTRAPOLATE_PERIODIC, x, nx, i, j, B);
  if (st != BSBASIS_OK) return st;
  const int m = static_cast<int>(nbreaks - 1), deg = order - 1;
  const int nt = m + 1 + 2 * deg;
  Scratch<double, 256> knots(static_cast<size_t>(nt));
  if (!knots.data()) return BSBASIS_ERROR_MEMORY;
  periodic_knots(breaks, m, deg, knots.data());
  if (check_basis(knots.data(), nt, order, m + deg) != BSBASIS_OK) return BSBASIS_ERROR_KNOTS;
  st = design_checked(knots.data(), nt, order, m + deg, nu, BSBASIS_EXTRAPOLATE_PERIODIC, x, nx,
                      i, j, B, nempty);
  if (st != BSBASIS_OK) return st;
  for (index_t p = 0; p < nx; ++p)
    wrap_columns(j + block_offset(p, order), B + block_offset(p, order), order, m);
  return BSBASIS_OK;
}

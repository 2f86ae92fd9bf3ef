// The rows outside the base interval [lo, hi] and at hi: the extrapolation
// modes, the exact limit from the left at hi, and the periodic wrap.  The
// end blocks are formed once per call; each row outside takes one of them
// or is formed on its end interval with the same arithmetic.
#ifndef BSBASIS_EVAL_ENDS_HPP
#define BSBASIS_EVAL_ENDS_HPP

#include <math.h>

#include "bsbasis.h"
#include "core/common.hpp"
#include "eval/rows.hpp"

namespace bsbasis {

// The row at the right end uhi of the base interval is the limit from the
// left on the last interval J that is not empty.  The recurrence forms it
// with rounding: a column whose support ends at uhi gets a few ulps where
// its limit is 0.  Column c = J - deg + q ends at uhi when knot c + order is
// uhi; then uhi is a knot of multiplicity m = c + order - J in its support
// and the function falls to 0 there like (uhi - x)^(order - m), so its
// derivatives of order nu < order - m = deg - q have the limit 0 exactly.
// When every column but the top has the limit 0 (a clamped end), the values
// sum to 1: the top is 1.
template <class K>
void exact_right_limit(const K &k, int order, index_t J, double uhi, int nu, double *b) {
  const int deg = order - 1;
  const index_t c0 = J - deg;
  for (int q = 0; q < deg; ++q)
    if (k.at(c0 + q + order) == uhi && nu < deg - q) b[q] = 0.0;
  if (nu == 0 && k.at(J + order) == uhi) b[deg] = 1.0;
}

// What the rows outside the base interval [lo, hi] and at hi take: the
// blocks at the ends, formed once per call.  On uniform knots they are
// formed in the knots' units and scaled by 1/spacing per derivative.
struct Ends {
  int order = 0, nu = 0, mode = 0;
  double lo = 0, hi = 0;
  index_t Jlo = 0, Jhi = 0;
  int *cols = nullptr;     // 3 blocks: left, right, scratch
  double *right = nullptr; // the row at hi: limits from the left
  double *end = nullptr;   // 2 blocks: the values CONSTANT or LINEAR take
  double *slope = nullptr; // 2 blocks: LINEAR's first derivatives
};

inline void write_block(int *j, double *B, const int *jb, const double *b, int order) {
  for (int q = 0; q < order; ++q) {
    j[q] = jb[q];
    B[q] = b[q];
  }
}

inline void empty_block(int *j, double *B, int order) {
  for (int q = 0; q < order; ++q) {
    j[q] = -1;
    B[q] = 0.0;
  }
}

// A row outside [lo, hi), NaN included: x the abscissa as given, at_hi
// whether it lies at hi (after any wrap), ux its coordinate in k.  Returns
// whether the row is empty.
template <class K>
bool fix_row(const K &k, const Ends &e, double x, bool at_hi, double ux, double scale,
             int *jb, double *b) {
  const int o = e.order;
  if (at_hi) {
    write_block(jb, b, e.cols + o, e.right, o);
    return false;
  }
  const bool left = x < e.lo;
  const bool finite = is_finite(x);
  if (x == x) switch (e.mode) {
      case BSBASIS_EXTRAPOLATE_CONTINUE:
        if (!finite) break;
        forced_block(k, o, left ? e.Jlo : e.Jhi, ux, e.nu, jb, b);
        for (int d = 0; d < e.nu && scale != 1.0; ++d)
          for (int q = 0; q < o; ++q) b[q] = b[q] / scale;
        return false;
      case BSBASIS_EXTRAPOLATE_CONSTANT:
        write_block(jb, b, e.cols + (left ? 0 : o), e.end + (left ? 0 : o), o);
        return false;
      case BSBASIS_EXTRAPOLATE_LINEAR: {
        if (!finite) break;
        const int side = left ? 0 : o;
        write_block(jb, b, e.cols + side, e.end + side, o);
        const double dx = x - (left ? e.lo : e.hi);
        for (int q = 0; q < o; ++q) b[q] = b[q] + dx * e.slope[side + q];
        return false;
      }
      default:
        break;
    }
  empty_block(jb, b, o);
  return true;
}

// The end blocks in coordinates of k, with ulo and uhi the ends there.
template <class K>
void form_ends(const K &k, double ulo, double uhi, double scale, Ends &e, double *store) {
  const int o = e.order;
  e.right = store;
  e.end = store + o;
  e.slope = store + 3 * o;
  int *tmp = e.cols + 2 * o;
  const auto scaled = [&](double *b, int times) {
    for (int d = 0; d < times && scale != 1.0; ++d)
      for (int q = 0; q < o; ++q) b[q] = b[q] / scale;
  };
  forced_block(k, o, e.Jhi, uhi, e.nu, e.cols + o, e.right);
  exact_right_limit(k, o, e.Jhi, uhi, e.nu, e.right);
  scaled(e.right, e.nu);
  for (int side = 0; side < 2; ++side) {
    int *jb = e.cols + side * o;
    const index_t J = side ? e.Jhi : e.Jlo;
    const double u = side ? uhi : ulo;
    // CONSTANT: the values, derivatives 0.  LINEAR: value and slope
    // continued, so that its nu-th derivative is the end's up to nu = 1.
    const int vnu = e.mode == BSBASIS_EXTRAPOLATE_LINEAR && e.nu <= 1 ? e.nu : 0;
    forced_block(k, o, J, u, vnu, jb, e.end + side * o);
    if (side) exact_right_limit(k, o, J, u, vnu, e.end + side * o);
    scaled(e.end + side * o, vnu);
    const bool zero = e.mode == BSBASIS_EXTRAPOLATE_CONSTANT ? e.nu > 0 : e.nu > 1;
    if (zero)
      for (int q = 0; q < o; ++q) e.end[side * o + q] = 0.0;
    double *sl = e.slope + side * o;
    if (e.mode == BSBASIS_EXTRAPOLATE_LINEAR && e.nu == 0) {
      forced_block(k, o, J, u, 1, tmp, sl);
      if (side) exact_right_limit(k, o, J, u, 1, sl);
      scaled(sl, 1);
    } else {
      for (int q = 0; q < o; ++q) sl[q] = 0.0;
    }
  }
}

// Numpy's floating remainder, the sign of the divisor: a - floor(a/b)*b as
// it rounds there, in [0, b] for b > 0.
inline double floor_mod(double a, double b) {
  double r = fmod(a, b);
  if (r != 0.0) {
    if ((b < 0.0) != (r < 0.0)) r = r + b;
  } else {
    r = copysign(0.0, b);
  }
  return r;
}

// x wrapped to lo + (x - lo) mod (hi - lo), the difference and the
// remainder as numpy forms them, for every x: a difference that rounds to
// the period wraps to lo, as hi does.  Where x - lo overflows, the exact
// remainders of x and lo give the one of their difference.  x may land on
// hi by rounding; non-finite x goes to NaN.
inline double wrap(double x, double lo, double hi) {
  if (!is_finite(x)) return NAN;
  const double period = hi - lo, d = x - lo;
  if (d >= 0.0 && d < period) return lo + d;  // the remainder is d itself
  if (is_finite(d)) return lo + floor_mod(d, period);
  return lo + floor_mod(floor_mod(x, period) - floor_mod(lo, period), period);
}

// Where the abscissae lie against [lo, hi]: whether every one lies in the
// closed interval (what ERROR needs; NaN does not) and whether every one
// lies in [lo, hi) (then no row needs more than the kernels).
struct Coverage {
  bool closed, half_open;
};

Coverage coverage(const double *x, index_t nx, double lo, double hi);

}  // namespace bsbasis

#endif

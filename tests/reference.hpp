// A straightforward reference for the kernels, written from their
// definitions and independent of the library's code: the interval of a key
// by a plain scan, each level of the recurrence as a pass over all
// abscissae, the whole span table refilled per level, scratch on the heap.
// It follows the arithmetic of the kernels operation by operation, so that
// every path of the library must match it bit for bit on every in-range
// block.  It is meant for calls within the documented limits; non-finite
// abscissae are flagged out of range.
#ifndef BSBASIS_TESTS_REFERENCE_HPP
#define BSBASIS_TESTS_REFERENCE_HPP

#include <cmath>
#include <vector>

#include "helpers.hpp"

namespace ref {

using testing_bsbasis::Triplets;

// The interval index by its definition, for a sorted array and a key that
// is not NaN: -1 below arr[0], len above arr[len-1], otherwise the largest m
// with arr[m] <= key.
inline int interval_index(double key, const double *arr, int len) {
  if (len <= 0 || key < arr[0]) return -1;
  if (key > arr[len - 1]) return len;
  int m = -1;
  for (int k = 0; k < len; ++k)
    if (arr[k] <= key) m = k;
  return m;
}

inline void seed(Triplets &r, int p, int order, int J, bool in) {
  const int deg = order - 1;
  const size_t oo = size_t(p) * order;
  r.B[oo + deg] = 1.0;
  r.i[oo + deg] = p;
  r.j[oo + deg] = J;
  for (int q = deg - 1; q >= 0; q--) {
    r.i[oo + q] = p;
    r.j[oo + q] = r.j[oo + q + 1] - 1;
  }
  r.in_range[p] = in;
  if (!in) {
    r.B[oo + deg] = 0.0;
    for (int q = deg; q >= 0; q--) r.j[oo + q] = 0;
  }
}

// Uniform integer grid.
inline Triplets blossom(const std::vector<double> &x, int order_stop, int order, int nj) {
  const int nx = int(x.size());
  Triplets r(nx, order);
  const int deg = order - 1;
  for (int p = 0; p < nx; p++) {
    const double xx = x[p];
    const bool out = !std::isfinite(xx) || xx < double(deg) || xx >= double(nj);
    seed(r, p, order, out ? 0 : int(std::floor(xx)), !out);
  }
  for (int k = deg - 1; order - k <= order_stop; k--) {
    const double scale = 1.0 / (deg - k);
    for (int p = 0; p < nx; p++) {
      const size_t oo = size_t(p) * order;
      const double xx = x[p];
      double l1 = ((xx - r.j[oo + deg]) * scale) * r.B[oo + deg];
      for (int q = deg - 1; q >= k; q--) {
        const double o1 = (xx - r.j[oo + q]) * scale;
        const double o2 = (xx - r.j[oo + q + 1]) * scale;
        const double l2 = o1 * r.B[oo + q] + (1.0 - o2) * r.B[oo + q + 1];
        r.B[oo + q + 1] = l1;
        l1 = l2;
      }
      r.B[oo + k] = l1;
    }
  }
  return r;
}

// Knot sequence; requires order >= 1, nj <= nt - 1 and nt >= 3 when order >= 2.
inline Triplets blossom_grid(const std::vector<double> &t, const std::vector<double> &x,
                             int order_stop, int order, int nj) {
  const int nx = int(x.size()), nt = int(t.size());
  Triplets r(nx, order);
  std::vector<double> scales(nt, -99.0);
  const int deg = order - 1;
  for (int p = 0; p < nx; p++) {
    const int J = std::isfinite(x[p]) ? interval_index(x[p], t.data(), nt) : -1;
    const bool out = !std::isfinite(x[p]) || J >= nj || J < deg;
    seed(r, p, order, out ? 0 : J, !out);
  }
  for (int k = deg - 1; order - k <= order_stop; k--) {
    for (int l = 0; l <= nt - 2; l++) {
      const int jx = l + deg - k;
      scales[l] = (jx < nt && t[jx] - t[l] > 0) ? 1.0 / (t[jx] - t[l]) : 0.0;
    }
    for (int p = 0; p < nx; p++) {
      const size_t oo = size_t(p) * order;
      const double xx = x[p];
      const int J = r.j[oo + deg];
      double l1 = ((xx - t[J]) * scales[J]) * r.B[oo + deg];
      for (int q = deg - 1; q >= k; q--) {
        const int c = r.j[oo + q];
        const double o1 = (xx - t[c]) * scales[c];
        const double o2 = (xx - t[c + 1]) * scales[c + 1];
        const double l2 = o1 * r.B[oo + q] + (1.0 - o2) * r.B[oo + q + 1];
        r.B[oo + q + 1] = l1;
        l1 = l2;
      }
      r.B[oo + k] = l1;
    }
  }
  return r;
}

// Derivatives in place on the output of blossom_grid(order_stop = order - 1).
inline void deriv_grid(const std::vector<double> &t, Triplets &r, int nx, int order) {
  const int nt = int(t.size());
  const double km1 = double(order) - 1.0;
  std::vector<double> scale(nt);
  for (int p = 0; p < nt; p++)
    scale[p] = (p + order - 1 < nt && t[p + order - 1] - t[p] > 0)
                   ? 1.0 / (t[p + order - 1] - t[p])
                   : 0.0;
  const int deg = order - 1;
  for (int p = 0; p < nx; p++) {
    const size_t oo = size_t(p) * order;
    double l1 = (scale[r.j[oo + deg]] * r.B[oo + deg]) * km1;
    for (int q = deg - 1; q >= 0; q--) {
      const int c = r.j[oo + q];
      const double l2 = (r.B[oo + q] * scale[c] - r.B[oo + q + 1] * scale[c + 1]) * km1;
      r.B[oo + q + 1] = l1;
      l1 = l2;
    }
    r.B[oo] = l1;
  }
}

inline void test(int *j, double *B, int N, int order) {
  for (int i = 0; i < N; i++) {
    const int r = i % order;
    B[i] = r == order - 1 ? 1.0 : 0.0;
    j[i] = j[i] + r - order;
  }
}

}  // namespace ref

#endif

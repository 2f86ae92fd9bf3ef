// Fixed-order kernels: the block lives in registers, abscissae go in tiles
// (all searches of a tile first, then all levels of each block), and the
// knot grid's span table is filled only over the columns the call touches.
// Every value is formed with the same operations in the same order as the
// generic paths, so the results are the same bits.
#include <limits.h>

#include "block_layout.hpp"
#include "common.hpp"
#include "kernels.hpp"

namespace bsbasis {
namespace {

constexpr int kTile = 128;

#define BSBASIS_UNROLL _Pragma("GCC unroll 16")

// Largest m with t[m] <= key, or -1; branch-free, reads only t[0 .. nt-1]
// (nt >= 1).  For non-decreasing knots this is the interval that the
// guessed search finds for every finite key below or at t[nt-1].
inline int search_branch_free(double key, const double *t, int nt) {
  const double *base = t;
  int n = nt;
  while (n > 1) {
    const int half = n >> 1;
    base = base[half] <= key ? base + half : base;
    n -= half;
  }
  return static_cast<int>(base - t) + (*base <= key) - 1;
}

// Columns [c0, c1) of the table: per column O doubles, t[c] first, then the
// reciprocal spans of the levels 2 .. order_stop, as the generic path forms
// them.
template <int O>
void fill_columns(const double *t, int nt, int c0, int c1, int order_stop,
                  double *tab) {
  for (int c = c0; c < c1; ++c) {
    double *e = tab + static_cast<index_t>(c) * O;
    e[0] = t[c];
    for (int L = 2; L <= order_stop; ++L) {
      const index_t jx = static_cast<index_t>(c) + L - 1;
      const double span = jx < nt ? t[jx] - t[c] : 0.0;
      e[L - 1] = span > 0 ? 1.0 / span : 0.0;
    }
  }
}

// Levels 2 .. order_stop of one block held in b (positions below the top
// start at +0.0, as the caller's zero-filled B), with d[q] = x - left knot of
// column q and rs(L, q) the reciprocal span of column q at level L.
template <int O, class Rspan>
inline void raise_block(const double *d, double *b, int order_stop,
                        const Rspan &rs) {
  constexpr int deg = O - 1;
  BSBASIS_UNROLL
  for (int L = 2; L <= O; ++L) {
    if (L > order_stop) break;
    const int k = O - L;
    double l1 = (d[deg] * rs(L, deg)) * b[deg];
    BSBASIS_UNROLL
    for (int q = deg - 1; q >= k; --q) {
      const double o1 = d[q] * rs(L, q);
      const double o2 = d[q + 1] * rs(L, q + 1);
      const double l2 = o1 * b[q] + (1.0 - o2) * b[q + 1];
      b[q + 1] = l1;
      l1 = l2;
    }
    b[k] = l1;
  }
}

// Writes an in-range block: rows, columns J-deg .. J, the top order_stop
// values.
template <int O>
inline void store_block(int *i, int *j, double *B, index_t p, int J,
                        const double *b, int order_stop) {
  const index_t oo = p * O;
  const int row = static_cast<int>(p);
  BSBASIS_UNROLL
  for (int q = 0; q < O; ++q) {
    i[oo + q] = row;
    j[oo + q] = J - (O - 1) + q;
  }
  if (order_stop >= O) {
    BSBASIS_UNROLL
    for (int q = 0; q < O; ++q) B[oo + q] = b[q];
  } else {
    for (int q = O - order_stop; q < O; ++q) B[oo + q] = b[q];
  }
}

template <int O>
inline void zero_fixed(int *i, int *j, double *B, index_t p) {
  const index_t oo = p * O;
  const int row = static_cast<int>(p);
  BSBASIS_UNROLL
  for (int q = 0; q < O; ++q) {
    i[oo + q] = row;
    j[oo + q] = 0;
    B[oo + q] = 0.0;
  }
}

// ---------------------------------------------------------------- knot grid

template <int O>
struct GridState {
  const double *t;
  int nt, ncol, order_stop;
  double *tab;      // ncol columns of O doubles
  int lo = 0, hi = 0;  // columns [lo, hi) are filled

  // Fills what is missing of columns [c0, c1]; each column once per call.
  void cover(int c0, int c1) {
    if (lo == hi) {
      fill_columns<O>(t, nt, c0, c1 + 1, order_stop, tab);
      lo = c0;
      hi = c1 + 1;
      return;
    }
    if (c0 < lo) {
      fill_columns<O>(t, nt, c0, lo, order_stop, tab);
      lo = c0;
    }
    if (c1 >= hi) {
      fill_columns<O>(t, nt, hi, c1 + 1, order_stop, tab);
      hi = c1 + 1;
    }
  }
};

// Intervals of a tile: J in deg .. ncol-1, or -1 for an out-of-range block.
// Tries the interval of the previous in-range abscissa first.
template <int O>
inline void search_tile(const double *t, int nt, int ncol, const double *x,
                        int n, int *J, int *guess, int *jmin, int *jmax) {
  constexpr int deg = O - 1;
  int g = *guess, mn = INT_MAX, mx = -1;
  for (int m = 0; m < n; ++m) {
    const double xx = x[m];
    int c = -1;
    if (is_finite(xx)) {
      // g <= ncol - 1 <= nt - 2.
      if (g >= 0 && t[g] <= xx && xx < t[g + 1])
        c = g;
      else
        c = search_branch_free(xx, t, nt);
    }
    if (c >= deg && c < ncol) {
      g = c;
      mn = c < mn ? c : mn;
      mx = c > mx ? c : mx;
    } else {
      c = -1;
    }
    J[m] = c;
  }
  *guess = g;
  *jmin = mn;
  *jmax = mx;
}

template <int O>
void grid_tiles(const double *t, int nt, const double *x, index_t nx, int *i,
                int *j, double *B, int order_stop, int ncol, double *tab) {
  constexpr int deg = O - 1;
  GridState<O> st{t, nt, ncol, order_stop, tab};
  int J[kTile];
  int guess = -1;
  for (index_t p0 = 0; p0 < nx; p0 += kTile) {
    const int n = static_cast<int>(nx - p0 < kTile ? nx - p0 : kTile);
    int jmin, jmax;
    search_tile<O>(t, nt, ncol, x + p0, n, J, &guess, &jmin, &jmax);
    if (jmax >= 0) st.cover(jmin - deg, jmax);
    for (int m = 0; m < n; ++m) {
      const index_t p = p0 + m;
      const int c = J[m];
      if (c < 0) {
        zero_fixed<O>(i, j, B, p);
        continue;
      }
      const double xx = x[p];
      const double *col = tab + static_cast<index_t>(c - deg) * O;
      double d[O], b[O];
      BSBASIS_UNROLL
      for (int q = 0; q < O; ++q) {
        d[q] = xx - col[q * O];
        b[q] = 0.0;
      }
      b[deg] = 1.0;
      raise_block<O>(d, b, order_stop,
                     [col](int L, int q) { return col[q * O + L - 1]; });
      store_block<O>(i, j, B, p, c, b, order_stop);
    }
  }
}

template <int O>
bool grid_order(const double *t, int nt, const double *x, index_t nx, int *i,
                int *j, double *B, int order_stop, int nj) {
  const int ncol = nt > 0 ? max_int(min_int(nj, nt - 1), 0) : 0;
  if (ncol <= O - 1) {
    for (index_t p = 0; p < nx; ++p) zero_fixed<O>(i, j, B, p);
    return true;
  }
  ScratchTable scratch(static_cast<size_t>(ncol) * O);
  if (!scratch.data()) return false;
  grid_tiles<O>(t, nt, x, nx, i, j, B, order_stop, ncol, scratch.data());
  return true;
}

// ------------------------------------------------------------- uniform grid

template <int O>
void uniform_order(const double *x, index_t nx, int *i, int *j, double *B,
                   int order_stop, int nj) {
  constexpr int deg = O - 1;
  double scale[O + 1];
  for (int L = 2; L <= O; ++L) scale[L] = 1.0 / static_cast<double>(L - 1);
  const double lo = static_cast<double>(deg);
  const double hi = static_cast<double>(nj);
  for (index_t p = 0; p < nx; ++p) {
    const double xx = x[p];
    // Written so that NaN fails the test.
    if (!(xx >= lo && xx < hi)) {
      zero_fixed<O>(i, j, B, p);
      continue;
    }
    const int J = static_cast<int>(xx);  // xx >= 0: truncation is floor
    double d[O], b[O];
    BSBASIS_UNROLL
    for (int q = 0; q < O; ++q) {
      d[q] = xx - static_cast<double>(J - deg + q);
      b[q] = 0.0;
    }
    b[deg] = 1.0;
    raise_block<O>(d, b, order_stop, [&scale](int L, int) { return scale[L]; });
    store_block<O>(i, j, B, p, J, b, order_stop);
  }
}

// --------------------------------------------------------------- derivative

template <int O>
void deriv_order(const double *scale, int nt, const int *j, double *B,
                 index_t nx) {
  constexpr int deg = O - 1;
  const double km1 = static_cast<double>(O) - 1.0;
  auto sc = [scale, nt](index_t c) { return c >= 0 && c < nt ? scale[c] : 0.0; };
  for (index_t p = 0; p < nx; ++p) {
    const int *jb = j + p * O;
    double *b = B + p * O;
    int c[O];
    double v[O], out[O];
    BSBASIS_UNROLL
    for (int q = 0; q < O; ++q) {
      c[q] = jb[q];
      v[q] = b[q];
    }
    double l1 = (sc(c[deg]) * v[deg]) * km1;
    BSBASIS_UNROLL
    for (int q = deg - 1; q >= 0; --q) {
      const double l2 =
          (v[q] * sc(c[q]) - v[q + 1] * sc(static_cast<index_t>(c[q]) + 1)) * km1;
      out[q + 1] = c[q + 1] >= 0 && c[q + 1] < nt ? l1 : 0.0;
      l1 = l2;
    }
    out[0] = c[0] >= 0 && c[0] < nt ? l1 : 0.0;
    BSBASIS_UNROLL
    for (int q = 0; q < O; ++q) b[q] = out[q];
  }
}

}  // namespace

bool grid_fixed(Isa isa, const double *t, int nt, const double *x, index_t nx,
                int *i, int *j, double *B, int order_stop, int order, int nj) {
  if (isa != Isa::kBaseline) return false;
  switch (order) {
    case 2: return grid_order<2>(t, nt, x, nx, i, j, B, order_stop, nj);
    case 3: return grid_order<3>(t, nt, x, nx, i, j, B, order_stop, nj);
    case 4: return grid_order<4>(t, nt, x, nx, i, j, B, order_stop, nj);
    case 5: return grid_order<5>(t, nt, x, nx, i, j, B, order_stop, nj);
    case 6: return grid_order<6>(t, nt, x, nx, i, j, B, order_stop, nj);
    default: return false;
  }
}

bool uniform_fixed(Isa isa, const double *x, index_t nx, int *i, int *j,
                   double *B, int order_stop, int order, int nj) {
  if (isa != Isa::kBaseline) return false;
  switch (order) {
    case 2: uniform_order<2>(x, nx, i, j, B, order_stop, nj); return true;
    case 3: uniform_order<3>(x, nx, i, j, B, order_stop, nj); return true;
    case 4: uniform_order<4>(x, nx, i, j, B, order_stop, nj); return true;
    case 5: uniform_order<5>(x, nx, i, j, B, order_stop, nj); return true;
    case 6: uniform_order<6>(x, nx, i, j, B, order_stop, nj); return true;
    default: return false;
  }
}

bool deriv_fixed(Isa isa, const double *t, int nt, const int *j, double *B,
                 index_t nx, int order) {
  if (isa != Isa::kBaseline || order < kMinFixed || order > kMaxFixed)
    return false;
  ScratchTable scratch(nt > 0 ? static_cast<size_t>(nt) : 0);
  double *scale = scratch.data();
  if (!scale) return false;
  for (int c = 0; c < nt; ++c) {
    const index_t jx = static_cast<index_t>(c) + order - 1;
    const double span = jx < nt ? t[jx] - t[c] : 0.0;
    scale[c] = span > 0 ? 1.0 / span : 0.0;
  }
  switch (order) {
    case 2: deriv_order<2>(scale, nt, j, B, nx); break;
    case 3: deriv_order<3>(scale, nt, j, B, nx); break;
    case 4: deriv_order<4>(scale, nt, j, B, nx); break;
    case 5: deriv_order<5>(scale, nt, j, B, nx); break;
    case 6: deriv_order<6>(scale, nt, j, B, nx); break;
  }
  return true;
}

}  // namespace bsbasis

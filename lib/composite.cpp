// Bases built from the evaluation on a knot sequence: the periodic basis
// (knots continued periodically, columns wrapped) and the tensor product of
// several bases (Kronecker rows).
#include <string.h>

#include <type_traits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common.hpp"
#include "design.hpp"

namespace bsbasis {
namespace {

// ---------------------------------------------------------------- periodic

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

int check_breaks(const double *u, int64_t nbreaks, int32_t order) {
  if (order < 1) return BSBASIS_ERROR_ORDER;
  if (nbreaks < 2 || nbreaks > INT32_MAX - 2 * static_cast<int64_t>(order))
    return BSBASIS_ERROR_COUNT;
  if (!u) return BSBASIS_ERROR_NULL;
  if (nbreaks - 1 < order) return BSBASIS_ERROR_COLUMNS;
  for (int64_t q = 0; q < nbreaks; ++q)
    if (!is_finite(u[q]) || (q > 0 && !(u[q] > u[q - 1]))) return BSBASIS_ERROR_KNOTS;
  return BSBASIS_OK;
}

// ------------------------------------------------------------------ tensor

struct Factor {
  const double *t;
  int nt, order, nj, nu;
  double *x, *B;
  int32_t *j;
};

// Columns of type C: int32_t or int64_t.  Row m's E entries: the first
// factor's block, then each factor in turn multiplies every entry so far by
// each of its values (in place, from the back, so that nothing is read
// after it is overwritten).
template <class C>
void kron_row(const Factor *f, int d, int m, C *jr, double *br) {
  int size = f[0].order;
  for (int q = 0; q < size; ++q) {
    jr[q] = f[0].j[block_offset(m, f[0].order) + q];
    br[q] = f[0].B[block_offset(m, f[0].order) + q];
  }
  for (int a = 1; a < d; ++a) {
    const int o = f[a].order;
    const int32_t *ja = f[a].j + block_offset(m, o);
    const double *ba = f[a].B + block_offset(m, o);
    const C nja = static_cast<C>(f[a].nj);
    for (int e = size - 1; e >= 0; --e) {
      const C c = jr[e];
      const double v = br[e];
      for (int q = o - 1; q >= 0; --q) {
        jr[e * o + q] = c * nja + ja[q];
        br[e * o + q] = v * ba[q];
      }
    }
    size *= o;
  }
}

// The same for two factors of orders O0, O1 known at compile time (0: any),
// written straight out.
template <int O0, int O1, class C>
void kron_pair(const Factor *f, int m, C *jr, double *br) {
  const int o0 = O0 ? O0 : f[0].order, o1 = O1 ? O1 : f[1].order;
  const int32_t *j0 = f[0].j + block_offset(m, o0), *j1 = f[1].j + block_offset(m, o1);
  const double *b0 = f[0].B + block_offset(m, o0), *b1 = f[1].B + block_offset(m, o1);
  const C n1 = static_cast<C>(f[1].nj);
  for (int a = 0; a < o0; ++a) {
    const C c = static_cast<C>(j0[a]) * n1;
    const double v = b0[a];
    for (int b = 0; b < o1; ++b) {
      jr[a * o1 + b] = c + j1[b];
      br[a * o1 + b] = v * b1[b];
    }
  }
}

#if defined(__SSE2__)
// Cubic by cubic, the common surface, with 32-bit columns: the 16 entries
// of a row formed as kron_pair forms them and streamed past the caches,
// since a design matrix this large is written once and read later.  Needs
// jr and br 16-byte aligned.
void kron_cubic_stream(const Factor *f, int m, int32_t *jr, double *br) {
  const int32_t *j0 = f[0].j + block_offset(m, 4), *j1 = f[1].j + block_offset(m, 4);
  const double *b0 = f[0].B + block_offset(m, 4), *b1 = f[1].B + block_offset(m, 4);
  const __m128i c1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(j1));
  const __m128d lo = _mm_loadu_pd(b1), hi = _mm_loadu_pd(b1 + 2);
  for (int a = 0; a < 4; ++a) {
    const __m128i c = _mm_set1_epi32(j0[a] * static_cast<int32_t>(f[1].nj));
    const __m128d v = _mm_set1_pd(b0[a]);
    _mm_stream_si128(reinterpret_cast<__m128i *>(jr + 4 * a), _mm_add_epi32(c, c1));
    _mm_stream_pd(br + 4 * a, _mm_mul_pd(v, lo));
    _mm_stream_pd(br + 4 * a + 2, _mm_mul_pd(v, hi));
  }
}
#endif

template <class C>
void kron(const Factor *f, int d, int m, C *jr, double *br) {
#if defined(__SSE2__)
  if constexpr (std::is_same_v<C, int32_t>) {
    if (d == 2 && f[0].order == 4 && f[1].order == 4 &&
        (reinterpret_cast<uintptr_t>(jr) | reinterpret_cast<uintptr_t>(br)) % 16 == 0)
      return kron_cubic_stream(f, m, jr, br);
  }
#endif
  if (d == 2 && f[0].order == 4 && f[1].order == 4) return kron_pair<4, 4>(f, m, jr, br);
  if (d == 2) return kron_pair<0, 0>(f, m, jr, br);
  kron_row(f, d, m, jr, br);
}

template <class C>
void empty_row(C *jr, double *br, int E) {
  for (int e = 0; e < E; ++e) {
    jr[e] = -1;
    br[e] = 0.0;
  }
}

template <class C>
int tensor_tiles(Factor *f, int d, int mode, const double *x, index_t npts, int S, int E,
                 int32_t *i, C *j, double *B, int64_t *nempty) {
  int64_t empty = 0;
  for (index_t p0 = 0; p0 < npts; p0 += S) {
    const int n = static_cast<int>(npts - p0 < S ? npts - p0 : S);
    for (int a = 0; a < d; ++a) {
      for (int m = 0; m < n; ++m) f[a].x[m] = x[(p0 + m) * d + a];
      const int st = design_checked(f[a].t, f[a].nt, f[a].order, f[a].nj, f[a].nu, mode,
                                    f[a].x, n, nullptr, f[a].j, f[a].B, nullptr);
      if (st != BSBASIS_OK) return st;
    }
    for (int m = 0; m < n; ++m) {
      const index_t at = (p0 + m) * E;
      bool is_empty = false;
      for (int a = 0; a < d; ++a) is_empty |= f[a].j[block_offset(m, f[a].order)] < 0;
      if (is_empty) {
        empty_row(j + at, B + at, E);
        ++empty;
      } else {
        kron(f, d, m, j + at, B + at);
      }
      if (i)
        for (int e = 0; e < E; ++e) i[at + e] = static_cast<int32_t>(p0 + m);
    }
  }
#if defined(__SSE2__)
  _mm_sfence();  // the streamed rows are visible before the call returns
#endif
  if (nempty) *nempty = empty;
  return BSBASIS_OK;
}

// Under ERROR every coordinate must lie in its base interval.
bool coordinates_in(const Factor *f, int d, const double *x, index_t npts) {
  bool in = true;
  for (int a = 0; a < d; ++a) {
    const double lo = f[a].t[f[a].order - 1], hi = f[a].t[f[a].nj];
    for (index_t p = 0; p < npts; ++p) in = in & (x[p * d + a] >= lo) & (x[p * d + a] <= hi);
  }
  return in;
}

int check_tensor(int32_t d, const double *const *t, const int64_t *nt, const int32_t *order,
                 const int64_t *nj, const int32_t *nu, int32_t mode, const double *x,
                 int64_t npts, const int32_t *i, const int32_t *j32, const int64_t *j64,
                 const double *B, int64_t *E) {
  if (d < 1 || d > 64) return BSBASIS_ERROR_COUNT;
  if (!t || !nt || !order || !nj) return BSBASIS_ERROR_NULL;
  int64_t entries = 1, cols = 1;
  for (int a = 0; a < d; ++a) {
    const int st = check_basis(t[a], nt[a], order[a], nj[a]);
    if (st != BSBASIS_OK) return st;
    if (nu && nu[a] < 0) return BSBASIS_ERROR_ORDER;
    if (entries > INT32_MAX / order[a]) return BSBASIS_ERROR_COUNT;
    entries *= order[a];
    if (cols > INT64_MAX / nj[a]) return BSBASIS_ERROR_COUNT;
    cols *= nj[a];
  }
  if (mode < 0 || mode > BSBASIS_EXTRAPOLATE_PERIODIC) return BSBASIS_ERROR_MODE;
  if ((j32 == nullptr) == (j64 == nullptr)) return BSBASIS_ERROR_NULL;
  if (j32 && cols > INT32_MAX) return BSBASIS_ERROR_COUNT;
  if (npts < 0 || npts > INT64_MAX / entries || npts > INT64_MAX / d) return BSBASIS_ERROR_COUNT;
  if (i && npts > INT32_MAX) return BSBASIS_ERROR_COUNT;
  if (npts > 0 && (!x || !B)) return BSBASIS_ERROR_NULL;
  *E = entries;
  return BSBASIS_OK;
}

}  // namespace
}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT int bsbasis_periodic_design(const double *breaks, int64_t nbreaks,
                                           int32_t order, int32_t nu, const double *x,
                                           int64_t nx, int32_t *i, int32_t *j, double *B,
                                           int64_t *nempty) {
  int st = check_breaks(breaks, nbreaks, order);
  if (st != BSBASIS_OK) return st;
  if (nu < 0) return BSBASIS_ERROR_ORDER;
  if (nx < 0 || nx > INT64_MAX / order || (i && nx > INT32_MAX)) return BSBASIS_ERROR_COUNT;
  if (nx > 0 && (!x || !j || !B)) return BSBASIS_ERROR_NULL;
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

BSBASIS_EXPORT int bsbasis_tensor_design(int32_t d, const double *const *t, const int64_t *nt,
                                         const int32_t *order, const int64_t *nj,
                                         const int32_t *nu, int32_t extrapolate,
                                         const double *x, int64_t npts, int32_t *i,
                                         int32_t *j32, int64_t *j64, double *B,
                                         int64_t *nempty) {
  int64_t E = 0;
  const int st =
      check_tensor(d, t, nt, order, nj, nu, extrapolate, x, npts, i, j32, j64, B, &E);
  if (st != BSBASIS_OK) return st;
  Factor f[64];
  int S = 4096;
  size_t doubles = 0, ints = 0;
  for (int a = 0; a < d; ++a) {
    f[a] = Factor{t[a], static_cast<int>(nt[a]), order[a], static_cast<int>(nj[a]),
                  nu ? nu[a] : 0, nullptr, nullptr, nullptr};
    S = min_int(S, design_sub_tile(order[a]));
  }
  for (int a = 0; a < d; ++a) {
    doubles += static_cast<size_t>(S) * (1 + order[a]);
    ints += static_cast<size_t>(S) * order[a];
  }
  if (extrapolate == BSBASIS_EXTRAPOLATE_ERROR && !coordinates_in(f, d, x, npts))
    return BSBASIS_ERROR_RANGE;
  if (nempty) *nempty = 0;
  Scratch<double, 1> dstore(doubles);
  Scratch<int32_t, 1> istore(ints);
  if (!dstore.data() || !istore.data()) return BSBASIS_ERROR_MEMORY;
  double *dp = dstore.data();
  int32_t *ip = istore.data();
  for (int a = 0; a < d; ++a) {
    f[a].x = dp;
    f[a].B = dp + S;
    dp += static_cast<size_t>(S) * (1 + order[a]);
    f[a].j = ip;
    ip += static_cast<size_t>(S) * order[a];
  }
  const int e = static_cast<int>(E);
  return j32 ? tensor_tiles(f, d, extrapolate, x, npts, S, e, i, j32, B, nempty)
             : tensor_tiles(f, d, extrapolate, x, npts, S, e, i, j64, B, nempty);
}

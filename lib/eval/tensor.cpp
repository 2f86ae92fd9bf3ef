// The tensor product of d bases on knots: each row the Kronecker product of
// the factors' blocks at the point's coordinates, its columns numbered with
// the last factor's fastest.
#include <type_traits>

#include "bsbasis.h"
#include "checks.hpp"
#include "core/common.hpp"
#include "eval/design.hpp"
#include "lanes/stream.hpp"

namespace bsbasis {
namespace {

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

template <class C>
void kron(const Factor *f, int d, int m, C *jr, double *br) {
  if constexpr (std::is_same_v<C, int32_t>) {
    if (d == 2 && f[0].order == 4 && f[1].order == 4 && kCanStream &&
        (reinterpret_cast<uintptr_t>(jr) | reinterpret_cast<uintptr_t>(br)) % 16 == 0)
      return stream_cubic_pair(f[0].j + block_offset(m, 4), f[0].B + block_offset(m, 4),
                               f[1].j + block_offset(m, 4), f[1].B + block_offset(m, 4),
                               static_cast<int32_t>(f[1].nj), jr, br);
  }
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
int tensor_rows(Factor *f, int d, int mode, const double *x, index_t npts, int S, int E,
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
  stream_fence();  // the streamed rows are visible before the call returns
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

}  // namespace
}  // namespace bsbasis

using namespace bsbasis;

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
  return j32 ? tensor_rows(f, d, extrapolate, x, npts, S, e, i, j32, B, nempty)
             : tensor_rows(f, d, extrapolate, x, npts, S, e, i, j64, B, nempty);
}

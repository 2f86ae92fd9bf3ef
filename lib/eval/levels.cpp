// The derivative levels' blocks: widening, the per-level kernels and the
// copies in and out of the compact sub-tile.
#include "eval/levels.hpp"

#include <string.h>

#include <type_traits>

#include "core/span_table.hpp"
#include "eval/rows.hpp"

namespace bsbasis {
namespace {

// Blocks of L entries become blocks of L + 1, in place from the back: the
// new position 0 holds 0 in the column before the old position 0.  Width
// is an int, or a std::integral_constant for the common short blocks.
template <class Width>
void widen_blocks(Compact c, int n, Width L) {
  for (int p = n - 1; p >= 0; --p) {
    const index_t from = block_offset(p, L), to = block_offset(p, L + 1);
    if constexpr (std::is_same_v<Width, int>) {
      for (int q = L - 1; q >= 0; --q) {
        c.j[to + 1 + q] = c.j[from + q];
        c.b[to + 1 + q] = c.b[from + q];
      }
    } else {
      int32_t jb[L];
      double bb[L];
      memcpy(jb, c.j + from, sizeof(int32_t) * L);
      memcpy(bb, c.b + from, sizeof(double) * L);
      memcpy(c.j + to + 1, jb, sizeof(int32_t) * L);
      memcpy(c.b + to + 1, bb, sizeof(double) * L);
    }
    c.j[to] = c.j[to + 1] - 1;
    c.b[to] = 0.0;
  }
}

}  // namespace

void widen(Compact c, int n, int L) {
  switch (L) {
    case 1: return widen_blocks(c, n, std::integral_constant<int, 1>{});
    case 2: return widen_blocks(c, n, std::integral_constant<int, 2>{});
    case 3: return widen_blocks(c, n, std::integral_constant<int, 3>{});
    case 4: return widen_blocks(c, n, std::integral_constant<int, 4>{});
    case 5: return widen_blocks(c, n, std::integral_constant<int, 5>{});
    default: return widen_blocks(c, n, L);
  }
}

LevelsKernel levels_for(int order) {
  return order >= kMinFixed && order <= kMaxFixed ? kernels().levels[order] : nullptr;
}

// The vector kernel of order L where the dispatched table has one.
DerivKernel lanes_for(int L) {
  return L >= kMinFixed && L <= kMaxFixed ? kernels().deriv[L] : nullptr;
}

void knot_level(const double *t, int nt, LevelTables &tables, Compact c, int n, int L) {
  const DerivKernel lanes = lanes_for(L);
  if (tables.ok() && lanes) {
    lanes(tables.table(L), nt, c.j, c.b, n);
    return;
  }
  for (int p = 0; p < n; ++p) {
    const int32_t *jb = c.j + block_offset(p, L);
    double *b = c.b + block_offset(p, L);
    if (jb[L - 1] < L - 1) continue;
    if (tables.ok())
      derive_with_table(tables.table(L), nt, jb, b, L, static_cast<double>(L - 1));
    else
      derive_level(KnotSeq{t, nt}, jb, b, L, L);
  }
}

void uniform_level(Compact c, int32_t *pattern, int n, int L) {
  const DerivKernel lanes = lanes_for(L);
  if (lanes) {
    double s[2 * kMaxFixed];
    for (int q = 0; q < 2 * L; ++q) s[q] = uniform_reciprocal_span(L);
    for (index_t e = 0; e < block_offset(n, L); ++e) pattern[e] = static_cast<int32_t>(e % L);
    lanes(s, 2 * L, pattern, c.b, n);
    return;
  }
  for (int p = 0; p < n; ++p) {
    const int32_t *jb = c.j + block_offset(p, L);
    if (jb[L - 1] >= L - 1) derive_level(IntegerKnots{}, jb, c.b + block_offset(p, L), L, L);
  }
}

void narrow(Compact w, Compact c, int n, int order, int nu) {
  const int L0 = order - nu + 1;
  for (int p = 0; p < n; ++p) {
    const index_t from = block_offset(p, order) + nu - 1, to = block_offset(p, L0);
    for (int q = 0; q < L0; ++q) c.j[to + q] = w.j[from + q];
    c.b[to] = 0.0;
    for (int q = 1; q < L0; ++q) c.b[to + q] = w.b[from + q];
  }
}

void copy_out(Compact c, int n, int order, int32_t *j, double *B) {
  memcpy(j, c.j, sizeof(int32_t) * block_offset(n, order));
  memcpy(B, c.b, sizeof(double) * block_offset(n, order));
}

}  // namespace bsbasis

// Basis on a non-decreasing knot sequence.
#include "block_layout.hpp"
#include "bsbasis.h"
#include "common.hpp"
#include "interval_search.hpp"
#include "kernels.hpp"
#include "recurrence.hpp"

namespace bsbasis {
namespace {

// Reciprocal spans of the columns 0 .. ncol-1 for the levels 2 .. order_stop,
// one row per level: 1 / (t[l + L - 1] - t[l]), or 0 where that span is
// not positive or its right knot lies past the last.
void fill_span_table(const double *t, int nt, int ncol, int order_stop,
                     double *table) {
  for (int L = 2; L <= order_stop; ++L) {
    double *rs = table + static_cast<index_t>(L - 2) * ncol;
    for (int l = 0; l < ncol; ++l) {
      const index_t jx = static_cast<index_t>(l) + L - 1;
      const double span = jx < nt ? t[jx] - t[l] : 0.0;
      rs[l] = span > 0 ? 1.0 / span : 0.0;
    }
  }
}

}  // namespace
}  // namespace bsbasis

namespace bsbasis {

void grid_generic(const double *t, int nt, const double *x, index_t nx, int *i,
                  int *j, double *B, int order_stop, int order, int nj) {
  const int deg = order - 1;
  // Columns that both the bound and the knots allow: a block in range never
  // reads a knot or table entry past t[nt - 2].
  const int ncol = nt > 0 ? max_int(min_int(nj, nt - 1), 0) : 0;
  const int levels = order_stop > 1 ? order_stop - 1 : 0;  // no overflow at INT_MIN

  // No interval can be in range (this covers nt <= 0): nothing to search.
  if (ncol <= deg) {
    for (index_t p = 0; p < nx; ++p) zero_block(i, j, B, p, order);
    return;
  }

  ScratchTable scratch(static_cast<size_t>(levels) * static_cast<size_t>(ncol));
  double *table = scratch.data();
  if (table) fill_span_table(t, nt, ncol, order_stop, table);

  int guess = nt >> 1;
  for (index_t p = 0; p < nx; ++p) {
    const double xx = x[p];
    int J = -1;
    if (is_finite(xx)) {
      J = nt > 0 ? search_with_guess(xx, t, nt, guess) : -1;
      guess = J;
    }
    if (J >= deg && J < ncol) {
      seed_block(i, j, B, p, order, J);
      if (!table) continue;
      double *b = B + block_offset(p, order);
      for (int L = 2; L <= order_stop; ++L)
        raise_level(KnotLevel{t, table + static_cast<index_t>(L - 2) * ncol}, L,
                    xx, J, order, b);
    } else {
      zero_block(i, j, B, p, order);
    }
  }
  if (!table) poison_values(B, nx, order);
}

}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT void blossom_grid(double *t, int nt, double *x, int nx, int *i,
                                 int *j, double *B, int N, int order_stop,
                                 int order, int nj) {
  (void)N;
  if (order <= 0 || nx <= 0) return;
  order_stop = min_int(order_stop, order);
  if (grid_fixed(best_isa(), t, nt, x, nx, i, j, B, order_stop, order, nj)) return;
  if (grid_fixed(Isa::kBaseline, t, nt, x, nx, i, j, B, order_stop, order, nj))
    return;
  grid_generic(t, nt, x, nx, i, j, B, order_stop, order, nj);
}

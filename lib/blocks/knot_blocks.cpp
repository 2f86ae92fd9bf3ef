// The basis on a non-decreasing knot sequence: the export, and the path of
// any order, which evaluates one block at a time.
#include "blocks/block_sink.hpp"
#include "bsbasis.h"
#include "core/column_table.hpp"
#include "core/common.hpp"
#include "lanes/dispatch.hpp"
#include "core/interval_search.hpp"
#include "blocks/entry_points.hpp"
#include "core/numeric.hpp"

namespace bsbasis {
namespace {

// Abscissae whose intervals are found before any of their blocks is formed.
constexpr int kSearchTile = 256;

// x less the left knot of the column at each position of a block whose
// first column is c0.
struct KnotDx {
  const double *t;
  double xx;
  index_t c0;
  double operator()(int q) const { return xx - t[c0 + q]; }
};

struct TableSpans {
  const ColumnTable &table;
  int c0;
  double operator()(int L, int q) const { return table.column(c0 + q)[L - 1]; }
};

// Spans formed at each use, where the table does not pay.
struct OwnSpans {
  const double *t;
  int nt;
  index_t c0;
  double operator()(int L, int q) const { return reciprocal_span(t, nt, c0 + q, L - 1); }
};

template <class Rs>
void raise_block(const KnotDx &dx, const Rs &rs, int order, int order_stop, double *b) {
  seed_block(b, order, order_stop);
  for (int L = 2; L <= order_stop; ++L) raise_level<double>(dx, rs, L, order - 1, b);
}

// Tiles of abscissae: each tile is searched first (every search guessed
// from the answer before it), then its blocks evaluated.
template <class Sink>
void knot_blocks_any(const double *t, int nt, const double *x, index_t nx, int order_stop,
                 int order, int nj, const Sink &sink) {
  const int deg = order - 1;
  const int ncol = usable_columns(nj, nt);
  // No interval can be in range (this covers nt <= 0): nothing to search.
  if (ncol <= deg) {
    for (index_t p = 0; p < nx; ++p) sink.outside(p);
    return;
  }
  ColumnTable table(t, nt, ncol, order, order_stop, nx);
  int J[kSearchTile];
  int guess = nt >> 1;
  for (index_t p0 = 0; p0 < nx; p0 += kSearchTile) {
    const int n = static_cast<int>(nx - p0 < kSearchTile ? nx - p0 : kSearchTile);
    int count = 0, jmin = ncol, jmax = -1;
    for (int m = 0; m < n; ++m) {
      const double xx = x[p0 + m];
      int c = -1;
      if (is_finite(xx)) {
        c = search_with_guess(xx, t, nt, guess);
        guess = c;
      }
      J[m] = c >= deg && c < ncol ? c : -1;
      if (J[m] >= 0) {
        ++count;
        jmin = min_int(jmin, c);
        jmax = max_int(jmax, c);
      }
    }
    const bool tabled =
        count > 0 && table.usable() &&
        table_pays(table.missing(jmin - deg, jmax), count, order_stop);
    if (tabled) table.cover(jmin - deg, jmax);
    for (int m = 0; m < n; ++m) {
      const index_t p = p0 + m;
      if (J[m] < 0) {
        sink.outside(p);
        continue;
      }
      const int c0 = J[m] - deg;
      const KnotDx dx{t, x[p], c0};
      double *b = sink.block(p, J[m]);
      if (tabled)
        raise_block(dx, TableSpans{table, c0}, order, order_stop, b);
      else
        raise_block(dx, OwnSpans{t, nt, c0}, order, order_stop, b);
    }
  }
}

}  // namespace

void knot_generic(const double *t, int nt, const double *x, index_t nx, int *i,
                  int *j, double *B, int order_stop, int order, int nj) {
  knot_blocks_any(t, nt, x, nx, order_stop, order, nj, TripletBlocks(i, j, B, order));
}

void knot_blocks(const double *t, int nt, const double *x, index_t nx, int *i, int *j,
                 double *B, int order_stop, int order, int nj) {
  if (order <= 0 || nx <= 0) return;
  order_stop = min_int(order_stop, order);
  if (const KnotKernel kernel = knot_kernel(order))
    kernel(t, nt, x, nx, i, j, B, order_stop, nj);
  else
    knot_generic(t, nt, x, nx, i, j, B, order_stop, order, nj);
}

}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT void blossom_grid(double *t, int nt, double *x, int nx, int *i,
                                 int *j, double *B, int N, int order_stop,
                                 int order, int nj) {
  (void)N;
  knot_blocks(t, nt, x, nx, i, j, B, order_stop, order, nj);
}

// One evaluation call's plan and scratch, shared by the rows on a knot
// sequence and on uniform knots.
//
// Abscissae go in sub-tiles that stay in cache.  The kernels of the blocks
// form a sub-tile's blocks, stopped nu levels below the top; the derivative
// levels follow on the same sub-tile; the few rows outside the base interval
// (and those at its right end, a limit from the left) are then formed one
// block at a time with the same arithmetic, on the end interval.
#ifndef BSBASIS_EVAL_PLAN_HPP
#define BSBASIS_EVAL_PLAN_HPP

#include "bsbasis.h"
#include "core/common.hpp"
#include "eval/ends.hpp"
#include "eval/levels.hpp"

namespace bsbasis {

// Stack room for a sub-tile's row indices before the heap is asked.
constexpr size_t kStackEntries = 16384;

// Abscissae per sub-tile: a few thousand entries, at least 16 abscissae.
inline int sub_tile(int order) { return max_int(16, min_int(4096, 16384 / order)); }

// One call's shape: what the sub-tiles share.
struct Plan {
  int order, nu, mode, nj;
  Ends ends;
  int *iscratch;
  bool inside;  // every abscissa lies in [lo, hi) and stays there: no row to fix
  Compact compact, wide;
};

inline void write_rows(int32_t *i, index_t p0, int n, int order) {
  for (int m = 0; m < n; ++m)
    for (int q = 0; q < order; ++q)
      i[block_offset(p0 + m, order) + q] = static_cast<int32_t>(p0 + m);
}

// A call's scratch and plan: the end blocks, a sub-tile's abscissae, rows
// and compact blocks.  ok() is false when an allocation failed.
class Call {
 public:
  Call(int order, int nu, int mode, int nj, double lo, double hi, Coverage cover)
      : S_(sub_tile(order)), store_(static_cast<size_t>(order) * 5),
        cols_(static_cast<size_t>(order) * 3), buf_(static_cast<size_t>(S_)),
        rows_(static_cast<size_t>(S_) * order), cj_(derives(nu, order) ? 2 * compact(order) : 0),
        cb_(derives(nu, order) ? 2 * compact(order) : 0) {
    pl.order = order;
    pl.nu = nu;
    pl.mode = mode;
    pl.nj = nj;
    pl.iscratch = rows_.data();
    // A wrapped abscissa may land on hi: PERIODIC always looks.
    pl.inside = cover.half_open && mode != BSBASIS_EXTRAPOLATE_PERIODIC;
    const size_t half = derives(nu, order) ? compact(order) : 0;
    pl.compact = Compact{cj_.data(), cb_.data()};
    pl.wide = Compact{cj_.data() + half, cb_.data() + half};
    Ends &e = pl.ends;
    e.order = order;
    e.nu = nu;
    e.mode = mode;
    e.lo = lo;
    e.hi = hi;
    e.Jlo = order - 1;
    e.Jhi = nj - 1;
    e.cols = cols_.data();
  }
  bool ok() {
    return store_.data() && cols_.data() && buf_.data() && rows_.data() && cj_.data() &&
           cb_.data();
  }
  double *store() { return store_.data(); }
  double *buffer() { return buf_.data(); }
  static bool derives(int nu, int order) { return nu > 0 && nu < order; }
  size_t compact(int order) const { return static_cast<size_t>(S_) * order; }

  Plan pl{};

 private:
  int S_;
  Scratch<double, 64> store_;
  Scratch<int, 24> cols_;
  Scratch<double, 4096> buf_;
  Scratch<int, kStackEntries> rows_;
  Scratch<int32_t, 1> cj_;
  Scratch<double, 1> cb_;
};

}  // namespace bsbasis

#endif

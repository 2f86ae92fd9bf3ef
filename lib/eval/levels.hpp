// Derivative levels on a sub-tile of blocks: from the values stopped nu
// levels below the top, each level in turn, in vector lanes where the
// dispatched table has a kernel and on the blocks one by one otherwise.
#ifndef BSBASIS_EVAL_LEVELS_HPP
#define BSBASIS_EVAL_LEVELS_HPP

#include "core/common.hpp"
#include "core/numeric.hpp"
#include "lanes/dispatch.hpp"

namespace bsbasis {

// The derivative levels' span tables, one per level, each over every knot:
// formed once per call where they pay, else spans are formed at each use.
class LevelTables {
 public:
  LevelTables(const double *t, int nt, int order, int nu, index_t nx)
      : nt_(nt), first_(order - nu + 1), levels_(nu < order ? nu : 0),
        store_(pays(nt, nx, order, levels_) ? static_cast<size_t>(nt) * levels_ : 0) {
    if (levels_ <= 0 || !pays(nt, nx, order, levels_) || !store_.data()) return;
    for (int L = first_; L <= order; ++L)
      for (int c = 0; c < nt; ++c) table(L)[c] = reciprocal_span(t, nt, c, L - 1);
    ok_ = true;
  }
  bool ok() const { return ok_; }
  double *table(int L) { return store_.data() + static_cast<size_t>(L - first_) * nt_; }
  // Indexed by level, for the levels kernel (orders up to kMaxFixed).
  const double *const *all() {
    for (int L = first_; L <= kMaxFixed && L < first_ + levels_; ++L) at_[L] = table(L);
    return at_;
  }

 private:
  static bool pays(int nt, index_t nx, int order, int levels) {
    if (levels <= 0) return false;
    const double n = static_cast<double>(nt);
    return n <= 1024.0 || n <= 2.0 * static_cast<double>(nx) * order;
  }
  int nt_, first_, levels_;
  Scratch<double, 1024> store_;
  const double *at_[kMaxFixed + 1] = {};
  bool ok_ = false;
};

// A sub-tile's blocks while their derivatives form, in the core's cache:
// blocks of L entries, L growing by one per level up to the order, so that
// the caller's arrays are only written, once, at the end.
struct Compact {
  int32_t *j;
  double *b;
};

// Blocks of L entries become blocks of L + 1, in place from the back: the
// new position 0 holds 0 in the column before the old position 0.
void widen(Compact c, int n, int L);

// The nu-th derivatives of n blocks of the order-`order` basis in c, from
// blocks of L0 = order - nu + 1 entries holding the order - nu values above
// a 0 (as narrow leaves them): the levels L0 .. order, each by level(L) on
// blocks of L.
template <class Level>
void derive_compact(Compact c, int n, int order, int nu, const Level &level) {
  const int L0 = order - nu + 1;
  for (int L = L0; L <= order; ++L) {
    level(L);
    if (L < order) widen(c, n, L);
  }
}

// The several-level vector kernel of an order, where there is one.
LevelsKernel levels_for(int order);

// The span tables of uniform knots for the levels kernel: for every
// level, the one span of that level at each of 2*order columns.
class UniformSpans {
 public:
  explicit UniformSpans(int order) {
    for (int L = 1; L <= kMaxFixed && L <= order; ++L) {
      for (int c = 0; c < 2 * kMaxFixed; ++c) spans_[L][c] = uniform_reciprocal_span(L);
      at_[L] = spans_[L];
    }
  }
  const double *const *all() const { return at_; }

 private:
  double spans_[kMaxFixed + 1][2 * kMaxFixed];
  const double *at_[kMaxFixed + 1] = {};
};

// One level of blocks of L on a knot sequence, with the span table where
// it paid.  Blocks not in range (top column below L - 1) are left: their
// rows are formed later.
void knot_level(const double *t, int nt, LevelTables &tables, Compact c, int n, int L);

// The same on uniform knots, where every span of a level is the same: the
// vector kernel takes a table of that span and, for columns, 0 .. L-1
// repeated (pattern).
void uniform_level(Compact c, int32_t *pattern, int n, int L);

// The kernels of fixed order run fastest at the full order: they form the
// blocks of `order` stopped at order - nu, in w; the top order - nu + 1
// positions (the lowest of them, unwritten, as 0) go to blocks of that
// many in c, where the derivative levels start.
void narrow(Compact w, Compact c, int n, int order, int nu);

// The finished blocks of a sub-tile to the caller's arrays.
void copy_out(Compact c, int n, int order, int32_t *j, double *B);

}  // namespace bsbasis

#endif

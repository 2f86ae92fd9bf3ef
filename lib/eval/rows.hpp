// What the evaluations on a knot sequence and on uniform knots share: knot
// access through one functor type per kind of knots, and one block formed at
// any abscissa with the numeric rules, for the rows the kernels leave (ends,
// and derivative levels without a vector kernel).
#ifndef BSBASIS_EVAL_ROWS_HPP
#define BSBASIS_EVAL_ROWS_HPP

#include "core/common.hpp"
#include "core/numeric.hpp"

namespace bsbasis {

// A knot sequence: knot c, and the reciprocal span of column c at width w.
struct KnotSeq {
  const double *t;
  int nt;
  double at(index_t c) const { return t[c]; }
  double rs(index_t c, int w) const {
    return c >= 0 && c < nt ? reciprocal_span(t, nt, c, w) : 0.0;
  }
};

// Uniform knots in their units, knot c at c: every span at width w is w.
struct IntegerKnots {
  double at(index_t c) const { return static_cast<double>(c); }
  double rs(index_t, int w) const { return uniform_reciprocal_span(w + 1); }
};

// Spans of the columns of one block at one level, from a knot functor.
template <class K>
struct BlockSpans {
  const K &k;
  const int *jb;
  int w;
  double at(int q) const { return k.rs(jb[q], w); }
  double above(int q) const { return k.rs(static_cast<index_t>(jb[q]) + 1, w); }
};

struct KeepEvery {
  double operator()(int, double v) const { return v; }
};

// Level L of the derivative on one block with columns jb: from the
// order-(L-1) values (or derivatives) at positions order-L+1 .. order-1, the
// next derivative of the order-L functions at positions order-L .. order-1.
template <class K>
void derive_level(const K &k, const int *jb, double *b, int order, int L) {
  const int s = order - L;
  derive_values<double>(BlockSpans<K>{k, jb + s, L - 1}, KeepEvery{}, b + s, L - 1,
                        static_cast<double>(L - 1));
}

// Block of the interval J at x, whether or not x lies in it: the polynomial
// pieces of that interval, their nu-th derivatives.  Columns go to jb.
template <class K>
void forced_block(const K &k, int order, index_t J, double x, int nu, int *jb, double *b) {
  const int deg = order - 1;
  const index_t c0 = J - deg;
  for (int q = 0; q < order; ++q) {
    jb[q] = static_cast<int>(c0 + q);
    b[q] = 0.0;
  }
  if (nu >= order) return;
  b[deg] = 1.0;
  const auto dx = [&](int q) { return x - k.at(c0 + q); };
  const auto rs = [&](int L, int q) { return k.rs(c0 + q, L - 1); };
  for (int L = 2; L <= order - nu; ++L) raise_level<double>(dx, rs, L, deg, b);
  for (int L = order - nu + 1; L <= order; ++L) derive_level(k, jb, b, order, L);
}

}  // namespace bsbasis

#endif

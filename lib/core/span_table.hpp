// The derivative's span table: s[c], the reciprocal span of column c at
// width order - 1, for every knot c in 0 .. nt-1, and the rule that derives
// one block of any columns with it.  blocks/derivative.cpp fills the table; the
// paths that run blocks in vector lanes take every other block through
// this same rule.
#ifndef BSBASIS_SPAN_TABLE_HPP
#define BSBASIS_SPAN_TABLE_HPP

#include "core/common.hpp"
#include "core/numeric.hpp"

namespace bsbasis {

// Spans from the table, 0 for a column outside the knots.
struct TableScale {
  const double *s;
  int nt;
  double operator()(index_t c) const { return c >= 0 && c < nt ? s[c] : 0.0; }
};

// The same for a block whose columns all lie in 0 .. nt-2.
struct InsideScale {
  const double *s;
  double operator()(index_t c) const { return s[c]; }
};

struct AmongKnots {
  int nt;
  bool operator()(index_t c) const { return c >= 0 && c < nt; }
};

struct Always {
  bool operator()(index_t) const { return true; }
};

// One block with the table: unchecked reads when every column lies in
// 0 .. nt-2 (so that the column after each one is a knot too), checked
// ones otherwise.  Order is an int or a std::integral_constant.
template <class Order>
BSBASIS_INLINE void derive_with_table(const double *s, int nt, const int *jb, double *b,
                                      Order order, double km1) {
  const int deg = order - 1;
  const unsigned last = static_cast<unsigned>(nt) - 2u;
  bool inside = nt >= 2;
  for (int q = 0; q < order; ++q) inside = inside & (static_cast<unsigned>(jb[q]) <= last);
  if (inside)
    derive_block(InsideScale{s}, Always{}, jb, b, deg, km1);
  else
    derive_block(TableScale{s, nt}, AmongKnots{nt}, jb, b, deg, km1);
}

}  // namespace bsbasis

#endif

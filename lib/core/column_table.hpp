// Knots and reciprocal spans by column, filled only over the columns that a
// call touches.  Both paths on a knot sequence use it; when it does not pay, or its
// memory cannot be had, they form the spans per abscissa instead: the same
// divisions, so the same bits.
#ifndef BSBASIS_COLUMN_TABLE_HPP
#define BSBASIS_COLUMN_TABLE_HPP

#include "core/common.hpp"
#include "core/numeric.hpp"

namespace bsbasis {

class ColumnTable {
 public:
  // The columns one at a time, the levels one at a time.
  struct ScalarFill {
    const double *t;
    int nt, stride, order_stop;
    void operator()(double *tab, int c0, int c1) const {
      for (int c = c0; c < c1; ++c) {
        double *e = tab + static_cast<index_t>(c) * stride;
        e[0] = t[c];
        for (int L = 2; L <= stride; ++L)
          e[L - 1] = L <= order_stop ? reciprocal_span(t, nt, c, L - 1) : 0.0;
      }
    }
  };

  // Column c holds `stride` doubles: t[c], then its reciprocal spans at the
  // levels 2 .. stride (0 past order_stop).  Room for all ncol columns is
  // taken only while that stays in proportion to the nx abscissae.
  ColumnTable(const double *t, int nt, int ncol, int stride, int order_stop, index_t nx)
      : t_(t), nt_(nt), stride_(stride), order_stop_(order_stop),
        store_(fits(ncol, stride, nx) ? static_cast<size_t>(ncol) * stride : 0) {
    if (fits(ncol, stride, nx)) tab_ = store_.data();
  }

  bool usable() const { return tab_ != nullptr; }

  const double *column(int c) const { return tab_ + static_cast<index_t>(c) * stride_; }

  // Columns of c0 .. c1 not yet filled.
  index_t missing(int c0, int c1) const {
    if (lo_ == hi_) return static_cast<index_t>(c1) - c0 + 1;
    return static_cast<index_t>(max_int(lo_ - c0, 0)) + max_int(c1 + 1 - hi_, 0);
  }

  // Fills what is missing of columns c0 .. c1, each column once per call,
  // with fill(tab, from, to) for the columns [from, to).
  template <class Fill>
  void cover(int c0, int c1, const Fill &fill) {
    if (lo_ == hi_) {
      fill(tab_, c0, c1 + 1);
      lo_ = c0;
      hi_ = c1 + 1;
      return;
    }
    if (c0 < lo_) {
      fill(tab_, c0, lo_);
      lo_ = c0;
    }
    if (c1 >= hi_) {
      fill(tab_, hi_, c1 + 1);
      hi_ = c1 + 1;
    }
  }

  void cover(int c0, int c1) { cover(c0, c1, ScalarFill{t_, nt_, stride_, order_stop_}); }

 private:
  static constexpr size_t kStack = 1024;

  static bool fits(int ncol, int stride, index_t nx) {
    const double entries = static_cast<double>(ncol) * stride;
    return entries <= static_cast<double>(kStack) ||
           entries <= 4.0 * static_cast<double>(nx) * stride;
  }

  const double *t_;
  int nt_, stride_, order_stop_;
  Scratch<double, kStack> store_;
  double *tab_ = nullptr;
  int lo_ = 0, hi_ = 0;  // columns [lo_, hi_) are filled
};

// Whether filling `missing` columns of the table costs no more divisions
// than forming the spans of `blocks` blocks one by one: a column takes one
// per level, a block L at level L.
inline bool table_pays(index_t missing, index_t blocks, int order_stop) {
  const double levels = order_stop > 1 ? order_stop - 1.0 : 0.0;
  const double per_block = levels * (levels + 3.0) / 2.0;  // 2 + 3 + .. + order_stop
  return static_cast<double>(missing) * levels <= static_cast<double>(blocks) * per_block;
}

}  // namespace bsbasis

#endif

// bsbasis.hpp: header-only C++17 API over the C kernels of bsbasis.h.
//
//   bsbasis::KnotBasis basis({0, 0, 0, 0, 1, 2, 3, 3, 3, 3}, 4);  // cubic, 6 columns
//   bsbasis::Design A = basis.values(x);          // x: std::vector<double>, ...
//   bsbasis::Design dA = basis.derivatives(x);
//   bsbasis::Csr32 csr = A.to_csr<std::int32_t>();
//
// A basis is validated when it is built and throws std::invalid_argument
// naming the offending argument; the C library itself validates nothing.
//
// Column bound nj: a knot basis on nt knots offers nj = 1 .. nt - order
// columns (default nt - order, the full basis).  These are the B-splines
// whose knots all lie in the sequence; for them the derivative kernel is
// exact and the right end can be evaluated as a left limit.  The base
// interval is [t[order-1], t[nj]].  A uniform basis has knot m at the value
// m, nj >= order columns and the base interval [order-1, nj].
//
// Right end: by default (RightEnd::closed) an abscissa equal to the right
// end of the base interval is in range, with the left-limit values (and
// derivatives) of the basis there.  They are evaluated by the same kernels on
// the mirrored problem (knots -t reversed, abscissa -x), which is exact up to
// the rounding of the recurrence.  RightEnd::half_open keeps the kernels' own
// convention, where that abscissa is out of range.
//
// Out-of-range abscissae (NaN and +-inf included) give out-of-range rows:
// columns 0 and values 0 in the triplets, empty rows in CSR.  Every other
// row holds the kernels' own bits.  Derivatives are the knot kernel stopped
// one level short followed by the derivative kernel (on the integer knots
// for a uniform basis).
//
// Sizes: rows are int, so more than INT_MAX abscissae throw std::length_error;
// the kernels are called on chunks small enough that nx*order fits an int.
#ifndef BSBASIS_HPP
#define BSBASIS_HPP

#if __cplusplus < 201703L
#error "bsbasis.hpp needs C++17 (use bsbasis.h from C or older C++)"
#endif

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "bsbasis.h"

namespace bsbasis {

enum class RightEnd {
  closed,     // the right end of the base interval is in range (left limit)
  half_open,  // the kernels' convention: the right end is out of range
};

// Compressed sparse rows.  Every in-range row holds `order` entries with
// ascending columns; out-of-range rows are empty.
template <class Index>
struct Csr {
  static_assert(std::is_integral_v<Index> && std::is_signed_v<Index>,
                "CSR index must be a signed integer type");
  std::int64_t rows = 0;
  std::int64_t cols = 0;
  std::vector<Index> indptr;          // rows + 1 offsets into indices/data
  std::vector<std::int32_t> indices;  // column of each entry
  std::vector<double> data;           // value of each entry
  std::int64_t nnz() const { return static_cast<std::int64_t>(data.size()); }
};
using Csr32 = Csr<std::int32_t>;
using Csr64 = Csr<std::int64_t>;

// An evaluated design matrix in the kernels' triplet layout: row p owns the
// block of entries p*order .. p*order + order - 1.
struct Design {
  std::int64_t rows = 0;  // number of abscissae
  std::int64_t cols = 0;  // number of basis functions (nj)
  int order = 0;
  std::vector<std::int32_t> i;  // row of each entry
  std::vector<std::int32_t> j;  // column of each entry
  std::vector<double> B;        // value of each entry
  std::vector<std::uint8_t> in_range;  // per row: 1 when the abscissa is in range
  // A hand-made Design must keep the sizes: rows * order entries, rows flags.

  // Entries of the in-range rows: the number of stored CSR entries.
  std::int64_t nnz() const {
    std::int64_t n = 0;
    for (std::uint8_t r : in_range) n += r;
    return n * order;
  }

  // CSR with the given index type; throws std::length_error when the offsets
  // do not fit it.
  template <class Index>
  Csr<Index> to_csr() const;

  // CSR with 32-bit offsets, or 64-bit ones when the entries overflow 32 bits.
  std::variant<Csr32, Csr64> to_csr() const {
    if (nnz() <= std::numeric_limits<std::int32_t>::max())
      return to_csr<std::int32_t>();
    return to_csr<std::int64_t>();
  }
};

template <class Index>
Csr<Index> Design::to_csr() const {
  const std::int64_t n = nnz();
  if (n > static_cast<std::int64_t>(std::numeric_limits<Index>::max()))
    throw std::length_error("bsbasis: to_csr: " + std::to_string(n) +
                            " entries overflow the CSR index type; use a wider one");
  Csr<Index> c;
  c.rows = rows;
  c.cols = cols;
  c.indptr.resize(static_cast<std::size_t>(rows) + 1);
  c.indices.resize(static_cast<std::size_t>(n));
  c.data.resize(static_cast<std::size_t>(n));
  const std::size_t k = static_cast<std::size_t>(order);
  std::size_t out = 0;
  c.indptr[0] = 0;
  for (std::size_t p = 0; p < static_cast<std::size_t>(rows); ++p) {
    if (in_range[p]) {
      std::copy_n(j.data() + p * k, k, c.indices.data() + out);
      std::copy_n(B.data() + p * k, k, c.data.data() + out);
      out += k;
    }
    c.indptr[p + 1] = static_cast<Index>(out);
  }
  return c;
}

namespace detail {

inline constexpr std::int64_t kIntMax = INT_MAX;

inline std::string num(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

// Abscissae per kernel call, so that the entry count nx*order fits an int.
inline std::int64_t rows_per_call(int order) { return kIntMax / order; }

// Allocates the triplets for nx abscissae, B zero-filled as the kernels need.
inline Design allocate(std::size_t nx, int order, int nj) {
  if (nx > static_cast<std::size_t>(kIntMax))
    throw std::length_error("bsbasis: x has " + std::to_string(nx) +
                            " abscissae; rows are int, at most " +
                            std::to_string(kIntMax));
  Design d;
  d.rows = static_cast<std::int64_t>(nx);
  d.cols = nj;
  d.order = order;
  const std::size_t n = nx * static_cast<std::size_t>(order);
  d.i.resize(n);
  d.j.resize(n);
  d.B.assign(n, 0.0);
  d.in_range.assign(nx, 0);
  return d;
}

// Runs kernel(p0, n, offset) over chunks of at most `chunk` abscissae.  With
// writes_rows, shifts the chunk-local rows that the kernel wrote to global
// ones.
template <class Kernel>
void run_chunked(Design &d, std::int64_t chunk, bool writes_rows, Kernel &&kernel) {
  const std::int64_t k = d.order;
  for (std::int64_t p0 = 0; p0 < d.rows; p0 += chunk) {
    const std::int64_t n = std::min(chunk, d.rows - p0);
    kernel(p0, static_cast<int>(n), static_cast<std::size_t>(p0 * k));
    if (writes_rows && p0 > 0) {
      const std::int32_t shift = static_cast<std::int32_t>(p0);
      std::int32_t *rows = d.i.data();
      for (std::int64_t e = p0 * k; e < (p0 + n) * k; ++e) rows[e] += shift;
    }
  }
}

// Reads which rows the kernel put in range from a freshly evaluated design
// (before any derivative pass): an in-range block has top column J >= order-1,
// which is nonzero for order >= 2; at order 1 the seeded value is 1.
inline void mark_in_range(Design &d) {
  const std::size_t k = static_cast<std::size_t>(d.order);
  for (std::size_t p = 0; p < d.in_range.size(); ++p) {
    const std::size_t top = p * k + k - 1;
    d.in_range[p] = d.order >= 2 ? d.j[top] != 0 : d.B[top] != 0.0;
  }
}

// Basis of `order` on the knots t at x, values or first derivatives, with the
// kernels' half-open convention.
inline Design knot_eval(const double *t, int nt, int order, int nj,
                        const double *x, std::size_t nx, bool deriv,
                        std::int64_t chunk) {
  Design d = allocate(nx, order, nj);
  double *tt = const_cast<double *>(t);  // the kernels only read t and x
  double *xx = const_cast<double *>(x);
  const int stop = deriv ? order - 1 : order;
  run_chunked(d, chunk, true, [&](std::int64_t p0, int n, std::size_t off) {
    blossom_grid(tt, nt, xx + p0, n, d.i.data() + off, d.j.data() + off,
                 d.B.data() + off, n * order, stop, order, nj);
  });
  mark_in_range(d);
  if (deriv)
    run_chunked(d, chunk, false, [&](std::int64_t, int n, std::size_t off) {
      deriv_grid(tt, nt, d.i.data() + off, d.j.data() + off, d.B.data() + off,
                 n * order, n, order);
    });
  return d;
}

// Basis of `order` on the uniform integer grid at x, with the kernels'
// half-open convention.  Derivatives run the knot derivative kernel on the
// explicit integer knots 0 .. nj + order - 1.
inline Design uniform_eval(int order, int nj, const double *x, std::size_t nx,
                           bool deriv, std::int64_t chunk) {
  Design d = allocate(nx, order, nj);
  double *xx = const_cast<double *>(x);
  const int stop = deriv ? order - 1 : order;
  run_chunked(d, chunk, true, [&](std::int64_t p0, int n, std::size_t off) {
    blossom(xx + p0, n, d.i.data() + off, d.j.data() + off, d.B.data() + off,
            n * order, stop, order, nj);
  });
  mark_in_range(d);
  if (deriv) {
    std::vector<double> t(static_cast<std::size_t>(nj) + static_cast<std::size_t>(order));
    std::iota(t.begin(), t.end(), 0.0);
    const int nt = static_cast<int>(t.size());
    run_chunked(d, chunk, false, [&](std::int64_t, int n, std::size_t off) {
      deriv_grid(t.data(), nt, d.i.data() + off, d.j.data() + off,
                 d.B.data() + off, n * order, n, order);
    });
  }
  return d;
}

// Puts the left limits into the rows whose abscissa equals `right`, the right
// end of the base interval, which the kernels leave out of range.
// mirrored(n) evaluates the mirrored basis (half-open) at n copies of the
// mirrored right end; its column c' is column cshift - c' here, its derivatives have
// the opposite sign, and its blocks run the other way.
template <class Mirrored>
void close_right_end(Design &d, const double *x, double right,
                     std::int64_t cshift, bool deriv, Mirrored &&mirrored) {
  std::vector<std::size_t> rows;
  for (std::size_t p = 0; p < static_cast<std::size_t>(d.rows); ++p)
    if (x[p] == right && !d.in_range[p]) rows.push_back(p);
  if (rows.empty()) return;
  const Design m = mirrored(rows.size());
  const std::size_t k = static_cast<std::size_t>(d.order);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (!m.in_range[r]) continue;
    const std::size_t p = rows[r];
    for (std::size_t q = 0; q < k; ++q) {
      const std::size_t src = r * k + (k - 1 - q);
      d.j[p * k + q] = static_cast<std::int32_t>(cshift - m.j[src]);
      d.B[p * k + q] = deriv ? 0.0 - m.B[src] : m.B[src];
    }
    d.in_range[p] = 1;
  }
}

template <class R>
using double_range_t = std::enable_if_t<std::is_same_v<
    std::remove_cv_t<std::remove_pointer_t<decltype(std::data(std::declval<const R &>()))>>,
    double>>;

// The ways to ask a basis for values or first derivatives; Derived
// provides order() and evaluate().
template <class Derived>
class Evaluator {
 public:
  Design values(const double *x, std::size_t nx,
                RightEnd end = RightEnd::closed) const {
    return self().evaluate(x, nx, false, end, rows_per_call(self().order()));
  }
  Design derivatives(const double *x, std::size_t nx,
                     RightEnd end = RightEnd::closed) const {
    return self().evaluate(x, nx, true, end, rows_per_call(self().order()));
  }
  template <class R, class = double_range_t<R>>
  Design values(const R &x, RightEnd end = RightEnd::closed) const {
    return values(std::data(x), static_cast<std::size_t>(std::size(x)), end);
  }
  template <class R, class = double_range_t<R>>
  Design derivatives(const R &x, RightEnd end = RightEnd::closed) const {
    return derivatives(std::data(x), static_cast<std::size_t>(std::size(x)), end);
  }
  Design values(std::initializer_list<double> x,
                RightEnd end = RightEnd::closed) const {
    return values(x.begin(), x.size(), end);
  }
  Design derivatives(std::initializer_list<double> x,
                     RightEnd end = RightEnd::closed) const {
    return derivatives(x.begin(), x.size(), end);
  }

 private:
  const Derived &self() const { return static_cast<const Derived &>(*this); }
};

}  // namespace detail

// B-spline basis on a non-decreasing knot sequence.
class KnotBasis : public detail::Evaluator<KnotBasis> {
 public:
  // Basis of `order` (degree order - 1) on `knots`, with `nj` columns
  // (default: all nt - order).  Throws std::invalid_argument when order < 1,
  // a knot is not finite, the knots decrease, there are fewer than order + 1
  // knots, or nj lies outside 1 .. nt - order; std::length_error when there
  // are more knots than an int counts.
  KnotBasis(std::vector<double> knots, int order,
            std::optional<int> nj = std::nullopt)
      : t_(std::move(knots)), order_(order) {
    if (order < 1)
      throw std::invalid_argument("bsbasis: order must be >= 1, got " +
                                  std::to_string(order));
    if (t_.size() > static_cast<std::size_t>(detail::kIntMax))
      throw std::length_error("bsbasis: knots has " + std::to_string(t_.size()) +
                              " entries, more than an int counts");
    for (std::size_t m = 0; m < t_.size(); ++m) {
      if (!std::isfinite(t_[m]))
        throw std::invalid_argument("bsbasis: knots[" + std::to_string(m) +
                                    "] is " + detail::num(t_[m]) +
                                    "; knots must be finite");
      if (m > 0 && t_[m] < t_[m - 1])
        throw std::invalid_argument(
            "bsbasis: knots must be non-decreasing, but knots[" +
            std::to_string(m) + "] = " + detail::num(t_[m]) + " < knots[" +
            std::to_string(m - 1) + "] = " + detail::num(t_[m - 1]));
    }
    const std::int64_t nt = static_cast<std::int64_t>(t_.size());
    if (nt < static_cast<std::int64_t>(order) + 1)
      throw std::invalid_argument("bsbasis: knots has " + std::to_string(nt) +
                                  " entries; order " + std::to_string(order) +
                                  " needs at least order + 1 = " +
                                  std::to_string(std::int64_t(order) + 1));
    const int full = static_cast<int>(nt - order);
    nj_ = nj.value_or(full);
    if (nj_ < 1 || nj_ > full)
      throw std::invalid_argument(
          "bsbasis: nj must lie in 1 .. nt - order = " + std::to_string(full) +
          " for " + std::to_string(nt) + " knots of order " +
          std::to_string(order) + ", got " + std::to_string(nj_));
  }

  KnotBasis(const double *knots, std::size_t nt, int order,
            std::optional<int> nj = std::nullopt)
      : KnotBasis(std::vector<double>(knots, knots + nt), order, nj) {}

  int order() const { return order_; }
  int nj() const { return nj_; }
  const std::vector<double> &knots() const { return t_; }
  // The base interval, where the basis is complete.
  double left() const { return t_[static_cast<std::size_t>(order_ - 1)]; }
  double right() const { return t_[static_cast<std::size_t>(nj_)]; }

  // As values/derivatives, with at most `chunk` abscissae per kernel call.
  Design evaluate(const double *x, std::size_t nx, bool deriv, RightEnd end,
                  std::int64_t chunk) const {
    const int nt = static_cast<int>(t_.size());
    Design d = detail::knot_eval(t_.data(), nt, order_, nj_, x, nx, deriv, chunk);
    if (end == RightEnd::closed)
      detail::close_right_end(d, x, right(), nt - 1 - order_, deriv,
                              [&](std::size_t n) {
                                std::vector<double> s(t_.rbegin(), t_.rend());
                                for (double &v : s) v = -v;
                                const std::vector<double> y(n, -right());
                                return detail::knot_eval(s.data(), nt, order_,
                                                         nt - order_, y.data(),
                                                         n, deriv, chunk);
                              });
    return d;
  }

 private:
  std::vector<double> t_;
  int order_;
  int nj_;
};

// B-spline basis on the uniform integer grid: knot m lies at the value m.
class UniformBasis : public detail::Evaluator<UniformBasis> {
 public:
  // Basis of `order` with nj columns; the base interval is [order - 1, nj].
  // Throws std::invalid_argument when order < 1 or nj lies outside
  // order .. INT_MAX - order.
  UniformBasis(int order, int nj) : order_(order), nj_(nj) {
    if (order < 1)
      throw std::invalid_argument("bsbasis: order must be >= 1, got " +
                                  std::to_string(order));
    const std::int64_t hi = detail::kIntMax - order;
    if (nj < order || nj > hi)
      throw std::invalid_argument("bsbasis: nj must lie in order .. INT_MAX - order = " +
                                  std::to_string(order) + " .. " +
                                  std::to_string(hi) + ", got " +
                                  std::to_string(nj));
  }

  int order() const { return order_; }
  int nj() const { return nj_; }
  double left() const { return order_ - 1; }
  double right() const { return nj_; }

  // As values/derivatives, with at most `chunk` abscissae per kernel call.
  Design evaluate(const double *x, std::size_t nx, bool deriv, RightEnd end,
                  std::int64_t chunk) const {
    Design d = detail::uniform_eval(order_, nj_, x, nx, deriv, chunk);
    // Mirrored about (nj + order - 1) / 2, the grid maps onto itself: the
    // right end nj goes to order - 1 exactly and column c to nj - 1 - c.
    if (end == RightEnd::closed)
      detail::close_right_end(d, x, right(), nj_ - 1, deriv, [&](std::size_t n) {
        const std::vector<double> y(n, left());
        return detail::uniform_eval(order_, nj_, y.data(), n, deriv, chunk);
      });
    return d;
  }

 private:
  int order_;
  int nj_;
};

}  // namespace bsbasis

#endif  // BSBASIS_HPP

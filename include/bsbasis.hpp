// bsbasis.hpp: header-only C++17 API over the C kernels of bsbasis.h.
//
//   bsbasis::KnotBasis basis({0, 0, 0, 0, 1, 2, 3, 3, 3, 3}, 4);  // cubic, 6 columns
//   bsbasis::Design A = basis.values(x);          // x: std::vector<double>, ...
//   bsbasis::Design dA = basis.derivatives(x);
//   bsbasis::Csr32 csr = A.to_csr<std::int32_t>();
//
//   bsbasis::Design d;                            // reused across calls:
//   for (...) basis.values(x, d);                 // no allocation once d is large enough
//
// A basis is validated when it is built and throws std::invalid_argument
// naming the offending argument; the C library itself validates nothing.
//
// Column bound nj: a basis of order `order` on nt knots offers nj = order ..
// nt - order columns (default nt - order, the full basis), and its base
// interval [t[order-1], t[nj]] must not be empty.  These are the B-splines
// whose knots all lie in the sequence; for them the derivative kernel is
// exact and the right end can be evaluated as a left limit.  A uniform basis
// has knot m at the value m, nj >= order columns and the base interval
// [order-1, nj].
//
// Knots must be finite and non-decreasing, with differences that a double
// can hold and invert: t[nt-1] - t[0] must not overflow, and no positive
// difference of neighbouring knots may be so small (below 1/DBL_MAX, about
// 5.6e-309) that its reciprocal overflows.
//
// Right end: by default (RightEnd::closed) an abscissa equal to the right
// end of the base interval is in range, with the left-limit values (and
// derivatives) of the basis there.  They are evaluated by the same kernels on
// the mirrored problem (knots -t reversed, abscissa -x), which is exact up to
// the rounding of the recurrence; the basis does so once, when it is built.
// RightEnd::half_open keeps the kernels' convention, where that abscissa is
// out of range.
//
// Out-of-range abscissae (NaN and +-inf included) give out-of-range rows:
// columns 0 and values 0 in the triplets, empty rows in CSR.  Every other
// row holds the kernels' own bits.  Derivatives are the knot kernel stopped
// one level short followed by the derivative kernel (for a uniform basis, on
// a short run of integer knots: every column there has the same spans).
//
// Abscissae: a pointer and a count, an initializer list, or any contiguous
// range of doubles (std::data and std::size).  An Eigen object whose
// elements are strided (a row of a column-major matrix, a Map with an inner
// stride) is read through its strides into a contiguous copy first.
//
// Sizes: rows are int, so more than INT_MAX abscissae throw std::length_error;
// the kernels are called on chunks of a few hundred abscissae, so that each
// chunk's entries are still in cache for the host's own passes over them.
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
#include <memory>
#include <new>
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

// std::allocator, except that an element made without arguments is
// default-initialised: resize() leaves new ints and doubles unwritten
// instead of zeroing them.  The kernels write every entry of a Design, so
// zeroing first would only cost a pass over fresh memory.
template <class T>
class DefaultInitAllocator : public std::allocator<T> {
 public:
  template <class U>
  struct rebind {
    using other = DefaultInitAllocator<U>;
  };
  DefaultInitAllocator() noexcept = default;
  template <class U>
  DefaultInitAllocator(const DefaultInitAllocator<U> &) noexcept {}

  template <class U>
  void construct(U *p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void *>(p)) U;
  }
  template <class U, class... Args>
  void construct(U *p, Args &&...args) {
    ::new (static_cast<void *>(p)) U(std::forward<Args>(args)...);
  }
  template <class U>
  void destroy(U *p) noexcept {
    p->~U();
  }
};

template <class T, class U>
bool operator==(const DefaultInitAllocator<T> &, const DefaultInitAllocator<U> &) noexcept {
  return true;
}
template <class T, class U>
bool operator!=(const DefaultInitAllocator<T> &, const DefaultInitAllocator<U> &) noexcept {
  return false;
}

// The vectors of a Design: a std::vector in every way but the allocator.
// resize(n) leaves new elements unwritten (resize(n, v) and assign() fill
// as usual).  To get a plain std::vector: std::vector<T>(b.begin(), b.end()).
template <class T>
using Buffer = std::vector<T, DefaultInitAllocator<T>>;

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
  Buffer<std::int32_t> i;  // row of each entry
  Buffer<std::int32_t> j;  // column of each entry
  Buffer<double> B;        // value of each entry
  Buffer<std::uint8_t> in_range;  // per row: 1 when the abscissa is in range
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

// Abscissae per kernel call: their entries (64 bytes an abscissa at order
// 4, 32 KB in all) stay in the first-level cache for the passes that follow
// the call.
inline constexpr std::int64_t kChunk = 512;

// Entries of the column pattern of a uniform basis (at least one block).
inline constexpr int kPatternEntries = 4096;

inline std::string num(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

// Abscissae per kernel call at most, so that the entry count nx*order fits
// an int.
inline std::int64_t rows_per_call(int order) { return kIntMax / order; }

// Resizes v to n unset elements; true when that took new storage.
template <class T>
bool resize_unset(Buffer<T> &v, std::size_t n) {
  const bool grow = n > v.capacity();
  if (grow) v.clear();  // the new storage copies nothing over
  v.resize(n);
  return grow;
}

// Sizes d for nx abscissae, reusing its storage; nothing is initialised.
// Returns true when B took new storage.  On failure d is left empty.
inline bool prepare(Design &d, std::size_t nx, int order, int nj) {
  if (nx > static_cast<std::size_t>(kIntMax))
    throw std::length_error("bsbasis: x has " + std::to_string(nx) +
                            " abscissae; rows are int, at most " +
                            std::to_string(kIntMax));
  const std::size_t n = nx * static_cast<std::size_t>(order);
  bool fresh = false;
  try {
    resize_unset(d.i, n);
    resize_unset(d.j, n);
    fresh = resize_unset(d.B, n);
    resize_unset(d.in_range, nx);
  } catch (...) {
    d = Design{};
    throw;
  }
  d.rows = static_cast<std::int64_t>(nx);
  d.cols = nj;
  d.order = order;
  return fresh;
}

// The left-limit block at the right end of the base interval: columns and
// values of positions 0 .. order-1.
struct EndBlock {
  bool in_range = false;
  std::vector<std::int32_t> j;
  std::vector<double> B;
};

// The knot kernels on knots t.
struct KnotKernels {
  const double *t;
  int nt, order, nj;
  void values(const double *x, int n, int *i, int *j, double *B, int stop) const {
    // The kernels only read t and x.
    blossom_grid(const_cast<double *>(t), nt, const_cast<double *>(x), n, i, j,
                 B, n * order, stop, order, nj);
  }
  void derive(int *i, int *j, double *B, int n) const {
    deriv_grid(const_cast<double *>(t), nt, i, j, B, n * order, n, order);
  }
};

// The uniform kernel, and the knot derivative kernel on the integer knots
// t = 0 .. 2*order - 1 with the columns 0 .. order-1 in every block: on
// integer knots every column has the same spans, so these are the bits of
// the full knot sequence, at a cost independent of nj.  The pattern holds
// `blocks` such blocks; the real columns stay in the Design's j.
struct UniformKernels {
  int order, nj;
  const double *t;
  int nt;
  const int *pattern;
  int blocks;
  void values(const double *x, int n, int *i, int *j, double *B, int stop) const {
    blossom(const_cast<double *>(x), n, i, j, B, n * order, stop, order, nj);
  }
  void derive(int *i, int *, double *B, int n) const {
    for (int p = 0; p < n; p += blocks) {
      const int m = std::min(blocks, n - p);
      const std::size_t off = static_cast<std::size_t>(p) * static_cast<std::size_t>(order);
      deriv_grid(const_cast<double *>(t), nt, i + off, const_cast<int *>(pattern),
                 B + off, m * order, m, order);
    }
  }
};

// Adds s to the n ints at v, in runs of 16 that compilers vectorise
// without a remainder loop at -O2 too.
inline void add_to(std::int32_t *v, std::size_t n, std::int32_t s) {
  std::size_t e = 0;
  for (; e + 16 <= n; e += 16)
    for (std::size_t q = 0; q < 16; ++q) v[e + q] += s;
  for (; e < n; ++e) v[e] += s;
}

// Evaluates the kernels k at the nx abscissae x into d, values or first
// derivatives, `chunk` abscissae per kernel call.  While a chunk's entries
// are in cache it makes the rows global, flags the in-range rows, derives,
// and puts `end` (when given) into the out-of-range rows whose abscissa
// equals `right`.  No other pass touches the entries.
template <class K>
void fill(const K &k, Design &d, const double *x, std::size_t nx, int order,
          int nj, bool deriv, const EndBlock *end, double right, std::int64_t chunk) {
  const bool fresh = prepare(d, nx, order, nj);
  const std::size_t ko = static_cast<std::size_t>(order);
  const int stop = deriv ? order - 1 : order;
  // Stopped one level short, the kernel keeps position 0 of a block as it
  // found it (it may read it and write it back), and the derivative kernel
  // reads it: it must be 0.  New storage is zeroed there before the kernel
  // call, so that a page is first written, not first read (a read maps the
  // zero page, and the write after it faults a second time); storage in use
  // is zeroed after the call, when its lines are in cache.  At order 1,
  // position 0 is the seed, which the kernel writes.
  const bool zero_before = deriv && order >= 2 && fresh;
  const bool zero_after = deriv && order >= 2 && !fresh;
  chunk = std::clamp<std::int64_t>(chunk, 1, rows_per_call(order));
  for (std::int64_t p0 = 0; p0 < d.rows; p0 += chunk) {
    const int n = static_cast<int>(std::min(chunk, d.rows - p0));
    const std::size_t off = static_cast<std::size_t>(p0) * ko;
    const std::size_t ne = static_cast<std::size_t>(n) * ko;
    std::int32_t *const i = d.i.data() + off;
    std::int32_t *const j = d.j.data() + off;
    double *const B = d.B.data() + off;
    std::uint8_t *const in = d.in_range.data() + p0;
    const double *const xc = x + p0;
    if (zero_before)
      for (std::size_t e = 0; e < ne; e += ko) B[e] = 0.0;
    k.values(xc, n, i, j, B, stop);
    // The kernel numbers the rows of the chunk from 0.
    if (p0 > 0) add_to(i, ne, static_cast<std::int32_t>(p0));
    // An in-range block has top column J >= order-1, which is nonzero for
    // order >= 2; at order 1 its seeded value 1 marks it.
    bool missing = false;
    if (order >= 2) {
      for (int m = 0; m < n; ++m) {
        const std::size_t b = static_cast<std::size_t>(m) * ko;
        const bool r = j[b + ko - 1] != 0;
        in[m] = r;
        missing = missing | !r;
        if (zero_after) B[b] = 0.0;
      }
    } else {
      for (int m = 0; m < n; ++m) {
        const bool r = B[m] != 0.0;
        in[m] = r;
        missing = missing | !r;
      }
    }
    if (deriv) k.derive(i, j, B, n);
    if (missing && end && end->in_range) {
      for (int m = 0; m < n; ++m) {
        if (in[m] || !(xc[m] == right)) continue;
        const std::size_t e = static_cast<std::size_t>(m) * ko;
        std::copy_n(end->j.data(), ko, j + e);
        std::copy_n(end->B.data(), ko, B + e);
        in[m] = 1;
      }
    }
  }
}

// The end block from the mirrored basis evaluated (half-open) at the
// mirrored right end: its column c' is column cshift - c' here, its
// derivatives have the opposite sign, and its blocks run the other way.
inline EndBlock end_block(const Design &m, std::int64_t cshift, bool deriv) {
  const std::size_t k = static_cast<std::size_t>(m.order);
  EndBlock b;
  b.in_range = m.in_range[0] != 0;
  b.j.resize(k);
  b.B.resize(k);
  for (std::size_t q = 0; q < k; ++q) {
    b.j[q] = static_cast<std::int32_t>(cshift - m.j[k - 1 - q]);
    b.B[q] = deriv ? 0.0 - m.B[k - 1 - q] : m.B[k - 1 - q];
  }
  return b;
}

template <class R>
using double_range_t = std::enable_if_t<std::is_same_v<
    std::remove_cv_t<std::remove_pointer_t<decltype(std::data(std::declval<const R &>()))>>,
    double>>;

// Eigen's dense objects with direct access: their elements may be strided.
template <class R, class = void>
struct has_strides : std::false_type {};
template <class R>
struct has_strides<R, std::void_t<decltype(std::declval<const R &>().innerStride()),
                                  decltype(std::declval<const R &>().outerStride()),
                                  decltype(std::declval<const R &>().innerSize()),
                                  decltype(std::declval<const R &>().outerSize())>>
    : std::true_type {};

// Calls f(p, n) with the n elements of x in one array: x's own storage when
// it is contiguous, else a copy in x's storage order through its strides.
template <class R, class F>
decltype(auto) with_contiguous(const R &x, F &&f) {
  if constexpr (has_strides<R>::value) {
    const std::ptrdiff_t inner = x.innerSize(), outer = x.outerSize();
    const std::ptrdiff_t is = x.innerStride(), os = x.outerStride();
    if (inner > 0 && outer > 0 && !(is == 1 && (outer == 1 || os == inner))) {
      std::vector<double> c;
      c.reserve(static_cast<std::size_t>(inner) * static_cast<std::size_t>(outer));
      const double *base = std::data(x);
      for (std::ptrdiff_t o = 0; o < outer; ++o)
        for (std::ptrdiff_t e = 0; e < inner; ++e) c.push_back(base[o * os + e * is]);
      return f(static_cast<const double *>(c.data()), c.size());
    }
  }
  return f(static_cast<const double *>(std::data(x)), static_cast<std::size_t>(std::size(x)));
}

// The ways to ask a basis for values or first derivatives, in a new Design
// or into the caller's (which keeps its storage when it is large enough; x
// must not lie in it).  Derived provides evaluate() and default_chunk().
template <class Derived>
class Evaluator {
 public:
  Design values(const double *x, std::size_t nx,
                RightEnd end = RightEnd::closed) const {
    Design d;
    values(x, nx, d, end);
    return d;
  }
  Design derivatives(const double *x, std::size_t nx,
                     RightEnd end = RightEnd::closed) const {
    Design d;
    derivatives(x, nx, d, end);
    return d;
  }
  Design &values(const double *x, std::size_t nx, Design &out,
                 RightEnd end = RightEnd::closed) const {
    self().evaluate(x, nx, false, end, self().default_chunk(), out);
    return out;
  }
  Design &derivatives(const double *x, std::size_t nx, Design &out,
                      RightEnd end = RightEnd::closed) const {
    self().evaluate(x, nx, true, end, self().default_chunk(), out);
    return out;
  }

  template <class R, class = double_range_t<R>>
  Design values(const R &x, RightEnd end = RightEnd::closed) const {
    return with_contiguous(x, [&](const double *p, std::size_t n) { return values(p, n, end); });
  }
  template <class R, class = double_range_t<R>>
  Design derivatives(const R &x, RightEnd end = RightEnd::closed) const {
    return with_contiguous(
        x, [&](const double *p, std::size_t n) { return derivatives(p, n, end); });
  }
  template <class R, class = double_range_t<R>>
  Design &values(const R &x, Design &out, RightEnd end = RightEnd::closed) const {
    return with_contiguous(x, [&](const double *p, std::size_t n) -> Design & {
      return values(p, n, out, end);
    });
  }
  template <class R, class = double_range_t<R>>
  Design &derivatives(const R &x, Design &out, RightEnd end = RightEnd::closed) const {
    return with_contiguous(x, [&](const double *p, std::size_t n) -> Design & {
      return derivatives(p, n, out, end);
    });
  }

  Design values(std::initializer_list<double> x,
                RightEnd end = RightEnd::closed) const {
    return values(x.begin(), x.size(), end);
  }
  Design derivatives(std::initializer_list<double> x,
                     RightEnd end = RightEnd::closed) const {
    return derivatives(x.begin(), x.size(), end);
  }
  Design &values(std::initializer_list<double> x, Design &out,
                 RightEnd end = RightEnd::closed) const {
    return values(x.begin(), x.size(), out, end);
  }
  Design &derivatives(std::initializer_list<double> x, Design &out,
                      RightEnd end = RightEnd::closed) const {
    return derivatives(x.begin(), x.size(), out, end);
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
  // a knot is not finite, the knots decrease, a difference of knots overflows
  // or has a reciprocal that overflows, there are fewer than 2 * order knots,
  // nj lies outside order .. nt - order, or the base interval
  // [t[order-1], t[nj]] is empty; std::length_error when there are more
  // knots than an int counts.
  KnotBasis(std::vector<double> knots, int order,
            std::optional<int> nj = std::nullopt)
      : t_(std::move(knots)), order_(order) {
    validate(nj);
    // The left limits at t[nj]: the mirrored full basis at -t[nj].
    const int nt = static_cast<int>(t_.size());
    std::vector<double> s(t_.rbegin(), t_.rend());
    for (double &v : s) v = -v;
    const detail::KnotKernels mirrored{s.data(), nt, order_, nt - order_};
    const double y = -right();
    for (bool deriv : {false, true}) {
      Design m;
      detail::fill(mirrored, m, &y, 1, order_, nt - order_, deriv, nullptr, 0.0, 1);
      end_[deriv] = detail::end_block(m, nt - 1 - order_, deriv);
    }
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

  // Abscissae per kernel call: detail::kChunk, or as many as there are
  // knots, so that the tables of spans that the kernels form per call cost
  // at most a few divisions per abscissa.
  std::int64_t default_chunk() const {
    return std::max<std::int64_t>(detail::kChunk, static_cast<std::int64_t>(t_.size()));
  }

  // As values/derivatives, with at most `chunk` abscissae per kernel call.
  void evaluate(const double *x, std::size_t nx, bool deriv, RightEnd end,
                std::int64_t chunk, Design &out) const {
    const detail::KnotKernels k{t_.data(), static_cast<int>(t_.size()), order_, nj_};
    detail::fill(k, out, x, nx, order_, nj_, deriv,
                 end == RightEnd::closed ? &end_[deriv] : nullptr, right(), chunk);
  }
  Design evaluate(const double *x, std::size_t nx, bool deriv, RightEnd end,
                  std::int64_t chunk) const {
    Design d;
    evaluate(x, nx, deriv, end, chunk, d);
    return d;
  }

 private:
  void validate(std::optional<int> nj) {
    using detail::num;
    using std::to_string;
    if (order_ < 1)
      throw std::invalid_argument("bsbasis: order must be >= 1, got " + to_string(order_));
    if (t_.size() > static_cast<std::size_t>(detail::kIntMax))
      throw std::length_error("bsbasis: knots has " + to_string(t_.size()) +
                              " entries, more than an int counts");
    for (std::size_t m = 0; m < t_.size(); ++m) {
      if (!std::isfinite(t_[m]))
        throw std::invalid_argument("bsbasis: knots[" + to_string(m) + "] is " +
                                    num(t_[m]) + "; knots must be finite");
      if (m == 0) continue;
      if (t_[m] < t_[m - 1])
        throw std::invalid_argument(
            "bsbasis: knots must be non-decreasing, but knots[" + to_string(m) +
            "] = " + num(t_[m]) + " < knots[" + to_string(m - 1) + "] = " + num(t_[m - 1]));
      // A positive span below 1/DBL_MAX has an infinite reciprocal, which
      // the recurrence turns into NaN.
      const double gap = t_[m] - t_[m - 1];
      if (gap > 0.0 && !std::isfinite(1.0 / gap))
        throw std::invalid_argument(
            "bsbasis: knots[" + to_string(m) + "] - knots[" + to_string(m - 1) +
            "] = " + num(gap) + " is too small: its reciprocal overflows");
    }
    const std::int64_t nt = static_cast<std::int64_t>(t_.size());
    if (nt < 2 * static_cast<std::int64_t>(order_))
      throw std::invalid_argument("bsbasis: knots has " + to_string(nt) +
                                  " entries; order " + to_string(order_) +
                                  " needs at least 2 * order = " +
                                  to_string(2 * std::int64_t(order_)));
    // Every span of the recurrence lies inside t[nt-1] - t[0].
    const double span = t_.back() - t_.front();
    if (!std::isfinite(span))
      throw std::invalid_argument("bsbasis: the span knots[" + to_string(nt - 1) +
                                  "] - knots[0] = " + num(t_.back()) + " - " +
                                  num(t_.front()) + " overflows a double");
    const int full = static_cast<int>(nt - order_);
    nj_ = nj.value_or(full);
    if (nj_ < order_ || nj_ > full)
      throw std::invalid_argument("bsbasis: nj must lie in order .. nt - order = " +
                                  to_string(order_) + " .. " + to_string(full) +
                                  " for " + to_string(nt) + " knots of order " +
                                  to_string(order_) + ", got " + to_string(nj_));
    if (!(left() < right()))
      throw std::invalid_argument(
          "bsbasis: the base interval [knots[" + to_string(order_ - 1) + "], knots[" +
          to_string(nj_) + "]] = [" + num(left()) + ", " + num(right()) +
          "] is empty; it needs knots[order - 1] < knots[nj]");
  }

  std::vector<double> t_;
  int order_;
  int nj_ = 0;
  detail::EndBlock end_[2];  // left limits at right(): values, derivatives
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
    t_.resize(2 * static_cast<std::size_t>(order));
    for (std::size_t m = 0; m < t_.size(); ++m) t_[m] = static_cast<double>(m);
    const int blocks = std::max(1, detail::kPatternEntries / order);
    pattern_.resize(static_cast<std::size_t>(blocks) * static_cast<std::size_t>(order));
    for (std::size_t e = 0; e < pattern_.size(); ++e)
      pattern_[e] = static_cast<int>(e % static_cast<std::size_t>(order));
    // Mirrored about (nj + order - 1) / 2, the grid maps onto itself: the
    // right end nj goes to order - 1 exactly and column c to nj - 1 - c.
    const double y = left();
    for (bool deriv : {false, true}) {
      Design m;
      detail::fill(kernels(), m, &y, 1, order_, nj_, deriv, nullptr, 0.0, 1);
      end_[deriv] = detail::end_block(m, nj_ - 1, deriv);
    }
  }

  int order() const { return order_; }
  int nj() const { return nj_; }
  double left() const { return order_ - 1; }
  double right() const { return nj_; }

  std::int64_t default_chunk() const { return detail::kChunk; }

  // As values/derivatives, with at most `chunk` abscissae per kernel call.
  void evaluate(const double *x, std::size_t nx, bool deriv, RightEnd end,
                std::int64_t chunk, Design &out) const {
    detail::fill(kernels(), out, x, nx, order_, nj_, deriv,
                 end == RightEnd::closed ? &end_[deriv] : nullptr, right(), chunk);
  }
  Design evaluate(const double *x, std::size_t nx, bool deriv, RightEnd end,
                  std::int64_t chunk) const {
    Design d;
    evaluate(x, nx, deriv, end, chunk, d);
    return d;
  }

 private:
  detail::UniformKernels kernels() const {
    return {order_, nj_, t_.data(), static_cast<int>(t_.size()), pattern_.data(),
            static_cast<int>(pattern_.size() / static_cast<std::size_t>(order_))};
  }

  int order_;
  int nj_;
  std::vector<double> t_;    // the integer knots 0 .. 2*order - 1
  std::vector<int> pattern_;  // columns 0 .. order-1, block after block
  detail::EndBlock end_[2];   // left limits at right(): values, derivatives
};

}  // namespace bsbasis

#endif  // BSBASIS_HPP

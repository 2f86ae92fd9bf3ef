// bsbasis.hpp: header-only C++17 API over the C library of bsbasis.h.
//
//   bsbasis::KnotBasis basis({0, 0, 0, 0, 1, 2, 3, 3, 3, 3}, 4);  // cubic, 6 columns
//   bsbasis::Design A = basis.values(x);          // x: std::vector<double>, ...
//   bsbasis::Design dA = basis.derivatives(x);    // first derivatives
//   bsbasis::Design d2A = basis.derivatives(x, 2);  // derivatives of order 2
//   bsbasis::Csr32 csr = A.to_csr<std::int32_t>();
//
//   bsbasis::Design d;                            // reused across calls:
//   for (...) basis.values(x, d);                 // no allocation once d is large enough
//
//   bsbasis::KnotBasis held(t, 4, bsbasis::Extrapolate::Constant);
//   bsbasis::PeriodicBasis ring({0, 1, 2, 3, 4, 5}, 4);  // 5 columns, period 5
//   bsbasis::TensorBasis surface({basis, basis});  // points row-major, x0 y0 x1 y1 ...
//   bsbasis::Csr32 S = surface.values(xy);
//   bsbasis::Banded P = bsbasis::difference_penalty(basis.nj(), 2);
//   std::vector<double> knots = bsbasis::make_knots(x, 10, 4);
//
//   // A penalised least-squares fit without a design matrix:
//   bsbasis::NormalEquations ne = bsbasis::normal_equations(basis, x, y, w);
//   std::vector<double> c = bsbasis::solve(ne, P, 1e-3);   // (X'WX + 1e-3 P) c = X'Wy
//   bsbasis::Buffer<double> f = bsbasis::evaluate(basis, c, x);
//
// Every evaluation, penalty and knot placement is a call of the extension API
// of bsbasis.h: the classes here validate, allocate and wrap.  A basis is
// validated when it is built and throws std::invalid_argument naming the
// offending argument; a rule that only the library states is reported with
// bsbasis_strerror's text.  A failed allocation of the library's scratch
// memory throws std::bad_alloc.
//
// Where Eigen 3.3 or later is available, bsbasis_eigen.hpp adds
// bsbasis::to_eigen, which gives a Design as an Eigen sparse matrix; this
// header needs nothing beyond the standard library and bsbasis.h.
//
// Column bound nj: a basis of order `order` on nt knots offers nj = order ..
// nt - order columns (default nt - order, the full basis), and its base
// interval [t[order-1], t[nj]] must not be empty.  A uniform basis has knot
// m at origin + m * spacing (default: at m), nj >= order columns and the base
// interval [origin + (order-1) * spacing, origin + nj * spacing].
//
// Knots must be finite and non-decreasing, with differences that a double
// can hold and invert: t[nt-1] - t[0] must not overflow, and no positive
// difference of neighbouring knots may be so small (below 1/DBL_MAX, about
// 5.6e-309) that its reciprocal overflows.
//
// Derivatives: derivatives(x) gives the first, derivatives(x, nu) those of
// any order nu >= 0 (nu = 0: the values); from nu = order on they are zero,
// stored as entries with the value 0.
//
// Right end: by default (RightEnd::closed) an abscissa equal to the right
// end of the base interval is in range, with the left limits of the basis
// (and of its derivatives) there; Extrapolate::Periodic wraps it onto the
// left end instead.  RightEnd::half_open keeps the kernels'
// convention, where that abscissa is out of range; it goes with
// Extrapolate::Zero (an empty row) and Extrapolate::Error (it throws) only.
//
// Outside the base interval: the basis's Extrapolate mode, as in bsbasis.h
// (default Extrapolate::Zero).  An empty row (Zero; NaN under every mode but
// Error; +-inf under Continue, Linear and Periodic) holds column 0 and value
// 0 at each of its `order` positions in the triplets, in_range 0, and no
// entry in CSR.  Every other row, extrapolated ones included, holds the
// library's own bits, with ascending columns.
//
// Abscissae: a pointer and a count, an initializer list, or any contiguous
// range of doubles (std::data and std::size).  An Eigen object whose
// elements are strided (a row of a column-major matrix, a Map with an inner
// stride) is read through its strides into a contiguous copy first.  A
// built-in array followed by a count is a pointer and a count:
// derivatives(a, 3) is the first 3 abscissae of a; derivatives(a, 3, nu) asks
// for order nu.
//
// Sizes: rows are int, so more than INT_MAX abscissae throw std::length_error;
// the library is called on chunks of a few hundred abscissae, so that each
// chunk's entries are still in cache for the host's own pass over them.
#ifndef BSBASIS_HPP
#define BSBASIS_HPP

#if __cplusplus < 201703L
#error "bsbasis.hpp needs C++17 (use bsbasis.h from C or older C++)"
#endif

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "bsbasis.h"

#if defined(__linux__)
#include <sys/mman.h>  // madvise, for huge pages on large results
#endif

namespace bsbasis {

enum class RightEnd {
  closed,     // the right end of the base interval is in range (left limit)
  half_open,  // the kernels' convention: the right end is out of range
};

// What an abscissa outside the base interval [left(), right()] gets; the
// modes of bsbasis.h.  NaN gives an empty row under every mode but Error.
enum class Extrapolate {
  Error = BSBASIS_EXTRAPOLATE_ERROR,        // std::invalid_argument (NaN, +-inf too)
  Zero = BSBASIS_EXTRAPOLATE_ZERO,          // an empty row
  Continue = BSBASIS_EXTRAPOLATE_CONTINUE,  // the end polynomial pieces (+-inf: empty)
  Constant = BSBASIS_EXTRAPOLATE_CONSTANT,  // the row at the nearest end; derivatives 0
  Linear = BSBASIS_EXTRAPOLATE_LINEAR,      // value + slope * (x - end); higher
                                            // derivatives 0 (+-inf: empty)
  Periodic = BSBASIS_EXTRAPOLATE_PERIODIC,  // x wrapped into [left(), right()), so
                                            // right() takes the row at left()
                                            // (+-inf: empty)
};

// Where make_knots puts the base knots, and the knots beyond each end.
enum class KnotKind {
  Uniform = BSBASIS_KNOTS_UNIFORM,    // equally spaced from min to max
  Quantile = BSBASIS_KNOTS_QUANTILE,  // at (weighted) quantiles
};
enum class Boundary {
  Clamped = BSBASIS_BOUNDARY_CLAMPED,    // the end knot repeated
  Extended = BSBASIS_BOUNDARY_EXTENDED,  // the spacing of the end interval continued
};

namespace detail {

// Bytes from which a fresh buffer asks for transparent huge pages.
inline constexpr std::size_t kHugePageMin = std::size_t(8) << 20;

// Asks Linux to back the whole 2 MB pages of a large buffer, not yet
// touched, with transparent huge pages: one page fault and one zero-fill
// per 2 MB instead of 512 of each, which for a Design of 10^6 rows costs
// more than the library's work on it.  A hint: where it is refused, or on
// other systems, nothing changes.
inline void advise_huge_pages(void *p, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t huge = std::uintptr_t(1) << 21;
  const std::uintptr_t a = (reinterpret_cast<std::uintptr_t>(p) + huge - 1) & ~(huge - 1);
  const std::uintptr_t b = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(huge - 1);
  if (bytes >= kHugePageMin && b > a) madvise(reinterpret_cast<void *>(a), b - a, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

}  // namespace detail

// std::allocator, except that an element made without arguments is
// default-initialised: resize() leaves new ints and doubles unwritten
// instead of zeroing them.  The library writes every entry of a Design, so
// zeroing first would only cost a pass over fresh memory.  Large storage
// (8 MB and more) is backed by huge pages where Linux allows: this is the
// one place where the C++ host takes memory for results.
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

  T *allocate(std::size_t n) {
    T *p = std::allocator<T>::allocate(n);
    detail::advise_huge_pages(p, n * sizeof(T));
    return p;
  }

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

// Compressed sparse rows: offsets of type Index, columns of type Col.  The
// rows of a Design hold `order` entries with ascending columns, those of a
// tensor product the product of its factors' orders; empty rows hold none.
template <class Index, class Col = std::int32_t>
struct Csr {
  static_assert(std::is_integral_v<Index> && std::is_signed_v<Index>,
                "CSR index must be a signed integer type");
  static_assert(std::is_same_v<Col, std::int32_t> || std::is_same_v<Col, std::int64_t>,
                "CSR columns are std::int32_t or std::int64_t");
  std::int64_t rows = 0;
  std::int64_t cols = 0;
  std::vector<Index> indptr;  // rows + 1 offsets into indices/data
  std::vector<Col> indices;   // column of each entry
  std::vector<double> data;   // value of each entry
  std::int64_t nnz() const { return static_cast<std::int64_t>(data.size()); }
};
using Csr32 = Csr<std::int32_t>;
using Csr64 = Csr<std::int64_t>;

// An evaluated design matrix in the library's triplet layout: row p owns the
// block of entries p*order .. p*order + order - 1.
struct Design {
  std::int64_t rows = 0;  // number of abscissae
  std::int64_t cols = 0;  // number of basis functions (nj)
  int order = 0;
  Buffer<std::int32_t> i;  // row of each entry
  Buffer<std::int32_t> j;  // column of each entry
  Buffer<double> B;        // value of each entry
  // Per row: 1 when the row holds entries (its abscissa is in range, or was
  // extrapolated), 0 for an empty row.
  Buffer<std::uint8_t> in_range;
  // A hand-made Design must keep the sizes: rows * order entries, rows flags.

  // Entries of the rows that are not empty: the number of stored CSR entries.
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

// Abscissae per library call: their entries (64 bytes an abscissa at order
// 4, 32 KB in all) stay in the first-level cache for the host's pass that
// follows the call.
inline constexpr std::int64_t kRowsPerCall = 512;

// Entries per library call of a tensor product.
inline constexpr std::int64_t kTensorEntries = 16384;

inline std::string num(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

inline const char *name(Extrapolate e) {
  switch (e) {
    case Extrapolate::Error: return "Extrapolate::Error";
    case Extrapolate::Zero: return "Extrapolate::Zero";
    case Extrapolate::Continue: return "Extrapolate::Continue";
    case Extrapolate::Constant: return "Extrapolate::Constant";
    case Extrapolate::Linear: return "Extrapolate::Linear";
    case Extrapolate::Periodic: return "Extrapolate::Periodic";
  }
  return "an unknown Extrapolate";
}

// A non-zero status of the library as an exception: std::bad_alloc for a
// failed scratch allocation, else std::invalid_argument with its text.
[[noreturn]] inline void fail(int status, const std::string &where) {
  if (status == BSBASIS_ERROR_MEMORY) throw std::bad_alloc();
  throw std::invalid_argument("bsbasis: " + where + ": " + bsbasis_strerror(status));
}

inline void check(int status, const char *where) {
  if (status != BSBASIS_OK) fail(status, where);
}

inline void check_nu(int nu) {
  if (nu < 0)
    throw std::invalid_argument("bsbasis: the derivative order nu must be >= 0, got " +
                                std::to_string(nu));
}

inline void check_order(int order) {
  if (order < 1)
    throw std::invalid_argument("bsbasis: order must be >= 1, got " + std::to_string(order));
}

// The abscissa of [x, x + n) that lies outside [lo, hi] (NaN included), as
// the library's range error; offset numbers x[0] among all abscissae.
[[noreturn]] inline void fail_range(const double *x, std::size_t n, std::size_t offset,
                                    double lo, double hi, const std::string &what) {
  std::size_t p = 0;
  while (p + 1 < n && x[p] >= lo && x[p] <= hi) ++p;
  throw std::invalid_argument("bsbasis: x[" + std::to_string(offset + p) + "] = " +
                              num(x[p]) + ": " + bsbasis_strerror(BSBASIS_ERROR_RANGE) +
                              " [" + num(lo) + ", " + num(hi) + "]" + what +
                              " (Extrapolate::Error)");
}

// Resizes v to n unset elements; true when that took new storage.
template <class T>
bool resize_unset(Buffer<T> &v, std::size_t n) {
  const bool grow = n > v.capacity();
  if (grow) v.clear();  // the new storage copies nothing over
  v.resize(n);
  return grow;
}

// Sizes d for nx abscissae, reusing its storage; nothing is initialised.
// On failure d is left empty.
inline void prepare(Design &d, std::size_t nx, int order, std::int64_t cols) {
  if (nx > static_cast<std::size_t>(kIntMax))
    throw std::length_error("bsbasis: x has " + std::to_string(nx) +
                            " abscissae; rows are int, at most " +
                            std::to_string(kIntMax));
  const std::size_t n = nx * static_cast<std::size_t>(order);
  try {
    resize_unset(d.i, n);
    resize_unset(d.j, n);
    resize_unset(d.B, n);
    resize_unset(d.in_range, nx);
  } catch (...) {
    d = Design{};
    throw;
  }
  d.rows = static_cast<std::int64_t>(nx);
  d.cols = cols;
  d.order = order;
}

// An evaluation that failed half-way leaves d empty, its storage kept.
inline void clear(Design &d) {
  d.rows = 0;
  d.i.clear();
  d.j.clear();
  d.B.clear();
  d.in_range.clear();
}

// What the abscissae equal to the right end get, besides the library's row.
enum class EndRule { closed, empty, error };

inline EndRule end_rule(RightEnd end, Extrapolate mode) {
  if (end == RightEnd::closed) return EndRule::closed;
  if (mode == Extrapolate::Zero) return EndRule::empty;
  if (mode == Extrapolate::Error) return EndRule::error;
  throw std::invalid_argument(std::string("bsbasis: RightEnd::half_open goes with "
                                          "Extrapolate::Zero or Extrapolate::Error, not ") +
                              name(mode));
}

// The base interval, for the rows at its right end and for messages.
struct Interval {
  double lo, hi;
};

// i[e] = first[e] + s for the n entries at i, which do not overlap first:
// runs of 16 that compilers vectorise without a remainder loop or an
// overlap check, at -O2 too.
inline void shifted(std::int32_t *__restrict i, const std::int32_t *__restrict first,
                    std::size_t n, std::int32_t s) {
  std::size_t e = 0;
  for (; e + 16 <= n; e += 16)
    for (std::size_t q = 0; q < 16; ++q) i[e + q] = first[e + q] + s;
  for (; e < n; ++e) i[e] = first[e] + s;
}

// Evaluates into d by call(x, n, j, B, nempty), the library on the n
// abscissae x with its rows left out; `chunk` abscissae per call.  While a
// chunk's entries are in cache the host numbers the rows (those of the first
// chunk, shifted), flags the empty rows (the library marks them with column
// -1; when it counts none, no row is looked at) and gives them column 0, and
// applies the right-end rule.  Throws (d left
// empty) on a non-zero status.
template <class Call>
void fill(Call &&call, Design &d, const double *x, std::size_t nx, int order,
          std::int64_t cols, EndRule rule, Interval base, std::int64_t chunk) {
  prepare(d, nx, order, cols);
  const std::size_t ko = static_cast<std::size_t>(order);
  chunk = std::max<std::int64_t>(chunk, 1);
  for (std::int64_t p0 = 0; p0 < d.rows; p0 += chunk) {
    const std::int64_t n = std::min(chunk, d.rows - p0);
    const std::size_t off = static_cast<std::size_t>(p0) * ko;
    const std::size_t ne = static_cast<std::size_t>(n) * ko;
    std::int32_t *const i = d.i.data() + off;
    std::int32_t *const j = d.j.data() + off;
    double *const B = d.B.data() + off;
    std::uint8_t *const in = d.in_range.data() + p0;
    const double *const xc = x + p0;
    std::int64_t nempty = 0;
    const int st = call(xc, n, j, B, &nempty);
    if (st != BSBASIS_OK) {
      clear(d);
      if (st == BSBASIS_ERROR_RANGE)
        fail_range(xc, static_cast<std::size_t>(n), static_cast<std::size_t>(p0), base.lo,
                   base.hi, "");
      fail(st, "evaluation");
    }
    if (p0 == 0) {
      for (std::int64_t m = 0; m < n; ++m)
        std::fill_n(i + static_cast<std::size_t>(m) * ko, ko, static_cast<std::int32_t>(m));
    } else {
      shifted(i, d.i.data(), ne, static_cast<std::int32_t>(p0));
    }
    bool empty = nempty > 0;
    if (empty)
      for (std::int64_t m = 0; m < n; ++m) in[m] = j[static_cast<std::size_t>(m) * ko] >= 0;
    else
      std::fill_n(in, n, std::uint8_t{1});
    if (rule != EndRule::closed) {
      for (std::int64_t m = 0; m < n; ++m) {
        if (!in[m] || !(xc[m] == base.hi)) continue;
        if (rule == EndRule::error) {
          clear(d);
          throw std::invalid_argument(
              "bsbasis: x[" + std::to_string(p0 + m) + "] = " + num(xc[m]) +
              " is the right end of the half-open base interval [" + num(base.lo) + ", " +
              num(base.hi) + ") (Extrapolate::Error)");
        }
        std::fill_n(B + static_cast<std::size_t>(m) * ko, ko, 0.0);
        in[m] = 0;
        empty = true;
      }
    }
    if (empty)
      for (std::int64_t m = 0; m < n; ++m)
        if (!in[m]) std::fill_n(j + static_cast<std::size_t>(m) * ko, ko, 0);
  }
}

template <class R>
using double_range_t = std::enable_if_t<std::is_same_v<
    std::remove_cv_t<std::remove_pointer_t<decltype(std::data(std::declval<const R &>()))>>,
    double>>;

// A range of doubles that is not a built-in array: with a count after it, a
// built-in array is a pointer and a count.
template <class R>
using double_object_t = std::enable_if_t<!std::is_array_v<R>, double_range_t<R>>;

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

// The ways to ask a basis for values or derivatives, in a new Design or into
// the caller's (which keeps its storage when it is large enough; x must not
// lie in it).  Derived provides evaluate() and default_chunk().
template <class Derived>
class Evaluator {
 public:
  // Values (nu = 0).
  Design values(const double *x, std::size_t nx, RightEnd end = RightEnd::closed) const {
    return run(x, nx, 0, end);
  }
  Design &values(const double *x, std::size_t nx, Design &out,
                 RightEnd end = RightEnd::closed) const {
    return run(x, nx, 0, out, end);
  }
  template <class R, class = double_range_t<R>>
  Design values(const R &x, RightEnd end = RightEnd::closed) const {
    return with_contiguous(x, [&](const double *p, std::size_t n) { return run(p, n, 0, end); });
  }
  template <class R, class = double_range_t<R>>
  Design &values(const R &x, Design &out, RightEnd end = RightEnd::closed) const {
    return with_contiguous(
        x, [&](const double *p, std::size_t n) -> Design & { return run(p, n, 0, out, end); });
  }
  Design values(std::initializer_list<double> x, RightEnd end = RightEnd::closed) const {
    return run(x.begin(), x.size(), 0, end);
  }
  Design &values(std::initializer_list<double> x, Design &out,
                 RightEnd end = RightEnd::closed) const {
    return run(x.begin(), x.size(), 0, out, end);
  }

  // First derivatives.
  Design derivatives(const double *x, std::size_t nx, RightEnd end = RightEnd::closed) const {
    return run(x, nx, 1, end);
  }
  Design &derivatives(const double *x, std::size_t nx, Design &out,
                      RightEnd end = RightEnd::closed) const {
    return run(x, nx, 1, out, end);
  }
  template <class R, class = double_range_t<R>>
  Design derivatives(const R &x, RightEnd end = RightEnd::closed) const {
    return with_contiguous(x, [&](const double *p, std::size_t n) { return run(p, n, 1, end); });
  }
  template <class R, class = double_range_t<R>>
  Design &derivatives(const R &x, Design &out, RightEnd end = RightEnd::closed) const {
    return with_contiguous(
        x, [&](const double *p, std::size_t n) -> Design & { return run(p, n, 1, out, end); });
  }
  Design derivatives(std::initializer_list<double> x, RightEnd end = RightEnd::closed) const {
    return run(x.begin(), x.size(), 1, end);
  }
  Design &derivatives(std::initializer_list<double> x, Design &out,
                      RightEnd end = RightEnd::closed) const {
    return run(x.begin(), x.size(), 1, out, end);
  }

  // Derivatives of order nu >= 0.
  Design derivatives(const double *x, std::size_t nx, int nu,
                     RightEnd end = RightEnd::closed) const {
    return run(x, nx, nu, end);
  }
  Design &derivatives(const double *x, std::size_t nx, int nu, Design &out,
                      RightEnd end = RightEnd::closed) const {
    return run(x, nx, nu, out, end);
  }
  template <class R, class = double_object_t<R>>
  Design derivatives(const R &x, int nu, RightEnd end = RightEnd::closed) const {
    return with_contiguous(x,
                           [&](const double *p, std::size_t n) { return run(p, n, nu, end); });
  }
  template <class R, class = double_object_t<R>>
  Design &derivatives(const R &x, int nu, Design &out, RightEnd end = RightEnd::closed) const {
    return with_contiguous(
        x, [&](const double *p, std::size_t n) -> Design & { return run(p, n, nu, out, end); });
  }
  Design derivatives(std::initializer_list<double> x, int nu,
                     RightEnd end = RightEnd::closed) const {
    return run(x.begin(), x.size(), nu, end);
  }
  Design &derivatives(std::initializer_list<double> x, int nu, Design &out,
                      RightEnd end = RightEnd::closed) const {
    return run(x.begin(), x.size(), nu, out, end);
  }

 private:
  const Derived &self() const { return static_cast<const Derived &>(*this); }
  Design &run(const double *x, std::size_t nx, int nu, Design &out, RightEnd end) const {
    self().evaluate(x, nx, nu, end, self().default_chunk(), out);
    return out;
  }
  Design run(const double *x, std::size_t nx, int nu, RightEnd end) const {
    Design d;
    run(x, nx, nu, d, end);
    return d;
  }
};

}  // namespace detail

// B-spline basis on a non-decreasing knot sequence.
class KnotBasis : public detail::Evaluator<KnotBasis> {
 public:
  // Basis of `order` (degree order - 1) on `knots`, with `nj` columns
  // (default: all nt - order), extrapolated by `extrapolate`.  Throws
  // std::invalid_argument when order < 1, a knot is not finite, the knots
  // decrease, a difference of knots overflows or has a reciprocal that
  // overflows, there are fewer than 2 * order knots, nj lies outside
  // order .. nt - order, the base interval [t[order-1], t[nj]] is empty or
  // the mode is unknown; std::length_error when there are more knots than an
  // int counts.
  KnotBasis(std::vector<double> knots, int order, std::optional<int> nj = std::nullopt,
            Extrapolate extrapolate = Extrapolate::Zero)
      : t_(std::move(knots)), order_(order), mode_(extrapolate) {
    validate(nj);
    // The library's own rules, on no abscissae: the same as the ones above.
    detail::check(bsbasis_design(t_.data(), static_cast<std::int64_t>(t_.size()), order_, nj_,
                                 0, static_cast<std::int32_t>(mode_), nullptr, 0, nullptr,
                                 nullptr, nullptr, nullptr),
                  "KnotBasis");
  }
  KnotBasis(std::vector<double> knots, int order, Extrapolate extrapolate)
      : KnotBasis(std::move(knots), order, std::nullopt, extrapolate) {}

  KnotBasis(const double *knots, std::size_t nt, int order,
            std::optional<int> nj = std::nullopt, Extrapolate extrapolate = Extrapolate::Zero)
      : KnotBasis(std::vector<double>(knots, knots + nt), order, nj, extrapolate) {}

  int order() const { return order_; }
  int nj() const { return nj_; }
  Extrapolate extrapolate() const { return mode_; }
  const std::vector<double> &knots() const { return t_; }
  // The base interval, where the basis is complete.
  double left() const { return t_[static_cast<std::size_t>(order_ - 1)]; }
  double right() const { return t_[static_cast<std::size_t>(nj_)]; }

  // Abscissae per library call: detail::kRowsPerCall, or as many as there are
  // knots, so that the work a call does on the whole knot sequence (its
  // checks, its tables of spans) costs at most a few operations per abscissa.
  std::int64_t default_chunk() const {
    return std::max<std::int64_t>(detail::kRowsPerCall, static_cast<std::int64_t>(t_.size()));
  }

  // Derivatives of order nu (0: values) with at most `chunk` abscissae per
  // library call.
  void evaluate(const double *x, std::size_t nx, int nu, RightEnd end, std::int64_t chunk,
                Design &out) const {
    detail::check_nu(nu);
    const detail::EndRule rule = detail::end_rule(end, mode_);
    const double *t = t_.data();
    const std::int64_t nt = static_cast<std::int64_t>(t_.size());
    const int order = order_, nj = nj_, mode = static_cast<int>(mode_);
    detail::fill(
        [&](const double *xc, std::int64_t n, std::int32_t *j, double *B, std::int64_t *e) {
          return bsbasis_design(t, nt, order, nj, nu, mode, xc, n, nullptr, j, B, e);
        },
        out, x, nx, order_, nj_, rule, {left(), right()}, chunk);
  }
  Design evaluate(const double *x, std::size_t nx, int nu, RightEnd end,
                  std::int64_t chunk) const {
    Design d;
    evaluate(x, nx, nu, end, chunk, d);
    return d;
  }

 private:
  // The library says which rule the knots break; this says it in words.
  void validate(std::optional<int> nj) {
    using detail::num;
    using std::to_string;
    detail::check_order(order_);
    const std::int64_t nt = static_cast<std::int64_t>(t_.size());
    const std::int64_t full = nt - order_;
    const std::int64_t want = nj ? *nj : full;
    std::int32_t rule = BSBASIS_RULE_NONE;
    std::int64_t m = -1;
    bsbasis_check_knots(t_.data(), nt, order_, want, &rule, &m);
    switch (rule) {
      case BSBASIS_RULE_NONE:
        nj_ = static_cast<int>(want);
        return;
      case BSBASIS_RULE_KNOT_COUNT:
        throw std::length_error("bsbasis: knots has " + to_string(t_.size()) +
                                " entries, more than an int counts");
      case BSBASIS_RULE_NOT_FINITE:
        throw std::invalid_argument("bsbasis: knots[" + to_string(m) + "] is " +
                                    num(t_[m]) + "; knots must be finite");
      case BSBASIS_RULE_DECREASING:
        throw std::invalid_argument(
            "bsbasis: knots must be non-decreasing, but knots[" + to_string(m) +
            "] = " + num(t_[m]) + " < knots[" + to_string(m - 1) + "] = " + num(t_[m - 1]));
      case BSBASIS_RULE_TOO_CLOSE:
        // A positive span below 1/DBL_MAX has an infinite reciprocal, which
        // the recurrence would turn into NaN.
        throw std::invalid_argument(
            "bsbasis: knots[" + to_string(m) + "] - knots[" + to_string(m - 1) +
            "] = " + num(t_[m] - t_[m - 1]) + " is too small: its reciprocal overflows");
      case BSBASIS_RULE_NULL_KNOTS:  // no knots at all
      case BSBASIS_RULE_TOO_FEW:
        throw std::invalid_argument("bsbasis: knots has " + to_string(nt) +
                                    " entries; order " + to_string(order_) +
                                    " needs at least 2 * order = " +
                                    to_string(2 * std::int64_t(order_)));
      case BSBASIS_RULE_SPAN:
        // Every span of the recurrence lies inside t[nt-1] - t[0].
        throw std::invalid_argument("bsbasis: the span knots[" + to_string(nt - 1) +
                                    "] - knots[0] = " + num(t_.back()) + " - " +
                                    num(t_.front()) + " overflows a double");
      case BSBASIS_RULE_COLUMNS:
        throw std::invalid_argument("bsbasis: nj must lie in order .. nt - order = " +
                                    to_string(order_) + " .. " + to_string(full) +
                                    " for " + to_string(nt) + " knots of order " +
                                    to_string(order_) + ", got " + to_string(want));
      default:  // BSBASIS_RULE_EMPTY_BASE
        throw std::invalid_argument(
            "bsbasis: the base interval [knots[" + to_string(order_ - 1) + "], knots[" +
            to_string(want) + "]] = [" + num(t_[order_ - 1]) + ", " + num(t_[want]) +
            "] is empty; it needs knots[order - 1] < knots[nj]");
    }
  }

  std::vector<double> t_;
  int order_;
  int nj_ = 0;
  Extrapolate mode_;
};

// B-spline basis on uniform knots: knot m at origin + m * spacing (by
// default at the value m).
class UniformBasis : public detail::Evaluator<UniformBasis> {
 public:
  // Basis of `order` with nj columns; the base interval is [order - 1, nj].
  // Throws std::invalid_argument when order < 1, nj lies outside
  // order .. INT_MAX - order or the mode is unknown.
  UniformBasis(int order, int nj, Extrapolate extrapolate = Extrapolate::Zero)
      : UniformBasis(order, nj, 0.0, 1.0, extrapolate) {}

  // Knot m at origin + m * spacing; the base interval is [origin + (order-1)
  // * spacing, origin + nj * spacing].  Also throws std::invalid_argument
  // when origin is not finite, spacing is not finite and positive, or the
  // knots are too close for their magnitude (the library's rule: spacing
  // above twice the resolution of the knots, a finite last knot).
  UniformBasis(int order, int nj, double origin, double spacing,
               Extrapolate extrapolate = Extrapolate::Zero)
      : order_(order), nj_(nj), origin_(origin), spacing_(spacing), mode_(extrapolate) {
    detail::check_order(order);
    const std::int64_t hi = detail::kIntMax - order;
    if (nj < order || nj > hi)
      throw std::invalid_argument("bsbasis: nj must lie in order .. INT_MAX - order = " +
                                  std::to_string(order) + " .. " +
                                  std::to_string(hi) + ", got " +
                                  std::to_string(nj));
    if (!std::isfinite(origin))
      throw std::invalid_argument("bsbasis: origin is " + detail::num(origin) +
                                  "; it must be finite");
    if (!(std::isfinite(spacing) && spacing > 0.0))
      throw std::invalid_argument("bsbasis: spacing is " + detail::num(spacing) +
                                  "; it must be finite and positive");
    detail::check(bsbasis_uniform_design(origin_, spacing_, nj_, order_, 0,
                                         static_cast<std::int32_t>(mode_), nullptr, 0,
                                         nullptr, nullptr, nullptr, nullptr),
                  "UniformBasis");
  }

  int order() const { return order_; }
  int nj() const { return nj_; }
  Extrapolate extrapolate() const { return mode_; }
  double origin() const { return origin_; }
  double spacing() const { return spacing_; }
  // The base interval: knots order - 1 and nj, as the library places them.
  double left() const { return plain() ? order_ - 1.0 : knot(order_ - 1.0); }
  double right() const { return plain() ? static_cast<double>(nj_) : knot(nj_); }

  std::int64_t default_chunk() const { return detail::kRowsPerCall; }

  // Derivatives of order nu (0: values) with at most `chunk` abscissae per
  // library call.
  void evaluate(const double *x, std::size_t nx, int nu, RightEnd end, std::int64_t chunk,
                Design &out) const {
    detail::check_nu(nu);
    const detail::EndRule rule = detail::end_rule(end, mode_);
    const double origin = origin_, spacing = spacing_;
    const int order = order_, nj = nj_, mode = static_cast<int>(mode_);
    detail::fill(
        [&](const double *xc, std::int64_t n, std::int32_t *j, double *B, std::int64_t *e) {
          return bsbasis_uniform_design(origin, spacing, nj, order, nu, mode, xc, n, nullptr,
                                        j, B, e);
        },
        out, x, nx, order_, nj_, rule, {left(), right()}, chunk);
  }
  Design evaluate(const double *x, std::size_t nx, int nu, RightEnd end,
                  std::int64_t chunk) const {
    Design d;
    evaluate(x, nx, nu, end, chunk, d);
    return d;
  }

 private:
  bool plain() const { return origin_ == 0.0 && spacing_ == 1.0; }
  double knot(double m) const { return origin_ + spacing_ * m; }

  int order_;
  int nj_;
  double origin_, spacing_;
  Extrapolate mode_;
};

// Rows of a natural spline basis: kWidth (BSBASIS_NATURAL_WIDTH) entries per row, its
// non-zero columns first (ascending), then entries of column -1 and value 0;
// an empty row (NaN, +-inf) has column -1 throughout.
struct NaturalRows {
  static constexpr int kWidth = BSBASIS_NATURAL_WIDTH;
  std::int64_t rows = 0;
  std::int64_t cols = 0;
  std::vector<std::int32_t> j;
  std::vector<double> B;

  // The rows as a dense row-major rows x cols matrix.
  std::vector<double> dense() const {
    std::vector<double> out(static_cast<std::size_t>(rows * cols));
    detail::check(bsbasis_blocks_to_dense(kWidth, j.data(), B.data(), rows, cols, out.data(),
                                          cols, 1),
                  "NaturalRows::dense");
    return out;
  }
};

// Natural cubic spline basis (R's splines::ns): cubic B-splines on the
// boundary knots lo < hi (each four times) and the interior knots, without
// the first unless `intercept`, projected onto the functions whose second
// derivative is 0 at lo and hi; linear beyond them.  knots.size() + 1 +
// intercept columns, the same as ns gives.
class NaturalBasis {
 public:
  // Throws std::invalid_argument unless lo < hi are finite and the interior
  // knots are finite, non-decreasing and strictly between them.
  NaturalBasis(double lo, double hi, std::vector<double> knots = {}, bool intercept = false)
      : lo_(lo), hi_(hi), knots_(std::move(knots)), intercept_(intercept) {
    using detail::num;
    using std::to_string;
    if (!std::isfinite(lo_) || !std::isfinite(hi_) || !(lo_ < hi_))
      throw std::invalid_argument("bsbasis: the boundary knots must be finite with lo < hi, got [" +
                                  num(lo_) + ", " + num(hi_) + "]");
    for (std::size_t k = 0; k < knots_.size(); ++k) {
      if (!(knots_[k] > lo_ && knots_[k] < hi_))
        throw std::invalid_argument("bsbasis: knots[" + to_string(k) + "] = " + num(knots_[k]) +
                                    " must lie strictly between the boundary knots " +
                                    num(lo_) + " and " + num(hi_));
      if (k > 0 && knots_[k] < knots_[k - 1])
        throw std::invalid_argument("bsbasis: knots must be non-decreasing, but knots[" +
                                    to_string(k) + "] = " + num(knots_[k]) + " < knots[" +
                                    to_string(k - 1) + "] = " + num(knots_[k - 1]));
    }
    detail::check(call(0, nullptr, 0, nullptr, nullptr), "NaturalBasis");
  }

  std::int64_t cols() const {
    return static_cast<std::int64_t>(knots_.size()) + 1 + (intercept_ ? 1 : 0);
  }

  // Values (nu = 0) or nu-th derivatives at x.
  NaturalRows rows(const std::vector<double> &x, int nu = 0) const {
    detail::check_nu(nu);
    NaturalRows r;
    r.rows = static_cast<std::int64_t>(x.size());
    r.cols = cols();
    r.j.resize(x.size() * NaturalRows::kWidth);
    r.B.resize(x.size() * NaturalRows::kWidth);
    detail::check(call(nu, x.data(), r.rows, r.j.data(), r.B.data()), "NaturalBasis::rows");
    return r;
  }

 private:
  int call(int nu, const double *x, std::int64_t nx, std::int32_t *j, double *B) const {
    return bsbasis_natural_design(lo_, hi_, knots_.data(), static_cast<std::int64_t>(knots_.size()),
                                  intercept_ ? 1 : 0, nu, x, nx, nullptr, j, B, nullptr);
  }

  double lo_, hi_;
  std::vector<double> knots_;
  bool intercept_;
};

// Periodic B-spline basis on the strictly increasing breaks u[0 .. m]: m
// columns, period u[m] - u[0].  The knots continue the breaks periodically,
// and a basis function that leaves the period on the right wraps to the
// first columns; a row's columns still ascend.  Every finite abscissa is in
// range (wrapped into the period); NaN and +-inf give empty rows.  RightEnd
// has no effect.
class PeriodicBasis : public detail::Evaluator<PeriodicBasis> {
 public:
  // Throws std::invalid_argument when order < 1, a break is not finite, the
  // breaks do not increase strictly, there are fewer than order intervals,
  // or the library refuses the continued knots (a period or a gap that a
  // double cannot hold or invert); std::length_error for more breaks than an
  // int counts.
  PeriodicBasis(std::vector<double> breaks, int order)
      : u_(std::move(breaks)), order_(order) {
    using detail::num;
    using std::to_string;
    detail::check_order(order_);
    if (u_.size() > static_cast<std::size_t>(detail::kIntMax - 2 * std::int64_t(order_)))
      throw std::length_error("bsbasis: breaks has " + to_string(u_.size()) +
                              " entries, more than an int counts with the continued knots");
    for (std::size_t m = 0; m < u_.size(); ++m) {
      if (!std::isfinite(u_[m]))
        throw std::invalid_argument("bsbasis: breaks[" + to_string(m) + "] is " +
                                    num(u_[m]) + "; breaks must be finite");
      if (m > 0 && !(u_[m] > u_[m - 1]))
        throw std::invalid_argument(
            "bsbasis: breaks must increase strictly, but breaks[" + to_string(m) + "] = " +
            num(u_[m]) + " <= breaks[" + to_string(m - 1) + "] = " + num(u_[m - 1]));
    }
    if (u_.size() < static_cast<std::size_t>(order_) + 1)
      throw std::invalid_argument("bsbasis: breaks has " + to_string(u_.size()) +
                                  " entries; a periodic basis of order " +
                                  to_string(order_) + " needs at least order + 1 = " +
                                  to_string(order_ + 1));
    detail::check(bsbasis_periodic_design(u_.data(), static_cast<std::int64_t>(u_.size()),
                                          order_, 0, nullptr, 0, nullptr, nullptr, nullptr,
                                          nullptr),
                  "PeriodicBasis");
  }

  int order() const { return order_; }
  int nj() const { return static_cast<int>(u_.size()) - 1; }
  const std::vector<double> &breaks() const { return u_; }
  double left() const { return u_.front(); }
  double right() const { return u_.back(); }
  double period() const { return u_.back() - u_.front(); }

  // Each call continues the breaks into knots: at least as many abscissae.
  std::int64_t default_chunk() const {
    return std::max<std::int64_t>(detail::kRowsPerCall, static_cast<std::int64_t>(u_.size()));
  }

  void evaluate(const double *x, std::size_t nx, int nu, RightEnd, std::int64_t chunk,
                Design &out) const {
    detail::check_nu(nu);
    const double *u = u_.data();
    const std::int64_t nb = static_cast<std::int64_t>(u_.size());
    const int order = order_;
    detail::fill(
        [&](const double *xc, std::int64_t n, std::int32_t *j, double *B, std::int64_t *e) {
          return bsbasis_periodic_design(u, nb, order, nu, xc, n, nullptr, j, B, e);
        },
        out, x, nx, order_, nj(), detail::EndRule::closed, {left(), right()}, chunk);
  }
  Design evaluate(const double *x, std::size_t nx, int nu, RightEnd end,
                  std::int64_t chunk) const {
    Design d;
    evaluate(x, nx, nu, end, chunk, d);
    return d;
  }

 private:
  std::vector<double> u_;
  int order_;
};

// Tensor product of d = 1 .. 64 knot bases.  A point has d coordinates, one
// per factor, and points lie row-major: point p at x[p*d .. p*d + d-1].  Its
// row is the Kronecker product of the factors' rows: E = the product of the
// orders entries, the last factor varying fastest; column ((c0 * nj1 + c1) *
// nj2 + c2) ...; value ((b0 * b1) * b2) ....  The row is empty (no entries)
// when any factor's row is.  The result is CSR, the rows of the points;
// Extrapolate as for the factors, one mode for all of them, and right ends
// closed (left limits there).
class TensorBasis {
 public:
  // The factors' common extrapolation mode; throws std::invalid_argument when
  // they differ, or there are no factors or more than 64.
  explicit TensorBasis(std::vector<KnotBasis> factors) : f_(std::move(factors)) {
    if (!f_.empty())
      for (const KnotBasis &b : f_)
        if (b.extrapolate() != f_[0].extrapolate())
          throw std::invalid_argument(
              std::string("bsbasis: the factors of a TensorBasis extrapolate differently (") +
              detail::name(f_[0].extrapolate()) + " and " + detail::name(b.extrapolate()) +
              "); give the mode to the TensorBasis");
    init(f_.empty() ? Extrapolate::Zero : f_[0].extrapolate());
  }
  // Extrapolated by `extrapolate`, whatever the factors' own modes.
  TensorBasis(std::vector<KnotBasis> factors, Extrapolate extrapolate)
      : f_(std::move(factors)) {
    init(extrapolate);
  }

  int dims() const { return static_cast<int>(f_.size()); }
  const std::vector<KnotBasis> &factors() const { return f_; }
  Extrapolate extrapolate() const { return mode_; }
  std::int64_t cols() const { return cols_; }                   // the product of the nj
  std::int64_t entries_per_row() const { return entries_; }     // the product of the orders

  // Points per library call: about detail::kTensorEntries entries, and at
  // least as many as the factors have knots, which each call checks.
  std::int64_t default_chunk() const {
    std::int64_t knots = 0;
    for (const KnotBasis &b : f_) knots += static_cast<std::int64_t>(b.knots().size());
    return std::max<std::int64_t>({1, detail::kTensorEntries / entries_, knots / entries_ + 1});
  }

  // The rows of npts points: values, or derivatives of order nu[a] in factor
  // a (nu: one order per factor).  Throws std::length_error when the offsets
  // overflow Index or the columns overflow Col.
  template <class Index = std::int32_t, class Col = std::int32_t>
  Csr<Index, Col> values(const double *x, std::size_t npts) const {
    return evaluate<Index, Col>(x, npts, {}, default_chunk());
  }
  template <class Index = std::int32_t, class Col = std::int32_t>
  Csr<Index, Col> derivatives(const double *x, std::size_t npts,
                              const std::vector<int> &nu) const {
    check_nus(nu);
    return evaluate<Index, Col>(x, npts, nu, default_chunk());
  }

  // x: a contiguous range of npts * d doubles (an Eigen object: pass its
  // data() and its number of points, row-major).
  template <class Index = std::int32_t, class Col = std::int32_t, class R,
            class = detail::double_range_t<R>>
  Csr<Index, Col> values(const R &x) const {
    return evaluate<Index, Col>(std::data(x), points(x), {}, default_chunk());
  }
  template <class Index = std::int32_t, class Col = std::int32_t, class R,
            class = detail::double_range_t<R>>
  Csr<Index, Col> derivatives(const R &x, const std::vector<int> &nu) const {
    check_nus(nu);
    return evaluate<Index, Col>(std::data(x), points(x), nu, default_chunk());
  }
  template <class Index = std::int32_t, class Col = std::int32_t>
  Csr<Index, Col> values(std::initializer_list<double> x) const {
    return evaluate<Index, Col>(x.begin(), points(x), {}, default_chunk());
  }

  // With at most `chunk` points per library call; nu empty: values.
  template <class Index = std::int32_t, class Col = std::int32_t>
  Csr<Index, Col> evaluate(const double *x, std::size_t npts, const std::vector<int> &nu,
                           std::int64_t chunk) const;

 private:
  void init(Extrapolate mode) {
    mode_ = mode;
    if (f_.empty() || f_.size() > 64)
      throw std::invalid_argument("bsbasis: a TensorBasis has 1 .. 64 factors, got " +
                                  std::to_string(f_.size()));
    cols_ = 1;
    entries_ = 1;
    for (const KnotBasis &b : f_) {
      if (cols_ > std::numeric_limits<std::int64_t>::max() / b.nj())
        throw std::length_error("bsbasis: the columns of the TensorBasis overflow 64 bits");
      cols_ *= b.nj();
      if (entries_ > detail::kIntMax / b.order())
        throw std::length_error(
            "bsbasis: the product of the factors' orders (the entries of a row) "
            "overflows an int");
      entries_ *= b.order();
    }
    // The library's own rules, the mode among them, on no points.
    Args a = args(nullptr);
    std::int64_t j = 0;
    detail::check(bsbasis_tensor_design(dims(), a.t.data(), a.nt.data(), a.order.data(),
                                        a.nj.data(), nullptr, static_cast<std::int32_t>(mode_),
                                        nullptr, 0, nullptr, nullptr, &j, nullptr, nullptr),
                  "TensorBasis");
  }

  void check_nus(const std::vector<int> &nu) const {
    if (nu.size() != f_.size())
      throw std::invalid_argument("bsbasis: nu has " + std::to_string(nu.size()) +
                                  " derivative orders for " + std::to_string(f_.size()) +
                                  " factors");
    for (int v : nu) detail::check_nu(v);
  }

  template <class R>
  std::size_t points(const R &x) const {
    static_assert(!detail::has_strides<R>::value,
                  "TensorBasis: pass an Eigen object as data() and its number of points");
    const std::size_t n = static_cast<std::size_t>(std::size(x)), d = f_.size();
    if (n % d != 0)
      throw std::invalid_argument("bsbasis: x has " + std::to_string(n) +
                                  " coordinates, not a multiple of the " +
                                  std::to_string(d) + " of a point");
    return n / d;
  }

  // The library's arguments, on the stack: the factors' knots stay where
  // they are as long as the factors do.
  struct Args {
    std::array<const double *, 64> t;
    std::array<std::int64_t, 64> nt, nj;
    std::array<std::int32_t, 64> order, nu;
  };
  Args args(const std::vector<int> *nu) const {
    Args a;
    for (std::size_t q = 0; q < f_.size(); ++q) {
      a.t[q] = f_[q].knots().data();
      a.nt[q] = static_cast<std::int64_t>(f_[q].knots().size());
      a.nj[q] = f_[q].nj();
      a.order[q] = f_[q].order();
      a.nu[q] = nu && !nu->empty() ? (*nu)[q] : 0;
    }
    return a;
  }

  std::vector<KnotBasis> f_;
  Extrapolate mode_ = Extrapolate::Zero;
  std::int64_t cols_ = 0, entries_ = 0;
};

template <class Index, class Col>
Csr<Index, Col> TensorBasis::evaluate(const double *x, std::size_t npts,
                                      const std::vector<int> &nu, std::int64_t chunk) const {
  if (!nu.empty()) check_nus(nu);
  if (cols_ > static_cast<std::int64_t>(std::numeric_limits<Col>::max()))
    throw std::length_error("bsbasis: the " + std::to_string(cols_) +
                            " columns of the TensorBasis overflow the CSR column type; "
                            "use std::int64_t");
  const std::size_t E = static_cast<std::size_t>(entries_);
  const std::size_t d = f_.size();
  if (npts > std::numeric_limits<std::size_t>::max() / (E > d ? E : d) ||
      npts > static_cast<std::size_t>(std::numeric_limits<std::int64_t>::max()) / E)
    throw std::length_error("bsbasis: " + std::to_string(npts) +
                            " points overflow the entries of a TensorBasis");
  const Args a = args(&nu);
  chunk = std::max<std::int64_t>(chunk, 1);
  const std::size_t S = std::min(static_cast<std::size_t>(chunk), npts);
  Buffer<Col> j;
  Buffer<double> B;
  j.resize(S * E);
  B.resize(S * E);
  Csr<Index, Col> c;
  c.rows = static_cast<std::int64_t>(npts);
  c.cols = cols_;
  c.indptr.resize(npts + 1);
  c.indices.reserve(npts * E);
  c.data.reserve(npts * E);
  c.indptr[0] = 0;
  const auto limit = static_cast<std::size_t>(std::numeric_limits<Index>::max());
  for (std::size_t p0 = 0; p0 < npts; p0 += S) {
    const std::size_t n = std::min(S, npts - p0);
    std::int32_t *j32 = nullptr;
    std::int64_t *j64 = nullptr;
    if constexpr (std::is_same_v<Col, std::int32_t>) j32 = j.data();
    else j64 = j.data();
    const int st = bsbasis_tensor_design(
        dims(), a.t.data(), a.nt.data(), a.order.data(), a.nj.data(),
        nu.empty() ? nullptr : a.nu.data(), static_cast<std::int32_t>(mode_), x + p0 * d,
        static_cast<std::int64_t>(n), nullptr, j32, j64, B.data(), nullptr);
    if (st == BSBASIS_ERROR_RANGE) {
      for (std::size_t p = p0; p < p0 + n; ++p)
        for (std::size_t q = 0; q < d; ++q) {
          const double v = x[p * d + q], lo = f_[q].left(), hi = f_[q].right();
          if (!(v >= lo && v <= hi))
            detail::fail_range(&x[p * d + q], 1, p * d + q, lo, hi,
                               " of factor " + std::to_string(q));
        }
    }
    if (st != BSBASIS_OK) detail::fail(st, "TensorBasis");
    for (std::size_t m = 0; m < n; ++m) {
      const std::size_t b = m * E;
      if (j[b] >= 0) {
        if (c.indices.size() + E > limit)
          throw std::length_error("bsbasis: the entries of the TensorBasis overflow the CSR "
                                  "index type; use a wider one");
        c.indices.insert(c.indices.end(), j.begin() + b, j.begin() + b + E);
        c.data.insert(c.data.end(), B.begin() + b, B.begin() + b + E);
      }
      c.indptr[p0 + m + 1] = static_cast<Index>(c.indices.size());
    }
  }
  return c;
}

// A symmetric banded matrix in the upper form of LAPACK's band storage:
// ab[(u + r - c) * n + c] = A[r][c] for r <= c, (u + 1) x n doubles row-major,
// u the bandwidth; the positions that hold no element (r < 0) are 0.
struct Banded {
  std::int64_t n = 0;
  int u = 0;
  Buffer<double> ab;

  // A[r][c] for any r, c in 0 .. n-1: 0 outside the band.
  double at(std::int64_t r, std::int64_t c) const {
    if (r < 0 || c < 0 || r >= n || c >= n)
      throw std::out_of_range("bsbasis: Banded::at(" + std::to_string(r) + ", " +
                              std::to_string(c) + ") outside a matrix of order " +
                              std::to_string(n));
    if (r > c) std::swap(r, c);
    if (c - r > u) return 0.0;
    return ab[static_cast<std::size_t>((u + r - c) * n + c)];
  }
};

namespace detail {

inline Banded banded(std::int64_t n, int u) {
  if (static_cast<std::uint64_t>(n) >
      std::numeric_limits<std::size_t>::max() / sizeof(double) / (static_cast<unsigned>(u) + 1))
    throw std::length_error("bsbasis: a banded matrix of order " + std::to_string(n) +
                            " is too large");
  Banded b;
  b.n = n;
  b.u = u;
  b.ab.resize(static_cast<std::size_t>(n) * (static_cast<std::size_t>(u) + 1));
  return b;
}

}  // namespace detail

// D^T D for the difference matrix D of order `order` (1 .. 4) on n >= 1
// coefficients: bandwidth order, zero when n <= order.
inline Banded difference_penalty(std::int64_t n, int order = 2) {
  if (n < 1)
    throw std::invalid_argument("bsbasis: difference_penalty needs n >= 1 coefficients, got " +
                                std::to_string(n));
  if (order < 1 || order > 4)
    throw std::invalid_argument("bsbasis: the difference order must lie in 1 .. 4, got " +
                                std::to_string(order));
  Banded b = detail::banded(n, order);
  detail::check(bsbasis_difference_penalty(n, order, b.ab.data()), "difference_penalty");
  return b;
}

// The Gram matrix of the m-th derivatives of the basis functions over the
// base interval: G[r][c] = integral of B_r^(m) B_c^(m), exact up to
// rounding; bandwidth order - 1, zero when m >= order.
inline Banded derivative_penalty(const KnotBasis &basis, int m = 2) {
  if (m < 0)
    throw std::invalid_argument("bsbasis: the derivative order m must be >= 0, got " +
                                std::to_string(m));
  Banded b = detail::banded(basis.nj(), basis.order() - 1);
  detail::check(bsbasis_derivative_penalty(basis.knots().data(),
                                           static_cast<std::int64_t>(basis.knots().size()),
                                           basis.order(), basis.nj(), m, b.ab.data()),
                "derivative_penalty");
  return b;
}

namespace detail {

// Why the library refused the data of make_knots (BSBASIS_ERROR_DATA), in
// the order it checks: a value or weight that is not usable, too few
// distinct abscissae with weight, or a span or knots beyond a double.
[[noreturn]] inline void fail_knot_data(const double *x, std::size_t nx, const double *w) {
  const std::string head = "bsbasis: make_knots: ";
  double lo = std::numeric_limits<double>::infinity(), hi = -lo, sum = 0.0;
  for (std::size_t p = 0; p < nx; ++p) {
    if (!std::isfinite(x[p]))
      throw std::invalid_argument(head + "x[" + std::to_string(p) + "] = " + num(x[p]) +
                                  " is not finite");
    if (w && !(std::isfinite(w[p]) && w[p] >= 0.0))
      throw std::invalid_argument(head + "weights[" + std::to_string(p) + "] = " +
                                  num(w[p]) + "; weights must be finite and >= 0");
    if (w && !(w[p] > 0.0)) continue;
    lo = std::min(lo, x[p]);
    hi = std::max(hi, x[p]);
    sum += w ? w[p] : 0.0;
  }
  if (!(lo < hi))
    throw std::invalid_argument(head + "needs at least 2 distinct abscissae" +
                                (w ? " with positive weight" : "") + ", got " +
                                (lo <= hi ? "only " + num(lo) : std::string("none")));
  if (!std::isfinite(hi - lo))
    throw std::invalid_argument(head + "the data span [" + num(lo) + ", " + num(hi) +
                                "], whose length overflows a double");
  if (!std::isfinite(sum))
    throw std::invalid_argument(head + "the sum of the weights overflows a double");
  throw std::invalid_argument(head + "the data span [" + num(lo) + ", " + num(hi) +
                              "] gives knots that are not finite or not distinct (ends " +
                              "continued beyond a double, or spacing below its resolution)");
}

}  // namespace detail

// Knots for a basis of `order` from the data x: n_knots >= 2 base knots from
// the least to the greatest abscissa with positive weight (weights: null
// for all 1, else one per abscissa, finite and >= 0), and order - 1 knots
// beyond each end; n_knots + 2 * (order - 1) in all, a KnotBasis of
// n_knots + order - 2 columns.  Throws std::invalid_argument when an
// abscissa or a weight is not finite, a weight is negative, or fewer than 2
// distinct abscissae have positive weight.
inline std::vector<double> make_knots(const double *x, std::size_t nx, std::int64_t n_knots,
                                      int order = 4, KnotKind kind = KnotKind::Uniform,
                                      Boundary boundary = Boundary::Clamped,
                                      const double *weights = nullptr) {
  detail::check_order(order);
  if (n_knots < 2)
    throw std::invalid_argument("bsbasis: make_knots needs n_knots >= 2, got " +
                                std::to_string(n_knots));
  const std::int64_t extra = 2 * (static_cast<std::int64_t>(order) - 1);
  if (n_knots > static_cast<std::int64_t>(detail::kIntMax) - extra)
    throw std::length_error("bsbasis: make_knots: " + std::to_string(n_knots) +
                            " knots and " + std::to_string(extra) +
                            " beyond the ends are more than an int counts");
  // The knot vector is O(n_knots), not worth a Buffer: a KnotBasis takes it.
  std::vector<double> t(static_cast<std::size_t>(n_knots + extra));
  const int st = bsbasis_make_knots(x, static_cast<std::int64_t>(nx), weights, n_knots, order,
                                    static_cast<std::int32_t>(kind),
                                    static_cast<std::int32_t>(boundary), t.data());
  if (st == BSBASIS_ERROR_DATA && (x || nx == 0)) detail::fail_knot_data(x, nx, weights);
  detail::check(st, "make_knots");
  return t;
}

template <class R, class = detail::double_object_t<R>>
std::vector<double> make_knots(const R &x, std::int64_t n_knots, int order = 4,
                               KnotKind kind = KnotKind::Uniform,
                               Boundary boundary = Boundary::Clamped) {
  return detail::with_contiguous(x, [&](const double *p, std::size_t n) {
    return make_knots(p, n, n_knots, order, kind, boundary, nullptr);
  });
}

inline std::vector<double> make_knots(std::initializer_list<double> x, std::int64_t n_knots,
                                      int order = 4, KnotKind kind = KnotKind::Uniform,
                                      Boundary boundary = Boundary::Clamped) {
  return make_knots(x.begin(), x.size(), n_knots, order, kind, boundary, nullptr);
}

template <class R, class W, class = detail::double_object_t<R>,
          class = detail::double_range_t<W>>
std::vector<double> make_knots(const R &x, std::int64_t n_knots, int order, KnotKind kind,
                               Boundary boundary, const W &weights) {
  return detail::with_contiguous(x, [&](const double *p, std::size_t n) {
    return detail::with_contiguous(weights, [&](const double *w, std::size_t nw) {
      if (nw != n)
        throw std::invalid_argument("bsbasis: make_knots: " + std::to_string(nw) +
                                    " weights for " + std::to_string(n) + " abscissae");
      return make_knots(p, n, n_knots, order, kind, boundary, w);
    });
  });
}

// The normal equations of a weighted least-squares fit on a basis, summed
// by the library without a design matrix: over the data (x, y, w), with X[p]
// the row of x[p] (values or nu-th derivatives), only the rows that are not
// empty counting.
struct NormalEquations {
  int order = 0;
  std::int64_t n = 0;        // columns: the basis's nj
  Banded gram;               // X^T W X, bandwidth order - 1
  std::vector<double> rhs;   // X^T W y, n values; none without responses
  double yty = 0.0;          // y^T W y; 0 without responses
  double sum_weights = 0.0;  // the sum of the weights
  std::int64_t count = 0;    // the rows that are not empty

  bool has_responses() const { return !rhs.empty(); }

  // Elementwise a = a + b, as the library adds one tile to the next: the
  // sums of x[0, m) plus those of x[m, m + k), m a multiple of
  // BSBASIS_NORMAL_TILE and k at most one tile, are the bits of the sums of
  // x[0, m + k).  Other splits agree up to rounding.  Throws
  // std::invalid_argument unless both have the same order, columns and
  // either both or neither responses.
  NormalEquations &operator+=(const NormalEquations &b);
};

inline NormalEquations operator+(NormalEquations a, const NormalEquations &b) {
  a += b;
  return a;
}

namespace detail {

inline std::string shape(const NormalEquations &a) {
  return "order " + std::to_string(a.order) + ", " + std::to_string(a.n) + " columns, " +
         (a.has_responses() ? "with" : "without") + " responses";
}

inline void check_shape(const Banded &a, const char *what) {
  if (a.n < 0 || a.u < 0 ||
      a.ab.size() != static_cast<std::size_t>(a.n) * (static_cast<std::size_t>(a.u) + 1))
    throw std::invalid_argument(std::string("bsbasis: ") + what + " holds " +
                                std::to_string(a.ab.size()) + " doubles, not (u + 1) * n = (" +
                                std::to_string(a.u) + " + 1) * " + std::to_string(a.n));
}

inline void check_length(std::size_t got, std::size_t want, const char *what,
                         const char *of) {
  if (got != want)
    throw std::invalid_argument(std::string("bsbasis: ") + what + " has " +
                                std::to_string(got) + " values for " + std::to_string(want) +
                                " " + of);
}

}  // namespace detail

inline NormalEquations &NormalEquations::operator+=(const NormalEquations &b) {
  if (order != b.order || n != b.n || has_responses() != b.has_responses() ||
      gram.n != b.gram.n || gram.u != b.gram.u || gram.ab.size() != b.gram.ab.size() ||
      rhs.size() != b.rhs.size())
    throw std::invalid_argument("bsbasis: cannot add NormalEquations of " + detail::shape(b) +
                                " to those of " + detail::shape(*this));
  double *g = gram.ab.data();
  const double *h = b.gram.ab.data();
  for (std::size_t e = 0; e < gram.ab.size(); ++e) g[e] = g[e] + h[e];
  for (std::size_t e = 0; e < rhs.size(); ++e) rhs[e] = rhs[e] + b.rhs[e];
  yty = yty + b.yty;
  sum_weights = sum_weights + b.sum_weights;
  count += b.count;
  return *this;
}

namespace detail {

// Zero sums of order and n columns.
inline NormalEquations zero_sums(int order, std::int64_t n, bool responses) {
  NormalEquations s;
  s.order = order;
  s.n = n;
  s.gram = banded(n, order - 1);
  std::fill(s.gram.ab.begin(), s.gram.ab.end(), 0.0);
  if (responses) s.rhs.assign(static_cast<std::size_t>(n), 0.0);
  return s;
}

// Sums the rows [p0, p0 + len) into s, which holds zeros; by call, the
// library on them.  Returns the status; *bad the library's bad row.
template <class Call>
int tile_sums(const Call &call, const double *x, const double *y, const double *w,
              std::size_t p0, std::size_t len, NormalEquations &s, std::int64_t *bad) {
  double sums[2] = {0.0, 0.0};
  const int st = call(x + p0, y ? y + p0 : nullptr, w ? w + p0 : nullptr,
                      static_cast<std::int64_t>(len), s.gram.ab.data(),
                      y ? s.rhs.data() : nullptr, sums, &s.count, bad);
  s.yty = sums[0];
  s.sum_weights = sums[1];
  return st;
}

// A failed tile [p0, p0 + len) as an exception that names the row at fault.
[[noreturn]] inline void fail_sums(int st, std::int64_t bad, std::size_t p0, std::size_t len,
                                   const double *x, const double *y, const double *w,
                                   Interval base) {
  if (st == BSBASIS_ERROR_RANGE) fail_range(x + p0, len, p0, base.lo, base.hi, "");
  if (st == BSBASIS_ERROR_DATA && bad >= 0 && static_cast<std::size_t>(bad) < len) {
    const std::size_t p = p0 + static_cast<std::size_t>(bad);
    const bool weight = w && !(std::isfinite(w[p]) && w[p] >= 0.0);
    throw std::invalid_argument(
        "bsbasis: normal_equations: row " + std::to_string(p) + ": " +
        (weight ? "the weight is " + num(w[p]) + "; weights must be finite and >= 0"
                : "y is " + num(y ? y[p] : 0.0) +
                      "; responses must be finite on the rows that are not empty"));
  }
  fail(st, "normal_equations");
}

// Forms `tiles` tiles of sums on `threads` workers and adds them to total
// in tile order, as they come: run(k, sums, bad) forms tile k into sums,
// which zero(sums) has cleared, and returns the library's status with its
// bad row and term in bad[0], bad[1]; fail(k, status, bad) throws for a
// tile that failed.  Tiles are added with total += sums, so the result has
// the bits of adding them one after the other.  At most 2 * threads tiles'
// sums are held at once.
template <class Sums, class Zero, class Run, class Fail>
void ordered_tiles(std::size_t tiles, int threads, Sums &total, const Zero &zero,
                   const Run &run, const Fail &fail) {
  struct Slot {
    Sums sums;
    std::int64_t bad[2] = {-1, -1};
    int status = BSBASIS_OK;
    bool ready = false;
  };
  const std::size_t workers = std::min(static_cast<std::size_t>(threads), tiles);
  const std::size_t S = std::min(2 * workers, tiles);
  std::vector<Slot> slot(S);
  for (Slot &s : slot) s.sums = total;  // the shape; each tile zeroes it
  std::mutex m;
  std::condition_variable cv;
  std::size_t next = 0, added = 0;  // the next tile to take, the tiles added
  bool stop = false;

  // A worker takes tile k once tile k - S, the last in its slot, is added.
  auto work = [&] {
    for (;;) {
      std::size_t k;
      {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return stop || next >= tiles || next < added + S; });
        if (stop || next >= tiles) return;
        k = next++;
      }
      Slot &s = slot[k % S];
      zero(s.sums);
      s.bad[0] = s.bad[1] = -1;
      const int st = run(k, s.sums, s.bad);
      {
        std::lock_guard<std::mutex> lock(m);
        s.status = st;
        s.ready = true;
      }
      cv.notify_all();
    }
  };

  // Stops and joins the workers however this function is left.
  std::vector<std::thread> crew;
  struct Join {
    std::vector<std::thread> &crew;
    std::mutex &m;
    std::condition_variable &cv;
    bool &stop;
    ~Join() {
      {
        std::lock_guard<std::mutex> lock(m);
        stop = true;
      }
      cv.notify_all();
      for (std::thread &t : crew) t.join();
    }
  } join{crew, m, cv, stop};
  crew.reserve(workers);
  for (std::size_t q = 0; q < workers; ++q) crew.emplace_back(work);

  for (std::size_t k = 0; k < tiles; ++k) {
    Slot &s = slot[k % S];
    {
      std::unique_lock<std::mutex> lock(m);
      cv.wait(lock, [&] { return s.ready; });
    }
    if (s.status != BSBASIS_OK) fail(k, s.status, s.bad);
    total += s.sums;
    {
      std::lock_guard<std::mutex> lock(m);
      s.ready = false;
      added = k + 1;
    }
    cv.notify_all();
  }
}

// The normal equations of the nx rows x, y (may be null), w (may be null:
// weights 1) by call(x, y, w, n, ab, rhs, sums, count, bad_row), the
// library on n rows.  One call over everything, or, with threads > 1 and
// more than one tile, one call per tile of BSBASIS_NORMAL_TILE rows on
// `threads` workers, each into zeroed sums; the tiles are added in order as
// they come, which gives the bits of the one call.
template <class Call>
NormalEquations normal_sums(const Call &call, int order, std::int64_t n, const double *x,
                            const double *y, const double *w, std::size_t nx, int threads,
                            Interval base) {
  if (threads < 1)
    throw std::invalid_argument("bsbasis: normal_equations needs threads >= 1, got " +
                                std::to_string(threads));
  // Checked before the rows are split: a worker would offset a null x.
  if (nx > 0 && !x)
    throw std::invalid_argument("bsbasis: normal_equations: x is null with " +
                                std::to_string(nx) + " abscissae");
  NormalEquations total = zero_sums(order, n, y != nullptr);
  if (nx == 0) return total;
  const std::size_t T = BSBASIS_NORMAL_TILE;
  const std::size_t tiles = (nx - 1) / T + 1;
  if (threads == 1 || tiles == 1) {
    std::int64_t bad = -1;
    const int st = tile_sums(call, x, y, w, 0, nx, total, &bad);
    if (st != BSBASIS_OK) fail_sums(st, bad, 0, nx, x, y, w, base);
    return total;
  }
  ordered_tiles(
      tiles, threads, total,
      [](NormalEquations &t) {
        std::fill(t.gram.ab.begin(), t.gram.ab.end(), 0.0);
        std::fill(t.rhs.begin(), t.rhs.end(), 0.0);
        t.count = 0;
      },
      [&](std::size_t k, NormalEquations &t, std::int64_t *bad) {
        const std::size_t p0 = k * T;
        return tile_sums(call, x, y, w, p0, std::min(T, nx - p0), t, bad);
      },
      [&](std::size_t k, int st, const std::int64_t *bad) {
        const std::size_t p0 = k * T;
        fail_sums(st, bad[0], p0, std::min(T, nx - p0), x, y, w, base);
      });
  return total;
}

}  // namespace detail

// The normal equations of the basis's rows (derivatives of order nu; 0: the
// values) on the nx abscissae x, with responses y and weights w (each nx
// values, or null: no responses, every weight 1).  Weights must be finite
// and >= 0, and y finite on the rows that are not empty; else
// std::invalid_argument names the first row at fault ("row 12: ...").
// Extrapolate::Error throws as values() does.  threads >= 1 workers share
// the tiles of BSBASIS_NORMAL_TILE rows; the result has the same bits for
// any number of them.
inline NormalEquations normal_equations(const KnotBasis &basis, const double *x,
                                        std::size_t nx, const double *y, const double *w,
                                        int nu = 0, int threads = 1) {
  detail::check_nu(nu);
  const double *t = basis.knots().data();
  const std::int64_t nt = static_cast<std::int64_t>(basis.knots().size());
  const int order = basis.order(), nj = basis.nj();
  const int mode = static_cast<int>(basis.extrapolate());
  return detail::normal_sums(
      [=](const double *xc, const double *yc, const double *wc, std::int64_t m, double *ab,
          double *rhs, double *sums, std::int64_t *count, std::int64_t *bad) {
        return bsbasis_normal_equations(t, nt, order, nj, nu, mode, xc, yc, wc, m, ab, rhs,
                                        sums, count, bad);
      },
      order, nj, x, y, w, nx, threads, {basis.left(), basis.right()});
}

inline NormalEquations normal_equations(const UniformBasis &basis, const double *x,
                                        std::size_t nx, const double *y, const double *w,
                                        int nu = 0, int threads = 1) {
  detail::check_nu(nu);
  const double origin = basis.origin(), spacing = basis.spacing();
  const int order = basis.order(), nj = basis.nj();
  const int mode = static_cast<int>(basis.extrapolate());
  return detail::normal_sums(
      [=](const double *xc, const double *yc, const double *wc, std::int64_t m, double *ab,
          double *rhs, double *sums, std::int64_t *count, std::int64_t *bad) {
        return bsbasis_uniform_normal_equations(origin, spacing, nj, order, nu, mode, xc, yc,
                                                wc, m, ab, rhs, sums, count, bad);
      },
      order, nj, x, y, w, nx, threads, {basis.left(), basis.right()});
}

// x, y, w: ranges of doubles; an empty y or w means none (no responses,
// every weight 1), any other must hold as many values as x.
template <class Basis, class X, class Y, class W, class = detail::double_object_t<X>,
          class = detail::double_range_t<Y>, class = detail::double_range_t<W>>
NormalEquations normal_equations(const Basis &basis, const X &x, const Y &y, const W &w,
                                 int nu = 0, int threads = 1) {
  return detail::with_contiguous(x, [&](const double *px, std::size_t nx) {
    return detail::with_contiguous(y, [&](const double *py, std::size_t ny) {
      return detail::with_contiguous(w, [&](const double *pw, std::size_t nw) {
        if (ny != 0) detail::check_length(ny, nx, "y", "abscissae");
        if (nw != 0) detail::check_length(nw, nx, "w", "abscissae");
        return normal_equations(basis, px, nx, ny ? py : nullptr, nw ? pw : nullptr, nu,
                                threads);
      });
    });
  });
}

// Every weight 1.
template <class Basis, class X, class Y, class = detail::double_object_t<X>,
          class = detail::double_range_t<Y>>
NormalEquations normal_equations(const Basis &basis, const X &x, const Y &y, int nu = 0,
                                 int threads = 1) {
  return detail::with_contiguous(x, [&](const double *px, std::size_t nx) {
    return detail::with_contiguous(y, [&](const double *py, std::size_t ny) {
      if (ny != 0) detail::check_length(ny, nx, "y", "abscissae");
      return normal_equations(basis, px, nx, ny ? py : nullptr, nullptr, nu, threads);
    });
  });
}

namespace detail {

// out[p] = X[p] coef at the nx abscissae by call(x, n, out), the library.
template <class Call>
Buffer<double> spline_values(const Call &call, std::size_t ncoef, int nj, const double *x,
                             std::size_t nx, int nu, Interval base) {
  check_nu(nu);
  check_length(ncoef, static_cast<std::size_t>(nj), "coef", "columns");
  Buffer<double> out;
  out.resize(nx);
  if (nx == 0) return out;
  const int st = call(x, static_cast<std::int64_t>(nx), out.data());
  if (st == BSBASIS_ERROR_RANGE) fail_range(x, nx, 0, base.lo, base.hi, "");
  check(st, "evaluate");
  return out;
}

}  // namespace detail

// The spline with coefficients coef (nj of them), or its derivative of
// order nu, at the nx abscissae: X[p] coef, 0 on an empty row.
inline Buffer<double> evaluate(const KnotBasis &basis, const double *coef, std::size_t ncoef,
                               const double *x, std::size_t nx, int nu = 0) {
  const double *t = basis.knots().data();
  const std::int64_t nt = static_cast<std::int64_t>(basis.knots().size());
  const int order = basis.order(), nj = basis.nj();
  const int mode = static_cast<int>(basis.extrapolate());
  return detail::spline_values(
      [&](const double *xc, std::int64_t m, double *out) {
        return bsbasis_evaluate(t, nt, order, nj, nu, mode, coef, xc, m, out);
      },
      ncoef, nj, x, nx, nu, {basis.left(), basis.right()});
}

inline Buffer<double> evaluate(const UniformBasis &basis, const double *coef,
                               std::size_t ncoef, const double *x, std::size_t nx,
                               int nu = 0) {
  const double origin = basis.origin(), spacing = basis.spacing();
  const int order = basis.order(), nj = basis.nj();
  const int mode = static_cast<int>(basis.extrapolate());
  return detail::spline_values(
      [&](const double *xc, std::int64_t m, double *out) {
        return bsbasis_uniform_evaluate(origin, spacing, nj, order, nu, mode, coef, xc, m,
                                        out);
      },
      ncoef, nj, x, nx, nu, {basis.left(), basis.right()});
}

template <class Basis, class C, class X, class = detail::double_range_t<C>,
          class = detail::double_object_t<X>>
Buffer<double> evaluate(const Basis &basis, const C &coef, const X &x, int nu = 0) {
  return detail::with_contiguous(coef, [&](const double *pc, std::size_t nc) {
    return detail::with_contiguous(x, [&](const double *px, std::size_t nx) {
      return evaluate(basis, pc, nc, px, nx, nu);
    });
  });
}

// Thrown by solve_banded for a matrix that is not positive definite to
// working precision: a pivot of its Cholesky factorisation (the diagonal
// entry left once the rows above are eliminated) at most n * eps times its
// largest diagonal entry.  An std::invalid_argument, like every other
// error here; column() is the column of that pivot.
class SingularSystem : public std::invalid_argument {
 public:
  SingularSystem(const std::string &what, std::int64_t column)
      : std::invalid_argument(what), column_(column) {}
  std::int64_t column() const noexcept { return column_; }

 private:
  std::int64_t column_;
};

// G + lam * P for symmetric banded G and P of the same order, whatever their
// bandwidths: the result has the larger one.  lam must be finite and >= 0.
inline Banded add_penalty(const Banded &g, const Banded &p, double lam) {
  detail::check_shape(g, "the matrix");
  detail::check_shape(p, "the penalty");
  if (g.n != p.n)
    throw std::invalid_argument("bsbasis: add_penalty: a penalty of order " +
                                std::to_string(p.n) + " for a matrix of order " +
                                std::to_string(g.n));
  if (!(std::isfinite(lam) && lam >= 0.0))
    throw std::invalid_argument("bsbasis: add_penalty: lam is " + detail::num(lam) +
                                "; it must be finite and >= 0");
  const std::int64_t n = g.n;
  const int u = std::max(g.u, p.u);
  Banded s = detail::banded(n, u);
  for (int d = 0; d <= u; ++d)  // the d-th superdiagonal
    for (std::int64_t c = 0; c < n; ++c) {
      const double a = d <= g.u ? g.ab[static_cast<std::size_t>((g.u - d) * n + c)] : 0.0;
      const double b = d <= p.u ? p.ab[static_cast<std::size_t>((p.u - d) * n + c)] : 0.0;
      s.ab[static_cast<std::size_t>((u - d) * n + c)] = c < d ? 0.0 : a + lam * b;
    }
  return s;
}

// Solves A c = rhs for a symmetric positive definite banded A (n values of
// rhs) by the Cholesky factorisation A = U^T U, U upper with A's bandwidth.
// Throws SingularSystem when A is singular or not positive definite (see
// there), std::invalid_argument when an entry of A or rhs is not finite.
inline std::vector<double> solve_banded(const Banded &a, const double *rhs, std::size_t nrhs) {
  detail::check_shape(a, "the matrix");
  detail::check_length(nrhs, static_cast<std::size_t>(a.n), "rhs", "columns");
  const std::int64_t n = a.n, u = a.u;
  Buffer<double> f(a.ab.begin(), a.ab.end());  // becomes U, in A's layout
  auto at = [&](std::int64_t r, std::int64_t c) -> double & {
    return f[static_cast<std::size_t>((u + r - c) * n + c)];
  };
  double top = 0.0;
  for (std::int64_t c = 0; c < n; ++c) {
    for (std::int64_t r = std::max<std::int64_t>(0, c - u); r <= c; ++r)
      if (!std::isfinite(at(r, c)))
        throw std::invalid_argument("bsbasis: solve_banded: A[" + std::to_string(r) + "][" +
                                    std::to_string(c) + "] is " + detail::num(at(r, c)));
    if (!std::isfinite(rhs[c]))
      throw std::invalid_argument("bsbasis: solve_banded: rhs[" + std::to_string(c) +
                                  "] is " + detail::num(rhs[c]));
    top = std::max(top, at(c, c));
  }
  const double tol = static_cast<double>(n) * std::numeric_limits<double>::epsilon() * top;
  for (std::int64_t j = 0; j < n; ++j) {
    const std::int64_t k0 = std::max<std::int64_t>(0, j - u);
    double d = at(j, j);
    for (std::int64_t k = k0; k < j; ++k) d = d - at(k, j) * at(k, j);
    if (!(d > tol))
      throw SingularSystem(
          "bsbasis: solve_banded: the matrix is singular or not positive definite: the "
          "pivot of column " + std::to_string(j) + " is " + detail::num(d) +
              ", at most n * eps * (largest diagonal entry) = " + detail::num(tol) +
              " (columns without data need a penalty, lam > 0)",
          j);
    const double r = std::sqrt(d);
    at(j, j) = r;
    for (std::int64_t c = j + 1; c <= std::min(n - 1, j + u); ++c) {
      double s = at(j, c);
      for (std::int64_t k = std::max(k0, c - u); k < j; ++k) s = s - at(k, j) * at(k, c);
      at(j, c) = s / r;
    }
  }
  // U^T z = rhs, then U c = z, in place.
  std::vector<double> c(rhs, rhs + n);
  for (std::int64_t j = 0; j < n; ++j) {
    double s = c[static_cast<std::size_t>(j)];
    for (std::int64_t k = std::max<std::int64_t>(0, j - u); k < j; ++k)
      s = s - at(k, j) * c[static_cast<std::size_t>(k)];
    c[static_cast<std::size_t>(j)] = s / at(j, j);
  }
  for (std::int64_t j = n - 1; j >= 0; --j) {
    double s = c[static_cast<std::size_t>(j)];
    for (std::int64_t k = j + 1; k <= std::min(n - 1, j + u); ++k)
      s = s - at(j, k) * c[static_cast<std::size_t>(k)];
    c[static_cast<std::size_t>(j)] = s / at(j, j);
  }
  return c;
}

template <class R, class = detail::double_range_t<R>>
std::vector<double> solve_banded(const Banded &a, const R &rhs) {
  return detail::with_contiguous(
      rhs, [&](const double *p, std::size_t n) { return solve_banded(a, p, n); });
}

// The coefficients of the least-squares fit: (X^T W X) c = X^T W y, or with
// a penalty (X^T W X + lam * penalty) c = X^T W y.  Throws
// std::invalid_argument without responses, SingularSystem as solve_banded.
inline std::vector<double> solve(const NormalEquations &ne) {
  if (!ne.has_responses())
    throw std::invalid_argument("bsbasis: solve: the NormalEquations hold no responses");
  return solve_banded(ne.gram, ne.rhs);
}

inline std::vector<double> solve(const NormalEquations &ne, const Banded &penalty,
                                 double lam) {
  if (!ne.has_responses())
    throw std::invalid_argument("bsbasis: solve: the NormalEquations hold no responses");
  return solve_banded(add_penalty(ne.gram, penalty, lam), ne.rhs);
}

// ------------------------------------------------------------------------
// Additive models: the rows of several terms side by side, summed by the
// library without a model matrix.
//
//   bsbasis::KnotBasis b1(t1, 4), b2(t2, 4);
//   bsbasis::Model model({bsbasis::Term::intercept(), bsbasis::Term::spline(b1, 0),
//                         bsbasis::Term::tensor({bsbasis::Term::spline(b1, 1),
//                                                bsbasis::Term::spline(b2, 2)}),
//                         bsbasis::Term::linear(3)},
//                        4);                            // x has 4 columns
//   bsbasis::Table x = bsbasis::Table::row_major(data.data(), n, 4);
//   bsbasis::ModelSums s = model.sums(x, y.data(), nullptr, 2);   // two threads
//   std::vector<bsbasis::TermPenalty> pen = {
//       {1, bsbasis::dense(bsbasis::difference_penalty(b1.nj(), 2)), 0.5}};
//   std::vector<double> coef = bsbasis::fit_gaussian(model, s, pen);
//   bsbasis::Buffer<double> fitted = model.evaluate(x, coef);

// A table of data: element (p, c) at data[p * row_stride + c * col_stride].
struct Table {
  const double *data = nullptr;
  std::int64_t rows = 0, cols = 0, row_stride = 0, col_stride = 0;

  static Table row_major(const double *data, std::int64_t rows, std::int64_t cols) {
    return {data, rows, cols, cols, 1};
  }
  static Table column_major(const double *data, std::int64_t rows, std::int64_t cols) {
    return {data, rows, cols, 1, rows};
  }
};

// One term of a Model: an intercept, a column of the table, a factor's
// indicators (treatment of every level: `levels` columns), or a spline:
// a basis read at one column, or the tensor product of two or three such
// splines (columns numbered with the last margin fastest).  A spline keeps
// its basis's extrapolation mode; values outside its base interval under
// Extrapolate::Error make the sums throw.
class Term {
 public:
  static Term intercept() { return Term(BSBASIS_TERM_INTERCEPT, -1, 0); }
  static Term linear(std::int64_t column) { return Term(BSBASIS_TERM_LINEAR, column, 0); }
  static Term factor(std::int64_t column, std::int64_t levels) {
    return Term(BSBASIS_TERM_FACTOR, column, levels);
  }

  // The basis's derivatives of order nu (0: the values) at `column`.
  static Term spline(const KnotBasis &b, std::int64_t column, int nu = 0) {
    Term s(BSBASIS_TERM_SPLINE, -1, 0);
    s.add(BSBASIS_MARGIN_KNOTS, b.order(), nu, static_cast<int>(b.extrapolate()), b.knots(),
          b.nj(), 0.0, 1.0, column);
    return s;
  }
  static Term spline(const UniformBasis &b, std::int64_t column, int nu = 0) {
    Term s(BSBASIS_TERM_SPLINE, -1, 0);
    s.add(BSBASIS_MARGIN_UNIFORM, b.order(), nu, static_cast<int>(b.extrapolate()), {},
          b.nj(), b.origin(), b.spacing(), column);
    return s;
  }
  static Term spline(const PeriodicBasis &b, std::int64_t column, int nu = 0) {
    Term s(BSBASIS_TERM_SPLINE, -1, 0);
    s.add(BSBASIS_MARGIN_PERIODIC, b.order(), nu, BSBASIS_EXTRAPOLATE_PERIODIC, b.breaks(),
          0, 0.0, 1.0, column);
    return s;
  }

  // The tensor product of 2 or 3 splines of one basis each.
  static Term tensor(const std::vector<Term> &margins) {
    if (margins.size() < 2 || margins.size() > 3)
      throw std::invalid_argument("bsbasis: Term::tensor takes 2 or 3 splines, got " +
                                  std::to_string(margins.size()));
    Term s(BSBASIS_TERM_SPLINE, -1, 0);
    for (const Term &m : margins) {
      if (m.kind_ != BSBASIS_TERM_SPLINE || m.margins_.size() != 1)
        throw std::invalid_argument(
            "bsbasis: Term::tensor takes splines of one basis each (Term::spline)");
      s.margins_.push_back(m.margins_[0]);
      s.knots_.push_back(m.knots_[0]);
    }
    s.relink();
    return s;
  }

  int kind() const { return kind_; }  // BSBASIS_TERM_*
  bool is_spline() const { return kind_ == BSBASIS_TERM_SPLINE; }

 private:
  friend class Model;

  // The library's description; valid while this Term lives unchanged.
  bsbasis_term raw() const {
    bsbasis_term t{};
    t.kind = kind_;
    t.d = static_cast<std::int32_t>(margins_.size());
    t.margins = margins_.empty() ? nullptr : margins_.data();
    t.column = column_;
    t.nlevels = levels_;
    return t;
  }

  Term(int kind, std::int64_t column, std::int64_t levels)
      : kind_(kind), column_(column), levels_(levels) {}

  void add(int kind, int order, int nu, int mode, const std::vector<double> &t,
           std::int64_t nj, double origin, double spacing, std::int64_t column) {
    detail::check_nu(nu);
    bsbasis_margin m{};
    m.kind = kind;
    m.order = order;
    m.nu = nu;
    m.extrapolate = mode;
    m.nt = static_cast<std::int64_t>(t.size());
    m.nj = nj;
    m.origin = origin;
    m.spacing = spacing;
    m.column = column;
    margins_.push_back(m);
    knots_.push_back(std::make_shared<const std::vector<double>>(t));
    relink();
  }

  // The margins point at the knots this Term shares with its copies.
  void relink() {
    for (std::size_t a = 0; a < margins_.size(); ++a)
      margins_[a].t = knots_[a]->empty() ? nullptr : knots_[a]->data();
  }

  int kind_;
  std::int64_t column_, levels_;
  std::vector<bsbasis_margin> margins_;
  std::vector<std::shared_ptr<const std::vector<double>>> knots_;
};

// The sums of a model's rows over data: X^T W X in the upper triangle of
// a p x p row-major matrix (the lower triangle holds zeros; at(r, c) reads
// either), X^T W y (none without responses), y^T W y, the sum of the
// weights and the rows counted.
struct ModelSums {
  std::int64_t p = 0;
  std::vector<double> gram;
  std::vector<double> rhs;
  double yty = 0.0;
  double sum_weights = 0.0;
  std::int64_t count = 0;

  bool has_responses() const { return !rhs.empty(); }
  double at(std::int64_t r, std::int64_t c) const {
    if (r < 0 || c < 0 || r >= p || c >= p)
      throw std::out_of_range("bsbasis: ModelSums::at(" + std::to_string(r) + ", " +
                              std::to_string(c) + ") outside a matrix of order " +
                              std::to_string(p));
    if (r > c) std::swap(r, c);
    return gram[static_cast<std::size_t>(r * p + c)];
  }

  // Elementwise, as the library adds one tile to the next: the sums of
  // rows [0, m) plus those of [m, m + k), m a multiple of
  // BSBASIS_NORMAL_TILE and k at most one tile, are the bits of the sums of
  // [0, m + k).  Throws std::invalid_argument unless both have the same p
  // and either both or neither responses.
  ModelSums &operator+=(const ModelSums &b) {
    if (p != b.p || gram.size() != b.gram.size() || rhs.size() != b.rhs.size())
      throw std::invalid_argument("bsbasis: cannot add ModelSums of " + std::to_string(b.p) +
                                  " columns to those of " + std::to_string(p));
    for (std::size_t e = 0; e < gram.size(); ++e) gram[e] = gram[e] + b.gram[e];
    for (std::size_t e = 0; e < rhs.size(); ++e) rhs[e] = rhs[e] + b.rhs[e];
    yty = yty + b.yty;
    sum_weights = sum_weights + b.sum_weights;
    count += b.count;
    return *this;
  }
};

namespace detail {

inline std::string term_text(std::int64_t term) {
  return term >= 0 ? "term " + std::to_string(term) : std::string("the model");
}

// A failed model call as an exception naming the row and the term.
[[noreturn]] inline void fail_model(int st, const char *where, std::int64_t row0,
                                    const std::int64_t *bad, const double *y,
                                    const double *w) {
  if (st == BSBASIS_ERROR_MEMORY) throw std::bad_alloc();
  std::string what = std::string("bsbasis: ") + where + ": ";
  if (bad[0] >= 0) {
    const std::int64_t p = row0 + bad[0];
    what += "row " + std::to_string(p) + ": ";
    if (bad[1] >= 0)
      what += term_text(bad[1]) + ": ";
    else if (w && !(std::isfinite(w[p]) && w[p] >= 0.0))
      what += "the weight is " + num(w[p]) + "; weights must be finite and >= 0: ";
    else if (y)
      what += "y is " + num(y[p]) + "; responses must be finite: ";
  } else if (bad[1] >= 0) {
    what += term_text(bad[1]) + ": ";
  }
  throw std::invalid_argument(what + bsbasis_strerror(st));
}

}  // namespace detail

// A model of several terms on a table of `ncols` columns.  Its columns are
// the terms' columns side by side, in order.  Throws std::invalid_argument
// naming the term the library refuses (a column outside the table, a
// factor without levels, too many columns).
class Model {
 public:
  Model(std::vector<Term> terms, std::int64_t ncols) : terms_(std::move(terms)), ncols_(ncols) {
    const std::vector<bsbasis_term> terms_raw = raw();
    std::int64_t bad[2] = {-1, -1};
    first_.push_back(0);
    for (std::size_t k = 0; k < terms_.size(); ++k) {
      std::int64_t p = 0;
      const int st = bsbasis_model_columns(terms_raw.data() + k, 1, ncols_, &p, nullptr);
      if (st != BSBASIS_OK) {
        bad[1] = static_cast<std::int64_t>(k);
        detail::fail_model(st, "Model", 0, bad, nullptr, nullptr);
      }
      first_.push_back(first_.back() + p);
    }
    const int st = bsbasis_model_columns(terms_raw.data(), static_cast<std::int64_t>(terms_raw.size()),
                                         ncols_, &p_, &bad[1]);
    if (st != BSBASIS_OK) detail::fail_model(st, "Model", 0, bad, nullptr, nullptr);
  }
  std::int64_t cols() const { return p_; }            // the model's columns, p
  std::int64_t table_cols() const { return ncols_; }  // the columns of the data
  const std::vector<Term> &terms() const { return terms_; }
  // Term k's columns are first(k) .. first(k + 1) - 1.
  std::int64_t first(std::size_t k) const { return first_.at(k); }

  // The sums of the rows of x, with responses y and weights w (x.rows
  // values each, or null: no responses, every weight 1).  threads >= 1
  // workers share tiles of BSBASIS_NORMAL_TILE rows; the result has the
  // same bits for any number of them.  Throws std::invalid_argument naming
  // the row and the term at fault: a value of x that a term reads is not
  // finite or not a factor level, a coordinate outside its basis's base
  // interval under Extrapolate::Error, a weight not finite and >= 0, a
  // response not finite.
  ModelSums sums(const Table &x, const double *y, const double *w, int threads = 1) const {
    if (threads < 1)
      throw std::invalid_argument("bsbasis: Model::sums needs threads >= 1, got " +
                                  std::to_string(threads));
    check_table(x, "Model::sums");
    ModelSums total;
    total.p = p_;
    total.gram.assign(static_cast<std::size_t>(p_ * p_), 0.0);
    if (y) total.rhs.assign(static_cast<std::size_t>(p_), 0.0);
    const std::size_t nx = static_cast<std::size_t>(x.rows);
    if (nx == 0) return total;
    const std::size_t T = BSBASIS_NORMAL_TILE;
    const std::size_t tiles = (nx - 1) / T + 1;
    const std::vector<bsbasis_term> terms_raw = raw();
    auto run = [&](std::size_t p0, std::size_t len, ModelSums &s, std::int64_t *bad) {
      double two[2] = {0.0, 0.0};
      const int st = bsbasis_model_normal_equations(
          terms_raw.data(), static_cast<std::int64_t>(terms_raw.size()),
          x.data + static_cast<std::int64_t>(p0) * x.row_stride,
          static_cast<std::int64_t>(len), x.cols, x.row_stride, x.col_stride,
          y ? y + p0 : nullptr, w ? w + p0 : nullptr, s.gram.data(),
          y ? s.rhs.data() : nullptr, two, &s.count, &bad[0], &bad[1]);
      s.yty = two[0];
      s.sum_weights = two[1];
      return st;
    };
    if (threads == 1 || tiles == 1) {
      std::int64_t bad[2] = {-1, -1};
      const int st = run(0, nx, total, bad);
      if (st != BSBASIS_OK) detail::fail_model(st, "Model::sums", 0, bad, y, w);
      return total;
    }
    detail::ordered_tiles(
        tiles, threads, total,
        [](ModelSums &s) {
          std::fill(s.gram.begin(), s.gram.end(), 0.0);
          std::fill(s.rhs.begin(), s.rhs.end(), 0.0);
          s.count = 0;
        },
        [&](std::size_t k, ModelSums &s, std::int64_t *bad) {
          return run(k * T, std::min(T, nx - k * T), s, bad);
        },
        [&](std::size_t k, int st, const std::int64_t *bad) {
          detail::fail_model(st, "Model::sums", static_cast<std::int64_t>(k * T), bad,
                             y ? y : nullptr, w ? w : nullptr);
        });
    return total;
  }

  // X[p] coef at the rows of x (coef: cols() values).  With V (cols() x
  // cols(), row-major, symmetric) also var[p] = X[p] V X[p]^T, the variance
  // of the fitted value when V is the coefficients' covariance.
  Buffer<double> evaluate(const Table &x, const std::vector<double> &coef) const {
    return values(x, coef, nullptr, nullptr);
  }
  Buffer<double> evaluate(const Table &x, const std::vector<double> &coef,
                          const std::vector<double> &V, Buffer<double> &var) const {
    detail::check_length(V.size(), static_cast<std::size_t>(p_ * p_), "V",
                         "entries of a cols() x cols() matrix");
    var.resize(static_cast<std::size_t>(x.rows));
    return values(x, coef, V.data(), var.data());
  }

 private:
  void check_table(const Table &x, const char *where) const {
    if (x.cols != ncols_)
      throw std::invalid_argument(std::string("bsbasis: ") + where + ": the table has " +
                                  std::to_string(x.cols) + " columns, the model reads " +
                                  std::to_string(ncols_));
    if (x.rows < 0) throw std::invalid_argument(std::string("bsbasis: ") + where +
                                                ": the table has a negative row count");
  }

  Buffer<double> values(const Table &x, const std::vector<double> &coef, const double *V,
                        double *var) const {
    check_table(x, "Model::evaluate");
    detail::check_length(coef.size(), static_cast<std::size_t>(p_), "coef", "columns");
    Buffer<double> fit;
    fit.resize(static_cast<std::size_t>(x.rows));
    std::int64_t bad[2] = {-1, -1};
    const std::vector<bsbasis_term> terms_raw = raw();
    const int st = bsbasis_model_evaluate(terms_raw.data(), static_cast<std::int64_t>(terms_raw.size()),
                                          x.data, x.rows, x.cols, x.row_stride, x.col_stride,
                                          coef.data(), V, fit.data(), var, &bad[0], &bad[1]);
    if (st != BSBASIS_OK) detail::fail_model(st, "Model::evaluate", 0, bad, nullptr, nullptr);
    return fit;
  }

  // The library's description of the terms, pointing into them.
  std::vector<bsbasis_term> raw() const {
    std::vector<bsbasis_term> r;
    for (const Term &t : terms_) r.push_back(t.raw());
    return r;
  }

  std::vector<Term> terms_;
  std::int64_t ncols_;
  std::int64_t p_ = 0;
  std::vector<std::int64_t> first_;
};

// A dense row-major copy of a symmetric banded matrix.
inline std::vector<double> dense(const Banded &b) {
  detail::check_shape(b, "the matrix");
  std::vector<double> d(static_cast<std::size_t>(b.n * b.n), 0.0);
  for (std::int64_t r = 0; r < b.n; ++r)
    for (std::int64_t c = std::max<std::int64_t>(0, r - b.u); c <= std::min(b.n - 1, r + b.u);
         ++c)
      d[static_cast<std::size_t>(r * b.n + c)] = b.at(r, c);
  return d;
}

// The penalties of a tensor product of margins with penalties P_a (dense,
// n_a x n_a each): P_0 (x) I (x) I, I (x) P_1 (x) I, ..., the last margin
// fastest as the tensor term numbers its columns; each dense, of order
// n_0 * n_1 * ....
inline std::vector<std::vector<double>> tensor_penalties(
    const std::vector<std::vector<double>> &P) {
  std::vector<std::int64_t> n;
  std::int64_t N = 1;
  for (const std::vector<double> &m : P) {
    const auto k = static_cast<std::int64_t>(std::llround(std::sqrt(double(m.size()))));
    if (k * k != static_cast<std::int64_t>(m.size()) || k < 1)
      throw std::invalid_argument("bsbasis: tensor_penalties: a penalty of " +
                                  std::to_string(m.size()) + " entries is not square");
    n.push_back(k);
    N *= k;
  }
  std::vector<std::vector<double>> out;
  for (std::size_t a = 0; a < P.size(); ++a) {
    std::vector<double> S(static_cast<std::size_t>(N * N), 0.0);
    std::int64_t inner = 1;  // the margins after a vary fastest
    for (std::size_t b = a + 1; b < P.size(); ++b) inner *= n[b];
    const std::int64_t na = n[a];
    for (std::int64_t r = 0; r < N; ++r)
      for (std::int64_t c = 0; c < N; ++c) {
        // I on every other margin: equal indices there.
        const std::int64_t ra = (r / inner) % na, ca = (c / inner) % na;
        if (r - ra * inner != c - ca * inner) continue;
        S[static_cast<std::size_t>(r * N + c)] = P[a][static_cast<std::size_t>(ra * na + ca)];
      }
    out.push_back(std::move(S));
  }
  return out;
}

// lam * S on the columns of one term of a Model: S dense and row-major, of
// the term's width.
struct TermPenalty {
  std::size_t term = 0;
  std::vector<double> S;
  double lam = 0.0;
};

namespace detail {

// Applies the reflection H = I - 2 v v^T / (v^T v) on columns [f, f + m)
// of the symmetric n x n matrix A (both sides) and of b.
inline void reflect(std::vector<double> &A, std::vector<double> &b, std::int64_t n,
                    std::int64_t f, const std::vector<double> &v) {
  const std::int64_t m = static_cast<std::int64_t>(v.size());
  double vv = 0.0;
  for (double e : v) vv = vv + e * e;
  const double k = 2.0 / vv;
  for (std::int64_t c = 0; c < n; ++c) {  // H A: rows f .. f + m - 1
    double s = 0.0;
    for (std::int64_t q = 0; q < m; ++q) s = s + v[q] * A[(f + q) * n + c];
    for (std::int64_t q = 0; q < m; ++q) A[(f + q) * n + c] = A[(f + q) * n + c] - k * s * v[q];
  }
  for (std::int64_t r = 0; r < n; ++r) {  // (H A) H: columns f .. f + m - 1
    double s = 0.0;
    for (std::int64_t q = 0; q < m; ++q) s = s + A[r * n + f + q] * v[q];
    for (std::int64_t q = 0; q < m; ++q) A[r * n + f + q] = A[r * n + f + q] - k * s * v[q];
  }
  double s = 0.0;
  for (std::int64_t q = 0; q < m; ++q) s = s + v[q] * b[f + q];
  for (std::int64_t q = 0; q < m; ++q) b[f + q] = b[f + q] - k * s * v[q];
}

// Solves A c = b for symmetric positive definite dense A (n x n) by
// Cholesky; throws SingularSystem naming the column of a pivot at most
// n * eps times the largest diagonal entry.
inline std::vector<double> cholesky_solve(std::vector<double> A, std::vector<double> b,
                                          std::int64_t n, const std::vector<std::int64_t> &name) {
  double top = 0.0;
  for (std::int64_t j = 0; j < n; ++j) top = std::max(top, A[j * n + j]);
  const double tol = static_cast<double>(n) * std::numeric_limits<double>::epsilon() * top;
  for (std::int64_t j = 0; j < n; ++j) {
    double d = A[j * n + j];
    for (std::int64_t k = 0; k < j; ++k) d = d - A[k * n + j] * A[k * n + j];
    if (!(d > tol))
      throw SingularSystem("bsbasis: fit_gaussian: the penalised system is singular: the "
                           "pivot of column " + std::to_string(name[j]) + " is " + num(d) +
                               " (a term without data, or collinear terms, needs a penalty "
                               "or fewer columns)",
                           name[j]);
    const double r = std::sqrt(d);
    A[j * n + j] = r;
    for (std::int64_t c = j + 1; c < n; ++c) {
      double s = A[j * n + c];
      for (std::int64_t k = 0; k < j; ++k) s = s - A[k * n + j] * A[k * n + c];
      A[j * n + c] = s / r;
    }
  }
  for (std::int64_t j = 0; j < n; ++j) {
    double s = b[j];
    for (std::int64_t k = 0; k < j; ++k) s = s - A[k * n + j] * b[k];
    b[j] = s / A[j * n + j];
  }
  for (std::int64_t j = n - 1; j >= 0; --j) {
    double s = b[j];
    for (std::int64_t k = j + 1; k < n; ++k) s = s - A[j * n + k] * b[k];
    b[j] = s / A[j * n + j];
  }
  return b;
}

}  // namespace detail

// The coefficients of a Gaussian additive model with fixed smoothing
// parameters: the minimiser of |W^(1/2) (y - X c)|^2 + sum lam_k c^T S_k c
// over the sums of the model's rows.  When the model has an intercept,
// each spline term is centred first, as mgcv's gam does: its coefficients
// are held to c_term . s = 0, s the term's column sums with the weights
// (the intercept's row of X^T W X), by a Householder reflection that
// leaves the term's other directions free; with penalties that do not
// charge a constant (difference penalties, their tensor products) the
// fitted values do not depend on which centring is taken.  Returns the
// coefficients on the model's own columns (the constraint holds on them),
// so Model::evaluate gives the fitted values.  Throws
// std::invalid_argument for sums without responses, a penalty of the
// wrong size or a term out of range, a lam not finite and >= 0, and
// SingularSystem when the penalised system is singular.
inline std::vector<double> fit_gaussian(const Model &model, const ModelSums &sums,
                                        const std::vector<TermPenalty> &penalties) {
  const std::int64_t p = model.cols();
  if (!sums.has_responses())
    throw std::invalid_argument("bsbasis: fit_gaussian: the ModelSums hold no responses");
  if (sums.p != p)
    throw std::invalid_argument("bsbasis: fit_gaussian: sums of " + std::to_string(sums.p) +
                                " columns for a model of " + std::to_string(p));
  std::vector<double> A(static_cast<std::size_t>(p * p)), b(sums.rhs);
  for (std::int64_t r = 0; r < p; ++r)
    for (std::int64_t c = 0; c < p; ++c) A[r * p + c] = sums.at(r, c);
  for (const TermPenalty &pen : penalties) {
    if (pen.term >= model.terms().size())
      throw std::invalid_argument("bsbasis: fit_gaussian: a penalty on term " +
                                  std::to_string(pen.term) + " of a model of " +
                                  std::to_string(model.terms().size()));
    const std::int64_t f = model.first(pen.term), m = model.first(pen.term + 1) - f;
    detail::check_length(pen.S.size(), static_cast<std::size_t>(m * m), "a penalty",
                         "entries of its term's square");
    if (!(std::isfinite(pen.lam) && pen.lam >= 0.0))
      throw std::invalid_argument("bsbasis: fit_gaussian: lam is " + detail::num(pen.lam) +
                                  "; it must be finite and >= 0");
    for (std::int64_t r = 0; r < m; ++r)
      for (std::int64_t c = 0; c < m; ++c)
        A[(f + r) * p + f + c] = A[(f + r) * p + f + c] + pen.lam * pen.S[r * m + c];
  }
  // Centring: the intercept's row of X^T W X gives each column's weighted sum.
  std::int64_t icpt = -1;
  for (std::size_t k = 0; k < model.terms().size(); ++k)
    if (model.terms()[k].kind() == BSBASIS_TERM_INTERCEPT) icpt = model.first(k);
  std::vector<bool> dropped(static_cast<std::size_t>(p), false);
  std::vector<std::pair<std::int64_t, std::vector<double>>> reflections;
  for (std::size_t k = 0; icpt >= 0 && k < model.terms().size(); ++k) {
    if (!model.terms()[k].is_spline()) continue;
    const std::int64_t f = model.first(k), m = model.first(k + 1) - f;
    std::vector<double> v(static_cast<std::size_t>(m));
    double norm = 0.0;
    for (std::int64_t q = 0; q < m; ++q) {
      v[q] = sums.at(icpt, f + q);
      norm = norm + v[q] * v[q];
    }
    if (!(norm > 0.0)) continue;  // no data on the term: the solve says so
    norm = std::sqrt(norm);
    v[0] = v[0] + (v[0] >= 0.0 ? norm : -norm);  // H s = -+|s| e_0
    detail::reflect(A, b, p, f, v);
    dropped[static_cast<std::size_t>(f)] = true;
    reflections.emplace_back(f, std::move(v));
  }
  std::vector<std::int64_t> keep;
  for (std::int64_t c = 0; c < p; ++c)
    if (!dropped[static_cast<std::size_t>(c)]) keep.push_back(c);
  const std::int64_t n = static_cast<std::int64_t>(keep.size());
  std::vector<double> Ar(static_cast<std::size_t>(n * n)), br(static_cast<std::size_t>(n));
  for (std::int64_t r = 0; r < n; ++r) {
    br[r] = b[keep[r]];
    for (std::int64_t c = 0; c < n; ++c) Ar[r * n + c] = A[keep[r] * p + keep[c]];
  }
  const std::vector<double> theta = detail::cholesky_solve(std::move(Ar), std::move(br), n, keep);
  std::vector<double> coef(static_cast<std::size_t>(p), 0.0);
  for (std::int64_t r = 0; r < n; ++r) coef[keep[r]] = theta[r];
  // Back to the model's columns: c = H theta on each centred term.
  for (const auto &[f, v] : reflections) {
    double vv = 0.0, s = 0.0;
    for (std::size_t q = 0; q < v.size(); ++q) {
      vv = vv + v[q] * v[q];
      s = s + v[q] * coef[f + q];
    }
    for (std::size_t q = 0; q < v.size(); ++q) coef[f + q] = coef[f + q] - (2.0 / vv) * s * v[q];
  }
  return coef;
}

}  // namespace bsbasis

#endif  // BSBASIS_HPP

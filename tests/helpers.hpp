// What the tests and the fuzzers share: the triplet arrays, bit comparison,
// input generators, calls of the exported functions into owned arrays, and
// a dense solve to check the library's solves against.
// No test framework here, so that the fuzzers can use it too.
#ifndef BSBASIS_TESTS_HELPERS_HPP
#define BSBASIS_TESTS_HELPERS_HPP

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bsbasis.h"

namespace testing_bsbasis {

inline const double kNaN = std::numeric_limits<double>::quiet_NaN();
inline const double kInf = std::numeric_limits<double>::infinity();

inline uint64_t bits(double v) {
  uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

// The triplet arrays of nx blocks: rows and columns start at a sentinel
// that every evaluation overwrites, values at 0 (the caller's zero fill).
struct Triplets {
  std::vector<int> i, j;
  std::vector<double> B;
  std::vector<bool> in_range;  // per abscissa, as the reference decides

  Triplets(size_t nx, int order)
      : i(nx * order, -7), j(nx * order, -7), B(nx * order, 0.0), in_range(nx, false) {}
};

// Every entry the same: rows, columns and the bits of every value.
inline std::string entry_differences(const Triplets &want, const Triplets &got) {
  for (size_t e = 0; e < want.B.size(); ++e)
    if (want.i[e] != got.i[e] || want.j[e] != got.j[e] || bits(want.B[e]) != bits(got.B[e])) {
      std::ostringstream s;
      s << "entry " << e << ": want (" << want.i[e] << ", " << want.j[e] << ", " << want.B[e]
        << ") got (" << got.i[e] << ", " << got.j[e] << ", " << got.B[e] << ")";
      return s.str();
    }
  return "";
}

// Whether block p is the out-of-range block: row p, column 0, value zero
// (of either sign) at every position.
inline bool out_of_range_block(const std::vector<int> &i, const std::vector<int> &j,
                               const std::vector<double> &B, size_t p, int order) {
  for (int q = 0; q < order; ++q) {
    const size_t e = p * order + q;
    if (i[e] != int(p) || j[e] != 0 || !(B[e] == 0.0)) return false;
  }
  return true;
}

inline bool out_of_range_block(const Triplets &r, size_t p, int order) {
  return out_of_range_block(r.i, r.j, r.B, p, order);
}

// In-range blocks of `want` bit for bit; the others as the contract says:
// row p, column 0, value zero (of either sign) at every position.  Empty
// when all agree, else the first difference.
inline std::string block_differences(const Triplets &want, const Triplets &got, int order) {
  std::ostringstream s;
  for (size_t p = 0; p < want.in_range.size(); ++p)
    for (int q = 0; q < order; ++q) {
      const size_t e = p * order + q;
      if (got.i[e] != int(p)) {
        s << "row at block " << p << " pos " << q << ": " << got.i[e];
        return s.str();
      }
      if (want.in_range[p]) {
        if (got.j[e] != want.j[e] || bits(got.B[e]) != bits(want.B[e])) {
          s << "block " << p << " pos " << q << ": got (" << got.j[e] << ", " << got.B[e]
            << ") want (" << want.j[e] << ", " << want.B[e] << ")";
          return s.str();
        }
      } else if (got.j[e] != 0 || !(got.B[e] == 0.0)) {
        s << "out-of-range block " << p << " pos " << q << ": (" << got.j[e] << ", "
          << got.B[e] << ")";
        return s.str();
      }
    }
  return "";
}

// ------------------------------------------------------------- generators

// Non-decreasing knots with `intervals` intervals or so, of four kinds:
//   0  clamped, random interior knots;
//   1  consecutive integers from a random start;
//   2  repeated interior knots, each up to `order` times;
//   3  clamped, uniform on [0, 1].
inline std::vector<double> random_knots(std::mt19937_64 &rng, int order, int kind,
                                        int intervals) {
  std::uniform_real_distribution<double> u(-3.0, 5.0);
  std::vector<double> t;
  if (kind == 0 || kind == 3) {
    std::vector<double> inner(intervals + 1);
    for (size_t m = 0; m < inner.size(); ++m)
      inner[m] = kind == 0 ? u(rng) : double(m) / intervals;
    std::sort(inner.begin(), inner.end());
    for (int r = 0; r < order - 1; ++r) t.push_back(inner.front());
    t.insert(t.end(), inner.begin(), inner.end());
    for (int r = 0; r < order - 1; ++r) t.push_back(inner.back());
  } else if (kind == 1) {
    const int start = std::uniform_int_distribution<int>(-5, 5)(rng);
    for (int m = 0; m < intervals + 2 * order; ++m) t.push_back(start + m);
  } else {
    std::uniform_int_distribution<int> rep(1, order);
    double v = u(rng);
    for (int m = 0; m < intervals + order; ++m) {
      for (int r = rep(rng); r > 0; --r) t.push_back(v);
      v += std::uniform_real_distribution<double>(0.01, 1.5)(rng);
    }
  }
  while (t.size() < 3) t.push_back(t.back() + 1.0);
  return t;
}

// The same with 1 to 12 intervals.
inline std::vector<double> random_knots(std::mt19937_64 &rng, int order, int kind) {
  return random_knots(rng, order, kind, std::uniform_int_distribution<int>(1, 12)(rng));
}

// Abscissae that stress the interval logic: on the knots, one ulp either
// side, between knots, outside the knots, huge, and (unless finite_only)
// NaN and infinite.
inline std::vector<double> stress_abscissae(std::mt19937_64 &rng, const std::vector<double> &t,
                                            size_t n, bool finite_only = false) {
  std::uniform_int_distribution<size_t> pick(0, t.size() - 1);
  std::uniform_int_distribution<int> kind(0, finite_only ? 6 : 8);
  const double lo = t.front(), hi = t.back(), w = hi - lo + 1.0;
  std::vector<double> x(n);
  for (double &v : x) {
    const double k = t[pick(rng)];
    switch (kind(rng)) {
      case 0: v = k; break;
      case 1: v = std::nextafter(k, -kInf); break;
      case 2: v = std::nextafter(k, kInf); break;
      case 3:
      case 4: v = std::uniform_real_distribution<double>(lo, hi)(rng); break;
      case 5: v = std::uniform_real_distribution<double>(lo - w, hi + w)(rng); break;
      case 6: v = (rng() & 1) ? 1e300 : -1e300; break;
      case 7: v = kNaN; break;
      default: v = (rng() & 1) ? kInf : -kInf; break;
    }
  }
  return x;
}

// Ascending, NaN last (so that the order stays a strict weak one).
inline void sort_abscissae(std::vector<double> &x) {
  std::sort(x.begin(), x.end(), [](double a, double b) {
    return std::isnan(b) ? !std::isnan(a) : a < b;
  });
}

// ------------------------------------------------ the exports, into arrays

inline Triplets lib_blossom(std::vector<double> x, int order_stop, int order, int nj) {
  Triplets r(x.size(), order);
  blossom(x.data(), int(x.size()), r.i.data(), r.j.data(), r.B.data(), int(r.B.size()),
          order_stop, order, nj);
  return r;
}

inline Triplets lib_blossom_grid(std::vector<double> t, std::vector<double> x, int order_stop,
                                 int order, int nj) {
  Triplets r(x.size(), order);
  blossom_grid(t.data(), int(t.size()), x.data(), int(x.size()), r.i.data(), r.j.data(),
               r.B.data(), int(r.B.size()), order_stop, order, nj);
  return r;
}

// Values (deriv = 0) or first derivatives (deriv = 1) through the exports.
inline Triplets lib_grid(std::vector<double> t, std::vector<double> x, int order, int nj,
                         int deriv) {
  if (!deriv) return lib_blossom_grid(t, x, order, order, nj);
  Triplets r = lib_blossom_grid(t, x, order - 1, order, nj);
  deriv_grid(t.data(), int(t.size()), r.i.data(), r.j.data(), r.B.data(), int(r.B.size()),
             int(x.size()), order);
  return r;
}

// ------------------------------------------------------------ dense algebra

// Solves A x = b for the n x n row-major A, n = b.size(), by Gaussian
// elimination with partial pivoting: written independently of the banded
// Cholesky and the reflections that the library solves with.
inline std::vector<double> dense_solve(std::vector<double> A, std::vector<double> b) {
  const size_t n = b.size();
  if (A.size() != n * n) throw std::invalid_argument("dense_solve: A is not b.size() squared");
  for (size_t k = 0; k < n; ++k) {
    size_t piv = k;
    for (size_t r = k + 1; r < n; ++r)
      if (std::fabs(A[r * n + k]) > std::fabs(A[piv * n + k])) piv = r;
    for (size_t c = 0; c < n; ++c) std::swap(A[k * n + c], A[piv * n + c]);
    std::swap(b[k], b[piv]);
    for (size_t r = k + 1; r < n; ++r) {
      const double f = A[r * n + k] / A[k * n + k];
      for (size_t c = k; c < n; ++c) A[r * n + c] -= f * A[k * n + c];
      b[r] -= f * b[k];
    }
  }
  for (size_t k = n; k-- > 0;) {
    for (size_t c = k + 1; c < n; ++c) b[k] -= A[k * n + c] * b[c];
    b[k] /= A[k * n + k];
  }
  return b;
}

}  // namespace testing_bsbasis

#endif

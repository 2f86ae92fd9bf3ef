// Calling the library into owned arrays, and comparing with the reference.
#ifndef BSBASIS_TESTS_HELPERS_HPP
#define BSBASIS_TESTS_HELPERS_HPP

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "bsbasis.h"
#include "reference.hpp"

namespace testing_bsbasis {

using Triplets = ref::Triplets;

inline const double kNaN = std::numeric_limits<double>::quiet_NaN();
inline const double kInf = std::numeric_limits<double>::infinity();

inline Triplets lib_blossom(std::vector<double> x, int order_stop, int order, int nj) {
  Triplets r(int(x.size()), order);
  blossom(x.data(), int(x.size()), r.i.data(), r.j.data(), r.B.data(),
          int(r.B.size()), order_stop, order, nj);
  return r;
}

inline Triplets lib_blossom_grid(std::vector<double> t, std::vector<double> x,
                                 int order_stop, int order, int nj) {
  Triplets r(int(x.size()), order);
  blossom_grid(t.data(), int(t.size()), x.data(), int(x.size()), r.i.data(),
               r.j.data(), r.B.data(), int(r.B.size()), order_stop, order, nj);
  return r;
}

// Values (deriv = 0) or first derivatives (deriv = 1) through the public API.
inline Triplets lib_grid(std::vector<double> t, std::vector<double> x, int order,
                         int nj, int deriv) {
  if (!deriv) return lib_blossom_grid(t, x, order, order, nj);
  Triplets r = lib_blossom_grid(t, x, order - 1, order, nj);
  deriv_grid(t.data(), int(t.size()), r.i.data(), r.j.data(), r.B.data(),
             int(r.B.size()), int(x.size()), order);
  return r;
}

// In-range blocks bit for bit; out-of-range blocks as the contract says:
// row p, column 0, value zero (of either sign) at every position.
inline ::testing::AssertionResult same_blocks(const Triplets &want,
                                              const Triplets &got, int order) {
  const size_t nx = want.in_range.size();
  for (size_t p = 0; p < nx; ++p) {
    for (int q = 0; q < order; ++q) {
      const size_t e = p * order + q;
      if (got.i[e] != int(p))
        return ::testing::AssertionFailure() << "row at block " << p << " pos " << q
                                             << ": " << got.i[e];
      if (want.in_range[p]) {
        if (got.j[e] != want.j[e] || ref::bits(got.B[e]) != ref::bits(want.B[e]))
          return ::testing::AssertionFailure()
                 << "block " << p << " pos " << q << ": got (" << got.j[e] << ", "
                 << got.B[e] << ") want (" << want.j[e] << ", " << want.B[e] << ")";
      } else if (got.j[e] != 0 || !(got.B[e] == 0.0)) {
        return ::testing::AssertionFailure()
               << "out-of-range block " << p << " pos " << q << ": (" << got.j[e]
               << ", " << got.B[e] << ")";
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// Non-decreasing knots of three kinds: clamped with random interior knots,
// uniform integers, and sequences with repeated interior knots.
inline std::vector<double> random_knots(std::mt19937_64 &rng, int order, int kind) {
  std::uniform_int_distribution<int> nint(1, 12);
  std::uniform_real_distribution<double> u(-3.0, 5.0);
  const int n = nint(rng);
  std::vector<double> t;
  if (kind == 0) {
    std::vector<double> inner(n + 1);
    for (double &v : inner) v = u(rng);
    std::sort(inner.begin(), inner.end());
    for (int r = 0; r < order - 1; ++r) t.push_back(inner.front());
    t.insert(t.end(), inner.begin(), inner.end());
    for (int r = 0; r < order - 1; ++r) t.push_back(inner.back());
  } else if (kind == 1) {
    const int start = std::uniform_int_distribution<int>(-5, 5)(rng);
    for (int m = 0; m < n + 2 * order; ++m) t.push_back(start + m);
  } else {
    std::uniform_int_distribution<int> rep(1, order);
    double v = u(rng);
    for (int m = 0; m < n + order; ++m) {
      for (int r = rep(rng); r > 0; --r) t.push_back(v);
      v += std::uniform_real_distribution<double>(0.01, 1.5)(rng);
    }
  }
  while (int(t.size()) < 3) t.push_back(t.back() + 1.0);
  return t;
}

// Abscissae that stress the interval logic: on the knots, one ulp either
// side, between knots, outside the knots, and non-finite.
inline std::vector<double> stress_abscissae(std::mt19937_64 &rng,
                                            const std::vector<double> &t, int n,
                                            bool finite_only = false) {
  std::uniform_int_distribution<size_t> pick(0, t.size() - 1);
  std::uniform_int_distribution<int> kind(0, finite_only ? 5 : 7);
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
      case 6: v = kNaN; break;
      default: v = (rng() & 1) ? kInf : -kInf; break;
    }
  }
  return x;
}

}  // namespace testing_bsbasis

#endif

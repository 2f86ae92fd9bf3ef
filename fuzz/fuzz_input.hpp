// Helpers shared by the fuzz targets: a front-to-back byte reader that
// decodes call arguments, exact-size buffers, and bit comparison.
//
// Decoding reads one byte per choice from the front of the input and yields
// zeros once the input is exhausted, so short hand-written seeds decode
// predictably.
#ifndef BSBASIS_FUZZ_INPUT_HPP
#define BSBASIS_FUZZ_INPUT_HPP

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "helpers.hpp"
#include "paths.hpp"

namespace fz {

// Stops the run with a message; libFuzzer records the input as a crash.
[[noreturn]] inline void fail(const char *what, long a = 0, long b = 0) {
  std::fprintf(stderr, "contract violated: %s (%ld, %ld)\n", what, a, b);
  std::abort();
}
#define FZ_CHECK(cond, ...) \
  do {                      \
    if (!(cond)) ::fz::fail(#cond, ##__VA_ARGS__); \
  } while (0)

using testing_bsbasis::bits;

// Same bits, or both NaN (the payload of a NaN made from two NaN operands
// depends on the operand order the compiler picked).
inline bool same(double a, double b) {
  return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b));
}

// Routes the exports through one of the paths this CPU runs, chosen by the
// last byte of the input (which the Reader may read as well).
class FuzzPath {
 public:
  FuzzPath(const uint8_t *data, size_t size) {
    static const std::vector<testing_bsbasis::Path> paths = testing_bsbasis::paths_here();
    bsbasis::use_kernels_for_testing(paths[size ? data[size - 1] % paths.size() : 0].table);
  }
  ~FuzzPath() { bsbasis::use_kernels_for_testing(nullptr); }
};

class Reader {
 public:
  Reader(const uint8_t *data, size_t size) : p_(data), end_(data + size) {}

  uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
  bool flag() { return byte() & 1; }

  // lo .. hi from one byte.
  int small(int lo, int hi) {
    const unsigned span = static_cast<unsigned>(hi - lo) + 1u;
    return lo + static_cast<int>(byte() % span);
  }

  // Mostly lo .. hi; the top 16 byte values pick an extreme instead.
  int any_int(int lo, int hi) {
    static const int extremes[16] = {INT_MIN,     INT_MIN + 1, -1000000, -65536,
                                     -257,        -2,          -1,       0,
                                     1,           2,           1023,     1024,
                                     1025,        65536,       INT_MAX - 1,
                                     INT_MAX};
    const uint8_t b = byte();
    if (b >= 240) return extremes[b - 240];
    const unsigned span = static_cast<unsigned>(hi - lo) + 1u;
    return lo + static_cast<int>(b % span);
  }

  // A 64-bit count: mostly lo .. hi, the top 16 byte values pick an extreme
  // (around the sub-tiles of 512, the 32-bit limits, overflowing products).
  int64_t any_count(int lo, int hi) {
    static const int64_t extremes[16] = {INT64_MIN,
                                         -(int64_t(1) << 32),
                                         INT32_MIN,
                                         -1,
                                         0,
                                         1,
                                         511,
                                         512,
                                         513,
                                         1025,
                                         INT32_MAX,
                                         int64_t(INT32_MAX) + 1,
                                         int64_t(1) << 32,
                                         INT64_MAX / 8,
                                         INT64_MAX / 2 + 1,
                                         INT64_MAX};
    const uint8_t b = byte();
    if (b >= 240) return extremes[b - 240];
    const unsigned span = static_cast<unsigned>(hi - lo) + 1u;
    return lo + static_cast<int64_t>(b % span);
  }

  // An abscissa count: mostly 0 .. 27, sometimes around a tile of 256.
  int count() {
    static const int large[4] = {255, 256, 257, 300};
    const int v = small(0, 31);
    return v < 28 ? v : large[v - 28];
  }

  double raw_double() {
    uint64_t u = 0;
    for (int k = 0; k < 8; ++k) u = (u << 8) | byte();
    double v;
    std::memcpy(&v, &u, sizeof v);
    return v;
  }

  // A double drawn from the special values, the given anchors (knots) and
  // their neighbours, small multiples of 1/8, and raw bit patterns.
  double any_double(const double *anchors, int nanchors) {
    const uint8_t sel = byte();
    switch (sel % 16) {
      case 0: {
        static const double specials[] = {
            std::numeric_limits<double>::quiet_NaN(),
            -std::numeric_limits<double>::quiet_NaN(),
            std::numeric_limits<double>::infinity(),
            -std::numeric_limits<double>::infinity(),
            0.0,
            -0.0,
            DBL_MAX,
            -DBL_MAX,
            1e300,
            -1e300,
            DBL_MIN,
            std::numeric_limits<double>::denorm_min(),
            -std::numeric_limits<double>::denorm_min(),
            2147483647.0,
            2147483648.0,
            -2147483649.0};
        return specials[byte() % (sizeof specials / sizeof specials[0])];
      }
      case 1:
      case 2:
      case 3:
      case 4:
        if (nanchors > 0) return anchors[byte() % nanchors];
        return static_cast<double>(small(-4, 40));
      case 5:
        if (nanchors > 0) {
          const double a = anchors[byte() % nanchors];
          return flag() ? std::nextafter(a, INFINITY) : std::nextafter(a, -INFINITY);
        }
        return 0.5;
      case 6:
        return raw_double();
      default:
        return static_cast<double>(small(-32, 223)) * 0.125;
    }
  }

  // A non-decreasing finite knot sequence of n entries: steps of 0, small
  // multiples of 1/4, tiny (subnormal) and huge.
  std::vector<double> sorted_knots(int n) {
    std::vector<double> t(n > 0 ? n : 0);
    double v = static_cast<double>(small(-8, 8)) * 0.5;
    if (byte() == 255) v = -1e300;
    for (int m = 0; m < n; ++m) {
      t[m] = v;
      const uint8_t s = byte();
      double step;
      if (s < 64)
        step = 0.0;
      else if (s < 224)
        step = static_cast<double>(s % 8 + 1) * 0.25;
      else if (s < 240)
        step = std::numeric_limits<double>::denorm_min() * (s % 4 + 1);
      else if (s < 250)
        step = std::ldexp(1.0, -1000 - (s % 8) * 10);
      else
        step = 1e300;
      double next = v + step;
      if (!std::isfinite(next)) next = v;
      v = next;
    }
    return t;
  }

  // Replaces about a quarter of v by arbitrary doubles: an array outside the
  // limits (unsorted, NaN, infinities).
  void spoil(std::vector<double> &v) {
    for (auto &e : v)
      if (byte() < 64) e = any_double(nullptr, 0);
  }

 private:
  const uint8_t *p_;
  const uint8_t *end_;
};

// Abscissae: the first 32 decoded, the rest repeating them, so that long
// arrays need no long input.
template <class B>
void fill_abscissae(Reader &in, B &x, const double *anchors, int nanchors) {
  for (long p = 0; p < x.size(); ++p)
    x[p] = p < 32 ? in.any_double(anchors, nanchors) : x[p % 32];
}

// A heap array of exactly n elements (none for n <= 0), so that the
// sanitizer reports any access past either end.
template <class T>
class Buf {
 public:
  explicit Buf(long n) : n_(n > 0 ? n : 0) {
    p_ = static_cast<T *>(std::malloc(static_cast<size_t>(n_) * sizeof(T)));
    if (!p_ && n_ > 0) std::abort();
  }
  ~Buf() { std::free(p_); }
  Buf(const Buf &) = delete;
  Buf &operator=(const Buf &) = delete;

  T *data() { return p_; }
  long size() const { return n_; }
  T &operator[](long k) { return p_[k]; }
  const T &operator[](long k) const { return p_[k]; }
  void fill(T v) { std::fill(p_, p_ + n_, v); }
  std::vector<T> copy() const { return std::vector<T>(p_, p_ + n_); }

 private:
  long n_;
  T *p_;
};

// Whether t[0 .. n-1] is non-decreasing and finite.
inline bool sorted_finite(const double *t, int n) {
  for (int m = 0; m < n; ++m) {
    if (!std::isfinite(t[m])) return false;
    if (m > 0 && !(t[m - 1] <= t[m])) return false;
  }
  return true;
}

// Every in-range block of the reference equals the library's bit for bit.
template <class Ref, class Ints, class Doubles>
void check_in_range_blocks(const Ref &r, const Ints &i, const Ints &j,
                           const Doubles &B, long nx, int order) {
  for (long p = 0; p < nx; ++p) {
    if (!r.in_range[p]) continue;
    for (int q = 0; q < order; ++q) {
      const long e = p * order + q;
      FZ_CHECK(i[e] == r.i[e] && j[e] == r.j[e], p, q);
      FZ_CHECK(same(B[e], r.B[e]), p, q);
    }
  }
}

}  // namespace fz

#endif

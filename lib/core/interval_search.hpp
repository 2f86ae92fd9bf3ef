// Interval search in a sorted array of doubles.  The interval index of a key
// is -1 below arr[0], len above arr[len-1], else the largest m with
// arr[m] <= key.
#ifndef BSBASIS_INTERVAL_SEARCH_HPP
#define BSBASIS_INTERVAL_SEARCH_HPP

#include "core/common.hpp"

namespace bsbasis {

// The exported search (len >= 1): probes the guess and its neighbours,
// narrows to a window of 8 on the side of the key when it can, then bisects.
inline int search_with_guess(double key, const double *arr, int len, int guess) {
  if (arr[0] > key) return -1;
  if (key > arr[len - 1]) return len;
  if (len <= 4) {
    int i = 1;
    while (i < len && key >= arr[i]) ++i;
    return i - 1;
  }
  if (guess > len - 3) guess = len - 3;
  if (guess < 1) guess = 1;
  const int g = guess;

  int imin, imax;
  if (arr[g] > key) {
    if (!(arr[g - 1] > key)) return g - 1;
    imax = g - 1;
    imin = 0;
    if (g > 8 && key >= arr[g - 8]) imin = g - 8;
  } else {
    if (arr[g + 1] > key) return g;
    if (arr[g + 2] > key) return g + 1;
    imin = g + 2;
    imax = len;
    if (g < len - 9 && arr[g + 8] > key) imax = g + 8;
  }
  while (imin < imax) {
    const int imid = imin + ((imax - imin) >> 1);
    if (key >= arr[imid])
      imin = imid + 1;
    else
      imax = imid;
  }
  return imin - 1;
}

// Largest m with t[m] <= key, or -1; branch-free, reads only t[0 .. nt-1]
// (nt >= 1).  For non-decreasing knots this is the interval index of every
// key up to t[nt-1].
BSBASIS_INLINE int search_branch_free(double key, const double *t, int nt) {
  const double *base = t;
  int n = nt;
  while (n > 1) {
    const int half = n >> 1;
    base = base[half] <= key ? base + half : base;
    n -= half;
  }
  return static_cast<int>(base - t) + (*base <= key) - 1;
}

// A guide to the knots t[0 .. top] for calls with many more abscissae than
// knots: [t[0], t[top]] cut into nb equal buckets, and for each bucket b the
// last knot before it, first[b] (the largest m <= top whose bucket is below
// b, or -1).  Buckets are monotone in the key, so for non-decreasing knots
// the interval of a key in bucket b lies in first[b] .. first[b + 1]: one or
// two compares from the start for evenly spread knots, a short bisection
// otherwise.  The vector paths read the same fields lane by lane.
class Guide {
 public:
  // Buckets per usable knot interval.
  static constexpr int kPerInterval = 2;

  // Builds the guide when it pays: its cost, one pass over the knots and
  // the buckets, is small next to nx searches.  ready() tells.
  Guide(const double *t, int top, index_t nx) : t(t), top(top), store_(size(top, nx)) {
    const index_t entries = size(top, nx);
    if (entries == 0 || !store_.data()) return;
    const double lo = t[0], hi = t[top];
    if (!is_finite(lo) || !is_finite(hi) || !(hi > lo)) return;
    const double scale = static_cast<double>(entries - 1) / (hi - lo);
    if (!is_finite(scale) || !(scale > 0)) return;
    t0 = lo;
    inv = scale;
    nb = static_cast<int>(entries - 1);
    int *const f = store_.data();
    int m = 0;
    for (int b = 0; b <= nb; ++b) {
      while (m <= top && bucket(t[m]) < b) ++m;
      f[b] = m - 1;
    }
    first = f;
  }

  bool ready() const { return first != nullptr; }

  // The bucket of x, monotone in x for every finite x (NaN lands in 0).
  BSBASIS_INLINE int bucket(double x) const {
    const double f = (x - t0) * inv;
    return static_cast<int>(f >= nb ? nb - 1.0 : (f >= 0.0 ? f : 0.0));
  }

  // For a finite key: the largest m <= top with t[m] <= key, or -1 below
  // t[0].  Reads only t[0 .. top].
  BSBASIS_INLINE int locate(double key) const {
    const int b = bucket(key);
    const int hi = first[b + 1];
    int J = start(first[b]);
    // Two steps up, without branches: t[J] <= key holds from the start.
    BSBASIS_UNROLL
    for (int s = 0; s < 2; ++s) J = step(key, J, hi);
    return finish(key, J, hi);
  }

  // The parts of locate, for the vector paths.
  BSBASIS_INLINE int start(int f) const { return min_int(max_int(f, 0), top); }
  BSBASIS_INLINE int step(double key, int J, int hi) const {
    const int up = J + (J < hi);
    return t[up] <= key ? up : J;
  }
  BSBASIS_INLINE int finish(double key, int J, int hi) const {
    if (J < hi && t[J + 1] <= key) J = bisect(key, J + 1, hi);
    return key < t[0] ? -1 : J;
  }

  const double *const t;
  const int top;
  double t0 = 0, inv = 0;
  int nb = 0;
  const int *first = nullptr;  // nb + 1 entries

 private:
  // Buckets plus one, or 0 when the guide would not pay.
  static index_t size(int top, index_t nx) {
    const index_t nb = static_cast<index_t>(top) * kPerInterval + 1;
    return top >= 8 && 4 * (nb + top) <= nx ? nb + 1 : 0;
  }

  // Largest m in lo .. hi with t[m] <= key, given t[lo] <= key.
  int bisect(double key, int lo, int hi) const {
    while (lo < hi) {
      const int mid = lo + ((hi - lo + 1) >> 1);
      if (t[mid] <= key)
        lo = mid;
      else
        hi = mid - 1;
    }
    return lo;
  }

  Scratch<int, 1024> store_;
};

}  // namespace bsbasis

#endif

// Knots from data: equally spaced or at (weighted) quantiles, with the
// arithmetic of numpy's linspace and percentile and of the lower weighted
// percentile, so that they match the knots those place to the bit.
#include <math.h>
#include <string.h>

#include "bsbasis.h"
#include "checks.hpp"
#include "core/common.hpp"

namespace bsbasis {
namespace {

struct Sample {
  double x, w;
};

// Value i of numpy's linspace(start, stop, num).
double linspace_at(double start, double stop, index_t num, index_t i) {
  const double delta = stop - start;
  const index_t div = num - 1;
  if (div <= 0) return 0.0 * delta + start;
  if (i == div) return stop;
  const double step = delta / static_cast<double>(div);
  const double fi = static_cast<double>(i);
  // A step that underflows to 0 is applied as numpy does: i/div*delta.
  if (step == 0.0) return fi / static_cast<double>(div) * delta + start;
  return fi * step + start;
}

// Stable merge sort by x: equal abscissae keep their input order.
void merge_sort(Sample *a, Sample *tmp, index_t n) {
  for (index_t w = 1; w < n; w *= 2) {
    for (index_t lo = 0; lo < n; lo += 2 * w) {
      const index_t mid = lo + w < n ? lo + w : n, hi = lo + 2 * w < n ? lo + 2 * w : n;
      index_t p = lo, q = mid, o = lo;
      while (p < mid && q < hi) tmp[o++] = a[q].x < a[p].x ? a[q++] : a[p++];
      while (p < mid) tmp[o++] = a[p++];
      while (q < hi) tmp[o++] = a[q++];
    }
    memcpy(a, tmp, static_cast<size_t>(n) * sizeof(Sample));
  }
}

// What the base knots are computed from.
struct Base {
  int kind;
  index_t n_knots;
  double lo, hi;          // UNIFORM: the ends
  const Sample *s;        // QUANTILE: the samples by x
  const double *cdf;      // weighted QUANTILE: cumulative weights, else null
  index_t ns;
};

// Fraction i of the percentiles 100*linspace(0, 1, n_knots), divided by 100.
double quantile_at(const Base &b, index_t i) {
  return 100.0 * linspace_at(0.0, 1.0, b.n_knots, i) / 100.0;
}

// numpy's percentile, method 'linear'.
double plain_quantile(const Base &b, double q) {
  const double v = static_cast<double>(b.ns - 1) * q;
  index_t lo = static_cast<index_t>(floor(v)), hi = lo + 1;
  if (v >= static_cast<double>(b.ns - 1)) lo = hi = -1;
  const double gamma = v - static_cast<double>(lo);
  const double a = b.s[lo < 0 ? b.ns - 1 : lo].x, c = b.s[hi < 0 ? b.ns - 1 : hi].x;
  const double diff = c - a;
  return gamma >= 0.5 ? c - diff * (1.0 - gamma) : a + diff * gamma;
}

// The lower weighted percentile: the first sample whose cumulative weight
// reaches q times the total (a target of 0 moved just above it).
double weighted_quantile(const Base &b, double q) {
  double target = q * b.cdf[b.ns - 1];
  if (target == 0.0) target = nextafter(target, target + 1.0);
  index_t lo = 0, hi = b.ns;  // first index with cdf >= target
  while (lo < hi) {
    const index_t mid = lo + (hi - lo) / 2;
    if (b.cdf[mid] < target) lo = mid + 1;
    else hi = mid;
  }
  return b.s[lo < b.ns ? lo : b.ns - 1].x;
}

// The ends are the least and the greatest abscissa with weight: the
// weighted percentiles at 0 and 100 are those unless the cumulative
// weights round (a weight below the total's resolution adds nothing).
double base_knot(const Base &b, index_t i) {
  if (b.kind == BSBASIS_KNOTS_UNIFORM) return linspace_at(b.lo, b.hi, b.n_knots, i);
  if (b.cdf && i == 0) return b.s[0].x;
  if (b.cdf && i == b.n_knots - 1) return b.s[b.ns - 1].x;
  const double q = quantile_at(b, i);
  return b.cdf ? weighted_quantile(b, q) : plain_quantile(b, q);
}

// Knot i of the whole sequence: k = order - 1 knots beyond each end.
struct Layout {
  const Base &b;
  index_t k;
  int boundary;
  double first, second, penult, last;
};

double knot(const Layout &L, index_t i) {
  const index_t n = L.b.n_knots, k = L.k;
  const double fk = static_cast<double>(k);
  if (i >= k && i < k + n) return base_knot(L.b, i - k);
  const bool left = i < k;
  if (L.boundary == BSBASIS_BOUNDARY_CLAMPED) return left ? L.first : L.last;
  if (left) {
    const double d = L.second - L.first;
    return linspace_at(L.first - fk * d, L.first - d, k, i);
  }
  const double d = L.last - L.penult;
  return linspace_at(L.last + d, L.last + fk * d, k, i - k - n);
}

// Finite data and weights; the ends of the abscissae with positive weight,
// which must differ; their count to *used.
int check_data(const double *x, index_t nx, const double *w, Base &b, index_t *used) {
  b.lo = INFINITY;
  b.hi = -INFINITY;
  *used = 0;
  for (index_t p = 0; p < nx; ++p) {
    if (!is_finite(x[p])) return BSBASIS_ERROR_DATA;
    if (w && !(is_finite(w[p]) && w[p] >= 0.0)) return BSBASIS_ERROR_DATA;
    if (w && !(w[p] > 0.0)) continue;
    b.lo = x[p] < b.lo ? x[p] : b.lo;
    b.hi = x[p] > b.hi ? x[p] : b.hi;
    ++*used;
  }
  return b.lo < b.hi ? BSBASIS_OK : BSBASIS_ERROR_DATA;
}

// Sorts the samples with positive weight into s (tmp: as many) and, with
// weights, forms their cumulative sum in cdf.
int prepare_quantiles(const double *x, index_t nx, const double *w, Sample *s, Sample *tmp,
                      double *cdf, Base &b) {
  index_t n = 0;
  for (index_t p = 0; p < nx; ++p)
    if (!w || w[p] > 0.0) s[n++] = Sample{x[p], w ? w[p] : 1.0};
  merge_sort(s, tmp, n);
  b.s = s;
  b.ns = n;
  b.cdf = nullptr;
  if (!w) return BSBASIS_OK;
  cdf[0] = s[0].w;
  for (index_t p = 1; p < n; ++p) cdf[p] = cdf[p - 1] + s[p].w;
  b.cdf = cdf;
  return is_finite(cdf[n - 1]) ? BSBASIS_OK : BSBASIS_ERROR_DATA;
}

// Checks that every knot is finite and the base interval not empty, then
// writes them.
int write_knots(const Base &b, int order, int boundary, double *t) {
  const index_t n = b.n_knots;
  const Layout L{b, order - 1, boundary, base_knot(b, 0), base_knot(b, 1),
                 base_knot(b, n - 2), base_knot(b, n - 1)};
  if (!(L.first < L.last)) return BSBASIS_ERROR_DATA;
  const index_t total = n + 2 * L.k;
  for (index_t i = 0; i < total; ++i)
    if (!is_finite(knot(L, i))) return BSBASIS_ERROR_DATA;
  for (index_t i = 0; i < total; ++i) t[i] = knot(L, i);
  return BSBASIS_OK;
}

}  // namespace
}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT int bsbasis_make_knots(const double *x, int64_t nx, const double *weights,
                                      int64_t n_knots, int32_t order, int32_t kind,
                                      int32_t boundary, double *t) {
  int st = check_make_knots(x, nx, n_knots, order, kind, boundary, t);
  if (st != BSBASIS_OK) return st;
  Base b{kind, n_knots, 0.0, 0.0, nullptr, nullptr, 0};
  index_t used = 0;
  st = check_data(x, nx, weights, b, &used);
  if (st != BSBASIS_OK || kind == BSBASIS_KNOTS_UNIFORM)
    return st != BSBASIS_OK ? st : write_knots(b, order, boundary, t);
  if (static_cast<uint64_t>(used) > SIZE_MAX / (2 * sizeof(Sample))) return BSBASIS_ERROR_MEMORY;
  Scratch<Sample, 1> store(2 * static_cast<size_t>(used));
  Scratch<double, 1> cdf(weights ? static_cast<size_t>(used) : 1);
  if (!store.data() || !cdf.data()) return BSBASIS_ERROR_MEMORY;
  st = prepare_quantiles(x, nx, weights, store.data(), store.data() + used, cdf.data(), b);
  return st != BSBASIS_OK ? st : write_knots(b, order, boundary, t);
}

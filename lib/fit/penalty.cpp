// Penalty matrices for penalized splines, in LAPACK's upper band form:
// ab[(u + r - c)*n + c] = A[r][c] for r <= c.
#include <math.h>

#include "bsbasis.h"
#include "checks.hpp"
#include "core/common.hpp"
#include "eval/design.hpp"

namespace bsbasis {
namespace {

constexpr double kPi = 3.141592653589793;
// Basis entries per evaluation call of the derivative penalty.
constexpr index_t kChunkEntries = 65536;

void zero_fill(double *a, index_t n) {
  for (index_t e = 0; e < n; ++e) a[e] = 0.0;
}

// ------------------------------------------------------ difference penalty

// Entry s of a row of the order-d difference matrix: (-1)^(d-s) C(d, s).
int64_t difference_coefficient(int d, int s) {
  int64_t c = 1;
  for (int q = 0; q < s; ++q) c = c * (d - q) / (q + 1);
  return (d - s) % 2 ? -c : c;
}

// (D^T D)[r][c], r <= c: the rows k of D (n - d of them) that reach both.
double difference_entry(index_t n, int d, index_t r, index_t c) {
  const index_t k0 = c - d > 0 ? c - d : 0;
  const index_t k1 = r < n - d - 1 ? r : n - d - 1;
  int64_t s = 0;
  for (index_t k = k0; k <= k1; ++k)
    s += difference_coefficient(d, static_cast<int>(r - k)) *
         difference_coefficient(d, static_cast<int>(c - k));
  return static_cast<double>(s);
}

// ------------------------------------------------------------ Gauss-Legendre

// sin(y) for |y| <= pi/2 by its Taylor series; only a starting guess.
double sin_series(double y) {
  const double y2 = y * y;
  double s = 1.0;
  for (int k = 13; k >= 1; --k) s = 1.0 - y2 / ((2.0 * k) * (2.0 * k + 1.0)) * s;
  return y * s;
}

// P_p(x) to *pp and P_{p-1}(x) to *pm by the three-term recurrence.
void legendre(int p, double x, double *pp, double *pm) {
  double a = 1.0, b = 0.0;  // P_k, P_{k-1}
  for (int k = 1; k <= p; ++k) {
    const double c = ((2.0 * k - 1.0) * x * a - (k - 1.0) * b) / k;
    b = a;
    a = c;
  }
  *pp = a;
  *pm = b;
}

// P_p'(x) from P_p and P_{p-1}, |x| < 1.
double legendre_slope(int p, double x, double pp, double pm) {
  return p * (pm - x * pp) / (1.0 - x * x);
}

// The p nodes (ascending) and weights on [-1, 1]: Newton's method from the
// asymptotic guess, with a fixed stopping rule; the negative half mirrors
// the positive one exactly.
void gauss_legendre(int p, double *node, double *weight) {
  for (int i = 0; i < (p + 1) / 2; ++i) {
    const double theta = kPi * (i + 0.75) / (p + 0.5);
    double x = 2 * i + 1 == p ? 0.0 : sin_series(kPi / 2 - theta);
    double pp, pm;
    for (int it = 0; it < 100 && x != 0.0; ++it) {
      legendre(p, x, &pp, &pm);
      const double dx = pp / legendre_slope(p, x, pp, pm);
      x = x - dx;
      if (fabs(dx) <= 1e-15) break;
    }
    legendre(p, x, &pp, &pm);
    const double slope = legendre_slope(p, x, pp, pm);
    const double w = 2.0 / ((1.0 - x * x) * (slope * slope));
    node[p - 1 - i] = x;
    node[i] = -x;
    weight[p - 1 - i] = w;
    weight[i] = w;
  }
}

// ------------------------------------------------------ derivative penalty

// One call's shape and scratch.
struct Gram {
  const double *t;
  int order, m, p;  // p: nodes per interval
  index_t nj, cap;  // cap: intervals per evaluation call
  double *node, *weight, *x, *W, *B;
  int32_t *j;
};

// The nodes of the non-empty interval J from position at, with their
// weights.  A node that rounds onto the next knot is kept inside J.
void place_nodes(const Gram &g, index_t J, index_t at) {
  const double a = g.t[J], b = g.t[J + 1];
  const double half = 0.5 * (b - a), mid = a + half;
  const double below = nextafter(b, a);
  for (int k = 0; k < g.p; ++k) {
    double x = mid + half * g.node[k];
    x = x < a ? a : x > below ? below : x;
    g.x[at + k] = x;
    g.W[at + k] = g.weight[k] * half;
  }
}

// Adds the nodes' products to the band; columns are those of the window
// starting at column c_off.
void accumulate(const Gram &g, index_t nx, index_t c_off, double *ab) {
  const int o = g.order, u = o - 1;
  const index_t n = g.nj;
  for (index_t q = 0; q < nx; ++q) {
    const double *b = g.B + q * o;
    const index_t c0 = g.j[q * o] + c_off;
    for (int r = 0; r < o; ++r) {
      const double wr = g.W[q] * b[r];
      for (int c = r; c < o; ++c) ab[(u + r - c) * n + c0 + c] += wr * b[c];
    }
  }
}

// The intervals J0 .. J1 (J0 not empty) in one evaluation, on the knots
// that their basis functions reach.
int gram_window(const Gram &g, index_t J0, index_t J1, index_t nx, double *ab) {
  const int o = g.order;
  const double *tw = g.t + (J0 - (o - 1));
  const int st = design(tw, J1 - J0 + 2 * o, o, J1 - J0 + o, g.m,
                        BSBASIS_EXTRAPOLATE_ERROR, g.x, nx, nullptr, g.j, g.B, nullptr);
  if (st == BSBASIS_OK) accumulate(g, nx, J0 - (o - 1), ab);
  return st;
}

int gram(Gram &g, double *ab) {
  gauss_legendre(g.p, g.node, g.weight);
  index_t J = g.order - 1;
  while (J < g.nj) {
    while (J < g.nj && !(g.t[J] < g.t[J + 1])) ++J;
    if (J == g.nj) break;
    const index_t J0 = J;
    index_t count = 0;
    for (; J < g.nj && count < g.cap; ++J)
      if (g.t[J] < g.t[J + 1]) place_nodes(g, J, (count++) * g.p);
    const int st = gram_window(g, J0, J - 1, count * g.p, ab);
    if (st != BSBASIS_OK) return st;
  }
  return BSBASIS_OK;
}

int derivative_penalty_checked(const double *t, int order, index_t nj, int m, double *ab) {
  const int p = order - m;
  const index_t per = static_cast<index_t>(p) * order;
  const index_t cap = per >= kChunkEntries ? 1 : kChunkEntries / per;
  const size_t nx = static_cast<size_t>(cap) * p, entries = static_cast<size_t>(cap) * per;
  Scratch<double, 64> node(2 * static_cast<size_t>(p));
  Scratch<double, 1> x(2 * nx), B(entries);
  Scratch<int32_t, 1> j(entries);
  if (!node.data() || !x.data() || !B.data() || !j.data()) return BSBASIS_ERROR_MEMORY;
  zero_fill(ab, nj * order);
  Gram g{t, order, m, p, nj, cap, node.data(), node.data() + p, x.data(), x.data() + nx,
         B.data(), j.data()};
  return gram(g, ab);
}

}  // namespace
}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT int bsbasis_difference_penalty(int64_t n, int32_t order, double *ab) {
  const int st = check_difference_penalty(n, order, ab);
  if (st != BSBASIS_OK) return st;
  for (index_t c = 0; c < n; ++c)
    for (index_t r = c - order; r <= c; ++r)
      ab[(order + r - c) * n + c] = r < 0 ? 0.0 : difference_entry(n, order, r, c);
  return BSBASIS_OK;
}

BSBASIS_EXPORT int bsbasis_derivative_penalty(const double *t, int64_t nt, int32_t order,
                                              int64_t nj, int32_t m, double *ab) {
  const int st = check_derivative_penalty(t, nt, order, nj, m, ab);
  if (st != BSBASIS_OK) return st;
  if (m >= order) {
    zero_fill(ab, nj * order);
    return BSBASIS_OK;
  }
  return derivative_penalty_checked(t, order, nj, m, ab);
}

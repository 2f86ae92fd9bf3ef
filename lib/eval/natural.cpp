// Natural cubic splines: the cubic B-splines on the boundary knots (four
// times each) and the interior knots, projected onto the functions whose
// second derivative vanishes at both boundary knots, and the export
// bsbasis_natural_design.
//
// The projection is the one of a QR decomposition of the constraint matrix
// C (nb x 2: the second derivatives of the nb B-splines at lo and at hi),
// in the Householder form of LINPACK's dqrdc2: the basis is B Q without
// the first two columns of Q, so its columns are those of that
// parameterisation.  C is zero outside the first and last three columns,
// so Q differs from the identity on a few columns only (the set S below):
// a row meets S only near a boundary knot, and elsewhere it is its B-spline
// block, shifted two columns left.
#include <math.h>

#include "bsbasis.h"
#include "checks.hpp"
#include "core/common.hpp"
#include "eval/design.hpp"

namespace bsbasis {
namespace {

constexpr int kOrder = 4;
constexpr int kWidth = BSBASIS_NATURAL_WIDTH;
constexpr int kMaxS = 6;  // rows 0, 1, and at most three at each end

// The two Householder reflections, restricted to the columns S where they
// act: u[r][a] is reflection r's vector at column s[a], u0[r] its leading
// entry (qraux), and skip[r] whether it is the identity.
struct Projection {
  int nb = 0;     // B-spline columns kept
  int shift = 0;  // 1 when the first B-spline is dropped (no intercept)
  int ns = 0;
  int s[kMaxS] = {};
  double u[2][kMaxS] = {};
  double u0[2] = {0, 0};
  bool skip[2] = {true, true};

  int find(int c) const {
    for (int a = 0; a < ns; ++a)
      if (s[a] == c) return a;
    return -1;
  }
  void add(int c) {
    if (c < 0 || c >= nb || find(c) >= 0 || ns == kMaxS) return;
    int a = ns++;
    for (; a > 0 && s[a - 1] > c; --a) s[a] = s[a - 1];
    s[a] = c;
  }
};

// The knots lo (4 times), the interior knots, hi (4 times).
void augmented_knots(double lo, double hi, const double *knots, int64_t nknots, double *t) {
  for (int q = 0; q < kOrder; ++q) t[q] = lo;
  for (int64_t k = 0; k < nknots; ++k) t[kOrder + k] = knots[k];
  for (int q = 0; q < kOrder; ++q) t[kOrder + nknots + q] = hi;
}

// dqrdc2 on the two columns of C, which are zero off S: column l's
// reflection from its rows l .. nb-1, applied to the column after it.
// x[l][a] is column l at column s[a] of the basis.
void householder(Projection &P, double x[2][kMaxS]) {
  for (int l = 0; l < 2 && l < P.nb - 1; ++l) {
    double ssq = 0.0;
    for (int a = 0; a < P.ns; ++a)
      if (P.s[a] >= l) ssq = ssq + x[l][a] * x[l][a];
    double nrm = sqrt(ssq);
    if (nrm == 0.0) continue;
    const int al = P.find(l);
    if (x[l][al] != 0.0) nrm = copysign(nrm, x[l][al]);
    const double inv = 1.0 / nrm;
    for (int a = 0; a < P.ns; ++a)
      if (P.s[a] >= l) x[l][a] = x[l][a] * inv;
    x[l][al] = 1.0 + x[l][al];
    if (l == 0) {
      double dot = 0.0;
      for (int a = 0; a < P.ns; ++a) dot = dot + x[0][a] * x[1][a];
      const double tt = -dot / x[0][al];
      for (int a = 0; a < P.ns; ++a) x[1][a] = x[1][a] + tt * x[0][a];
    }
    for (int a = 0; a < P.ns; ++a) P.u[l][a] = P.s[a] >= l ? x[l][a] : 0.0;
    P.u0[l] = x[l][al];
    P.skip[l] = false;
  }
}

// The projection of the basis on the augmented knots t: C from the second
// derivatives at lo and hi, then its reflections.
int make_projection(const double *t, int nt, int nj, bool intercept, Projection &P) {
  P.nb = nj - (intercept ? 0 : 1);
  P.shift = intercept ? 0 : 1;
  const double ends[2] = {t[kOrder - 1], t[nj]};
  int32_t j[2 * kOrder];
  double B[2 * kOrder];
  const int st = design_checked(t, nt, kOrder, nj, 2, BSBASIS_EXTRAPOLATE_ZERO, ends, 2, nullptr,
                                j, B, nullptr);
  if (st != BSBASIS_OK) return st;
  // Only the first and last three B-splines have a second derivative at a
  // boundary knot (the interior knots lie strictly inside), so S holds at
  // most six columns and a row at most three of its own besides: it fits
  // in kWidth entries.
  P.add(0);
  P.add(1);
  for (int e = 0; e < 2 * kOrder; ++e) {
    const int c = j[e] - P.shift;
    if (B[e] != 0.0 && (c <= 2 || c >= P.nb - 3)) P.add(c);
  }
  double x[2][kMaxS] = {};
  for (int side = 0; side < 2; ++side)
    for (int q = 0; q < kOrder; ++q) {
      const int a = P.find(j[side * kOrder + q] - P.shift);
      if (a >= 0) x[side][a] = B[side * kOrder + q];
    }
  householder(P, x);
  return BSBASIS_OK;
}

// One row: the B-spline block (columns jb, values b) to at most kWidth
// entries of the natural basis, Q^T applied as dqrsl applies it.
void project_row(const Projection &P, const int32_t *jb, const double *b, int32_t *j,
                 double *B) {
  int n = 0;
  if (jb[0] < 0) {  // an empty row
    for (; n < kWidth; ++n) {
      j[n] = -1;
      B[n] = 0.0;
    }
    return;
  }
  // Most rows lie clear of the first and last three columns, where S is:
  // their block, two columns left.
  const int c0 = jb[0] - P.shift, c3 = jb[kOrder - 1] - P.shift;
  if (c0 > 2 && c3 < P.nb - 3) {
    for (int q = 0; q < kOrder; ++q) {
      j[q] = jb[q] - P.shift - 2;
      B[q] = b[q];
    }
    for (n = kOrder; n < kWidth; ++n) {
      j[n] = -1;
      B[n] = 0.0;
    }
    return;
  }
  double v[kMaxS] = {};
  bool meets = false;
  for (int q = 0; q < kOrder; ++q) {
    const int a = P.find(jb[q] - P.shift);
    if (a >= 0) {
      v[a] = b[q];
      meets = true;
    }
  }
  if (meets)
    for (int r = 0; r < 2; ++r) {
      if (P.skip[r]) continue;
      double dot = 0.0;
      for (int a = 0; a < P.ns; ++a) dot = dot + P.u[r][a] * v[a];
      const double tt = -dot / P.u0[r];
      for (int a = 0; a < P.ns; ++a) v[a] = v[a] + tt * P.u[r][a];
    }
  // Columns in increasing order: S's and the block's others, merged; the
  // first two columns of Q are not in the basis.
  int a = 0;
  for (int q = 0; q <= kOrder; ++q) {
    const int c = q < kOrder ? jb[q] - P.shift : P.nb;
    for (; meets && a < P.ns && P.s[a] < c; ++a)
      if (P.s[a] >= 2) {
        j[n] = P.s[a] - 2;
        B[n++] = v[a];
      }
    if (q == kOrder || c < 0 || P.find(c) >= 0) continue;
    j[n] = c - 2;
    B[n++] = b[q];
  }
  for (; meets && a < P.ns; ++a)
    if (P.s[a] >= 2) {
      j[n] = P.s[a] - 2;
      B[n++] = v[a];
    }
  for (; n < kWidth; ++n) {
    j[n] = -1;
    B[n] = 0.0;
  }
}

}  // namespace

int natural_design(double lo, double hi, const double *knots, int64_t nknots, int32_t intercept,
                   int32_t nu, const double *x, int64_t nx, int32_t *i, int32_t *j, double *B,
                   int64_t *nempty) {
  int st = check_natural(lo, hi, knots, nknots);
  if (st == BSBASIS_OK)
    st = check_call(kWidth, nu, BSBASIS_EXTRAPOLATE_LINEAR, x, nx, i, j, B);
  if (st != BSBASIS_OK) return st;
  const int nt = static_cast<int>(nknots) + 2 * kOrder, nj = nt - kOrder;
  Scratch<double, 256> t(static_cast<size_t>(nt));
  if (!t.data()) return BSBASIS_ERROR_MEMORY;
  augmented_knots(lo, hi, knots, nknots, t.data());
  if (check_basis(t.data(), nt, kOrder, nj) != BSBASIS_OK) return BSBASIS_ERROR_KNOTS;
  Projection P;
  st = make_projection(t.data(), nt, nj, intercept != 0, P);
  if (st != BSBASIS_OK) return st;
  // Blocks a sub-tile at a time, linear beyond the boundary knots as the
  // LINEAR mode continues them, then projected into the caller's arrays.
  const int S = design_sub_tile(kOrder);
  Scratch<int32_t, 1> jb(static_cast<size_t>(S) * kOrder);
  Scratch<double, 1> bb(static_cast<size_t>(S) * kOrder);
  if (!jb.data() || !bb.data()) return BSBASIS_ERROR_MEMORY;
  int64_t empty = 0;
  for (int64_t p0 = 0; p0 < nx; p0 += S) {
    const int n = static_cast<int>(nx - p0 < S ? nx - p0 : S);
    int64_t e = 0;
    st = design_checked(t.data(), nt, kOrder, nj, nu, BSBASIS_EXTRAPOLATE_LINEAR, x + p0, n,
                        nullptr, jb.data(), bb.data(), &e);
    if (st != BSBASIS_OK) return st;
    empty += e;
    for (int m = 0; m < n; ++m) {
      const int64_t at = (p0 + m) * kWidth;
      project_row(P, jb.data() + static_cast<int64_t>(m) * kOrder,
                  bb.data() + static_cast<int64_t>(m) * kOrder, j + at, B + at);
      if (i)
        for (int q = 0; q < kWidth; ++q) i[at + q] = static_cast<int32_t>(p0 + m);
    }
  }
  if (nempty) *nempty = empty;
  return BSBASIS_OK;
}

}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT int bsbasis_natural_design(double lo, double hi, const double *knots,
                                          int64_t nknots, int32_t intercept, int32_t nu,
                                          const double *x, int64_t nx, int32_t *i, int32_t *j,
                                          double *B, int64_t *nempty) {
  return natural_design(lo, hi, knots, nknots, intercept, nu, x, nx, i, j, B, nempty);
}

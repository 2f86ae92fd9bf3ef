// The extension API on decoded arguments; the first byte picks the function:
//   0 bsbasis_design               6 bsbasis_make_knots
//   1 bsbasis_uniform_design       7 bsbasis_strerror
//   2 bsbasis_periodic_design      8 bsbasis_normal_equations
//   3 bsbasis_tensor_design        9 bsbasis_uniform_normal_equations
//   4 bsbasis_difference_penalty  10 bsbasis_evaluate
//   5 bsbasis_derivative_penalty  11 bsbasis_uniform_evaluate
//  12 bsbasis_check_knots         13 bsbasis_natural_design
//  14 bsbasis_blocks_to_dense     15 bsbasis_model_columns
//  16 bsbasis_model_normal_equations
//  17 bsbasis_model_evaluate         18 bsbasis_model_irls
// Then a flag: within the limits of bsbasis.h, or hostile (any counts,
// orders, modes, NULL pointers, knots with NaN, infinities, repeats and huge
// values).  Every array is exactly as large as the arguments claim, so that
// AddressSanitizer reports any access outside it.  Within the limits the
// status is BSBASIS_OK (BSBASIS_ERROR_RANGE for an outside abscissa under
// ERROR) and the evaluations match design_reference.hpp bit for bit;
// outside them the status is an error.  The normal equations and spline
// values are formed from bsbasis_design's rows as bsbasis.h spells out,
// bit for bit, with BSBASIS_ERROR_DATA for the first row of bad data.
#include <float.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "bsbasis.h"
#include "design_reference.hpp"
#include "fuzz_input.hpp"

namespace {

constexpr int64_t kMaxKnots = 4096;
constexpr int64_t kMaxCount = 4096;
constexpr int64_t kMaxEntries = 1 << 16;

// An error status for bad arguments (not RANGE, DATA or MEMORY).
bool argument_error(int st) { return st <= BSBASIS_ERROR_NULL && st >= BSBASIS_ERROR_MODE; }

// Abscissa counts: small, or on either side of one and two sub-tiles.
int64_t some_count(fz::Reader &in) {
  static const int64_t tiles[6] = {511, 512, 513, 1023, 1024, 1025};
  const int v = in.small(0, 35);
  return v < 30 ? v : tiles[v - 30];
}

// Knots within the limits: sorted, from the reader; hostile: spoiled too.
std::vector<double> knots(fz::Reader &in, int64_t nt, bool hostile) {
  std::vector<double> t = in.sorted_knots(static_cast<int>(nt));
  if (hostile && in.flag()) in.spoil(t);
  return t;
}

// Strictly increasing breaks (hostile: spoiled too).
std::vector<double> breaks(fz::Reader &in, int64_t n, bool hostile) {
  std::vector<double> u(n > 0 ? n : 0);
  double v = in.small(-8, 8) * 0.5;
  for (double &e : u) {
    e = v;
    const uint8_t s = in.byte();
    v += s < 240 ? (s % 8 + 1) * 0.125 : (s < 250 ? 1e-300 : 1e300);
  }
  if (hostile && in.flag()) in.spoil(u);
  return u;
}

// The header's rules for a basis on knots.
bool basis_ok(const double *t, int64_t nt, int32_t order, int64_t nj) {
  if (order < 1 || nt < 0 || nt > INT32_MAX || !t) return false;
  if (nt < 2 * static_cast<int64_t>(order) || nj < order || nj > nt - order) return false;
  return ref::usable_knots(std::vector<double>(t, t + nt), order, nj);
}

bool all_in(const double *x, int64_t n, int64_t stride, double lo, double hi) {
  for (int64_t p = 0; p < n; ++p)
    if (!(x[p * stride] >= lo && x[p * stride] <= hi)) return false;
  return true;
}

// The outputs of one evaluation: exact arrays, and what the call is given.
struct Outputs {
  fz::Buf<int32_t> i, j;
  fz::Buf<double> B;
  bool give_i, give_j, give_B, give_nempty;
  int64_t nempty = -5;
  Outputs(fz::Reader &in, int64_t n, bool hostile)
      : i(n), j(n), B(n), give_i(in.flag()), give_j(true), give_B(true),
        give_nempty(in.flag()) {
    i.fill(-77);
    j.fill(-77);
    B.fill(std::numeric_limits<double>::quiet_NaN());
    if (hostile) {
      const uint8_t nulls = in.byte();
      give_j = (nulls & 3) != 0;
      give_B = (nulls & 12) != 0;
    }
  }
  int32_t *pi() { return give_i ? i.data() : nullptr; }
  int32_t *pj() { return give_j ? j.data() : nullptr; }
  double *pB() { return give_B ? B.data() : nullptr; }
  int64_t *pn() { return give_nempty ? &nempty : nullptr; }

  // Against the reference: rows, columns, values (NaN as NaN), *nempty.
  void check(const ref::Rows &r, int64_t nx) {
    const int o = r.order;
    for (int64_t p = 0; p < nx; ++p)
      for (int q = 0; q < o; ++q) {
        const int64_t e = p * o + q;
        FZ_CHECK(i[e] == (give_i ? p : -77), p, q);
        if (r.empty[p]) {
          FZ_CHECK(j[e] == -1 && B[e] == 0.0, p, q);
        } else {
          FZ_CHECK(j[e] == r.j[e], p, j[e]);
          FZ_CHECK(fz::same(B[e], r.B[e]), p, q);
        }
      }
    if (give_nempty) FZ_CHECK(nempty == r.nempty, nempty, r.nempty);
  }
};

// Which rows the header leaves empty: NaN always; outside [lo, hi] all
// under ZERO, the infinities under CONTINUE, LINEAR and PERIODIC (which
// wraps every finite x), none under CONSTANT.
bool documented_empty(int mode, double x, double lo, double hi) {
  if (std::isnan(x)) return true;
  if (x >= lo && x <= hi) return false;
  switch (mode) {
    case BSBASIS_EXTRAPOLATE_ZERO: return true;
    case BSBASIS_EXTRAPOLATE_CONSTANT: return false;
    default: return !std::isfinite(x);
  }
}

void check_empty_rows(const fz::Buf<int32_t> &j, const fz::Buf<double> &x, int order, int mode,
                      double lo, double hi) {
  for (long p = 0; p < x.size(); ++p)
    FZ_CHECK((j[p * order] == -1) == documented_empty(mode, x[p], lo, hi), p, j[p * order]);
}

// A valid call gives OK, or RANGE when `range`; an invalid one an argument
// error.  Returns whether the outputs are to be checked.
bool expect(int st, bool valid, bool range) {
  if (!valid) {
    FZ_CHECK(argument_error(st), st);
    return false;
  }
  FZ_CHECK(st == (range ? BSBASIS_ERROR_RANGE : BSBASIS_OK), st, range);
  return st == BSBASIS_OK;
}

// Abscissae: decoded near the anchors; within the limits under ERROR,
// mostly moved into [lo, hi].
void abscissae(fz::Reader &in, fz::Buf<double> &x, const std::vector<double> &anchors,
               bool clamp, double lo, double hi) {
  fz::fill_abscissae(in, x, anchors.data(), static_cast<int>(anchors.size()));
  if (clamp && in.byte() < 200)
    for (long p = 0; p < x.size(); ++p)
      if (!(x[p] >= lo && x[p] <= hi)) x[p] = (p & 1) ? lo : hi;
}

// ------------------------------------------------------------- design

void design(fz::Reader &in) {
  const bool hostile = in.flag();
  const int32_t order = hostile ? in.any_int(-2, 40) : in.small(1, 10);
  const int64_t nt = hostile ? in.any_count(-2, 80) : 2 * int64_t(order) + in.small(0, 40);
  const int64_t nj = hostile ? in.any_count(-2, 80) : nt - order - in.small(0, nt - 2 * order);
  const int32_t nu = hostile ? in.any_int(-2, 12) : in.small(0, order + 1);
  const int32_t mode = hostile ? in.any_int(-2, 8) : in.small(0, 5);
  const int64_t nx = hostile ? in.any_count(-2, 40) : some_count(in);
  const bool give_t = !hostile || in.byte() >= 16, give_x = !hostile || in.byte() >= 16;
  // Counts past the caps are skipped, except knot counts the header
  // forbids: their (empty) array must not be touched.
  const bool huge_nt = nt > INT32_MAX;
  if ((nt > kMaxKnots && !huge_nt) || nx > kMaxCount || order > kMaxCount) return;
  const int64_t n = order > 0 && nx > 0 ? order * nx : 0;
  if (n > kMaxEntries) return;

  const std::vector<double> tv = huge_nt ? std::vector<double>() : knots(in, nt, hostile);
  fz::Buf<double> t(static_cast<long>(tv.size()));
  std::copy(tv.begin(), tv.end(), t.data());
  const bool basis = !huge_nt && give_t && basis_ok(t.data(), nt, order, nj);
  const double lo = basis ? tv[order - 1] : 0.0, hi = basis ? tv[nj] : 0.0;
  fz::Buf<double> x(nx);
  abscissae(in, x, tv, mode == BSBASIS_EXTRAPOLATE_ERROR && basis, lo, hi);
  Outputs o(in, n, hostile);

  const int st = bsbasis_design(give_t ? t.data() : nullptr, nt, order, nj, nu, mode,
                                give_x ? x.data() : nullptr, nx, o.pi(), o.pj(), o.pB(), o.pn());

  const bool valid = basis && nu >= 0 && mode >= 0 && mode <= 5 && nx >= 0 &&
                     (nx == 0 || (give_x && o.give_j && o.give_B));
  const bool range = mode == BSBASIS_EXTRAPOLATE_ERROR && !all_in(x.data(), nx, 1, lo, hi);
  if (!expect(st, valid, range)) return;
  check_empty_rows(o.j, x, order, mode, lo, hi);
  if (nt * nx > (1 << 20)) return;  // the reference scans the knots per abscissa
  o.check(ref::design(tv, order, static_cast<int>(nj), nu, mode, x.copy()), nx);
}

// ------------------------------------------------------------ uniform

void uniform(fz::Reader &in) {
  static const double origins[8] = {0.0, -3.0, 0.1, 1e6 + 0.3, -2.5e-3, 12345.678, 1e15, -7.5};
  static const double spacings[8] = {1.0, 0.5, 0.1, 1.0 / 3.0, 7.25, 1e-3, 0x1p-20, 2.9};
  const bool hostile = in.flag();
  const int32_t order = hostile ? in.any_int(-2, 40) : in.small(1, 10);
  const double origin = hostile ? in.any_double(origins, 8) : origins[in.small(0, 7)];
  const double spacing = hostile ? in.any_double(spacings, 8) : spacings[in.small(0, 7)];
  const int64_t n = hostile ? in.any_count(-2, 80) : order + in.small(0, 40);
  const int32_t nu = hostile ? in.any_int(-2, 12) : in.small(0, order + 1);
  const int32_t mode = hostile ? in.any_int(-2, 8) : in.small(0, 5);
  const int64_t nx = hostile ? in.any_count(-2, 40) : some_count(in);
  const bool give_x = !hostile || in.byte() >= 16;
  if (nx > kMaxCount || order > kMaxCount) return;
  const int64_t n_entries = order > 0 && nx > 0 ? order * nx : 0;
  if (n_entries > kMaxEntries) return;

  // The header's rules; the resolution of the knots taken as the spacing
  // of doubles at the largest knot, with a margin either side.
  const ref::OnGrid g{origin, spacing, n, order};
  bool grid = order >= 1 && n >= order && n <= INT32_MAX - int64_t(order) &&
              std::isfinite(origin) && std::isfinite(spacing) && spacing > 0.0;
  bool clear = true;
  if (grid) {
    const double last = origin + double(n + order - 1) * spacing;
    const double big = std::max(std::fabs(origin), std::fabs(last));
    const double res = std::nextafter(big, INFINITY) - big;
    grid = std::isfinite(last) && spacing > 2.0 * res;
    clear = !grid || spacing > 8.0 * res;
  }
  std::vector<double> anchors;
  if (grid)
    for (int64_t m : {int64_t(-2), int64_t(0), int64_t(order - 1), int64_t(order), n - 1, n,
                      n + order - 1, n + order + 1})
      anchors.push_back(g.knot(double(m)));
  fz::Buf<double> x(nx);
  abscissae(in, x, anchors, mode == BSBASIS_EXTRAPOLATE_ERROR && grid, grid ? g.lo() : 0.0,
            grid ? g.hi() : 0.0);
  Outputs o(in, n_entries, hostile);

  const int st = bsbasis_uniform_design(origin, spacing, n, order, nu, mode,
                                        give_x ? x.data() : nullptr, nx, o.pi(), o.pj(),
                                        o.pB(), o.pn());

  const bool valid = grid && nu >= 0 && mode >= 0 && mode <= 5 && nx >= 0 &&
                     (nx == 0 || (give_x && o.give_j && o.give_B));
  if (!clear) {  // near the resolution: either answer
    FZ_CHECK(st == BSBASIS_OK || st == BSBASIS_ERROR_RANGE || argument_error(st), st);
    if (st != BSBASIS_OK || !valid) return;
  } else {
    const bool range =
        mode == BSBASIS_EXTRAPOLATE_ERROR && !all_in(x.data(), nx, 1, g.lo(), g.hi());
    if (!expect(st, valid, range)) return;
  }
  check_empty_rows(o.j, x, order, mode, g.lo(), g.hi());
  o.check(ref::uniform_design(origin, spacing, n, order, nu, mode, x.copy()), nx);
}

// ----------------------------------------------------------- periodic

void periodic(fz::Reader &in) {
  const bool hostile = in.flag();
  const int32_t order = hostile ? in.any_int(-2, 40) : in.small(1, 10);
  const int64_t nbreaks = hostile ? in.any_count(-2, 60) : order + 1 + in.small(0, 30);
  const int32_t nu = hostile ? in.any_int(-2, 12) : in.small(0, order + 1);
  const int64_t nx = hostile ? in.any_count(-2, 40) : some_count(in);
  const bool give_u = !hostile || in.byte() >= 16, give_x = !hostile || in.byte() >= 16;
  if (nbreaks > kMaxKnots || nx > kMaxCount || order > kMaxCount) return;
  const int64_t n = order > 0 && nx > 0 ? order * nx : 0;
  if (n > kMaxEntries) return;

  const std::vector<double> uv = breaks(in, nbreaks, hostile);
  fz::Buf<double> u(static_cast<long>(uv.size()));
  std::copy(uv.begin(), uv.end(), u.data());
  bool ok = give_u && order >= 1 && nbreaks >= order + 1;
  for (int64_t q = 0; ok && q < nbreaks; ++q)
    ok = std::isfinite(uv[q]) && (q == 0 || uv[q] > uv[q - 1]);
  if (ok) {
    const std::vector<double> t = ref::periodic_knots(uv, order);
    ok = ref::usable_knots(t, order, nbreaks - 1 + order - 1);
  }
  std::vector<double> anchors = uv;
  if (ok)
    for (double k : {-3.5, 2.25, -1e6})
      anchors.push_back(uv[0] + k * (uv[nbreaks - 1] - uv[0]));
  fz::Buf<double> x(nx);
  abscissae(in, x, anchors, false, 0.0, 0.0);
  Outputs o(in, n, hostile);

  const int st = bsbasis_periodic_design(give_u ? u.data() : nullptr, nbreaks, order, nu,
                                         give_x ? x.data() : nullptr, nx, o.pi(), o.pj(),
                                         o.pB(), o.pn());

  const bool valid =
      ok && nu >= 0 && nx >= 0 && (nx == 0 || (give_x && o.give_j && o.give_B));
  if (!expect(st, valid, false)) return;
  check_empty_rows(o.j, x, order, BSBASIS_EXTRAPOLATE_PERIODIC, uv[0], uv[nbreaks - 1]);
  if (nbreaks * nx > (1 << 20)) return;
  o.check(ref::periodic_design(uv, order, nu, x.copy()), nx);
}

// ------------------------------------------------------------- natural

// Natural splines: validity as the header states it, rows laid out as it
// states (ascending columns below the column count, then padding), empty
// rows for non-finite abscissae, and each row the same alone as in the call.
void natural(fz::Reader &in) {
  const bool hostile = in.flag();
  const int64_t nknots = hostile ? in.any_count(-2, 40) : in.small(0, 12);
  const int32_t nu = hostile ? in.any_int(-2, 6) : in.small(0, 4);
  const int32_t intercept = hostile ? in.any_int(-2, 2) : in.flag();
  const int64_t nx = hostile ? in.any_count(-2, 40) : some_count(in);
  const bool give_k = !hostile || in.byte() >= 16, give_x = !hostile || in.byte() >= 16;
  if (nknots > kMaxKnots || nx > kMaxCount) return;
  const int64_t n = nx > 0 ? nx * BSBASIS_NATURAL_WIDTH : 0;
  if (n > kMaxEntries) return;
  const std::vector<double> all = breaks(in, (nknots > 0 ? nknots : 0) + 2, hostile);
  const double lo = all[0], hi = all[all.size() - 1];
  fz::Buf<double> kn(nknots > 0 ? nknots : 0);
  for (int64_t k = 0; k < nknots; ++k) kn[k] = all[k + 1];
  bool ok = nknots >= 0 && (nknots == 0 || give_k) && std::isfinite(lo) && std::isfinite(hi) &&
            lo < hi;
  for (int64_t k = 0; ok && k < nknots; ++k)
    ok = kn[k] > lo && kn[k] < hi && (k == 0 || kn[k] >= kn[k - 1]);
  if (ok) {
    std::vector<double> t(4, lo);
    for (int64_t k = 0; k < nknots; ++k) t.push_back(kn[k]);
    t.insert(t.end(), 4, hi);
    ok = ref::usable_knots(t, 4, int64_t(t.size()) - 4);
  }
  std::vector<double> anchors = {lo, hi, lo - 1.5, hi + 2.5, (lo + hi) / 2};
  fz::Buf<double> x(nx);
  abscissae(in, x, anchors, false, 0.0, 0.0);
  Outputs o(in, n, hostile);
  const int st = bsbasis_natural_design(lo, hi, give_k ? kn.data() : nullptr, nknots, intercept,
                                        nu, give_x ? x.data() : nullptr, nx, o.pi(), o.pj(),
                                        o.pB(), o.pn());
  const bool valid = ok && nu >= 0 && nx >= 0 && (nx == 0 || (give_x && o.give_j && o.give_B));
  if (!expect(st, valid, false)) return;
  const int64_t cols = nknots + 1 + (intercept != 0);
  int64_t empty = 0;
  for (int64_t p = 0; p < nx; ++p) {
    const int64_t at = p * BSBASIS_NATURAL_WIDTH;
    const bool finite = std::isfinite(x[p]);
    empty += !finite;
    int q = 0;
    for (; q < BSBASIS_NATURAL_WIDTH && o.j[at + q] >= 0; ++q) {
      FZ_CHECK(finite, p);
      FZ_CHECK(o.j[at + q] < cols, p, q);
      FZ_CHECK(q == 0 || o.j[at + q] > o.j[at + q - 1], p, q);
      if (o.give_i) FZ_CHECK(o.i[at + q] == p, p, q);
    }
    FZ_CHECK(!finite || q > 0, p);
    for (; q < BSBASIS_NATURAL_WIDTH; ++q) FZ_CHECK(o.j[at + q] == -1 && o.B[at + q] == 0.0, p, q);
  }
  if (o.give_nempty) FZ_CHECK(o.nempty == empty, o.nempty);
  if (nx == 0) return;
  const int64_t p = nx - 1;
  int32_t j1[BSBASIS_NATURAL_WIDTH];
  double B1[BSBASIS_NATURAL_WIDTH];
  FZ_CHECK(bsbasis_natural_design(lo, hi, kn.data(), nknots, intercept, nu, x.data() + p, 1,
                                  nullptr, j1, B1, nullptr) == BSBASIS_OK, p);
  for (int q = 0; q < BSBASIS_NATURAL_WIDTH; ++q)
    FZ_CHECK(j1[q] == o.j[p * BSBASIS_NATURAL_WIDTH + q] &&
                 fz::same(B1[q], o.B[p * BSBASIS_NATURAL_WIDTH + q]), q);
}

// ------------------------------------------------------------- tensor

void tensor(fz::Reader &in) {
  const bool hostile = in.flag();
  const int32_t d = hostile ? in.any_int(-2, 70) : in.small(1, 3);
  if (d > 70) return;
  const int dd = d > 0 ? d : 0;
  std::vector<std::vector<double>> tv(dd);
  fz::Buf<const double *> tp(dd);
  fz::Buf<int64_t> nt(dd), nj(dd);
  fz::Buf<int32_t> order(dd), nu(dd);
  bool factors = d >= 1 && d <= 64;
  int64_t E = 1, cols = 1;
  bool E_fits = true, cols_fit = true;
  for (int a = 0; a < dd; ++a) {
    order[a] = hostile ? in.any_int(-2, 6) : in.small(1, 4);
    nt[a] = hostile ? in.any_count(-2, 30) : 2 * int64_t(order[a]) + in.small(0, 12);
    nj[a] = hostile ? in.any_count(-2, 30) : nt[a] - order[a] - in.small(0, 1);
    nu[a] = hostile ? in.any_int(-2, 6) : in.small(0, order[a]);
    if (nt[a] > kMaxKnots || order[a] > kMaxCount) return;
    tv[a] = knots(in, nt[a], hostile);
    tp[a] = (hostile && in.byte() < 8) ? nullptr : tv[a].data();
    const bool f = basis_ok(tp[a], nt[a], order[a], nj[a]);
    factors = factors && f;
    if (f) {
      E_fits = E_fits && E <= INT32_MAX / order[a];
      if (E_fits) E *= order[a];
      cols_fit = cols_fit && cols <= INT64_MAX / nj[a];
      if (cols_fit) cols *= nj[a];
    }
  }
  const uint8_t arrays = hostile ? in.byte() : 0;  // bit k: array k NULL
  const bool give_nu = in.flag() && !(arrays & 16);
  const int32_t mode = hostile ? in.any_int(-2, 8) : in.small(0, 5);
  const int64_t npts = hostile ? in.any_count(-2, 40) : some_count(in);
  const uint8_t jsel = in.byte();
  // Within the limits exactly one of j32, j64; hostile: any of the four.
  const bool give_j32 = hostile ? (jsel & 1) : !(jsel & 1);
  const bool give_j64 = hostile ? (jsel & 2) : (jsel & 1);
  if (npts > kMaxCount) return;
  // Entries per row, as the header counts them; a product past the caps
  // (or of a bad order) gets no arrays.
  int64_t E_claim = 1;
  for (int a = 0; a < dd; ++a) {
    if (order[a] <= 0 || E_claim > kMaxEntries / order[a]) {
      E_claim = -1;
      break;
    }
    E_claim *= order[a];
  }
  const int64_t n = E_claim > 0 && npts > 0 ? E_claim * npts : 0;
  if (n > kMaxEntries || (E_claim < 0 && npts > 0 && factors)) return;
  // Points: the first 32 decoded, the rest repeating them.
  fz::Buf<double> x(npts > 0 ? npts * dd : 0);
  for (long k = 0; k < x.size(); ++k) {
    const int a = static_cast<int>(k % dd);
    const long p = k / dd;
    x[k] = p < 32 ? in.any_double(tv[a].data(), static_cast<int>(tv[a].size()))
                  : x[(p % 32) * dd + a];
  }
  bool range = false;
  if (factors && mode == BSBASIS_EXTRAPOLATE_ERROR) {
    if (!hostile && in.byte() < 200)
      for (long k = 0; k < x.size(); ++k) {
        const int a = static_cast<int>(k % dd);
        const double lo = tv[a][order[a] - 1], hi = tv[a][nj[a]];
        if (!(x[k] >= lo && x[k] <= hi)) x[k] = (k & 1) ? lo : hi;
      }
    for (int a = 0; a < dd; ++a)
      range = range || !all_in(x.data() + a, npts, dd, tv[a][order[a] - 1], tv[a][nj[a]]);
  }
  fz::Buf<int32_t> i(n), j32(give_j32 ? n : 0);
  fz::Buf<int64_t> j64(give_j64 ? n : 0);
  fz::Buf<double> B(n);
  i.fill(-77);
  const bool give_i = in.flag(), give_B = !hostile || (arrays & 32) == 0;
  const bool give_x = !hostile || (arrays & 64) == 0;
  int64_t nempty = -5;

  const int st = bsbasis_tensor_design(
      d, (arrays & 1) ? nullptr : tp.data(), (arrays & 2) ? nullptr : nt.data(),
      (arrays & 4) ? nullptr : order.data(), (arrays & 8) ? nullptr : nj.data(),
      give_nu ? nu.data() : nullptr, mode, give_x ? x.data() : nullptr, npts,
      give_i ? i.data() : nullptr, give_j32 ? j32.data() : nullptr,
      give_j64 ? j64.data() : nullptr, give_B ? B.data() : nullptr, &nempty);

  bool valid = factors && (arrays & 15) == 0 && mode >= 0 && mode <= 5 && cols_fit &&
               give_j32 != give_j64 && (!give_j32 || cols <= INT32_MAX) && npts >= 0 &&
               (npts == 0 || (give_x && give_B));
  for (int a = 0; valid && give_nu && a < dd; ++a) valid = nu[a] >= 0;
  if (valid && !E_fits) {  // more entries a row than 32 bits count: either answer
    FZ_CHECK(st == BSBASIS_OK || st == BSBASIS_ERROR_COUNT, st);
    return;
  }
  if (!expect(st, valid, range)) return;

  // The Kronecker product of the factors' rows.
  std::vector<std::vector<int32_t>> fj(dd);
  std::vector<std::vector<double>> fb(dd);
  std::vector<int64_t> fe(dd);
  for (int a = 0; a < dd; ++a) {
    std::vector<double> xa(npts);
    for (int64_t p = 0; p < npts; ++p) xa[p] = x[p * dd + a];
    fj[a].resize(npts * order[a]);
    fb[a].resize(npts * order[a]);
    FZ_CHECK(bsbasis_design(tp[a], nt[a], order[a], nj[a], give_nu ? nu[a] : 0, mode, xa.data(),
                            npts, nullptr, fj[a].data(), fb[a].data(), &fe[a]) == BSBASIS_OK);
  }
  int64_t empty = 0;
  for (int64_t p = 0; p < npts; ++p) {
    bool is_empty = false;
    for (int a = 0; a < dd; ++a) is_empty = is_empty || fj[a][p * order[a]] < 0;
    empty += is_empty;
    std::vector<int64_t> c = {0};
    std::vector<double> v = {1.0};
    for (int a = 0; a < dd; ++a) {
      std::vector<int64_t> c2;
      std::vector<double> v2;
      for (size_t e = 0; e < c.size(); ++e)
        for (int q = 0; q < order[a]; ++q) {
          c2.push_back(c[e] * nj[a] + fj[a][p * order[a] + q]);
          v2.push_back(a == 0 ? fb[a][p * order[a] + q] : v[e] * fb[a][p * order[a] + q]);
        }
      c.swap(c2);
      v.swap(v2);
    }
    for (int64_t e = 0; e < E; ++e) {
      const int64_t at = p * E + e;
      FZ_CHECK(i[at] == (give_i ? p : -77), p, e);
      const int64_t col = give_j32 ? j32[at] : j64[at];
      if (is_empty) {
        FZ_CHECK(col == -1 && B[at] == 0.0, p, e);
      } else {
        FZ_CHECK(col == c[e], p, e);
        FZ_CHECK(fz::same(B[at], v[e]), p, e);
      }
    }
  }
  FZ_CHECK(nempty == empty, nempty, empty);
}

// ---------------------------------------------------------- penalties

void difference_penalty(fz::Reader &in) {
  const bool hostile = in.flag();
  const int64_t n = hostile ? in.any_count(-2, 300) : in.small(1, 200);
  const int32_t order = hostile ? in.any_int(-2, 8) : in.small(1, 4);
  const bool give = !hostile || in.byte() >= 16;
  // Past the cap only counts whose array size overflows: an error.
  if (n > kMaxEntries && !(order >= 1 && n > INT64_MAX / (int64_t(order) + 1))) return;
  const int64_t size = n > 0 && order > 0 && n <= kMaxEntries ? (int64_t(order) + 1) * n : 0;
  if (size > kMaxEntries) return;
  fz::Buf<double> ab(size);
  ab.fill(std::numeric_limits<double>::quiet_NaN());
  const int st = bsbasis_difference_penalty(n, order, give ? ab.data() : nullptr);
  const bool valid = give && n >= 1 && order >= 1 && order <= 4 && size > 0;
  if (!expect(st, valid, false)) return;
  // Band positions outside the matrix hold 0; D annihilates constants, so
  // every row of D^T D sums to 0 (integers: exactly); n <= order gives 0.
  const auto at = [&](int64_t r, int64_t c) {
    return r <= c ? ab[(order + r - c) * n + c] : ab[(order + c - r) * n + r];
  };
  for (int64_t c = 0; c < std::min<int64_t>(n, order); ++c)
    for (int64_t k = 0; k < order - c; ++k) FZ_CHECK(ab[k * n + c] == 0.0, k, c);
  for (int64_t r = 0; r < n; ++r) {
    double sum = 0.0;
    for (int64_t c = std::max<int64_t>(0, r - order); c <= std::min(n - 1, r + order); ++c) {
      FZ_CHECK(n > order || at(r, c) == 0.0, r, c);
      sum += at(r, c);
    }
    FZ_CHECK(sum == 0.0, r);
  }
}

void derivative_penalty(fz::Reader &in) {
  const bool hostile = in.flag();
  const int32_t order = hostile ? in.any_int(-2, 12) : in.small(1, 8);
  const int64_t nt = hostile ? in.any_count(-2, 60) : 2 * int64_t(order) + in.small(0, 30);
  const int64_t nj = hostile ? in.any_count(-2, 60) : nt - order - in.small(0, nt - 2 * order);
  const int32_t m = hostile ? in.any_int(-2, 14) : in.small(0, order);
  const bool give_t = !hostile || in.byte() >= 16, give_ab = !hostile || in.byte() >= 16;
  if (nt > kMaxKnots || order > kMaxCount) return;
  const int64_t size = order > 0 && nj > 0 && nj <= kMaxEntries ? order * nj : 0;
  if (size > kMaxEntries) return;
  const std::vector<double> tv = knots(in, nt, hostile);
  fz::Buf<double> t(static_cast<long>(tv.size()));
  std::copy(tv.begin(), tv.end(), t.data());
  fz::Buf<double> ab(size);
  ab.fill(std::numeric_limits<double>::quiet_NaN());
  const int st = bsbasis_derivative_penalty(give_t ? t.data() : nullptr, nt, order, nj, m,
                                            give_ab ? ab.data() : nullptr);
  const bool valid = give_t && give_ab && m >= 0 && basis_ok(t.data(), nt, order, nj);
  if (!expect(st, valid, false)) return;
  // Band positions outside the matrix hold 0, m >= order gives 0, and the
  // diagonal of a Gram matrix is not negative.
  const int u = order - 1;
  for (int64_t c = 0; c < nj; ++c)
    for (int k = 0; k <= u; ++k) {
      const double v = ab[k * nj + c];
      if (k < u - c || m >= order) FZ_CHECK(v == 0.0, k, c);
      if (k == u) FZ_CHECK(!(v < 0.0), c);
    }
}

// The verdict on a basis: the status of a function that takes it, its rule
// ok exactly when the reference finds the basis usable, and an index that
// points at a knot breaking the rule it names.
void check_knots(fz::Reader &in) {
  const bool hostile = in.flag();
  const int32_t order = hostile ? in.any_int(-2, 12) : in.small(1, 8);
  const int64_t nt = hostile ? in.any_count(-2, 60) : 2 * int64_t(order) + in.small(0, 30);
  const int64_t nj = hostile ? in.any_count(-2, 60) : nt - order - in.small(0, nt - 2 * order);
  const bool give_t = !hostile || in.byte() >= 16;
  if (nt > kMaxKnots || order > kMaxCount) return;
  const std::vector<double> tv = knots(in, nt, hostile);
  fz::Buf<double> t(static_cast<long>(tv.size()));
  std::copy(tv.begin(), tv.end(), t.data());
  fz::Buf<int32_t> rule(1);
  fz::Buf<int64_t> index(1);
  const double *tp = give_t ? t.data() : nullptr;
  const int st = bsbasis_check_knots(tp, nt, order, nj, rule.data(), index.data());
  FZ_CHECK(st == bsbasis_check_knots(tp, nt, order, nj, nullptr, nullptr), st);
  const bool valid = give_t && basis_ok(t.data(), nt, order, nj);
  FZ_CHECK((st == BSBASIS_OK) == valid, st);
  FZ_CHECK((rule[0] == BSBASIS_RULE_NONE) == valid, rule[0]);
  fz::Buf<double> ab(order > 0 && order <= 64 ? 64 * order : 0);
  if (give_t && nj > 0 && nj <= 64 && order > 0 && order <= 64)
    FZ_CHECK(st == bsbasis_derivative_penalty(tp, nt, order, nj, 0, ab.data()), st);
  const int64_t m = index[0];
  switch (rule[0]) {
    case BSBASIS_RULE_NOT_FINITE:
      FZ_CHECK(m >= 0 && m < nt && !std::isfinite(t[m]), m);
      break;
    case BSBASIS_RULE_DECREASING:
      FZ_CHECK(m >= 1 && m < nt && t[m] < t[m - 1], m);
      break;
    case BSBASIS_RULE_TOO_CLOSE:
      FZ_CHECK(m >= 1 && m < nt && t[m] > t[m - 1] && t[m] - t[m - 1] < 1 / DBL_MAX, m);
      break;
    default:
      FZ_CHECK(m == -1, m);
  }
}

// --------------------------------------------------------------- knots

void make_knots(fz::Reader &in) {
  const bool hostile = in.flag();
  const int64_t nx = hostile ? in.any_count(-2, 40) : in.small(0, 40);
  const bool weighted = in.flag();
  const int64_t n_knots = hostile ? in.any_count(-2, 40) : in.small(2, 30);
  const int32_t order = hostile ? in.any_int(-2, 10) : in.small(1, 8);
  const int32_t kind = hostile ? in.any_int(-2, 3) : in.small(0, 1);
  const int32_t boundary = hostile ? in.any_int(-2, 3) : in.small(0, 1);
  const bool give_x = !hostile || in.byte() >= 16, give_t = !hostile || in.byte() >= 16;
  if (nx > kMaxCount || n_knots > kMaxEntries || order > kMaxCount) return;
  const int64_t size = n_knots >= 1 && order >= 1 ? n_knots + 2 * (order - 1) : 0;
  fz::Buf<double> x(nx), w(weighted ? nx : 0), t(size);
  static const double anchors[4] = {0.0, 1.0, -2.5, 1e300};
  for (long p = 0; p < x.size(); ++p) x[p] = p < 48 ? in.any_double(anchors, 4) : x[p % 48];
  for (long p = 0; p < w.size(); ++p) {
    const uint8_t b = in.byte();
    w[p] = hostile && b >= 224 ? in.any_double(nullptr, 0) : (b % 4) * 0.5;
  }
  t.fill(std::numeric_limits<double>::quiet_NaN());
  const int st = bsbasis_make_knots(give_x ? x.data() : nullptr, nx,
                                    weighted ? w.data() : nullptr, n_knots, order, kind,
                                    boundary, give_t ? t.data() : nullptr);

  const bool args = give_t && nx >= 0 && (nx == 0 || give_x) && n_knots >= 2 && order >= 1 &&
                    (kind == 0 || kind == 1) && (boundary == 0 || boundary == 1);
  if (!args) {
    FZ_CHECK(argument_error(st), st);
    return;
  }
  // The data: finite, weights finite and not negative, two distinct
  // abscissae with positive weight.
  bool data = true;
  double lo = INFINITY, hi = -INFINITY;
  for (int64_t p = 0; p < nx; ++p) {
    data = data && std::isfinite(x[p]) && (!weighted || (std::isfinite(w[p]) && w[p] >= 0.0));
    if (!weighted || w[p] > 0.0) {
      lo = std::min(lo, x[p]);
      hi = std::max(hi, x[p]);
    }
  }
  data = data && lo < hi;
  if (!data) {
    FZ_CHECK(st == BSBASIS_ERROR_DATA, st);
    return;
  }
  // Knots past the range of doubles (a span or an extension that
  // overflows) cannot be written: DATA is an answer there too.
  const double span = hi - lo, ext = double(order - 1) * span;
  const bool overflows =
      !std::isfinite(span) || (boundary == BSBASIS_BOUNDARY_EXTENDED &&
                               !(std::isfinite(lo - ext) && std::isfinite(hi + ext)));
  if (overflows && st == BSBASIS_ERROR_DATA) return;
  FZ_CHECK(st == BSBASIS_OK, st);
  // Finite, non-decreasing, the base knots from lo to hi; clamped ends
  // repeat them.
  const int64_t k = order - 1;
  for (int64_t c = 0; c < size; ++c) {
    FZ_CHECK(std::isfinite(t[c]), c);
    if (c > 0) FZ_CHECK(t[c - 1] <= t[c], c);
  }
  FZ_CHECK(t[k] == lo && t[k + n_knots - 1] == hi);
  if (boundary == BSBASIS_BOUNDARY_CLAMPED)
    for (int64_t c = 0; c < k; ++c) FZ_CHECK(t[c] == lo && t[size - 1 - c] == hi, c);
}

// ------------------------------------ normal equations, spline values

constexpr int64_t kMaxRows = 8193;

// Abscissa counts: small, on either side of the sub-tiles of 512, and past
// the design's larger sub-tiles (16384 / order rows, at most 4096).
int64_t row_count(fz::Reader &in) {
  static const int64_t large[10] = {511, 512, 513, 1023, 1024, 1025, 1639, 2049, 4097, 8193};
  const int v = in.small(0, 39);
  return v < 30 ? v : large[v - 30];
}

// A basis on knots (as design() decodes it) or on the uniform grid (as
// uniform() does), with the header's verdict on it.
struct Basis {
  bool on_grid = false;
  int32_t order = 0;
  int64_t nt = 0, cols = 0;  // cols: nj on knots, n on the grid
  std::vector<double> tv;
  std::unique_ptr<fz::Buf<double>> t;
  bool give_t = true;
  double origin = 0.0, spacing = 0.0;
  bool valid = false, clear = true;  // clear: not near the grid's resolution
  double lo = 0.0, hi = 0.0;
  std::vector<double> anchors;

  const double *pt() const { return give_t ? t->data() : nullptr; }

  // The design's rows (no i): what the sums and values are formed from.
  int rows(int32_t nu, int32_t mode, const double *x, int64_t nx, int32_t *j,
           double *B) const {
    if (on_grid)
      return bsbasis_uniform_design(origin, spacing, cols, order, nu, mode, x, nx, nullptr, j,
                                    B, nullptr);
    return bsbasis_design(pt(), nt, order, cols, nu, mode, x, nx, nullptr, j, B, nullptr);
  }
};

// Decodes a basis; false when its arrays would pass the caps.
bool decode_basis(fz::Reader &in, bool on_grid, bool hostile, Basis &b) {
  b.on_grid = on_grid;
  b.order = hostile ? in.any_int(-2, 40) : in.small(1, 10);
  if (b.order > kMaxCount) return false;
  if (on_grid) {
    static const double origins[8] = {0.0, -3.0, 0.1, 1e6 + 0.3, -2.5e-3, 12345.678, 1e15, -7.5};
    static const double spacings[8] = {1.0, 0.5, 0.1, 1.0 / 3.0, 7.25, 1e-3, 0x1p-20, 2.9};
    b.origin = hostile ? in.any_double(origins, 8) : origins[in.small(0, 7)];
    b.spacing = hostile ? in.any_double(spacings, 8) : spacings[in.small(0, 7)];
    b.cols = hostile ? in.any_count(-2, 80) : b.order + in.small(0, 40);
    b.t.reset(new fz::Buf<double>(0));
    const int64_t n = b.cols;
    const int order = b.order;
    bool grid = order >= 1 && n >= order && n <= INT32_MAX - int64_t(order) &&
                std::isfinite(b.origin) && std::isfinite(b.spacing) && b.spacing > 0.0;
    if (grid) {
      const double last = b.origin + double(n + order - 1) * b.spacing;
      const double big = std::max(std::fabs(b.origin), std::fabs(last));
      const double res = std::nextafter(big, INFINITY) - big;
      grid = std::isfinite(last) && b.spacing > 2.0 * res;
      b.clear = !grid || b.spacing > 8.0 * res;
    }
    b.valid = grid;
    if (grid) {
      const ref::OnGrid g{b.origin, b.spacing, n, order};
      b.lo = g.lo();
      b.hi = g.hi();
      for (int64_t m : {int64_t(-2), int64_t(0), int64_t(order - 1), int64_t(order), n - 1, n,
                        n + order - 1, n + order + 1})
        b.anchors.push_back(g.knot(double(m)));
    }
    return true;
  }
  b.nt = hostile ? in.any_count(-2, 80) : 2 * int64_t(b.order) + in.small(0, 40);
  b.cols = hostile ? in.any_count(-2, 80) : b.nt - b.order - in.small(0, b.nt - 2 * b.order);
  b.give_t = !hostile || in.byte() >= 16;
  // A knot count the header forbids gets an empty array, not to be touched.
  const bool huge_nt = b.nt > INT32_MAX;
  if (b.nt > kMaxKnots && !huge_nt) return false;
  if (!huge_nt) b.tv = knots(in, b.nt, hostile);
  b.t.reset(new fz::Buf<double>(static_cast<long>(b.tv.size())));
  std::copy(b.tv.begin(), b.tv.end(), b.t->data());
  b.valid = !huge_nt && b.give_t && basis_ok(b.t->data(), b.nt, b.order, b.cols);
  if (b.valid) {
    b.lo = b.tv[b.order - 1];
    b.hi = b.tv[b.cols];
  }
  b.anchors = b.tv;
  return true;
}

// A response: finite (small, or large enough that its square overflows),
// or any double.
double response(fz::Reader &in, bool any) {
  if (any) return in.any_double(nullptr, 0);
  const uint8_t v = in.byte();
  return v < 240 ? (v - 120) * 0.0625 : (v - 247) * 1e154;
}

// A weight: a small multiple of 1/4 (0 included) or 1e300, or any double
// (negative, -0, NaN, infinite).
double weight(fz::Reader &in, bool any) {
  if (any) return in.any_double(nullptr, 0);
  const uint8_t v = in.byte();
  return v < 248 ? (v % 8) * 0.25 : 1e300;
}

// The first 32 decoded, the rest repeating them.
template <class F>
void fill(fz::Buf<double> &a, F next) {
  for (long k = 0; k < a.size(); ++k) a[k] = k < 32 ? next() : a[k % 32];
}

bool same_bits(const fz::Buf<double> &a, const std::vector<double> &b) {
  return a.size() == long(b.size()) &&
         (a.size() == 0 || std::memcmp(&a[0], b.data(), b.size() * sizeof(double)) == 0);
}

// The sum the header prescribes, up to the sign of a zero: a column the
// rows do not touch may keep -0 rather than -0 + 0.
bool same_sum(double got, double want) {
  return fz::same(got, want) || (got == 0.0 && want == 0.0);
}

// Output prefills: zeros, negative zeros, small values, or some NaN,
// infinite and huge (the outputs only ever get sums added).
void prefill(fz::Buf<double> &a, int style) {
  static const double hostile[5] = {NAN, INFINITY, -DBL_MAX, 0.75, -0.0};
  for (long k = 0; k < a.size(); ++k)
    a[k] = style == 0 ? 0.0
         : style == 1 ? -0.0
         : style == 2 ? double(int(k * 37 % 19) - 9) * 0.25
                      : hostile[k % 5];
}

void normal_equations(fz::Reader &in, bool on_grid) {
  const bool hostile = in.flag();
  Basis b;
  if (!decode_basis(in, on_grid, hostile, b)) return;
  const int32_t order = b.order;
  const int32_t nu = hostile ? in.any_int(-2, 12) : in.small(0, order + 1);
  const int32_t mode = hostile ? in.any_int(-2, 8) : in.small(0, 5);
  const int64_t nx = hostile ? in.any_count(-2, 40) : row_count(in);
  // Which optional pointers are given; hostile: one required one NULL
  // (0 x, 1 ab, 2 sums, 3 count, 4 rhs).
  const uint8_t opt = in.byte();
  const int null_one = hostile && in.byte() >= 160 ? in.small(0, 4) : -1;
  const bool give_y = opt & 1, give_w = opt & 2, give_bad = opt & 4;
  const bool give_rhs = (give_y || (opt & 8)) && null_one != 4;
  const bool give_x = null_one != 0, give_ab = null_one != 1, give_sums = null_one != 2,
             give_count = null_one != 3;
  const uint8_t style = in.byte();
  const bool any_y = style & 1, any_w = style & 2, nan_outside = style & 4;
  const int fill_style = (style >> 3) & 3;
  // Counts past the caps: only without x (then nothing may be read).
  const bool huge_nx = nx > kMaxRows;
  if (huge_nx && give_x) return;
  const int64_t rows_given = huge_nx || nx < 0 ? 0 : nx;
  int64_t ab_size = 0, cols_size = 0;
  if (order >= 1 && b.cols >= 1 && b.cols <= kMaxEntries / order) {
    ab_size = int64_t(order) * b.cols;
    cols_size = b.cols;
  } else if (b.valid) {
    return;  // an array too large to give
  }

  fz::Buf<double> x(rows_given), y(give_y && !huge_nx ? rows_given : 0),
      w(give_w && !huge_nx ? rows_given : 0);
  abscissae(in, x, b.anchors, mode == BSBASIS_EXTRAPOLATE_ERROR && b.valid, b.lo, b.hi);
  fill(y, [&] { return response(in, any_y); });
  fill(w, [&] { return weight(in, any_w); });
  if (nan_outside)
    for (long p = 0; p < y.size(); ++p)
      if (!(x[p] >= b.lo && x[p] <= b.hi)) y[p] = NAN;
  fz::Buf<double> ab(ab_size), rhs(cols_size), sums(2);
  prefill(ab, fill_style);
  prefill(rhs, fill_style);
  prefill(sums, fill_style);
  int64_t count = fill_style * 1000 - 7, bad_row = -7;
  const std::vector<double> ab0 = ab.copy(), rhs0 = rhs.copy(), sums0 = sums.copy();
  const std::vector<double> x0 = x.copy(), y0 = y.copy(), w0 = w.copy(), t0 = b.t->copy();
  const int64_t count0 = count;

  const double *px = give_x ? x.data() : nullptr;
  const double *py = give_y && !huge_nx ? y.data() : nullptr;
  const double *pw = give_w && !huge_nx ? w.data() : nullptr;
  double *pab = give_ab ? ab.data() : nullptr, *prhs = give_rhs ? rhs.data() : nullptr;
  double *psums = give_sums ? sums.data() : nullptr;
  int64_t *pcount = give_count ? &count : nullptr, *pbad = give_bad ? &bad_row : nullptr;
  const int st = on_grid ? bsbasis_uniform_normal_equations(b.origin, b.spacing, b.cols, order,
                                                            nu, mode, px, py, pw, nx, pab, prhs,
                                                            psums, pcount, pbad)
                         : bsbasis_normal_equations(b.pt(), b.nt, order, b.cols, nu, mode, px,
                                                    py, pw, nx, pab, prhs, psums, pcount, pbad);

  // For any arguments: the inputs are read only; a call that fails adds
  // nothing; *bad_row names a row under DATA only.
  FZ_CHECK(same_bits(x, x0) && same_bits(y, y0) && same_bits(w, w0) && same_bits(*b.t, t0));
  if (give_bad) {
    if (st == BSBASIS_ERROR_DATA)
      FZ_CHECK(bad_row >= 0 && bad_row < nx, bad_row, nx);
    else
      FZ_CHECK(bad_row == -1, bad_row, st);
  }
  if (st != BSBASIS_OK) {
    FZ_CHECK(same_bits(ab, ab0) && same_bits(rhs, rhs0) && same_bits(sums, sums0) &&
                 count == count0, st);
  }
  if (!give_y) FZ_CHECK(same_bits(rhs, rhs0), st);  // rhs only with y

  const bool valid = b.valid && nu >= 0 && mode >= 0 && mode <= 5 && nx >= 0 && !huge_nx &&
                     (nx == 0 || give_x) && give_ab && give_sums && give_count &&
                     (!give_y || give_rhs);
  if (!valid) {
    FZ_CHECK(argument_error(st), st);
    return;
  }
  if (!give_y && give_rhs && argument_error(st)) return;  // rhs without y: either answer
  if (!b.clear) {  // near the grid's resolution: either answer
    FZ_CHECK(st == BSBASIS_OK || st == BSBASIS_ERROR_RANGE || st == BSBASIS_ERROR_DATA ||
                 argument_error(st), st);
    if (st != BSBASIS_OK) return;
  }
  const bool range =
      b.clear && mode == BSBASIS_EXTRAPOLATE_ERROR && !all_in(x.data(), nx, 1, b.lo, b.hi);
  if (range) {  // a data fault may be found first
    FZ_CHECK(st == BSBASIS_ERROR_RANGE || st == BSBASIS_ERROR_DATA, st);
    return;
  }

  // The design's rows, and the first row of bad data: a weight negative
  // or not finite, or a response not finite on a row that is not empty.
  std::vector<int32_t> j(size_t(nx) * order);
  std::vector<double> B(size_t(nx) * order);
  FZ_CHECK(b.rows(nu, mode, x.data(), nx, j.data(), B.data()) == BSBASIS_OK);
  int64_t bad = -1;
  for (int64_t p = 0; p < nx && bad < 0; ++p) {
    const bool w_bad = pw && !(w[p] >= 0.0 && std::isfinite(w[p]));
    const bool y_bad = py && !std::isfinite(y[p]) && j[p * order] >= 0;
    if (w_bad || y_bad) bad = p;
  }
  if (bad >= 0) {
    FZ_CHECK(st == BSBASIS_ERROR_DATA, st, bad);
    if (give_bad) FZ_CHECK(bad_row == bad, bad_row, bad);
    return;
  }
  FZ_CHECK(st == BSBASIS_OK, st);

  // One tile (nx < BSBASIS_NORMAL_TILE): sums from zero, row after row,
  // then added to the outputs.
  const int u = order - 1;
  const int64_t n = b.cols;
  std::vector<double> G(size_t(order) * n, 0.0), R(n, 0.0);
  double yty = 0.0, sw = 0.0, bound = 0.0;
  int64_t rows = 0;
  for (int64_t p = 0; p < nx; ++p) {
    const int32_t c0 = j[p * order];
    if (c0 < 0) continue;
    FZ_CHECK(c0 + order <= n, c0, n);
    const double *bp = B.data() + p * order;
    const double wp = pw ? w[p] : 1.0;
    double bm = 0.0;
    for (int a = 0; a < order; ++a) {
      const double wb = wp * bp[a];
      for (int c = a; c < order; ++c) {
        double &g = G[size_t(u + a - c) * n + c0 + c];
        g = g + wb * bp[c];
      }
      if (py) R[c0 + a] = R[c0 + a] + wb * y[p];
      bm = std::isfinite(bp[a]) ? std::max(bm, std::fabs(bp[a])) : INFINITY;
    }
    if (py) yty = yty + (wp * y[p]) * y[p];
    sw = sw + wp;
    ++rows;
    // A bound on the magnitude of every term of the row.
    const double ya = py ? std::fabs(y[p]) : 0.0;
    bound = bound + (wp * bm * std::max(bm, ya) + wp * ya * ya + wp);
  }
  for (long e = 0; e < ab.size(); ++e) FZ_CHECK(same_sum(ab[e], ab0[e] + G[e]), e);
  for (long c = 0; c < rhs.size(); ++c)
    FZ_CHECK(py ? same_sum(rhs[c], rhs0[c] + R[c]) : fz::bits(rhs[c]) == fz::bits(rhs0[c]), c);
  FZ_CHECK(py ? same_sum(sums[0], sums0[0] + yty) : fz::bits(sums[0]) == fz::bits(sums0[0]));
  FZ_CHECK(same_sum(sums[1], sums0[1] + sw));
  FZ_CHECK(count - count0 == rows && rows >= 0 && rows <= nx, count - count0, rows);

  // Finite prefills, finite rows and terms well inside the range of
  // doubles: every output stays finite (no inf - inf, no 0 * inf).
  double pre = 0.0;
  for (const std::vector<double> *v : {&ab0, &rhs0, &sums0})
    for (double e : *v) pre = std::isfinite(e) ? std::max(pre, std::fabs(e)) : INFINITY;
  if (pre < DBL_MAX / 8 && bound < DBL_MAX / 8) {
    for (long e = 0; e < ab.size(); ++e) FZ_CHECK(std::isfinite(ab[e]), e);
    for (long c = 0; c < rhs.size(); ++c) FZ_CHECK(std::isfinite(rhs[c]), c);
    FZ_CHECK(std::isfinite(sums[0]) && std::isfinite(sums[1]));
  }
}

void evaluate(fz::Reader &in, bool on_grid) {
  const bool hostile = in.flag();
  Basis b;
  if (!decode_basis(in, on_grid, hostile, b)) return;
  const int32_t order = b.order;
  const int32_t nu = hostile ? in.any_int(-2, 12) : in.small(0, order + 1);
  const int32_t mode = hostile ? in.any_int(-2, 8) : in.small(0, 5);
  const int64_t nx = hostile ? in.any_count(-2, 40) : row_count(in);
  // Hostile: one pointer NULL (0 x, 1 c, 2 out).
  const int null_one = hostile && in.byte() >= 160 ? in.small(0, 2) : -1;
  const bool give_x = null_one != 0, give_c = null_one != 1, give_out = null_one != 2;
  const bool any_c = in.flag();
  const bool huge_nx = nx > kMaxRows;
  if (huge_nx && give_x) return;
  const int64_t rows_given = huge_nx || nx < 0 ? 0 : nx;
  int64_t cols_size = 0;
  if (b.cols >= 1 && b.cols <= kMaxEntries)
    cols_size = b.cols;
  else if (b.valid)
    return;

  fz::Buf<double> x(rows_given), c(cols_size), out(rows_given);
  abscissae(in, x, b.anchors, mode == BSBASIS_EXTRAPOLATE_ERROR && b.valid, b.lo, b.hi);
  fill(c, [&] { return response(in, any_c); });
  // A value no row gives, so that a row left unwritten shows.
  const double unwritten = std::nextafter(-1234.5, 0.0);
  out.fill(unwritten);
  const std::vector<double> x0 = x.copy(), c0 = c.copy(), t0 = b.t->copy();

  const double *px = give_x ? x.data() : nullptr, *pc = give_c ? c.data() : nullptr;
  double *pout = give_out ? out.data() : nullptr;
  const int st = on_grid ? bsbasis_uniform_evaluate(b.origin, b.spacing, b.cols, order, nu, mode,
                                                    pc, px, nx, pout)
                         : bsbasis_evaluate(b.pt(), b.nt, order, b.cols, nu, mode, pc, px, nx,
                                            pout);

  FZ_CHECK(same_bits(x, x0) && same_bits(c, c0) && same_bits(*b.t, t0));
  const bool valid = b.valid && nu >= 0 && mode >= 0 && mode <= 5 && nx >= 0 && !huge_nx &&
                     give_c && (nx == 0 || (give_x && give_out));
  if (!valid) {
    FZ_CHECK(argument_error(st), st);
    return;
  }
  if (!b.clear) {
    FZ_CHECK(st == BSBASIS_OK || st == BSBASIS_ERROR_RANGE || argument_error(st), st);
    if (st != BSBASIS_OK) return;
  } else {
    const bool range =
        mode == BSBASIS_EXTRAPOLATE_ERROR && !all_in(x.data(), nx, 1, b.lo, b.hi);
    if (!expect(st, valid, range)) return;
  }
  // out[p] = ((b_0*c_0 + b_1*c_1) + ...) over the row's columns; 0 on an
  // empty row.
  std::vector<int32_t> j(size_t(nx) * order);
  std::vector<double> B(size_t(nx) * order);
  FZ_CHECK(b.rows(nu, mode, x.data(), nx, j.data(), B.data()) == BSBASIS_OK);
  for (int64_t p = 0; p < nx; ++p) {
    const int32_t *jp = j.data() + p * order;
    const double *bp = B.data() + p * order;
    if (jp[0] < 0) {
      FZ_CHECK(out[p] == 0.0, p);
      continue;
    }
    double v = bp[0] * c[jp[0]];
    for (int q = 1; q < order; ++q) v = v + bp[q] * c[jp[q]];
    FZ_CHECK(fz::same(out[p], v), p);
  }
}

void strerror_any(fz::Reader &in) {
  int code = 0;
  for (int b = 0; b < 4; ++b) code = int(unsigned(code) << 8 | in.byte());
  const char *s = bsbasis_strerror(in.flag() ? code : code % 12);
  FZ_CHECK(s && s[0] != '\0', code);
}

// Dense rows from blocks, into a buffer exactly as large as the strides
// claim; hostile strides included, rows may overlap.  The rows are replayed
// in order on a copy: a window of zeros, then the entries added.
void blocks_to_dense(fz::Reader &in) {
  const int order = in.small(0, 9);
  const int64_t nx = in.small(0, 40), ncols = in.small(0, 24);
  int64_t rs, cs;
  switch (in.byte() % 3) {
    case 0: rs = ncols + in.small(0, 3), cs = 1; break;  // row-major
    case 1: rs = 1, cs = nx + in.small(0, 3); break;     // column-major
    default: rs = in.small(-1, 5), cs = in.small(-1, 5); break;
  }
  const int64_t n = nx * (order > 0 ? order : 0);
  fz::Buf<int32_t> j(n);
  fz::Buf<double> B(n);
  static const double anchors[] = {0.0, 1.0, -0.5};
  for (int64_t e = 0; e < n; ++e) {
    j[e] = in.small(-2, int(ncols) + 2);
    B[e] = in.any_double(anchors, 3);
  }
  const bool valid = order >= 1 && rs >= 0 && cs >= 1;
  const int64_t size = valid && nx > 0 && ncols > 0 ? (nx - 1) * rs + (ncols - 1) * cs + 1 : 0;
  fz::Buf<double> out(size);
  out.fill(-7.0);
  std::vector<double> want = out.copy();
  const int st = bsbasis_blocks_to_dense(order, j.data(), B.data(), nx, ncols, out.data(), rs, cs);
  if (!valid) {
    FZ_CHECK(st != BSBASIS_OK, st);
    return;
  }
  FZ_CHECK(st == BSBASIS_OK, st);
  for (int64_t p = 0; p < nx && ncols > 0; ++p) {
    for (int64_t c = 0; c < ncols; ++c) want[p * rs + c * cs] = 0.0;
    for (int q = 0; q < order; ++q) {
      const int64_t c = j[p * order + q];
      if (c >= 0 && c < ncols) want[p * rs + c * cs] = want[p * rs + c * cs] + B[p * order + q];
    }
  }
  for (int64_t e = 0; e < size; ++e) FZ_CHECK(fz::same(out[e], want[e]), e);
}

// ---------------------------------------------------------------- models

// One margin as decoded, with its arrays and the header's verdict on it.
struct ModelMargin {
  Basis b;                // KNOTS and UNIFORM
  std::vector<double> u;  // PERIODIC: the breaks
  std::unique_ptr<fz::Buf<double>> ub;
  bsbasis_margin m{};
  bool valid = false;
  int64_t width = 0;
};

// A term as decoded: its margins in an array exactly as long as d claims
// (three when d is out of range: the library must not read them).
struct ModelTerm {
  bsbasis_term t{};
  std::vector<std::unique_ptr<ModelMargin>> margins;
  std::unique_ptr<fz::Buf<bsbasis_margin>> array;
  bool valid = false;
  int64_t width = 0, entries = 0;
};

bool decode_margin(fz::Reader &in, bool hostile, int64_t ncols, ModelMargin &g) {
  const int kind = hostile ? in.any_int(-1, 3) : in.small(0, 2);
  bsbasis_margin &m = g.m;
  m.kind = kind;
  if (kind == BSBASIS_MARGIN_PERIODIC) {
    m.order = hostile ? in.any_int(-2, 8) : in.small(1, 5);
    m.nt = hostile ? in.any_count(-2, 14) : m.order + 1 + in.small(0, 6);
    if (m.nt > kMaxKnots) return false;
    g.u = breaks(in, m.nt, hostile);
    g.ub.reset(new fz::Buf<double>(long(g.u.size())));
    std::copy(g.u.begin(), g.u.end(), g.ub->data());
    m.t = hostile && in.byte() < 16 ? nullptr : g.ub->data();
    m.nj = in.small(-3, 3);             // not read
    m.extrapolate = in.any_int(-2, 9);  // not read
  } else if (kind == BSBASIS_MARGIN_KNOTS || kind == BSBASIS_MARGIN_UNIFORM) {
    if (!decode_basis(in, kind == BSBASIS_MARGIN_UNIFORM, hostile, g.b)) return false;
    m.order = g.b.order;
    m.t = g.b.pt();
    m.nt = g.b.nt;
    m.nj = g.b.cols;
    m.origin = g.b.origin;
    m.spacing = g.b.spacing;
    m.extrapolate = hostile ? in.any_int(-2, 8) : in.small(0, 5);
  } else {
    m.order = in.small(1, 4);
  }
  m.nu = hostile ? in.any_int(-2, 6) : in.small(0, m.order + 1);
  m.column =
      hostile ? in.any_count(-1, int(std::min<int64_t>(ncols, 8))) : in.small(0, int(ncols) - 1);
  bool ok = m.nu >= 0 && m.column >= 0 && m.column < ncols;
  if (kind == BSBASIS_MARGIN_PERIODIC) {
    // The periodic design decides on the breaks, its knots included.
    ok = ok && bsbasis_periodic_design(m.t, m.nt, m.order, m.nu, nullptr, 0, nullptr, nullptr,
                                       nullptr, nullptr) == BSBASIS_OK;
    g.width = m.nt - 1;
  } else if (kind == BSBASIS_MARGIN_KNOTS || kind == BSBASIS_MARGIN_UNIFORM) {
    ok = ok && g.b.valid && m.extrapolate >= 0 && m.extrapolate <= 5;
    g.width = m.nj;
  } else {
    ok = false;
  }
  g.valid = ok;
  return true;
}

bool decode_term(fz::Reader &in, bool hostile, int64_t ncols, ModelTerm &u) {
  bsbasis_term &t = u.t;
  t.kind = hostile ? in.any_int(-1, 4) : in.small(0, 3);
  t.column =
      hostile ? in.any_count(-1, int(std::min<int64_t>(ncols, 8))) : in.small(0, int(ncols) - 1);
  t.nlevels = hostile ? in.any_count(-1, 5) : in.small(1, 5);
  const bool column_ok = t.column >= 0 && t.column < ncols;
  u.entries = 1;
  switch (t.kind) {
    case BSBASIS_TERM_INTERCEPT:
      u.valid = true, u.width = 1;
      return true;
    case BSBASIS_TERM_LINEAR:
      u.valid = column_ok, u.width = 1;
      return true;
    case BSBASIS_TERM_FACTOR:
      u.valid = column_ok && t.nlevels >= 1, u.width = t.nlevels;
      return true;
    case BSBASIS_TERM_SPLINE:
      break;
    default:
      u.valid = false;
      return true;
  }
  t.d = hostile ? in.any_int(-1, 4) : in.small(1, 3);
  const int n = t.d >= 1 && t.d <= 3 ? t.d : 3;
  u.array.reset(new fz::Buf<bsbasis_margin>(n));
  u.valid = t.d >= 1 && t.d <= 3;
  u.width = 1;
  for (int a = 0; a < n; ++a) {
    u.margins.emplace_back(new ModelMargin);
    if (!decode_margin(in, hostile, ncols, *u.margins.back())) return false;
    (*u.array)[a] = u.margins.back()->m;
    const ModelMargin &g = *u.margins.back();
    if (a < t.d && u.valid) {
      u.valid = g.valid && g.width >= 1 && u.width <= INT64_MAX / g.width &&
                u.entries <= INT32_MAX / g.m.order;
      if (u.valid) u.width *= g.width, u.entries *= g.m.order;
    }
  }
  t.margins = hostile && in.byte() < 16 ? nullptr : u.array->data();
  u.valid = u.valid && t.margins;
  return true;
}

// A margin's rows at a column of the table, by its design function.
int margin_rows(const ModelMargin &g, const std::vector<double> &x, std::vector<int32_t> &j,
                std::vector<double> &B) {
  const bsbasis_margin &m = g.m;
  const int64_t n = int64_t(x.size());
  j.assign(n * m.order, 0);
  B.assign(n * m.order, 0.0);
  if (m.kind == BSBASIS_MARGIN_PERIODIC)
    return bsbasis_periodic_design(m.t, m.nt, m.order, m.nu, x.data(), n, nullptr, j.data(),
                                   B.data(), nullptr);
  return g.b.rows(m.nu, m.extrapolate, x.data(), n, j.data(), B.data());
}

// The model's rows as bsbasis.h builds them from the designs: per row, the
// entries' columns and values in column order.
struct ModelRows {
  std::vector<std::vector<int64_t>> c;
  std::vector<std::vector<double>> v;
};

void model_rows(const std::vector<ModelTerm> &terms, const fz::Buf<double> &x, int64_t nrows,
                int64_t rs, int64_t cs, ModelRows &r) {
  r.c.assign(nrows, {});
  r.v.assign(nrows, {});
  auto at = [&](int64_t p, int64_t c) { return x[long(p * rs + c * cs)]; };
  int64_t off = 0;
  for (const ModelTerm &u : terms) {
    const bsbasis_term &t = u.t;
    if (t.kind != BSBASIS_TERM_SPLINE) {
      for (int64_t p = 0; p < nrows; ++p) {
        const double v = t.kind == BSBASIS_TERM_INTERCEPT ? 1.0 : at(p, t.column);
        const int64_t c = t.kind == BSBASIS_TERM_FACTOR ? int64_t(v) : 0;
        r.c[p].push_back(off + c);
        r.v[p].push_back(t.kind == BSBASIS_TERM_LINEAR ? v : 1.0);
      }
      off += u.width;
      continue;
    }
    // The Kronecker product of the margins' blocks, last fastest.
    std::vector<std::vector<int64_t>> kc(nrows, std::vector<int64_t>{0});
    std::vector<std::vector<double>> kv(nrows, std::vector<double>{1.0});
    std::vector<bool> empty(nrows, false);
    for (int a = 0; a < t.d; ++a) {
      const ModelMargin &g = *u.margins[a];
      std::vector<double> xc(nrows);
      for (int64_t p = 0; p < nrows; ++p) xc[p] = at(p, g.m.column);
      std::vector<int32_t> j;
      std::vector<double> B;
      FZ_CHECK(margin_rows(g, xc, j, B) == BSBASIS_OK, a);
      const int o = g.m.order;
      for (int64_t p = 0; p < nrows; ++p) {
        empty[p] = empty[p] || j[p * o] < 0;
        std::vector<int64_t> nc;
        std::vector<double> nv;
        for (size_t e = 0; e < kc[p].size(); ++e)
          for (int q = 0; q < o; ++q) {
            nc.push_back(kc[p][e] * g.width + j[p * o + q]);
            // The first margin's value as it is; then ((b0*b1)*b2).
            nv.push_back(a == 0 ? B[p * o + q] : kv[p][e] * B[p * o + q]);
          }
        kc[p].swap(nc);
        kv[p].swap(nv);
      }
    }
    for (int64_t p = 0; p < nrows; ++p) {
      if (empty[p]) continue;
      for (size_t e = 0; e < kc[p].size(); ++e) {
        r.c[p].push_back(off + kc[p][e]);
        r.v[p].push_back(kv[p][e]);
      }
    }
    off += u.width;
  }
}

// The header's first fault of the data (rows, then terms, weight,
// response), or OK; *row and *term as the call reports them.
int model_fault(const std::vector<ModelTerm> &terms, const fz::Buf<double> &x, int64_t nrows,
                int64_t rs, int64_t cs, const double *y, const double *w, int64_t *row,
                int64_t *term) {
  auto at = [&](int64_t p, int64_t c) { return x[long(p * rs + c * cs)]; };
  for (int64_t p = 0; p < nrows; ++p) {
    for (size_t k = 0; k < terms.size(); ++k) {
      const bsbasis_term &t = terms[k].t;
      int st = BSBASIS_OK;
      if (t.kind == BSBASIS_TERM_LINEAR && !std::isfinite(at(p, t.column))) st = BSBASIS_ERROR_DATA;
      if (t.kind == BSBASIS_TERM_FACTOR) {
        const double v = at(p, t.column);
        if (!(v >= 0.0 && v < double(t.nlevels) && v == std::floor(v))) st = BSBASIS_ERROR_DATA;
      }
      if (t.kind == BSBASIS_TERM_SPLINE) {
        bool finite = true, in = true;
        for (int a = 0; a < t.d; ++a) {
          const ModelMargin &g = *terms[k].margins[a];
          const double v = at(p, g.m.column);
          finite = finite && std::isfinite(v);
          if (g.m.kind != BSBASIS_MARGIN_PERIODIC && g.m.extrapolate == BSBASIS_EXTRAPOLATE_ERROR)
            in = in && v >= g.b.lo && v <= g.b.hi;
        }
        st = !finite ? BSBASIS_ERROR_DATA : in ? BSBASIS_OK : BSBASIS_ERROR_RANGE;
      }
      if (st != BSBASIS_OK) {
        *row = p, *term = int64_t(k);
        return st;
      }
    }
    if ((w && !(std::isfinite(w[p]) && w[p] >= 0.0)) || (y && !std::isfinite(y[p]))) {
      *row = p, *term = -1;
      return BSBASIS_ERROR_DATA;
    }
  }
  *row = *term = -1;
  return BSBASIS_OK;
}

// bsbasis_model_columns, bsbasis_model_normal_equations (sums) or
// bsbasis_model_evaluate on a decoded model of up to 5 terms over a table
// of up to 4 columns, row- or column-major or with any small strides.
// Within the limits the result is what bsbasis.h spells out from the
// designs' rows, bit for bit, or the first fault of the data; outside them
// an argument error, with nothing written.
void model(fz::Reader &in, int which) {
  const bool hostile = in.flag();
  const int64_t ncols = hostile ? in.any_count(-1, 4) : in.small(1, 4);
  const int64_t nterms = hostile ? in.any_count(-1, 5) : in.small(0, 5);
  if (nterms > 5 || ncols > int64_t(1) << 40) return;
  std::vector<ModelTerm> terms(nterms > 0 ? nterms : 0);
  bool valid = nterms >= 0 && ncols >= 0;
  int64_t P = 0, K = 0;
  for (ModelTerm &u : terms) {
    if (!decode_term(in, hostile, ncols, u)) return;
    valid = valid && u.valid && u.width <= INT64_MAX - P;
    if (valid) P += u.width, K += u.entries;
  }
  fz::Buf<bsbasis_term> tarr(long(terms.size()));
  for (size_t k = 0; k < terms.size(); ++k) tarr[long(k)] = terms[k].t;
  const bsbasis_term *tp = hostile && in.byte() < 16 ? nullptr : tarr.data();
  valid = valid && (tp || nterms == 0);

  if (which == 0) {
    int64_t p = -7, bad_term = -7;
    const bool give_p = !hostile || in.byte() >= 16;
    const int st = bsbasis_model_columns(tp, nterms, ncols, give_p ? &p : nullptr, &bad_term);
    if (valid && give_p) {
      FZ_CHECK(st == BSBASIS_OK && p == P && bad_term == -1, st, p);
    } else {
      FZ_CHECK(argument_error(st) || st == BSBASIS_ERROR_MEMORY, st);
      FZ_CHECK(p == -7 && (bad_term == -1 || (bad_term >= 0 && bad_term < nterms)), bad_term);
    }
    return;
  }

  int64_t nrows = hostile ? in.any_count(-2, 40) : row_count(in);
  int64_t rs = 0, cs = 0;
  const int64_t nr = std::clamp<int64_t>(nrows, 0, 1 << 20),
                nc = std::clamp<int64_t>(ncols, 0, 1 << 20);
  switch (in.byte() % (hostile ? 3 : 2)) {
    case 0:
      rs = nc + in.small(0, 2), cs = 1;
      break;
    case 1:
      rs = 1, cs = nr + in.small(0, 2);
      break;
    default:
      rs = in.any_count(-1, 6), cs = in.any_count(-1, 6);
      break;
  }
  // Tables too large to give are not given: x NULL (with rows, an error).
  bool huge = nrows > kMaxRows || (nrows > 0 && (ncols > 64 || rs > 1 << 20 || cs > 1 << 20));
  if (!huge && nrows > 0 && ncols > 0 && rs >= 0 && cs >= 0)
    huge = (nrows - 1) * rs + (ncols - 1) * cs >= int64_t(1) << 22;
  // The table: exactly as large as the strides claim.
  long size = 0;
  if (!huge && nrows > 0 && ncols > 0 && rs >= 0 && cs >= 0)
    size = long((nrows - 1) * rs + (ncols - 1) * cs + 1);
  valid = valid && !huge && nrows >= 0 && rs >= 0 && cs >= 0;
  if (valid && (P > 256 || K * K * nrows > (int64_t(1) << 22))) return;  // too slow to check
  fz::Buf<double> x(size);
  std::vector<double> anchors = {0.0, 1.0, 2.0, 3.0, -1.0, 0.5};
  for (const ModelTerm &u : terms)
    for (const auto &g : u.margins)
      anchors.insert(anchors.end(), g->b.anchors.begin(), g->b.anchors.end());
  for (const ModelTerm &u : terms)
    for (const auto &g : u.margins) anchors.insert(anchors.end(), g->u.begin(), g->u.end());
  // Clean data (mostly): levels 0 .. 4, and knots and breaks a little
  // moved; else any doubles too.
  const bool clean = !hostile && in.byte() < 192;
  for (long k = 0; k < x.size(); ++k) {
    if (k >= 64) {
      x[k] = x[k % 64];
      continue;
    }
    const uint8_t s = in.byte();
    if (clean)
      x[k] = s < 80 ? double(s % 5) : anchors[s % anchors.size()] + 0.125 * (s >> 6);
    else
      x[k] = s < 96 ? double(in.small(-1, 4)) : in.any_double(anchors.data(), int(anchors.size()));
  }
  const bool give_x = !huge && (size > 0 || !hostile || in.byte() >= 32);
  const double *px = give_x ? x.data() : nullptr;
  valid = valid && (nrows == 0 || px);

  const int64_t rows_given = huge || nrows < 0 ? 0 : nrows;
  const int64_t Pg = valid ? P : 1;
  const uint8_t opt = in.byte();
  const bool give_y = opt & 1, give_w = opt & 2, give_rhs = give_y || (opt & 8);
  const int null_one = hostile && in.byte() >= 160 ? in.small(0, 3) : -1;
  const uint8_t style = in.byte();
  fz::Buf<double> y(give_y ? rows_given : 0), w(give_w ? rows_given : 0);
  // Any responses and weights in hostile calls only: bad data is found by
  // the table already.
  fill(y, [&] { return response(in, hostile && (style & 1)); });
  fill(w, [&] { return weight(in, hostile && (style & 2)); });
  const double *py = give_y && rows_given ? y.data() : (give_y && nrows == 0 ? y.data() : nullptr);
  const double *pw = give_w && rows_given ? w.data() : nullptr;
  const std::vector<double> x0 = x.copy(), y0 = y.copy(), w0 = w.copy();
  int64_t bad_row = -7, bad_term = -7;

  if (which == 1) {
    fz::Buf<double> G(Pg * Pg), rhs(Pg), sums(2);
    prefill(G, (style >> 3) & 3);
    prefill(rhs, (style >> 3) & 3);
    prefill(sums, (style >> 3) & 3);
    int64_t count = 5;
    const std::vector<double> G0 = G.copy(), rhs0 = rhs.copy(), sums0 = sums.copy();
    double *pG = null_one == 0 ? nullptr : G.data(),
           *prhs = give_rhs && null_one != 1 ? rhs.data() : nullptr;
    double *psums = null_one == 2 ? nullptr : sums.data();
    int64_t *pcount = null_one == 3 ? nullptr : &count;
    const int st = bsbasis_model_normal_equations(tp, nterms, px, nrows, ncols, rs, cs, py, pw, pG,
                                                  prhs, psums, pcount, &bad_row, &bad_term);
    FZ_CHECK(same_bits(x, x0) && same_bits(y, y0) && same_bits(w, w0));
    if (st != BSBASIS_OK)
      FZ_CHECK(same_bits(G, G0) && same_bits(rhs, rhs0) && same_bits(sums, sums0) && count == 5,
               st);
    if (!py) FZ_CHECK(same_bits(rhs, rhs0));
    const bool outputs = pG && psums && pcount && (!py || prhs);
    if (!valid || !outputs) {
      FZ_CHECK(argument_error(st) || st == BSBASIS_ERROR_MEMORY, st);
      FZ_CHECK(bad_row == -1 && (bad_term == -1 || (bad_term >= 0 && bad_term < nterms)), bad_row,
               bad_term);
      return;
    }
    int64_t want_row, want_term;
    const int want = model_fault(terms, x, nrows, rs, cs, py, pw, &want_row, &want_term);
    FZ_CHECK(st == want && bad_row == want_row && bad_term == want_term, st, want);
    if (st != BSBASIS_OK) return;
    ModelRows r;
    model_rows(terms, x, nrows, rs, cs, r);
    std::vector<double> Gt(P * P, 0.0), Rt(P, 0.0);
    double yty = 0.0, sw = 0.0;
    for (int64_t p = 0; p < nrows; ++p) {
      const std::vector<int64_t> &c = r.c[p];
      const std::vector<double> &v = r.v[p];
      for (size_t a = 0; a < c.size(); ++a) {
        const double wb = pw ? pw[p] * v[a] : v[a];
        for (size_t e = a; e < c.size(); ++e) Gt[c[a] * P + c[e]] = Gt[c[a] * P + c[e]] + wb * v[e];
        if (py) Rt[c[a]] = Rt[c[a]] + wb * py[p];
      }
      if (py) yty = yty + (pw ? pw[p] * py[p] : py[p]) * py[p];
      sw = sw + (pw ? pw[p] : 1.0);
    }
    for (int64_t a = 0; a < P; ++a)
      for (int64_t c = 0; c < P; ++c) {
        const double want_g = c >= a && nrows > 0 ? G0[a * P + c] + Gt[a * P + c] : G0[a * P + c];
        FZ_CHECK(fz::same(G[a * P + c], want_g), a, c);
      }
    for (int64_t a = 0; py && a < P; ++a)
      FZ_CHECK(fz::same(rhs[a], nrows > 0 ? rhs0[a] + Rt[a] : rhs0[a]), a);
    if (nrows > 0) {
      FZ_CHECK(fz::same(sums[1], sums0[1] + sw));
      if (py) FZ_CHECK(fz::same(sums[0], sums0[0] + yty));
    }
    FZ_CHECK(count == 5 + nrows, count);
    return;
  }

  if (which == 3) {
    // One step of a family: responses the family takes (mostly), maybe
    // coefficients; the Gaussian start must give the bits of the sums, the
    // column sums those of the rows, and a fault the first row at fault.
    const int family = hostile ? in.any_int(-1, 3) : in.small(0, 2);
    fz::Buf<double> yy(rows_given);
    fill(yy, [&] {
      if (hostile && (style & 1)) return response(in, true);
      const uint8_t v = in.byte();
      if (v >= 248) return -1.0 + (v & 1) * 2.5;  // outside the binomial's, the Poisson's
      return family == BSBASIS_FAMILY_BINOMIAL ? (v % 3) * 0.5
           : family == BSBASIS_FAMILY_POISSON  ? double(v % 5)
                                               : response(in, false);
    });
    const bool give_coef = opt & 16;
    fz::Buf<double> coef(Pg);
    fill(coef, [&] { return hostile && (style & 4) ? response(in, true) : in.small(-4, 4) * 0.125; });
    fz::Buf<double> G(Pg * Pg), rhs(Pg), sums(3), colsums(Pg);
    prefill(G, (style >> 3) & 3);
    prefill(rhs, (style >> 3) & 3);
    prefill(sums, (style >> 3) & 3);
    prefill(colsums, (style >> 3) & 3);
    int64_t count = 5;
    const std::vector<double> G0 = G.copy(), rhs0 = rhs.copy(), sums0 = sums.copy(),
                              c0 = colsums.copy(), yy0 = yy.copy(), coef0 = coef.copy();
    const double *pyy = null_one == 0 ? nullptr : yy.data();
    double *pG = null_one == 1 ? nullptr : G.data(), *prhs = null_one == 2 ? nullptr : rhs.data();
    double *pc = opt & 32 ? colsums.data() : nullptr;
    const int st = bsbasis_model_irls(tp, nterms, px, nrows, ncols, rs, cs, family,
                                      give_coef ? coef.data() : nullptr, pyy, pw, pG, prhs,
                                      sums.data(), pc, &count, &bad_row, &bad_term);
    FZ_CHECK(same_bits(x, x0) && same_bits(yy, yy0) && same_bits(w, w0) &&
             same_bits(coef, coef0));
    if (st != BSBASIS_OK)
      FZ_CHECK(same_bits(G, G0) && same_bits(rhs, rhs0) && same_bits(sums, sums0) &&
                   same_bits(colsums, c0) && count == 5,
               st);
    if (!pc) FZ_CHECK(same_bits(colsums, c0));
    bool finite_coef = true;
    for (int64_t c = 0; give_coef && c < Pg; ++c) finite_coef = finite_coef && std::isfinite(coef[c]);
    const bool known = family >= 0 && family <= 2;
    if (!valid || !known || !pyy || !pG || !prhs || !finite_coef) {
      FZ_CHECK(argument_error(st) || st == BSBASIS_ERROR_MEMORY || st == BSBASIS_ERROR_DATA, st);
      FZ_CHECK(bad_row == -1, bad_row);
      return;
    }
    // The first row whose response the family does not take, then the
    // faults of the sums before it.
    int64_t limit = 0;
    auto usable = [&](double v) {
      return family == BSBASIS_FAMILY_BINOMIAL ? v >= 0.0 && v <= 1.0
           : family == BSBASIS_FAMILY_POISSON  ? v >= 0.0 && std::isfinite(v)
                                               : std::isfinite(v);
    };
    while (limit < nrows && usable(yy[limit])) ++limit;
    int64_t want_row, want_term;
    int want = model_fault(terms, x, limit, rs, cs, pyy, pw, &want_row, &want_term);
    if (want == BSBASIS_OK && limit < nrows)
      want = BSBASIS_ERROR_DATA, want_row = limit, want_term = -1;
    FZ_CHECK(st == want && bad_row == want_row && bad_term == want_term, st, want);
    if (st != BSBASIS_OK) return;
    FZ_CHECK(count == 5 + nrows, count);
    ModelRows r;
    model_rows(terms, x, nrows, rs, cs, r);
    std::vector<double> cs_want(P, 0.0);
    for (int64_t p = 0; p < nrows; ++p)
      for (size_t e = 0; e < r.c[p].size(); ++e)
        cs_want[r.c[p][e]] = cs_want[r.c[p][e]] + r.v[p][e];
    for (int64_t c = 0; pc && nrows > 0 && c < P; ++c)
      FZ_CHECK(fz::same(colsums[c], c0[c] + cs_want[c]), c);
    if (family == BSBASIS_FAMILY_GAUSSIAN && !give_coef) {
      // The plain sums, on outputs prefilled alike.
      fz::Buf<double> G2(Pg * Pg), rhs2(Pg), sums2(2);
      prefill(G2, (style >> 3) & 3);
      prefill(rhs2, (style >> 3) & 3);
      prefill(sums2, (style >> 3) & 3);
      int64_t count2 = 5;
      FZ_CHECK(bsbasis_model_normal_equations(tp, nterms, px, nrows, ncols, rs, cs, pyy, pw,
                                              G2.data(), rhs2.data(), sums2.data(), &count2,
                                              nullptr, nullptr) == BSBASIS_OK);
      for (long e = 0; e < G.size(); ++e) FZ_CHECK(fz::same(G[e], G2[e]), e);
      for (long e = 0; e < rhs.size(); ++e) FZ_CHECK(fz::same(rhs[e], rhs2[e]), e);
      FZ_CHECK(fz::same(sums[0], sums2[0]) && fz::same(sums[1], sums2[1]));
    }
    return;
  }

  // Values: coefficients and V from the reader, fit and var prefilled.
  fz::Buf<double> coef(Pg), V(Pg * Pg), fit(rows_given), var(rows_given);
  fill(coef, [&] { return response(in, style & 1); });
  fill(V, [&] { return response(in, style & 2); });
  fit.fill(-3.25);
  var.fill(-3.25);
  const bool give_var = opt & 16, give_V = give_var || (opt & 32);
  double *pfit = null_one == 0 ? nullptr : fit.data(), *pvar = give_var ? var.data() : nullptr;
  const double *pcoef = null_one == 1 ? nullptr : coef.data();
  const double *pV = give_V && null_one != 2 ? V.data() : nullptr;
  const std::vector<double> coef0 = coef.copy(), V0 = V.copy();
  const int st = bsbasis_model_evaluate(tp, nterms, px, nrows, ncols, rs, cs, pcoef, pV, pfit, pvar,
                                        &bad_row, &bad_term);
  FZ_CHECK(same_bits(x, x0) && same_bits(coef, coef0) && same_bits(V, V0));
  if (st != BSBASIS_OK || !pvar)
    for (long p = 0; p < var.size(); ++p) FZ_CHECK(fz::bits(var[p]) == fz::bits(-3.25), p);
  if (st != BSBASIS_OK)
    for (long p = 0; p < fit.size(); ++p) FZ_CHECK(fz::bits(fit[p]) == fz::bits(-3.25), p);
  const bool outputs = pcoef && (nrows == 0 || pfit) && (!pvar || pV);
  if (!valid || !outputs) {
    FZ_CHECK(argument_error(st) || st == BSBASIS_ERROR_MEMORY, st);
    FZ_CHECK(bad_row == -1 && (bad_term == -1 || (bad_term >= 0 && bad_term < nterms)), bad_row,
             bad_term);
    return;
  }
  int64_t want_row, want_term;
  const int want = model_fault(terms, x, nrows, rs, cs, nullptr, nullptr, &want_row, &want_term);
  FZ_CHECK(st == want && bad_row == want_row && bad_term == want_term, st, want);
  if (st != BSBASIS_OK) return;
  ModelRows r;
  model_rows(terms, x, nrows, rs, cs, r);
  for (int64_t p = 0; p < nrows; ++p) {
    const std::vector<int64_t> &c = r.c[p];
    const std::vector<double> &v = r.v[p];
    double f = 0.0, s = 0.0;
    for (size_t e = 0; e < c.size(); ++e) f = e ? f + v[e] * coef[c[e]] : v[e] * coef[c[e]];
    for (size_t a = 0; a < c.size(); ++a) {
      double ua = 0.0;
      for (size_t e = 0; e < c.size(); ++e)
        ua = e ? ua + V[c[a] * P + c[e]] * v[e] : V[c[a] * P + c[e]] * v[e];
      s = a ? s + v[a] * ua : v[a] * ua;
    }
    FZ_CHECK(fz::same(fit[p], f), p);
    if (pvar) FZ_CHECK(fz::same(var[p], s), p);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const fz::FuzzPath path(data, size);
  fz::Reader in(data, size);
  switch (in.byte() % 19) {
    case 0: design(in); break;
    case 1: uniform(in); break;
    case 2: periodic(in); break;
    case 3: tensor(in); break;
    case 4: difference_penalty(in); break;
    case 5: derivative_penalty(in); break;
    case 6: make_knots(in); break;
    case 7: strerror_any(in); break;
    case 8: normal_equations(in, false); break;
    case 9: normal_equations(in, true); break;
    case 10: evaluate(in, false); break;
    case 11: evaluate(in, true); break;
    case 12: check_knots(in); break;
    case 13: natural(in); break;
    case 15: model(in, 0); break;
    case 16: model(in, 1); break;
    case 17: model(in, 2); break;
    case 18: model(in, 3); break;
    default: blocks_to_dense(in); break;
  }
  return 0;
}

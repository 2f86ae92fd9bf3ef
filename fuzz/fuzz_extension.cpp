// The extension API on decoded arguments; the first byte picks the function:
//   0 bsbasis_design            4 bsbasis_difference_penalty
//   1 bsbasis_uniform_design    5 bsbasis_derivative_penalty
//   2 bsbasis_periodic_design   6 bsbasis_make_knots
//   3 bsbasis_tensor_design     7 bsbasis_strerror
// Then a flag: within the limits of bsbasis.h, or hostile (any counts,
// orders, modes, NULL pointers, knots with NaN, infinities, repeats and huge
// values).  Every array is exactly as large as the arguments claim, so that
// AddressSanitizer reports any access outside it.  Within the limits the
// status is BSBASIS_OK (BSBASIS_ERROR_RANGE for an outside abscissa under
// ERROR) and the evaluations match design_reference.hpp bit for bit;
// outside them the status is an error.
#include <algorithm>
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

void strerror_any(fz::Reader &in) {
  int code = 0;
  for (int b = 0; b < 4; ++b) code = int(unsigned(code) << 8 | in.byte());
  const char *s = bsbasis_strerror(in.flag() ? code : code % 12);
  FZ_CHECK(s && s[0] != '\0', code);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const fz::FuzzPath path(data, size);
  fz::Reader in(data, size);
  switch (in.byte() % 8) {
    case 0: design(in); break;
    case 1: uniform(in); break;
    case 2: periodic(in); break;
    case 3: tensor(in); break;
    case 4: difference_penalty(in); break;
    case 5: derivative_penalty(in); break;
    case 6: make_knots(in); break;
    default: strerror_any(in); break;
  }
  return 0;
}

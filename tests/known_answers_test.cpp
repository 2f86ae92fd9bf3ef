// Known answers: a hash of the exact output bits (rows, columns, values) of
// every export on a fixed, generated set of inputs, against the checked-in
// tests/known_answers.txt, on every path this build and CPU can run.  A
// build with another compiler, or on another machine, that passes this test
// gives the same bits.
//
// The inputs come from a fixed integer generator and exact arithmetic
// (multiples of powers of two, nextafter), so that they are the same bits
// everywhere too.  They cover orders 1 to 8, every order_stop, clamped,
// integer and repeated knots, abscissae on knots and one ulp off, between,
// outside and non-finite, sorted and not, and sizes across a tile.
//
// The extension API likewise, normal equations and spline values included,
// against tests/extension_answers.txt.
//
// After a deliberate change of the output, write the files anew with
//   BSBASIS_WRITE_KNOWN_ANSWERS=1 build/tests/known_answers_test
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bsbasis.h"
#include "helpers.hpp"
#include "paths.hpp"

using namespace testing_bsbasis;

namespace {

// splitmix64: the same sequence on every platform.
class Gen {
 public:
  explicit Gen(uint64_t seed) : s_(seed) {}
  uint64_t next() {
    uint64_t z = (s_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  int below(int n) { return int(next() % uint64_t(n)); }
  // A multiple of 1/64 in [lo, hi).
  double dyadic(double lo, double hi) { return lo + below(int((hi - lo) * 64)) / 64.0; }

 private:
  uint64_t s_;
};

// FNV-1a over 64-bit words.
struct Hash {
  uint64_t h = 0xcbf29ce484222325ull;
  void add(uint64_t v) {
    for (int b = 0; b < 8; ++b) {
      h ^= (v >> (8 * b)) & 0xff;
      h *= 0x100000001b3ull;
    }
  }
  void add(const Triplets &r) {
    add(r.B.size());
    for (size_t e = 0; e < r.B.size(); ++e) {
      add(uint64_t(uint32_t(r.i[e])));
      add(uint64_t(uint32_t(r.j[e])));
      add(bits(r.B[e]));
    }
  }
};

// Knots of kind 0 (integers), 1 (clamped, dyadic interior) or 2 (repeated
// interior knots), with about `intervals` intervals.
std::vector<double> knots(Gen &g, int order, int kind, int intervals) {
  std::vector<double> t;
  if (kind == 0) {
    for (int m = 0; m < intervals + 2 * order; ++m) t.push_back(m - 3.0);
    return t;
  }
  double v = g.dyadic(-2.0, 2.0);
  for (int r = 0; r < order - 1; ++r) t.push_back(v);
  for (int m = 0; m <= intervals; ++m) {
    const int rep = kind == 2 ? 1 + g.below(order) : 1;
    for (int r = 0; r < rep; ++r) t.push_back(v);
    v += (1 + g.below(32)) / 16.0;
  }
  for (int r = 0; r < order - 1; ++r) t.push_back(t.back());
  return t;
}

// Abscissae around the knots: on them, one ulp off, between, outside,
// huge, non-finite; sorted or not.
std::vector<double> abscissae(Gen &g, const std::vector<double> &t, size_t n, bool sorted) {
  const double lo = t.front() - 1.0, hi = t.back() + 1.0;
  std::vector<double> x(n);
  for (double &v : x) {
    const double k = t[g.below(int(t.size()))];
    switch (g.below(10)) {
      case 0: v = k; break;
      case 1: v = std::nextafter(k, -kInf); break;
      case 2: v = std::nextafter(k, kInf); break;
      case 3: v = (g.next() & 1) ? 1e300 : -1e300; break;
      case 4: v = sorted ? k : (g.next() & 1) ? kNaN : (g.next() & 1) ? kInf : -kInf; break;
      default: v = g.dyadic(lo, hi); break;
    }
  }
  if (sorted) sort_abscissae(x);
  return x;
}

const size_t kSizes[] = {0, 1, 7, 128, 129, 300, 1100, 5000};

std::map<std::string, uint64_t> compute() {
  Gen g(20261208);
  Hash uni, grid, deriv, search_one, search_many, order_one;

  for (int order = 1; order <= 8; ++order) {
    // The uniform grid: every order_stop, bounds below and above the abscissae.
    for (size_t nx : kSizes) {
      const int nj = order - 1 + g.below(40);
      std::vector<double> grid_knots;
      for (int m = -2; m <= nj + 2; ++m) grid_knots.push_back(m);
      const std::vector<double> x = abscissae(g, grid_knots, nx, g.next() & 1);
      for (int stop = -1; stop <= order + 1; ++stop) uni.add(lib_blossom(x, stop, order, nj));
    }
    // Knot sequences: every order_stop, the full basis and fewer columns;
    // derivatives of the full basis.
    for (int kind = 0; kind < 3; ++kind)
      for (int intervals : {1, 4, 30, 300}) {
        const std::vector<double> t = knots(g, order, kind, intervals);
        const int nt = int(t.size());
        for (size_t nx : kSizes) {
          const std::vector<double> x = abscissae(g, t, nx, g.next() & 1);
          const int nj = (g.next() & 1) ? nt - order : 1 + g.below(nt - 1);
          for (int stop = -1; stop <= order + 1; ++stop)
            grid.add(lib_blossom_grid(t, x, stop, order, nj));
          deriv.add(lib_grid(t, x, order, nt - order, 1));
        }
      }
  }

  // The searches, NaN keys and out-of-range guesses included.
  for (int round = 0; round < 200; ++round) {
    // One draw per statement: the order of evaluation of arguments varies.
    const int order = 1 + g.below(4);
    const int kind = g.below(3);
    const int intervals = 1 + g.below(40);
    const std::vector<double> t = knots(g, order, kind, intervals);
    const int len = 1 + g.below(int(t.size()));
    std::vector<double> keys = abscissae(g, t, 1 + g.below(60), false);
    for (double key : keys)
      for (int guess = -3; guess <= len + 3; guess += 1 + g.below(3))
        search_one.add(uint64_t(uint32_t(
            binary_search_with_guess(key, const_cast<double *>(t.data()), len, guess))));
    std::vector<int> index(keys.size());
    binary_search(keys.data(), index.data(), int(keys.size()), const_cast<double *>(t.data()),
                  len);
    for (int v : index) search_many.add(uint64_t(uint32_t(v)));
  }

  // The order-1 block filler.
  for (int round = 0; round < 200; ++round) {
    const int order = 1 + g.below(8), N = g.below(100);
    std::vector<int> j(N);
    for (int &c : j) c = g.below(400) - 200;
    std::vector<double> B(N, 7.0);
    test(nullptr, 0, nullptr, 0, j.data(), B.data(), N, order);
    for (int e = 0; e < N; ++e) {
      order_one.add(uint64_t(uint32_t(j[e])));
      order_one.add(bits(B[e]));
    }
  }

  return {{"blossom", uni.h},
          {"blossom_grid", grid.h},
          {"deriv_grid", deriv.h},
          {"binary_search_with_guess", search_one.h},
          {"binary_search", search_many.h},
          {"test", order_one.h}};
}

std::string format(const std::map<std::string, uint64_t> &answers) {
  std::ostringstream s;
  for (const auto &kv : answers) {
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016" PRIx64, kv.second);
    s << kv.first << " " << hex << "\n";
  }
  return s.str();
}

std::map<std::string, uint64_t> read_file(const char *path) {
  std::map<std::string, uint64_t> answers;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name, hex;
    if (fields >> name >> hex) answers[name] = std::strtoull(hex.c_str(), nullptr, 16);
  }
  return answers;
}

// ------------------------------------------------ the extension API

// What a call of the extension API gives: its status, *nempty, and every
// entry (rows, columns, values).
void add_call(Hash &h, int status, int64_t nempty, const std::vector<int32_t> &i,
              const std::vector<int64_t> &j, const std::vector<double> &B) {
  h.add(uint64_t(uint32_t(status)));
  h.add(uint64_t(nempty));
  h.add(B.size());
  for (size_t e = 0; e < B.size(); ++e) {
    h.add(uint64_t(uint32_t(i[e])));
    h.add(uint64_t(j[e]));
    h.add(bits(B[e]));
  }
}

std::vector<int64_t> wide(const std::vector<int32_t> &j) {
  return std::vector<int64_t>(j.begin(), j.end());
}

// Abscissae for a base interval [lo, hi]: around the knots as above, the
// ends and one ulp beyond them; under ERROR moved into [lo, hi].
std::vector<double> around(Gen &g, const std::vector<double> &near, double lo, double hi,
                           size_t n, int mode) {
  std::vector<double> x = abscissae(g, near, n, g.next() & 1);
  for (double &v : x) {
    const int pick = g.below(8);
    if (pick == 0) v = lo;
    if (pick == 1) v = hi;
    if (pick == 2) v = std::nextafter(lo, -kInf);
    if (pick == 3) v = std::nextafter(hi, kInf);
    if (mode == BSBASIS_EXTRAPOLATE_ERROR && !(v >= lo && v <= hi)) v = (g.next() & 1) ? lo : hi;
  }
  return x;
}

const char *const kModeNames[] = {"error", "zero", "continue", "constant", "linear", "periodic"};

// A sum or value as hashed: NaN as one pattern, since its sign and payload
// are the hardware's (CONTINUE far out can overflow to inf - inf).
uint64_t value_bits(double v) { return std::isnan(v) ? 0x7ff8000000000000ull : bits(v); }

// What a call of the normal equations gives: its status, *bad_row, *count
// and every output, added to or left as it was.
struct NormalCall {
  std::vector<double> ab, rhs, sums;
  int64_t count = 5, bad = -7;
  NormalCall(int order, int64_t nj) : ab(size_t(order) * nj), rhs(nj, -0.5), sums{1.0, 2.0} {
    for (size_t e = 0; e < ab.size(); ++e) ab[e] = 0.125 * double(e % 5);
  }
  void add_to(Hash &h, int status) const {
    h.add(uint64_t(uint32_t(status)));
    h.add(uint64_t(bad));
    h.add(uint64_t(count));
    for (const std::vector<double> *v : {&ab, &rhs, &sums}) {
      h.add(v->size());
      for (double e : *v) h.add(value_bits(e));
    }
  }
};

void add_values(Hash &h, int status, const std::vector<double> &out) {
  h.add(uint64_t(uint32_t(status)));
  h.add(out.size());
  for (double v : out) h.add(value_bits(v));
}

// Normal equations and spline values on knots and on the uniform grid:
// orders with and without a fixed-order kernel, with and without
// responses and weights, nu 0 and 1, every mode; then a response that is
// not finite on a row that is not empty (DATA, nothing added) and on an
// empty row (no fault).
void normal_answers(std::map<std::string, uint64_t> &answers) {
  Gen g(20261210);
  Hash nh, unh, ev, uev;
  const size_t sizes[] = {0, 1, 7, 129, 513};
  for (int order : {1, 2, 3, 4, 6, 8}) {
    const std::vector<double> t = knots(g, order, order % 3, 9);
    const int nt = int(t.size());
    const int nj = nt - order - g.below(std::min(3, nt - 2 * order + 1));
    const double lo = t[order - 1], hi = t[nj];
    for (int nu = 0; nu <= 1; ++nu)
      for (int yw = 0; yw < 4; ++yw) {
        const int mode = (order + 2 * nu + yw) % 6;
        const size_t nx = sizes[g.below(5)];
        std::vector<double> x = around(g, t, lo, hi, nx, mode), y(nx), w(nx), c(nj);
        for (double &v : y) v = g.dyadic(-4.0, 4.0);
        for (double &v : w) v = g.dyadic(0.0, 2.0);
        for (double &v : c) v = g.dyadic(-2.0, 2.0);
        const double *py = yw & 1 ? y.data() : nullptr, *pw = yw & 2 ? w.data() : nullptr;
        NormalCall s(order, nj);
        int st = bsbasis_normal_equations(t.data(), nt, order, nj, nu, mode, x.data(), py, pw,
                                          int64_t(nx), s.ab.data(), py ? s.rhs.data() : nullptr,
                                          s.sums.data(), &s.count, &s.bad);
        s.add_to(nh, st);
        std::vector<double> out(nx, -1.0);
        st = bsbasis_evaluate(t.data(), nt, order, nj, nu + (yw == 3 ? order : 0), mode,
                              c.data(), x.data(), int64_t(nx), out.data());
        add_values(ev, st, out);
        if (nx < 7 || mode == BSBASIS_EXTRAPOLATE_ERROR || !py) continue;
        // Row 3 in range with a NaN response: DATA at 3; then the same
        // response on an empty row (x NaN): no fault.
        x[3] = lo;
        y[3] = kNaN;
        NormalCall bad(order, nj);
        st = bsbasis_normal_equations(t.data(), nt, order, nj, nu, mode, x.data(), py, pw,
                                      int64_t(nx), bad.ab.data(), bad.rhs.data(),
                                      bad.sums.data(), &bad.count, &bad.bad);
        bad.add_to(nh, st);
        x[3] = kNaN;
        NormalCall fine(order, nj);
        st = bsbasis_normal_equations(t.data(), nt, order, nj, nu, mode, x.data(), py, pw,
                                      int64_t(nx), fine.ab.data(), fine.rhs.data(),
                                      fine.sums.data(), &fine.count, &fine.bad);
        fine.add_to(nh, st);
      }
  }

  const double origins[] = {0.0, -3.7, 0.1, 1000.25};
  const double spacings[] = {1.0, 0.1, 1.0 / 3.0, 2.75};
  for (int order : {1, 2, 4, 5, 8})
    for (int round = 0; round < 4; ++round) {
      const double origin = origins[g.below(4)];
      const double spacing = spacings[g.below(4)];
      const int64_t n = order + g.below(20);
      std::vector<double> near;
      for (int64_t m = -2; m <= n + order + 1; ++m) near.push_back(origin + spacing * double(m));
      const int mode = (order + round) % 6, nu = round % 2;
      const size_t nx = sizes[g.below(5)];
      const std::vector<double> x = around(g, near, origin + spacing * (order - 1.0),
                                           origin + spacing * double(n), nx, mode);
      std::vector<double> y(nx), w(nx), c(n);
      for (double &v : y) v = g.dyadic(-4.0, 4.0);
      for (double &v : w) v = g.dyadic(0.0, 2.0);
      for (double &v : c) v = g.dyadic(-2.0, 2.0);
      const double *py = round & 2 ? y.data() : nullptr, *pw = round != 1 ? w.data() : nullptr;
      NormalCall s(order, n);
      int st = bsbasis_uniform_normal_equations(origin, spacing, n, order, nu, mode, x.data(),
                                                py, pw, int64_t(nx), s.ab.data(),
                                                py ? s.rhs.data() : nullptr, s.sums.data(),
                                                &s.count, &s.bad);
      s.add_to(unh, st);
      std::vector<double> out(nx, -1.0);
      st = bsbasis_uniform_evaluate(origin, spacing, n, order, nu, mode, c.data(), x.data(),
                                    int64_t(nx), out.data());
      add_values(uev, st, out);
    }

  answers["normal_equations"] = nh.h;
  answers["uniform_normal_equations"] = unh.h;
  answers["evaluate"] = ev.h;
  answers["uniform_evaluate"] = uev.h;
}

// Every mode, derivative orders 0 to order + 1, on knot sequences with
// simple and repeated knots (at the ends of the base interval too); the
// uniform grid at spacings that round; periodic bases; tensor products of
// two and three factors.
std::map<std::string, uint64_t> compute_extension() {
  Gen g(20261209);
  Hash mode_hash[6], uni, per, ten;
  const size_t sizes[] = {0, 1, 7, 129, 513, 1100};

  for (int order = 1; order <= 8; ++order) {
    for (int kind = 0; kind < 3; ++kind)
      for (int intervals : {2, 9, 40}) {
        const std::vector<double> t = knots(g, order, kind, intervals);
        const int nt = int(t.size());
        if (nt < 2 * order) continue;
        const int nj = nt - order - g.below(std::min(3, nt - 2 * order + 1));
        const size_t nx = sizes[g.below(6)];
        for (int mode = 0; mode < 6; ++mode) {
          const std::vector<double> x = around(g, t, t[order - 1], t[nj], nx, mode);
          for (int nu = 0; nu <= order + 1; ++nu) {
            std::vector<int32_t> i(nx * order), j(nx * order);
            std::vector<double> B(nx * order);
            int64_t ne = -1;
            const int st = bsbasis_design(t.data(), nt, order, nj, nu, mode, x.data(),
                                          int64_t(nx), i.data(), j.data(), B.data(), &ne);
            add_call(mode_hash[mode], st, ne, i, wide(j), B);
          }
        }
      }

    const double origins[] = {0.0, -3.7, 0.1, 1000.25};
    const double spacings[] = {1.0, 0.1, 1.0 / 3.0, 2.75};
    for (int round = 0; round < 4; ++round) {
      const double origin = origins[g.below(4)];
      const double spacing = spacings[g.below(4)];
      const int64_t n = order + g.below(30);
      std::vector<double> near;
      for (int64_t m = -2; m <= n + order + 1; ++m) near.push_back(origin + spacing * double(m));
      const int mode = g.below(6);
      const size_t nx = sizes[g.below(6)];
      const std::vector<double> x = around(g, near, origin + spacing * (order - 1.0),
                                           origin + spacing * double(n), nx, mode);
      for (int nu = 0; nu <= order + 1; ++nu) {
        std::vector<int32_t> i(nx * order), j(nx * order);
        std::vector<double> B(nx * order);
        int64_t ne = -1;
        const int st = bsbasis_uniform_design(origin, spacing, n, order, nu, mode, x.data(),
                                              int64_t(nx), i.data(), j.data(), B.data(), &ne);
        add_call(uni, st, ne, i, wide(j), B);
      }
    }

    for (int round = 0; round < 3; ++round) {
      std::vector<double> u = {g.dyadic(-2.0, 2.0)};
      const int m = order + g.below(12);
      for (int k = 0; k < m; ++k) u.push_back(u.back() + (1 + g.below(32)) / 16.0);
      std::vector<double> near = u;
      near.push_back(u[0] - 3.5 * (u[m] - u[0]));
      near.push_back(u[m] + 2.25 * (u[m] - u[0]));
      std::sort(near.begin(), near.end());
      const size_t nx = sizes[g.below(6)];
      const std::vector<double> x = around(g, near, u[0], u[m], nx, BSBASIS_EXTRAPOLATE_ZERO);
      for (int nu = 0; nu <= order + 1; ++nu) {
        std::vector<int32_t> i(nx * order), j(nx * order);
        std::vector<double> B(nx * order);
        int64_t ne = -1;
        const int st = bsbasis_periodic_design(u.data(), int64_t(u.size()), order, nu, x.data(),
                                               int64_t(nx), i.data(), j.data(), B.data(), &ne);
        add_call(per, st, ne, i, wide(j), B);
      }
    }
  }

  for (int round = 0; round < 40; ++round) {
    const int d = 2 + g.below(2);
    std::vector<std::vector<double>> ts;
    std::vector<const double *> tp;
    std::vector<int64_t> nt, nj;
    std::vector<int32_t> order, nu;
    int E = 1;
    for (int a = 0; a < d; ++a) {
      const int o = 1 + g.below(4);
      const int kind = g.below(2);
      const int intervals = 1 + g.below(10);
      ts.push_back(knots(g, o, kind, intervals));
      order.push_back(o);
      nt.push_back(int64_t(ts.back().size()));
      nj.push_back(nt.back() - o);
      nu.push_back(g.below(o + 1));
      E *= o;
    }
    for (const auto &t : ts) tp.push_back(t.data());
    const int mode = g.below(6);
    const size_t npts = sizes[g.below(6)];
    std::vector<double> x(npts * d);
    for (int a = 0; a < d; ++a) {
      const std::vector<double> xa =
          around(g, ts[a], ts[a][order[a] - 1], ts[a][nj[a]], npts, mode);
      for (size_t p = 0; p < npts; ++p) x[p * d + a] = xa[p];
    }
    const bool values = g.next() & 1;
    std::vector<int32_t> i(npts * E), j32(npts * E);
    std::vector<int64_t> j64(npts * E);
    std::vector<double> B(npts * E), B64(npts * E);
    int64_t ne = -1, ne64 = -1;
    const int st = bsbasis_tensor_design(d, tp.data(), nt.data(), order.data(), nj.data(),
                                         values ? nullptr : nu.data(), mode, x.data(),
                                         int64_t(npts), i.data(), j32.data(), nullptr, B.data(),
                                         &ne);
    add_call(ten, st, ne, i, wide(j32), B);
    const int st64 = bsbasis_tensor_design(d, tp.data(), nt.data(), order.data(), nj.data(),
                                           values ? nullptr : nu.data(), mode, x.data(),
                                           int64_t(npts), nullptr, nullptr, j64.data(),
                                           B64.data(), &ne64);
    add_call(ten, st64, ne64, i, j64, B64);
  }

  // Natural splines, with a generator of their own so that the draws above
  // stay as they were: interior knots strictly inside, points beyond both
  // boundary knots, derivative orders 0 to 4, with and without intercept.
  Gen gn(20261210);
  Hash nat;
  for (int round = 0; round < 60; ++round) {
    const double lo = gn.dyadic(-2.0, 2.0), hi = lo + (1 + gn.below(64)) / 8.0;
    std::vector<double> kn;
    const int nk = gn.below(10);
    for (int k = 0; k < nk; ++k) kn.push_back(lo + (hi - lo) * (1 + gn.below(255)) / 256.0);
    std::sort(kn.begin(), kn.end());
    std::vector<double> near = {lo, hi, lo - 0.75 * (hi - lo), hi + 1.5 * (hi - lo)};
    near.insert(near.end(), kn.begin(), kn.end());
    std::sort(near.begin(), near.end());
    const size_t nx = sizes[gn.below(6)];
    const std::vector<double> x = around(gn, near, lo, hi, nx, BSBASIS_EXTRAPOLATE_LINEAR);
    const int intercept = gn.below(2);
    for (int nu = 0; nu <= 4; ++nu) {
      const size_t n = nx * BSBASIS_NATURAL_WIDTH;
      std::vector<int32_t> i(n), j(n);
      std::vector<double> B(n);
      int64_t ne = -1;
      const int st = bsbasis_natural_design(lo, hi, kn.data(), int64_t(kn.size()), intercept, nu,
                                            x.data(), int64_t(nx), i.data(), j.data(), B.data(),
                                            &ne);
      add_call(nat, st, ne, i, wide(j), B);
    }
  }

  std::map<std::string, uint64_t> out;
  out["natural_design"] = nat.h;
  for (int mode = 0; mode < 6; ++mode)
    out[std::string("design_") + kModeNames[mode]] = mode_hash[mode].h;
  out["uniform_design"] = uni.h;
  out["periodic_design"] = per.h;
  out["tensor_design"] = ten.h;
  normal_answers(out);
  return out;
}

// Writes the answers (the generic paths) when BSBASIS_WRITE_KNOWN_ANSWERS is
// set, else checks every path against them.
void check_or_write(const char *path, std::map<std::string, uint64_t> (*compute_fn)(),
                    const char *heading) {
  if (std::getenv("BSBASIS_WRITE_KNOWN_ANSWERS")) {
    UsePath use(paths_here().front());  // the generic paths
    std::ofstream out(path);
    out << heading << format(compute_fn());
    std::printf("wrote %s\n", path);
    return;
  }
  const std::map<std::string, uint64_t> want = read_file(path);
  ASSERT_FALSE(want.empty()) << "cannot read " << path;
  for (const Path &p : paths_here()) {
    UsePath use(p);
    const std::map<std::string, uint64_t> got = compute_fn();
    ASSERT_EQ(got.size(), want.size()) << path;
    EXPECT_EQ(format(got), format(want)) << "path " << p.name;
  }
}

TEST(KnownAnswers, ExtensionGivesTheRecordedBits) {
  check_or_write(BSBASIS_EXTENSION_ANSWERS, compute_extension,
                 "# Hashes of the exact output bits (status, *nempty, rows, columns,\n"
                 "# values) of the extension API on the inputs of known_answers_test.cpp;\n"
                 "# the same on every path, compiler and machine.\n");
}

TEST(KnownAnswers, EveryPathGivesTheRecordedBits) {
  const char *path = BSBASIS_KNOWN_ANSWERS;
  if (std::getenv("BSBASIS_WRITE_KNOWN_ANSWERS")) {
    UsePath use(paths_here().front());  // the generic paths
    std::ofstream out(path);
    out << "# Hashes of the exact output bits of every export on the inputs of\n"
           "# known_answers_test.cpp; the same on every path, compiler and machine.\n"
        << format(compute());
    std::printf("wrote %s\n", path);
    return;
  }
  const std::map<std::string, uint64_t> want = read_file(path);
  ASSERT_EQ(want.size(), 6u) << "cannot read " << path;
  for (const Path &p : paths_here()) {
    UsePath use(p);
    const std::map<std::string, uint64_t> got = compute();
    EXPECT_EQ(format(got), format(want)) << "path " << p.name;
  }
}

}  // namespace

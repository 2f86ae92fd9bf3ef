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
// After a deliberate change of the output, write the file anew with
//   BSBASIS_WRITE_KNOWN_ANSWERS=1 build/tests/known_answers_test
#include <gtest/gtest.h>

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

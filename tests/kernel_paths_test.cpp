// Every fixed-order path, on every instruction set this CPU runs, against
// the generic path, bit for bit: rows, columns and the bits of every value,
// including the positions a stopped evaluation must leave alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "kernels.hpp"

namespace {

using bsbasis::Isa;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

struct Out {
  std::vector<int> i, j;
  std::vector<double> B;
};

// Zeros from the top order_stop positions down to the bottom, a sentinel
// below them that a stopped evaluation must keep.
Out fresh(size_t nx, int order, int order_stop) {
  Out o{std::vector<int>(nx * order, -7), std::vector<int>(nx * order, -7),
        std::vector<double>(nx * order, 0.0)};
  const int keep = order - std::max(1, std::min(order_stop, order));
  for (size_t p = 0; p < nx; ++p)
    for (int q = 0; q < keep; ++q) o.B[p * order + q] = -3.25;
  return o;
}

uint64_t bits(double v) {
  uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

::testing::AssertionResult same(const Out &want, const Out &got) {
  for (size_t e = 0; e < want.B.size(); ++e)
    if (want.i[e] != got.i[e] || want.j[e] != got.j[e] ||
        bits(want.B[e]) != bits(got.B[e]))
      return ::testing::AssertionFailure()
             << "entry " << e << ": want (" << want.i[e] << ", " << want.j[e]
             << ", " << want.B[e] << ") got (" << got.i[e] << ", " << got.j[e]
             << ", " << got.B[e] << ")";
  return ::testing::AssertionSuccess();
}

std::vector<Isa> isas_here() {
  std::vector<Isa> v;
  for (Isa a : {Isa::kBaseline, Isa::kAvx2, Isa::kAvx512})
    if (bsbasis::isa_supported(a)) v.push_back(a);
  return v;
}

std::string name(Isa a) {
  return a == Isa::kBaseline ? "baseline" : a == Isa::kAvx2 ? "avx2" : "avx512";
}

// Knots: clamped uniform, random with repeated knots, or integers.
std::vector<double> knots(std::mt19937_64 &rng, int order, int kind, int intervals) {
  std::vector<double> t;
  if (kind == 0) {
    for (int m = 0; m < order - 1; ++m) t.push_back(0.0);
    for (int m = 0; m <= intervals; ++m) t.push_back(double(m) / intervals);
    for (int m = 0; m < order - 1; ++m) t.push_back(1.0);
  } else if (kind == 1) {
    std::uniform_real_distribution<double> u(-2.0, 3.0);
    std::uniform_int_distribution<int> rep(0, 3);
    for (int m = 0; m <= intervals; ++m) {
      const double v = u(rng);
      for (int r = rep(rng) == 0 ? 2 : 1; r > 0; --r) t.push_back(v);
    }
    std::sort(t.begin(), t.end());
  } else {
    for (int m = 0; m < intervals + order; ++m) t.push_back(m);
  }
  return t;
}

// Abscissae over and around [lo, hi): knots themselves, both ends, points
// outside, non-finite values; sorted or not.
std::vector<double> abscissae(std::mt19937_64 &rng, const std::vector<double> &t,
                              double lo, double hi, int n, bool sorted) {
  std::uniform_real_distribution<double> u(lo - 0.1 * (hi - lo) - 0.5,
                                           hi + 0.1 * (hi - lo) + 0.5);
  std::uniform_int_distribution<int> pick(0, 40);
  std::vector<double> x(n);
  for (double &v : x) {
    const int k = pick(rng);
    if (k == 0 && !t.empty()) v = t[rng() % t.size()];
    else if (k == 1) v = lo;
    else if (k == 2) v = hi;
    else if (k == 3) v = std::nextafter(hi, lo);
    else if (k == 4 && !sorted) v = kNaN;
    else if (k == 5 && !sorted) v = (rng() & 1) ? kInf : -kInf;
    else if (k == 6) v = (rng() & 1) ? 1e300 : -1e300;
    else v = u(rng);
  }
  if (sorted) std::sort(x.begin(), x.end());
  return x;
}

TEST(KernelPaths, KnotGridMatchesGeneric) {
  std::mt19937_64 rng(11);
  int cases = 0;
  for (Isa isa : isas_here()) {
    SCOPED_TRACE(name(isa));
    for (int order = bsbasis::kMinFixed; order <= bsbasis::kMaxFixed; ++order)
      for (int kind = 0; kind < 3; ++kind)
        for (int intervals : {1, 3, 20, 700})
          // Unsorted, ascending, descending (the table then grows downwards).
          for (int sorted = 0; sorted < 3; ++sorted)
            for (int stop : {0, 1, order - 1, order, order + 2}) {
              std::vector<double> t = knots(rng, order, kind, intervals);
              const int nt = int(t.size());
              // The full basis, fewer columns, and more than the knots allow.
              const int nj_choice[] = {nt - order, nt / 2, nt - 1, nt + 3};
              const int nj = nj_choice[rng() % 4];
              // Tile edges: 1, a few, one tile, a tile and a bit.
              const int nx_choice[] = {1, 5, 16, 128, 300, 1000};
              const int nx = nx_choice[rng() % 6];
              std::vector<double> x =
                  abscissae(rng, t, t.front(), t.back(), nx, sorted != 0);
              if (sorted == 2) std::reverse(x.begin(), x.end());
              SCOPED_TRACE("order " + std::to_string(order) + " kind " +
                           std::to_string(kind) + " nt " + std::to_string(nt) +
                           " nj " + std::to_string(nj) + " stop " +
                           std::to_string(stop) + " sorted " + std::to_string(sorted));
              const int st = std::min(stop, order);
              Out want = fresh(nx, order, st), got = fresh(nx, order, st);
              bsbasis::grid_generic(t.data(), nt, x.data(), nx, want.i.data(),
                                    want.j.data(), want.B.data(), st, order, nj);
              ASSERT_TRUE(bsbasis::grid_fixed(isa, t.data(), nt, x.data(), nx,
                                              got.i.data(), got.j.data(),
                                              got.B.data(), st, order, nj));
              ASSERT_TRUE(same(want, got));
              ++cases;
            }
  }
  EXPECT_GT(cases, 0);
}

TEST(KernelPaths, KnotGridDegenerateKnots) {
  // No knots, one knot, too few for any interval in range, all knots equal.
  std::vector<double> x = {-1.0, 0.0, 0.5, 1.0, 2.0, kNaN, kInf};
  const std::vector<std::vector<double>> ts = {
      {}, {0.0}, {0.0, 1.0}, {0.0, 0.0, 1.0, 1.0}, {1, 1, 1, 1, 1, 1, 1, 1, 1}};
  for (Isa isa : isas_here())
    for (int order = bsbasis::kMinFixed; order <= bsbasis::kMaxFixed; ++order)
      for (const auto &t0 : ts)
        for (int nj : {-5, 0, 1, 3, 8, 100}) {
          std::vector<double> t = t0;
          double dummy = 0.0;
          double *tp = t.empty() ? &dummy : t.data();
          Out want = fresh(x.size(), order, order), got = fresh(x.size(), order, order);
          bsbasis::grid_generic(tp, int(t.size()), x.data(), int(x.size()),
                                want.i.data(), want.j.data(), want.B.data(), order,
                                order, nj);
          ASSERT_TRUE(bsbasis::grid_fixed(isa, tp, int(t.size()), x.data(),
                                          int(x.size()), got.i.data(), got.j.data(),
                                          got.B.data(), order, order, nj));
          ASSERT_TRUE(same(want, got)) << name(isa) << " order " << order
                                       << " nt " << t.size() << " nj " << nj;
        }
}

TEST(KernelPaths, UniformGridMatchesGeneric) {
  std::mt19937_64 rng(12);
  for (Isa isa : isas_here())
    for (int order = bsbasis::kMinFixed; order <= bsbasis::kMaxFixed; ++order)
      for (int nj : {-3, 0, order - 1, order, order + 1, 40, 2000000000})
        for (int stop : {0, 1, order - 1, order}) {
          const double hi = nj > 1000 ? 5e3 : nj;
          std::vector<double> grid;
          for (int m = 0; m < 60; ++m) grid.push_back(m);
          std::vector<double> x = abscissae(rng, grid, order - 1, hi, 517, false);
          x.push_back(static_cast<double>(nj));
          x.push_back(std::nextafter(static_cast<double>(nj), 0.0));
          x.push_back(order - 1.0);
          x.push_back(std::nextafter(order - 1.0, -1.0));
          const int nx = int(x.size());
          Out want = fresh(nx, order, stop), got = fresh(nx, order, stop);
          bsbasis::uniform_generic(x.data(), nx, want.i.data(), want.j.data(),
                                   want.B.data(), stop, order, nj);
          ASSERT_TRUE(bsbasis::uniform_fixed(isa, x.data(), nx, got.i.data(),
                                             got.j.data(), got.B.data(), stop,
                                             order, nj));
          ASSERT_TRUE(same(want, got)) << name(isa) << " order " << order << " nj "
                                       << nj << " stop " << stop;
        }
}

TEST(KernelPaths, DerivativeMatchesGeneric) {
  std::mt19937_64 rng(13);
  for (Isa isa : isas_here())
    for (int order = bsbasis::kMinFixed; order <= bsbasis::kMaxFixed; ++order)
      for (int kind = 0; kind < 3; ++kind)
        for (int intervals : {1, 7, 300}) {
          std::vector<double> t = knots(rng, order, kind, intervals);
          const int nt = int(t.size());
          const int nj = std::max(nt - order, 0);
          std::vector<double> x = abscissae(rng, t, t.front(), t.back(), 203, kind == 1);
          const int nx = int(x.size());
          Out in = fresh(nx, order, order - 1);
          bsbasis::grid_generic(t.data(), nt, x.data(), nx, in.i.data(), in.j.data(),
                                in.B.data(), order - 1, order, nj);
          // Columns outside the knots must read nothing and give 0.
          for (int p = 0; p < nx; p += 17) {
            in.j[size_t(p) * order] = (p & 1) ? -2 : nt + 1;
            in.j[size_t(p) * order + order - 1] = (p & 2) ? nt : -1;
          }
          Out want = in, got = in;
          bsbasis::deriv_generic(t.data(), nt, want.j.data(), want.B.data(), nx, order);
          ASSERT_TRUE(bsbasis::deriv_fixed(isa, t.data(), nt, got.j.data(),
                                           got.B.data(), nx, order));
          ASSERT_TRUE(same(want, got)) << name(isa) << " order " << order << " kind "
                                       << kind << " intervals " << intervals;
        }
}

TEST(KernelPaths, OrdersWithoutFixedPathAreDeclined) {
  double t[] = {0, 1, 2}, x[] = {0.5};
  int i[8] = {}, j[8] = {};
  double B[8] = {};
  for (Isa isa : isas_here())
    for (int order : {1, bsbasis::kMaxFixed + 1}) {
      EXPECT_FALSE(bsbasis::grid_fixed(isa, t, 3, x, 1, i, j, B, order, order, 2));
      EXPECT_FALSE(bsbasis::uniform_fixed(isa, x, 1, i, j, B, order, order, 2));
      EXPECT_FALSE(bsbasis::deriv_fixed(isa, t, 3, j, B, 1, order));
    }
  for (int e = 0; e < 8; ++e) EXPECT_EQ(i[e], 0);
}

TEST(KernelPaths, ReportsWhichInstructionSetsRan) {
  std::string ran;
  for (Isa a : isas_here()) ran += name(a) + " ";
  std::printf("instruction sets tested: %s\n", ran.c_str());
  EXPECT_TRUE(bsbasis::isa_supported(Isa::kBaseline));
}

}  // namespace

// Every tiled kernel, on every instruction set this CPU runs, against the
// generic path, bit for bit: rows, columns and the bits of every value,
// including the positions a stopped evaluation must leave alone.  The inputs
// reach each way of the tiled kernels: sorted runs in one interval, whole
// and gathered groups, the knot guide, the column table and spans formed
// per abscissa, and bounds beyond what the knots allow.  The derivative
// kernels likewise, on their own and through the dispatch, on blocks of
// every kind a caller can pass: columns in runs, off the knots or garbage,
// and values NaN or infinite.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "lanes/dispatch.hpp"
#include "helpers.hpp"
#include "blocks/entry_points.hpp"
#include "core/numeric.hpp"
#include "paths.hpp"

using namespace testing_bsbasis;

namespace {

// Zeros from the top order_stop positions down, a sentinel below them that
// a stopped evaluation must keep.
Triplets fresh(size_t nx, int order, int order_stop) {
  Triplets o(nx, order);
  const int keep = order - std::max(1, std::min(order_stop, order));
  for (size_t p = 0; p < nx; ++p)
    for (int q = 0; q < keep; ++q) o.B[p * order + q] = -3.25;
  return o;
}

std::vector<const bsbasis::IsaVariant *> variants_here() {
  std::vector<const bsbasis::IsaVariant *> v;
  for (int k = 0; k < bsbasis::kIsaVariantCount; ++k)
    if (bsbasis::supported(bsbasis::kIsaVariants[k])) v.push_back(&bsbasis::kIsaVariants[k]);
  return v;
}

// Abscissae over the knots: unsorted, ascending or descending; the last two
// without non-finite values.
std::vector<double> abscissae(std::mt19937_64 &rng, const std::vector<double> &t, size_t n,
                              int sorted) {
  std::vector<double> x = stress_abscissae(rng, t, n, sorted != 0);
  if (sorted) sort_abscissae(x);
  if (sorted == 2) std::reverse(x.begin(), x.end());
  return x;
}

TEST(KernelPaths, KnotGridMatchesGeneric) {
  std::mt19937_64 rng(11);
  int cases = 0;
  for (const bsbasis::IsaVariant *v : variants_here()) {
    SCOPED_TRACE(v->name);
    for (int order = bsbasis::kMinFixed; order <= bsbasis::kMaxFixed; ++order)
      for (int kind = 0; kind < 4; ++kind)
        // Few intervals to many: the table, the guide, and spans per
        // abscissa where the columns outnumber the abscissae.
        for (int intervals : {1, 3, 20, 700, 5000})
          for (int sorted = 0; sorted < 3; ++sorted)
            for (int stop : {0, 1, order - 1, order, order + 2}) {
              const std::vector<double> t = random_knots(rng, order, kind, intervals);
              const int nt = int(t.size());
              // The full basis, fewer columns, and more than the knots allow.
              const int nj_choice[] = {nt - order, nt / 2, nt - 1, nt + 3};
              const int nj = nj_choice[rng() % 4];
              // Tile edges, and enough abscissae for the guide.
              const size_t nx_choice[] = {1, 5, 16, 128, 300, 1000, 4000};
              const size_t nx = nx_choice[rng() % 7];
              const std::vector<double> x = abscissae(rng, t, nx, sorted);
              SCOPED_TRACE("order " + std::to_string(order) + " kind " + std::to_string(kind) +
                           " nt " + std::to_string(nt) + " nj " + std::to_string(nj) +
                           " stop " + std::to_string(stop) + " sorted " +
                           std::to_string(sorted) + " nx " + std::to_string(nx));
              const int st = std::min(stop, order);
              Triplets want = fresh(nx, order, st), got = fresh(nx, order, st);
              bsbasis::knot_generic(t.data(), nt, x.data(), nx, want.i.data(), want.j.data(),
                                    want.B.data(), st, order, nj);
              v->table->knot[order](t.data(), nt, x.data(), nx, got.i.data(), got.j.data(),
                                    got.B.data(), st, nj);
              ASSERT_EQ(entry_differences(want, got), "");
              ++cases;
            }
  }
  EXPECT_GT(cases, 0);
}

// Runs of abscissae in one interval, broken by abscissae elsewhere, out of
// range and non-finite: every kind of group within one tile.
TEST(KernelPaths, KnotGridGroupKinds) {
  std::mt19937_64 rng(14);
  const std::vector<double> t = random_knots(rng, 4, 3, 50);
  const int nt = int(t.size());
  for (const bsbasis::IsaVariant *v : variants_here())
    for (int order = bsbasis::kMinFixed; order <= bsbasis::kMaxFixed; ++order)
      for (int round = 0; round < 20; ++round) {
        std::vector<double> x;
        double at = t[order];
        while (x.size() < 600) {
          const int run = int(rng() % 12);
          for (int k = 0; k < run; ++k) x.push_back(at + 1e-4 * k);
          const double kinds[] = {kNaN, -1.0, 2.0, t[rng() % nt]};
          x.push_back(kinds[rng() % 4]);
          at = std::uniform_real_distribution<double>(t.front(), t.back())(rng);
        }
        const int nj = nt - order;
        Triplets want = fresh(x.size(), order, order), got = fresh(x.size(), order, order);
        bsbasis::knot_generic(t.data(), nt, x.data(), x.size(), want.i.data(), want.j.data(),
                              want.B.data(), order, order, nj);
        v->table->knot[order](t.data(), nt, x.data(), x.size(), got.i.data(), got.j.data(),
                              got.B.data(), order, nj);
        ASSERT_EQ(entry_differences(want, got), "") << v->name << " order " << order;
      }
}

// Few abscissae on many knots, in runs inside one interval or crossing to
// the next: the spans of a run come from the knots, not from a table.  One
// knot sequence has a gap of the least subnormal below the run, whose
// reciprocal is inf: every span of every position counts, down to the NaN
// it makes.
TEST(KernelPaths, KnotGridRunsWithoutTable) {
  std::mt19937_64 rng(15);
  for (const bsbasis::IsaVariant *v : variants_here())
    for (int order = bsbasis::kMinFixed; order <= bsbasis::kMaxFixed; ++order)
      for (int kind : {0, 3, 4})
        for (int stop : {1, order - 1, order}) {
          std::vector<double> t;
          int at;
          if (kind == 4) {
            for (int m = 0; m < 20000; ++m) t.push_back(m < 100 ? m - 100.0 : m - 99.0);
            t.insert(t.begin() + 100, order - 1, 0.0);
            at = 100 + order - 1;
            t[at] = std::numeric_limits<double>::denorm_min();
          } else {
            t = random_knots(rng, order, kind, 20000);
            at = order + int(rng() % (int(t.size()) - 2 * order - 2));
          }
          const int nt = int(t.size()), nj = nt - order;
          std::vector<double> x;
          for (int k = 0; k < 24; ++k) x.push_back(t[at] + (t[at + 1] - t[at]) * k / 24.0);
          for (int k = 0; k < 20; ++k) x.push_back(t[at + 1] + (t[at + 2] - t[at + 1]) * k / 20.0);
          Triplets want = fresh(x.size(), order, stop), got = fresh(x.size(), order, stop);
          bsbasis::knot_generic(t.data(), nt, x.data(), x.size(), want.i.data(), want.j.data(),
                                want.B.data(), stop, order, nj);
          v->table->knot[order](t.data(), nt, x.data(), x.size(), got.i.data(), got.j.data(),
                                got.B.data(), stop, nj);
          ASSERT_EQ(entry_differences(want, got), "")
              << v->name << " order " << order << " kind " << kind << " stop " << stop;
        }
}

TEST(KernelPaths, KnotGridDegenerateKnots) {
  // No knots, one knot, too few for any interval in range, all knots equal.
  std::vector<double> x = {-1.0, 0.0, 0.5, 1.0, 2.0, kNaN, kInf};
  const std::vector<std::vector<double>> ts = {
      {}, {0.0}, {0.0, 1.0}, {0.0, 0.0, 1.0, 1.0}, {1, 1, 1, 1, 1, 1, 1, 1, 1}};
  for (const bsbasis::IsaVariant *v : variants_here())
    for (int order = bsbasis::kMinFixed; order <= bsbasis::kMaxFixed; ++order)
      for (const auto &t0 : ts)
        for (int nj : {-5, 0, 1, 3, 8, 100}) {
          std::vector<double> t = t0;
          double dummy = 0.0;
          double *tp = t.empty() ? &dummy : t.data();
          Triplets want = fresh(x.size(), order, order), got = fresh(x.size(), order, order);
          bsbasis::knot_generic(tp, int(t.size()), x.data(), x.size(), want.i.data(),
                                want.j.data(), want.B.data(), order, order, nj);
          v->table->knot[order](tp, int(t.size()), x.data(), x.size(), got.i.data(),
                                got.j.data(), got.B.data(), order, nj);
          ASSERT_EQ(entry_differences(want, got), "")
              << v->name << " order " << order << " nt " << t.size() << " nj " << nj;
        }
}

TEST(KernelPaths, UniformGridMatchesGeneric) {
  std::mt19937_64 rng(12);
  for (const bsbasis::IsaVariant *v : variants_here())
    for (int order = bsbasis::kMinFixed; order <= bsbasis::kMaxFixed; ++order)
      for (int nj : {-3, 0, order - 1, order, order + 1, 40, 2000000000})
        for (int stop : {0, 1, order - 1, order}) {
          const double hi = nj > 1000 ? 5e3 : nj;
          std::vector<double> grid;
          for (int m = order - 1; m <= std::max(hi, order + 1.0); ++m) grid.push_back(m);
          std::vector<double> x = abscissae(rng, grid, 517, int(rng() % 2));
          for (double e : {double(nj), std::nextafter(double(nj), 0.0), order - 1.0,
                           std::nextafter(order - 1.0, -1.0)})
            x.push_back(e);
          Triplets want = fresh(x.size(), order, stop), got = fresh(x.size(), order, stop);
          bsbasis::uniform_generic(x.data(), x.size(), want.i.data(), want.j.data(),
                                   want.B.data(), stop, order, nj);
          v->table->uniform[order](x.data(), x.size(), got.i.data(), got.j.data(),
                                   got.B.data(), stop, nj);
          ASSERT_EQ(entry_differences(want, got), "")
              << v->name << " order " << order << " nj " << nj << " stop " << stop;
        }
}

// The derivative's paths of fixed order, on every path of the dispatch,
// against the one of any order, with the span table and (knots far
// outnumbering the blocks) without it.
TEST(KernelPaths, DerivativeMatchesGeneric) {
  std::mt19937_64 rng(13);
  for (const Path &path : paths_here()) {
    UsePath use(path);
    for (int order = bsbasis::kMinFixed; order <= bsbasis::kMaxFixed; ++order)
      for (int kind = 0; kind < 4; ++kind)
        for (int intervals : {1, 7, 300, 3000}) {
          const std::vector<double> t = random_knots(rng, order, kind, intervals);
          const int nt = int(t.size());
          const int nj = std::max(nt - order, 0);
          const std::vector<double> x = abscissae(rng, t, 203, int(rng() % 2));
          const int nx = int(x.size());
          Triplets in = fresh(nx, order, order - 1);
          bsbasis::knot_generic(t.data(), nt, x.data(), nx, in.i.data(), in.j.data(),
                                in.B.data(), order - 1, order, nj);
          // Columns outside the knots must read nothing and give 0.
          for (int p = 0; p < nx; p += 17) {
            in.j[size_t(p) * order] = (p & 1) ? -2 : nt + 1;
            in.j[size_t(p) * order + order - 1] = (p & 2) ? nt : -1;
          }
          Triplets want = in, got = in;
          bsbasis::deriv_generic(t.data(), nt, want.j.data(), want.B.data(), nx, order);
          ASSERT_TRUE(bsbasis::deriv_fixed(t.data(), nt, got.j.data(), got.B.data(), nx, order));
          ASSERT_EQ(entry_differences(want, got), "")
              << path.name << " order " << order << " kind " << kind << " intervals "
              << intervals;
        }
  }
}

// ------------------------------------------------ derivative kernels alone

// The span table as derivative.cpp fills it, in an array of its own size.
std::vector<double> span_table(const std::vector<double> &t, int order) {
  std::vector<double> s(t.size());
  for (size_t c = 0; c < t.size(); ++c)
    s[c] = bsbasis::reciprocal_span(t.data(), int(t.size()), bsbasis::index_t(c), order - 1);
  return s;
}

// A value of any kind: mostly ordinary, sometimes NaN (of either sign, with
// a payload), inf, a signed zero, subnormal or huge.
double any_value(std::mt19937_64 &rng) {
  switch (rng() % 24) {
    case 0: {
      const uint64_t u = 0x7ff8000000000000ull | (rng() & 0xfffffull) | ((rng() & 1) << 63);
      double v;
      std::memcpy(&v, &u, sizeof v);
      return v;
    }
    case 1: return (rng() & 1) ? kInf : -kInf;
    case 2: return (rng() & 1) ? 0.0 : -0.0;
    case 3: return std::numeric_limits<double>::denorm_min();
    case 4: return -1e308;
    default: return std::uniform_real_distribution<double>(-2.0, 2.0)(rng);
  }
}

// Columns of one block of any kind, on nt knots: inside the knots and
// consecutive (often the previous block's, as sorted abscissae give), the
// out-of-range block (all 0), consecutive but running off either end or
// wrapping past INT_MAX, inside but not consecutive, or garbage.
void any_columns(std::mt19937_64 &rng, int nt, int order, int *jb, const int *before) {
  const int deg = order - 1, last0 = nt - 2 - deg;
  const auto run = [&](int64_t c0) {
    for (int q = 0; q < order; ++q) jb[q] = int(uint32_t(uint64_t(c0) + uint64_t(q)));
  };
  const auto inside = [&] { return last0 >= 0 ? int(rng() % uint64_t(last0 + 1)) : 0; };
  const int kind = int(rng() % 16);
  if (kind < 8 && before) {
    std::copy(before, before + order, jb);  // the previous block's columns
  } else if (kind < 11 && last0 >= 0) {
    run(inside());
  } else if (kind == 11) {
    std::fill(jb, jb + order, 0);
  } else if (kind == 12) {
    // Off the low end (J < deg), to the last knot and past it, or wrapping.
    const int64_t starts[] = {-deg - 1, -deg, -1, int64_t(nt) - order, int64_t(nt) - deg,
                              int64_t(nt) - 1, INT32_MAX - 1, INT32_MAX, INT32_MIN};
    run(starts[rng() % 9]);
  } else if (kind == 13 && last0 >= 0) {
    run(inside());
    jb[rng() % order] = int(rng() % uint64_t(nt > 1 ? nt - 1 : 1));
  } else {
    const int extremes[] = {INT32_MIN, -1, 0, nt - 2, nt - 1, nt, INT32_MAX};
    for (int q = 0; q < order; ++q)
      jb[q] = (rng() & 1) ? extremes[rng() % 7] : int(rng() % uint64_t(nt + 4)) - 2;
  }
}

// Knot sequences for the derivative: random ones of every kind, and one
// whose gap of the least subnormal gives a reciprocal span of inf.
std::vector<double> deriv_knots(std::mt19937_64 &rng, int order, int kind) {
  if (kind < 4) return random_knots(rng, order, kind, 1 + int(rng() % 40));
  std::vector<double> t = {-3.0, -2.0, -1.0};
  t.insert(t.end(), order - 1, 0.0);
  t.push_back(std::numeric_limits<double>::denorm_min());
  for (int m = 1; m <= 9; ++m) t.push_back(m);
  return t;
}

// Every derivative kernel, alone on arrays of exactly the size it may use,
// against the path of any order: blocks of every kind in any mix, values
// of every kind, counts on and off the lanes' multiples, and knots too few
// for any block to lie inside.  Rows and columns stay as they were.
TEST(KernelPaths, DerivativeKernelsOnAnyBlocks) {
  std::mt19937_64 rng(16);
  int cases = 0;
  for (const bsbasis::IsaVariant *v : variants_here())
    for (int order = bsbasis::kMinFixed; order <= bsbasis::kMaxFixed; ++order)
      for (int kind = 0; kind < 7; ++kind)
        for (size_t nx : {1, 2, 3, 7, 8, 9, 15, 16, 17, 33, 203}) {
          // Kinds 5 and 6: one knot too few for any block inside, and just
          // enough for one.
          std::vector<double> t = kind < 5 ? deriv_knots(rng, order, kind)
                                           : std::vector<double>(size_t(order + kind - 5), 1.0);
          if (kind == 6) t.back() = 2.0;
          const int nt = int(t.size());
          const std::vector<double> s = span_table(t, order);
          std::vector<int> j(nx * order);
          std::vector<double> B(nx * order);
          for (size_t p = 0; p < nx; ++p)
            any_columns(rng, nt, order, &j[p * order], p ? &j[(p - 1) * order] : nullptr);
          for (double &b : B) b = any_value(rng);
          const std::vector<int> j0 = j;
          std::vector<double> want = B;
          bsbasis::deriv_generic(t.data(), nt, j.data(), want.data(), bsbasis::index_t(nx), order);
          v->table->deriv[order](s.data(), nt, j.data(), B.data(), bsbasis::index_t(nx));
          ASSERT_EQ(j, j0);
          for (size_t e = 0; e < B.size(); ++e)
            ASSERT_EQ(bits(B[e]), bits(want[e]))
                << v->name << " order " << order << " kind " << kind << " nx " << nx
                << " block " << e / order << " pos " << e % order << ": got " << B[e]
                << " want " << want[e];
          ++cases;
        }
  EXPECT_GT(cases, 0);
}

// Runs of blocks that share their columns, as sorted abscissae give, with
// one block that differs, at every place within the kernels' pairs of
// groups: its columns shifted by one (still consecutive and inside), one
// column changed, its top column the last knot or past it, or its columns
// below the knots.
TEST(KernelPaths, DerivativeKernelsOnBrokenRuns) {
  std::mt19937_64 rng(17);
  for (const bsbasis::IsaVariant *v : variants_here())
    for (int order = bsbasis::kMinFixed; order <= bsbasis::kMaxFixed; ++order) {
      const std::vector<double> t = random_knots(rng, order, 0, 12);
      const int nt = int(t.size()), deg = order - 1;
      const std::vector<double> s = span_table(t, order);
      const size_t nx = 37;
      for (size_t odd = 0; odd < 20; ++odd)
        for (int change = 0; change < 5; ++change) {
          const int c0 = 1 + int(rng() % uint64_t(nt - 3 - deg));
          std::vector<int> j(nx * order);
          for (size_t p = 0; p < nx; ++p)
            for (int q = 0; q < order; ++q) j[p * order + q] = c0 + q;
          int *jb = &j[odd * order];
          if (change == 0) for (int q = 0; q < order; ++q) jb[q] += (rng() & 1) ? 1 : -1;
          if (change == 1) jb[rng() % order] += 1;
          if (change == 2) for (int q = 0; q < order; ++q) jb[q] = nt - 1 - deg + q;
          if (change == 3) for (int q = 0; q < order; ++q) jb[q] = nt - deg + q;
          if (change == 4) for (int q = 0; q < order; ++q) jb[q] = q - deg;
          std::vector<double> B(nx * order);
          for (double &b : B) b = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
          std::vector<double> want = B;
          bsbasis::deriv_generic(t.data(), nt, j.data(), want.data(), bsbasis::index_t(nx), order);
          v->table->deriv[order](s.data(), nt, j.data(), B.data(), bsbasis::index_t(nx));
          for (size_t e = 0; e < B.size(); ++e)
            ASSERT_EQ(bits(B[e]), bits(want[e]))
                << v->name << " order " << order << " block " << odd << " change " << change
                << " entry " << e;
        }
    }
}

// The dispatch: orders outside the fixed range have no kernel, the others
// one in every table; the table in use is the best supported variant.
TEST(KernelPaths, TablesCoverTheFixedOrders) {
  for (int k = 0; k < bsbasis::kIsaVariantCount; ++k)
    for (int order = 0; order <= bsbasis::kMaxFixed; ++order) {
      const bool fixed = order >= bsbasis::kMinFixed;
      EXPECT_EQ(bsbasis::kIsaVariants[k].table->knot[order] != nullptr, fixed);
      EXPECT_EQ(bsbasis::kIsaVariants[k].table->uniform[order] != nullptr, fixed);
      EXPECT_EQ(bsbasis::kIsaVariants[k].table->deriv[order] != nullptr, fixed);
      EXPECT_EQ(bsbasis::kGenericOnly.deriv[order], nullptr);
    }
  EXPECT_EQ(bsbasis::knot_kernel(1), nullptr);
  EXPECT_EQ(bsbasis::knot_kernel(bsbasis::kMaxFixed + 1), nullptr);
  EXPECT_FALSE(bsbasis::deriv_fixed(nullptr, 0, nullptr, nullptr, 0, 1));
  const std::vector<const bsbasis::IsaVariant *> here = variants_here();
  ASSERT_FALSE(here.empty());
  EXPECT_EQ(&bsbasis::kernels(), here.front()->table);
  EXPECT_EQ(bsbasis::kIsaVariants[bsbasis::kIsaVariantCount - 1].needs, 0u);
  std::string ran;
  for (const bsbasis::IsaVariant *v : here) ran += std::string(v->name) + " ";
  std::printf("instruction sets tested: %s\n", ran.c_str());
}

}  // namespace

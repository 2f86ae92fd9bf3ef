// Every tiled kernel, on every instruction set this CPU runs, against the
// generic path, bit for bit: rows, columns and the bits of every value,
// including the positions a stopped evaluation must leave alone.  The inputs
// reach each way of the tiled kernels: sorted runs in one interval, whole
// and gathered groups, the knot guide, the column table and spans formed
// per abscissa, and bounds beyond what the knots allow.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "dispatch.hpp"
#include "helpers.hpp"
#include "kernels.hpp"

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
              bsbasis::grid_generic(t.data(), nt, x.data(), nx, want.i.data(), want.j.data(),
                                    want.B.data(), st, order, nj);
              v->table->grid[order](t.data(), nt, x.data(), nx, got.i.data(), got.j.data(),
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
        bsbasis::grid_generic(t.data(), nt, x.data(), x.size(), want.i.data(), want.j.data(),
                              want.B.data(), order, order, nj);
        v->table->grid[order](t.data(), nt, x.data(), x.size(), got.i.data(), got.j.data(),
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
          bsbasis::grid_generic(t.data(), nt, x.data(), x.size(), want.i.data(), want.j.data(),
                                want.B.data(), stop, order, nj);
          v->table->grid[order](t.data(), nt, x.data(), x.size(), got.i.data(), got.j.data(),
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
          bsbasis::grid_generic(tp, int(t.size()), x.data(), x.size(), want.i.data(),
                                want.j.data(), want.B.data(), order, order, nj);
          v->table->grid[order](tp, int(t.size()), x.data(), x.size(), got.i.data(),
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

// The derivative's paths of fixed order against the one of any order, with
// the span table and (knots far outnumbering the blocks) without it.
TEST(KernelPaths, DerivativeMatchesGeneric) {
  std::mt19937_64 rng(13);
  for (int order = bsbasis::kMinFixed; order <= bsbasis::kMaxFixed; ++order)
    for (int kind = 0; kind < 4; ++kind)
      for (int intervals : {1, 7, 300, 3000}) {
        const std::vector<double> t = random_knots(rng, order, kind, intervals);
        const int nt = int(t.size());
        const int nj = std::max(nt - order, 0);
        const std::vector<double> x = abscissae(rng, t, 203, int(rng() % 2));
        const int nx = int(x.size());
        Triplets in = fresh(nx, order, order - 1);
        bsbasis::grid_generic(t.data(), nt, x.data(), nx, in.i.data(), in.j.data(),
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
            << "order " << order << " kind " << kind << " intervals " << intervals;
      }
}

// The dispatch: orders outside the fixed range have no kernel, the others
// one in every table; the table in use is the best supported variant.
TEST(KernelPaths, TablesCoverTheFixedOrders) {
  for (int k = 0; k < bsbasis::kIsaVariantCount; ++k)
    for (int order = 0; order <= bsbasis::kMaxFixed; ++order) {
      const bool fixed = order >= bsbasis::kMinFixed;
      EXPECT_EQ(bsbasis::kIsaVariants[k].table->grid[order] != nullptr, fixed);
      EXPECT_EQ(bsbasis::kIsaVariants[k].table->uniform[order] != nullptr, fixed);
    }
  EXPECT_EQ(bsbasis::grid_kernel(1), nullptr);
  EXPECT_EQ(bsbasis::grid_kernel(bsbasis::kMaxFixed + 1), nullptr);
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

// Every kernel called from several threads at once, on shared inputs and
// distinct outputs, must give the bits of a single-threaded run.  Large knot
// counts put the scratch tables on the heap, small ones on the stack.  Built
// with -DBSBASIS_TSAN=ON (scripts/tsan.sh) this runs under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "bsbasis.h"

namespace {

constexpr int kThreads = 6;
constexpr int kRounds = 3;

struct Inputs {
  std::vector<double> t, x, keys;
  std::vector<int> cols;  // prepared columns for test()
  int order, nj;
};

Inputs make_inputs(int nt, int order, int nx) {
  Inputs in;
  in.order = order;
  // Clamped ends and a few repeated interior knots.
  for (int m = 0; m < nt; ++m) {
    double v = m < order ? 0.0 : m > nt - order ? nt - 2 * order + 1 : m - order + 1;
    if (m % 97 == 50) v = in.t.back();
    in.t.push_back(v);
  }
  in.nj = nt - order;
  const double hi = in.t.back();
  for (int p = 0; p < nx; ++p) {
    // Scattered abscissae, some on knots, some outside, a few non-finite.
    double v = std::fmod(p * 7.31, hi + 4.0) - 2.0;
    if (p % 11 == 0) v = std::floor(v);
    if (p % 101 == 7) v = NAN;
    if (p % 103 == 9) v = -INFINITY;
    in.x.push_back(v);
  }
  in.keys = in.x;
  for (int p = 0; p < nx * order; ++p) in.cols.push_back(p / order + order);
  return in;
}

// Everything one thread computes, compared as bits.
struct Results {
  std::vector<int> ui, uj, gi, gj, di, dj, idx, one, tj;
  std::vector<double> uB, gB, dB, tB;
  std::vector<double> ab, rhs, sums, values;  // normal equations, spline values
  int64_t count = 0;

  bool operator==(const Results &o) const {
    auto same_d = [](const std::vector<double> &a, const std::vector<double> &b) {
      return a.size() == b.size() &&
             std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
    };
    return ui == o.ui && uj == o.uj && gi == o.gi && gj == o.gj && di == o.di &&
           dj == o.dj && idx == o.idx && one == o.one && tj == o.tj &&
           same_d(uB, o.uB) && same_d(gB, o.gB) && same_d(dB, o.dB) &&
           same_d(tB, o.tB) && same_d(ab, o.ab) && same_d(rhs, o.rhs) &&
           same_d(sums, o.sums) && same_d(values, o.values) && count == o.count;
  }
};

Results run_all(const Inputs &c) {
  Inputs in = c;  // the kernels take non-const pointers; inputs are not written
  double *t = const_cast<double *>(c.t.data());
  double *x = const_cast<double *>(c.x.data());
  double *keys = const_cast<double *>(c.keys.data());
  const int nt = int(c.t.size()), nx = int(c.x.size()), order = c.order;
  const int n = nx * order;
  Results r;
  r.ui.assign(n, 0), r.uj.assign(n, 0), r.uB.assign(n, 0.0);
  blossom(x, nx, r.ui.data(), r.uj.data(), r.uB.data(), n, order, order, c.nj);

  r.gi.assign(n, 0), r.gj.assign(n, 0), r.gB.assign(n, 0.0);
  blossom_grid(t, nt, x, nx, r.gi.data(), r.gj.data(), r.gB.data(), n, order,
               order, c.nj);

  r.di.assign(n, 0), r.dj.assign(n, 0), r.dB.assign(n, 0.0);
  blossom_grid(t, nt, x, nx, r.di.data(), r.dj.data(), r.dB.data(), n, order - 1,
               order, c.nj);
  deriv_grid(t, nt, r.di.data(), r.dj.data(), r.dB.data(), n, nx, order);

  r.idx.assign(nx, 0);
  binary_search(keys, r.idx.data(), nx, t, nt);
  for (int p = 0; p < nx; ++p)
    r.one.push_back(binary_search_with_guess(keys[p], t, nt, p % (nt + 2) - 1));

  r.tj = in.cols, r.tB.assign(n, 7.0);
  test(x, nx, t, nt, r.tj.data(), r.tB.data(), n, order);

  std::vector<double> y(nx), w(nx);
  for (int p = 0; p < nx; ++p) {
    y[p] = std::sin(0.1 * p);
    w[p] = 1.0 + (p % 3);
  }
  r.ab.assign(static_cast<size_t>(order) * c.nj, 0.0), r.rhs.assign(c.nj, 0.0);
  r.sums.assign(2, 0.0);
  EXPECT_EQ(bsbasis_normal_equations(t, nt, order, c.nj, 1, BSBASIS_EXTRAPOLATE_ZERO, x,
                                     y.data(), w.data(), nx, r.ab.data(), r.rhs.data(),
                                     r.sums.data(), &r.count, nullptr),
            BSBASIS_OK);
  r.values.assign(nx, 0.0);
  EXPECT_EQ(bsbasis_evaluate(t, nt, order, c.nj, 0, BSBASIS_EXTRAPOLATE_LINEAR, r.rhs.data(), x,
                             nx, r.values.data()),
            BSBASIS_OK);
  return r;
}

void run_concurrently(const Inputs &in) {
  const Results expect = run_all(in);
  // Sanity: the single-threaded run evaluated something.
  size_t nonzero = 0;
  for (double v : expect.gB) nonzero += v != 0.0 && !std::isnan(v);
  ASSERT_GT(nonzero, expect.gB.size() / 4);

  std::vector<Results> got(kThreads * kRounds);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k) {
    threads.emplace_back([&, k] {
      // Start together so that the calls overlap.
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int round = 0; round < kRounds; ++round)
        got[k * kRounds + round] = run_all(in);
    });
  }
  for (auto &th : threads) th.join();
  for (size_t k = 0; k < got.size(); ++k)
    EXPECT_TRUE(got[k] == expect) << "thread " << k / kRounds << " round " << k % kRounds;
}

// Tables above 1024 entries: each call takes its own heap scratch.
TEST(Threads, HeapScratchKernelsMatchSingleThreadedBits) {
  run_concurrently(make_inputs(3000, 4, 4000));
}

// Small tables on each call's own stack.
TEST(Threads, StackScratchKernelsMatchSingleThreadedBits) {
  run_concurrently(make_inputs(60, 6, 2000));
}

}  // namespace

// Every path of the library against the scalar reference on many random
// calls, through the exported functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "helpers.hpp"
#include "paths.hpp"
#include "reference.hpp"

using namespace testing_bsbasis;

namespace {

constexpr int kCalls = 600;

std::vector<double> maybe_sorted(std::mt19937_64 &rng, std::vector<double> x) {
  if (rng() & 1) sort_abscissae(x);
  return x;
}

// Sizes from one abscissa to a few tiles.
size_t some_count(std::mt19937_64 &rng) {
  static const size_t large[] = {127, 128, 129, 300, 1100};
  return (rng() % 8) ? 1 + rng() % 40 : large[rng() % 5];
}

class Differential : public ::testing::TestWithParam<Path> {
 protected:
  UsePath use_{GetParam()};
};

TEST_P(Differential, UniformGridMatchesReference) {
  std::mt19937_64 rng(1);
  for (int call = 0; call < kCalls; ++call) {
    const int order = 1 + int(rng() % 8);
    const int order_stop = int(rng() % (order + 1));
    const int nj = int(rng() % 16);
    std::vector<double> grid;
    for (int m = -2; m <= nj + 2; ++m) grid.push_back(m);
    const auto x = maybe_sorted(rng, stress_abscissae(rng, grid, some_count(rng)));
    const auto want = ref::blossom(x, order_stop, order, nj);
    ASSERT_EQ(block_differences(want, lib_blossom(x, order_stop, order, nj), order), "")
        << "order " << order << " order_stop " << order_stop << " nj " << nj;
  }
}

TEST_P(Differential, KnotGridMatchesReference) {
  std::mt19937_64 rng(2);
  for (int call = 0; call < kCalls; ++call) {
    const int order = 1 + int(rng() % 8);
    const int order_stop = int(rng() % (order + 1));
    const int kind = call % 4;
    const auto t = random_knots(rng, order, kind, (call % 16 == 0) ? 300 : 1 + rng() % 12);
    const int nt = int(t.size());
    // The full basis, or any bound the knots allow.
    const int nj = (rng() & 1) ? std::max(nt - order, 0) : int(rng() % nt);
    const auto x = maybe_sorted(rng, stress_abscissae(rng, t, some_count(rng)));
    const auto want = ref::blossom_grid(t, x, order_stop, order, nj);
    ASSERT_EQ(block_differences(want, lib_blossom_grid(t, x, order_stop, order, nj), order), "")
        << "order " << order << " order_stop " << order_stop << " nt " << nt << " nj " << nj
        << " knots kind " << kind;
  }
}

// Knots and abscissae of -0.0: a broadcast must not turn -0.0 into +0.0,
// which would change the sign of zeros in the blocks.
TEST_P(Differential, KnotGridKeepsTheSignOfZero) {
  for (int order = 1; order <= 8; ++order) {
    std::vector<double> t(order, -0.0);
    for (int m = 1; m <= 5; ++m) t.push_back(m);
    t.insert(t.end(), order - 1, 5.0);
    const int nj = int(t.size()) - order;
    std::vector<double> x(300, -0.0);
    for (size_t p = 1; p < x.size(); p += 3) x[p] = 0.0;
    for (int order_stop = 1; order_stop <= order; ++order_stop)
      ASSERT_EQ(block_differences(ref::blossom_grid(t, x, order_stop, order, nj),
                                  lib_blossom_grid(t, x, order_stop, order, nj), order),
                "")
          << "order " << order << " order_stop " << order_stop;
  }
}

TEST_P(Differential, DerivativeMatchesReference) {
  std::mt19937_64 rng(3);
  for (int call = 0; call < kCalls; ++call) {
    const int order = 1 + int(rng() % 8);
    const auto t = random_knots(rng, order, call % 4);
    const int nt = int(t.size());
    const int nj = std::max(std::min(nt - order + int(rng() % 2), nt - 1), 0);
    const auto x = maybe_sorted(rng, stress_abscissae(rng, t, some_count(rng)));
    auto want = ref::blossom_grid(t, x, order - 1, order, nj);
    ref::deriv_grid(t, want, int(x.size()), order);
    ASSERT_EQ(block_differences(want, lib_grid(t, x, order, nj, 1), order), "")
        << "order " << order << " nt " << nt << " nj " << nj;
  }
}

// Sorted abscissae, many to an interval, with some below and above the
// knots: long runs of blocks in one interval, broken where the abscissae
// cross a knot, and counts on and off every multiple of the lanes.
TEST_P(Differential, DerivativeOfSortedRunsMatchesReference) {
  std::mt19937_64 rng(6);
  for (int call = 0; call < kCalls / 4; ++call) {
    const int order = 2 + call % 5;
    const auto t = random_knots(rng, order, call % 4, 1 + int(rng() % 30));
    const int nt = int(t.size());
    const int nj = std::max(nt - order, 0);
    const size_t nx = 1 + rng() % 700;
    std::vector<double> x(nx);
    const double lo = t.front(), hi = t.back(), w = hi - lo;
    std::uniform_real_distribution<double> u(lo - 0.05 * w, hi + 0.05 * w);
    for (double &v : x) v = u(rng);
    sort_abscissae(x);
    auto want = ref::blossom_grid(t, x, order - 1, order, nj);
    ref::deriv_grid(t, want, int(nx), order);
    ASSERT_EQ(block_differences(want, lib_grid(t, x, order, nj, 1), order), "")
        << "order " << order << " nt " << nt << " nx " << nx;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, Differential, ::testing::ValuesIn(paths_here()),
                         [](const ::testing::TestParamInfo<Path> &p) { return p.param.name; });

// The search on sorted arrays answers the interval index by its
// definition, whatever the guess, and the many-key driver agrees key by key.
TEST(DifferentialSearch, MatchesDefinition) {
  std::mt19937_64 rng(4);
  for (int call = 0; call < kCalls; ++call) {
    const int order = 1 + int(rng() % 4);
    auto arr = random_knots(rng, order, call % 4);
    arr.resize(1 + rng() % arr.size());
    const int len = int(arr.size());
    auto keys = stress_abscissae(rng, arr, 1 + rng() % 30, true);
    for (double key : keys) {
      const int want = ref::interval_index(key, arr.data(), len);
      for (int guess = -2; guess <= len + 2; ++guess)
        ASSERT_EQ(binary_search_with_guess(key, arr.data(), len, guess), want)
            << "key " << key << " len " << len << " guess " << guess;
    }
    keys = maybe_sorted(rng, keys);
    std::vector<int> got(keys.size(), -9), want(keys.size(), -9);
    binary_search(keys.data(), got.data(), int(keys.size()), arr.data(), len);
    for (size_t k = 0; k < keys.size(); ++k) want[k] = ref::interval_index(keys[k], arr.data(), len);
    ASSERT_EQ(got, want) << "len " << len;
  }
}

TEST(DifferentialLayout, OrderOneValuesMatchReference) {
  std::mt19937_64 rng(5);
  for (int call = 0; call < kCalls; ++call) {
    const int order = 1 + int(rng() % 8);
    const int N = int(rng() % 40);
    std::vector<int> j(N), jr(N);
    for (int &c : j) c = int(rng() % 200) - 100;
    jr = j;
    std::vector<double> B(N, 7.0), Br(N, 7.0);
    test(nullptr, 0, nullptr, 0, j.data(), B.data(), N, order);
    ref::test(jr.data(), Br.data(), N, order);
    ASSERT_EQ(j, jr);
    ASSERT_EQ(B, Br);
  }
}

}  // namespace

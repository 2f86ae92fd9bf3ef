// The library against the scalar reference on many random calls.
#include <algorithm>
#include <random>

#include "helpers.hpp"

using namespace testing_bsbasis;

namespace {

constexpr int kCalls = 600;

std::vector<double> maybe_sorted(std::mt19937_64 &rng, std::vector<double> x) {
  if (rng() & 1) std::sort(x.begin(), x.end(), [](double a, double b) {
      // NaN last, so that a sorted array stays a strict weak order.
      return std::isnan(b) ? !std::isnan(a) : a < b;
    });
  return x;
}

TEST(Differential, UniformGridMatchesReference) {
  std::mt19937_64 rng(1);
  for (int call = 0; call < kCalls; ++call) {
    const int order = 1 + int(rng() % 8);
    const int order_stop = int(rng() % (order + 1));
    const int nj = int(rng() % 16);
    std::vector<double> grid;
    for (int m = -2; m <= nj + 2; ++m) grid.push_back(m);
    const auto x = maybe_sorted(rng, stress_abscissae(rng, grid, 1 + int(rng() % 40)));
    const auto want = ref::blossom(x, order_stop, order, nj);
    ASSERT_TRUE(same_blocks(want, lib_blossom(x, order_stop, order, nj), order))
        << "order " << order << " order_stop " << order_stop << " nj " << nj;
  }
}

TEST(Differential, KnotGridMatchesReference) {
  std::mt19937_64 rng(2);
  for (int call = 0; call < kCalls; ++call) {
    const int order = 1 + int(rng() % 8);
    const int order_stop = int(rng() % (order + 1));
    const auto t = random_knots(rng, order, call % 3);
    const int nt = int(t.size());
    // The full basis, or any bound the knots allow.
    const int nj = (rng() & 1) ? std::max(nt - order, 0) : int(rng() % nt);
    const auto x = maybe_sorted(rng, stress_abscissae(rng, t, 1 + int(rng() % 40)));
    const auto want = ref::blossom_grid(t, x, order_stop, order, nj);
    ASSERT_TRUE(same_blocks(want, lib_blossom_grid(t, x, order_stop, order, nj), order))
        << "order " << order << " order_stop " << order_stop << " nt " << nt << " nj "
        << nj << " knots kind " << call % 3;
  }
}

TEST(Differential, DerivativeMatchesReference) {
  std::mt19937_64 rng(3);
  for (int call = 0; call < kCalls; ++call) {
    const int order = 1 + int(rng() % 8);
    const auto t = random_knots(rng, order, call % 3);
    const int nt = int(t.size());
    const int nj = std::max(std::min(nt - order + int(rng() % 2), nt - 1), 0);
    const auto x = maybe_sorted(rng, stress_abscissae(rng, t, 1 + int(rng() % 40)));
    auto want = ref::blossom_grid(t, x, order - 1, order, nj);
    ref::deriv_grid(t, want, int(x.size()), order);
    ASSERT_TRUE(same_blocks(want, lib_grid(t, x, order, nj, 1), order))
        << "order " << order << " nt " << nt << " nj " << nj;
  }
}

TEST(Differential, SearchMatchesReference) {
  std::mt19937_64 rng(4);
  for (int call = 0; call < kCalls; ++call) {
    const int order = 1 + int(rng() % 4);
    auto arr = random_knots(rng, order, call % 3);
    arr.resize(1 + rng() % arr.size());
    const int len = int(arr.size());
    auto keys = stress_abscissae(rng, arr, 1 + int(rng() % 30));
    for (double key : keys) {
      const int guess = int(rng() % (len + 12)) - 6;
      ASSERT_EQ(binary_search_with_guess(key, arr.data(), len, guess),
                ref::search_with_guess(key, arr.data(), len, guess))
          << "key " << key << " len " << len << " guess " << guess;
    }
    keys = maybe_sorted(rng, keys);
    std::vector<int> got(keys.size(), -9), want(keys.size(), -9);
    binary_search(keys.data(), got.data(), int(keys.size()), arr.data(), len);
    ref::binary_search(keys.data(), want.data(), int(keys.size()), arr.data(), len);
    ASSERT_EQ(got, want) << "len " << len;
  }
}

TEST(Differential, OrderOneValuesMatchReference) {
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

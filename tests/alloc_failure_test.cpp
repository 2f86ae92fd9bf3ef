// Failed scratch allocations: the kernels work without their scratch and
// give the same bits.  This binary defines the C allocator entry
// points itself; they forward to glibc's, except while `refuse` is set around
// a kernel call, when they fail and count the refusal.  The library's calls
// bind to these definitions through the dynamic linker (the executable comes
// first in the lookup order).  Not built with sanitizers, which bring their
// own allocator.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "bsbasis.h"

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_memalign(size_t, size_t);
}

namespace {
std::atomic<bool> refuse{false};
std::atomic<int> refused{0};

bool refusing() {
  if (!refuse.load(std::memory_order_relaxed)) return false;
  refused.fetch_add(1, std::memory_order_relaxed);
  return true;
}
}  // namespace

extern "C" {
void *malloc(size_t n) noexcept { return refusing() ? nullptr : __libc_malloc(n); }
void *calloc(size_t k, size_t n) noexcept {
  return refusing() ? nullptr : __libc_calloc(k, n);
}
void *aligned_alloc(size_t a, size_t n) noexcept {
  return refusing() ? nullptr : __libc_memalign(a, n);
}
int posix_memalign(void **p, size_t a, size_t n) noexcept {
  if (refusing()) return 12;  // ENOMEM
  *p = __libc_memalign(a, n);
  return *p ? 0 : 12;
}
}

namespace {

// Runs f with every allocation refused; returns how many were refused.
template <class F>
int refusing_allocations(F f) {
  refused = 0;
  refuse = true;
  f();
  refuse = false;
  return refused.load();
}

struct Problem {
  std::vector<double> t, x;
  int order = 4, nj = 0;
  int nx() const { return int(x.size()); }
  int n() const { return nx() * order; }
};

// Uniform knots 0 .. nt-1 and nx abscissae over and beyond them, on knots,
// and non-finite.
Problem make_problem(int nt, int order, int nx) {
  Problem pr;
  pr.order = order;
  for (int m = 0; m < nt; ++m) pr.t.push_back(m);
  pr.nj = nt - order;
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-3.0, nt + 3.0);
  for (int p = 0; p < nx; ++p) pr.x.push_back(p % 97 == 0 ? double(p % nt) : u(rng));
  pr.x[1] = std::nan("");
  pr.x[2] = INFINITY;
  return pr;
}

struct Out {
  std::vector<int> i, j;
  std::vector<double> B;
  explicit Out(int n) : i(n, -7), j(n, -7), B(n, 0.0) {}
};

// Into arrays allocated beforehand: nothing here may allocate.
void run_grid(Problem &pr, int order_stop, Out &o) {
  blossom_grid(pr.t.data(), int(pr.t.size()), pr.x.data(), pr.nx(), o.i.data(),
               o.j.data(), o.B.data(), pr.n(), order_stop, pr.order, pr.nj);
}

Out grid(Problem &pr, int order_stop) {
  Out o(pr.n());
  run_grid(pr, order_stop, o);
  return o;
}

void expect_same(const Out &want, const Out &got) {
  EXPECT_EQ(want.i, got.i);
  EXPECT_EQ(want.j, got.j);
  for (size_t e = 0; e < want.B.size(); ++e)
    ASSERT_EQ(std::memcmp(&want.B[e], &got.B[e], sizeof(double)), 0) << "entry " << e;
}

// The span table and the knot guide of blossom_grid come from the heap on
// 2000 knots and 25000 abscissae; refused, the kernels form the spans per
// abscissa and search without the guide: the same bits.  Order 4 takes a
// tiled kernel, order 8 the generic path.
TEST(AllocFailure, BlossomGridGivesTheSameBits) {
  for (int order : {4, 8}) {
    Problem pr = make_problem(2000, order, 25000);
    const Out good = grid(pr, pr.order);
    Out bad(pr.n());
    const int count = refusing_allocations([&] { run_grid(pr, pr.order, bad); });
    ASSERT_GE(count, 1) << "nothing came from the heap, order " << order;
    expect_same(good, bad);
  }
}

// deriv_grid keeps one span per knot: on the heap above 1024 knots.
TEST(AllocFailure, DerivGridGivesTheSameBits) {
  Problem pr = make_problem(1500, 5, 400);
  const Out in = grid(pr, pr.order - 1);
  Out good = in, bad = in;
  deriv_grid(pr.t.data(), int(pr.t.size()), good.i.data(), good.j.data(), good.B.data(),
             pr.n(), pr.nx(), pr.order);
  const int count = refusing_allocations([&] {
    deriv_grid(pr.t.data(), int(pr.t.size()), bad.i.data(), bad.j.data(), bad.B.data(),
               pr.n(), pr.nx(), pr.order);
  });
  ASSERT_GE(count, 1) << "the table did not come from the heap";
  expect_same(good, bad);
}

// Small calls need no heap at all.
TEST(AllocFailure, SmallCallsNeedNoHeap) {
  Problem pr = make_problem(40, 4, 9);
  const Out good = grid(pr, pr.order - 1);
  Out o(pr.n()), d = good;
  const int count = refusing_allocations([&] {
    run_grid(pr, pr.order - 1, o);
    deriv_grid(pr.t.data(), int(pr.t.size()), d.i.data(), d.j.data(), d.B.data(),
               pr.n(), pr.nx(), pr.order);
  });
  EXPECT_EQ(count, 0);
  expect_same(good, o);
  for (int e = 0; e < pr.n(); ++e) EXPECT_FALSE(std::isnan(d.B[e])) << "entry " << e;
}

}  // namespace

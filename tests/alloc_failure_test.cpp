// Failed scratch allocations.  This binary defines the C allocator entry
// points itself; they forward to glibc's, except while `refuse` is set around
// a kernel call, when they fail and count the refusal.  The library's calls
// bind to these definitions through the dynamic linker (the executable comes
// first in the lookup order).  Not built with sanitizers, which bring their
// own allocator.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
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

// Uniform knots 0 .. nt-1 and abscissae in range, out of range, on knots
// and non-finite.
Problem make_problem(int nt, int order) {
  Problem pr;
  pr.order = order;
  for (int m = 0; m < nt; ++m) pr.t.push_back(m);
  pr.nj = nt - order;
  pr.x = {order - 1.0, 17.25, nt * 0.5 + 0.5, pr.nj - 0.125, -3.0, nt - 1.0,
          std::nan(""), INFINITY, 1000.75};
  return pr;
}

struct Out {
  std::vector<int> i, j;
  std::vector<double> B;
  explicit Out(int n) : i(n, -7), j(n, -7), B(n, 0.0) {}
};

Out grid(Problem &pr, int order_stop) {
  Out o(pr.n());
  blossom_grid(pr.t.data(), int(pr.t.size()), pr.x.data(), pr.nx(), o.i.data(),
               o.j.data(), o.B.data(), pr.n(), order_stop, pr.order, pr.nj);
  return o;
}

// Above 1024 table entries the span table of blossom_grid comes from the heap
// (3 levels x ~2000 columns here); refusing it still writes rows and columns
// and puts NaN in every value, in range or not.
TEST(AllocFailure, BlossomGridWritesLayoutAndNaN) {
  Problem pr = make_problem(2000, 4);
  const Out good = grid(pr, pr.order);
  Out bad(pr.n());
  const int count = refusing_allocations([&] {
    blossom_grid(pr.t.data(), int(pr.t.size()), pr.x.data(), pr.nx(), bad.i.data(),
                 bad.j.data(), bad.B.data(), pr.n(), pr.order, pr.order, pr.nj);
  });
  ASSERT_GE(count, 1) << "the table did not come from the heap";
  EXPECT_EQ(bad.i, good.i);
  EXPECT_EQ(bad.j, good.j);
  for (int e = 0; e < pr.n(); ++e) EXPECT_TRUE(std::isnan(bad.B[e])) << "entry " << e;
  // The layout is the real one: some blocks in range, some not.
  EXPECT_EQ(good.j[3], 3);
  EXPECT_EQ(good.j[4 * 4 + 3], 0);
}

// deriv_grid keeps one entry per knot; above 1024 knots it is on the heap.
// Refused, it leaves i and j as they are and puts NaN in every value.
TEST(AllocFailure, DerivGridKeepsLayoutAndPutsNaN) {
  Problem pr = make_problem(1500, 5);
  Out o = grid(pr, pr.order - 1);
  const std::vector<int> i0 = o.i, j0 = o.j;
  const int count = refusing_allocations([&] {
    deriv_grid(pr.t.data(), int(pr.t.size()), o.i.data(), o.j.data(), o.B.data(),
               pr.n(), pr.nx(), pr.order);
  });
  ASSERT_GE(count, 1) << "the table did not come from the heap";
  EXPECT_EQ(o.i, i0);
  EXPECT_EQ(o.j, j0);
  for (int e = 0; e < pr.n(); ++e) EXPECT_TRUE(std::isnan(o.B[e])) << "entry " << e;
}

// Small tables stay on the stack: with the heap refused, results are exact.
TEST(AllocFailure, SmallTablesNeedNoHeap) {
  Problem pr = make_problem(40, 4);
  const Out good = grid(pr, pr.order - 1);
  Out o(pr.n()), d = good;
  const int count = refusing_allocations([&] {
    blossom_grid(pr.t.data(), int(pr.t.size()), pr.x.data(), pr.nx(), o.i.data(),
                 o.j.data(), o.B.data(), pr.n(), pr.order - 1, pr.order, pr.nj);
    deriv_grid(pr.t.data(), int(pr.t.size()), d.i.data(), d.j.data(), d.B.data(),
               pr.n(), pr.nx(), pr.order);
  });
  EXPECT_EQ(count, 0);
  EXPECT_EQ(o.j, good.j);
  for (int e = 0; e < pr.n(); ++e) {
    EXPECT_EQ(o.B[e], good.B[e]) << "entry " << e;
    EXPECT_FALSE(std::isnan(d.B[e])) << "entry " << e;
  }
}

}  // namespace

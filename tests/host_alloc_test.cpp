// What the C++ host allocates: storage in proportion to the abscissae, never
// to the number of basis functions, and nothing at all when a Design is
// reused; and that it trusts no new storage to hold zeros.  This binary
// replaces operator new: while `armed`, it counts the requests and refuses
// any above `cap` bytes with std::bad_alloc; while `poison` is set, it fills
// new storage with 0xff bytes (NaN as doubles).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <new>
#include <vector>

#include "bsbasis.hpp"

namespace {
bool armed = false, poison = false;
std::size_t cap = 0, calls = 0, bytes = 0;
}  // namespace

void *operator new(std::size_t n) {
  if (armed) {
    ++calls;
    bytes += n;
    if (n > cap) throw std::bad_alloc();
  }
  if (void *p = std::malloc(n ? n : 1)) {
    if (poison) std::memset(p, 0xff, n);
    return p;
  }
  throw std::bad_alloc();
}
void *operator new[](std::size_t n) { return operator new(n); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }

namespace {

// Runs f with the counter armed; returns the bytes requested.
template <class F>
std::size_t allocated(std::size_t limit, F &&f) {
  calls = bytes = 0;
  cap = limit;
  armed = true;
  try {
    f();
  } catch (...) {
    armed = false;
    throw;
  }
  armed = false;
  return bytes;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Derivatives on a uniform grid of 50 million or INT_MAX - order columns:
// a few abscissae cost a few blocks, not a table of every knot.  Each
// block is the one of a small grid at the same offset from its interval.
TEST(HostAlloc, UniformDerivativesFollowTheAbscissae) {
  const int order = 4;
  const bsbasis::UniformBasis small(order, 12);
  for (int nj : {50000000, INT_MAX - order}) {
    SCOPED_TRACE("nj " + std::to_string(nj));
    const bsbasis::UniformBasis basis(order, nj);
    // Offsets from 3 (an interval of the small grid) to 1e7 + 3, to the
    // last interval and to the right end; and the same offsets on the small
    // grid, whose right end is 12.
    const double far = double(nj) - 9.0;
    const std::vector<double> x{1e7 + 3.25, 1e7 + 3.0, far + 0.5, double(nj) - 0.75,
                                double(nj), -1.0};
    const std::vector<double> y{3.25, 3.0, 3.5, 11.25, 12.0, -1.0};
    const std::vector<int> shift{int(1e7), int(1e7), nj - 12, nj - 12, nj - 12, 0};
    bsbasis::Design d;
    EXPECT_LT(allocated(1 << 16, [&] { d = basis.derivatives(x); }), 4096u);
    const bsbasis::Design want = small.derivatives(y);
    for (std::size_t p = 0; p < x.size(); ++p) {
      ASSERT_EQ(d.in_range[p], want.in_range[p]) << "x = " << x[p];
      for (int q = 0; q < order; ++q) {
        const std::size_t e = p * order + q;
        if (!d.in_range[p]) {
          EXPECT_EQ(d.B[e], 0.0);
          continue;
        }
        EXPECT_EQ(d.j[e], want.j[e] + shift[p]) << "x = " << x[p];
        EXPECT_TRUE(same_bits(d.B[e], want.B[e])) << "x = " << x[p] << ": " << d.B[e]
                                                  << " vs " << want.B[e];
      }
    }
  }
}

// A fresh Design in storage full of NaN holds the same bits as one in
// storage that happens to be zero.
TEST(HostAlloc, NewStorageNeedNotBeZero) {
  for (int order = 1; order <= 5; ++order) {
    SCOPED_TRACE("order " + std::to_string(order));
    std::vector<double> t;
    for (int m = 0; m < order + 12; ++m) t.push_back(0.25 * m * m);
    const bsbasis::KnotBasis knots(t, order);
    const bsbasis::UniformBasis uniform(order, order + 12);
    std::vector<double> x;
    for (int p = 0; p < 3000; ++p) x.push_back(-1.0 + (t.back() + 2.0) * p / 2999.0);
    x.push_back(knots.right());
    x.push_back(uniform.right());
    for (bool deriv : {false, true}) {
      const auto eval = [&](const auto &basis) {
        return deriv ? basis.derivatives(x) : basis.values(x);
      };
      const bsbasis::Design k0 = eval(knots), u0 = eval(uniform);
      poison = true;
      const bsbasis::Design k1 = eval(knots), u1 = eval(uniform);
      poison = false;
      for (const auto &[a, b] : {std::pair{&k0, &k1}, std::pair{&u0, &u1}}) {
        ASSERT_EQ(a->B.size(), b->B.size());
        EXPECT_EQ(a->i, b->i);
        EXPECT_EQ(a->j, b->j);
        EXPECT_EQ(a->in_range, b->in_range);
        EXPECT_EQ(std::memcmp(a->B.data(), b->B.data(), a->B.size() * sizeof(double)), 0);
      }
    }
  }
}

// A Design large enough for the call is filled in place: no allocation, for
// values and derivatives, either right end, both bases.
TEST(HostAlloc, ReusedDesignAllocatesNothing) {
  const bsbasis::KnotBasis knots({0, 0, 0, 0, 0.5, 1, 2, 3, 3, 3, 3}, 4);
  const bsbasis::UniformBasis uniform(3, 20);
  std::vector<double> x(20000);
  for (std::size_t p = 0; p < x.size(); ++p) x[p] = 21.0 * double(p) / double(x.size());
  x[7] = 3.0;   // the right end of the knot basis
  x[11] = 20.0;  // and of the uniform one
  for (bool deriv : {false, true}) {
    for (auto end : {bsbasis::RightEnd::closed, bsbasis::RightEnd::half_open}) {
      bsbasis::Design dk, du;
      const auto run = [&](std::size_t n) {
        if (deriv) {
          knots.derivatives(x.data(), n, dk, end);
          uniform.derivatives(x.data(), n, du, end);
        } else {
          knots.values(x.data(), n, dk, end);
          uniform.values(x.data(), n, du, end);
        }
      };
      EXPECT_GT(allocated(SIZE_MAX, [&] { run(x.size()); }), 0u);  // sizes dk, du
      for (const std::size_t n : {x.size(), x.size() / 2, x.size()}) {
        EXPECT_EQ(allocated(SIZE_MAX, [&] { run(n); }), 0u);
        EXPECT_EQ(calls, 0u);
        EXPECT_EQ(dk.rows, static_cast<std::int64_t>(n));
        EXPECT_EQ(du.B.size(), n * 3);
      }
      EXPECT_EQ(dk.in_range[7], end == bsbasis::RightEnd::closed);
      EXPECT_EQ(du.in_range[11], end == bsbasis::RightEnd::closed);
    }
  }
}

#if defined(__linux__)
// The VmFlags line of the mapping that holds p in /proc/self/smaps, or ""
// when no mapping holds it.
std::string vm_flags(const void *p) {
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  while (std::getline(smaps, line)) {
    std::uintptr_t lo = 0, hi = 0;
    char dash = 0;
    std::istringstream head(line);
    if (head >> std::hex >> lo >> dash >> hi && dash == '-') {
      inside = lo <= at && at < hi;
      continue;
    }
    if (inside && line.rfind("VmFlags:", 0) == 0) return line + " ";
  }
  return "";
}

// Large results ask for huge pages ("hg" among the mapping's flags: advised
// with MADV_HUGEPAGE), small ones leave the heap as it is.
TEST(HostAlloc, LargeResultsAskForHugePages) {
  std::ifstream thp("/sys/kernel/mm/transparent_hugepage/enabled");
  if (!thp) GTEST_SKIP() << "no transparent huge pages in this kernel";
  bsbasis::KnotBasis basis(std::vector<double>{0, 0, 0, 0, 1, 2, 3, 3, 3, 3}, 4);
  const std::vector<double> x(1 << 20, 1.5);  // 32 MB of values, 16 MB of columns
  const bsbasis::Design d = basis.values(x);
  for (const void *p : {static_cast<const void *>(d.B.data() + d.B.size() / 2),
                        static_cast<const void *>(d.j.data() + d.j.size() / 2)})
    EXPECT_NE(vm_flags(p).find(" hg "), std::string::npos) << vm_flags(p);
  const bsbasis::Buffer<double> f = bsbasis::evaluate(basis, std::vector<double>(6, 1.0), x);
  EXPECT_NE(vm_flags(f.data() + f.size() / 2).find(" hg "), std::string::npos);
}
#endif

}  // namespace

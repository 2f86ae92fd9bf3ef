// deriv_grid on decoded arguments.  Within the limits it runs on what
// blossom_grid left with order_stop = order - 1 and must match the scalar
// reference bit for bit on in-range blocks, with zeros in out-of-range
// blocks.  Outside them it gets arbitrary columns and values: i and j stay
// as they are, columns outside 0 .. nt-1 give 0, and nothing is touched
// outside the buffers.
#include "bsbasis.h"
#include "fuzz_input.hpp"
#include "reference.hpp"

namespace {

void within_limits(fz::Reader &in) {
  const int order = in.small(1, 10);
  const int nt = in.small(order >= 2 ? 3 : 1, 40);
  const int nj = std::min(in.any_int(-2, 40), nt - 1);
  const int nx = in.count();
  const long n = static_cast<long>(order) * nx;
  std::vector<double> tv = in.sorted_knots(nt);
  fz::Buf<double> t(nt);
  std::copy(tv.begin(), tv.end(), t.data());
  std::vector<double> xv(nx);
  for (int p = 0; p < nx; ++p) xv[p] = p < 32 ? in.any_double(tv.data(), nt) : xv[p % 32];

  fz::Buf<int> i(n), j(n);
  fz::Buf<double> B(n);
  B.fill(0.0);
  blossom_grid(t.data(), nt, xv.data(), nx, i.data(), j.data(), B.data(),
               static_cast<int>(n), order - 1, order, nj);
  const std::vector<int> i0 = i.copy(), j0 = j.copy();
  deriv_grid(t.data(), nt, i.data(), j.data(), B.data(), static_cast<int>(n), nx,
             order);
  FZ_CHECK(i.copy() == i0 && j.copy() == j0);

  ref::Triplets r = ref::blossom_grid(tv, xv, order - 1, order, nj);
  ref::deriv_grid(tv, r, nx, order);
  for (long p = 0; p < nx; ++p) {
    for (int q = 0; q < order; ++q) {
      const long e = p * order + q;
      if (r.in_range[p]) {
        FZ_CHECK(i[e] == r.i[e] && j[e] == r.j[e], p, q);
        FZ_CHECK(fz::same(B[e], r.B[e]), p, q);
      } else {
        FZ_CHECK(j[e] == 0, p, q);
        FZ_CHECK(B[e] == 0.0, p, q);  // false for NaN
      }
    }
  }
}

void hostile(fz::Reader &in) {
  const int order = in.any_int(-2, 40);
  const int nt = in.any_int(-2, 40);
  const int nx = in.any_int(-2, 24);
  if (order > 4096 || nx > 4096 || nt > 4096) return;
  // For order <= 0 or nx <= 0 the buffers are empty: any access is caught.
  const long n = order > 0 && nx > 0 ? static_cast<long>(order) * nx : 0;
  if (n > (1L << 16)) return;
  std::vector<double> tv = in.sorted_knots(nt);
  for (auto &v : tv)
    if (in.byte() < 32) v = in.any_double(nullptr, 0);
  fz::Buf<double> t(nt);
  std::copy(tv.begin(), tv.end(), t.data());

  fz::Buf<int> i(n), j(n);
  fz::Buf<double> B(n);
  i.fill(-77);
  for (long e = 0; e < n; ++e) {
    j[e] = in.any_int(-2, 44);
    B[e] = in.any_double(nullptr, 0);
  }
  const std::vector<int> j0 = j.copy();
  // i and N are not read: any N, and i may be empty.
  const int N = in.any_int(-2, 40);
  const bool no_i = in.flag();
  deriv_grid(t.data(), nt, no_i ? nullptr : i.data(), j.data(), B.data(), N, nx, order);

  for (long e = 0; e < n; ++e) {
    FZ_CHECK(i[e] == -77 && j[e] == j0[e], e);
    if (j[e] < 0 || j[e] >= nt) FZ_CHECK(B[e] == 0.0, e, j[e]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const fz::FuzzPath path(data, size);
  fz::Reader in(data, size);
  if (in.flag())
    hostile(in);
  else
    within_limits(in);
  return 0;
}

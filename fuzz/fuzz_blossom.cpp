// blossom on decoded arguments.  Within the limits the result must match the
// scalar reference bit for bit on in-range blocks; outside them the block
// contract must hold and nothing may be touched outside the buffers.
#include "bsbasis.h"
#include "fuzz_input.hpp"
#include "reference.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const fz::FuzzPath path(data, size);
  fz::Reader in(data, size);
  const bool hostile = in.flag();
  const int order = hostile ? in.any_int(-2, 40) : in.small(1, 10);
  const int order_stop = in.any_int(-2, 12);
  const int nj = in.any_int(-2, 40);
  const int nx = hostile ? in.any_int(-2, 24) : in.count();
  if (order > 4096 || nx > 4096) return 0;  // buffers would be too large
  // Guard order*nx only when both are positive.
  const long n = order > 0 && nx > 0 ? static_cast<long>(order) * nx : 0;
  if (n > (1L << 16) || n * std::min(std::max(order_stop, 1), order) > (1L << 17)) return 0;

  double anchors[4] = {static_cast<double>(order) - 1.0, static_cast<double>(nj),
                       static_cast<double>(nj) - 0.5, 0.0};
  fz::Buf<double> x(nx);
  fz::fill_abscissae(in, x, anchors, 4);

  fz::Buf<int> i(n), j(n);
  fz::Buf<double> B(n);
  i.fill(-77);
  j.fill(-77);
  // Within the limits B is zero-filled; outside them it may hold anything.
  const bool zeroed = !hostile || in.flag();
  for (long e = 0; e < n; ++e) B[e] = zeroed ? 0.0 : in.any_double(nullptr, 0);
  const std::vector<double> B0 = B.copy();

  blossom(x.data(), nx, i.data(), j.data(), B.data(), static_cast<int>(n),
          order_stop, order, nj);

  if (order <= 0 || nx <= 0) return 0;  // nothing to check: n == 0
  const int deg = order - 1;
  const int stop = order_stop < order ? order_stop : order;
  for (long p = 0; p < nx; ++p) {
    const long oo = p * order;
    const double xx = x[p];
    const bool inr = xx >= static_cast<double>(deg) && xx < static_cast<double>(nj);
    for (int q = 0; q < order; ++q) FZ_CHECK(i[oo + q] == p, p, q);
    if (!inr) {
      for (int q = 0; q < order; ++q) {
        FZ_CHECK(j[oo + q] == 0, p, q);
        FZ_CHECK(B[oo + q] == 0.0, p, q);  // false for NaN
      }
      continue;
    }
    const int J = static_cast<int>(std::floor(xx));
    for (int q = 0; q < order; ++q) {
      FZ_CHECK(j[oo + q] == J - deg + q, p, q);
      FZ_CHECK(j[oo + q] >= 0 && j[oo + q] < nj, p, q);
    }
    // Positions below the computed levels keep the caller's values.
    const int first = stop >= 1 ? order - stop : deg;
    for (int q = 0; q < first; ++q) FZ_CHECK(fz::same(B[oo + q], B0[oo + q]), p, q);
    if (stop >= 1 && zeroed) {
      for (int q = first; q <= deg; ++q)
        FZ_CHECK(B[oo + q] >= 0.0 && B[oo + q] <= 1.0 + 1e-12, p, q);
    }
  }

  // The reference covers zero-filled B and order >= 1; an order_stop above
  // order acts as order.
  if (!zeroed) return 0;
  std::vector<double> xv = x.copy();
  const ref::Triplets r = ref::blossom(xv, stop, order, nj);
  fz::check_in_range_blocks(r, i, j, B, nx, order);
  return 0;
}

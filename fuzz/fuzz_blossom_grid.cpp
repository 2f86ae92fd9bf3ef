// blossom_grid on decoded arguments.  Within the limits the result must
// match the scalar reference bit for bit on in-range blocks; outside them the
// block contract must hold and nothing may be touched outside the buffers.
#include "bsbasis.h"
#include "fuzz_input.hpp"
#include "reference.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const fz::FuzzPath path(data, size);
  fz::Reader in(data, size);
  const bool hostile = in.flag();
  const int order = hostile ? in.any_int(-2, 40) : in.small(1, 10);
  const int order_stop = in.any_int(-2, 12);
  int nt = hostile ? in.any_int(-2, 40) : in.small(order >= 2 ? 3 : 1, 40);
  int nj = in.any_int(-2, 40);
  if (!hostile && nj > nt - 1) nj = nt - 1;
  const int nx = hostile ? in.any_int(-2, 24) : in.count();
  if (order > 4096 || nx > 4096 || nt > 4096) return 0;
  const long n = order > 0 && nx > 0 ? static_cast<long>(order) * nx : 0;
  if (n > (1L << 16) || n * std::min(std::max(order_stop, 1), order) > (1L << 17))
    return 0;

  // Knots: sorted and finite within the limits; outside them possibly
  // unsorted, with NaN and infinities.
  std::vector<double> tv = in.sorted_knots(nt);
  if (hostile && in.flag()) in.spoil(tv);
  fz::Buf<double> t(nt);
  std::copy(tv.begin(), tv.end(), t.data());

  fz::Buf<double> x(nx);
  fz::fill_abscissae(in, x, tv.data(), static_cast<int>(tv.size()));

  fz::Buf<int> i(n), j(n);
  fz::Buf<double> B(n);
  i.fill(-77);
  j.fill(-77);
  const bool zeroed = !hostile || in.flag();
  for (long e = 0; e < n; ++e) B[e] = zeroed ? 0.0 : in.any_double(nullptr, 0);
  const std::vector<double> B0 = B.copy();

  blossom_grid(t.data(), nt, x.data(), nx, i.data(), j.data(), B.data(),
               static_cast<int>(n), order_stop, order, nj);

  if (order <= 0 || nx <= 0) return 0;  // n == 0: no buffer to check
  const int deg = order - 1;
  const int stop = order_stop < order ? order_stop : order;
  const bool sorted = fz::sorted_finite(t.data(), nt);
  const long ncol = std::max(std::min<long>(nj, nt - 1L), 0L);
  for (long p = 0; p < nx; ++p) {
    const long oo = p * order;
    const double xx = x[p];
    for (int q = 0; q < order; ++q) FZ_CHECK(i[oo + q] == p, p, q);
    // A block is either out of range (columns 0, values 0, never NaN) or
    // has consecutive columns whose top lies in deg .. min(nj, nt-1) - 1.
    bool zero = true;
    for (int q = 0; q < order; ++q) zero = zero && j[oo + q] == 0 && B[oo + q] == 0.0;
    const int top = j[oo + deg];
    bool shaped = top >= deg && top < ncol;
    for (int q = 0; q < order; ++q) shaped = shaped && j[oo + q] == top - deg + q;
    if (sorted) {
      // Which blocks are in range is known when the knots are sorted.
      const int J = std::isfinite(xx) ? ref::interval_index(xx, t.data(), nt) : -1;
      if (J >= deg && J < ncol)
        FZ_CHECK(shaped && top == J, p, J);
      else
        FZ_CHECK(zero, p, J);
    } else if (!std::isfinite(xx)) {
      FZ_CHECK(zero, p);
    } else {
      // On unsorted knots the search may answer any interval.
      FZ_CHECK(zero || shaped, p, top);
    }
    if (shaped) {
      const int first = stop >= 1 ? order - stop : deg;
      for (int q = 0; q < first; ++q) FZ_CHECK(fz::same(B[oo + q], B0[oo + q]), p, q);
    }
  }

  // The reference covers sorted finite knots, nj <= nt - 1, nt >= 3 when
  // order >= 2, and zero-filled B; an order_stop above order acts as order.
  if (!zeroed || !sorted || nj > nt - 1L || nt < 1 || (order >= 2 && nt < 3)) return 0;
  std::vector<double> xv = x.copy();
  const ref::Triplets r = ref::blossom_grid(tv, xv, stop, order, nj);
  fz::check_in_range_blocks(r, i, j, B, nx, order);
  return 0;
}

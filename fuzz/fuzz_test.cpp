// test on decoded arguments: B[e] and j[e] follow the order-1 pattern for
// e < N (column arithmetic wraps), nothing for N <= 0 or order <= 0, and x
// and grid are never read (they are empty buffers here).
#include "bsbasis.h"
#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fz::Reader in(data, size);
  const int order = in.any_int(-2, 12);
  const int N = in.any_int(-2, 60);
  const int nx = in.any_int(-2, 20);
  const int ngrid = in.any_int(-2, 20);
  if (N > 4096) return 0;
  fz::Buf<int> j(N);
  fz::Buf<double> B(N);
  for (long e = 0; e < j.size(); ++e) {
    j[e] = in.any_int(-4, 60);
    B[e] = in.any_double(nullptr, 0);
  }
  const std::vector<int> j0 = j.copy();
  const std::vector<double> B0 = B.copy();
  fz::Buf<double> x(0), grid(0);

  test(x.data(), nx, grid.data(), ngrid, j.data(), B.data(), N, order);

  for (long e = 0; e < j.size(); ++e) {
    if (order <= 0) {
      FZ_CHECK(j[e] == j0[e] && fz::same(B[e], B0[e]), e);
      continue;
    }
    const int r = static_cast<int>(e % order);
    const int want = static_cast<int>(static_cast<unsigned>(j0[e]) +
                                      static_cast<unsigned>(r - order));
    FZ_CHECK(j[e] == want, e, j[e]);
    FZ_CHECK(testing_bsbasis::bits(B[e]) == testing_bsbasis::bits(r == order - 1 ? 1.0 : 0.0), e);
  }
  return 0;
}

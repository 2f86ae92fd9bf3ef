// binary_search on decoded arguments: every answer lies in -1 .. len (all -1
// for len <= 0) and is the interval index by its definition on sorted arrays
// for keys that are not NaN; exactly index[0 .. N-1] is written.
#include "bsbasis.h"
#include "fuzz_input.hpp"
#include "reference.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fz::Reader in(data, size);
  const int len = in.any_int(-2, 40);
  const int N = in.any_int(-2, 32);
  if (len > 4096 || N > 4096) return 0;
  std::vector<double> av = in.sorted_knots(len);
  if (in.flag()) in.spoil(av);
  fz::Buf<double> arr(len);
  std::copy(av.begin(), av.end(), arr.data());
  fz::Buf<double> key(N);
  for (long e = 0; e < key.size(); ++e)
    key[e] = in.any_double(av.data(), static_cast<int>(av.size()));
  fz::Buf<int> index(N);
  index.fill(-77);

  binary_search(key.data(), index.data(), N, arr.data(), len);

  if (N <= 0) return 0;  // empty buffers: any access is caught
  if (len <= 0) {
    for (long e = 0; e < N; ++e) FZ_CHECK(index[e] == -1, e);
    return 0;
  }
  const bool sorted = fz::sorted_finite(av.data(), len);
  for (long e = 0; e < N; ++e) {
    FZ_CHECK(index[e] >= -1 && index[e] <= len, e, index[e]);
    if (sorted && !std::isnan(key[e]))
      FZ_CHECK(index[e] == ref::interval_index(key[e], av.data(), len), e);
  }
  return 0;
}

// binary_search_with_guess on decoded arguments: the answer lies in
// -1 .. len (-1 for len <= 0) for any array, and is the interval index by
// its definition on sorted arrays; nothing outside arr is read.
#include "bsbasis.h"
#include "fuzz_input.hpp"
#include "reference.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fz::Reader in(data, size);
  const int len = in.any_int(-2, 40);
  if (len > 4096) return 0;
  const int guess = in.any_int(-3, 43);
  std::vector<double> av = in.sorted_knots(len);
  if (in.flag()) in.spoil(av);
  fz::Buf<double> arr(len);
  std::copy(av.begin(), av.end(), arr.data());
  const double key = in.any_double(av.data(), static_cast<int>(av.size()));

  const int m = binary_search_with_guess(key, arr.data(), len, guess);

  if (len <= 0) {
    FZ_CHECK(m == -1, m);
    return 0;
  }
  FZ_CHECK(m >= -1 && m <= len, m, len);
  if (fz::sorted_finite(av.data(), len) && !std::isnan(key))
    FZ_CHECK(m == ref::interval_index(key, av.data(), len), m);
  return 0;
}

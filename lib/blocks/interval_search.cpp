// Interval search: the internal entry point for many keys, and the exports.
#include "core/interval_search.hpp"

#include "bsbasis.h"
#include "core/common.hpp"
#include "blocks/entry_points.hpp"

namespace bsbasis {

void search_many(const double *key, int *index, int N, const double *arr, int len) {
  if (len <= 0) {
    for (int e = 0; e < N; ++e) index[e] = -1;
    return;
  }
  // Each answer, -1 and len included, guesses the next key.
  int guess = len >> 1;
  for (int e = 0; e < N; ++e) {
    guess = search_with_guess(key[e], arr, len, guess);
    index[e] = guess;
  }
}

}  // namespace bsbasis

BSBASIS_EXPORT int binary_search_with_guess(double key, double *arr, int len,
                                            int guess) {
  if (len <= 0) return -1;
  return bsbasis::search_with_guess(key, arr, len, guess);
}

BSBASIS_EXPORT void binary_search(double *key, int *index, int N, double *arr,
                                  int len) {
  bsbasis::search_many(key, index, N, arr, len);
}

// Interval search in a sorted array of doubles.
#ifndef BSBASIS_INTERVAL_SEARCH_HPP
#define BSBASIS_INTERVAL_SEARCH_HPP

namespace bsbasis {

// Interval index of key in arr[0 .. len-1] (len >= 1), starting from guess:
// -1 below arr[0], len above arr[len-1], else the largest m with arr[m] <= key.
inline int search_with_guess(double key, const double *arr, int len, int guess) {
  if (arr[0] > key) return -1;
  if (key > arr[len - 1]) return len;
  if (len <= 4) {
    int i = 1;
    while (i < len && key >= arr[i]) ++i;
    return i - 1;
  }
  if (guess > len - 3) guess = len - 3;
  if (guess < 1) guess = 1;
  const int g = guess;

  int imin, imax;
  if (arr[g] > key) {
    if (!(arr[g - 1] > key)) return g - 1;
    imax = g - 1;
    imin = 0;
    if (g > 8 && key >= arr[g - 8]) imin = g - 8;
  } else {
    if (arr[g + 1] > key) return g;
    if (arr[g + 2] > key) return g + 1;
    imin = g + 2;
    imax = len;
    if (g < len - 9 && arr[g + 8] > key) imax = g + 8;
  }
  while (imin < imax) {
    const int imid = imin + ((imax - imin) >> 1);
    if (key >= arr[imid])
      imin = imid + 1;
    else
      imax = imid;
  }
  return imin - 1;
}

}  // namespace bsbasis

#endif

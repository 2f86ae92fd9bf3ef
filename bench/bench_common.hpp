// What the benchmarks share: the clock and the knots of their workloads.
#ifndef BSBASIS_BENCH_COMMON_HPP
#define BSBASIS_BENCH_COMMON_HPP

#include <time.h>

#include <vector>

namespace bench {

inline double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + 1e-9 * ts.tv_nsec;
}

// `intervals` equal intervals on [0, 1], the ends repeated to order - 1 more.
inline std::vector<double> clamped(int intervals, int order) {
  std::vector<double> t;
  for (int m = 0; m < order - 1; ++m) t.push_back(0.0);
  for (int m = 0; m <= intervals; ++m) t.push_back(static_cast<double>(m) / intervals);
  for (int m = 0; m < order - 1; ++m) t.push_back(1.0);
  return t;
}

}  // namespace bench

#endif

// Regressions for faults that fuzzing found on arguments outside (and at the
// edge of) the documented limits.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <vector>

#include "bsbasis.h"

namespace {

// blossom_grid without knots (nt <= 0) searched t anyway and read t[0] and
// t[nt - 1].  t is null here, so any read faults.
TEST(FaultRegression, BlossomGridWithoutKnotsReadsNoKnot) {
  std::vector<double> x = {0.0, 1.5, -2.0};
  for (int nt : {0, -1, INT_MIN}) {
    const int order = 3, nx = int(x.size()), n = nx * order;
    std::vector<int> i(n, -7), j(n, -7);
    std::vector<double> B(n, 0.0);
    blossom_grid(nullptr, nt, x.data(), nx, i.data(), j.data(), B.data(), n, order,
                 order, 5);
    for (int e = 0; e < n; ++e) {
      EXPECT_EQ(i[e], e / order) << "nt " << nt;
      EXPECT_EQ(j[e], 0) << "nt " << nt;
      EXPECT_EQ(B[e], 0.0) << "nt " << nt;
    }
  }
}

}  // namespace

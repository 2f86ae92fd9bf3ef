// The order-1 block filler.
#include <gtest/gtest.h>

#include "helpers.hpp"

namespace {

TEST(BlockLayout, OrderOneValuesFromPreparedColumns) {
  std::vector<int> j(6, 5);
  std::vector<double> B(6, 9.0);
  test(nullptr, 0, nullptr, 0, j.data(), B.data(), 6, 3);
  EXPECT_EQ(j, (std::vector<int>{2, 3, 4, 2, 3, 4}));
  EXPECT_EQ(B, (std::vector<double>{0, 0, 1, 0, 0, 1}));
}

TEST(BlockLayout, PartialTrailingBlock) {
  std::vector<int> j(5, 10);
  std::vector<double> B(5, 9.0);
  test(nullptr, 0, nullptr, 0, j.data(), B.data(), 5, 3);
  EXPECT_EQ(j, (std::vector<int>{7, 8, 9, 7, 8}));
  EXPECT_EQ(B, (std::vector<double>{0, 0, 1, 0, 0}));
}

TEST(BlockLayout, NothingWrittenWithoutEntries) {
  int j = 4;
  double B = 9.0;
  test(nullptr, 0, nullptr, 0, &j, &B, 0, 3);
  test(nullptr, 0, nullptr, 0, &j, &B, -2, 3);
  EXPECT_EQ(j, 4);
  EXPECT_EQ(B, 9.0);
}

}  // namespace

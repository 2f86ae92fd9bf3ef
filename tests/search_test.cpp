// Interval search: known answers and properties.
#include <gtest/gtest.h>


#include "helpers.hpp"

using namespace testing_bsbasis;

namespace {

std::vector<int> search_all(std::vector<double> keys, std::vector<double> arr) {
  std::vector<int> idx(keys.size(), -9);
  binary_search(keys.data(), idx.data(), int(keys.size()), arr.data(), int(arr.size()));
  return idx;
}

TEST(Search, KnownAnswers) {
  std::vector<double> arr = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  const std::vector<double> keys = {-1, 0, 0.5, 4.5, 8.99, 9, 9.5};
  const std::vector<int> want = {-1, 0, 0, 4, 8, 9, 10};
  for (size_t k = 0; k < keys.size(); ++k)
    EXPECT_EQ(binary_search_with_guess(keys[k], arr.data(), 10, 5), want[k]) << keys[k];
  EXPECT_EQ(search_all(keys, arr), want);
}

TEST(Search, ShortArraysScanLinearly) {
  std::vector<double> one = {2.0};
  EXPECT_EQ(binary_search_with_guess(1.0, one.data(), 1, 0), -1);
  EXPECT_EQ(binary_search_with_guess(2.0, one.data(), 1, 0), 0);
  EXPECT_EQ(binary_search_with_guess(3.0, one.data(), 1, 0), 1);
  std::vector<double> four = {0, 1, 2, 3};
  for (int guess : {-100, 0, 2, 100}) {
    EXPECT_EQ(binary_search_with_guess(3.0, four.data(), 4, guess), 3);
    EXPECT_EQ(binary_search_with_guess(2.5, four.data(), 4, guess), 2);
  }
}

TEST(Search, RepeatedElementsGiveTheLast) {
  std::vector<double> arr = {0, 0, 0, 0, 1, 2, 3, 3, 3, 3};
  for (int guess = -3; guess <= 13; ++guess) {
    EXPECT_EQ(binary_search_with_guess(0.0, arr.data(), 10, guess), 3);
    EXPECT_EQ(binary_search_with_guess(3.0, arr.data(), 10, guess), 9);
    EXPECT_EQ(binary_search_with_guess(2.5, arr.data(), 10, guess), 5);
  }
}

TEST(Search, NaNKeyFollowsTheGuess) {
  std::vector<double> arr = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(binary_search_with_guess(kNaN, arr.data(), 10, 5), 6);
  EXPECT_EQ(binary_search_with_guess(kNaN, arr.data(), 10, -4), 2);   // clamped to 1
  EXPECT_EQ(binary_search_with_guess(kNaN, arr.data(), 10, 50), 8);   // clamped to 7
  EXPECT_EQ(binary_search_with_guess(kNaN, arr.data(), 4, 3), 0);
}

TEST(Search, ChainsEachAnswerIntoTheNextGuess) {
  // With a NaN key the answer depends on the guess, so the chain shows.
  std::vector<double> arr = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  EXPECT_EQ(search_all({kNaN, kNaN, 20.0, kNaN}, arr),
            (std::vector<int>{7, 8, 12, 10}));
  EXPECT_EQ(search_all({}, arr), std::vector<int>{});
}

}  // namespace

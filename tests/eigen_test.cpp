// The Eigen adapter: same entries as the CSR conversion, in a compressed
// row-major matrix that Eigen's own operations accept.
#include <gtest/gtest.h>

#include <Eigen/Dense>

#include "bsbasis_eigen.hpp"

namespace {

TEST(Eigen, MatchesCsr) {
  const bsbasis::KnotBasis basis({0, 0, 0, 0.5, 1, 1.5, 3, 3, 3}, 3);
  std::vector<double> x;
  for (int m = -2; m <= 32; ++m) x.push_back(m / 10.0);
  const bsbasis::Design d = basis.values(x);
  const bsbasis::Csr32 c = d.to_csr<std::int32_t>();

  const Eigen::SparseMatrix<double, Eigen::RowMajor> A = bsbasis::to_eigen(d);
  ASSERT_TRUE(A.isCompressed());
  ASSERT_EQ(A.rows(), d.rows);
  ASSERT_EQ(A.cols(), d.cols);
  ASSERT_EQ(A.nonZeros(), c.nnz());
  for (std::size_t r = 0; r < c.indptr.size(); ++r)
    EXPECT_EQ(A.outerIndexPtr()[r], c.indptr[r]);
  for (Eigen::Index r = 0; r < A.rows(); ++r) {
    std::int32_t e = c.indptr[r];
    for (Eigen::SparseMatrix<double, Eigen::RowMajor>::InnerIterator it(A, r); it; ++it, ++e) {
      EXPECT_EQ(it.index(), c.indices[e]);
      EXPECT_EQ(it.value(), c.data[e]);
    }
    EXPECT_EQ(e, c.indptr[r + 1]);
  }

  // Row sums through Eigen: one inside [0, 3], zero (empty rows) outside.
  const Eigen::VectorXd s = A * Eigen::VectorXd::Ones(A.cols());
  for (std::size_t p = 0; p < x.size(); ++p)
    EXPECT_NEAR(s[p], x[p] >= 0 && x[p] <= 3 ? 1.0 : 0.0, 1e-14) << "x = " << x[p];

  // A wider StorageIndex holds the same matrix; a narrow one is refused.
  const Eigen::SparseMatrix<double, Eigen::RowMajor, std::int64_t> W =
      bsbasis::to_eigen<std::int64_t>(d);
  EXPECT_EQ(Eigen::MatrixXd(W), Eigen::MatrixXd(A));
  std::vector<double> many(12000, 1.0);
  EXPECT_THROW(bsbasis::to_eigen<std::int16_t>(basis.values(many)), std::length_error);
}

}  // namespace

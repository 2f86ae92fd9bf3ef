// The Eigen adapter: same entries as the CSR conversion, in a compressed
// row-major matrix that Eigen's own operations accept; and Eigen objects as
// abscissae, strided ones included.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cstring>

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

// The same triplets, bit for bit, and the same flags.
void expect_same(const bsbasis::Design &a, const bsbasis::Design &b) {
  ASSERT_EQ(a.rows, b.rows);
  ASSERT_EQ(a.B.size(), b.B.size());
  EXPECT_EQ(a.i, b.i);
  EXPECT_EQ(a.j, b.j);
  EXPECT_EQ(a.in_range, b.in_range);
  EXPECT_EQ(std::memcmp(a.B.data(), b.B.data(), a.B.size() * sizeof(double)), 0);
}

// Strided Eigen objects are read element by element, not as if their
// elements lay next to each other.
TEST(Eigen, StridedAbscissae) {
  const bsbasis::KnotBasis basis({0, 0, 0, 0.5, 1, 1.5, 3, 3, 3}, 3);
  Eigen::MatrixXd M(3, 40);  // column-major: a row is strided
  for (Eigen::Index r = 0; r < M.rows(); ++r)
    for (Eigen::Index c = 0; c < M.cols(); ++c) M(r, c) = 0.08 * c + 0.5 * r - 0.25;
  Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> R = M;
  Eigen::VectorXd buf(2 * M.cols());
  for (Eigen::Index e = 0; e < buf.size(); ++e) buf[e] = e % 2 ? -1.0 : M(1, e / 2);
  const Eigen::Map<const Eigen::VectorXd, 0, Eigen::InnerStride<2>> every_other(
      buf.data(), M.cols());

  for (bool deriv : {false, true}) {
    SCOPED_TRACE(deriv ? "derivatives" : "values");
    const auto eval = [&](const auto &x) {
      return deriv ? basis.derivatives(x) : basis.values(x);
    };
    for (Eigen::Index r = 0; r < M.rows(); ++r) {
      const std::vector<double> row(M.row(r).begin(), M.row(r).end());
      const bsbasis::Design want = eval(row);
      ASSERT_GT(want.nnz(), 0);
      expect_same(eval(M.row(r)), want);
      expect_same(eval(M.block(r, 0, 1, M.cols())), want);  // a 1 x n block
      expect_same(eval(R.row(r)), want);                     // contiguous
      const Eigen::Ref<const Eigen::RowVectorXd, 0, Eigen::InnerStride<>> ref = M.row(r);
      expect_same(eval(ref), want);
      bsbasis::Design out;
      expect_same(deriv ? basis.derivatives(M.row(r), out) : basis.values(M.row(r), out), want);
    }
    const std::vector<double> col(R.col(5).begin(), R.col(5).end());
    expect_same(eval(R.col(5)), eval(col));  // a column of a row-major matrix
    const std::vector<double> row1(M.row(1).begin(), M.row(1).end());
    expect_same(eval(every_other), eval(row1));
    // A whole matrix whose columns are not adjacent in memory: its elements
    // in storage order, as for a contiguous one.
    const Eigen::MatrixXd top = M.topRows(2);
    const std::vector<double> stored(top.data(), top.data() + top.size());
    expect_same(eval(M.topRows(2)), eval(stored));
  }
}

}  // namespace

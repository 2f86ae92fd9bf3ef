// bsbasis_eigen.hpp: a Design as an Eigen sparse matrix.  Optional: include
// it only where Eigen 3.3 or later is available.
//
//   Eigen::SparseMatrix<double, Eigen::RowMajor> A =
//       bsbasis::to_eigen(basis.values(x));
#ifndef BSBASIS_EIGEN_HPP
#define BSBASIS_EIGEN_HPP

#include <Eigen/SparseCore>
#include <algorithm>

#include "bsbasis.hpp"

namespace bsbasis {

// Compressed row-major matrix with the same entries as d.to_csr(): `order`
// entries in every in-range row, none in out-of-range rows.  Throws
// std::length_error when the entries overflow StorageIndex.
template <class StorageIndex = int>
Eigen::SparseMatrix<double, Eigen::RowMajor, StorageIndex> to_eigen(const Design &d) {
  const Csr<StorageIndex> c = d.to_csr<StorageIndex>();
  Eigen::SparseMatrix<double, Eigen::RowMajor, StorageIndex> m(
      static_cast<Eigen::Index>(c.rows), static_cast<Eigen::Index>(c.cols));
  m.resizeNonZeros(static_cast<Eigen::Index>(c.nnz()));
  std::copy(c.indptr.begin(), c.indptr.end(), m.outerIndexPtr());
  std::transform(c.indices.begin(), c.indices.end(), m.innerIndexPtr(),
                 [](std::int32_t col) { return static_cast<StorageIndex>(col); });
  std::copy(c.data.begin(), c.data.end(), m.valuePtr());
  return m;
}

}  // namespace bsbasis

#endif  // BSBASIS_EIGEN_HPP

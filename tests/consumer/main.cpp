// Builds a cubic design matrix and its derivative through the installed
// headers and library, checks them, and prints them in CSR form.
#include <bsbasis.hpp>

#include <cmath>
#include <cstdio>
#include <vector>

int main() {
  const bsbasis::KnotBasis basis({0, 0, 0, 0, 1, 2, 3, 3, 3, 3}, 4);
  const std::vector<double> x{-0.5, 0.0, 0.5, 1.0, 1.75, 2.999, 3.0, 3.5};
  const bsbasis::Csr32 A = basis.values(x).to_csr<std::int32_t>();
  const bsbasis::Csr32 dA = basis.derivatives(x).to_csr<std::int32_t>();

  std::printf("bsbasis %s: %lld x %lld, %lld entries\n", BSBASIS_VERSION_STRING,
              static_cast<long long>(A.rows), static_cast<long long>(A.cols),
              static_cast<long long>(A.nnz()));
  bool ok = A.rows == 8 && A.cols == 6 && A.nnz() == 6 * 4;
  for (std::size_t p = 0; p < x.size(); ++p) {
    double s = 0.0, ds = 0.0;
    std::printf("x = %6.3f:", x[p]);
    for (int e = A.indptr[p]; e < A.indptr[p + 1]; ++e) {
      std::printf("  B%d = %.6f", A.indices[e], A.data[e]);
      s += A.data[e];
      ds += dA.data[e];
    }
    std::printf("\n");
    const bool inside = x[p] >= 0.0 && x[p] <= 3.0;
    ok = ok && std::fabs(s - (inside ? 1.0 : 0.0)) < 1e-14 && std::fabs(ds) < 1e-12;
  }
  std::printf("consumer: %s\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}

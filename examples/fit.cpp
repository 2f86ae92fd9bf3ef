// Least-squares cubic spline fit through the C++ API and the Eigen adapter.
//
// Noisy samples of a known spline (coefficients c_true on clamped knots) are
// fitted by the normal equations A^T A c = A^T y with a sparse Cholesky
// factorisation.  Prints the error of the fitted coefficients and of the
// fitted curve against the generating one.
#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "bsbasis.hpp"
#include "bsbasis_eigen.hpp"

int main() {
  const int order = 4;
  const int intervals = 12;
  const double a = 0.0, b = 1.0;

  // Clamped knots on [a, b]: order-fold ends, uniform interior.
  std::vector<double> t;
  for (int m = 0; m < order - 1; ++m) t.push_back(a);
  for (int m = 0; m <= intervals; ++m) t.push_back(a + (b - a) * m / intervals);
  for (int m = 0; m < order - 1; ++m) t.push_back(b);
  const bsbasis::KnotBasis basis(t, order);
  const int n = basis.nj();

  // The generating curve: a spline with smooth coefficients.
  Eigen::VectorXd c_true(n);
  for (int k = 0; k < n; ++k) c_true[k] = std::sin(0.7 * k) + 0.1 * k;

  // Samples on [a, b], both ends included, with Gaussian noise.
  const int nx = 4000;
  const double sigma = 0.05;
  std::vector<double> x(nx);
  for (int p = 0; p < nx; ++p) x[p] = a + (b - a) * p / (nx - 1);
  const Eigen::SparseMatrix<double, Eigen::RowMajor> A =
      bsbasis::to_eigen(basis.values(x));
  std::mt19937_64 rng(12345);
  std::normal_distribution<double> noise(0.0, sigma);
  Eigen::VectorXd y = A * c_true;
  for (int p = 0; p < nx; ++p) y[p] += noise(rng);

  const Eigen::SparseMatrix<double> AtA = A.transpose() * A;
  const Eigen::VectorXd Aty = A.transpose() * y;
  Eigen::SimplicialLLT<Eigen::SparseMatrix<double>> chol(AtA);
  if (chol.info() != Eigen::Success) {
    std::fprintf(stderr, "fit: normal equations are not positive definite\n");
    return 1;
  }
  const Eigen::VectorXd c = chol.solve(Aty);

  // The fitted curve and its slope against the generating ones on a fine grid.
  std::vector<double> xf(1001);
  for (std::size_t p = 0; p < xf.size(); ++p)
    xf[p] = a + (b - a) * static_cast<double>(p) / (xf.size() - 1);
  const auto F = bsbasis::to_eigen(basis.values(xf));
  const auto dF = bsbasis::to_eigen(basis.derivatives(xf));
  const double curve_err = (F * (c - c_true)).cwiseAbs().maxCoeff();
  const double slope_err = (dF * (c - c_true)).cwiseAbs().maxCoeff();

  std::printf("cubic spline, %d coefficients, %d samples, noise sigma %g\n", n,
              nx, sigma);
  std::printf("%4s %12s %12s %12s\n", "k", "true", "fitted", "error");
  for (int k = 0; k < n; ++k)
    std::printf("%4d %12.6f %12.6f %12.2e\n", k, c_true[k], c[k], c[k] - c_true[k]);
  std::printf("max |coefficient error| = %.3e\n", (c - c_true).cwiseAbs().maxCoeff());
  std::printf("max |curve error|       = %.3e\n", curve_err);
  std::printf("max |slope error|       = %.3e\n", slope_err);
  std::printf("residual rms            = %.3e (noise %g)\n",
              std::sqrt((A * c - y).squaredNorm() / nx), sigma);
  return 0;
}

// Penalised least-squares cubic spline fit through the C++ API, without a
// design matrix.
//
// Noisy samples of a known spline (coefficients c_true on clamped knots) are
// reduced to the banded normal equations X^T X and X^T y, a small
// second-difference penalty is added, and the banded Cholesky solve gives
// the coefficients.  Prints the error of the fitted coefficients and of the
// fitted curve against the generating one.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "bsbasis.hpp"

namespace {

double max_abs_diff(const bsbasis::Buffer<double> &a, const bsbasis::Buffer<double> &b) {
  double m = 0.0;
  for (std::size_t p = 0; p < a.size(); ++p) m = std::max(m, std::fabs(a[p] - b[p]));
  return m;
}

}  // namespace

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
  std::vector<double> c_true(n);
  for (int k = 0; k < n; ++k) c_true[k] = std::sin(0.7 * k) + 0.1 * k;

  // Samples on [a, b], both ends included, with Gaussian noise.
  const int nx = 4000;
  const double sigma = 0.05;
  std::vector<double> x(nx);
  for (int p = 0; p < nx; ++p) x[p] = a + (b - a) * p / (nx - 1);
  bsbasis::Buffer<double> y = bsbasis::evaluate(basis, c_true, x);
  std::mt19937_64 rng(12345);
  std::normal_distribution<double> noise(0.0, sigma);
  for (double &v : y) v += noise(rng);

  // (X^T X + lam D^T D) c = X^T y.
  const double lam = 1e-4;
  const bsbasis::NormalEquations ne = bsbasis::normal_equations(basis, x, y);
  std::vector<double> c;
  try {
    c = bsbasis::solve(ne, bsbasis::difference_penalty(n, 2), lam);
  } catch (const bsbasis::SingularSystem &e) {
    std::fprintf(stderr, "fit: %s\n", e.what());
    return 1;
  }

  // The fitted curve and its slope against the generating ones on a fine grid.
  std::vector<double> xf(1001);
  for (std::size_t p = 0; p < xf.size(); ++p)
    xf[p] = a + (b - a) * static_cast<double>(p) / (xf.size() - 1);
  const double curve_err =
      max_abs_diff(bsbasis::evaluate(basis, c, xf), bsbasis::evaluate(basis, c_true, xf));
  const double slope_err = max_abs_diff(bsbasis::evaluate(basis, c, xf, 1),
                                        bsbasis::evaluate(basis, c_true, xf, 1));

  // The residuals at the samples.
  const bsbasis::Buffer<double> fitted = bsbasis::evaluate(basis, c, x);
  double rss = 0.0;
  for (int p = 0; p < nx; ++p) rss += (fitted[p] - y[p]) * (fitted[p] - y[p]);

  std::printf("cubic spline, %d coefficients, %d samples, noise sigma %g, lam %g\n", n, nx,
              sigma, lam);
  std::printf("%4s %12s %12s %12s\n", "k", "true", "fitted", "error");
  double coef_err = 0.0;
  for (int k = 0; k < n; ++k) {
    std::printf("%4d %12.6f %12.6f %12.2e\n", k, c_true[k], c[k], c[k] - c_true[k]);
    coef_err = std::max(coef_err, std::fabs(c[k] - c_true[k]));
  }
  std::printf("max |coefficient error| = %.3e\n", coef_err);
  std::printf("max |curve error|       = %.3e\n", curve_err);
  std::printf("max |slope error|       = %.3e\n", slope_err);
  std::printf("residual rms            = %.3e (noise %g)\n", std::sqrt(rss / nx), sigma);
  // A fit worth the name leaves residuals at the noise and the curve close.
  return std::sqrt(rss / nx) < 1.2 * sigma && curve_err < 4 * sigma ? 0 : 1;
}

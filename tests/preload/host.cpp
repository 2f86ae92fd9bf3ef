// Prints, as exact hex floats, what the C++ host computes with every part of
// the library (values and derivatives under every mode, periodic, tensor
// and uniform bases, penalties, knots, normal equations on one and two
// threads, spline values), and on its last line what a direct call of the
// export blossom_grid gives.  tests/preload/run.sh runs it with and without
// an object that interposes the exported names: only the last line may
// change.
#include <bsbasis.hpp>

#include <cstdio>
#include <vector>

namespace {

void print(const char *what, const double *v, std::size_t n) {
  std::printf("%s:", what);
  for (std::size_t e = 0; e < n; ++e) std::printf(" %a", v[e]);
  std::printf("\n");
}

void print(const char *what, const bsbasis::Design &d) {
  print(what, d.B.data(), d.B.size());
  std::printf("%s columns:", what);
  for (std::int32_t c : d.j) std::printf(" %d", c);
  std::printf("\n");
}

std::vector<double> abscissae(std::size_t n, double lo, double hi) {
  std::vector<double> x(n);
  for (std::size_t p = 0; p < n; ++p)
    x[p] = lo + (hi - lo) * static_cast<double>((p * 7919) % n) / static_cast<double>(n - 1);
  return x;
}

}  // namespace

int main() {
  using namespace bsbasis;
  const std::vector<double> t{0, 0, 0, 0, 0.7, 1.3, 2.2, 3, 3, 3, 3};
  const std::vector<double> x = abscissae(200, -0.5, 3.5);
  const std::vector<double> inside = abscissae(200, 0.0, 3.0);
  const Extrapolate modes[] = {Extrapolate::Zero, Extrapolate::Continue, Extrapolate::Constant,
                               Extrapolate::Linear, Extrapolate::Periodic};
  for (Extrapolate mode : modes) {
    const KnotBasis basis(t, 4, mode);
    print(detail::name(mode), basis.values(x));
    print("derivatives", basis.derivatives(x, 2));
  }
  const KnotBasis basis(t, 4);
  print("uniform", UniformBasis(4, 9, -0.25, 0.5).derivatives(inside, 1));
  print("periodic", PeriodicBasis({0, 0.5, 1.25, 2, 3}, 3).values(x));
  const std::vector<double> natural = NaturalBasis(0, 3, {0.5, 1.5, 2.25}).rows(x).dense();
  print("natural", natural.data(), natural.size());
  const Csr32 tensor = TensorBasis({basis, KnotBasis({0, 0, 1, 2, 3, 3}, 2)}).values(
      abscissae(100, 0.0, 3.0));
  print("tensor", tensor.data.data(), tensor.data.size());
  const Banded diff = difference_penalty(basis.nj(), 2);
  print("difference penalty", diff.ab.data(), diff.ab.size());
  const Banded rough = derivative_penalty(basis, 2);
  print("derivative penalty", rough.ab.data(), rough.ab.size());
  const std::vector<double> knots = make_knots(x, 6, 4, KnotKind::Quantile);
  print("knots", knots.data(), knots.size());

  // Enough rows for two tiles, so that two threads share them.
  const std::vector<double> xs = abscissae(BSBASIS_NORMAL_TILE + 1000, 0.0, 3.0);
  std::vector<double> y(xs.size()), w(xs.size());
  for (std::size_t p = 0; p < xs.size(); ++p) {
    y[p] = xs[p] * xs[p];
    w[p] = 1.0 + static_cast<double>(p % 3);
  }
  for (int threads : {1, 2}) {
    const NormalEquations ne =
        normal_equations(basis, xs.data(), xs.size(), y.data(), w.data(), 0, threads);
    print("gram", ne.gram.ab.data(), ne.gram.ab.size());
    print("rhs", ne.rhs.data(), ne.rhs.size());
    const std::vector<double> c = solve(ne, diff, 1e-3);
    const Buffer<double> v = evaluate(basis, c, inside, 1);
    print("spline slope", v.data(), v.size());
  }

  // The export itself, called by name: the one call that an interposing
  // object may answer, by the loader's rule.
  std::vector<double> tt(t), xx{1.0};
  int i[4], j[4];
  double B[4] = {0, 0, 0, 0};
  blossom_grid(tt.data(), static_cast<int>(tt.size()), xx.data(), 1, i, j, B, 4, 4, 4, 7);
  std::printf("direct blossom_grid: %a\n", B[3]);
  return 0;
}

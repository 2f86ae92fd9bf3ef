// bsbasis_normal_equations, bsbasis_evaluate and their uniform forms against
// a scalar reference built on the design's rows, bit for bit on every path;
// the tile contract (splits and parallel tiles give the same bits); and the
// refusals: nothing is added by a call that fails.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "helpers.hpp"
#include "paths.hpp"

using namespace testing_bsbasis;

namespace {

constexpr int64_t kTile = BSBASIS_NORMAL_TILE;

struct Sums {
  std::vector<double> ab, rhs, sums;
  int64_t count = 0;
  Sums(int order, int64_t nj, double fill = 0.0)
      : ab(static_cast<size_t>(order) * nj, fill), rhs(nj, fill), sums(2, fill) {}
  bool operator==(const Sums &o) const {
    auto eq = [](const std::vector<double> &a, const std::vector<double> &b) {
      if (a.size() != b.size()) return false;
      for (size_t e = 0; e < a.size(); ++e)
        if (bits(a[e]) != bits(b[e])) return false;
      return true;
    };
    return eq(ab, o.ab) && eq(rhs, o.rhs) && eq(sums, o.sums) && count == o.count;
  }
  // a += b, entry by entry, as the library adds a tile.
  void add(const Sums &b) {
    for (size_t e = 0; e < ab.size(); ++e) ab[e] = ab[e] + b.ab[e];
    for (size_t e = 0; e < rhs.size(); ++e) rhs[e] = rhs[e] + b.rhs[e];
    sums[0] = sums[0] + b.sums[0];
    sums[1] = sums[1] + b.sums[1];
    count += b.count;
  }
};

// A basis on knots or on the uniform grid, called through either function.
struct Basis {
  std::vector<double> t;  // empty: the uniform grid
  double origin = 0.0, spacing = 1.0;
  int order = 4;
  int64_t nj = 0;
  int nu = 0, mode = BSBASIS_EXTRAPOLATE_ZERO;

  int sums(const double *x, const double *y, const double *w, int64_t nx, Sums &s,
           int64_t *bad = nullptr) const {
    if (t.empty())
      return bsbasis_uniform_normal_equations(origin, spacing, nj, order, nu, mode, x, y, w, nx,
                                              s.ab.data(), y ? s.rhs.data() : nullptr,
                                              s.sums.data(), &s.count, bad);
    return bsbasis_normal_equations(t.data(), static_cast<int64_t>(t.size()), order, nj, nu,
                                    mode, x, y, w, nx, s.ab.data(), y ? s.rhs.data() : nullptr,
                                    s.sums.data(), &s.count, bad);
  }
  int design(const double *x, int64_t nx, int32_t *j, double *B) const {
    if (t.empty())
      return bsbasis_uniform_design(origin, spacing, nj, order, nu, mode, x, nx, nullptr, j, B,
                                    nullptr);
    return bsbasis_design(t.data(), static_cast<int64_t>(t.size()), order, nj, nu, mode, x, nx,
                          nullptr, j, B, nullptr);
  }
  int evaluate(const double *c, const double *x, int64_t nx, double *out) const {
    if (t.empty())
      return bsbasis_uniform_evaluate(origin, spacing, nj, order, nu, mode, c, x, nx, out);
    return bsbasis_evaluate(t.data(), static_cast<int64_t>(t.size()), order, nj, nu, mode, c,
                            x, nx, out);
  }
};

// The sums as bsbasis.h defines them, from the design's rows: per tile a
// zeroed full band, the rows added in order, then the tile added entry by
// entry.
Sums reference(const Basis &b, const std::vector<double> &x, const double *y, const double *w) {
  const int o = b.order, u = o - 1;
  const int64_t n = b.nj, nx = static_cast<int64_t>(x.size());
  std::vector<int32_t> j(static_cast<size_t>(nx) * o);
  std::vector<double> B(j.size());
  EXPECT_EQ(b.design(x.data(), nx, j.data(), B.data()), BSBASIS_OK);
  Sums total(o, n);
  for (int64_t a = 0; a < nx; a += kTile) {
    Sums tile(o, n);
    for (int64_t p = a; p < std::min(nx, a + kTile); ++p) {
      const int32_t c0 = j[p * o];
      if (c0 < 0) continue;
      const double wp = w ? w[p] : 1.0;
      for (int r = 0; r < o; ++r) {
        const double wb = wp * B[p * o + r];
        for (int c = r; c < o; ++c) {
          double &g = tile.ab[(u + r - c) * n + c0 + c];
          g = g + wb * B[p * o + c];
        }
        if (y) tile.rhs[c0 + r] = tile.rhs[c0 + r] + wb * y[p];
      }
      if (y) tile.sums[0] = tile.sums[0] + (wp * y[p]) * y[p];
      tile.sums[1] = tile.sums[1] + wp;
      ++tile.count;
    }
    total.add(tile);
  }
  return total;
}

std::vector<double> clamped(std::mt19937_64 &rng, int order, int inner) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> t(order, 0.0);
  for (int k = 0; k < inner; ++k) t.push_back(u(rng));
  t.insert(t.end(), order, 1.0);
  std::sort(t.begin(), t.end());
  return t;
}

// Abscissae over [-0.2, 1.2] of the unit base interval, sorted or not,
// with the ends themselves, NaN and +-inf sprinkled in.
std::vector<double> abscissae(std::mt19937_64 &rng, int64_t nx, bool sorted, double lo = 0.0,
                              double hi = 1.0) {
  std::uniform_real_distribution<double> u(lo - 0.2 * (hi - lo), hi + 0.2 * (hi - lo));
  std::vector<double> x(nx);
  for (double &v : x) v = u(rng);
  if (sorted) std::sort(x.begin(), x.end());
  if (nx > 10) {
    x[1] = lo;
    x[nx - 2] = hi;
    if (!sorted) {
      x[3] = kNaN;
      x[5] = kInf;
      x[7] = -kInf;
    }
  }
  return x;
}

std::string describe(const Basis &b, bool sorted, bool has_y, bool has_w) {
  return "order " + std::to_string(b.order) + " nu " + std::to_string(b.nu) + " mode " +
         std::to_string(b.mode) + (b.t.empty() ? " uniform" : " knots") +
         (sorted ? " sorted" : " unsorted") + (has_y ? " y" : "") + (has_w ? " w" : "");
}

class NormalPaths : public ::testing::TestWithParam<Path> {};

TEST_P(NormalPaths, SumsMatchTheReferenceBitForBit) {
  UsePath use(GetParam());
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(0.0, 2.0);
  for (int order = 1; order <= 8; ++order)
    for (int mode : {1, 2, 3, 4, 5})
      for (int uniform = 0; uniform < 2; ++uniform) {
        Basis b;
        b.order = order;
        b.mode = mode;
        b.nu = static_cast<int>(rng() % (order + 2));
        if (uniform) {
          b.nj = order + 5;
          b.origin = -0.3;
          b.spacing = 0.125;
        } else {
          b.t = clamped(rng, order, 9);
          b.nj = static_cast<int64_t>(b.t.size()) - order;
        }
        const double lo = uniform ? b.origin + (order - 1) * b.spacing : 0.0;
        const double hi = uniform ? b.origin + b.nj * b.spacing : 1.0;
        for (int sorted = 0; sorted < 2; ++sorted) {
          // Two whole tiles and part of a third for some, within one for most.
          const int64_t nx = (order + mode + sorted) % 6 == 0 ? 2 * kTile + 777 : 3001;
          std::vector<double> x = abscissae(rng, nx, sorted, lo, hi);
          std::vector<double> y(nx), w(nx);
          for (int64_t p = 0; p < nx; ++p) {
            y[p] = std::sin(3.0 * p) * 4.0;
            w[p] = p % 11 == 0 ? 0.0 : u(rng);
          }
          for (int variant = nx > kTile ? 3 : 0; variant < 4; ++variant) {
            const double *yp = variant & 1 ? y.data() : nullptr;
            const double *wp = variant & 2 ? w.data() : nullptr;
            const Sums want = reference(b, x, yp, wp);
            Sums got(order, b.nj);
            ASSERT_EQ(b.sums(x.data(), yp, wp, nx, got), BSBASIS_OK);
            if (!yp) got.rhs.assign(got.rhs.size(), 0.0);
            EXPECT_TRUE(got == want) << describe(b, sorted, yp, wp);
          }
        }
      }
}

TEST_P(NormalPaths, ValuesMatchTheRowsTimesTheCoefficients) {
  UsePath use(GetParam());
  std::mt19937_64 rng(5);
  for (int order = 1; order <= 8; ++order)
    for (int mode : {1, 2, 3, 4, 5}) {
      Basis b;
      b.order = order;
      b.mode = mode;
      b.nu = static_cast<int>(rng() % (order + 1));
      b.t = clamped(rng, order, 7);
      b.nj = static_cast<int64_t>(b.t.size()) - order;
      const int64_t nx = 9000;
      const std::vector<double> x = abscissae(rng, nx, order % 2 == 0);
      std::vector<double> c(b.nj);
      for (double &v : c) v = std::uniform_real_distribution<double>(-3, 3)(rng);
      std::vector<int32_t> j(nx * order);
      std::vector<double> B(nx * order), out(nx, kNaN);
      ASSERT_EQ(b.design(x.data(), nx, j.data(), B.data()), BSBASIS_OK);
      ASSERT_EQ(b.evaluate(c.data(), x.data(), nx, out.data()), BSBASIS_OK);
      for (int64_t p = 0; p < nx; ++p) {
        double v = 0.0;
        if (j[p * order] >= 0) {
          v = B[p * order] * c[j[p * order]];
          for (int q = 1; q < order; ++q) v = v + B[p * order + q] * c[j[p * order + q]];
        }
        ASSERT_EQ(bits(out[p]), bits(v)) << "row " << p << " order " << order << " mode " << mode;
      }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, NormalPaths, ::testing::ValuesIn(paths_here()),
                         [](const ::testing::TestParamInfo<Path> &i) { return i.param.name; });

// The result depends on the tiles only: calls split at a tile multiple, or
// tiles formed apart and added in order, give the bits of one call.
TEST(NormalTiles, SplitsAtTileMultiplesAndParallelTilesGiveTheSameBits) {
  std::mt19937_64 rng(3);
  Basis b;
  b.t = clamped(rng, 4, 40);
  b.nj = static_cast<int64_t>(b.t.size()) - 4;
  const int64_t nx = 4 * kTile + 123;
  for (int sorted = 0; sorted < 2; ++sorted) {
    const std::vector<double> x = abscissae(rng, nx, sorted);
    std::vector<double> y(nx), w(nx);
    for (int64_t p = 0; p < nx; ++p) {
      y[p] = std::cos(0.001 * p) + 1e-3 * (p % 17);
      w[p] = 0.25 + (p % 5);
    }
    Sums whole(4, b.nj);
    ASSERT_EQ(b.sums(x.data(), y.data(), w.data(), nx, whole), BSBASIS_OK);

    Sums chained(4, b.nj);
    for (int64_t a : {int64_t(0), kTile, 3 * kTile})
      ASSERT_EQ(b.sums(x.data() + a, y.data() + a, w.data() + a,
                       (a == 3 * kTile ? nx : a == 0 ? kTile : 3 * kTile) - a, chained),
                BSBASIS_OK);
    EXPECT_TRUE(chained == whole);

    Sums tiles(4, b.nj);
    for (int64_t a = 0; a < nx; a += kTile) {
      Sums part(4, b.nj);
      ASSERT_EQ(b.sums(x.data() + a, y.data() + a, w.data() + a, std::min(kTile, nx - a), part),
                BSBASIS_OK);
      tiles.add(part);
    }
    EXPECT_TRUE(tiles == whole);

    // Elsewhere the split agrees within rounding only.
    Sums off(4, b.nj);
    ASSERT_EQ(b.sums(x.data(), y.data(), w.data(), 1000, off), BSBASIS_OK);
    ASSERT_EQ(b.sums(x.data() + 1000, y.data() + 1000, w.data() + 1000, nx - 1000, off),
              BSBASIS_OK);
    double scale = 0.0;
    for (double v : whole.ab) scale = std::max(scale, std::fabs(v));
    for (size_t e = 0; e < off.ab.size(); ++e)
      EXPECT_NEAR(off.ab[e], whole.ab[e], 1e-12 * scale);
    EXPECT_EQ(off.count, whole.count);
  }
}

// Weights of one and no weights are the same bits; the count is the rows
// in range; an empty input adds nothing.
TEST(NormalTiles, UnitWeightsCountsAndEmptyInput) {
  std::mt19937_64 rng(8);
  Basis b;
  b.t = clamped(rng, 3, 10);
  b.nj = static_cast<int64_t>(b.t.size()) - 3;
  b.order = 3;
  const std::vector<double> x = abscissae(rng, 5000, false);
  std::vector<double> y(x.size(), 2.5), ones(x.size(), 1.0);
  Sums none(3, b.nj), unit(3, b.nj);
  ASSERT_EQ(b.sums(x.data(), y.data(), nullptr, 5000, none), BSBASIS_OK);
  ASSERT_EQ(b.sums(x.data(), y.data(), ones.data(), 5000, unit), BSBASIS_OK);
  EXPECT_TRUE(none == unit);
  int64_t inside = 0;
  for (double v : x) inside += v >= 0.0 && v <= 1.0;
  EXPECT_EQ(none.count, inside);
  EXPECT_EQ(none.sums[1], static_cast<double>(inside));
  EXPECT_EQ(none.sums[0], 6.25 * static_cast<double>(inside));

  Sums empty(3, b.nj, 1.5);
  ASSERT_EQ(b.sums(nullptr, nullptr, nullptr, 0, empty), BSBASIS_OK);
  EXPECT_TRUE(empty == Sums(3, b.nj, 1.5));
}

// Every refusal leaves the outputs as they were and names the row at fault.
TEST(NormalRefusals, BadDataIsRefusedBeforeAnythingIsAdded) {
  std::mt19937_64 rng(2);
  Basis b;
  b.t = clamped(rng, 4, 6);
  b.nj = static_cast<int64_t>(b.t.size()) - 4;
  const int64_t nx = kTile + 500;
  std::vector<double> x(nx), y(nx, 1.0), w(nx, 1.0);
  for (int64_t p = 0; p < nx; ++p) x[p] = static_cast<double>(p) / nx;
  const Sums fresh(4, b.nj, 0.75);
  auto refused = [&](int64_t want_row, const char *what) {
    Sums s(4, b.nj, 0.75);
    int64_t bad = 99;
    EXPECT_EQ(b.sums(x.data(), y.data(), w.data(), nx, s, &bad), BSBASIS_ERROR_DATA) << what;
    EXPECT_EQ(bad, want_row) << what;
    EXPECT_TRUE(s == fresh) << what;
  };
  w[kTile + 7] = -1.0;
  refused(kTile + 7, "negative weight");
  w[kTile + 3] = kNaN;
  refused(kTile + 3, "NaN weight before it");
  w[kTile + 3] = w[kTile + 7] = 1.0;
  w[nx - 1] = kInf;
  refused(nx - 1, "infinite weight");
  w[nx - 1] = 1.0;
  y[kTile + 100] = kNaN;
  y[kTile + 50] = -kInf;
  refused(kTile + 50, "responses not finite");
  // On a row out of range y is not read: under ZERO it is accepted.
  y[kTile + 50] = y[kTile + 100] = 1.0;
  x[20] = 5.0;
  y[20] = kNaN;
  {
    Sums s(4, b.nj);
    int64_t bad = 99;
    EXPECT_EQ(b.sums(x.data(), y.data(), w.data(), nx, s, &bad), BSBASIS_OK);
    EXPECT_EQ(bad, -1);
    EXPECT_EQ(s.count, nx - 1);
    EXPECT_TRUE(std::isfinite(s.sums[0]));
  }
  // ...and under ERROR the abscissa itself is refused, nothing added.
  Basis e = b;
  e.mode = BSBASIS_EXTRAPOLATE_ERROR;
  Sums s(4, b.nj, 0.75);
  EXPECT_EQ(e.sums(x.data(), y.data(), w.data(), nx, s), BSBASIS_ERROR_RANGE);
  EXPECT_TRUE(s == fresh);
  double c[64] = {0}, out = 7.0;
  EXPECT_EQ(e.evaluate(c, x.data() + 20, 1, &out), BSBASIS_ERROR_RANGE);
  EXPECT_EQ(out, 7.0);
}

TEST(NormalRefusals, BadArgumentsGetTheirStatus) {
  const double t[] = {0, 0, 0, 0, 0.5, 1, 1, 1, 1};
  double x[] = {0.25, 0.75}, y[] = {1, 2}, ab[20] = {0}, rhs[5] = {0}, sums[2] = {0}, c[5] = {0};
  int64_t count = 0, bad = 5;
  auto call = [&](const double *tt, int64_t nt, int order, int64_t nj, int nu, int mode,
                  const double *yy, int64_t nx, double *a, double *r, double *s, int64_t *n) {
    bad = 5;
    return bsbasis_normal_equations(tt, nt, order, nj, nu, mode, x, yy, nullptr, nx, a, r, s, n,
                                    &bad);
  };
  EXPECT_EQ(call(t, 9, 4, 5, 0, 1, y, 2, ab, rhs, sums, &count), BSBASIS_OK);
  EXPECT_EQ(bad, -1);
  EXPECT_EQ(call(nullptr, 9, 4, 5, 0, 1, y, 2, ab, rhs, sums, &count), BSBASIS_ERROR_NULL);
  EXPECT_EQ(call(t, 9, 4, 5, 0, 1, y, 2, nullptr, rhs, sums, &count), BSBASIS_ERROR_NULL);
  EXPECT_EQ(call(t, 9, 4, 5, 0, 1, y, 2, ab, nullptr, sums, &count), BSBASIS_ERROR_NULL);
  EXPECT_EQ(call(t, 9, 4, 5, 0, 1, y, 2, ab, rhs, nullptr, &count), BSBASIS_ERROR_NULL);
  EXPECT_EQ(call(t, 9, 4, 5, 0, 1, y, 2, ab, rhs, sums, nullptr), BSBASIS_ERROR_NULL);
  EXPECT_EQ(call(t, 9, 4, 5, -1, 1, y, 2, ab, rhs, sums, &count), BSBASIS_ERROR_ORDER);
  EXPECT_EQ(call(t, 9, 0, 5, 0, 1, y, 2, ab, rhs, sums, &count), BSBASIS_ERROR_ORDER);
  EXPECT_EQ(call(t, 9, 4, 5, 0, 6, y, 2, ab, rhs, sums, &count), BSBASIS_ERROR_MODE);
  EXPECT_EQ(call(t, 9, 4, 5, 0, 1, y, -1, ab, rhs, sums, &count), BSBASIS_ERROR_COUNT);
  EXPECT_EQ(call(t, 9, 4, 6, 0, 1, y, 2, ab, rhs, sums, &count), BSBASIS_ERROR_COLUMNS);
  EXPECT_EQ(call(t, 3, 4, 5, 0, 1, y, 2, ab, rhs, sums, &count), BSBASIS_ERROR_KNOTS);
  EXPECT_EQ(bsbasis_uniform_normal_equations(0.0, -1.0, 5, 4, 0, 1, x, y, nullptr, 2, ab, rhs,
                                             sums, &count, &bad),
            BSBASIS_ERROR_KNOTS);
  EXPECT_EQ(bsbasis_evaluate(t, 9, 4, 5, 0, 1, nullptr, x, 2, y), BSBASIS_ERROR_NULL);
  EXPECT_EQ(bsbasis_evaluate(t, 9, 4, 5, 0, 1, c, x, 2, nullptr), BSBASIS_ERROR_NULL);
  EXPECT_EQ(bsbasis_evaluate(t, 9, 4, 5, 0, 9, c, x, 2, y), BSBASIS_ERROR_MODE);
  EXPECT_EQ(bsbasis_uniform_evaluate(0.0, 1.0, 3, 4, 0, 1, c, x, 2, y), BSBASIS_ERROR_COLUMNS);
  // Only the successful first call added anything.
  EXPECT_EQ(count, 2);
}

}  // namespace

namespace {

// Dense rows from blocks: the window is written whole, nothing outside it,
// in row-major and column-major layouts.
TEST(DenseRows, WindowsOfRowAndColumnMajorMatrices) {
  std::mt19937_64 rng(9);
  const int order = 4;
  Basis b;
  b.t = clamped(rng, order, 8);
  b.nj = static_cast<int64_t>(b.t.size()) - order;
  b.mode = BSBASIS_EXTRAPOLATE_ZERO;
  const int64_t nx = 777;
  const std::vector<double> x = abscissae(rng, nx, false);
  std::vector<int32_t> j(nx * order);
  std::vector<double> B(nx * order);
  ASSERT_EQ(b.design(x.data(), nx, j.data(), B.data()), BSBASIS_OK);
  // Duplicate columns add; columns beyond the window drop.
  j[0] = j[1] = 2;
  B[0] = 0.25, B[1] = 0.5;
  for (int64_t ncols : {b.nj, b.nj - 1, int64_t(3)})
    for (int major = 0; major < 2; ++major) {
      // The window at column 5 of a matrix of ncols + 9 columns.
      const int64_t width = ncols + 9, rows = nx;
      std::vector<double> m(static_cast<size_t>(width * rows), -3.0);
      const int64_t rs = major ? 1 : width, cs = major ? rows : 1;
      ASSERT_EQ(bsbasis_blocks_to_dense(order, j.data(), B.data(), nx, ncols,
                                        m.data() + 5 * cs, rs, cs),
                BSBASIS_OK);
      for (int64_t p = 0; p < nx; ++p)
        for (int64_t c = 0; c < width; ++c) {
          double want = -3.0;
          if (c >= 5 && c < 5 + ncols) {
            want = 0.0;
            for (int q = 0; q < order; ++q)
              if (j[p * order + q] == c - 5) want = want + B[p * order + q];
          }
          ASSERT_EQ(m[p * rs + c * cs], want) << "row " << p << " column " << c;
        }
    }
  EXPECT_EQ(B[0] + B[1], 0.75);
}

TEST(DenseRows, BadArgumentsGetTheirStatus) {
  const int32_t j[4] = {0, 1, 2, 3};
  const double B[4] = {1, 2, 3, 4};
  double out[8];
  EXPECT_EQ(bsbasis_blocks_to_dense(0, j, B, 1, 4, out, 4, 1), BSBASIS_ERROR_ORDER);
  EXPECT_EQ(bsbasis_blocks_to_dense(4, j, B, -1, 4, out, 4, 1), BSBASIS_ERROR_COUNT);
  EXPECT_EQ(bsbasis_blocks_to_dense(4, j, B, 1, 4, out, 4, 0), BSBASIS_ERROR_COUNT);
  EXPECT_EQ(bsbasis_blocks_to_dense(4, j, B, 1, 4, out, -1, 1), BSBASIS_ERROR_COUNT);
  EXPECT_EQ(bsbasis_blocks_to_dense(4, j, B, 3, 4, out, INT64_MAX / 2, 1), BSBASIS_ERROR_COUNT);
  EXPECT_EQ(bsbasis_blocks_to_dense(4, j, B, 1, INT64_MAX, out, 1, 2), BSBASIS_ERROR_COUNT);
  EXPECT_EQ(bsbasis_blocks_to_dense(4, nullptr, B, 1, 4, out, 4, 1), BSBASIS_ERROR_NULL);
  EXPECT_EQ(bsbasis_blocks_to_dense(4, j, B, 1, 4, nullptr, 4, 1), BSBASIS_ERROR_NULL);
  EXPECT_EQ(bsbasis_blocks_to_dense(4, nullptr, nullptr, 0, 4, nullptr, 4, 1), BSBASIS_OK);
  EXPECT_EQ(bsbasis_blocks_to_dense(4, j, B, 1, 8, out, 8, 1), BSBASIS_OK);
  EXPECT_EQ(out[3], 4.0);
  EXPECT_EQ(out[7], 0.0);
}

}  // namespace

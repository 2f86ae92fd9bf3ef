// The sums and row values of models of several terms, against a dense model
// matrix built here from the exported designs' rows (bsbasis_design,
// bsbasis_uniform_design, bsbasis_periodic_design, bsbasis_tensor_design,
// with bsbasis_blocks_to_dense), summed in the order bsbasis.h states.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "bsbasis.h"

namespace {

const double kNaN = std::nan("");

bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

bool same_or_zeros(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (a == 0.0 && b == 0.0);
}

std::vector<double> clamped(int order, std::vector<double> inner) {
  std::vector<double> t(order - 1, inner.front());
  t.insert(t.end(), inner.begin(), inner.end());
  t.insert(t.end(), order - 1, inner.back());
  return t;
}

bsbasis_margin knots_margin(const std::vector<double> &t, int order, int64_t column, int mode) {
  bsbasis_margin m{};
  m.kind = BSBASIS_MARGIN_KNOTS;
  m.order = order;
  m.extrapolate = mode;
  m.t = t.data();
  m.nt = int64_t(t.size());
  m.nj = int64_t(t.size()) - order;
  m.column = column;
  return m;
}

bsbasis_margin uniform_margin(double origin, double spacing, int64_t n, int order, int64_t column,
                              int mode) {
  bsbasis_margin m{};
  m.kind = BSBASIS_MARGIN_UNIFORM;
  m.order = order;
  m.extrapolate = mode;
  m.origin = origin;
  m.spacing = spacing;
  m.nj = n;
  m.column = column;
  return m;
}

bsbasis_margin periodic_margin(const std::vector<double> &u, int order, int64_t column) {
  bsbasis_margin m{};
  m.kind = BSBASIS_MARGIN_PERIODIC;
  m.order = order;
  m.extrapolate = 99;  // not read
  m.t = u.data();
  m.nt = int64_t(u.size());
  m.nj = -5;  // not read
  m.column = column;
  return m;
}

bsbasis_term term(int kind, int64_t column = 0, int64_t nlevels = 0) {
  bsbasis_term t{};
  t.kind = kind;
  t.column = column;
  t.nlevels = nlevels;
  return t;
}

bsbasis_term spline(const std::vector<bsbasis_margin> &m) {
  bsbasis_term t{};
  t.kind = BSBASIS_TERM_SPLINE;
  t.d = int32_t(m.size());
  t.margins = m.data();
  return t;
}

// The model of the tests: intercept + x0 + factor(x1, 3) + s(x2) on knots
// (ZERO: some rows empty) + s(x3) on uniform knots + s(x4) periodic +
// te(x2, x0) on knots (ERROR, CONTINUE) + te(x0, x3, x4) of the three
// kinds.  Column 5 of x is never read and holds NaN.
struct Model {
  static constexpr int64_t kCols = 6;
  std::vector<double> t2 = clamped(4, {-1.0, -0.5, 0.0, 0.25, 0.5, 1.0});
  std::vector<double> t2b = clamped(3, {-1.5, -0.5, 0.5, 1.5});
  std::vector<double> t0 = clamped(2, {-3.0, -1.0, 0.0, 2.0, 3.0});
  std::vector<double> t0b = clamped(3, {-3.0, 0.0, 3.0});
  std::vector<double> u4 = {0.0, 0.2, 0.45, 0.6, 0.8, 1.0};
  std::vector<double> u4b = {0.0, 0.25, 0.5, 0.75, 1.0};
  std::vector<bsbasis_margin> s2{knots_margin(t2, 4, 2, BSBASIS_EXTRAPOLATE_ZERO)};
  std::vector<bsbasis_margin> s3{uniform_margin(-2.0, 0.75, 7, 3, 3, BSBASIS_EXTRAPOLATE_LINEAR)};
  std::vector<bsbasis_margin> s4{periodic_margin(u4, 4, 4)};
  std::vector<bsbasis_margin> te2{knots_margin(t2b, 3, 2, BSBASIS_EXTRAPOLATE_ERROR),
                                  knots_margin(t0, 2, 0, BSBASIS_EXTRAPOLATE_CONTINUE)};
  std::vector<bsbasis_margin> te3{knots_margin(t0b, 3, 0, BSBASIS_EXTRAPOLATE_CONSTANT),
                                  uniform_margin(-2.0, 1.25, 4, 2, 3, BSBASIS_EXTRAPOLATE_ZERO),
                                  periodic_margin(u4b, 3, 4)};
  std::vector<bsbasis_term> terms{term(BSBASIS_TERM_INTERCEPT),
                                  term(BSBASIS_TERM_LINEAR, 0),
                                  term(BSBASIS_TERM_FACTOR, 1, 3),
                                  spline(s2),
                                  spline(s3),
                                  spline(s4),
                                  spline(te2),
                                  spline(te3)};
  Model() = default;
  Model(const Model &) = delete;
  int64_t nterms() const { return int64_t(terms.size()); }
};

// Rows of the data: x row-major (n x kCols), y, w.
struct Data {
  int64_t n;
  std::vector<double> x, y, w;
};

Data make_data(int64_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Data d{n, std::vector<double>(n * Model::kCols), std::vector<double>(n), std::vector<double>(n)};
  for (int64_t p = 0; p < n; ++p) {
    double *r = &d.x[p * Model::kCols];
    r[0] = -3.5 + 7.0 * u(rng);  // beyond t0 on both sides
    r[1] = double(rng() % 3);    // the factor
    r[2] = -1.4 + 2.8 * u(rng);  // beyond t2 (ZERO) inside t2b (ERROR)
    r[3] = -2.5 + 6.0 * u(rng);  // beyond the uniform knots
    r[4] = -1.5 + 4.0 * u(rng);  // wrapped
    r[5] = kNaN;
    d.y[p] = -2.0 + 4.0 * u(rng);
    d.w[p] = p % 7 == 3 ? 0.0 : 0.25 + 2.0 * u(rng);
  }
  return d;
}

// A column of the data.
std::vector<double> column(const Data &d, int c) {
  std::vector<double> v(d.n);
  for (int64_t p = 0; p < d.n; ++p) v[p] = d.x[p * Model::kCols + c];
  return v;
}

// One margin's rows at column c, by its exported design function.
struct Blocks {
  int order;
  int64_t width;
  std::vector<int32_t> j;
  std::vector<double> B;
};

Blocks margin_blocks(const bsbasis_margin &m, const Data &d) {
  const std::vector<double> x = column(d, int(m.column));
  Blocks b{m.order, 0, std::vector<int32_t>(d.n * m.order), std::vector<double>(d.n * m.order)};
  int st = -100;
  if (m.kind == BSBASIS_MARGIN_KNOTS) {
    b.width = m.nj;
    st = bsbasis_design(m.t, m.nt, m.order, m.nj, m.nu, m.extrapolate, x.data(), d.n, nullptr,
                        b.j.data(), b.B.data(), nullptr);
  } else if (m.kind == BSBASIS_MARGIN_UNIFORM) {
    b.width = m.nj;
    st = bsbasis_uniform_design(m.origin, m.spacing, m.nj, m.order, m.nu, m.extrapolate, x.data(),
                                d.n, nullptr, b.j.data(), b.B.data(), nullptr);
  } else {
    b.width = m.nt - 1;
    st = bsbasis_periodic_design(m.t, m.nt, m.order, m.nu, x.data(), d.n, nullptr, b.j.data(),
                                 b.B.data(), nullptr);
  }
  EXPECT_EQ(st, BSBASIS_OK);
  return b;
}

// A spline term's rows: the Kronecker product of its margins' blocks, last
// margin fastest, values ((b0*b1)*b2), formed here.
Blocks kron_blocks(const bsbasis_term &t, const Data &d) {
  Blocks r = margin_blocks(t.margins[0], d);
  for (int a = 1; a < t.d; ++a) {
    const Blocks m = margin_blocks(t.margins[a], d);
    Blocks k{r.order * m.order, r.width * m.width, {}, {}};
    k.j.resize(d.n * k.order);
    k.B.resize(d.n * k.order);
    for (int64_t p = 0; p < d.n; ++p) {
      const bool empty = r.j[p * r.order] < 0 || m.j[p * m.order] < 0;
      for (int e = 0; e < r.order; ++e)
        for (int q = 0; q < m.order; ++q) {
          const int64_t at = p * k.order + e * m.order + q;
          k.j[at] = empty ? -1 : int32_t(r.j[p * r.order + e] * m.width + m.j[p * m.order + q]);
          k.B[at] = empty ? 0.0 : r.B[p * r.order + e] * m.B[p * m.order + q];
        }
    }
    r = k;
  }
  return r;
}

// The same by bsbasis_tensor_design, for terms whose margins are all on
// knots and share one mode.
Blocks tensor_blocks(const bsbasis_term &t, const Data &d) {
  std::vector<const double *> tt;
  std::vector<int64_t> nt, nj;
  std::vector<int32_t> order, nu;
  std::vector<double> pts(d.n * t.d);
  int E = 1;
  int64_t width = 1;
  for (int a = 0; a < t.d; ++a) {
    const bsbasis_margin &m = t.margins[a];
    tt.push_back(m.t), nt.push_back(m.nt), nj.push_back(m.nj), order.push_back(m.order);
    nu.push_back(m.nu);
    E *= m.order;
    width *= m.nj;
    for (int64_t p = 0; p < d.n; ++p) pts[p * t.d + a] = d.x[p * Model::kCols + m.column];
  }
  Blocks b{E, width, std::vector<int32_t>(d.n * E), std::vector<double>(d.n * E)};
  EXPECT_EQ(bsbasis_tensor_design(t.d, tt.data(), nt.data(), order.data(), nj.data(), nu.data(),
                                  t.margins[0].extrapolate, pts.data(), d.n, nullptr, b.j.data(),
                                  nullptr, b.B.data(), nullptr),
            BSBASIS_OK);
  return b;
}

// The dense model matrix, n x P row-major.
std::vector<double> dense_model(const Model &m, const Data &d, int64_t *P) {
  std::vector<Blocks> blocks;
  std::vector<int64_t> widths;
  for (const bsbasis_term &t : m.terms) {
    if (t.kind == BSBASIS_TERM_SPLINE) {
      blocks.push_back(kron_blocks(t, d));
      widths.push_back(blocks.back().width);
    } else {
      blocks.push_back(Blocks{});
      widths.push_back(t.kind == BSBASIS_TERM_FACTOR ? t.nlevels : 1);
    }
  }
  int64_t p = 0;
  for (int64_t w : widths) p += w;
  *P = p;
  std::vector<double> X(d.n * p, 0.0);
  int64_t off = 0;
  for (size_t k = 0; k < m.terms.size(); ++k) {
    const bsbasis_term &t = m.terms[k];
    for (int64_t r = 0; r < d.n; ++r) {
      const double *xr = &d.x[r * Model::kCols];
      if (t.kind == BSBASIS_TERM_INTERCEPT) X[r * p + off] = 1.0;
      if (t.kind == BSBASIS_TERM_LINEAR) X[r * p + off] = xr[t.column];
      if (t.kind == BSBASIS_TERM_FACTOR) X[r * p + off + int64_t(xr[t.column])] = 1.0;
    }
    if (t.kind == BSBASIS_TERM_SPLINE) {
      const Blocks &b = blocks[k];
      EXPECT_EQ(bsbasis_blocks_to_dense(b.order, b.j.data(), b.B.data(), d.n, b.width,
                                        X.data() + off, p, 1),
                BSBASIS_OK);
    }
    off += widths[k];
  }
  return X;
}

// The sums as bsbasis.h states them: tiles of BSBASIS_NORMAL_TILE from +0,
// rows in order, (w*b_a)*b_c etc., then each tile added to the outputs.
// Products of a column the row has no entry in are +-0 and leave every sum
// as it is (a tile's sum starts at +0 and is never -0).
struct Sums {
  std::vector<double> G, rhs, sums;
  int64_t count;
};

void reference_sums(const std::vector<double> &X, int64_t n, int64_t P, const double *y,
                    const double *w, Sums *out) {
  std::vector<double> Gt(P * P), Rt(P);
  for (int64_t a = 0; a < n; a += BSBASIS_NORMAL_TILE) {
    const int64_t end = std::min<int64_t>(n, a + BSBASIS_NORMAL_TILE);
    std::fill(Gt.begin(), Gt.end(), 0.0);
    std::fill(Rt.begin(), Rt.end(), 0.0);
    double yty = 0.0, sw = 0.0;
    for (int64_t p = a; p < end; ++p) {
      const double *b = &X[p * P];
      for (int64_t r = 0; r < P; ++r) {
        const double wb = w ? w[p] * b[r] : b[r];
        for (int64_t c = r; c < P; ++c) Gt[r * P + c] = Gt[r * P + c] + wb * b[c];
        if (y) Rt[r] = Rt[r] + wb * y[p];
      }
      if (y) yty = yty + (w ? w[p] * y[p] : y[p]) * y[p];
      sw = sw + (w ? w[p] : 1.0);
    }
    for (int64_t r = 0; r < P; ++r)
      for (int64_t c = r; c < P; ++c) out->G[r * P + c] = out->G[r * P + c] + Gt[r * P + c];
    for (int64_t r = 0; y && r < P; ++r) out->rhs[r] = out->rhs[r] + Rt[r];
    if (y) out->sums[0] = out->sums[0] + yty;
    out->sums[1] = out->sums[1] + sw;
    out->count += end - a;
  }
}

// The data table in either layout.
struct Table {
  std::vector<double> v;
  int64_t rs, cs;
};

Table layout(const Data &d, bool column_major) {
  if (!column_major) return Table{d.x, Model::kCols, 1};
  Table t{std::vector<double>(d.x.size()), 1, d.n};
  for (int64_t p = 0; p < d.n; ++p)
    for (int64_t c = 0; c < Model::kCols; ++c) t.v[c * d.n + p] = d.x[p * Model::kCols + c];
  return t;
}

int call_sums(const Model &m, const Table &t, int64_t n, const double *y, const double *w, Sums *s,
              int64_t *bad_row = nullptr, int64_t *bad_term = nullptr, int64_t row0 = 0) {
  const double *x = t.v.data() + row0 * t.rs;
  return bsbasis_model_normal_equations(m.terms.data(), m.nterms(), x, n, Model::kCols, t.rs, t.cs,
                                        y ? y + row0 : nullptr, w ? w + row0 : nullptr, s->G.data(),
                                        y ? s->rhs.data() : nullptr, s->sums.data(), &s->count,
                                        bad_row, bad_term);
}

Sums zeros(int64_t P) {
  return Sums{std::vector<double>(P * P, 0.0), std::vector<double>(P, 0.0), {0.0, 0.0}, 0};
}

TEST(ModelColumns, SumOfTheTermsWidths) {
  Model m;
  int64_t p = -1, bad = 7;
  ASSERT_EQ(bsbasis_model_columns(m.terms.data(), m.nterms(), Model::kCols, &p, &bad), BSBASIS_OK);
  // 1 + 1 + 3 levels + (12 - 4) + 7 + 5 breaks + (8 - 3)*(7 - 2) + (7 - 3)*4*4
  EXPECT_EQ(p, 1 + 1 + 3 + 8 + 7 + 5 + 25 + 64);
  EXPECT_EQ(bad, -1);
  Data d = make_data(3, 1);
  int64_t P = 0;
  dense_model(m, d, &P);
  EXPECT_EQ(p, P);
}

TEST(ModelSums, MatchTheDenseModelBitForBit) {
  Model m;
  const Data d = make_data(3001, 42);
  int64_t P = 0;
  const std::vector<double> X = dense_model(m, d, &P);
  // Some rows have an empty s(x2) (ZERO) and an empty third margin of te3.
  int64_t empty = 0;
  for (int64_t p = 0; p < d.n; ++p) empty += std::fabs(d.x[p * Model::kCols + 2]) > 1.0;
  ASSERT_GT(empty, 100);
  for (int with_y = 0; with_y < 2; ++with_y)
    for (int with_w = 0; with_w < 2; ++with_w)
      for (int cm = 0; cm < 2; ++cm) {
        SCOPED_TRACE(::testing::Message() << "y " << with_y << " w " << with_w << " cm " << cm);
        const double *y = with_y ? d.y.data() : nullptr, *w = with_w ? d.w.data() : nullptr;
        Sums want = zeros(P), got = zeros(P);
        reference_sums(X, d.n, P, y, w, &want);
        // Below the diagonal: a sentinel the call must leave.
        for (int64_t r = 1; r < P; ++r)
          for (int64_t c = 0; c < r; ++c) got.G[r * P + c] = want.G[r * P + c] = -123.0;
        int64_t bad_row = 5, bad_term = 5;
        ASSERT_EQ(call_sums(m, layout(d, cm), d.n, y, w, &got, &bad_row, &bad_term), BSBASIS_OK);
        EXPECT_EQ(bad_row, -1);
        EXPECT_EQ(bad_term, -1);
        EXPECT_TRUE(same_bits(got.G, want.G));
        EXPECT_TRUE(same_bits(got.rhs, want.rhs));  // zeros without y: not touched
        EXPECT_TRUE(same_bits(got.sums, want.sums));
        EXPECT_EQ(got.count, d.n);
      }
}

TEST(ModelSums, ChainedAtTileMultiplesAndUnitWeights) {
  Model m;
  const int64_t n = BSBASIS_NORMAL_TILE + 777;
  const Data d = make_data(n, 7);
  const Table t = layout(d, false);
  int64_t P = 0;
  ASSERT_EQ(bsbasis_model_columns(m.terms.data(), m.nterms(), Model::kCols, &P, nullptr),
            BSBASIS_OK);
  Sums one = zeros(P), two = zeros(P);
  ASSERT_EQ(call_sums(m, t, n, d.y.data(), d.w.data(), &one), BSBASIS_OK);
  ASSERT_EQ(call_sums(m, t, BSBASIS_NORMAL_TILE, d.y.data(), d.w.data(), &two), BSBASIS_OK);
  ASSERT_EQ(call_sums(m, t, n - BSBASIS_NORMAL_TILE, d.y.data(), d.w.data(), &two, nullptr, nullptr,
                      BSBASIS_NORMAL_TILE),
            BSBASIS_OK);
  EXPECT_TRUE(same_bits(one.G, two.G));
  EXPECT_TRUE(same_bits(one.rhs, two.rhs));
  EXPECT_TRUE(same_bits(one.sums, two.sums));
  EXPECT_EQ(one.count, n);
  EXPECT_EQ(two.count, n);
  // A split elsewhere rounds differently somewhere: the tiles matter.
  Sums off = zeros(P);
  ASSERT_EQ(call_sums(m, t, 1000, d.y.data(), d.w.data(), &off), BSBASIS_OK);
  ASSERT_EQ(call_sums(m, t, n - 1000, d.y.data(), d.w.data(), &off, nullptr, nullptr, 1000),
            BSBASIS_OK);
  EXPECT_FALSE(same_bits(one.G, off.G));

  const std::vector<double> ones(n, 1.0);
  Sums unit = zeros(P), none = zeros(P);
  ASSERT_EQ(call_sums(m, t, n, d.y.data(), ones.data(), &unit), BSBASIS_OK);
  ASSERT_EQ(call_sums(m, t, n, d.y.data(), nullptr, &none), BSBASIS_OK);
  EXPECT_TRUE(same_bits(unit.G, none.G));
  EXPECT_TRUE(same_bits(unit.rhs, none.rhs));
  EXPECT_TRUE(same_bits(unit.sums, none.sums));
}

TEST(ModelSums, EveryUpperEntryGetsEachTileAdded) {
  // Two levels of a factor never share a row: their entry stays +0 in the
  // tile and is still added, so a -0 there becomes +0; NaN stays NaN.
  std::vector<bsbasis_term> terms{term(BSBASIS_TERM_FACTOR, 0, 2)};
  const std::vector<double> x{0.0, 1.0, 1.0};
  std::vector<double> G{-0.0, -0.0, kNaN, -0.0}, sums{-0.0, -0.0};
  int64_t count = 10;
  ASSERT_EQ(
      bsbasis_model_normal_equations(terms.data(), 1, x.data(), 3, 1, 1, 1, nullptr, nullptr,
                                     G.data(), nullptr, sums.data(), &count, nullptr, nullptr),
      BSBASIS_OK);
  EXPECT_EQ(G[0], 1.0);
  EXPECT_EQ(G[3], 2.0);
  EXPECT_FALSE(std::signbit(G[1]));    // -0 + +0
  EXPECT_TRUE(std::isnan(G[2]));       // below the diagonal: untouched
  EXPECT_TRUE(std::signbit(sums[0]));  // without y: untouched
  EXPECT_EQ(sums[1], 3.0);
  EXPECT_EQ(count, 13);
  // No rows: nothing added.
  ASSERT_EQ(
      bsbasis_model_normal_equations(terms.data(), 1, nullptr, 0, 1, 1, 1, nullptr, nullptr,
                                     G.data(), nullptr, sums.data(), &count, nullptr, nullptr),
      BSBASIS_OK);
  EXPECT_EQ(count, 13);
  EXPECT_EQ(sums[1], 3.0);
}

TEST(ModelEvaluate, FitAndVarianceMatchTheDenseRows) {
  Model m;
  const Data d = make_data(1500, 9);
  int64_t P = 0;
  const std::vector<double> X = dense_model(m, d, &P);
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> coef(P), A(P * P), V(P * P, 0.0);
  for (double &c : coef) c = u(rng);
  for (double &a : A) a = u(rng);
  for (int64_t r = 0; r < P; ++r)  // V = A A^T / P: symmetric
    for (int64_t c = 0; c < P; ++c) {
      double s = 0.0;
      for (int64_t k = 0; k < P; ++k) s += A[r * P + k] * A[c * P + k];
      V[r * P + c] = s / double(P);
    }
  for (int cm = 0; cm < 2; ++cm) {
    const Table t = layout(d, cm);
    std::vector<double> fit(d.n, kNaN), var(d.n, kNaN), fit_only(d.n, kNaN);
    int64_t bad_row = 4, bad_term = 4;
    ASSERT_EQ(bsbasis_model_evaluate(m.terms.data(), m.nterms(), t.v.data(), d.n, Model::kCols,
                                     t.rs, t.cs, coef.data(), V.data(), fit.data(), var.data(),
                                     &bad_row, &bad_term),
              BSBASIS_OK);
    EXPECT_EQ(bad_row, -1);
    EXPECT_EQ(bad_term, -1);
    // Without var, V is not read.
    ASSERT_EQ(bsbasis_model_evaluate(m.terms.data(), m.nterms(), t.v.data(), d.n, Model::kCols,
                                     t.rs, t.cs, coef.data(), nullptr, fit_only.data(), nullptr,
                                     nullptr, nullptr),
              BSBASIS_OK);
    EXPECT_TRUE(same_bits(fit, fit_only));
    int mismatches = 0;
    for (int64_t p = 0; p < d.n; ++p) {
      // The row's non-zero entries in column order: the zeros the library
      // also visits change at most the sign of a zero sum.
      std::vector<int64_t> c;
      for (int64_t k = 0; k < P; ++k)
        if (X[p * P + k] != 0.0) c.push_back(k);
      const double *b = &X[p * P];
      double f = 0.0, v = 0.0, dense_f = 0.0, dense_v = 0.0;
      for (size_t e = 0; e < c.size(); ++e) f = e ? f + b[c[e]] * coef[c[e]] : b[c[e]] * coef[c[e]];
      for (size_t a = 0; a < c.size(); ++a) {
        double ua = 0.0;
        for (size_t e = 0; e < c.size(); ++e)
          ua = e ? ua + V[c[a] * P + c[e]] * b[c[e]] : V[c[a] * P + c[e]] * b[c[e]];
        v = a ? v + b[c[a]] * ua : b[c[a]] * ua;
      }
      // And plainly, X coef and X V X^T over every column.
      for (int64_t r = 0; r < P; ++r) {
        dense_f += b[r] * coef[r];
        for (int64_t k = 0; k < P; ++k) dense_v += b[r] * V[r * P + k] * b[k];
      }
      mismatches += !same_or_zeros(fit[p], f) || !same_or_zeros(var[p], v);
      EXPECT_NEAR(fit[p], dense_f, 1e-12 * (1.0 + std::fabs(dense_f)));
      EXPECT_NEAR(var[p], dense_v, 1e-12 * (1.0 + std::fabs(dense_v)));
    }
    EXPECT_EQ(mismatches, 0) << "column-major " << cm;
  }
}

TEST(ModelTensor, TheTensorDesignsRowsOnKnots) {
  // te(x2, x0) against bsbasis_tensor_design's own rows: the model's sums
  // of the term alone are those of its dense rows.
  Model m;
  const Data d = make_data(700, 5);
  std::vector<bsbasis_margin> te{knots_margin(m.t2b, 3, 2, BSBASIS_EXTRAPOLATE_CONTINUE),
                                 knots_margin(m.t0, 2, 0, BSBASIS_EXTRAPOLATE_CONTINUE)};
  std::vector<bsbasis_term> terms{spline(te)};
  const Blocks b = tensor_blocks(terms[0], d);
  const int64_t P = b.width;
  std::vector<double> X(d.n * P);
  ASSERT_EQ(bsbasis_blocks_to_dense(b.order, b.j.data(), b.B.data(), d.n, P, X.data(), P, 1),
            BSBASIS_OK);
  Sums want = zeros(P), got = zeros(P);
  reference_sums(X, d.n, P, d.y.data(), d.w.data(), &want);
  ASSERT_EQ(
      bsbasis_model_normal_equations(terms.data(), 1, d.x.data(), d.n, Model::kCols, Model::kCols,
                                     1, d.y.data(), d.w.data(), got.G.data(), got.rhs.data(),
                                     got.sums.data(), &got.count, nullptr, nullptr),
      BSBASIS_OK);
  EXPECT_TRUE(same_bits(got.G, want.G));
  EXPECT_TRUE(same_bits(got.rhs, want.rhs));
  EXPECT_TRUE(same_bits(got.sums, want.sums));
}

// A failing call: its status, bad_row, bad_term, and outputs untouched.
struct Refusal {
  int status;
  int64_t row, term;
};

void expect_refused(const std::vector<bsbasis_term> &terms, int64_t nterms, const double *x,
                    int64_t nrows, int64_t ncols, int64_t rs, int64_t cs, const double *y,
                    const double *w, Refusal want, int64_t P = 1) {
  const int64_t size = std::min<int64_t>(std::max<int64_t>(P, 1), 4096);
  std::vector<double> G(size * size, 7.5), rhs(size, 7.5), sums{7.5, 7.5};
  std::vector<double> coef(size, 0.5), V(size * size, 0.5), fit(nrows > 0 ? nrows : 1, 7.5),
      var(nrows > 0 ? nrows : 1, 7.5);
  int64_t count = 77, bad_row = 5, bad_term = 5;
  const bsbasis_term *tp = terms.empty() ? nullptr : terms.data();
  EXPECT_EQ(bsbasis_model_normal_equations(tp, nterms, x, nrows, ncols, rs, cs, y, w, G.data(),
                                           rhs.data(), sums.data(), &count, &bad_row, &bad_term),
            want.status);
  EXPECT_EQ(bad_row, want.row);
  EXPECT_EQ(bad_term, want.term);
  EXPECT_TRUE(std::all_of(G.begin(), G.end(), [](double v) { return v == 7.5; }));
  EXPECT_TRUE(std::all_of(rhs.begin(), rhs.end(), [](double v) { return v == 7.5; }));
  EXPECT_EQ(sums[0], 7.5);
  EXPECT_EQ(sums[1], 7.5);
  EXPECT_EQ(count, 77);
  if (y || w) return;  // evaluate has neither: its fault would be elsewhere
  bad_row = bad_term = 5;
  EXPECT_EQ(bsbasis_model_evaluate(tp, nterms, x, nrows, ncols, rs, cs, coef.data(), V.data(),
                                   fit.data(), var.data(), &bad_row, &bad_term),
            want.status);
  EXPECT_EQ(bad_row, want.row);
  EXPECT_EQ(bad_term, want.term);
  EXPECT_TRUE(std::all_of(fit.begin(), fit.end(), [](double v) { return v == 7.5; }));
  EXPECT_TRUE(std::all_of(var.begin(), var.end(), [](double v) { return v == 7.5; }));
  if (want.row < 0 && x != nullptr && nrows >= 0 && rs >= 0 && cs >= 0) {
    int64_t p = -9;
    bad_term = 5;
    const int st = bsbasis_model_columns(tp, nterms, ncols, &p, &bad_term);
    // The columns check the terms only: their faults are its faults.
    if (want.term >= 0 || st != BSBASIS_OK) {
      EXPECT_EQ(st, want.status);
      EXPECT_EQ(bad_term, want.term);
      EXPECT_EQ(p, -9);
    }
  }
}

TEST(ModelRefusals, BadTermsGetTheirStatusAndTerm) {
  Model m;
  const Data d = make_data(20, 11);
  auto with = [&](size_t k, bsbasis_term t) {
    std::vector<bsbasis_term> terms = m.terms;
    terms[k] = t;
    return terms;
  };
  auto refuse = [&](const std::vector<bsbasis_term> &terms, int st, int64_t term) {
    SCOPED_TRACE(::testing::Message() << "status " << st << " term " << term);
    expect_refused(terms, int64_t(terms.size()), d.x.data(), d.n, Model::kCols, Model::kCols, 1,
                   nullptr, nullptr, {st, -1, term});
  };
  const int64_t C = Model::kCols;
  expect_refused(m.terms, -1, d.x.data(), d.n, C, C, 1, nullptr, nullptr,
                 {BSBASIS_ERROR_COUNT, -1, -1});
  expect_refused({}, 2, d.x.data(), d.n, C, C, 1, nullptr, nullptr, {BSBASIS_ERROR_NULL, -1, -1});
  expect_refused(m.terms, m.nterms(), d.x.data(), d.n, -1, C, 1, nullptr, nullptr,
                 {BSBASIS_ERROR_COUNT, -1, -1});
  refuse(with(2, term(9, 1, 3)), BSBASIS_ERROR_MODE, 2);
  refuse(with(1, term(BSBASIS_TERM_LINEAR, C)), BSBASIS_ERROR_COUNT, 1);
  refuse(with(1, term(BSBASIS_TERM_LINEAR, -1)), BSBASIS_ERROR_COUNT, 1);
  refuse(with(2, term(BSBASIS_TERM_FACTOR, 1, 0)), BSBASIS_ERROR_COUNT, 2);
  refuse(with(2, term(BSBASIS_TERM_FACTOR, C, 3)), BSBASIS_ERROR_COUNT, 2);
  bsbasis_term t = m.terms[6];
  t.d = 0;
  refuse(with(6, t), BSBASIS_ERROR_COUNT, 6);
  t.d = 4;
  refuse(with(6, t), BSBASIS_ERROR_COUNT, 6);
  t = m.terms[6];
  t.margins = nullptr;
  refuse(with(6, t), BSBASIS_ERROR_NULL, 6);
  // Margin faults, in the second margin of the 3-D term.
  auto margin = [&](int a, auto change, int st) {
    std::vector<bsbasis_margin> te = m.te3;
    change(te[a]);
    refuse(with(7, spline(te)), st, 7);
  };
  std::vector<double> bad_knots = m.t0b;
  bad_knots[3] = 5.0;  // decreasing after
  margin(
      1, [](bsbasis_margin &g) { g.kind = 3; }, BSBASIS_ERROR_MODE);
  margin(
      0, [&](bsbasis_margin &g) { g.t = bad_knots.data(); }, BSBASIS_ERROR_KNOTS);
  margin(
      0, [](bsbasis_margin &g) { g.nj = g.nt; }, BSBASIS_ERROR_COLUMNS);
  margin(
      0, [](bsbasis_margin &g) { g.t = nullptr; }, BSBASIS_ERROR_NULL);
  margin(
      1, [](bsbasis_margin &g) { g.spacing = 0.0; }, BSBASIS_ERROR_KNOTS);
  margin(
      1, [](bsbasis_margin &g) { g.order = 0; }, BSBASIS_ERROR_ORDER);
  margin(
      1, [](bsbasis_margin &g) { g.nj = 1; }, BSBASIS_ERROR_COLUMNS);
  std::vector<double> bad_breaks = m.u4b;
  bad_breaks[2] = bad_breaks[1];
  margin(
      2, [&](bsbasis_margin &g) { g.t = bad_breaks.data(); }, BSBASIS_ERROR_KNOTS);
  margin(
      2, [](bsbasis_margin &g) { g.nt = 1; }, BSBASIS_ERROR_COUNT);
  margin(
      2, [](bsbasis_margin &g) { g.nt = 3; }, BSBASIS_ERROR_COLUMNS);  // 2 < order 3
  margin(
      1, [](bsbasis_margin &g) { g.nu = -1; }, BSBASIS_ERROR_ORDER);
  margin(
      0, [](bsbasis_margin &g) { g.extrapolate = 6; }, BSBASIS_ERROR_MODE);
  margin(
      1, [](bsbasis_margin &g) { g.column = -1; }, BSBASIS_ERROR_COUNT);
  margin(
      2, [&](bsbasis_margin &g) { g.column = C; }, BSBASIS_ERROR_COUNT);
  // The product of three widths past int64.
  std::vector<bsbasis_margin> wide(
      3, uniform_margin(0.0, 1.0, INT32_MAX - 8, 2, 0, BSBASIS_EXTRAPOLATE_ZERO));
  refuse(with(7, spline(wide)), BSBASIS_ERROR_COUNT, 7);
  // The sum of the widths past int64, at the term that passes it.
  refuse(with(2, term(BSBASIS_TERM_FACTOR, 1, INT64_MAX - 3)), BSBASIS_ERROR_COUNT, 3);
}

TEST(ModelRefusals, BadCallsGetTheirStatus) {
  Model m;
  const Data d = make_data(20, 12);
  const int64_t C = Model::kCols, n = d.n;
  const double *x = d.x.data();
  const Refusal count{BSBASIS_ERROR_COUNT, -1, -1}, null{BSBASIS_ERROR_NULL, -1, -1};
  expect_refused(m.terms, m.nterms(), x, -1, C, C, 1, nullptr, nullptr, count);
  expect_refused(m.terms, m.nterms(), x, n, C, -1, 1, nullptr, nullptr, count);
  expect_refused(m.terms, m.nterms(), x, n, C, C, -1, nullptr, nullptr, count);
  expect_refused(m.terms, m.nterms(), x, n, C, INT64_MAX / 10, 1, nullptr, nullptr, count);
  expect_refused(m.terms, m.nterms(), x, n, C, 0, INT64_MAX / 4, nullptr, nullptr, count);
  expect_refused(m.terms, m.nterms(), nullptr, n, C, C, 1, nullptr, nullptr, null);
  // p*p past int64: a factor of 2^32 levels.
  std::vector<bsbasis_term> huge{term(BSBASIS_TERM_FACTOR, 0, int64_t(1) << 32)};
  const std::vector<double> zero(4, 0.0);
  expect_refused(huge, 1, zero.data(), 1, 1, 1, 1, nullptr, nullptr, count);

  // The outputs each function needs.
  int64_t P = 0;
  ASSERT_EQ(bsbasis_model_columns(m.terms.data(), m.nterms(), C, &P, nullptr), BSBASIS_OK);
  std::vector<double> G(P * P, 7.5), rhs(P, 7.5), sums(2, 7.5), fit(n, 7.5), coef(P, 0.1);
  int64_t cnt = 0, bad_row = 3, bad_term = 3;
  const bsbasis_term *tp = m.terms.data();
  const int64_t T = m.nterms();
  EXPECT_EQ(bsbasis_model_normal_equations(tp, T, x, n, C, C, 1, nullptr, nullptr, nullptr, nullptr,
                                           sums.data(), &cnt, &bad_row, &bad_term),
            BSBASIS_ERROR_NULL);
  EXPECT_EQ(bsbasis_model_normal_equations(tp, T, x, n, C, C, 1, d.y.data(), nullptr, G.data(),
                                           nullptr, sums.data(), &cnt, &bad_row, &bad_term),
            BSBASIS_ERROR_NULL);
  EXPECT_EQ(bsbasis_model_normal_equations(tp, T, x, n, C, C, 1, nullptr, nullptr, G.data(),
                                           nullptr, nullptr, &cnt, &bad_row, &bad_term),
            BSBASIS_ERROR_NULL);
  EXPECT_EQ(bsbasis_model_normal_equations(tp, T, x, n, C, C, 1, nullptr, nullptr, G.data(),
                                           nullptr, sums.data(), nullptr, &bad_row, &bad_term),
            BSBASIS_ERROR_NULL);
  EXPECT_EQ(bad_row, -1);
  EXPECT_EQ(bad_term, -1);
  EXPECT_EQ(bsbasis_model_evaluate(tp, T, x, n, C, C, 1, nullptr, nullptr, fit.data(), nullptr,
                                   &bad_row, &bad_term),
            BSBASIS_ERROR_NULL);
  EXPECT_EQ(bsbasis_model_evaluate(tp, T, x, n, C, C, 1, coef.data(), nullptr, nullptr, nullptr,
                                   &bad_row, &bad_term),
            BSBASIS_ERROR_NULL);
  EXPECT_EQ(bsbasis_model_evaluate(tp, T, x, n, C, C, 1, coef.data(), nullptr, fit.data(),
                                   fit.data(), &bad_row, &bad_term),
            BSBASIS_ERROR_NULL);
  EXPECT_EQ(bsbasis_model_columns(tp, T, C, nullptr, &bad_term), BSBASIS_ERROR_NULL);
  EXPECT_TRUE(std::all_of(G.begin(), G.end(), [](double v) { return v == 7.5; }));
  EXPECT_TRUE(std::all_of(fit.begin(), fit.end(), [](double v) { return v == 7.5; }));
  EXPECT_EQ(cnt, 0);
}

TEST(ModelRefusals, BadDataGetTheFirstRowThenTheFirstTerm) {
  Model m;
  const Data d0 = make_data(40, 13);
  const int64_t C = Model::kCols;
  auto refuse = [&](auto change, Refusal want) {
    Data d = d0;
    change(d);
    SCOPED_TRACE(::testing::Message()
                 << "status " << want.status << " row " << want.row << " term " << want.term);
    for (int cm = 0; cm < 2; ++cm) {
      const Table t = layout(d, cm);
      expect_refused(m.terms, m.nterms(), t.v.data(), d.n, C, t.rs, t.cs, nullptr, nullptr, want);
      expect_refused(m.terms, m.nterms(), t.v.data(), d.n, C, t.rs, t.cs, d.y.data(), d.w.data(),
                     want);
    }
  };
  auto at = [](Data &d, int64_t p, int c) -> double & { return d.x[p * Model::kCols + c]; };
  const double inf = HUGE_VAL;
  const int D = BSBASIS_ERROR_DATA, R = BSBASIS_ERROR_RANGE;
  refuse([&](Data &d) { at(d, 5, 0) = kNaN; }, {D, 5, 1});  // linear, first reader
  refuse([&](Data &d) { at(d, 6, 2) = inf; }, {D, 6, 3});   // s(x2) under ZERO too
  refuse([&](Data &d) { at(d, 7, 4) = -inf; }, {D, 7, 5});  // periodic
  refuse([&](Data &d) { at(d, 8, 1) = 1.5; }, {D, 8, 2});   // not a level
  refuse([&](Data &d) { at(d, 8, 1) = 3.0; }, {D, 8, 2});
  refuse([&](Data &d) { at(d, 8, 1) = -1.0; }, {D, 8, 2});
  refuse([&](Data &d) { at(d, 8, 1) = kNaN; }, {D, 8, 2});
  refuse([&](Data &d) { at(d, 9, 2) = 1.6; }, {R, 9, 6});  // te2's margin under ERROR
  refuse([&](Data &d) { at(d, 9, 2) = 1.6, at(d, 4, 3) = kNaN; }, {D, 4, 4});  // first row
  // One row, two terms: the first term's fault, RANGE before a later DATA.
  refuse([&](Data &d) { at(d, 9, 2) = 1.6, at(d, 9, 3) = kNaN; }, {D, 9, 4});
  std::vector<bsbasis_term> range_first = m.terms;
  std::swap(range_first[4], range_first[6]);
  {
    Data d = d0;
    at(d, 9, 2) = 1.6, at(d, 9, 3) = kNaN;
    expect_refused(range_first, m.nterms(), d.x.data(), d.n, C, C, 1, nullptr, nullptr, {R, 9, 4});
  }
  // Within the ERROR interval's closed ends: no fault.
  {
    Data d = d0;
    at(d, 3, 2) = -1.5, at(d, 4, 2) = 1.5;
    const Table t = layout(d, false);
    int64_t P = 0;
    ASSERT_EQ(bsbasis_model_columns(m.terms.data(), m.nterms(), C, &P, nullptr), BSBASIS_OK);
    Sums s = zeros(P);
    EXPECT_EQ(call_sums(m, t, d.n, d.y.data(), nullptr, &s), BSBASIS_OK);
  }
  // Weights and responses, after the terms of their row.
  auto sums_refuse = [&](auto change, Refusal want) {
    Data d = d0;
    change(d);
    SCOPED_TRACE(::testing::Message() << "row " << want.row << " term " << want.term);
    expect_refused(m.terms, m.nterms(), d.x.data(), d.n, C, C, 1, d.y.data(), d.w.data(), want);
  };
  sums_refuse([&](Data &d) { d.w[11] = -0.5; }, {D, 11, -1});
  sums_refuse([&](Data &d) { d.w[11] = inf; }, {D, 11, -1});
  sums_refuse([&](Data &d) { d.w[11] = kNaN; }, {D, 11, -1});
  sums_refuse([&](Data &d) { d.y[10] = kNaN; }, {D, 10, -1});
  sums_refuse([&](Data &d) { d.y[10] = kNaN, d.w[12] = -1.0; }, {D, 10, -1});
  sums_refuse([&](Data &d) { d.y[10] = kNaN, at(d, 10, 0) = kNaN; }, {D, 10, 1});
  sums_refuse([&](Data &d) { d.w[10] = -1.0, at(d, 12, 0) = kNaN; }, {D, 10, -1});
  // A NaN in column 5, which no term reads, is no fault (every row has one).
}

}  // namespace

/*
 * Loads the library the way a host does (dlopen, then dlsym by name) and
 * checks a few known answers of all six entry points and of every function
 * of the extension API.  Symbols found by dlsym on the library's handle are
 * the library's own even when another object in the process defines the
 * same names, so run under LD_PRELOAD of such an object (see
 * tests/preload/) this also shows that no call inside the library goes
 * through an exported name.  Usage:
 *   abi_dlopen path/to/libbsbasis.so
 */
#include <dlfcn.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>

#include "bsbasis.h" /* the status, mode and kind constants */

typedef void blossom_fn(double *, int, int *, int *, double *, int, int, int, int);
typedef void blossom_grid_fn(double *, int, double *, int, int *, int *, double *,
                             int, int, int, int);
typedef void deriv_grid_fn(double *, int, int *, int *, double *, int, int, int);
typedef int search_one_fn(double, double *, int, int);
typedef void search_fn(double *, int *, int, double *, int);
typedef void test_fn(double *, int, double *, int, int *, double *, int, int);
typedef const char *strerror_fn(int);
typedef int design_fn(const double *, int64_t, int32_t, int64_t, int32_t, int32_t,
                      const double *, int64_t, int32_t *, int32_t *, double *, int64_t *);
typedef int uniform_fn(double, double, int64_t, int32_t, int32_t, int32_t, const double *,
                       int64_t, int32_t *, int32_t *, double *, int64_t *);
typedef int periodic_fn(const double *, int64_t, int32_t, int32_t, const double *, int64_t,
                        int32_t *, int32_t *, double *, int64_t *);
typedef int tensor_fn(int32_t, const double *const *, const int64_t *, const int32_t *,
                      const int64_t *, const int32_t *, int32_t, const double *, int64_t,
                      int32_t *, int32_t *, int64_t *, double *, int64_t *);
typedef int difference_fn(int64_t, int32_t, double *);
typedef int derivative_penalty_fn(const double *, int64_t, int32_t, int64_t, int32_t, double *);
typedef int make_knots_fn(const double *, int64_t, const double *, int64_t, int32_t, int32_t,
                          int32_t, double *);
typedef int normal_fn(const double *, int64_t, int32_t, int64_t, int32_t, int32_t,
                      const double *, const double *, const double *, int64_t, double *,
                      double *, double *, int64_t *, int64_t *);
typedef int uniform_normal_fn(double, double, int64_t, int32_t, int32_t, int32_t,
                              const double *, const double *, const double *, int64_t,
                              double *, double *, double *, int64_t *, int64_t *);
typedef int evaluate_fn(const double *, int64_t, int32_t, int64_t, int32_t, int32_t,
                        const double *, const double *, int64_t, double *);
typedef int uniform_evaluate_fn(double, double, int64_t, int32_t, int32_t, int32_t,
                                const double *, const double *, int64_t, double *);
typedef int blocks_to_dense_fn(int32_t, const int32_t *, const double *, int64_t, int64_t,
                               double *, int64_t, int64_t);

static int failures;

static void expect(int ok, const char *what) {
  if (!ok) {
    fprintf(stderr, "abi_dlopen: wrong answer: %s\n", what);
    ++failures;
  }
}

static void *sym(void *h, const char *name) {
  void *p = dlsym(h, name);
  if (!p) {
    fprintf(stderr, "abi_dlopen: no symbol %s: %s\n", name, dlerror());
    ++failures;
  }
  return p;
}

static int near(double a, double b) { return fabs(a - b) <= 1e-15; }

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: abi_dlopen path/to/libbsbasis.so\n");
    return 2;
  }
  void *h = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    fprintf(stderr, "abi_dlopen: %s\n", dlerror());
    return 1;
  }
  blossom_fn *bl = (blossom_fn *)sym(h, "blossom");
  blossom_grid_fn *bg = (blossom_grid_fn *)sym(h, "blossom_grid");
  deriv_grid_fn *dg = (deriv_grid_fn *)sym(h, "deriv_grid");
  search_one_fn *s1 = (search_one_fn *)sym(h, "binary_search_with_guess");
  search_fn *sn = (search_fn *)sym(h, "binary_search");
  test_fn *tf = (test_fn *)sym(h, "test");
  if (failures) return 1;

  /* Search: keys in 0 .. 9 from guess 5, and chained. */
  double arr[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  double keys[7] = {-1, 0, 0.5, 4.5, 8.99, 9, 9.5};
  const int want[7] = {-1, 0, 0, 4, 8, 9, 10};
  int index[7];
  for (int k = 0; k < 7; ++k)
    expect(s1(keys[k], arr, 10, 5) == want[k], "binary_search_with_guess");
  sn(keys, index, 7, arr, 10);
  for (int k = 0; k < 7; ++k) expect(index[k] == want[k], "binary_search");

  /* Cubic on the integer grid at 3.5: 1/48, 23/48, 23/48, 1/48. */
  double x = 3.5, B[4] = {0, 0, 0, 0};
  int i[4], j[4];
  bl(&x, 1, i, j, B, 4, 4, 4, 10);
  const double wb[4] = {1.0 / 48, 23.0 / 48, 23.0 / 48, 1.0 / 48};
  for (int q = 0; q < 4; ++q) {
    expect(i[q] == 0 && j[q] == q, "blossom layout");
    expect(near(B[q], wb[q]), "blossom values");
  }

  /* The same on knots 0 .. 13, bit for bit, then its derivative. */
  double t[14], G[4] = {0, 0, 0, 0};
  int gi[4], gj[4];
  for (int m = 0; m < 14; ++m) t[m] = m;
  bg(t, 14, &x, 1, gi, gj, G, 4, 4, 4, 10);
  for (int q = 0; q < 4; ++q)
    expect(gi[q] == 0 && gj[q] == q && G[q] == B[q], "blossom_grid");
  double D[4] = {0, 0, 0, 0};
  bg(t, 14, &x, 1, gi, gj, D, 4, 3, 4, 10);
  dg(t, 14, gi, gj, D, 4, 1, 4);
  const double wd[4] = {-1.0 / 8, -5.0 / 8, 5.0 / 8, 1.0 / 8};
  for (int q = 0; q < 4; ++q) expect(near(D[q], wd[q]) && gj[q] == q, "deriv_grid");

  /* Order-1 pattern from prepared columns. */
  int tj[6] = {5, 5, 5, 5, 5, 5};
  double tB[6];
  tf(NULL, 0, NULL, 0, tj, tB, 6, 3);
  const int wj[6] = {2, 3, 4, 2, 3, 4};
  for (int e = 0; e < 6; ++e)
    expect(tj[e] == wj[e] && tB[e] == (e % 3 == 2 ? 1.0 : 0.0), "test");

  /* The extension API, resolved by name like the rest. */
  strerror_fn *se = (strerror_fn *)sym(h, "bsbasis_strerror");
  design_fn *de = (design_fn *)sym(h, "bsbasis_design");
  uniform_fn *ud = (uniform_fn *)sym(h, "bsbasis_uniform_design");
  periodic_fn *pd = (periodic_fn *)sym(h, "bsbasis_periodic_design");
  tensor_fn *td = (tensor_fn *)sym(h, "bsbasis_tensor_design");
  difference_fn *dp = (difference_fn *)sym(h, "bsbasis_difference_penalty");
  derivative_penalty_fn *gp = (derivative_penalty_fn *)sym(h, "bsbasis_derivative_penalty");
  make_knots_fn *mk = (make_knots_fn *)sym(h, "bsbasis_make_knots");
  normal_fn *nq = (normal_fn *)sym(h, "bsbasis_normal_equations");
  uniform_normal_fn *une = (uniform_normal_fn *)sym(h, "bsbasis_uniform_normal_equations");
  evaluate_fn *ev = (evaluate_fn *)sym(h, "bsbasis_evaluate");
  uniform_evaluate_fn *uev = (uniform_evaluate_fn *)sym(h, "bsbasis_uniform_evaluate");
  blocks_to_dense_fn *dense = (blocks_to_dense_fn *)sym(h, "bsbasis_blocks_to_dense");
  if (failures) return 1;

  expect(se(0) && se(0)[0] && se(-1) && se(-1)[0], "bsbasis_strerror");

  /* Values and first derivatives at 3.5 on knots 0 .. 13: the bits of
     blossom_grid and deriv_grid above; i may be NULL. */
  int32_t ej[4], ei[4];
  double eB[4];
  int64_t ne = -1;
  expect(de(t, 14, 4, 10, 0, BSBASIS_EXTRAPOLATE_ZERO, &x, 1, ei, ej, eB, &ne) == BSBASIS_OK &&
             ne == 0, "bsbasis_design status");
  for (int q = 0; q < 4; ++q)
    expect(ei[q] == 0 && ej[q] == q && eB[q] == G[q], "bsbasis_design values");
  expect(de(t, 14, 4, 10, 1, BSBASIS_EXTRAPOLATE_ZERO, &x, 1, NULL, ej, eB, NULL) == BSBASIS_OK,
         "bsbasis_design nu 1 status");
  for (int q = 0; q < 4; ++q) expect(ej[q] == q && eB[q] == D[q], "bsbasis_design nu 1");
  /* Outside the base interval [3, 10]: an empty row, or an error. */
  double out = 12.0;
  expect(de(t, 14, 4, 10, 0, BSBASIS_EXTRAPOLATE_ZERO, &out, 1, NULL, ej, eB, &ne) ==
                 BSBASIS_OK && ne == 1 && ej[0] == -1 && eB[3] == 0.0,
         "bsbasis_design empty row");
  expect(de(t, 14, 4, 10, 0, BSBASIS_EXTRAPOLATE_ERROR, &out, 1, NULL, ej, eB, NULL) ==
             BSBASIS_ERROR_RANGE, "bsbasis_design range");
  expect(de(NULL, 14, 4, 10, 0, 1, &x, 1, NULL, ej, eB, NULL) == BSBASIS_ERROR_NULL,
         "bsbasis_design NULL knots");

  /* The uniform grid 0, 1, ... is the integer grid of blossom. */
  expect(ud(0.0, 1.0, 10, 4, 0, BSBASIS_EXTRAPOLATE_ZERO, &x, 1, NULL, ej, eB, NULL) ==
             BSBASIS_OK, "bsbasis_uniform_design status");
  for (int q = 0; q < 4; ++q) expect(ej[q] == q && eB[q] == B[q], "bsbasis_uniform_design");

  /* Linear periodic basis on breaks 0 .. 4: 4.5 wraps to 0.5, halfway
     between the hats of columns 0 and 1. */
  double u[5] = {0, 1, 2, 3, 4}, xp = 4.5;
  expect(pd(u, 5, 2, 0, &xp, 1, NULL, ej, eB, NULL) == BSBASIS_OK && ej[0] == 0 &&
             ej[1] == 1 && eB[0] == 0.5 && eB[1] == 0.5, "bsbasis_periodic_design");

  /* Two linear bases on [0, 1] (B0 = 1 - x, B1 = x) at (0.25, 0.5): the
     row (0.75, 0.25) times (0.5, 0.5), columns in C order. */
  {
    const double lt[4] = {0, 0, 1, 1}, *tt[2] = {lt, lt}, pt[2] = {0.25, 0.5};
    const int64_t tnt[2] = {4, 4}, tnj[2] = {2, 2};
    const int32_t tord[2] = {2, 2};
    int32_t tj[4];
    double tB[4];
    const double wt[4] = {0.375, 0.375, 0.125, 0.125};
    expect(td(2, tt, tnt, tord, tnj, NULL, BSBASIS_EXTRAPOLATE_ERROR, pt, 1, NULL, tj, NULL, tB,
              NULL) == BSBASIS_OK, "bsbasis_tensor_design status");
    for (int e = 0; e < 4; ++e) expect(tj[e] == e && tB[e] == wt[e], "bsbasis_tensor_design");
  }

  /* Slopes of the linear hats on knots 0, 0, 1, 2, 2 are -1, +1 or 0, so
     the first-derivative Gram is [1 -1 0; -1 2 -1; 0 -1 1] exactly. */
  {
    const double ht[5] = {0, 0, 1, 2, 2};
    double gab[6] = {9, 9, 9, 9, 9, 9};
    const double wg[6] = {0, -1, -1, 1, 2, 1};
    expect(gp(ht, 5, 2, 3, 1, gab) == BSBASIS_OK, "bsbasis_derivative_penalty status");
    for (int e = 0; e < 6; ++e) expect(gab[e] == wg[e], "bsbasis_derivative_penalty");
  }

  /* First differences on 3 coefficients: D^T D = [1 -1 0; -1 2 -1; 0 -1 1],
     upper band form with the corner 0. */
  double ab[6];
  const double wab[6] = {0, -1, -1, 1, 2, 1};
  expect(dp(3, 1, ab) == BSBASIS_OK, "bsbasis_difference_penalty status");
  for (int e = 0; e < 6; ++e) expect(ab[e] == wab[e], "bsbasis_difference_penalty");

  /* Five equally spaced knots on 0 .. 4, clamped for order 2. */
  double kt[7];
  const double wkt[7] = {0, 0, 1, 2, 3, 4, 4};
  expect(mk(arr, 5, NULL, 5, 2, BSBASIS_KNOTS_UNIFORM, BSBASIS_BOUNDARY_CLAMPED, kt) ==
             BSBASIS_OK, "bsbasis_make_knots status");
  for (int e = 0; e < 7; ++e) expect(kt[e] == wkt[e], "bsbasis_make_knots");

  /* Normal equations of the one row at 3.5 on knots 0 .. 13 (the values
     G above, columns 0 .. 3), weight 0.5 and response 2: the band
     ab[(3 + a - c)*10 + c] += (w*G[a])*G[c], rhs[a] += (w*G[a])*y, and
     the sums; 12.0 is outside and adds nothing under ZERO. */
  double nx2[2] = {3.5, 12.0}, ny[2] = {2.0, 5.0}, nw[2] = {0.5, 0.5};
  double nab[40] = {0}, nrhs[10] = {0}, nsums[2] = {0, 0};
  int64_t ncount = 0, nbad = 7;
  expect(nq(t, 14, 4, 10, 0, BSBASIS_EXTRAPOLATE_ZERO, nx2, ny, nw, 2, nab, nrhs, nsums,
            &ncount, &nbad) == BSBASIS_OK && nbad == -1 && ncount == 1,
         "bsbasis_normal_equations status");
  for (int a = 0; a < 4; ++a)
    for (int c = 0; c < 4; ++c)
      if (a <= c) expect(nab[(3 + a - c) * 10 + c] == (0.5 * G[a]) * G[c], "normal band");
  for (int e = 0; e < 40; ++e)
    if (e % 10 >= 4) expect(nab[e] == 0.0, "normal band outside");
  for (int a = 0; a < 4; ++a) expect(nrhs[a] == (0.5 * G[a]) * 2.0, "normal rhs");
  for (int a = 4; a < 10; ++a) expect(nrhs[a] == 0.0, "normal rhs outside");
  expect(nsums[0] == 2.0 && nsums[1] == 0.5, "normal sums");
  /* A negative weight: DATA naming its row, and nothing added. */
  nw[1] = -1.0;
  expect(nq(t, 14, 4, 10, 0, BSBASIS_EXTRAPOLATE_ZERO, nx2, ny, nw, 2, nab, nrhs, nsums,
            &ncount, &nbad) == BSBASIS_ERROR_DATA && nbad == 1 && ncount == 1 &&
             nsums[1] == 0.5, "bsbasis_normal_equations data");
  expect(nq(t, 14, 4, 10, 0, BSBASIS_EXTRAPOLATE_ERROR, nx2, NULL, NULL, 2, nab, NULL, nsums,
            &ncount, &nbad) == BSBASIS_ERROR_RANGE && nbad == -1,
         "bsbasis_normal_equations range");

  /* The uniform grid 0, 1, ...: the values B of blossom, no weights and
     no responses. */
  double uab[40] = {0}, usums[2] = {0, 0};
  int64_t ucount = 0;
  expect(une(0.0, 1.0, 10, 4, 0, BSBASIS_EXTRAPOLATE_ZERO, &x, NULL, NULL, 1, uab, NULL, usums,
             &ucount, NULL) == BSBASIS_OK && ucount == 1 && usums[0] == 0.0 && usums[1] == 1.0,
         "bsbasis_uniform_normal_equations status");
  for (int a = 0; a < 4; ++a)
    for (int c = a; c < 4; ++c)
      expect(uab[(3 + a - c) * 10 + c] == B[a] * B[c], "uniform normal band");

  /* Coefficients c_k = k: the spline is x - 2 and its slope 1 at 3.5;
     the value bits are ((G0*c0 + G1*c1) + G2*c2) + G3*c3. */
  double cf[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, ev_out[2] = {-1, -1};
  expect(ev(t, 14, 4, 10, 0, BSBASIS_EXTRAPOLATE_ZERO, cf, nx2, 2, ev_out) == BSBASIS_OK &&
             ev_out[0] == ((G[0] * 0 + G[1] * 1) + G[2] * 2) + G[3] * 3 && near(ev_out[0], 1.5) &&
             ev_out[1] == 0.0, "bsbasis_evaluate");
  expect(ev(t, 14, 4, 10, 0, BSBASIS_EXTRAPOLATE_ZERO, NULL, nx2, 2, ev_out) ==
             BSBASIS_ERROR_NULL, "bsbasis_evaluate NULL coefficients");
  expect(uev(0.0, 1.0, 10, 4, 1, BSBASIS_EXTRAPOLATE_ZERO, cf, &x, 1, ev_out) == BSBASIS_OK &&
             near(ev_out[0], 1.0), "bsbasis_uniform_evaluate slope");
  expect(uev(0.0, 1.0, 10, 4, 0, BSBASIS_EXTRAPOLATE_LINEAR, cf, &out, 1, ev_out) ==
                 BSBASIS_OK && fabs(ev_out[0] - 10.0) <= 1e-12,
         "bsbasis_uniform_evaluate linear beyond");
  {
    /* Two rows of three columns, column-major, one repeated column. */
    const int32_t dj[4] = {0, 1, 2, 2};
    const double dB[4] = {1.0, 2.0, 0.25, 0.5};
    double m[6] = {9, 9, 9, 9, 9, 9};
    expect(dense(2, dj, dB, 2, 3, m, 1, 2) == BSBASIS_OK && m[0] == 1.0 && m[2] == 2.0 &&
               m[4] == 0.0 && m[1] == 0.0 && m[3] == 0.0 && m[5] == 0.75,
           "bsbasis_blocks_to_dense");
    expect(dense(2, dj, dB, 2, 3, m, 1, 0) == BSBASIS_ERROR_COUNT,
           "bsbasis_blocks_to_dense stride");
  }

  dlclose(h);
  if (failures) return 1;
  printf("abi_dlopen: the six entry points and the extension API answer correctly\n");
  return 0;
}

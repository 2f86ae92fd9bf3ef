/*
 * Loads the library the way a host does (dlopen, then dlsym by name) and
 * checks a few known answers of all six entry points.  Usage:
 *   abi_dlopen path/to/libbsbasis.so
 */
#include <dlfcn.h>
#include <math.h>
#include <stdio.h>

typedef void blossom_fn(double *, int, int *, int *, double *, int, int, int, int);
typedef void blossom_grid_fn(double *, int, double *, int, int *, int *, double *,
                             int, int, int, int);
typedef void deriv_grid_fn(double *, int, int *, int *, double *, int, int, int);
typedef int search_one_fn(double, double *, int, int);
typedef void search_fn(double *, int *, int, double *, int);
typedef void test_fn(double *, int, double *, int, int *, double *, int, int);

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

  dlclose(h);
  if (failures) return 1;
  printf("abi_dlopen: all six entry points answer correctly\n");
  return 0;
}

/*
 * Calls every entry point on hostile arguments: orders, lengths, bounds and
 * guesses at and beyond their limits (INT_MIN, negative, zero, INT_MAX),
 * abscissae and knots with NaN, infinities, huge values, signed zeros and
 * subnormal gaps, unsorted knots and arbitrary columns.  Every buffer is a
 * heap block of exactly the size the call may touch (zero bytes when it may
 * touch nothing), so memcheck reports any access outside it.  The driver
 * also checks the contracts that hold for any arguments and exits non-zero
 * on the first violation.  Run it under valgrind: scripts/valgrind.sh.
 */
#include <float.h>
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bsbasis.h"

static long checks;
static int failures;

#define CHECK(cond, ...)                                          \
  do {                                                            \
    ++checks;                                                     \
    if (!(cond)) {                                                \
      if (failures++ < 20) {                                      \
        fprintf(stderr, "%s:%d: %s: ", __FILE__, __LINE__, #cond); \
        fprintf(stderr, __VA_ARGS__);                             \
        fputc('\n', stderr);                                      \
      }                                                           \
    }                                                             \
  } while (0)

/* Exactly n elements; n <= 0 gives a zero-byte block. */
static void *alloc_n(long n, size_t size) {
  void *p = malloc(n > 0 ? (size_t)n * size : 0);
  if (!p && n > 0) {
    fprintf(stderr, "out of memory\n");
    exit(2);
  }
  return p;
}

static long entries(int order, int nx) {
  return order > 0 && nx > 0 ? (long)order * nx : 0;
}

static const int orders[] = {INT_MIN, -1, 0, 1, 2, 4, 7, 33};
static const int stops[] = {INT_MIN, -1, 0, 1, 3, 6, 40, INT_MAX};
static const int bounds[] = {INT_MIN, -1, 0, 1, 5, 10, 12, INT_MAX};
#define COUNT(a) ((int)(sizeof(a) / sizeof((a)[0])))

static double hostile_x[32];
static int n_hostile_x;

static void init_hostile_x(void) {
  const double v[] = {NAN, -NAN, INFINITY, -INFINITY, 0.0, -0.0, DBL_MAX,
                      -DBL_MAX, 1e300, -1e300, DBL_MIN, 4.9406564584124654e-324,
                      2147483647.0, 2147483648.0, -2147483649.0, 3.0, 3.5,
                      6.0, 9.0, 9.999999999999998, 10.0, 12.0, 12.5, -1.0,
                      0.5, 5.0, 1e-300, 11.0};
  n_hostile_x = COUNT(v);
  memcpy(hostile_x, v, sizeof v);
}

/* Fills x[0 .. nx-1] cycling through the hostile values from `start`. */
static void fill_x(double *x, int nx, int start) {
  for (int p = 0; p < nx; ++p) x[p] = hostile_x[(start + p) % n_hostile_x];
}

static int sorted_finite(const double *t, int nt) {
  for (int m = 0; m < nt; ++m) {
    if (!isfinite(t[m])) return 0;
    if (m > 0 && !(t[m - 1] <= t[m])) return 0;
  }
  return 1;
}

static int interval(double key, const double *arr, int len) {
  if (len <= 0 || key < arr[0]) return -1;
  if (key > arr[len - 1]) return len;
  int m = -1;
  for (int k = 0; k < len; ++k)
    if (arr[k] <= key) m = k;
  return m;
}

/* Rows, and zero blocks where the abscissa is out of range. */
static void check_block(const char *fn, const int *i, const int *j,
                        const double *B, int p, int order, int inr, int J) {
  const long oo = (long)p * order;
  const int deg = order - 1;
  for (int q = 0; q < order; ++q) {
    CHECK(i[oo + q] == p, "%s row %d/%d", fn, p, q);
    if (inr == 0) {
      CHECK(j[oo + q] == 0, "%s block %d col %d", fn, p, j[oo + q]);
      CHECK(B[oo + q] == 0.0, "%s block %d value %g", fn, p, B[oo + q]);
    } else if (inr == 1) {
      CHECK(j[oo + q] == J - deg + q, "%s block %d col %d want %d", fn, p,
            j[oo + q], J - deg + q);
    }
  }
}

static void drive_blossom(void) {
  for (int a = 0; a < COUNT(orders); ++a)
    for (int b = 0; b < COUNT(stops); ++b)
      for (int c = 0; c < COUNT(bounds); ++c) {
        const int order = orders[a], stop = stops[b], nj = bounds[c];
        const int nxs[] = {INT_MIN, -1, 0, 5, order <= 7 ? 300 : 3};
        for (int d = 0; d < COUNT(nxs); ++d) {
          const int nx = nxs[d];
          const long n = entries(order, nx);
          double *x = alloc_n(nx, sizeof *x);
          int *i = alloc_n(n, sizeof *i), *j = alloc_n(n, sizeof *j);
          double *B = alloc_n(n, sizeof *B);
          fill_x(x, nx, a + b + c);
          for (long e = 0; e < n; ++e) B[e] = 0.0;
          blossom(x, nx, i, j, B, (int)n, stop, order, nj);
          for (int p = 0; p < nx && order > 0; ++p) {
            const double xx = x[p];
            const int inr = xx >= order - 1.0 && xx < (double)nj;
            check_block("blossom", i, j, B, p, order, inr, inr ? (int)floor(xx) : 0);
          }
          free(x);
          free(i);
          free(j);
          free(B);
        }
      }
}

enum { KNOT_KINDS = 8 };

/* Knot sequence of kind k with nt entries (nt > 0). */
static void fill_knots(double *t, int nt, int k) {
  for (int m = 0; m < nt; ++m) {
    switch (k) {
      case 0: t[m] = m; break;                                   /* uniform */
      case 1: t[m] = m < 3 ? 0 : (m > nt - 4 ? nt - 6 : m - 3); break; /* clamped */
      case 2: t[m] = 1.0; break;                                 /* all equal */
      case 3: t[m] = nt - m; break;                              /* descending */
      case 4: t[m] = m == nt / 2 ? NAN : m; break;               /* NaN inside */
      case 5: t[m] = m == 0 ? -INFINITY : (m == nt - 1 ? INFINITY : m); break;
      case 6: t[m] = m < 3 ? m * 4.9406564584124654e-324 : m; break; /* tiny gaps */
      default: t[m] = m < nt / 2 ? -1e300 : 1e300; break;        /* huge */
    }
  }
}

static void drive_blossom_grid(void) {
  const int nts[] = {INT_MIN, -1, 0, 1, 2, 3, 13, 40};
  for (int a = 0; a < COUNT(orders); ++a)
    for (int b = 0; b < COUNT(stops); b += 1)
      for (int c = 0; c < COUNT(nts); ++c)
        for (int k = 0; k < KNOT_KINDS; ++k) {
          const int order = orders[a], stop = stops[b], nt = nts[c];
          const int njs[] = {INT_MIN, -1, 0, nt > 0 && order > 0 ? nt - order : 4,
                             nt > 0 ? nt - 1 : 5, nt, INT_MAX};
          const int nx = order <= 7 ? 29 : 3;
          const long n = entries(order, nx);
          double *t = alloc_n(nt, sizeof *t), *x = alloc_n(nx, sizeof *x);
          if (nt > 0) fill_knots(t, nt, k);
          fill_x(x, nx, a + c + k);
          const int sorted = sorted_finite(t, nt > 0 ? nt : 0);
          for (int d = 0; d < COUNT(njs); ++d) {
            const int nj = njs[d];
            int *i = alloc_n(n, sizeof *i), *j = alloc_n(n, sizeof *j);
            double *B = alloc_n(n, sizeof *B);
            for (long e = 0; e < n; ++e) B[e] = 0.0;
            blossom_grid(t, nt, x, nx, i, j, B, (int)n, stop, order, nj);
            const long ncol = nt > 0 ? (nj < nt - 1L ? nj : nt - 1L) : 0;
            for (int p = 0; p < nx && order > 0; ++p) {
              int inr = -1, J = 0; /* -1: unknown on unsorted knots */
              if (!isfinite(x[p]) || nt <= 0) {
                inr = 0;
              } else if (sorted) {
                J = interval(x[p], t, nt);
                inr = J >= order - 1 && J < ncol;
              }
              check_block("blossom_grid", i, j, B, p, order, inr, J);
              if (inr == -1) {
                const long oo = (long)p * order;
                const int top = j[oo + order - 1];
                CHECK(top == 0 || (top >= order - 1 && top < ncol),
                      "blossom_grid unsorted top column %d", top);
              }
            }
            /* Chained derivative on what blossom_grid left. */
            if (nj == njs[4] && order > 0 && stop == order - 1) {
              int *j0 = alloc_n(n, sizeof *j0);
              if (n > 0) memcpy(j0, j, (size_t)n * sizeof *j);
              deriv_grid(t, nt, i, j, B, (int)n, nx, order);
              for (long e = 0; e < n; ++e) {
                CHECK(j[e] == j0[e], "deriv_grid changed a column");
                if (sorted && j[e] == 0 && order > 1 && j[(e / order) * order + order - 1] == 0)
                  CHECK(B[e] == 0.0, "deriv_grid out-of-range value %g", B[e]);
              }
              free(j0);
            }
            free(i);
            free(j);
            free(B);
          }
          free(t);
          free(x);
        }
}

static void drive_deriv_grid(void) {
  const int nts[] = {INT_MIN, -1, 0, 1, 2, 5, 13};
  const int cols[] = {INT_MIN, INT_MIN + 1, -2, -1, 0, 1, 3, 4, 5, 11, 12, 13,
                      14, INT_MAX - 1, INT_MAX};
  for (int a = 0; a < COUNT(orders); ++a)
    for (int c = 0; c < COUNT(nts); ++c)
      for (int k = 0; k < KNOT_KINDS; ++k) {
        const int order = orders[a], nt = nts[c];
        const int nxs[] = {INT_MIN, -1, 0, 7};
        for (int d = 0; d < COUNT(nxs); ++d) {
          const int nx = nxs[d];
          const long n = entries(order, nx);
          double *t = alloc_n(nt, sizeof *t);
          int *j = alloc_n(n, sizeof *j), *j0 = alloc_n(n, sizeof *j0);
          double *B = alloc_n(n, sizeof *B);
          if (nt > 0) fill_knots(t, nt, k);
          for (long e = 0; e < n; ++e) {
            j[e] = j0[e] = cols[(e * 7 + k) % COUNT(cols)];
            B[e] = hostile_x[(e + c) % n_hostile_x];
          }
          /* i is not read: pass nothing. N is not read: pass anything. */
          deriv_grid(t, nt, NULL, j, B, INT_MIN, nx, order);
          for (long e = 0; e < n; ++e) {
            CHECK(j[e] == j0[e], "deriv_grid changed column %ld", e);
            if (j[e] < 0 || j[e] >= nt)
              CHECK(B[e] == 0.0, "deriv_grid column %d outside gives %g", j[e], B[e]);
          }
          free(t);
          free(j);
          free(j0);
          free(B);
        }
      }
}

static void drive_search(void) {
  const int lens[] = {INT_MIN, -1, 0, 1, 2, 4, 5, 10, 13, 40};
  const int guesses[] = {INT_MIN, -9, -1, 0, 1, 3, 8, 9, 10, 12, 39, 40, 41, INT_MAX};
  for (int a = 0; a < COUNT(lens); ++a)
    for (int k = 0; k < KNOT_KINDS; ++k) {
      const int len = lens[a];
      double *arr = alloc_n(len, sizeof *arr);
      if (len > 0) fill_knots(arr, len, k);
      for (int g = 0; g < COUNT(guesses); ++g)
        for (int s = 0; s < n_hostile_x; ++s) {
          const int m = binary_search_with_guess(hostile_x[s], arr, len, guesses[g]);
          if (len <= 0)
            CHECK(m == -1, "search len %d gives %d", len, m);
          else
            CHECK(m >= -1 && m <= len, "search gives %d outside -1 .. %d", m, len);
        }
      const int Ns[] = {INT_MIN, -1, 0, 1, 28};
      for (int b = 0; b < COUNT(Ns); ++b) {
        const int N = Ns[b];
        double *key = alloc_n(N, sizeof *key);
        int *index = alloc_n(N, sizeof *index);
        fill_x(key, N, a + k);
        binary_search(key, index, N, arr, len);
        for (int e = 0; e < N; ++e) {
          CHECK(index[e] >= -1 && index[e] <= (len > 0 ? len : -1),
                "binary_search gives %d for len %d", index[e], len);
          if (len > 0 && sorted_finite(arr, len) && !isnan(key[e]))
            CHECK(index[e] == interval(key[e], arr, len), "binary_search wrong");
        }
        free(key);
        free(index);
      }
      free(arr);
    }
}

static void drive_test(void) {
  const int tests_orders[] = {INT_MIN, -1, 0, 1, 3, 7, INT_MAX};
  const int Ns[] = {INT_MIN, -1, 0, 1, 7, 21};
  const int cols[] = {INT_MIN, -1, 0, 5, INT_MAX};
  for (int a = 0; a < COUNT(tests_orders); ++a)
    for (int b = 0; b < COUNT(Ns); ++b) {
      const int order = tests_orders[a], N = Ns[b];
      int *j = alloc_n(N, sizeof *j), *j0 = alloc_n(N, sizeof *j0);
      double *B = alloc_n(N, sizeof *B);
      double *x = alloc_n(0, sizeof *x), *grid = alloc_n(0, sizeof *grid);
      for (int e = 0; e < N; ++e) {
        j[e] = j0[e] = cols[e % COUNT(cols)];
        B[e] = NAN;
      }
      test(x, INT_MAX, grid, INT_MIN, j, B, N, order);
      for (int e = 0; e < N; ++e) {
        if (order <= 0) {
          CHECK(j[e] == j0[e] && isnan(B[e]), "test wrote with order %d", order);
          continue;
        }
        const int r = e % order;
        const int want = (int)((unsigned)j0[e] + (unsigned)(r - order));
        CHECK(j[e] == want, "test column %d want %d", j[e], want);
        CHECK(B[e] == (r == order - 1 ? 1.0 : 0.0), "test value %g", B[e]);
      }
      free(j);
      free(j0);
      free(B);
      free(x);
      free(grid);
    }
}

/* Large knot counts take the heap path of the scratch tables. */
static void drive_heap_scratch(void) {
  const int nt = 3000, order = 5, nx = 64;
  const long n = (long)order * nx;
  double *t = alloc_n(nt, sizeof *t), *x = alloc_n(nx, sizeof *x);
  int *i = alloc_n(n, sizeof *i), *j = alloc_n(n, sizeof *j);
  double *B = alloc_n(n, sizeof *B);
  fill_knots(t, nt, 1);
  for (int p = 0; p < nx; ++p) x[p] = p * 47.3 - 5.0;
  for (long e = 0; e < n; ++e) B[e] = 0.0;
  blossom_grid(t, nt, x, nx, i, j, B, (int)n, order - 1, order, nt - order);
  deriv_grid(t, nt, i, j, B, (int)n, nx, order);
  for (int p = 0; p < nx; ++p) {
    double sum = 0.0;
    for (int q = 0; q < order; ++q) sum += B[(long)p * order + q];
    CHECK(fabs(sum) < 1e-9, "derivatives of block %d sum to %g", p, sum);
  }
  free(t);
  free(x);
  free(i);
  free(j);
  free(B);
}

int main(void) {
  init_hostile_x();
  drive_blossom();
  drive_blossom_grid();
  drive_deriv_grid();
  drive_search();
  drive_test();
  drive_heap_scratch();
  printf("hostile_driver: %ld checks, %d failures\n", checks, failures);
  return failures ? 1 : 0;
}

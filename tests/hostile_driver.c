/*
 * Calls every entry point on hostile arguments: orders, lengths, bounds and
 * guesses at and beyond their limits (INT_MIN, negative, zero, INT_MAX),
 * abscissae and knots with NaN, infinities, huge values, signed zeros and
 * subnormal gaps, unsorted knots and arbitrary columns.  Every buffer is a
 * heap block of exactly the size the call may touch (zero bytes when it may
 * touch nothing), so memcheck reports any access outside it.  The driver
 * also checks the contracts that hold for any arguments and exits non-zero
 * on the first violation.  The extension API (bsbasis_*) gets the same,
 * with 64-bit counts past INT32_MAX as well, and must answer an error
 * status for every call outside the limits of bsbasis.h and BSBASIS_OK
 * (or BSBASIS_ERROR_RANGE) within them.  Run it under valgrind:
 * scripts/valgrind.sh.
 */
#include <float.h>
#include <limits.h>
#include <math.h>
#include <stdint.h>
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


/* ------------------------------------------------------- extension API */

#define BIG_COUNT ((int64_t)INT32_MAX + 1)

static int argument_error(int st) {
  return st <= BSBASIS_ERROR_NULL && st >= BSBASIS_ERROR_MODE;
}

/* The header's rules for the knots of a basis. */
static int basis_ok(const double *t, int64_t nt, int order, int64_t nj) {
  if (order < 1 || nt < 0 || nt > INT32_MAX || !t) return 0;
  if (nt < 2 * (int64_t)order || nj < order || nj > nt - order) return 0;
  for (int64_t c = 0; c < nt; ++c) {
    if (!isfinite(t[c])) return 0;
    if (c > 0 && !(t[c - 1] <= t[c])) return 0;
    if (c > 0 && t[c] > t[c - 1] && t[c] - t[c - 1] < 1.0 / DBL_MAX) return 0;
  }
  return isfinite(t[nt - 1] - t[0]) && t[order - 1] < t[nj];
}

/* A knot count and its array: the count as given, the array of that many
   knots of kind k, or none for a count the header forbids. */
static double *knots_for(int64_t nt, int k) {
  if (nt <= 0 || nt > 4096) return alloc_n(0, sizeof(double));
  double *t = alloc_n((long)nt, sizeof *t);
  fill_knots(t, (int)nt, k);
  return t;
}

/* The rows of an evaluation that returned OK: row p everywhere (when i is
   given); an empty row has column -1 and value 0, any other increasing
   columns in 0 .. ncols-1; the empty rows counted.  consecutive: the
   columns of a block follow each other (not so for the periodic basis). */
static void check_rows(const char *fn, const int32_t *i, const int32_t *j,
                       const double *B, int64_t nx, int E, int64_t ncols,
                       int consecutive, int64_t nempty) {
  int64_t empty = 0;
  for (int64_t p = 0; p < nx; ++p) {
    const int64_t at = p * E;
    const int is_empty = j[at] == -1;
    empty += is_empty;
    for (int q = 0; q < E; ++q) {
      if (i) CHECK(i[at + q] == (int32_t)p, "%s row %d at %ld", fn, i[at + q], (long)p);
      if (is_empty) {
        CHECK(j[at + q] == -1 && B[at + q] == 0.0, "%s empty row %ld: (%d, %g)", fn,
              (long)p, j[at + q], B[at + q]);
        continue;
      }
      CHECK(j[at + q] >= 0 && j[at + q] < ncols, "%s column %d of %ld", fn, j[at + q],
            (long)ncols);
      if (q > 0)
        CHECK(consecutive ? j[at + q] == j[at + q - 1] + 1 : j[at + q] > j[at + q - 1],
              "%s columns %d, %d in row %ld", fn, j[at + q - 1], j[at + q], (long)p);
    }
  }
  CHECK(nempty == empty, "%s nempty %ld, %ld empty rows", fn, (long)nempty, (long)empty);
}

static const int ext_orders[] = {INT_MIN, -1, 0, 1, 2, 4, 7};
static const int ext_nus[] = {INT_MIN, -1, 0, 1, 3, 6, 7, INT_MAX};
static const int ext_modes[] = {INT_MIN, -1, 0, 1, 2, 3, 4, 5, 6};

static void drive_design(void) {
  const int64_t nts[] = {INT64_MIN, -1, 0, 3, 8, 13, BIG_COUNT, INT64_MAX};
  const int64_t nxs[] = {INT64_MIN, -1, 0, 7, 600, BIG_COUNT};
  for (int a = 0; a < COUNT(ext_orders); ++a)
    for (int c = 0; c < COUNT(nts); ++c)
      for (int k = 0; k < KNOT_KINDS; ++k) {
        const int order = ext_orders[a];
        const int64_t nt = nts[c];
        const int64_t base = nt >= 0 && nt <= 4096 ? nt : 13; /* no overflow */
        const int64_t njs[] = {-1, order, base - order, base - order + 1, INT64_MAX};
        double *t = knots_for(nt, k);
        for (int d = 0; d < COUNT(njs); ++d)
          for (int e = 0; e < COUNT(nxs); ++e) {
            const int64_t nj = njs[d], nx = nxs[e];
            const int nu = ext_nus[(a + c + d + e + k) % COUNT(ext_nus)];
            const int mode = ext_modes[(a + 2 * c + d + k + e) % COUNT(ext_modes)];
            /* 0: no i; 1: no x.  A count past INT32_MAX with i given must
               be refused (rows in 32 bits) before anything is read: it gets
               no arrays, and i one element so that it is not NULL. */
            const int big = nx >= BIG_COUNT;
            const int given = big ? 2 : (a + c + d + e + k) % 5;
            const int64_t nxa = nx > 0 && !big ? nx : 0;
            const long n = entries(order, (int)nxa);
            double *x = alloc_n((long)nxa, sizeof *x), *B = alloc_n(n, sizeof *B);
            int32_t *i = alloc_n(big ? 1 : n, sizeof *i), *j = alloc_n(n, sizeof *j);
            fill_x(x, (int)nxa, a + d + k);
            int64_t nempty = -5;
            const int st = bsbasis_design(t, nt, order, nj, nu, mode,
                                          given == 1 ? NULL : x, nx, given == 0 ? NULL : i,
                                          j, B, &nempty);
            const int basis = nt <= 4096 && basis_ok(t, nt, order, nj);
            const int valid = basis && nu >= 0 && mode >= 0 && mode <= 5 && nx >= 0 &&
                              nx < BIG_COUNT && (nx == 0 || given != 1);
            if (!valid) {
              CHECK(argument_error(st), "design status %d, order %d nt %ld nj %ld nu %d mode %d nx %ld",
                    st, order, (long)nt, (long)nj, nu, mode, (long)nx);
            } else {
              int inside = 1;
              for (int64_t p = 0; p < nx; ++p)
                inside = inside && x[p] >= t[order - 1] && x[p] <= t[nj];
              const int want = mode == BSBASIS_EXTRAPOLATE_ERROR && !inside
                                   ? BSBASIS_ERROR_RANGE : BSBASIS_OK;
              CHECK(st == want, "design status %d want %d", st, want);
              if (st == BSBASIS_OK)
                check_rows("design", given == 0 ? NULL : i, j, B, nx, order, nj, 1, nempty);
            }
            free(x);
            free(B);
            free(i);
            free(j);
          }
        free(t);
      }
}

static void drive_uniform(void) {
  const double origins[] = {NAN, -INFINITY, -1e308, -3.0, 0.0, 1e16, DBL_MAX};
  const double spacings[] = {NAN, -1.0, 0.0, 4.9406564584124654e-324, 1e-300, 0.1, 1.0,
                             1e307, INFINITY};
  const int64_t ns[] = {INT64_MIN, -1, 0, 3, 12, (int64_t)INT32_MAX - 7, BIG_COUNT, INT64_MAX};
  for (int a = 0; a < COUNT(ext_orders); ++a)
    for (int b = 0; b < COUNT(origins); ++b)
      for (int c = 0; c < COUNT(spacings); ++c)
        for (int d = 0; d < COUNT(ns); ++d) {
          const int order = ext_orders[a];
          const double origin = origins[b], spacing = spacings[c];
          const int64_t n = ns[d];
          /* nu past the order but not INT_MAX: each derivative divides
             by the spacing, and design_test times INT_MAX. */
          const int nus[] = {INT_MIN, -1, 0, 1, 3, 6, 7, 100000};
          const int nu = nus[(a + b + c + d) % COUNT(nus)];
          const int mode = ext_modes[(a + b + 2 * c + d) % COUNT(ext_modes)];
          const int nx = 9;
          const long m = entries(order, nx);
          double *x = alloc_n(nx, sizeof *x), *B = alloc_n(m, sizeof *B);
          int32_t *i = alloc_n(m, sizeof *i), *j = alloc_n(m, sizeof *j);
          fill_x(x, nx, a + b + c + d);
          int64_t nempty = -5;
          const int st = bsbasis_uniform_design(origin, spacing, n, order, nu, mode, x, nx, i,
                                                j, B, &nempty);
          int grid = order >= 1 && n >= order && n <= INT32_MAX - (int64_t)order &&
                     isfinite(origin) && isfinite(spacing) && spacing > 0.0;
          double last = 0.0;
          if (grid) {
            last = origin + (double)(n + order - 1) * spacing;
            const double big = fabs(origin) > fabs(last) ? fabs(origin) : fabs(last);
            grid = isfinite(last) && spacing > 8.0 * (nextafter(big, INFINITY) - big);
          }
          /* No assertion near the resolution of the knots, where the
             header's rule leaves room. */
          if (!(order >= 1 && n >= order && n <= INT32_MAX - (int64_t)order) ||
              !isfinite(origin) || !isfinite(spacing) || !(spacing > 0.0) ||
              (grid && (nu < 0 || mode < 0 || mode > 5))) {
            CHECK(argument_error(st), "uniform status %d, order %d origin %g spacing %g n %ld",
                  st, order, origin, spacing, (long)n);
          } else if (grid) {
            const double lo = origin + (order - 1.0) * spacing, hi = origin + (double)n * spacing;
            int inside = 1;
            for (int p = 0; p < nx; ++p) inside = inside && x[p] >= lo && x[p] <= hi;
            const int want = mode == BSBASIS_EXTRAPOLATE_ERROR && !inside
                                 ? BSBASIS_ERROR_RANGE : BSBASIS_OK;
            CHECK(st == want, "uniform status %d want %d (origin %g spacing %g n %ld)", st,
                  want, origin, spacing, (long)n);
            if (st == BSBASIS_OK) check_rows("uniform", i, j, B, nx, order, n, 1, nempty);
          }
          free(x);
          free(B);
          free(i);
          free(j);
        }
}

static void drive_periodic(void) {
  const int64_t nbs[] = {INT64_MIN, -1, 0, 1, 2, 5, 8, 13, BIG_COUNT, INT64_MAX};
  for (int a = 0; a < COUNT(ext_orders); ++a)
    for (int c = 0; c < COUNT(nbs); ++c)
      for (int k = 0; k < KNOT_KINDS; ++k)
        for (int b = 0; b < COUNT(ext_nus); ++b) {
          const int order = ext_orders[a], nu = ext_nus[b];
          const int64_t nb = nbs[c];
          double *u = knots_for(nb, k);
          const int nx = 31;
          const long m = entries(order, nx);
          double *x = alloc_n(nx, sizeof *x), *B = alloc_n(m, sizeof *B);
          int32_t *j = alloc_n(m, sizeof *j);
          fill_x(x, nx, a + b + c + k);
          int64_t nempty = -5;
          const int given_u = (a + b + c) % 7 != 0;
          const int st = bsbasis_periodic_design(given_u ? u : NULL, nb, order, nu, x, nx, NULL,
                                                 j, B, &nempty);
          int valid = given_u && order >= 1 && nb >= (int64_t)order + 1 && nb <= 4096 && nu >= 0;
          for (int64_t q = 0; valid && q < nb; ++q)
            valid = isfinite(u[q]) && (q == 0 || (u[q] > u[q - 1] && u[q] - u[q - 1] >= 1.0 / DBL_MAX));
          if (valid && nb >= 2 && !isfinite(u[nb - 1] - u[0])) valid = 0;
          if (!valid) {
            CHECK(argument_error(st), "periodic status %d, order %d nbreaks %ld kind %d nu %d",
                  st, order, (long)nb, k, nu);
          } else {
            CHECK(st == BSBASIS_OK, "periodic status %d, order %d nbreaks %ld kind %d", st,
                  order, (long)nb, k);
            if (st != BSBASIS_OK) { free(u); free(x); free(B); free(j); continue; }
            if (st == BSBASIS_OK) check_rows("periodic", NULL, j, B, nx, order, nb - 1, 0, nempty);
            /* Any finite abscissa is in range. */
            for (int p = 0; st == BSBASIS_OK && p < nx; ++p)
              CHECK((j[(long)p * order] == -1) == !isfinite(x[p]),
                    "periodic row %d of x %g on breaks %g .. %g: empty %d", p, x[p], u[0],
                    u[nb - 1], j[(long)p * order] == -1);
          }
          free(u);
          free(x);
          free(B);
          free(j);
        }
}

static void drive_tensor(void) {
  /* Factors: a good cubic, a good linear one, and bad ones of each kind. */
  double good4[12] = {0, 0, 0, 0, 1, 2, 3, 4, 5, 5, 5, 5};
  double good2[6] = {0, 1, 2, 3, 4, 5};
  double nan_knots[12] = {0, 0, 0, 0, 1, NAN, 3, 4, 5, 5, 5, 5};
  const double *tk[4] = {good4, good2, nan_knots, NULL};
  const int64_t tnt[4] = {12, 6, 12, 12};
  const int32_t tord[4] = {4, 2, 4, 4};
  const int64_t tnj[4] = {8, 4, 8, 8};
  const int ds[] = {INT_MIN, -1, 0, 1, 2, 3, 64, 65};
  const int64_t nps[] = {INT64_MIN, -1, 0, 5, 300, BIG_COUNT, INT64_MAX / 4};
  for (int a = 0; a < COUNT(ds); ++a)
    for (int b = 0; b < COUNT(nps); ++b)
      for (int pick = 0; pick < 6; ++pick)
        for (int jw = 0; jw < 4; ++jw) {
          const int d = ds[a];
          const int64_t npts = nps[b];
          const int dd = d > 0 ? d : 0;
          const double **t = alloc_n(dd, sizeof *t);
          int64_t *nt = alloc_n(dd, sizeof *nt), *nj = alloc_n(dd, sizeof *nj);
          int32_t *order = alloc_n(dd, sizeof *order), *nu = alloc_n(dd, sizeof *nu);
          int good = d >= 1 && d <= 64;
          long E = 1;
          for (int f = 0; f < dd; ++f) {
            /* pick 0, 1: good factors; 2, 3: the bad one in the last place;
               4: a negative nu; 5: an order of 0. */
            const int which = pick >= 2 && pick <= 3 && f == dd - 1 ? pick : f % 2;
            t[f] = tk[which];
            nt[f] = tnt[which];
            order[f] = pick == 5 && f == dd - 1 ? 0 : tord[which];
            nj[f] = tnj[which];
            nu[f] = pick == 4 && f == dd - 1 ? -1 : f % 2;
            good = good && which < 2 && order[f] > 0 && nu[f] >= 0;
            if (E <= 1L << 20) E *= order[f] > 0 ? order[f] : 1;
          }
          const int mode = ext_modes[(a + b + pick) % COUNT(ext_modes)];
          /* Arrays for small claims only; larger ones must be refused. */
          const int fits = npts > 0 && npts <= 300 && E <= 1L << 12;
          const long n = fits ? (long)npts * E : 0;
          double *x = alloc_n(fits ? (long)npts * dd : 0, sizeof *x), *B = alloc_n(n, sizeof *B);
          int32_t *i = alloc_n(n > 0 ? n : 1, sizeof *i), *j32 = alloc_n(jw & 1 ? n : 0, sizeof *j32);
          int64_t *j64 = alloc_n(jw & 2 ? n : 0, sizeof *j64);
          if (fits) fill_x(x, (int)(npts * dd), a + b);
          int64_t nempty = -5;
          const int st = bsbasis_tensor_design(d, t, nt, order, nj, nu, mode, x, npts, i,
                                               jw & 1 ? j32 : NULL, jw & 2 ? j64 : NULL, B,
                                               &nempty);
          const int valid = good && mode >= 0 && mode <= 5 && (jw == 1 || jw == 2) &&
                            npts >= 0 && npts < BIG_COUNT && (npts == 0 || fits);
          if (!good || mode < 0 || mode > 5 || jw == 0 || jw == 3 || npts < 0 ||
              npts >= BIG_COUNT) {
            CHECK(argument_error(st), "tensor status %d, d %d npts %ld pick %d jw %d mode %d", st,
                  d, (long)npts, pick, jw, mode);
          } else if (valid) {
            CHECK(st == BSBASIS_OK || st == BSBASIS_ERROR_RANGE, "tensor status %d", st);
            if (st == BSBASIS_OK && jw == 1)
              check_rows("tensor", i, j32, B, npts, (int)E, INT32_MAX, 0, nempty);
          }
          free(t);
          free(nt);
          free(nj);
          free(order);
          free(nu);
          free(x);
          free(B);
          free(i);
          free(j32);
          free(j64);
        }
}

static void drive_penalties(void) {
  const int64_t ns[] = {INT64_MIN, -1, 0, 1, 4, 9, INT64_MAX / 3, INT64_MAX};
  const int pords[] = {INT_MIN, -1, 0, 1, 2, 4, 5, INT_MAX};
  for (int a = 0; a < COUNT(ns); ++a)
    for (int b = 0; b < COUNT(pords); ++b) {
      const int64_t n = ns[a];
      const int order = pords[b];
      const int small = n > 0 && n <= 9 && order > 0 && order <= 5;
      const int valid = n >= 1 && order >= 1 && order <= 4 && n <= INT64_MAX / (order + 1);
      if (valid && !small) continue; /* an array too large to give */
      const long size = small ? (long)(order + 1) * (long)n : 0;
      double *ab = alloc_n(size, sizeof *ab);
      const int st = bsbasis_difference_penalty(n, order, ab);
      const int st_null = bsbasis_difference_penalty(n, order, NULL);
      CHECK(st_null == BSBASIS_ERROR_NULL || argument_error(st_null),
            "difference penalty without ab: %d", st_null);
      if (valid) {
        CHECK(st == BSBASIS_OK, "difference penalty status %d", st);
      } else {
        CHECK(argument_error(st), "difference penalty status %d, n %ld order %d", st, (long)n,
              order);
      }
      free(ab);
    }
  const int64_t nts[] = {-1, 0, 8, 13, BIG_COUNT};
  const int ms[] = {INT_MIN, -1, 0, 2, 3, 4, INT_MAX};
  for (int a = 0; a < COUNT(ext_orders); ++a)
    for (int c = 0; c < COUNT(nts); ++c)
      for (int k = 0; k < KNOT_KINDS; ++k)
        for (int b = 0; b < COUNT(ms); ++b) {
          const int order = ext_orders[a], m = ms[b];
          const int64_t nt = nts[c];
          const int64_t nj = nt - (order > 0 ? order : 0) - (b % 2);
          double *t = knots_for(nt, k);
          const int claim = order > 0 && nj > 0 && nj <= 4096;
          double *ab = alloc_n(claim ? (long)order * nj : 0, sizeof *ab);
          const int st = bsbasis_derivative_penalty(t, nt, order, nj, m, ab);
          const int valid = nt <= 4096 && basis_ok(t, nt, order, nj) && m >= 0;
          if (valid)
            CHECK(st == BSBASIS_OK, "derivative penalty status %d, order %d nt %ld kind %d m %d",
                  st, order, (long)nt, k, m);
          else
            CHECK(argument_error(st), "derivative penalty status %d, order %d nt %ld nj %ld m %d",
                  st, order, (long)nt, (long)nj, m);
          free(t);
          free(ab);
        }
}

static void drive_make_knots(void) {
  const int64_t nxs[] = {INT64_MIN, -1, 0, 1, 2, 28};
  const int64_t nks[] = {INT64_MIN, -1, 0, 1, 2, 7, INT64_MAX};
  const int kinds[] = {-1, BSBASIS_KNOTS_UNIFORM, BSBASIS_KNOTS_QUANTILE, 2};
  const int bounds[] = {-1, BSBASIS_BOUNDARY_CLAMPED, BSBASIS_BOUNDARY_EXTENDED, 2};
  for (int a = 0; a < COUNT(nxs); ++a)
    for (int b = 0; b < COUNT(nks); ++b)
      for (int c = 0; c < COUNT(ext_orders); ++c)
        for (int k = 0; k < COUNT(kinds); ++k)
          for (int w = 0; w < 3; ++w) {
            const int64_t nx = nxs[a], nk = nks[b];
            const int order = ext_orders[c], kind = kinds[k], boundary = bounds[(a + b + k) % 4];
            const long nxa = nx > 0 ? (long)nx : 0;
            double *x = alloc_n(nxa, sizeof *x), *wt = alloc_n(w ? nxa : 0, sizeof *wt);
            /* w: 0 no weights; 1 weights 0 and 1; 2 hostile weights. */
            fill_x(x, (int)nxa, a + b + c);
            for (long p = 0; w && p < nxa; ++p)
              wt[p] = w == 1 ? (double)(p % 2) : hostile_x[(p + k) % n_hostile_x];
            const int claim = nk >= 2 && nk <= 7 && order >= 1;
            const long size = claim ? (long)nk + 2L * (order - 1) : 0;
            double *t = alloc_n(size, sizeof *t);
            const int st = bsbasis_make_knots(x, nx, w ? wt : NULL, nk, order, kind, boundary, t);
            const int args = nx >= 0 && nk >= 2 && order >= 1 && kind >= 0 && kind <= 1 &&
                             boundary >= 0 && boundary <= 1;
            if (!args) {
              CHECK(argument_error(st), "make_knots status %d, nx %ld n_knots %ld order %d kind %d boundary %d",
                    st, (long)nx, (long)nk, order, kind, boundary);
            } else if (claim) {
              CHECK(st == BSBASIS_OK || st == BSBASIS_ERROR_DATA, "make_knots status %d", st);
              for (long e = 1; st == BSBASIS_OK && e < size; ++e)
                CHECK(isfinite(t[e]) && t[e - 1] <= t[e], "make_knots knot %ld: %g", e, t[e]);
            }
            free(x);
            free(wt);
            free(t);
          }
}

/* ------------------------------- normal equations and spline values */

/* A basis for the sums and values: knots t (nt of them, nj columns) or the
   uniform grid (origin, spacing, nj columns). */
struct basis {
  int grid;
  const double *t;
  int64_t nt, nj;
  double origin, spacing;
  int order;
};

static int basis_design(const struct basis *b, int nu, int mode, const double *x, int64_t nx,
                        int32_t *j, double *B, int64_t *nempty) {
  if (b->grid)
    return bsbasis_uniform_design(b->origin, b->spacing, b->nj, b->order, nu, mode, x, nx, NULL,
                                  j, B, nempty);
  return bsbasis_design(b->t, b->nt, b->order, b->nj, nu, mode, x, nx, NULL, j, B, nempty);
}

static int basis_normal(const struct basis *b, int nu, int mode, const double *x,
                        const double *y, const double *w, int64_t nx, double *ab, double *rhs,
                        double *sums, int64_t *count, int64_t *bad) {
  if (b->grid)
    return bsbasis_uniform_normal_equations(b->origin, b->spacing, b->nj, b->order, nu, mode,
                                            x, y, w, nx, ab, rhs, sums, count, bad);
  return bsbasis_normal_equations(b->t, b->nt, b->order, b->nj, nu, mode, x, y, w, nx, ab, rhs,
                                  sums, count, bad);
}

static int basis_evaluate(const struct basis *b, int nu, int mode, const double *c,
                          const double *x, int64_t nx, double *out) {
  if (b->grid)
    return bsbasis_uniform_evaluate(b->origin, b->spacing, b->nj, b->order, nu, mode, c, x, nx,
                                    out);
  return bsbasis_evaluate(b->t, b->nt, b->order, b->nj, nu, mode, c, x, nx, out);
}

static int same_double(double a, double b) { return a == b || (isnan(a) && isnan(b)); }

static int same_array(const double *a, const double *b, long n) {
  return n <= 0 || memcmp(a, b, (size_t)n * sizeof *a) == 0;
}

/* Columns of the basis an array of order*nj (or nj) stands for; 0 when the
   arguments claim none or more than is given. */
static long basis_columns(const struct basis *b) {
  return b->order >= 1 && b->order <= 64 && b->nj >= 1 && b->nj <= 4096 ? (long)b->nj : 0;
}

/* Sums on basis b at hostile abscissae from `start`.  verdict: 1 the basis
   is valid, 0 not, -1 near the resolution of the grid (no verdict on the
   status).  nv: the pointer left NULL (0 x, 1 ab, 2 sums, 3 count, 4 rhs,
   5 bad_row; else none).  dv: 0 no y or w, 1 finite y, 2 finite y and
   weights, 3 hostile y and weights, 4 y not finite where x is not (and
   no w).  A count past 4096 gets no arrays and x NULL: the call must
   refuse it before reading anything. */
static void one_normal(const char *fn, const struct basis *b, int verdict, int nu, int mode,
                       int64_t nx, int start, int nv, int dv) {
  const int huge = nx > 4096;
  if (huge) nv = 0;
  const long nxa = nx > 0 && !huge ? (long)nx : 0;
  const long nc = basis_columns(b), nab = nc * (nc ? b->order : 0);
  if (verdict != 0 && nc == 0) return; /* arrays too large to give */
  double *x = alloc_n(nxa, sizeof *x), *y = alloc_n(nxa, sizeof *y), *w = alloc_n(nxa, sizeof *w);
  double *ab = alloc_n(nab, sizeof *ab), *ab0 = alloc_n(nab, sizeof *ab0);
  double *rhs = alloc_n(nc, sizeof *rhs), *rhs0 = alloc_n(nc, sizeof *rhs0);
  double *sums = alloc_n(2, sizeof *sums), sums0[2] = {1.5, 2.0};
  fill_x(x, (int)nxa, start);
  for (long p = 0; p < nxa; ++p) {
    y[p] = dv == 3 ? hostile_x[(start + 3 * p + 1) % n_hostile_x] : 0.25 * (double)p - 1.0;
    w[p] = dv == 3 ? hostile_x[(start + 5 * p + 2) % n_hostile_x] : 0.5 * (double)(p % 3);
    if (dv == 4 && !isfinite(x[p])) y[p] = p % 2 ? NAN : -INFINITY;
  }
  for (long e = 0; e < nab; ++e) ab[e] = ab0[e] = 0.125 * (double)(e % 7);
  for (long e = 0; e < nc; ++e) rhs[e] = rhs0[e] = -0.25 * (double)(e % 5);
  sums[0] = sums0[0];
  sums[1] = sums0[1];
  int64_t count = 3, bad = -7;
  const double *py = dv >= 1 && !huge ? y : NULL;
  const double *pw = (dv == 2 || dv == 3) && !huge ? w : NULL;
  const int st = basis_normal(b, nu, mode, nv == 0 ? NULL : x, py, pw, nx, nv == 1 ? NULL : ab,
                              nv == 4 ? NULL : rhs, nv == 2 ? NULL : sums,
                              nv == 3 ? NULL : &count, nv == 5 ? NULL : &bad);

  CHECK(st != BSBASIS_ERROR_MEMORY, "%s: memory", fn);
  if (nv != 5) {
    if (st == BSBASIS_ERROR_DATA)
      CHECK(bad >= 0 && bad < nx, "%s: bad_row %ld of %ld", fn, (long)bad, (long)nx);
    else
      CHECK(bad == -1, "%s: bad_row %ld after status %d", fn, (long)bad, st);
  }
  if (st != BSBASIS_OK)
    CHECK(same_array(ab, ab0, nab) && same_array(rhs, rhs0, nc) && same_array(sums, sums0, 2) &&
              count == 3, "%s: status %d changed the outputs", fn, st);
  if (!py) CHECK(same_array(rhs, rhs0, nc), "%s: rhs written without y", fn);

  const int args_bad = nu < 0 || mode < 0 || mode > 5 || nx < 0 || huge || (nx > 0 && nv == 0) ||
                       nv == 1 || nv == 2 || nv == 3 || (nv == 4 && py);
  if (verdict == 0 || args_bad) {
    CHECK(argument_error(st), "%s status %d, order %d nt %ld nj %ld nu %d mode %d nx %ld nv %d",
          fn, st, b->order, (long)b->nt, (long)b->nj, nu, mode, (long)nx, nv);
  } else if (verdict == 1) {
    /* The design's rows tell the empty rows and the range verdict. */
    const long n = nxa * b->order;
    int32_t *j = alloc_n(n, sizeof *j);
    double *B = alloc_n(n, sizeof *B);
    int64_t nempty = -5;
    const int ds = basis_design(b, nu, mode, x, nx, j, B, &nempty);
    if (ds == BSBASIS_ERROR_RANGE) {
      CHECK(st == BSBASIS_ERROR_RANGE || st == BSBASIS_ERROR_DATA, "%s status %d, want range",
            fn, st);
    } else {
      CHECK(ds == BSBASIS_OK, "%s: design status %d", fn, ds);
      int64_t first = -1;
      for (long p = 0; p < nxa && first < 0; ++p)
        if ((pw && !(w[p] >= 0.0 && isfinite(w[p]))) ||
            (py && !isfinite(y[p]) && j[p * b->order] >= 0))
          first = p;
      if (first >= 0) {
        CHECK(st == BSBASIS_ERROR_DATA, "%s status %d, want data at row %ld", fn, st,
              (long)first);
        if (nv != 5) CHECK(bad == first, "%s bad_row %ld want %ld", fn, (long)bad, (long)first);
      } else {
        CHECK(st == BSBASIS_OK, "%s status %d, order %d nu %d mode %d nx %ld", fn, st,
              b->order, nu, mode, (long)nx);
        if (st == BSBASIS_OK)
          CHECK(count - 3 == nx - nempty, "%s count %ld, %ld rows not empty", fn,
                (long)(count - 3), (long)(nx - nempty));
        /* Values in [0, 1], weights and responses small: finite sums. */
        const int bounded = nu == 0 && dv != 3 && mode != BSBASIS_EXTRAPOLATE_CONTINUE &&
                            mode != BSBASIS_EXTRAPOLATE_LINEAR;
        for (long e = 0; st == BSBASIS_OK && bounded && e < nab; ++e)
          CHECK(isfinite(ab[e]), "%s ab[%ld] = %g", fn, e, ab[e]);
        for (long e = 0; st == BSBASIS_OK && bounded && e < nc; ++e)
          CHECK(isfinite(rhs[e]), "%s rhs[%ld] = %g", fn, e, rhs[e]);
        if (st == BSBASIS_OK && bounded)
          CHECK(isfinite(sums[0]) && isfinite(sums[1]), "%s sums %g %g", fn, sums[0], sums[1]);
      }
    }
    free(j);
    free(B);
  }
  free(x);
  free(y);
  free(w);
  free(ab);
  free(ab0);
  free(rhs);
  free(rhs0);
  free(sums);
}

/* Values on basis b; nv: the pointer left NULL (0 x, 1 c, 2 out; else
   none).  Coefficients finite, or hostile when `start` is odd. */
static void one_evaluate(const char *fn, const struct basis *b, int verdict, int nu, int mode,
                         int64_t nx, int start, int nv) {
  const int huge = nx > 4096;
  if (huge) nv = 0;
  const long nxa = nx > 0 && !huge ? (long)nx : 0;
  const long nc = basis_columns(b);
  if (verdict != 0 && nc == 0) return; /* an array too large to give */
  double *x = alloc_n(nxa, sizeof *x), *out = alloc_n(nxa, sizeof *out);
  double *c = alloc_n(nc, sizeof *c);
  fill_x(x, (int)nxa, start);
  for (long k = 0; k < nc; ++k)
    c[k] = start & 1 ? hostile_x[(start + k) % n_hostile_x] : 0.5 * (double)k - 1.0;
  for (long p = 0; p < nxa; ++p) out[p] = -1234.5;
  const int st = basis_evaluate(b, nu, mode, nv == 1 ? NULL : c, nv == 0 ? NULL : x, nx,
                                nv == 2 ? NULL : out);

  CHECK(st != BSBASIS_ERROR_MEMORY, "%s: memory", fn);
  const int args_bad = nu < 0 || mode < 0 || mode > 5 || nx < 0 || huge || nv == 1 ||
                       (nx > 0 && (nv == 0 || nv == 2));
  if (verdict == 0 || args_bad) {
    CHECK(argument_error(st), "%s status %d, order %d nt %ld nj %ld nu %d mode %d nx %ld nv %d",
          fn, st, b->order, (long)b->nt, (long)b->nj, nu, mode, (long)nx, nv);
  } else if (verdict == 1) {
    const long n = nxa * b->order;
    int32_t *j = alloc_n(n, sizeof *j);
    double *B = alloc_n(n, sizeof *B);
    const int ds = basis_design(b, nu, mode, x, nx, j, B, NULL);
    CHECK(st == ds && (st == BSBASIS_OK || st == BSBASIS_ERROR_RANGE),
          "%s status %d, design %d", fn, st, ds);
    /* out[p] = ((b_0*c_0 + b_1*c_1) + ...); 0 on an empty row. */
    for (long p = 0; st == BSBASIS_OK && ds == BSBASIS_OK && p < nxa; ++p) {
      const int32_t *jp = j + p * b->order;
      const double *bp = B + p * b->order;
      double v = 0.0;
      if (jp[0] >= 0) {
        v = bp[0] * c[jp[0]];
        for (int q = 1; q < b->order; ++q) v = v + bp[q] * c[jp[q]];
      }
      CHECK(same_double(out[p], v), "%s out[%ld] = %g want %g", fn, p, out[p], v);
    }
    free(j);
    free(B);
  }
  free(x);
  free(out);
  free(c);
}

static void drive_normal(void) {
  const int64_t nts[] = {INT64_MIN, -1, 0, 8, 13, BIG_COUNT, INT64_MAX};
  const int64_t nxs[] = {INT64_MIN, -1, 0, 9, 600, BIG_COUNT, INT64_MAX};
  for (int a = 0; a < COUNT(ext_orders); ++a)
    for (int c = 0; c < COUNT(nts); ++c)
      for (int k = 0; k < KNOT_KINDS; ++k) {
        const int order = ext_orders[a];
        const int64_t nt = nts[c];
        const int64_t base = nt >= 0 && nt <= 4096 ? nt : 13;
        const int64_t njs[] = {-1, order, base - order, base - order + 1, INT64_MAX};
        double *t = knots_for(nt, k);
        for (int d = 0; d < COUNT(njs); ++d)
          for (int e = 0; e < COUNT(nxs); ++e) {
            const int s = a + c + d + e + k;
            const struct basis b = {0, (s % 11) == 0 ? NULL : t, nt, njs[d], 0.0, 0.0, order};
            const int verdict = b.t && nt <= 4096 && basis_ok(t, nt, order, njs[d]);
            const int nu = ext_nus[s % COUNT(ext_nus)];
            const int mode = ext_modes[(a + 2 * c + d + k + e) % COUNT(ext_modes)];
            one_normal("normal_equations", &b, verdict, nu, mode, nxs[e], a + d + k, s % 8,
                       (a + c + e) % 5);
            one_evaluate("evaluate", &b, verdict, nu, mode, nxs[e], a + d + k, (s + 1) % 4);
            /* A valid basis: every mode and kind of data, all pointers. */
            for (int m = 0; verdict && nxs[e] == 9 && m < 6; ++m)
              for (int dv = 0; dv < 5; ++dv) {
                const int vnu = (m + dv) % (order + 2);
                one_normal("normal_equations", &b, verdict, vnu, m, nxs[e] + dv, s + m + dv,
                           5 + dv % 2, dv);
                one_evaluate("evaluate", &b, verdict, vnu, m, nxs[e] + dv, s + m + dv, 3);
              }
          }
        free(t);
      }
}

static void drive_uniform_normal(void) {
  const double origins[] = {NAN, -INFINITY, -1e308, -3.0, 0.0, 1e16, DBL_MAX};
  const double spacings[] = {NAN, -1.0, 0.0, 4.9406564584124654e-324, 1e-300, 0.1, 1.0,
                             1e307, INFINITY};
  const int64_t ns[] = {INT64_MIN, -1, 0, 3, 12, (int64_t)INT32_MAX - 7, BIG_COUNT, INT64_MAX};
  const int64_t nxs[] = {-1, 0, 9, BIG_COUNT};
  for (int a = 0; a < COUNT(ext_orders); ++a)
    for (int b = 0; b < COUNT(origins); ++b)
      for (int c = 0; c < COUNT(spacings); ++c)
        for (int d = 0; d < COUNT(ns); ++d) {
          const int order = ext_orders[a], s = a + b + c + d;
          const struct basis g = {1, NULL, 0, ns[d], origins[b], spacings[c], order};
          const double origin = g.origin, spacing = g.spacing;
          const int64_t n = g.nj;
          const int shape = order >= 1 && n >= order && n <= INT32_MAX - (int64_t)order &&
                            isfinite(origin) && isfinite(spacing) && spacing > 0.0;
          int verdict = 0;
          if (shape) {
            /* Clearly above the resolution of the knots: valid; clearly
               below (or a last knot past DBL_MAX): not; else no verdict. */
            const double last = origin + (double)(n + order - 1) * spacing;
            const double big = fabs(origin) > fabs(last) ? fabs(origin) : fabs(last);
            const double res = nextafter(big, INFINITY) - big;
            verdict = !isfinite(last) || spacing < res ? 0 : spacing > 8.0 * res ? 1 : -1;
          }
          const int nus[] = {INT_MIN, -1, 0, 1, 3, 6, 7, 100000};
          const int nu = nus[s % COUNT(nus)];
          const int mode = ext_modes[(a + b + 2 * c + d) % COUNT(ext_modes)];
          const int64_t nx = nxs[(a + c) % COUNT(nxs)];
          one_normal("uniform_normal_equations", &g, verdict, nu, mode, nx, s, (s + c) % 8,
                     (b + d) % 5);
          one_evaluate("uniform_evaluate", &g, verdict, nu, mode, nx, s, (s + d) % 4);
          for (int m = 0; verdict == 1 && m < 6; ++m)
            for (int dv = 0; dv < 5; ++dv) {
              const int vnu = (m + dv) % (order + 2);
              one_normal("uniform_normal_equations", &g, verdict, vnu, m, 9 + dv, s + m + dv,
                         5 + dv % 2, dv);
              one_evaluate("uniform_evaluate", &g, verdict, vnu, m, 9 + dv, s + m + dv, 3);
            }
        }
}

/* One fault at a time on a good cubic basis: the status the header names
   for it, *bad_row, and nothing added. */
static void drive_normal_faults(void) {
  double t[12] = {0, 0, 0, 0, 1, 2, 3, 4, 5, 5, 5, 5};
  double nan_t[12] = {0, 0, 0, 0, 1, NAN, 3, 4, 5, 5, 5, 5};
  double *x = alloc_n(4, sizeof *x), *y = alloc_n(4, sizeof *y), *w = alloc_n(4, sizeof *w);
  double *ab = alloc_n(32, sizeof *ab), *rhs = alloc_n(8, sizeof *rhs);
  double *sums = alloc_n(2, sizeof *sums), *c = alloc_n(8, sizeof *c);
  double *out = alloc_n(4, sizeof *out);
  const double x0[4] = {0.5, 2.5, 4.75, 6.0}; /* 6.0 outside [0, 5] */
  for (int k = 0; k < 8; ++k) c[k] = k;
  struct {
    const char *what;
    int fault, want;
    int64_t want_bad;
  } cases[] = {
      {"no knots", 0, BSBASIS_ERROR_NULL, -1},
      {"NaN knot", 1, BSBASIS_ERROR_KNOTS, -1},
      {"nj past nt - order", 2, BSBASIS_ERROR_COLUMNS, -1},
      {"order 0", 3, BSBASIS_ERROR_ORDER, -1},
      {"nu -1", 4, BSBASIS_ERROR_ORDER, -1},
      {"mode 6", 5, BSBASIS_ERROR_MODE, -1},
      {"mode -1", 6, BSBASIS_ERROR_MODE, -1},
      {"nx -1", 7, BSBASIS_ERROR_COUNT, -1},
      {"nx INT64_MIN", 8, BSBASIS_ERROR_COUNT, -1},
      {"no x", 9, BSBASIS_ERROR_NULL, -1},
      {"no ab", 10, BSBASIS_ERROR_NULL, -1},
      {"no sums", 11, BSBASIS_ERROR_NULL, -1},
      {"no count", 12, BSBASIS_ERROR_NULL, -1},
      {"y without rhs", 13, BSBASIS_ERROR_NULL, -1},
      {"negative weight", 14, BSBASIS_ERROR_DATA, 1},
      {"NaN weight", 15, BSBASIS_ERROR_DATA, 2},
      {"infinite weight", 16, BSBASIS_ERROR_DATA, 0},
      {"weight -0", 17, BSBASIS_OK, -1},
      {"NaN response in range", 18, BSBASIS_ERROR_DATA, 1},
      {"NaN response on an empty row", 19, BSBASIS_OK, -1},
      {"infinite response, bad weight after it", 20, BSBASIS_ERROR_DATA, 0},
      {"bad weight on an empty row", 21, BSBASIS_ERROR_DATA, 3},
      {"outside under ERROR", 22, BSBASIS_ERROR_RANGE, -1},
      {"nx huge, no x", 23, BSBASIS_ERROR_NULL, -1},
      {"no x, nx 0", 24, BSBASIS_OK, -1},
  };
  for (int k = 0; k < COUNT(cases); ++k) {
    const int f = cases[k].fault;
    for (int p = 0; p < 4; ++p) {
      x[p] = x0[p];
      y[p] = 0.5 * p;
      w[p] = 1.0;
    }
    for (int e = 0; e < 32; ++e) ab[e] = 0.25;
    for (int e = 0; e < 8; ++e) rhs[e] = -0.5;
    sums[0] = sums[1] = 2.0;
    int64_t count = 11, bad = -7, nx = 4;
    int order = 4, nu = 0, mode = BSBASIS_EXTRAPOLATE_ZERO;
    int64_t nj = 8;
    const double *pt = t, *px = x, *py = y, *pw = w;
    double *pab = ab, *prhs = rhs, *psums = sums;
    int64_t *pcount = &count;
    switch (f) {
      case 0: pt = NULL; break;
      case 1: pt = nan_t; break;
      case 2: nj = 9; break;
      case 3: order = 0; break;
      case 4: nu = -1; break;
      case 5: mode = 6; break;
      case 6: mode = -1; break;
      case 7: nx = -1; break;
      case 8: nx = INT64_MIN; break;
      case 9: px = NULL; break;
      case 10: pab = NULL; break;
      case 11: psums = NULL; break;
      case 12: pcount = NULL; break;
      case 13: prhs = NULL; break;
      case 14: w[1] = -0.5; w[3] = -1.0; break;
      case 15: w[2] = NAN; break;
      case 16: w[0] = INFINITY; break;
      case 17: w[1] = -0.0; break;
      case 18: y[1] = NAN; y[2] = NAN; break;
      case 19: y[3] = NAN; break; /* 6.0 is outside: an empty row */
      case 20: y[0] = -INFINITY; w[2] = -1.0; break;
      case 21: w[3] = NAN; break;
      case 22: mode = BSBASIS_EXTRAPOLATE_ERROR; break;
      case 23: px = NULL; py = NULL; pw = NULL; nx = INT64_MAX; break;
      default: px = NULL; nx = 0; break;
    }
    const int st = bsbasis_normal_equations(pt, 12, order, nj, nu, mode, px, py, pw, nx, pab,
                                            prhs, psums, pcount, &bad);
    CHECK(st == cases[k].want, "normal_equations, %s: status %d want %d", cases[k].what, st,
          cases[k].want);
    CHECK(bad == cases[k].want_bad, "normal_equations, %s: bad_row %ld want %ld",
          cases[k].what, (long)bad, (long)cases[k].want_bad);
    int unchanged = count == 11 && sums[0] == 2.0 && sums[1] == 2.0;
    for (int e = 0; e < 32; ++e) unchanged = unchanged && ab[e] == 0.25;
    for (int e = 0; e < 8; ++e) unchanged = unchanged && rhs[e] == -0.5;
    if (st != BSBASIS_OK) CHECK(unchanged, "normal_equations, %s: outputs changed", cases[k].what);
    if (st == BSBASIS_OK)
      CHECK(count == 11 + (nx == 4 ? 3 : 0), "normal_equations, %s: count %ld", cases[k].what,
            (long)count);

    /* The same fault for the values, where it applies. */
    if (f <= 9 || f == 22) {
      for (int p = 0; p < 4; ++p) out[p] = -7.0;
      const int se = bsbasis_evaluate(pt, 12, order, nj, nu, mode, c, px, nx, out);
      CHECK(se == cases[k].want, "evaluate, %s: status %d want %d", cases[k].what, se,
            cases[k].want);
    }
  }
  /* Values: coefficients and out required (out with nx > 0). */
  CHECK(bsbasis_evaluate(t, 12, 4, 8, 0, 1, NULL, x, 4, out) == BSBASIS_ERROR_NULL,
        "evaluate without c");
  CHECK(bsbasis_evaluate(t, 12, 4, 8, 0, 1, c, x, 4, NULL) == BSBASIS_ERROR_NULL,
        "evaluate without out");
  CHECK(bsbasis_uniform_evaluate(0.0, 1.0, 8, 4, 0, 1, NULL, x, 4, out) == BSBASIS_ERROR_NULL,
        "uniform_evaluate without c");
  CHECK(bsbasis_uniform_evaluate(0.0, 0.0, 8, 4, 0, 1, c, x, 4, out) == BSBASIS_ERROR_KNOTS,
        "uniform_evaluate spacing 0");
  CHECK(bsbasis_uniform_evaluate(NAN, 1.0, 8, 4, 0, 1, c, x, 4, out) == BSBASIS_ERROR_KNOTS,
        "uniform_evaluate NaN origin");
  CHECK(bsbasis_uniform_evaluate(0.0, 1.0, 3, 4, 0, 1, c, x, 4, out) == BSBASIS_ERROR_COLUMNS,
        "uniform_evaluate n < order");
  CHECK(bsbasis_uniform_evaluate(0.0, 1.0, 8, 4, INT_MIN, 1, c, x, 4, out) ==
            BSBASIS_ERROR_ORDER, "uniform_evaluate nu INT_MIN");
  CHECK(bsbasis_uniform_evaluate(0.0, 1.0, 8, 4, 0, INT_MAX, c, x, 4, out) ==
            BSBASIS_ERROR_MODE, "uniform_evaluate mode INT_MAX");
  CHECK(bsbasis_uniform_evaluate(0.0, 1.0, 8, 4, 0, 1, c, x, -1, out) == BSBASIS_ERROR_COUNT,
        "uniform_evaluate nx -1");
  {
    int64_t count = 0, bad = -7;
    CHECK(bsbasis_uniform_normal_equations(0.0, 1.0, 8, 4, 0, 1, x, y, NULL, 4, ab, NULL, sums,
                                           &count, &bad) == BSBASIS_ERROR_NULL && bad == -1,
          "uniform_normal_equations y without rhs");
    bad = -7;
    CHECK(bsbasis_uniform_normal_equations(0.0, 1.0, INT64_MAX, 4, 0, 1, x, y, NULL, 4, ab, rhs,
                                           sums, &count, &bad) == BSBASIS_ERROR_COLUMNS &&
              bad == -1, "uniform_normal_equations n INT64_MAX");
    bad = -7;
    y[2] = INFINITY;
    CHECK(bsbasis_uniform_normal_equations(0.0, 1.0, 8, 4, 0, 1, x, y, NULL, 4, ab, rhs, sums,
                                           &count, &bad) == BSBASIS_ERROR_DATA && bad == 2,
          "uniform_normal_equations infinite response in range");
    CHECK(count == 0, "uniform_normal_equations counted on failure");
  }
  free(x);
  free(y);
  free(w);
  free(ab);
  free(rhs);
  free(sums);
  free(c);
  free(out);
}

/* Dense rows from blocks: hostile orders, counts and strides, and blocks
 * whose columns fall anywhere; the buffer is exactly as large as the strides
 * claim, and every valid call writes the window of each row whole. */
static void drive_blocks_to_dense(void) {
  static const int64_t counts[] = {INT64_MIN, -1, 0, 1, 3, 7};
  static const int64_t strides[] = {INT64_MIN, -1, 0, 1, 2, 9, INT64_MAX};
  int o, a, b, r, c, q;
  for (o = 0; o < 8; ++o)
    for (a = 0; a < 6; ++a)
      for (b = 0; b < 6; ++b)
        for (r = 0; r < 7; ++r)
          for (c = 0; c < 7; ++c) {
            const int order = orders[o];
            const int64_t nx = counts[a], ncols = counts[b];
            const int64_t rs = strides[r], cs = strides[c];
            const int valid = order >= 1 && nx >= 0 && ncols >= 0 && rs >= 0 && cs >= 1 &&
                              order <= 64 && (nx <= 1 || rs <= 9) && (ncols <= 1 || cs <= 9);
            const long n = order >= 1 && order <= 64 && nx > 0 ? (long)(nx * order) : 0;
            const long size =
                valid && nx > 0 && ncols > 0 ? (long)((nx - 1) * rs + (ncols - 1) * cs + 1) : 0;
            int32_t *j = alloc_n(n, sizeof *j);
            double *B = alloc_n(n, sizeof *B);
            double *out = alloc_n(size, sizeof *out);
            int st;
            long e;
            for (q = 0; q < n; ++q) {
              j[q] = (int32_t)(q * 5 % 11) - 2;
              B[q] = q % 3 == 0 ? NAN : 0.5 * q;
            }
            for (e = 0; e < size; ++e) out[e] = -7.0;
            if (!valid && order <= 64) {
              /* Invalid: refused before anything is written, or too big to
               * address (huge strides): refused as a count. */
              st = bsbasis_blocks_to_dense(order, j, B, nx, ncols, out, rs, cs);
              CHECK(st != BSBASIS_OK || nx == 0 || ncols == 0 || order > 64,
                    "blocks_to_dense order %d nx %ld ncols %ld strides %ld %ld: %d", order,
                    (long)nx, (long)ncols, (long)rs, (long)cs, st);
            } else if (valid) {
              int64_t p, col;
              st = bsbasis_blocks_to_dense(order, j, B, nx, ncols, out, rs, cs);
              CHECK(st == BSBASIS_OK, "blocks_to_dense valid: %d", st);
              /* Rows may overlap (row stride below the window): the last
               * row written over a position is the one that holds it. */
              p = nx - 1;
              if (nx > 0)
                for (col = 0; col < ncols; ++col) {
                  double want = 0.0;
                  for (q = 0; q < order; ++q)
                    if (j[p * order + q] == col) want = want + B[p * order + q];
                  CHECK(out[p * rs + col * cs] == want ||
                            (want != want && out[p * rs + col * cs] != out[p * rs + col * cs]),
                        "blocks_to_dense value row %ld column %ld", (long)p, (long)col);
                }
            }
            free(j);
            free(B);
            free(out);
          }
  CHECK(bsbasis_blocks_to_dense(4, NULL, NULL, 2, 3, NULL, 3, 1) == BSBASIS_ERROR_NULL,
        "blocks_to_dense NULL");
}

/* Models of several terms: each of the four calls on terms, margins and
 * tables at and beyond their limits, every array a heap block of exactly
 * the size the call may touch.  A status is OK or one of the codes; a row
 * or term named lies among the call's. */
static long model_sums_ok, model_irls_ok;

static void model_call(const bsbasis_term *terms, int64_t nterms, int64_t nrows, int64_t ncols,
                       int64_t rs, int64_t cs, int start) {
  const int valid_table = nrows >= 0 && nrows <= 6 && ncols >= 0 && ncols <= 4 && rs >= 0 &&
                          rs <= 5 && cs >= 0 && cs <= 6;
  const long size =
      valid_table && nrows > 0 && ncols > 0 ? (long)((nrows - 1) * rs + (ncols - 1) * cs + 1) : 0;
  const long rows = valid_table ? (long)nrows : 0;
  double *x = alloc_n(size, sizeof *x);
  double *y = alloc_n(rows, sizeof *y), *w = alloc_n(rows, sizeof *w);
  int64_t p = -1, bad_row, bad_term, count = 0;
  long e;
  int st, fam;
  for (e = 0; e < size; ++e)
    x[e] = e % 4 == start % 4 ? hostile_x[(start + e) % n_hostile_x] : (double)(e % 3);
  for (e = 0; e < rows; ++e) {
    y[e] = (e + start) % 5 == 0 ? hostile_x[(start + e) % n_hostile_x] : 0.5 * (e % 3);
    w[e] = (e + start) % 7 == 0 ? -1.0 : 1.0;
  }
  st = bsbasis_model_columns(terms, nterms, ncols, &p, &bad_term);
  CHECK(st <= 0 && st >= BSBASIS_ERROR_MEMORY, "model_columns status %d", st);
  CHECK(bad_term >= -1 && bad_term < (nterms > 0 ? nterms : 0), "model_columns term %ld",
        (long)bad_term);
  if (st != BSBASIS_OK || p > 200) p = 1;
  {
    double *G = alloc_n((long)(p * p), sizeof *G), *rhs = alloc_n((long)p, sizeof *rhs);
    double *colsums = alloc_n((long)p, sizeof *colsums), *coef = alloc_n((long)p, sizeof *coef);
    double *fit = alloc_n(rows, sizeof *fit), *var = alloc_n(rows, sizeof *var);
    double sums[3] = {0.0, 0.0, 0.0};
    for (e = 0; e < p * p; ++e) G[e] = 0.0;
    for (e = 0; e < p; ++e) rhs[e] = colsums[e] = 0.0, coef[e] = 0.25 * (e % 3);
    st = bsbasis_model_normal_equations(terms, nterms, x, nrows, ncols, rs, cs, y,
                                        start % 2 ? w : NULL, G, rhs, sums, &count, &bad_row,
                                        &bad_term);
    CHECK(st <= 0 && st >= BSBASIS_ERROR_MEMORY, "model_normal_equations status %d", st);
    model_sums_ok += st == BSBASIS_OK && nrows > 0;
    CHECK(bad_row >= -1 && bad_row < (nrows > 0 ? nrows : 0), "model sums row %ld",
          (long)bad_row);
    st = bsbasis_model_evaluate(terms, nterms, x, nrows, ncols, rs, cs, coef, G, fit,
                                start % 3 ? var : NULL, &bad_row, &bad_term);
    CHECK(st <= 0 && st >= BSBASIS_ERROR_MEMORY, "model_evaluate status %d", st);
    for (fam = -1; fam <= 3; ++fam) {
      st = bsbasis_model_irls(terms, nterms, x, nrows, ncols, rs, cs, fam,
                              fam % 2 ? coef : NULL, y, start % 2 ? w : NULL, G, rhs, sums,
                              start % 3 ? colsums : NULL, &count, &bad_row, &bad_term);
      CHECK(st <= 0 && st >= BSBASIS_ERROR_MEMORY, "model_irls status %d", st);
      model_irls_ok += st == BSBASIS_OK && nrows > 0;
      CHECK(fam >= 0 && fam <= 2 ? 1 : st != BSBASIS_OK, "model_irls family %d: %d", fam, st);
      CHECK(bad_term >= -1 && bad_term < (nterms > 0 ? nterms : 0), "model_irls term %ld",
            (long)bad_term);
    }
    free(G), free(rhs), free(colsums), free(coef), free(fit), free(var);
  }
  free(x), free(y), free(w);
}

static void drive_models(void) {
  static const int kinds[] = {-1, BSBASIS_TERM_INTERCEPT, BSBASIS_TERM_LINEAR,
                              BSBASIS_TERM_FACTOR, BSBASIS_TERM_SPLINE, 9};
  static const int mkinds[] = {-1, BSBASIS_MARGIN_KNOTS, BSBASIS_MARGIN_UNIFORM,
                               BSBASIS_MARGIN_PERIODIC, 5};
  static const int64_t columns[] = {-1, 0, 2, INT64_MAX};
  static const int64_t levels[] = {-1, 0, 3};
  static const int ds[] = {-1, 0, 1, 2, 3, 4};
  static const int64_t nrows[] = {INT64_MIN, -1, 0, 1, 5};
  static const int64_t strides[] = {-1, 0, 1, 3, INT64_MAX};
  const double knots[] = {0, 0, 0, 0, 1, 2, 3, 3, 3, 3};
  const double breaks[] = {0, 0.5, 1.5, 2, 3};
  double *t = alloc_n(COUNT(knots), sizeof *t), *u = alloc_n(COUNT(breaks), sizeof *u);
  int a, b, c, k, m, r, start = 0;
  memcpy(t, knots, sizeof knots);
  memcpy(u, breaks, sizeof breaks);
  for (k = 0; k < COUNT(kinds); ++k)
    for (m = 0; m < COUNT(mkinds); ++m)
      for (a = 0; a < COUNT(ds); ++a)
        for (c = 0; c < COUNT(columns); ++c) {
          const int d = ds[a], nm = d >= 1 && d <= 3 ? d : 3;
          bsbasis_margin *g = alloc_n(nm, sizeof *g);
          bsbasis_term *terms = alloc_n(2, sizeof *terms);
          for (b = 0; b < nm; ++b) {
            memset(&g[b], 0, sizeof g[b]);
            g[b].kind = mkinds[(m + b) % COUNT(mkinds)];
            g[b].order = orders[(k + b + a) % COUNT(orders)];
            g[b].nu = (int)((b + c) % 3) - 1;
            g[b].extrapolate = (k + b) % 7;
            g[b].t = g[b].kind == BSBASIS_MARGIN_PERIODIC ? u : t;
            g[b].nt = g[b].kind == BSBASIS_MARGIN_PERIODIC ? COUNT(breaks) : COUNT(knots);
            g[b].nj = 6 - b;
            g[b].origin = -1.0;
            g[b].spacing = b == 2 ? 0.0 : 0.5;
            g[b].column = b == 1 ? columns[c] : b;
          }
          memset(terms, 0, 2 * sizeof *terms);
          terms[0].kind = BSBASIS_TERM_INTERCEPT;
          terms[1].kind = kinds[k];
          terms[1].d = d;
          terms[1].margins = a == 0 ? NULL : g;
          terms[1].column = columns[c];
          terms[1].nlevels = levels[(k + c) % COUNT(levels)];
          for (r = 0; r < COUNT(nrows); ++r)
            model_call(terms, 2, nrows[r], 3, (r + c) % 2 ? 3 : 1,
                       (r + c) % 2 ? 1 : (nrows[r] > 0 ? nrows[r] : 1), start++);
          model_call(terms, 2, 4, 3, strides[c % COUNT(strides)],
                     strides[(c + k) % COUNT(strides)], start++);
          model_call(NULL, 2, 2, 3, 3, 1, start++);
          model_call(terms, -1, 2, 3, 3, 1, start++);
          free(g);
          free(terms);
        }
  free(t);
  free(u);
  /* The driver reached the sums, not only the checks. */
  CHECK(model_sums_ok > 0 && model_irls_ok > 0, "models: %ld sums, %ld steps ran", model_sums_ok,
        model_irls_ok);
}

static void drive_strerror(void) {
  const int codes[] = {INT_MIN, -10, -9, -8, -7, -6, -5, -4, -3, -2, -1, 0, 1, INT_MAX};
  for (int c = 0; c < COUNT(codes); ++c) {
    const char *s = bsbasis_strerror(codes[c]);
    CHECK(s && s[0] != '\0', "strerror(%d)", codes[c]);
    CHECK(s == bsbasis_strerror(codes[c]), "strerror(%d) not fixed", codes[c]);
  }
}

int main(void) {
  init_hostile_x();
  drive_blossom();
  drive_blossom_grid();
  drive_deriv_grid();
  drive_search();
  drive_test();
  drive_heap_scratch();
  drive_design();
  drive_uniform();
  drive_periodic();
  drive_tensor();
  drive_penalties();
  drive_make_knots();
  drive_normal();
  drive_uniform_normal();
  drive_normal_faults();
  drive_blocks_to_dense();
  drive_models();
  drive_strerror();
  printf("hostile_driver: %ld checks, %d failures\n", checks, failures);
  return failures ? 1 : 0;
}

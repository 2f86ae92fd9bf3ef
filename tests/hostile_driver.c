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
  drive_strerror();
  printf("hostile_driver: %ld checks, %d failures\n", checks, failures);
  return failures ? 1 : 0;
}

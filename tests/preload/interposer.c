/*
 * An object that defines the library's exported names with wrong answers,
 * for tests that preload it (LD_PRELOAD): a library that calls its own
 * exports through the dynamic linker would get these instead of its own
 * code.  Every value written is 168, every index 0, every status
 * BSBASIS_ERROR_MEMORY.  Built twice: with the six original names only, and
 * with BSBASIS_INTERPOSE_ALL also every bsbasis_* function of bsbasis.h.
 */
#include <stdint.h>

#include "bsbasis.h"

#define WRONG 168.0

static void wrong_blocks(int *i, int *j, double *B, int N) {
  for (int e = 0; e < N; ++e) {
    if (i) i[e] = 0;
    if (j) j[e] = 0;
    B[e] = WRONG;
  }
}

void blossom(double *x, int nx, int *i, int *j, double *B, int N, int order_stop, int order,
             int nj) {
  (void)x, (void)nx, (void)order_stop, (void)order, (void)nj;
  wrong_blocks(i, j, B, N);
}

void blossom_grid(double *t, int nt, double *x, int nx, int *i, int *j, double *B, int N,
                  int order_stop, int order, int nj) {
  (void)t, (void)nt, (void)x, (void)nx, (void)order_stop, (void)order, (void)nj;
  wrong_blocks(i, j, B, N);
}

void deriv_grid(double *t, int nt, int *i, int *j, double *B, int N, int nx, int order) {
  (void)t, (void)nt, (void)i, (void)j, (void)nx, (void)order;
  wrong_blocks(0, 0, B, N);
}

int binary_search_with_guess(double key, double *arr, int len, int guess) {
  (void)key, (void)arr, (void)len, (void)guess;
  return 0;
}

void binary_search(double *key, int *index, int N, double *arr, int len) {
  (void)key, (void)arr, (void)len;
  for (int e = 0; e < N; ++e) index[e] = 0;
}

void test(double *x, int nx, double *grid, int ngrid, int *j, double *B, int N, int order) {
  (void)x, (void)nx, (void)grid, (void)ngrid, (void)order;
  wrong_blocks(0, j, B, N);
}

#ifdef BSBASIS_INTERPOSE_ALL
#define REFUSE return BSBASIS_ERROR_MEMORY

const char *bsbasis_strerror(int status) {
  (void)status;
  return "interposed";
}

int bsbasis_design(const double *t, int64_t nt, int32_t order, int64_t nj, int32_t nu,
                   int32_t extrapolate, const double *x, int64_t nx, int32_t *i, int32_t *j,
                   double *B, int64_t *nempty) {
  (void)t, (void)nt, (void)order, (void)nj, (void)nu, (void)extrapolate, (void)x, (void)nx;
  (void)i, (void)j, (void)B, (void)nempty;
  REFUSE;
}

int bsbasis_uniform_design(double origin, double spacing, int64_t n, int32_t order, int32_t nu,
                           int32_t extrapolate, const double *x, int64_t nx, int32_t *i,
                           int32_t *j, double *B, int64_t *nempty) {
  (void)origin, (void)spacing, (void)n, (void)order, (void)nu, (void)extrapolate, (void)x;
  (void)nx, (void)i, (void)j, (void)B, (void)nempty;
  REFUSE;
}

int bsbasis_periodic_design(const double *breaks, int64_t nbreaks, int32_t order, int32_t nu,
                            const double *x, int64_t nx, int32_t *i, int32_t *j, double *B,
                            int64_t *nempty) {
  (void)breaks, (void)nbreaks, (void)order, (void)nu, (void)x, (void)nx, (void)i, (void)j;
  (void)B, (void)nempty;
  REFUSE;
}

int bsbasis_tensor_design(int32_t d, const double *const *t, const int64_t *nt,
                          const int32_t *order, const int64_t *nj, const int32_t *nu,
                          int32_t extrapolate, const double *x, int64_t npts, int32_t *i,
                          int32_t *j32, int64_t *j64, double *B, int64_t *nempty) {
  (void)d, (void)t, (void)nt, (void)order, (void)nj, (void)nu, (void)extrapolate, (void)x;
  (void)npts, (void)i, (void)j32, (void)j64, (void)B, (void)nempty;
  REFUSE;
}

int bsbasis_difference_penalty(int64_t n, int32_t order, double *ab) {
  (void)n, (void)order, (void)ab;
  REFUSE;
}

int bsbasis_derivative_penalty(const double *t, int64_t nt, int32_t order, int64_t nj,
                               int32_t m, double *ab) {
  (void)t, (void)nt, (void)order, (void)nj, (void)m, (void)ab;
  REFUSE;
}

int bsbasis_make_knots(const double *x, int64_t nx, const double *weights, int64_t n_knots,
                       int32_t order, int32_t kind, int32_t boundary, double *t) {
  (void)x, (void)nx, (void)weights, (void)n_knots, (void)order, (void)kind, (void)boundary;
  (void)t;
  REFUSE;
}

int bsbasis_normal_equations(const double *t, int64_t nt, int32_t order, int64_t nj,
                             int32_t nu, int32_t extrapolate, const double *x, const double *y,
                             const double *w, int64_t nx, double *ab, double *rhs,
                             double *sums, int64_t *count, int64_t *bad_row) {
  (void)t, (void)nt, (void)order, (void)nj, (void)nu, (void)extrapolate, (void)x, (void)y;
  (void)w, (void)nx, (void)ab, (void)rhs, (void)sums, (void)count, (void)bad_row;
  REFUSE;
}

int bsbasis_uniform_normal_equations(double origin, double spacing, int64_t n, int32_t order,
                                     int32_t nu, int32_t extrapolate, const double *x,
                                     const double *y, const double *w, int64_t nx, double *ab,
                                     double *rhs, double *sums, int64_t *count,
                                     int64_t *bad_row) {
  (void)origin, (void)spacing, (void)n, (void)order, (void)nu, (void)extrapolate, (void)x;
  (void)y, (void)w, (void)nx, (void)ab, (void)rhs, (void)sums, (void)count, (void)bad_row;
  REFUSE;
}

int bsbasis_evaluate(const double *t, int64_t nt, int32_t order, int64_t nj, int32_t nu,
                     int32_t extrapolate, const double *c, const double *x, int64_t nx,
                     double *out) {
  (void)t, (void)nt, (void)order, (void)nj, (void)nu, (void)extrapolate, (void)c, (void)x;
  (void)nx, (void)out;
  REFUSE;
}

int bsbasis_uniform_evaluate(double origin, double spacing, int64_t n, int32_t order,
                             int32_t nu, int32_t extrapolate, const double *c, const double *x,
                             int64_t nx, double *out) {
  (void)origin, (void)spacing, (void)n, (void)order, (void)nu, (void)extrapolate, (void)c;
  (void)x, (void)nx, (void)out;
  REFUSE;
}

int bsbasis_blocks_to_dense(int32_t order, const int32_t *j, const double *B, int64_t nx,
                            int64_t ncols, double *out, int64_t row_stride, int64_t col_stride) {
  (void)order, (void)j, (void)B, (void)nx, (void)ncols, (void)out, (void)row_stride;
  (void)col_stride;
  REFUSE;
}

int bsbasis_check_knots(const double *t, int64_t nt, int32_t order, int64_t nj, int32_t *rule,
                        int64_t *index) {
  (void)t, (void)nt, (void)order, (void)nj, (void)rule, (void)index;
  REFUSE;
}

int bsbasis_natural_design(double lo, double hi, const double *knots, int64_t nknots,
                           int32_t intercept, int32_t nu, const double *x, int64_t nx, int32_t *i,
                           int32_t *j, double *B, int64_t *nempty) {
  (void)lo, (void)hi, (void)knots, (void)nknots, (void)intercept, (void)nu, (void)x, (void)nx;
  (void)i, (void)j, (void)B, (void)nempty;
  REFUSE;
}
#endif

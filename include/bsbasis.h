/*
 * bsbasis: B-spline basis kernels behind a plain C ABI.
 *
 * Every evaluation kernel writes a sparse design matrix in triplet form into
 * three caller-owned parallel arrays of nx*order entries each:
 *
 *   i  row index (the 0-based number of the abscissa), int32
 *   j  column index (the number of the basis function),  int32
 *   B  value,                                           double
 *
 * The entries of abscissa p form its block, positions p*order + q for
 * q = 0 .. order-1, with columns J-order+1 .. J from bottom to top, where J
 * is the knot interval that holds the abscissa.  The caller zero-fills B
 * before an evaluation call; the kernels never clear it.
 *
 * An abscissa is in range when its interval J lies in order-1 .. nj-1.  Any
 * other abscissa, NaN and +-inf included, gets an out-of-range block: row p,
 * column 0 and value 0 at every position (the sign of a zero is not part of
 * the contract).
 *
 * The library keeps no state, validates nothing and reports nothing: the
 * caller keeps to the limits stated below.  Outside them no call reads or
 * writes outside the arrays it was given.  All functions are re-entrant.
 *
 * Scratch memory: blossom_grid and deriv_grid keep small tables on the
 * stack and may take larger ones from malloc, in proportion to the
 * abscissae of the call and never to the number of knots; they free them
 * before they return.  Without that memory they form the same values
 * another way: a failed allocation changes no bit of the result.
 *
 * Exactness: every value is formed with one rounding per operation in a
 * fixed order, so the output is the same bits on every machine, compiler
 * and instruction set (tests/known_answers.txt records them).
 */
#ifndef BSBASIS_H
#define BSBASIS_H

/*
 * The version of this header: major, minor and patch, as a string, and as
 * one number (10000 * major + 100 * minor + patch) for comparisons in #if.
 */
#define BSBASIS_VERSION_MAJOR 0
#define BSBASIS_VERSION_MINOR 1
#define BSBASIS_VERSION_PATCH 0
#define BSBASIS_VERSION_STRING "0.1.0"
#define BSBASIS_VERSION \
  (BSBASIS_VERSION_MAJOR * 10000 + BSBASIS_VERSION_MINOR * 100 + BSBASIS_VERSION_PATCH)

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Basis of order `order` on the uniform integer grid (knot m at the value m)
 * at the nx abscissae x, stopped at order `order_stop` (order_stop > order
 * acts as order).  Writes nx*order entries of i, j, B.  After the call the
 * top order_stop positions of an in-range block hold the order_stop values;
 * lower positions keep what the caller put there.  In range: order-1 <= x <
 * nj.  N is not read.
 */
void blossom(double *x, int nx, int *i, int *j, double *B, int N,
             int order_stop, int order, int nj);

/*
 * Basis of order `order` on the non-decreasing knots t[0 .. nt-1] at the nx
 * abscissae x (any order), stopped at order `order_stop` as for blossom.
 * nj is the number of basis functions, nt - order for the full basis; the
 * caller keeps nj <= nt - 1.  In range: the interval J of x (the largest m
 * with t[m] <= x) lies in order-1 .. nj-1, so x equal to the last knot is out
 * of range.  Writes nx*order entries of i, j, B.  N is not read.
 */
void blossom_grid(double *t, int nt, double *x, int nx, int *i, int *j,
                  double *B, int N, int order_stop, int order, int nj);

/*
 * First derivatives of the order-`order` basis on the knots t, in place:
 * i, j and B as blossom_grid left them with order_stop = order - 1 (and
 * the same t, nt, nx, order).  Rewrites B with the derivative of the basis
 * function in column j at each position; i and j are not changed.  Exact
 * for nj <= nt - order + 1.  An entry whose column lies outside 0 .. nt-1
 * comes out 0.  i and N are not read.
 */
void deriv_grid(double *t, int nt, int *i, int *j, double *B, int N, int nx,
                int order);

/*
 * Interval index of key in the sorted arr[0 .. len-1]: -1 below arr[0], len
 * above arr[len-1], otherwise the largest m with arr[m] <= key.  The search
 * starts from `guess` (any value; it is clamped).  len <= 0 answers -1.
 */
int binary_search_with_guess(double key, double *arr, int len, int guess);

/*
 * Interval indices of the N keys in arr, each search guessed from the answer
 * before it; writes index[0 .. N-1].  Keys need not be sorted.
 */
void binary_search(double *key, int *index, int N, double *arr, int len);

/*
 * Order-1 block values from prepared columns: for every entry e < N, with
 * r = e mod order, B[e] = 1.0 if r == order-1 else 0.0, and j[e] += r - order.
 * x, nx, grid and ngrid are not read.  N <= 0 or order <= 0 writes nothing.
 */
void test(double *x, int nx, double *grid, int ngrid, int *j, double *B, int N,
          int order);

/* ------------------------------------------------------------------------
 * The extension API.
 *
 * Functions prefixed bsbasis_ check every argument before they write
 * anything and return a status: BSBASIS_OK (0) or one of the negative codes
 * below, which bsbasis_strerror describes.  Counts and offsets are 64-bit.
 * A non-zero status leaves the output arrays in an unspecified state but
 * never writes outside them.  Like the functions above they keep no state
 * and are re-entrant; any scratch memory they take is freed before they
 * return, and a failed allocation is reported as BSBASIS_ERROR_MEMORY.
 *
 * Knots: t[0 .. nt-1] finite and non-decreasing, nt <= INT32_MAX, with
 * nt >= 2*order, order <= nj <= nt - order, t[order-1] < t[nj] (the base
 * interval [t[order-1], t[nj]] is not empty), every span t[c+w] - t[c] finite
 * and every positive gap between knots at least 1/DBL_MAX.
 *
 * Evaluation output: every abscissa p writes its block, the `order` entries
 * p*order .. p*order + order-1 of i (the row p; i may be NULL), j (the
 * column) and B (the value), columns increasing within the block.  Derivative
 * order nu >= 0; nu >= order gives zeros in the block's columns.  A row that
 * is empty (see the modes) has column -1 and value 0 at every position; the
 * number of empty rows goes to *nempty when nempty is not NULL.
 * ------------------------------------------------------------------------ */

/* Status codes. */
#define BSBASIS_OK 0
#define BSBASIS_ERROR_NULL (-1)       /* a required pointer is NULL */
#define BSBASIS_ERROR_COUNT (-2)      /* a count is negative or too large */
#define BSBASIS_ERROR_ORDER (-3)      /* order or derivative order out of range */
#define BSBASIS_ERROR_KNOTS (-4)      /* knots unusable (see above) */
#define BSBASIS_ERROR_COLUMNS (-5)    /* nj out of range */
#define BSBASIS_ERROR_MODE (-6)       /* an unknown mode, kind or boundary */
#define BSBASIS_ERROR_RANGE (-7)      /* an abscissa outside the base interval */
#define BSBASIS_ERROR_DATA (-8)       /* data unusable for the request */
#define BSBASIS_ERROR_MEMORY (-9)     /* a scratch allocation failed */

/* A fixed, static description of a status code (any int). */
const char *bsbasis_strerror(int status);

/* Which rule a basis on knots (t, nt, order, nj) breaks, for a message that
 * names it: every function taking such a basis checks these rules, in this
 * order, and returns the status given with each.
 *   ORDER       order < 1                                  ERROR_ORDER
 *   KNOT_COUNT  nt < 0 or nt > INT32_MAX                   ERROR_COUNT
 *   NULL_KNOTS  t is NULL                                  ERROR_NULL
 *   TOO_FEW     nt < 2*order                               ERROR_KNOTS
 *   COLUMNS     nj outside order .. nt - order             ERROR_COLUMNS
 *   NOT_FINITE  t[index] is not finite                     ERROR_KNOTS
 *   DECREASING  t[index] < t[index-1] (NaN-free)           ERROR_KNOTS
 *   TOO_CLOSE   0 < t[index] - t[index-1] < 1/DBL_MAX      ERROR_KNOTS
 *   SPAN        t[nt-1] - t[0] overflows                   ERROR_KNOTS
 *   EMPTY_BASE  t[order-1] == t[nj]                        ERROR_KNOTS
 * For the knot rules the first knot at fault is reported, scanning t from
 * index 1 (NOT_FINITE from index 0). */
#define BSBASIS_RULE_NONE 0
#define BSBASIS_RULE_ORDER 1
#define BSBASIS_RULE_KNOT_COUNT 2
#define BSBASIS_RULE_NULL_KNOTS 3
#define BSBASIS_RULE_TOO_FEW 4
#define BSBASIS_RULE_COLUMNS 5
#define BSBASIS_RULE_NOT_FINITE 6
#define BSBASIS_RULE_DECREASING 7
#define BSBASIS_RULE_TOO_CLOSE 8
#define BSBASIS_RULE_SPAN 9
#define BSBASIS_RULE_EMPTY_BASE 10

/* Checks a basis on knots as bsbasis_design does and returns the same
 * status.  *rule (when rule is not NULL) gets the rule broken, or
 * BSBASIS_RULE_NONE; *index (when not NULL) the index in t of the knot at
 * fault for NOT_FINITE, DECREASING and TOO_CLOSE, else -1.  Reads t only
 * when nt is in range and t is not NULL. */
int bsbasis_check_knots(const double *t, int64_t nt, int32_t order, int64_t nj,
                        int32_t *rule, int64_t *index);

/* What an abscissa outside the base interval [lo, hi] = [t[order-1], t[nj]]
 * gets.  The interval is closed: at hi a row holds the limits from the left
 * (except under PERIODIC, where hi is lo, as the period makes it).  NaN is
 * never extrapolated: it gives an empty row in every mode but ERROR.
 *   ERROR     status BSBASIS_ERROR_RANGE (NaN and +-inf included)
 *   ZERO      an empty row
 *   CONTINUE  the end polynomial pieces, continued (+-inf: an empty row)
 *   CONSTANT  the block at the nearest end; derivatives 0
 *   LINEAR    value and first derivative at the nearest end, continued
 *             linearly; second and higher derivatives 0 (+-inf: empty row)
 *   PERIODIC  every x wrapped to lo + (x - lo) mod (hi - lo), the
 *             remainder as numpy forms it (+-inf: an empty row) */
#define BSBASIS_EXTRAPOLATE_ERROR 0
#define BSBASIS_EXTRAPOLATE_ZERO 1
#define BSBASIS_EXTRAPOLATE_CONTINUE 2
#define BSBASIS_EXTRAPOLATE_CONSTANT 3
#define BSBASIS_EXTRAPOLATE_LINEAR 4
#define BSBASIS_EXTRAPOLATE_PERIODIC 5

/* Basis functions (nu = 0) or their nu-th derivatives on the knots t, nj
 * columns, at the nx abscissae x (any order).  i may be NULL; nx*order
 * entries of i, j, B are written.  nx <= INT32_MAX when i is given. */
int bsbasis_design(const double *t, int64_t nt, int32_t order, int64_t nj, int32_t nu,
                   int32_t extrapolate, const double *x, int64_t nx, int32_t *i,
                   int32_t *j, double *B, int64_t *nempty);

/* The same on the uniform knots origin + m*spacing, m = 0 .. n + order - 1:
 * n columns, base interval [origin + (order-1)*spacing, origin + n*spacing].
 * An abscissa is placed among the knots as they round in floating point.
 * Requires n >= order, n + order <= INT32_MAX, finite origin, a finite
 * positive spacing above twice the resolution of the knots, and a finite
 * last knot. */
int bsbasis_uniform_design(double origin, double spacing, int64_t n, int32_t order,
                           int32_t nu, int32_t extrapolate, const double *x, int64_t nx,
                           int32_t *i, int32_t *j, double *B, int64_t *nempty);

/* Natural cubic splines on the boundary knots lo < hi and the interior
 * knots knots[0 .. nknots-1] (finite, non-decreasing, lo < knots[k] < hi):
 * the cubic B-splines on lo (4 times), the interior knots and hi (4 times),
 * without the first when intercept is 0, projected onto the functions whose
 * second derivative is 0 at lo and at hi, as R's splines::ns does (the same
 * Householder reflections, so the same columns): nknots + 1 + (intercept
 * != 0) columns.  Beyond [lo, hi] each function continues linearly (its
 * value and slope at the nearer boundary knot, as ns); at hi the limit from
 * the left.  nu-th derivatives for any nu >= 0 (beyond [lo, hi]: the slope
 * for nu = 1, 0 for nu >= 2).  Each row takes BSBASIS_NATURAL_WIDTH entries
 * of i, j, B at p*BSBASIS_NATURAL_WIDTH: its non-zero columns first, in
 * increasing order, then unused entries of column -1 and value 0.  NaN and
 * +-inf give empty rows (every column -1), counted in *nempty.  i may be
 * NULL; nx <= INT32_MAX when it is given. */
#define BSBASIS_NATURAL_WIDTH 7
int bsbasis_natural_design(double lo, double hi, const double *knots, int64_t nknots,
                           int32_t intercept, int32_t nu, const double *x, int64_t nx,
                           int32_t *i, int32_t *j, double *B, int64_t *nempty);

/* Periodic basis on the strictly increasing breaks u[0 .. m] (nbreaks = m+1,
 * finite): period u[m] - u[0], m columns, m >= order.  The knots continue
 * the breaks periodically on both sides and a basis function that leaves
 * the period on the right wraps to the columns on the left.  Any finite x
 * is in range (wrapped into [u[0], u[m]) as under PERIODIC); NaN and +-inf
 * give empty rows. */
int bsbasis_periodic_design(const double *breaks, int64_t nbreaks, int32_t order,
                            int32_t nu, const double *x, int64_t nx, int32_t *i,
                            int32_t *j, double *B, int64_t *nempty);

/* Tensor-product basis of d >= 1 bases (knots t[a], nt[a], order[a], nj[a],
 * derivative order nu[a], nu may be NULL for values) at the npts points x,
 * row-major npts x d.  Row p is the Kronecker product of the d rows of
 * x[p*d + 0], ..., x[p*d + d-1]: entries per row E = order[0]*...*order[d-1],
 * the last basis varying fastest; column ((c0*nj[1] + c1)*nj[2] + c2)...;
 * value ((b0*b1)*b2)....  The row is empty when any of its d rows is.
 * Exactly one of j32, j64 is given; j32 needs nj[0]*...*nj[d-1] <=
 * INT32_MAX.  npts*E entries are written (i may be NULL; npts <=
 * INT32_MAX when it is given).  d <= 64. */
int bsbasis_tensor_design(int32_t d, const double *const *t, const int64_t *nt,
                          const int32_t *order, const int64_t *nj, const int32_t *nu,
                          int32_t extrapolate, const double *x, int64_t npts, int32_t *i,
                          int32_t *j32, int64_t *j64, double *B, int64_t *nempty);

/* Banded symmetric matrices are written in the upper form of LAPACK's
 * band storage: ab[(u + r - c)*n + c] = A[r][c] for r <= c, an array of
 * (u + 1) x n doubles, row-major, u the bandwidth.  The positions that
 * hold no element (r < 0, in the top-left corner) are 0. */

/* D^T D for the difference matrix D of order `order` (1 .. 4) on n >= 1
 * coefficients, banded with u = order: ab holds (order + 1)*n doubles.
 * Zero when n <= order. */
int bsbasis_difference_penalty(int64_t n, int32_t order, double *ab);

/* The Gram matrix of the m-th derivatives of the nj basis functions on the
 * knots t over the base interval: G[r][c] = integral over [t[order-1], t[nj]]
 * of B_r^(m) B_c^(m), by Gauss-Legendre quadrature with order - m points per
 * knot interval, exact up to rounding.  m >= 0; m >= order gives zeros.
 * Banded with u = order - 1: ab holds order*nj doubles. */
int bsbasis_derivative_penalty(const double *t, int64_t nt, int32_t order, int64_t nj,
                               int32_t m, double *ab);

/* Knots from data, written to t[0 .. n_knots + 2*(order-1) - 1].  The
 * n_knots >= 2 base knots run from min to max of the abscissae x with
 * positive weight (weights may be NULL: all 1), equally spaced (UNIFORM)
 * or at weighted quantiles (QUANTILE).  The order - 1 knots beyond each end
 * repeat it (CLAMPED) or continue the spacing of the end interval
 * (EXTENDED).  BSBASIS_ERROR_DATA when x or a weight is not finite, a
 * weight is negative, the weights' sum overflows, fewer than 2 distinct
 * abscissae have weight, or a knot would not be finite (data spanning more
 * than a double holds, or ends continued beyond it). */
#define BSBASIS_KNOTS_UNIFORM 0
#define BSBASIS_KNOTS_QUANTILE 1
#define BSBASIS_BOUNDARY_CLAMPED 0
#define BSBASIS_BOUNDARY_EXTENDED 1
int bsbasis_make_knots(const double *x, int64_t nx, const double *weights, int64_t n_knots,
                       int32_t order, int32_t kind, int32_t boundary, double *t);

/* ------------------------------------------------------------------------
 * Normal equations and spline values, without a design matrix.
 *
 * bsbasis_normal_equations ADDS to its outputs the weighted sums of the
 * basis rows X[p] (values or nu-th derivatives, as bsbasis_design forms
 * them) over the abscissae x[0 .. nx-1], so that calls may be chained:
 *
 *   ab   += X^T W X   banded, u = order - 1: order*nj doubles, laid out as
 *                     the penalties above (scipy's solveh_banded upper form)
 *   rhs  += X^T W y   nj doubles             (required with y; without y it is
 *                                            neither read nor written)
 *   sums[0] += y^T W y, sums[1] += sum of w  (sums[0] only when y is given)
 *   *count  += the rows that are not empty (the abscissae in range)
 *
 * w may be NULL (every weight 1); weights must be finite and >= 0.  Only
 * rows that are not empty contribute, so y may hold anything on an empty
 * row; on any other row it must be finite.  Otherwise the status is
 * BSBASIS_ERROR_DATA and *bad_row (when not NULL) names the first row at
 * fault; it is -1 after any other status.  Every check comes before the
 * first output is touched, so a call that fails adds nothing; under ERROR
 * the range of the abscissae is checked first.
 *
 * Bits.  The abscissae are taken in tiles of BSBASIS_NORMAL_TILE, counted
 * from x[0].  A tile's sums start at zero and add its rows one by one in
 * order, each row's terms being (w*b_a)*b_c, (w*b_a)*y, (w*y)*y and w; then
 * every sum of the tile is added to the output, tile after tile.  So the
 * result depends only on the tiles: a run split into calls at multiples of
 * the tile, each call adding to the outputs of the one before, gives the
 * same bits as one call, and so does any host that forms tiles in parallel
 * (each into zeroed outputs) and adds them to the total in tile order.
 * Sums that stay zero in a tile are not added.
 * Weights of 1 and no weights give the same bits.
 * ------------------------------------------------------------------------ */
#define BSBASIS_NORMAL_TILE 65536

int bsbasis_normal_equations(const double *t, int64_t nt, int32_t order, int64_t nj,
                             int32_t nu, int32_t extrapolate, const double *x,
                             const double *y, const double *w, int64_t nx, double *ab,
                             double *rhs, double *sums, int64_t *count, int64_t *bad_row);

/* The same on the uniform knots of bsbasis_uniform_design (n columns). */
int bsbasis_uniform_normal_equations(double origin, double spacing, int64_t n,
                                     int32_t order, int32_t nu, int32_t extrapolate,
                                     const double *x, const double *y, const double *w,
                                     int64_t nx, double *ab, double *rhs, double *sums,
                                     int64_t *count, int64_t *bad_row);

/* The spline with coefficients c[0 .. nj-1] (or its nu-th derivative) at
 * the nx abscissae: out[p] = X[p] c, formed as ((b_0*c_0 + b_1*c_1) + ...)
 * over the block's columns in order; 0 on an empty row.  out may not
 * overlap x or c. */
int bsbasis_evaluate(const double *t, int64_t nt, int32_t order, int64_t nj, int32_t nu,
                     int32_t extrapolate, const double *c, const double *x, int64_t nx,
                     double *out);

/* The same on the uniform knots of bsbasis_uniform_design (n coefficients). */
int bsbasis_uniform_evaluate(double origin, double spacing, int64_t n, int32_t order,
                             int32_t nu, int32_t extrapolate, const double *c,
                             const double *x, int64_t nx, double *out);

/* A dense matrix from blocks (j and B as the evaluations write them, nx
 * blocks of `order` entries): row p is written at out[p*row_stride +
 * c*col_stride] for every c in 0 .. ncols-1, with the block's value in its
 * column and 0 in every other.  Entries whose column lies outside
 * 0 .. ncols-1 (those of an empty row among them) are dropped; entries that
 * share a column are added, 0 + B[0] + B[1] ... in block order.  Strides
 * count doubles: row_stride >= 0, col_stride >= 1, and the last element,
 * (nx-1)*row_stride + (ncols-1)*col_stride, must fit in int64.  j and B are
 * read only.  Serves row-major (col_stride 1) and column-major (row_stride
 * 1) output, and a window of columns inside a wider matrix. */
int bsbasis_blocks_to_dense(int32_t order, const int32_t *j, const double *B, int64_t nx,
                            int64_t ncols, double *out, int64_t row_stride,
                            int64_t col_stride);

#ifdef __cplusplus
}
#endif

#endif /* BSBASIS_H */

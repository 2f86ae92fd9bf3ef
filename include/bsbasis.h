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

/* ------------------------------------------------------------------------
 * Models of several terms.
 *
 * A model is a list of terms; the model matrix X has one row per row p of
 * the data table x and the terms' columns side by side, in the given
 * order.  Element (p, c) of x is x[p*row_stride + c*col_stride]: strides
 * count doubles, both >= 0 (row-major and column-major tables both serve),
 * and the last element, (nrows-1)*row_stride + (ncols-1)*col_stride, must
 * fit in int64.  A term reads only the columns it names.
 *
 * A SPLINE term is the tensor product of its d margins (1 .. 3), each a
 * basis read at its own column of x: its columns are numbered as
 * bsbasis_tensor_design numbers them (the last margin fastest), its values
 * formed as it forms them, ((b0*b1)*b2); for d = 1 the row is the margin's
 * own design row.  Its row is empty when any margin's row is (under ZERO,
 * a coordinate outside the margin's base interval): an empty term
 * contributes no entry to X[p], but the row itself still counts and its
 * other terms still contribute.
 *
 * Checks, in order; every one comes before any output is touched, so a
 * call that fails writes nothing.  *bad_term and *bad_row (each when not
 * NULL) are set to -1 first.
 *   1. nterms < 0 or ncols < 0: ERROR_COUNT; terms NULL with nterms > 0:
 *      ERROR_NULL.
 *   2. The terms in order; the first at fault goes to *bad_term.  An
 *      unknown term kind: ERROR_MODE.  LINEAR and FACTOR: column outside
 *      0 .. ncols-1, or nlevels < 1 for a FACTOR: ERROR_COUNT.  SPLINE: d
 *      outside 1 .. 3: ERROR_COUNT; margins NULL: ERROR_NULL; then each
 *      margin in order: an unknown margin kind: ERROR_MODE; the basis
 *      checked as its design function checks it (the status it returns);
 *      nu < 0: ERROR_ORDER; an unknown extrapolation mode (not read for
 *      PERIODIC margins): ERROR_MODE; its column outside 0 .. ncols-1:
 *      ERROR_COUNT; the product of the orders over INT32_MAX or of the
 *      widths over INT64_MAX: ERROR_COUNT.  The sum of the widths over
 *      INT64_MAX: ERROR_COUNT at the term that passes it.
 *   3. nrows < 0, a negative stride or the last offset past int64:
 *      ERROR_COUNT; x NULL with nrows > 0: ERROR_NULL.
 *   4. The outputs (each function says which it needs): ERROR_NULL; p*p
 *      past int64 where a p x p matrix is read or written: ERROR_COUNT.
 *   5. The data, row by row: the first row at fault goes to *bad_row and,
 *      on that row, the first term at fault to *bad_term (-1 when the
 *      weight or the response is at fault; they are looked at after the
 *      terms, the weight first).  A term is at fault with ERROR_DATA when
 *      a value of x it reads is not finite (NaN and +-inf, under every
 *      mode) or the value of a FACTOR is not an integer in 0 .. nlevels-1;
 *      otherwise with ERROR_RANGE when a margin under EXTRAPOLATE_ERROR
 *      has its coordinate outside its closed base interval.  A weight that
 *      is not finite or is negative, and a response that is not finite:
 *      ERROR_DATA.
 * A scratch allocation that fails gives ERROR_MEMORY, before any output is
 * touched.  Scratch is in proportion to a few hundred rows of the terms,
 * plus p*p doubles for the sums.
 * ------------------------------------------------------------------------ */
#define BSBASIS_TERM_INTERCEPT 0  /* one column: 1 */
#define BSBASIS_TERM_LINEAR 1     /* one column: x[p, column] */
#define BSBASIS_TERM_FACTOR 2     /* nlevels columns: 1 in column x[p, column] (an
                                     integer 0 .. nlevels-1), 0 elsewhere */
#define BSBASIS_TERM_SPLINE 3     /* the tensor product of d = 1 .. 3 margins
                                     (d = 1: one basis) */
#define BSBASIS_MARGIN_KNOTS 0    /* bsbasis_design's basis: t, nt, order, nj, nu,
                                     extrapolate; nj columns */
#define BSBASIS_MARGIN_UNIFORM 1  /* bsbasis_uniform_design's: origin, spacing, nj
                                     (its n), order, nu, extrapolate; nj columns */
#define BSBASIS_MARGIN_PERIODIC 2 /* bsbasis_periodic_design's: breaks t, nt, order, nu
                                     (extrapolate and nj not read); nt - 1 columns */

/* One basis of a SPLINE term, read at column `column` of x; the fields a
 * kind does not name are not read. */
typedef struct bsbasis_margin {
  int32_t kind, order, nu, extrapolate;
  const double *t;
  int64_t nt, nj;
  double origin, spacing;
  int64_t column; /* the column of x it reads */
} bsbasis_margin;

/* One term of a model: its kind, and for a SPLINE term its d margins
 * (margins[0 .. d-1]); for LINEAR and FACTOR the column of x it reads and
 * for FACTOR the number of levels.  Fields a kind does not use are not
 * read. */
typedef struct bsbasis_term {
  int32_t kind, d; /* d: margins of a SPLINE term, else 0 */
  const bsbasis_margin *margins;
  int64_t column, nlevels; /* LINEAR and FACTOR: the column; FACTOR: levels */
} bsbasis_term;

/* The model's columns, the sum of its terms' widths, to *p (required).
 * The terms are checked as the functions below check them (steps 1 and 2),
 * against a table of ncols columns. */
int bsbasis_model_columns(const bsbasis_term *terms, int64_t nterms, int64_t ncols,
                          int64_t *p, int64_t *bad_term);

/* ADDS the weighted sums of the model's rows X[p] over the nrows rows of
 * x, p the model's columns, as bsbasis_normal_equations does for a basis:
 *
 *   G    += X^T W X   p x p, row-major; only the upper triangle (r <= c) is
 *                     read or written
 *   rhs  += X^T W y   p doubles (required with y; without y not touched)
 *   sums[0] += y^T W y, sums[1] += sum of w   (sums[0] only with y)
 *   *count  += nrows  (every row counts, empty terms or not)
 *
 * G, sums and count are required; y and w may be NULL (w NULL: weights of
 * 1).  The bits: the rows are taken in tiles of BSBASIS_NORMAL_TILE counted
 * from row 0.  A tile's sums start at +0 and add its rows one by one in
 * order; a row adds, for each pair of its entries a <= c (entries in
 * column order: the terms in order, each term's entries in increasing
 * column), (w*b_a)*b_c to G[a][c] and (w*b_a)*y to rhs[a], then (w*y)*y
 * and w (with w NULL: b_a*b_c, b_a*y, y*y and 1).  Then EVERY entry of G's
 * upper triangle, every entry of rhs (with y), sums[0] (with y), sums[1]
 * and *count get the tile's sum added, tile after tile; entries no row
 * touched add +0.  So a run split into calls at multiples of the tile
 * gives the bits of one call, a host may form tiles in parallel into
 * zeroed outputs and add them in tile order, and weights of 1 give the
 * bits of no weights.  A call of 0 rows adds nothing. */
int bsbasis_model_normal_equations(const bsbasis_term *terms, int64_t nterms,
                                   const double *x, int64_t nrows, int64_t ncols,
                                   int64_t row_stride, int64_t col_stride, const double *y,
                                   const double *w, double *G, double *rhs, double *sums,
                                   int64_t *count, int64_t *bad_row, int64_t *bad_term);

/* The model's row values at the nrows rows of x: fit[p] = X[p] . coef, over
 * the row's entries e = 0 .. K-1 in column order (as above, empty terms
 * having none) formed as ((b_0*coef[c_0] + b_1*coef[c_1]) + ...); 0 for a
 * row with no entry.  When var is not NULL, V (p x p, row-major, both
 * triangles read) is required and var[p] = X[p] V X[p]^T, formed as
 * u_a = ((V[c_a][c_0]*b_0 + V[c_a][c_1]*b_1) + ...) for each entry a, then
 * ((b_0*u_0 + b_1*u_1) + ...); 0 for a row with no entry.  coef (p
 * doubles) is required, fit when nrows > 0; V is not read without var.
 * fit and var may not overlap the inputs. */
int bsbasis_model_evaluate(const bsbasis_term *terms, int64_t nterms, const double *x,
                           int64_t nrows, int64_t ncols, int64_t row_stride,
                           int64_t col_stride, const double *coef, const double *V,
                           double *fit, double *var, int64_t *bad_row, int64_t *bad_term);

/* Families of a generalised linear model, each with its canonical link. */
#define BSBASIS_FAMILY_GAUSSIAN 0 /* identity link, variance 1 */
#define BSBASIS_FAMILY_BINOMIAL 1 /* logit link, variance mu(1 - mu); y in [0, 1] */
#define BSBASIS_FAMILY_POISSON 2  /* log link, variance mu; y >= 0 */

/* One step of iteratively reweighted least squares for a model with a
 * response of the family: ADDS, as bsbasis_model_normal_equations does,
 * the sums of the rows with the working weights W and responses z in place
 * of w and y, the deviance, and the column sums of X:
 *
 *   G += X^T W X,  rhs += X^T W z,  sums[0] += z^T W z,  sums[1] += sum W,
 *   sums[2] += the deviance at eta,  colsums[c] += sum over rows of X[p][c]
 *   (unweighted; when colsums is not NULL),  *count += nrows
 *
 * where for each row eta = X[p] . coef (formed as bsbasis_model_evaluate
 * forms fit), mu = g^-1(eta), W = w mu'(eta)^2 / V(mu) and z = eta +
 * (y - mu) / mu'(eta), w the prior weight (1 when w is NULL).  With coef
 * NULL every row starts from the family's own start instead: eta = g(mu0),
 * mu0 = (w y + 0.5) / (w + 1) (binomial), y + 0.1 (Poisson), y (Gaussian).
 * The formulas and guards are those of R's binomial() and poisson(): the
 * logistic function is held at DBL_EPSILON from 0 and 1 for |eta| > 30,
 * the Poisson mean at DBL_EPSILON from below, and W is formed as
 * (w*mu')*mu'/V (binomial), w*mu (Poisson), w (Gaussian).  A row's deviance
 * is 2w(y log(y/mu) + (1-y) log((1-y)/(1-mu))) (binomial), 2w(y log(y/mu)
 * - (y - mu)) (Poisson; 2 w mu at y = 0), w (y - eta)^2 (Gaussian).  For
 * the Gaussian family W = w and z = y: with coef NULL the call gives the
 * bits of bsbasis_model_normal_equations, and the column sums besides.
 * y, G, rhs, sums (3 doubles) and count are required; coef, when given,
 * holds p finite values (else ERROR_DATA, no row named).  Each response
 * must be one the family takes (finite; in [0, 1]; >= 0), else ERROR_DATA
 * naming its row; the other checks and the first row at fault are those of
 * the sums.  Tiles and the order of the additions are those of the sums
 * (the column sums add each row's entries in order, 0 + b_0 first), so
 * chained calls and parallel tiles give the bits of one call.  exp and log
 * are the C library's: the bits are the same wherever those are. */
int bsbasis_model_irls(const bsbasis_term *terms, int64_t nterms, const double *x,
                       int64_t nrows, int64_t ncols, int64_t row_stride, int64_t col_stride,
                       int32_t family, const double *coef, const double *y, const double *w,
                       double *G, double *rhs, double *sums, double *colsums, int64_t *count,
                       int64_t *bad_row, int64_t *bad_term);

#ifdef __cplusplus
}
#endif

#endif /* BSBASIS_H */

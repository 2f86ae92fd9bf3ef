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

#define BSBASIS_VERSION_MAJOR 0
#define BSBASIS_VERSION_MINOR 1
#define BSBASIS_VERSION_PATCH 0
#define BSBASIS_VERSION_STRING "0.1.0"
#define BSBASIS_VERSION \
  (BSBASIS_VERSION_MAJOR * 10000 + BSBASIS_VERSION_MINOR * 100 + BSBASIS_VERSION_PATCH)

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

#ifdef __cplusplus
}
#endif

#endif /* BSBASIS_H */

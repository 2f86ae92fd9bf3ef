// R glue for the bsbasis C API: checks what R hands over, allocates the
// results and converts statuses to R errors.  The arithmetic is the
// library's.  No C++ object with a destructor is alive when Rf_error may
// jump, and no R API is called from a worker thread.
#include <R.h>
#include <Rinternals.h>
#include <R_ext/Rdynload.h>
#include <R_ext/Visibility.h>

#include <stdint.h>
#include <string.h>
#include <limits.h>
#include <cmath>
#include <thread>
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "bsbasis.h"

namespace {

void need(bool ok, const char *what) {
  if (!ok) Rf_error("internal: %s", what);
}

// The R code checks every argument first, so a status here is a fault the
// checks missed or a failed allocation; it names what was being computed.
void check_status(int status, const char *what) {
  if (status != BSBASIS_OK) Rf_error("%s failed: %s", what, bsbasis_strerror(status));
}

// Asks for huge pages on a large buffer not yet touched: a design of 10^6
// rows otherwise spends more time in page faults than in the library.
void *huge_pages(void *p, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const uintptr_t page = (uintptr_t)1 << 21;
  const uintptr_t a = ((uintptr_t)p + page - 1) & ~(page - 1);
  const uintptr_t b = ((uintptr_t)p + bytes) & ~(page - 1);
  if (bytes >= 4 * page && b > a) madvise((void *)a, b - a, MADV_HUGEPAGE);
#else
  (void)bytes;
#endif
  return p;
}

const double *real_or_null(SEXP v) { return Rf_isNull(v) ? nullptr : REAL(v); }

int scalar_int(SEXP v, const char *name) {
  if (TYPEOF(v) != INTSXP || XLENGTH(v) != 1 || INTEGER(v)[0] == NA_INTEGER)
    Rf_error("internal: %s must be one integer", name);
  return INTEGER(v)[0];
}

// One evaluation over n abscissae: the knot basis (breaks == false) or the
// periodic basis on the breaks t.
struct Kernel {
  bool periodic;
  const double *t;
  int64_t nt;
  int32_t order;
  int64_t nj;
  int32_t mode;
};

int run_one(const Kernel &k, int32_t nu, const double *x, int64_t n, int32_t *j, double *B) {
  if (k.periodic)
    return bsbasis_periodic_design(k.t, k.nt, k.order, nu, x, n, nullptr, j, B, nullptr);
  return bsbasis_design(k.t, k.nt, k.order, k.nj, nu, k.mode, x, n, nullptr, j, B, nullptr);
}

const int64_t kTermMinRows = 16384;  // rows per thread at least

// The threads for n rows: at most `threads` and 64, each with kTermMinRows
// rows at least.
int term_threads(int64_t n, int threads) {
  if (threads > 64) threads = 64;
  if (threads > 1 && n / kTermMinRows < threads) threads = (int)(n / kTermMinRows);
  return threads < 1 ? 1 : threads;
}

// Runs work(w, a, m) on the contiguous ranges [a, a + m) that split n rows
// among `threads` threads, and returns the first failed status.  Each row
// depends on its own abscissa only, so the bits do not depend on the split.
template <class W>
int term_split(int64_t n, int threads, const W &work) {
  if (threads <= 1) return work(0, 0, n);
  int status[64];
  std::thread pool[64];
  const int64_t step = (n + threads - 1) / threads;
  for (int w = 0; w < threads; ++w) {
    const int64_t a = w * step, m = n - a < step ? n - a : step;
    status[w] = BSBASIS_OK;
    if (m <= 0) continue;
    try {
      pool[w] = std::thread([&, w, a, m] { status[w] = work(w, a, m); });
    } catch (...) {
      status[w] = work(w, a, m);
    }
  }
  for (int w = 0; w < threads; ++w)
    if (pool[w].joinable()) pool[w].join();
  for (int w = 0; w < threads; ++w)
    if (status[w] != BSBASIS_OK) return status[w];
  return BSBASIS_OK;
}

// run_one split into contiguous chunks over `threads` threads; each block
// depends on its own abscissa only, so the bits do not change.
int run(const Kernel &k, int32_t nu, const double *x, int64_t n, int32_t *j, double *B,
        int threads) {
  return term_split(n, term_threads(n, threads), [&](int, int64_t a, int64_t m) {
    return run_one(k, nu, x + a, m, j + a * k.order, B + a * k.order);
  });
}

// Rows of `width` entries for every abscissa, with the derivative order of
// abscissa p taken from nu[p] (or nu[0] when nnu == 1): run(d, xs, m, j, B)
// forms the rows of m abscissae of one order d; with several orders, the
// abscissae of each are gathered, run together and their rows put back.
template <class Run>
int by_derivative_order(const int *nu, int64_t nnu, const double *x, int64_t n, int width,
                        int32_t *j, double *B, const Run &run) {
  bool single = true;
  for (int64_t p = 1; p < nnu && single; ++p) single = nu[p] == nu[0];
  if (single || n == 0) return run(nnu ? nu[0] : 0, x, n, j, B);
  double *xs = (double *)R_alloc(n, sizeof(double));
  int64_t *at = (int64_t *)R_alloc(n, sizeof(int64_t));
  int32_t *jg = (int32_t *)R_alloc(n * width, sizeof(int32_t));
  double *Bg = (double *)R_alloc(n * width, sizeof(double));
  char *done = (char *)R_alloc(n, 1);
  memset(done, 0, n);
  for (int64_t first = 0; first < n; ++first) {
    if (done[first]) continue;
    const int d = nu[first];
    int64_t m = 0;
    for (int64_t p = first; p < n; ++p)
      if (!done[p] && nu[p] == d) {
        done[p] = 1;
        at[m] = p;
        xs[m++] = x[p];
      }
    const int status = run(d, xs, m, jg, Bg);
    if (status != BSBASIS_OK) return status;
    for (int64_t q = 0; q < m; ++q) {
      memcpy(j + at[q] * width, jg + q * width, width * sizeof(int32_t));
      memcpy(B + at[q] * width, Bg + q * width, width * sizeof(double));
    }
  }
  return BSBASIS_OK;
}

// Blocks for every abscissa, one library call per distinct derivative order.
int blocks(const Kernel &k, const int *nu, int64_t nnu, const double *x, int64_t n,
           int32_t *j, double *B, int threads) {
  return by_derivative_order(nu, nnu, x, n, k.order, j, B,
                             [&](int d, const double *xs, int64_t m, int32_t *jd, double *Bd) {
                               return run(k, d, xs, m, jd, Bd, threads);
                             });
}

const int64_t kTermChunk = 2048;  // rows formed at a time in scratch that stays in cache

// Whether entry q of a row repeats the column of an earlier entry (a
// periodic basis with fewer columns than its order wraps onto itself).
inline bool repeats(const int32_t *jr, int q) {
  bool seen = false;
  for (int r = 0; r < q; ++r) seen |= jr[r] == jr[q];
  return seen;
}

// Whether a row's columns are c0, c0 + 1, .. c0 + width - 1 (less shift),
// all kept: a row of a basis that does not wrap, away from the dropped
// columns.  Such a row needs no test per entry.
inline bool in_run(const int32_t *jr, int width, int shift, int ncol, int64_t &c0) {
  bool run = true;
  for (int q = 1; q < width; ++q) run &= jr[q] == jr[0] + q;
  c0 = (int64_t)jr[0] - shift;
  return run && c0 >= 0 && c0 + width <= ncol;
}

// list(i, p, x): the slots of a dgCMatrix, for the R code to wrap.
SEXP slot_list(SEXP iv, SEXP pv, SEXP xv) {
  SEXP out = PROTECT(Rf_allocVector(VECSXP, 3));
  SET_VECTOR_ELT(out, 0, iv);
  SET_VECTOR_ELT(out, 1, pv);
  SET_VECTOR_ELT(out, 2, xv);
  UNPROTECT(1);
  return out;
}

// Forms rows a .. a+m-1 with rows(), kTermChunk at a time in thread w's
// share of the scratch js, Bs, and calls visit(p, jr, Br) -> status for each
// row p; stops at the first status other than OK, from either.
template <class Rows, class Visit>
int each_row(const Rows &rows, int32_t *js, double *Bs, int width, int w, int64_t a, int64_t m,
             const Visit &visit) {
  int32_t *j = js + (int64_t)w * kTermChunk * width;
  double *B = Bs + (int64_t)w * kTermChunk * width;
  for (int64_t r0 = a; r0 < a + m; r0 += kTermChunk) {
    const int64_t k = a + m - r0 < kTermChunk ? a + m - r0 : kTermChunk;
    const int32_t *jc = j;
    const double *Bc = B;
    const int st = rows(r0, k, j, B, &jc, &Bc);
    if (st != BSBASIS_OK) return st;
    for (int64_t i = 0; i < k; ++i) {
      const int sv = visit(r0 + i, jc + i * width, Bc + i * width);
      if (sv != BSBASIS_OK) return sv;
    }
  }
  return (int)BSBASIS_OK;
}

// dgCMatrix slots list(i, p, x) of n rows of `width` entries, columns
// c = j - shift kept when 0 <= c < ncol.  rows(a, k, j, B, &jr, &Br) ->
// status gives rows a .. a+k-1 (k <= kTermChunk): it forms them in the
// scratch j and B, or points jr and Br at rows held elsewhere.  Entries of
// a row that share a column are added.  With na_x, the row of an NA or NaN
// abscissa na_x[p] holds NA in every column.  Two passes over the rows,
// kTermChunk at a time, on the same split among threads: one counts each
// thread's entries per column, the other places them, so that the columns
// come out sorted; formed rows stay in cache between forming and use.
template <class Rows>
SEXP csc_rows(const Rows &rows, int64_t n, int width, int shift, int ncol, const double *na_x,
              int threads, const char *what) {
  if (n > INT_MAX) Rf_error("'x' has %.0f values; at most %d are supported", (double)n, INT_MAX);
  const int nt = term_threads(n, threads);
  const int64_t stride = (int64_t)ncol + 1;
  int64_t *at = (int64_t *)R_alloc((size_t)(2 * nt * stride), sizeof(int64_t));
  memset(at, 0, (size_t)(2 * nt * stride) * sizeof(int64_t));
  int64_t *firsts = at + nt * stride;  // per thread, the rows that are runs from each column
  int32_t *js = (int32_t *)R_alloc((size_t)nt * kTermChunk * width, sizeof(int32_t));
  double *Bs = (double *)R_alloc((size_t)nt * kTermChunk * width, sizeof(double));
  // pass(w, a, m, visit) forms rows a .. a+m-1 and calls visit(p, jr, Br)
  // for each row p, jr == nullptr for an NA row.
  auto pass = [&](int w, int64_t a, int64_t m, auto visit) {
    return each_row(rows, js, Bs, width, w, a, m,
                    [&](int64_t p, const int32_t *jr, const double *Br) {
                      const bool na = na_x && na_x[p] != na_x[p];  // NA or NaN
                      visit(p, na ? nullptr : jr, Br);
                      return (int)BSBASIS_OK;
                    });
  };
  int status = term_split(n, nt, [&](int w, int64_t a, int64_t m) {
    int64_t *count = at + w * stride, *first = firsts + w * stride;
    return pass(w, a, m, [&](int64_t, const int32_t *jr, const double *) {
      int64_t c = 0;
      if (!jr) {
        for (c = 0; c < ncol; ++c) ++count[c];
      } else if (in_run(jr, width, shift, ncol, c)) {
        ++first[c];
      } else {
        for (int q = 0; q < width; ++q) {
          c = (int64_t)jr[q] - shift;
          if (c >= 0 && c < ncol && !repeats(jr, q)) ++count[c];
        }
      }
    });
  });
  // A run from column c0 adds one entry to each of c0 .. c0 + width - 1.
  for (int w = 0; w < nt && status == BSBASIS_OK; ++w)
    for (int c = 0; c < ncol; ++c)
      for (int q = 0; q < width && q <= c; ++q) at[w * stride + c] += firsts[w * stride + c - q];
  check_status(status, what);
  // Column c of thread w starts after column c of every earlier thread.
  SEXP pv = PROTECT(Rf_allocVector(INTSXP, (R_xlen_t)ncol + 1));
  int *cp = INTEGER(pv);
  int64_t nnz = 0;
  for (int c = 0; c < ncol; ++c) {
    cp[c] = (int)(nnz < INT_MAX ? nnz : INT_MAX);
    for (int w = 0; w < nt; ++w) {
      const int64_t m = at[w * stride + c];
      at[w * stride + c] = nnz;
      nnz += m;
    }
  }
  if (nnz > INT_MAX) Rf_error("the result has more than %d non-zero entries", INT_MAX);
  cp[ncol] = (int)nnz;
  SEXP iv = PROTECT(Rf_allocVector(INTSXP, (R_xlen_t)nnz));
  SEXP xv = PROTECT(Rf_allocVector(REALSXP, (R_xlen_t)nnz));
  int *ri = (int *)huge_pages(INTEGER(iv), (size_t)nnz * sizeof(int));
  double *rx = (double *)huge_pages(REAL(xv), (size_t)nnz * sizeof(double));
  status = term_split(n, nt, [&](int w, int64_t a, int64_t m) {
    int64_t *next = at + w * stride;
    return pass(w, a, m, [&](int64_t p, const int32_t *jr, const double *Br) {
      if (!jr) {
        for (int c = 0; c < ncol; ++c) {
          ri[next[c]] = (int)p;
          rx[next[c]++] = NA_REAL;
        }
        return;
      }
      int64_t c0 = 0;
      if (in_run(jr, width, shift, ncol, c0)) {
        for (int q = 0; q < width; ++q) {
          const int64_t e = next[c0 + q]++;
          ri[e] = (int)p;
          rx[e] = Br[q];
        }
        return;
      }
      for (int q = 0; q < width; ++q) {
        const int64_t c = (int64_t)jr[q] - shift;
        if (c < 0 || c >= ncol) continue;
        if (repeats(jr, q)) {
          rx[next[c] - 1] += Br[q];  // this row's entry, the column's last
        } else {
          ri[next[c]] = (int)p;
          rx[next[c]++] = Br[q];
        }
      }
    });
  });
  check_status(status, what);
  SEXP out = slot_list(iv, pv, xv);
  UNPROTECT(3);
  return out;
}

// A status of the sorted path below: a row broke what the probes saw, so
// the general path takes over.
const int kNotRuns = -1000;

// Rows whose first column never decreases and that are whole runs (each
// row's columns c0 .. c0 + width - 1, all kept): the sparse result in one
// pass, or R_NilValue when the rows are not such.  Probes of single rows
// find, for each column c, the first row S[c] whose first column is c or
// more; row p then sits in column c at colptr[c] + p - S[c - width + 1], and
// every column's count is known before any row but the probes is formed.
// The pass checks each row against the probes before writing it, so rows
// that break the pattern (whatever the probes missed) write nothing out of
// place: the call returns R_NilValue, and the caller's two passes run.
template <class Rows>
SEXP csc_sorted_runs(const Rows &rows, int64_t n, int width, int shift, int ncol, int threads,
                     const char *what) {
  if (n <= 0 || n > INT_MAX || width <= 0 || ncol < width) return R_NilValue;
  int32_t *jp = (int32_t *)R_alloc((size_t)width, sizeof(int32_t));
  double *Bp = (double *)R_alloc((size_t)width, sizeof(double));
  // The first column of row p, or -1 when the row is not a whole run.
  auto first_col = [&](int64_t p) -> int64_t {
    const int32_t *jr = jp;
    const double *Br = Bp;
    if (rows(p, 1, jp, Bp, &jr, &Br) != BSBASIS_OK) return -1;
    int64_t c0 = 0;
    return in_run(jr, width, shift, ncol, c0) ? c0 : -1;
  };
  // S[c] for c = 0 .. ncol - width + 1: rows with first column below c come
  // before S[c].
  const int top = ncol - width + 1;
  int64_t *S = (int64_t *)R_alloc((size_t)top + 1, sizeof(int64_t));
  const int64_t c_lo = first_col(0), c_hi = first_col(n - 1);
  if (c_lo < 0 || c_hi < c_lo) return R_NilValue;
  for (int c = 0; c <= top; ++c) S[c] = c <= c_lo ? 0 : n;
  // Bisection between rows a < b of first columns ca < cb, on a stack of
  // at most 64 ranges (one per halving).
  struct Range { int64_t a, b, ca, cb; };
  Range stack[64];
  int depth = 0;
  if (c_hi > c_lo) stack[depth++] = {0, n - 1, c_lo, c_hi};
  while (depth > 0) {
    const Range r = stack[--depth];
    if (r.b == r.a + 1) {
      for (int64_t c = r.ca + 1; c <= r.cb; ++c) S[c] = r.b;
      continue;
    }
    const int64_t m = r.a + (r.b - r.a) / 2, cm = first_col(m);
    if (cm < r.ca || cm > r.cb) return R_NilValue;
    if (depth + 2 > 64) return R_NilValue;
    if (cm < r.cb) stack[depth++] = {m, r.b, cm, r.cb};
    if (cm > r.ca) stack[depth++] = {r.a, m, r.ca, cm};
  }
  // Column c holds the rows of first column c - width + 1 .. c.
  SEXP pv = PROTECT(Rf_allocVector(INTSXP, (R_xlen_t)ncol + 1));
  int *cp = INTEGER(pv);
  int64_t nnz = 0;
  for (int c = 0; c < ncol; ++c) {
    cp[c] = (int)(nnz < INT_MAX ? nnz : INT_MAX);
    const int64_t lo = S[c - width + 1 > 0 ? c - width + 1 : 0], hi = S[c + 1 < top ? c + 1 : top];
    nnz += hi > lo ? hi - lo : 0;
  }
  if (nnz != n * width || nnz > INT_MAX) {
    UNPROTECT(1);
    return R_NilValue;
  }
  cp[ncol] = (int)nnz;
  SEXP iv = PROTECT(Rf_allocVector(INTSXP, (R_xlen_t)nnz));
  SEXP xv = PROTECT(Rf_allocVector(REALSXP, (R_xlen_t)nnz));
  int *ri = (int *)huge_pages(INTEGER(iv), (size_t)nnz * sizeof(int));
  double *rx = (double *)huge_pages(REAL(xv), (size_t)nnz * sizeof(double));
  const int nt = term_threads(n, threads);
  int32_t *js = (int32_t *)R_alloc((size_t)nt * kTermChunk * width, sizeof(int32_t));
  double *Bs = (double *)R_alloc((size_t)nt * kTermChunk * width, sizeof(double));
  const int status = term_split(n, nt, [&](int w, int64_t a, int64_t m) {
    int64_t c = 0;  // the first column that row p must have: S[c] <= p < S[c + 1]
    return each_row(rows, js, Bs, width, w, a, m,
                    [&](int64_t p, const int32_t *jr, const double *Br) {
                      while (c + 1 < top && S[c + 1] <= p) ++c;
                      int64_t c0 = 0;
                      if (!in_run(jr, width, shift, ncol, c0) || c0 != c) return kNotRuns;
                      for (int q = 0; q < width; ++q) {
                        const int64_t col = c0 + q;
                        const int64_t e = cp[col] + (p - S[col >= width ? col - width + 1 : 0]);
                        ri[e] = (int)p;
                        rx[e] = Br[q];
                      }
                      return (int)BSBASIS_OK;
                    });
  });
  if (status == kNotRuns) {
    UNPROTECT(3);
    return R_NilValue;
  }
  check_status(status, what);
  SEXP out = slot_list(iv, pv, xv);
  UNPROTECT(3);
  return out;
}

// The sparse result of f(d, x, k, j, B) -> status, which writes the rows of
// k abscissae of derivative order d.  With one order and rows cheap to form
// (twice: the B-spline kernels), csc_rows forms them in chunks, twice;
// otherwise (several orders, nu[p] for abscissa p, or the natural basis,
// whose rows cost three times as much) every row is formed once, by order
// (by_derivative_order), and csc_rows reads them.
template <class F>
SEXP csc_result(const F &f, const int *nu, int64_t nnu, const double *x, int64_t n, int width,
                int shift, int ncol, const double *na_x, int threads, const char *what,
                bool twice) {
  bool single = true;
  for (int64_t p = 1; p < nnu && single; ++p) single = nu[p] == nu[0];
  if (single && twice) {
    const int32_t d = nnu ? nu[0] : 0;
    const auto rows = [&](int64_t a, int64_t k, int32_t *j, double *B, const int32_t **,
                          const double **) { return f(d, x + a, k, j, B); };
    // Sorted abscissae (NaN fails the test) give rows that run on from
    // column to column: one pass instead of two.  Its probes, up to one
    // bisection of the rows per column, each cost about a hundred rows of
    // a pass; with many columns for the rows the two passes cost less.
    bool sorted = n > 0 && (double)ncol * (std::log2((double)n) + 1.0) * 128.0 <= (double)n;
    for (int64_t p = 1; p < n && sorted; ++p) sorted = x[p - 1] <= x[p];
    sorted = sorted && x[0] == x[0];
    if (sorted) {
      SEXP out = csc_sorted_runs(rows, n, width, shift, ncol, threads, what);
      if (out != R_NilValue) return out;
    }
    return csc_rows(rows, n, width, shift, ncol, na_x, threads, what);
  }
  if (n > INT_MAX) Rf_error("'x' has %.0f values; at most %d are supported", (double)n, INT_MAX);
  const size_t ne = (size_t)n * width + 1;  // one spare entry, so that n = 0 allocates
  int32_t *ja = (int32_t *)huge_pages(R_alloc(ne, sizeof(int32_t)), ne * sizeof(int32_t));
  double *Ba = (double *)huge_pages(R_alloc(ne, sizeof(double)), ne * sizeof(double));
  const int status = by_derivative_order(
      nu, nnu, x, n, width, ja, Ba,
      [&](int d, const double *xs, int64_t m, int32_t *jd, double *Bd) {
        return term_split(m, term_threads(m, threads), [&](int, int64_t a, int64_t k) {
          return f(d, xs + a, k, jd + a * width, Bd + a * width);
        });
      });
  check_status(status, what);
  return csc_rows(
      [&](int64_t a, int64_t, int32_t *, double *, const int32_t **j, const double **B) {
        *j = ja + a * width;
        *B = Ba + a * width;
        return (int)BSBASIS_OK;
      },
      n, width, shift, ncol, na_x, threads, what);
}

// The dense n x ncol result from blocks, column-major, columns j - shift,
// with the rows of NA/NaN abscissae set to NA when na_rows.
SEXP dense_result(int32_t *j, const double *B, int64_t n, int order, int shift, int ncol,
                  const double *x, bool na_rows) {
  if (shift)
    for (int64_t e = 0; e < n * order; ++e) j[e] -= shift;  // empty rows stay negative
  if ((double)n * ncol > (double)R_XLEN_T_MAX)
    Rf_error("the dense result of %.0f x %d is too large", (double)n, ncol);
  SEXP out = PROTECT(Rf_allocMatrix(REALSXP, (int)n, ncol));
  double *o = REAL(out);
  if (n > 0 && ncol > 0)
    check_status(bsbasis_blocks_to_dense(order, j, B, n, ncol, o, 1, n),
                 "the dense design matrix");
  if (na_rows)
    for (int64_t p = 0; p < n; ++p)
      if (ISNAN(x[p]))
        for (int c = 0; c < ncol; ++c) o[p + (int64_t)c * n] = NA_REAL;
  UNPROTECT(1);
  return out;
}

// Scratch blocks for n abscissae (one spare entry, so that n = 0 allocates).
struct Blocks {
  int32_t *j;
  double *B;
  Blocks(int64_t n, int order) {
    if (n > INT_MAX) Rf_error("'x' has %.0f values; at most %d are supported", (double)n, INT_MAX);
    const size_t ne = (size_t)n * order + 1;
    j = (int32_t *)huge_pages(R_alloc(ne, sizeof(int32_t)), ne * sizeof(int32_t));
    B = (double *)huge_pages(R_alloc(ne, sizeof(double)), ne * sizeof(double));
  }
};

Kernel knot_kernel(SEXP t_, SEXP ord_, SEXP nj_, int mode) {
  need(TYPEOF(t_) == REALSXP, "t must be double");
  Kernel k;
  k.periodic = false;
  k.t = REAL(t_);
  k.nt = XLENGTH(t_);
  k.order = scalar_int(ord_, "ord");
  k.nj = scalar_int(nj_, "nj");
  k.mode = mode;
  need(k.order >= 1, "order");
  return k;
}

void check_nu(SEXP nu_, int64_t n) {
  need(TYPEOF(nu_) == INTSXP, "nu must be integer");
  need(XLENGTH(nu_) == 1 || XLENGTH(nu_) == n, "nu must have length 1 or length(x)");
  const int *nu = INTEGER(nu_);
  for (R_xlen_t p = 0; p < XLENGTH(nu_); ++p) need(nu[p] >= 0, "nu must be >= 0");
}

// splines' rows at the right end of the base interval, t[nt - ord], from
// the library's blocks there (the limits from the left, on the last interval
// with length).  splines' row starts at column nt - 2*ord, which is `gap`
// columns after the library's block when the last interval is empty.  The
// derivative of order ord - 1 is 0 there, in splines' columns.  Values go to
// splines' columns when they fit (gap < ord): the columns that leave the
// block belong to B-splines that end before t[nt - ord].  Derivatives, and
// values that do not fit, stay in the library's columns.
void to_spline_end(const double *t, int64_t nt, int ord, const int *nu, int64_t nnu,
                   const double *x, int64_t n, int32_t *j, double *B) {
  const int64_t last = nt - ord;
  const double end = t[last];
  int64_t below = last - 1;
  while (below >= 0 && t[below] == end) --below;
  const int64_t gap = last - 1 - below;
  for (int64_t p = 0; p < n; ++p) {
    if (x[p] != end) continue;
    const int d = nu[nnu == 1 ? 0 : p];
    const bool top = ord > 1 && d == ord - 1;
    double *v = B + p * ord;
    if (!top && !(d == 0 && gap > 0 && gap < ord)) continue;
    for (int q = 0; q < ord; ++q) {
      v[q] = !top && q + gap < ord ? v[q + gap] : 0.0;
      j[p * ord + q] = (int32_t)(last - ord + q);
    }
  }
}

}  // namespace

extern "C" {

// Design matrix: dense (n x ncol, column-major; rows of NA/NaN abscissae
// set to NA when na_rows) or list(i, p, x) of a dgCMatrix.
SEXP bsb_design(SEXP periodic_, SEXP t_, SEXP ord_, SEXP nj_, SEXP nu_, SEXP mode_,
                SEXP x_, SEXP sparse_, SEXP shift_, SEXP ncol_, SEXP na_rows_,
                SEXP threads_) {
  need(TYPEOF(x_) == REALSXP, "x must be double");
  const int64_t n = XLENGTH(x_);
  check_nu(nu_, n);
  Kernel k = knot_kernel(t_, ord_, nj_, scalar_int(mode_, "mode"));
  k.periodic = Rf_asLogical(periodic_) == TRUE;
  const int shift = scalar_int(shift_, "shift"), ncol = scalar_int(ncol_, "ncol");
  const int threads = scalar_int(threads_, "threads");
  need(ncol >= 0 && shift >= 0, "ncol and shift");
  const char *what = k.periodic ? "the periodic design matrix" : "the design matrix";
  const int *nu = INTEGER(nu_);
  const int64_t nnu = XLENGTH(nu_);
  if (Rf_asLogical(sparse_) == TRUE)
    return csc_result(
        [&](int32_t d, const double *xs, int64_t m, int32_t *j, double *B) {
          return run_one(k, d, xs, m, j, B);
        },
        nu, nnu, REAL(x_), n, k.order, shift, ncol, nullptr, threads, what, true);
  Blocks b(n, k.order);
  check_status(blocks(k, nu, nnu, REAL(x_), n, b.j, b.B, threads), what);
  return dense_result(b.j, b.B, n, k.order, shift, ncol, REAL(x_),
                      Rf_asLogical(na_rows_) == TRUE);
}

// splines::splineDesign's matrix on the knots t (extended by the R code
// when some x lie outside), when the library's blocks are splines' rows:
// the base interval [t[ord-1], t[nt-ord]] is not empty, and every x lies in
// it or is NA (splines' checks let NA through only when the knots are
// extended, and then its row is zero: the library's empty row).  Columns
// j - shift, ncol of them; the right end as to_spline_end says.  NULL when
// the base interval is empty: the R code forms those rows.
SEXP bsb_spline_design(SEXP t_, SEXP ord_, SEXP nu_, SEXP x_, SEXP sparse_, SEXP shift_,
                       SEXP ncol_) {
  need(TYPEOF(t_) == REALSXP && TYPEOF(x_) == REALSXP, "t and x must be double");
  const int64_t nt = XLENGTH(t_), n = XLENGTH(x_);
  const int ord = scalar_int(ord_, "ord");
  need(ord >= 1, "ord");
  const double *t = REAL(t_), *x = REAL(x_);
  if (nt < 2 * (int64_t)ord || !(t[ord - 1] < t[nt - ord])) return R_NilValue;
  check_nu(nu_, n);
  SEXP nj_ = PROTECT(Rf_ScalarInteger((int)(nt - ord)));
  const Kernel k = knot_kernel(t_, ord_, nj_, BSBASIS_EXTRAPOLATE_ZERO);
  const int shift = scalar_int(shift_, "shift"), ncol = scalar_int(ncol_, "ncol");
  need(ncol >= 0 && shift >= 0, "ncol and shift");
  const int *nu = INTEGER(nu_);
  const int64_t nnu = XLENGTH(nu_);
  SEXP out;
  if (Rf_asLogical(sparse_) == TRUE) {
    out = csc_result(
        [&](int32_t d, const double *xs, int64_t m, int32_t *j, double *B) {
          const int st = run_one(k, d, xs, m, j, B);
          if (st == BSBASIS_OK) to_spline_end(t, nt, ord, &d, 1, xs, m, j, B);
          return st;
        },
        nu, nnu, x, n, ord, shift, ncol, nullptr, 1, "the design matrix", true);
  } else {
    Blocks b(n, ord);
    check_status(blocks(k, nu, nnu, x, n, b.j, b.B, 1), "the design matrix");
    to_spline_end(t, nt, ord, nu, nnu, x, n, b.j, b.B);
    out = dense_result(b.j, b.B, n, ord, shift, ncol, x, false);
  }
  UNPROTECT(1);
  return out;
}

// The one-pass sparse slots of splineDesign(knots, x, ord, derivs = d) for
// sorted x on `threads` threads, or NULL where that path gives way to the
// general one, whatever the sizes: for the tests, which check that sorted
// input takes it and agrees.
SEXP bsb_sorted_slots(SEXP t_, SEXP ord_, SEXP d_, SEXP x_, SEXP threads_) {
  need(TYPEOF(t_) == REALSXP && TYPEOF(x_) == REALSXP, "t and x must be double");
  const int64_t nt = XLENGTH(t_), n = XLENGTH(x_);
  const int ord = scalar_int(ord_, "ord");
  int32_t d = scalar_int(d_, "d");
  const int threads = scalar_int(threads_, "threads");
  need(ord >= 1 && d >= 0 && nt >= 2 * (int64_t)ord && threads >= 1, "ord, d, threads, knots");
  const double *t = REAL(t_), *x = REAL(x_);
  SEXP nj_ = PROTECT(Rf_ScalarInteger((int)(nt - ord)));
  const Kernel k = knot_kernel(t_, ord_, nj_, BSBASIS_EXTRAPOLATE_ZERO);
  const auto rows = [&](int64_t a, int64_t m, int32_t *j, double *B, const int32_t **,
                        const double **) {
    const int st = run_one(k, d, x + a, m, j, B);
    if (st == BSBASIS_OK) to_spline_end(t, nt, ord, &d, 1, x + a, m, j, B);
    return st;
  };
  SEXP out = csc_sorted_runs(rows, n, ord, 0, (int)(nt - ord), threads, "the design matrix");
  UNPROTECT(1);
  return out;
}

// list(j, B): the blocks of the knot basis (mode ZERO: empty rows for x
// outside the base interval), ord entries per abscissa.
SEXP bsb_blocks(SEXP t_, SEXP ord_, SEXP nj_, SEXP nu_, SEXP x_) {
  need(TYPEOF(x_) == REALSXP, "x must be double");
  const int64_t n = XLENGTH(x_);
  check_nu(nu_, n);
  const Kernel k = knot_kernel(t_, ord_, nj_, BSBASIS_EXTRAPOLATE_ZERO);
  if (n > INT_MAX) Rf_error("'x' has %.0f values; at most %d are supported", (double)n, INT_MAX);
  SEXP j = PROTECT(Rf_allocVector(INTSXP, (R_xlen_t)n * k.order));
  SEXP B = PROTECT(Rf_allocVector(REALSXP, (R_xlen_t)n * k.order));
  check_status(blocks(k, INTEGER(nu_), XLENGTH(nu_), REAL(x_), n, INTEGER(j), REAL(B), 1),
               "the design matrix");
  SEXP out = PROTECT(Rf_allocVector(VECSXP, 2));
  SET_VECTOR_ELT(out, 0, j);
  SET_VECTOR_ELT(out, 1, B);
  UNPROTECT(3);
  return out;
}

// derivs as splines' C code reads them: coerced to integer, with R's
// warnings for values that do not convert.
SEXP bsb_as_integer(SEXP v) { return Rf_coerceVector(v, INTSXP); }

// 1-based position of the first abscissa outside [lo, hi] that is not NaN,
// or 0.
SEXP bsb_first_outside(SEXP x_, SEXP lo_, SEXP hi_) {
  need(TYPEOF(x_) == REALSXP, "x must be double");
  const double *x = REAL(x_), lo = Rf_asReal(lo_), hi = Rf_asReal(hi_);
  const R_xlen_t n = XLENGTH(x_);
  for (R_xlen_t p = 0; p < n; ++p)
    if (!ISNAN(x[p]) && !(x[p] >= lo && x[p] <= hi)) return Rf_ScalarReal((double)p + 1);
  return Rf_ScalarReal(0.0);
}

// any(x < lo | hi < x) as R evaluates it for non-NA lo and hi, in one pass
// and without R's two logical vectors: TRUE when an abscissa lies outside,
// else NA when one is NA or NaN, else FALSE.
SEXP bsb_any_outside(SEXP x_, SEXP lo_, SEXP hi_) {
  need(TYPEOF(x_) == REALSXP, "x must be double");
  const double *x = REAL(x_), lo = Rf_asReal(lo_), hi = Rf_asReal(hi_);
  need(!ISNAN(lo) && !ISNAN(hi), "lo and hi");
  const R_xlen_t n = XLENGTH(x_);
  bool na = false;
  for (R_xlen_t p = 0; p < n; ++p) {
    if (x[p] < lo || x[p] > hi) return Rf_ScalarLogical(TRUE);
    na = na || ISNAN(x[p]);
  }
  return Rf_ScalarLogical(na ? NA_LOGICAL : FALSE);
}

SEXP bsb_difference_penalty(SEXP n_, SEXP order_) {
  const int n = scalar_int(n_, "n"), order = scalar_int(order_, "order");
  need(n >= 1 && order >= 1 && order <= 4, "n and order");
  SEXP ab = PROTECT(Rf_allocVector(REALSXP, (R_xlen_t)(order + 1) * n));
  check_status(bsbasis_difference_penalty(n, order, REAL(ab)), "the difference penalty");
  UNPROTECT(1);
  return ab;
}

SEXP bsb_derivative_penalty(SEXP t_, SEXP ord_, SEXP nj_, SEXP m_) {
  need(TYPEOF(t_) == REALSXP, "t must be double");
  const int ord = scalar_int(ord_, "ord"), nj = scalar_int(nj_, "nj"), m = scalar_int(m_, "m");
  need(ord >= 1 && nj >= 1, "ord and nj");
  SEXP ab = PROTECT(Rf_allocVector(REALSXP, (R_xlen_t)ord * nj));
  check_status(bsbasis_derivative_penalty(REAL(t_), XLENGTH(t_), ord, nj, m, REAL(ab)),
               "the derivative penalty");
  UNPROTECT(1);
  return ab;
}

// The rule of bsbasis.h that a basis on knots breaks and the index of the
// knot at fault (from 0; -1 when the rule is not about one knot).
SEXP bsb_check_knots(SEXP t_, SEXP ord_, SEXP nj_) {
  need(TYPEOF(t_) == REALSXP, "t must be double");
  need(TYPEOF(nj_) == REALSXP && XLENGTH(nj_) == 1, "nj must be one double");
  const int ord = scalar_int(ord_, "ord");
  // Any nj beyond the knots breaks the column rule alike.
  const double nj = REAL(nj_)[0] < -1.0 ? -1.0 : (REAL(nj_)[0] > 4e18 ? 4e18 : REAL(nj_)[0]);
  int32_t rule = BSBASIS_RULE_NONE;
  int64_t index = -1;
  bsbasis_check_knots(XLENGTH(t_) ? REAL(t_) : nullptr, XLENGTH(t_), ord,
                      static_cast<int64_t>(nj), &rule, &index);
  SEXP out = PROTECT(Rf_allocVector(INTSXP, 2));
  INTEGER(out)[0] = rule;
  // A knot at fault has an index below nt <= INT32_MAX.
  INTEGER(out)[1] = static_cast<int>(index);
  UNPROTECT(1);
  return out;
}

// The knots, or NULL when the library finds the data unusable (the R code
// says why).
SEXP bsb_make_knots(SEXP x_, SEXP w_, SEXP n_knots_, SEXP ord_, SEXP kind_, SEXP boundary_) {
  need(TYPEOF(x_) == REALSXP, "x must be double");
  need(Rf_isNull(w_) || (TYPEOF(w_) == REALSXP && XLENGTH(w_) == XLENGTH(x_)),
       "weights must be NULL or double of length(x)");
  const int nk = scalar_int(n_knots_, "n_knots"), ord = scalar_int(ord_, "ord");
  need(nk >= 2 && ord >= 1, "n_knots and ord");
  SEXP t = PROTECT(Rf_allocVector(REALSXP, (R_xlen_t)nk + 2 * ((R_xlen_t)ord - 1)));
  int status = bsbasis_make_knots(REAL(x_), XLENGTH(x_), real_or_null(w_), nk, ord,
                                  scalar_int(kind_, "kind"), scalar_int(boundary_, "boundary"),
                                  REAL(t));
  UNPROTECT(1);
  if (status == BSBASIS_ERROR_DATA) return R_NilValue;
  check_status(status, "the knots");
  return t;
}

// list(ab, rhs, sums, count): the sums of bsbasis_normal_equations from zero;
// or the 1-based row at fault, a number, when y or a weight is unusable
// there (the R code says how).
SEXP bsb_normal_equations(SEXP t_, SEXP ord_, SEXP nj_, SEXP nu_, SEXP mode_, SEXP x_,
                          SEXP y_, SEXP w_) {
  need(TYPEOF(t_) == REALSXP && TYPEOF(x_) == REALSXP, "t and x must be double");
  const R_xlen_t n = XLENGTH(x_);
  need(Rf_isNull(y_) || (TYPEOF(y_) == REALSXP && XLENGTH(y_) == n), "y");
  need(Rf_isNull(w_) || (TYPEOF(w_) == REALSXP && XLENGTH(w_) == n), "weights");
  const int ord = scalar_int(ord_, "ord"), nj = scalar_int(nj_, "nj");
  need(ord >= 1 && nj >= 1, "ord and nj");
  SEXP ab = PROTECT(Rf_allocVector(REALSXP, (R_xlen_t)ord * nj));
  SEXP rhs = PROTECT(Rf_allocVector(REALSXP, nj));
  SEXP sums = PROTECT(Rf_allocVector(REALSXP, 2));
  memset(REAL(ab), 0, sizeof(double) * ord * (size_t)nj);
  memset(REAL(rhs), 0, sizeof(double) * (size_t)nj);
  REAL(sums)[0] = REAL(sums)[1] = 0.0;
  int64_t count = 0, bad = -1;
  const bool has_y = !Rf_isNull(y_);
  int status = bsbasis_normal_equations(
      REAL(t_), XLENGTH(t_), ord, nj, scalar_int(nu_, "nu"), scalar_int(mode_, "mode"),
      REAL(x_), has_y ? REAL(y_) : nullptr, real_or_null(w_), n, REAL(ab),
      has_y ? REAL(rhs) : nullptr, REAL(sums), &count, &bad);
  if (status == BSBASIS_ERROR_DATA && bad >= 0) {
    UNPROTECT(3);
    return Rf_ScalarReal((double)bad + 1);
  }
  check_status(status, "the normal equations");
  SEXP out = PROTECT(Rf_allocVector(VECSXP, 4));
  SET_VECTOR_ELT(out, 0, ab);
  SET_VECTOR_ELT(out, 1, rhs);
  SET_VECTOR_ELT(out, 2, sums);
  SET_VECTOR_ELT(out, 3, Rf_ScalarReal((double)count));
  UNPROTECT(4);
  return out;
}

}  // extern "C"

// ---- Formula terms (R/terms.R): bs, ns and pbs over every abscissa, the
// rows of NA and NaN abscissae included, as a dense matrix or the slots of a
// dgCMatrix.

#include <algorithm>

namespace {

// A term's rows come from f(nu, x, n, j, B) -> status, which writes `width`
// entries per abscissa (the library call), and end(nu, x, n, j, B), which
// adjusts them (bs: splineDesign's right end) or does nothing.

// Every row into j and B (n * width entries), with the derivative order of
// abscissa p taken from nu[p] (nu[0] when nnu == 1): the abscissae of each
// order are gathered, evaluated together and their rows put back in place.
template <class F, class E>
int term_rows(const F &f, const E &end, const int *nu, int64_t nnu, const double *x,
              int64_t n, int width, int32_t *j, double *B, int threads) {
  auto run = [&](int32_t d, const double *xs, int64_t m, int32_t *jd, double *Bd) {
    return term_split(m, term_threads(m, threads), [&](int, int64_t a, int64_t k) {
      const int st = f(d, xs + a, k, jd + a * width, Bd + a * width);
      if (st == BSBASIS_OK) end(d, xs + a, k, jd + a * width, Bd + a * width);
      return st;
    });
  };
  return by_derivative_order(nu, nnu, x, n, width, j, B, run);
}

// The rows of NA and NaN abscissae of a dense n x ncol result set to NA.
void term_na_rows(const double *x, int64_t n, int ncol, double *out) {
  for (int64_t p = 0; p < n; ++p)
    if (ISNAN(x[p]))
      for (int c = 0; c < ncol; ++c) out[p + (int64_t)c * n] = NA_REAL;
}

// The dense n x ncol result (column-major), columns j - shift.  With one
// derivative order the rows are formed kTermChunk at a time in scratch that
// stays in cache and go straight into the result, so that no copy of every
// row is ever held; with several, every row is formed first (term_rows).
template <class F, class E>
SEXP term_dense(const F &f, const E &end, const int *nu, int64_t nnu, const double *x,
                int64_t n, int width, int shift, int ncol, int threads, const char *what) {
  if ((double)n * ncol > (double)R_XLEN_T_MAX)
    Rf_error("the dense result of %.0f x %d is too large", (double)n, ncol);
  SEXP out = PROTECT(Rf_allocMatrix(REALSXP, (int)n, ncol));
  double *o = (double *)huge_pages(REAL(out), (size_t)n * ncol * sizeof(double));
  bool single = true;
  for (int64_t p = 1; p < nnu && single; ++p) single = nu[p] == nu[0];
  int status = BSBASIS_OK;
  if (n > 0 && ncol > 0 && single) {
    const int32_t d = nnu ? nu[0] : 0;
    const int nt = term_threads(n, threads);
    int32_t *js = (int32_t *)R_alloc((size_t)nt * kTermChunk * width, sizeof(int32_t));
    double *Bs = (double *)R_alloc((size_t)nt * kTermChunk * width, sizeof(double));
    status = term_split(n, nt, [&](int w, int64_t a, int64_t m) {
      int32_t *j = js + (int64_t)w * kTermChunk * width;
      double *B = Bs + (int64_t)w * kTermChunk * width;
      for (int64_t c0 = a; c0 < a + m; c0 += kTermChunk) {
        const int64_t k = a + m - c0 < kTermChunk ? a + m - c0 : kTermChunk;
        int st = f(d, x + c0, k, j, B);
        if (st != BSBASIS_OK) return st;
        end(d, x + c0, k, j, B);
        if (shift)
          for (int64_t e = 0; e < k * width; ++e) j[e] -= shift;  // empty rows stay negative
        st = bsbasis_blocks_to_dense(width, j, B, k, ncol, o + c0, 1, n);
        if (st != BSBASIS_OK) return st;
      }
      return BSBASIS_OK;
    });
  } else if (n > 0 && ncol > 0) {
    Blocks b(n, width);
    status = term_rows(f, end, nu, nnu, x, n, width, b.j, b.B, threads);
    if (status == BSBASIS_OK) {
      if (shift)
        for (int64_t e = 0; e < n * width; ++e) b.j[e] -= shift;
      status = bsbasis_blocks_to_dense(width, b.j, b.B, n, ncol, o, 1, n);
    }
  }
  check_status(status, what);
  term_na_rows(x, n, ncol, o);
  UNPROTECT(1);
  return out;
}

// A term's result: the dgCMatrix slots or the dense matrix; `twice` as
// csc_result takes it.
template <class F, class E>
SEXP term_result(const F &f, const E &end, SEXP x_, SEXP nu_, SEXP sparse_, SEXP threads_,
                 int width, int shift, int ncol, const char *what, bool twice) {
  need(TYPEOF(x_) == REALSXP, "x must be double");
  const double *x = REAL(x_);
  const int64_t n = XLENGTH(x_);
  check_nu(nu_, n);
  const int threads = scalar_int(threads_, "threads");
  need(ncol >= 0 && shift >= 0, "ncol and shift");
  if (n > INT_MAX) Rf_error("'x' has %.0f values; at most %d are supported", (double)n, INT_MAX);
  if (Rf_asLogical(sparse_) != TRUE)
    return term_dense(f, end, INTEGER(nu_), XLENGTH(nu_), x, n, width, shift, ncol, threads,
                      what);
  return csc_result(
      [&](int32_t d, const double *xs, int64_t m, int32_t *j, double *B) {
        const int st = f(d, xs, m, j, B);
        if (st == BSBASIS_OK) end(d, xs, m, j, B);
        return st;
      },
      INTEGER(nu_), XLENGTH(nu_), x, n, width, shift, ncol, x, threads, what, twice);
}

// Partially orders v[lo .. hi-1] so that each of the positions k[a .. b-1]
// (increasing, inside the range) holds the value it would hold sorted: the
// middle position first, then each side on its own positions.
void select_at(double *v, int64_t lo, int64_t hi, const int64_t *k, int64_t a, int64_t b) {
  while (a < b) {
    const int64_t mid = a + (b - a) / 2, at = k[mid];
    std::nth_element(v + lo, v + at, v + hi);
    select_at(v, lo, at, k, a, mid);
    lo = at + 1;
    a = mid + 1;
  }
}

// The order statistics of x[0 .. n-1] (no NaN) at the increasing 0-based
// positions k, into out.  The values are put in kBuckets buckets of equal
// width between the least and the greatest of a sample drawn at a fixed
// stride (the ends taking the values beyond); a bucket's index never
// decreases as the value grows, so the counts of one pass place every
// position in its bucket exactly, a second pass copies out the buckets
// that hold positions, and each position is selected among its bucket's
// values.  The sample decides only how many values are copied, never the
// result.
void order_stats(const double *x, int64_t n, const int64_t *k, int64_t nk, double *out) {
  const int64_t kBuckets = 4096, kSample = 1024;
  if (n < 16 * kBuckets || nk == 0) {
    double *v = (double *)R_alloc(n ? n : 1, sizeof(double));
    memcpy(v, x, (size_t)n * sizeof(double));
    select_at(v, 0, n, k, 0, nk);
    for (int64_t q = 0; q < nk; ++q) out[q] = v[k[q]];
    return;
  }
  double lo = x[0], hi = x[0];
  for (int64_t a = 1; a < kSample; ++a) {
    const double v = x[(a * n) / kSample];
    lo = v < lo ? v : lo;
    hi = v > hi ? v : hi;
  }
  const double span = hi - lo, inv = span > 0 && span < R_PosInf ? (kBuckets - 1) / span : 0;
  auto bucket = [&](double v) {
    double t = (v - lo) * inv;  // NaN only when inv is 0: every value in bucket 0
    t = t > 0 ? t : 0;
    t = t < kBuckets - 1 ? t : kBuckets - 1;
    return (int64_t)t;
  };
  int64_t *start = (int64_t *)R_alloc(kBuckets + 1, sizeof(int64_t));
  memset(start, 0, (kBuckets + 1) * sizeof(int64_t));
  for (int64_t p = 0; p < n; ++p) ++start[bucket(x[p]) + 1];
  for (int64_t b = 0; b < kBuckets; ++b) start[b + 1] += start[b];
  // The bucket of each position, and where its values are copied to.
  int64_t *where = (int64_t *)R_alloc(nk, sizeof(int64_t));
  int64_t *base = (int64_t *)R_alloc(kBuckets, sizeof(int64_t));
  for (int64_t b = 0; b < kBuckets; ++b) base[b] = -1;
  int64_t total = 0;
  for (int64_t q = 0, b = 0; q < nk; ++q) {
    while (start[b + 1] <= k[q]) ++b;
    where[q] = b;
    if (base[b] < 0) {
      base[b] = total;
      total += start[b + 1] - start[b];
    }
  }
  double *v = (double *)R_alloc(total ? total : 1, sizeof(double));
  int64_t *next = (int64_t *)R_alloc(kBuckets, sizeof(int64_t));
  memcpy(next, base, kBuckets * sizeof(int64_t));
  for (int64_t p = 0; p < n; ++p) {
    const int64_t b = bucket(x[p]);
    if (next[b] >= 0) v[next[b]++] = x[p];
  }
  // Each bucket's positions, relative to its first value, selected there.
  int64_t *rel = (int64_t *)R_alloc(nk, sizeof(int64_t));
  for (int64_t q = 0; q < nk;) {
    const int64_t b = where[q], len = start[b + 1] - start[b];
    int64_t e = q;
    for (; e < nk && where[e] == b; ++e) rel[e] = k[e] - start[b];
    select_at(v + base[b], 0, len, rel, q, e);
    for (; q < e; ++q) out[q] = v[base[b] + rel[q]];
  }
}

}  // namespace

extern "C" {

// bs(): the B-splines of order ord on the knots t (the boundary knots ord
// times each and the interior knots, strictly inside), their polynomial
// pieces continued beyond the boundary knots, columns from `shift` (1 drops
// the first).  At the right end the rows of splineDesign (to_spline_end).
SEXP bsb_bs_term(SEXP t_, SEXP ord_, SEXP nu_, SEXP x_, SEXP sparse_, SEXP shift_,
                 SEXP threads_) {
  need(TYPEOF(t_) == REALSXP, "t must be double");
  const int ord = scalar_int(ord_, "ord"), shift = scalar_int(shift_, "shift");
  const double *t = REAL(t_);
  const int64_t nt = XLENGTH(t_), nj = nt - ord;
  need(ord >= 1 && nj >= ord && shift < nj, "ord, knots and shift");
  auto f = [&](int32_t nu, const double *x, int64_t n, int32_t *j, double *B) {
    return bsbasis_design(t, nt, ord, nj, nu, BSBASIS_EXTRAPOLATE_CONTINUE, x, n, nullptr, j,
                          B, nullptr);
  };
  auto end = [&](int32_t nu, const double *x, int64_t n, int32_t *j, double *B) {
    to_spline_end(t, nt, ord, &nu, 1, x, n, j, B);
  };
  return term_result(f, end, x_, nu_, sparse_, threads_, ord, shift, (int)(nj - shift),
                     "bs()", true);
}

// ns(): natural cubic splines on the boundary knots bounds[0] < bounds[1]
// and the sorted interior knots, strictly inside.
SEXP bsb_ns_term(SEXP bounds_, SEXP knots_, SEXP intercept_, SEXP nu_, SEXP x_,
                 SEXP sparse_, SEXP threads_) {
  need(TYPEOF(bounds_) == REALSXP && XLENGTH(bounds_) == 2, "bounds must be two doubles");
  need(TYPEOF(knots_) == REALSXP, "knots must be double");
  const double lo = REAL(bounds_)[0], hi = REAL(bounds_)[1];
  const double *knots = XLENGTH(knots_) ? REAL(knots_) : nullptr;
  const int64_t nk = XLENGTH(knots_);
  const int32_t intercept = scalar_int(intercept_, "intercept") != 0;
  auto f = [&](int32_t nu, const double *x, int64_t n, int32_t *j, double *B) {
    return bsbasis_natural_design(lo, hi, knots, nk, intercept, nu, x, n, nullptr, j, B,
                                  nullptr);
  };
  auto end = [](int32_t, const double *, int64_t, int32_t *, double *) {};
  return term_result(f, end, x_, nu_, sparse_, threads_, BSBASIS_NATURAL_WIDTH, 0,
                     (int)(nk + 1 + intercept), "ns()", false);
}

// pbs(): the periodic B-splines of order ord on the strictly increasing
// breaks (the period their span), columns from `shift`.
SEXP bsb_pbs_term(SEXP breaks_, SEXP ord_, SEXP nu_, SEXP x_, SEXP sparse_, SEXP shift_,
                  SEXP threads_) {
  need(TYPEOF(breaks_) == REALSXP, "breaks must be double");
  const int ord = scalar_int(ord_, "ord"), shift = scalar_int(shift_, "shift");
  const double *u = REAL(breaks_);
  const int64_t nb = XLENGTH(breaks_), m = nb - 1;
  need(ord >= 1 && m >= ord && shift < m, "ord, breaks and shift");
  auto f = [&](int32_t nu, const double *x, int64_t n, int32_t *j, double *B) {
    return bsbasis_periodic_design(u, nb, ord, nu, x, n, nullptr, j, B, nullptr);
  };
  auto end = [](int32_t, const double *, int64_t, int32_t *, double *) {};
  return term_result(f, end, x_, nu_, sparse_, threads_, ord, shift, (int)(m - shift),
                     "pbs()", true);
}

// The order statistics of x (no NaN) at the increasing 1-based positions k
// (order_stats), at a fraction of the cost of a sort.
SEXP bsb_order_stats(SEXP x_, SEXP k_) {
  need(TYPEOF(x_) == REALSXP && TYPEOF(k_) == INTSXP, "x double and k integer");
  const int64_t n = XLENGTH(x_), nk = XLENGTH(k_);
  int64_t *k = (int64_t *)R_alloc(nk ? nk : 1, sizeof(int64_t));
  for (int64_t q = 0; q < nk; ++q) {
    k[q] = (int64_t)INTEGER(k_)[q] - 1;
    need(k[q] >= 0 && k[q] < n && (q == 0 || k[q] > k[q - 1]), "k increasing in 1 .. n");
  }
  SEXP out = PROTECT(Rf_allocVector(REALSXP, (R_xlen_t)nk));
  order_stats(REAL(x_), n, k, nk, REAL(out));
  UNPROTECT(1);
  return out;
}

// c(any NA or NaN, any infinite, min, max of the values not NA) of a
// double vector, in one pass: what bs(), ns() and pbs() ask of x before
// anything else (min and max +Inf and -Inf when every value is NA).
SEXP bsb_scan(SEXP x_) {
  need(TYPEOF(x_) == REALSXP, "x must be double");
  const double *x = REAL(x_);
  const R_xlen_t n = XLENGTH(x_);
  bool na = false, inf = false;
  double lo = R_PosInf, hi = R_NegInf;
  for (R_xlen_t p = 0; p < n; ++p) {
    const double v = x[p];
    if (ISNAN(v)) {
      na = true;
      continue;
    }
    inf = inf || v == R_PosInf || v == R_NegInf;
    if (v < lo) lo = v;
    if (v > hi) hi = v;
  }
  SEXP out = PROTECT(Rf_allocVector(REALSXP, 4));
  REAL(out)[0] = na;
  REAL(out)[1] = inf;
  REAL(out)[2] = lo;
  REAL(out)[3] = hi;
  UNPROTECT(1);
  return out;
}

static const R_CallMethodDef call_methods[] = {
    {"bsb_design", (DL_FUNC)&bsb_design, 12},
    {"bsb_first_outside", (DL_FUNC)&bsb_first_outside, 3},
    {"bsb_any_outside", (DL_FUNC)&bsb_any_outside, 3},
    {"bsb_difference_penalty", (DL_FUNC)&bsb_difference_penalty, 2},
    {"bsb_derivative_penalty", (DL_FUNC)&bsb_derivative_penalty, 4},
    {"bsb_check_knots", (DL_FUNC)&bsb_check_knots, 3},
    {"bsb_make_knots", (DL_FUNC)&bsb_make_knots, 6},
    {"bsb_normal_equations", (DL_FUNC)&bsb_normal_equations, 8},
    {"bsb_spline_design", (DL_FUNC)&bsb_spline_design, 7},
    {"bsb_sorted_slots", (DL_FUNC)&bsb_sorted_slots, 5},
    {"bsb_blocks", (DL_FUNC)&bsb_blocks, 5},
    {"bsb_as_integer", (DL_FUNC)&bsb_as_integer, 1},
    {"bsb_bs_term", (DL_FUNC)&bsb_bs_term, 7},
    {"bsb_ns_term", (DL_FUNC)&bsb_ns_term, 7},
    {"bsb_pbs_term", (DL_FUNC)&bsb_pbs_term, 7},
    {"bsb_order_stats", (DL_FUNC)&bsb_order_stats, 2},
    {"bsb_scan", (DL_FUNC)&bsb_scan, 1},
    {nullptr, nullptr, 0}};

// The one symbol R looks up by name: the package is compiled with hidden
// visibility (Makevars), and the routines are found by registration.
attribute_visible void R_init_bsbasis(DllInfo *dll) {
  R_registerRoutines(dll, nullptr, call_methods, nullptr, nullptr);
  R_useDynamicSymbols(dll, FALSE);
}

}  // extern "C"

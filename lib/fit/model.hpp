// The terms of a model, checked, and their rows for a sub-tile of rows:
// what the model's sums and row values (model.cpp) are formed from.
#ifndef BSBASIS_FIT_MODEL_HPP
#define BSBASIS_FIT_MODEL_HPP

#include "bsbasis.h"
#include "core/common.hpp"

namespace bsbasis {
namespace model {

constexpr int kMaxMargins = 3;
// Rows per sub-tile at most, and the entries of every term's rows in a
// sub-tile at most (fewer rows for wide terms, never fewer than one).
constexpr index_t kSubTileRows = 256;
constexpr index_t kSubTileEntries = 1 << 16;

// Memory from malloc, freed on the way out; zeroed on request.
template <class T>
class Owned {
 public:
  Owned() = default;
  ~Owned() { free(p_); }
  Owned(const Owned &) = delete;
  Owned &operator=(const Owned &) = delete;
  // False when the allocation fails (n 0 allocates one element).
  bool allocate(index_t n, bool zero) {
    free(p_);
    const size_t m = n > 0 ? static_cast<size_t>(n) : 1;
    p_ = m > SIZE_MAX / sizeof(T) ? nullptr
         : zero                   ? static_cast<T *>(calloc(m, sizeof(T)))
                                  : static_cast<T *>(malloc(m * sizeof(T)));
    return p_ != nullptr;
  }
  T *data() const { return p_; }

 private:
  T *p_ = nullptr;
};

// One margin of a spline term, checked, with its scratch for a sub-tile:
// the gathered coordinates, the blocks' columns and values.
struct Margin {
  int kind, order, nu, mode;
  const double *t;  // the knots the rows are evaluated on
  int nt, nj;       // their count and the basis's columns on them
  int width;        // the margin's columns in the model (periodic: wrapped)
  double origin, spacing;
  index_t column;
  double lo, hi;  // the base interval (under ERROR)
  double *knots;  // a periodic margin's knots (malloc; the Model frees them)
  double *x, *B;  // scratch for a sub-tile
  int32_t *j;
};

// One term, checked: its first column in the model, its width and the
// entries of a row; a spline term's rows go to cols/vals for a sub-tile.
struct Term {
  int kind, d;
  index_t column, nlevels, offset, width, entries;
  Margin m[kMaxMargins];
  int64_t *cols;
  double *vals;
};

// Margins and terms live in zeroed memory (calloc): plain data.
static_assert(__is_trivial(Term), "terms are zeroed, not constructed");

// The call's terms, checked, with their offsets; the model's columns.
// The terms are zeroed before they are checked, so that every periodic
// margin's knots, given or not, are freed once.
struct Model {
  Model() = default;
  Model(const Model &) = delete;
  Model &operator=(const Model &) = delete;
  ~Model() {
    Term *t = terms.data();
    for (index_t k = 0; t && k < allocated; ++k)
      for (int a = 0; a < kMaxMargins; ++a) free(t[k].m[a].knots);
  }
  Owned<Term> terms;
  index_t allocated = 0;
  index_t nterms = 0, ncols = 0;  // ncols: the model's columns
  index_t entries = 0;            // of a row at most
};

// The values of x a call reads.
struct Table {
  const double *x;
  index_t nrows, rs, cs;
  double at(index_t p, index_t c) const { return x[p * rs + c * cs]; }
};

// Scratch for the spline terms' rows of S rows, and for one row of the
// model (its columns and values).
struct Rows {
  index_t S = 0;
  Owned<double> dstore;
  Owned<int32_t> jstore;
  Owned<int64_t> cstore;
  int64_t *rc = nullptr;
  double *rv = nullptr;
};

// The terms in order (bsbasis.h's steps 1 and 2): the first term at fault
// to *bad_term.
int check_model(const bsbasis_term *terms, int64_t nterms, int64_t ncols, Model *model,
                int64_t *bad_term);

// The rows, strides and x of a call (step 3).
int check_table(const double *x, int64_t nrows, int64_t ncols, int64_t row_stride,
                int64_t col_stride);

// The first fault of the data (step 5): the first row at fault, and on it
// the first term, then the weight, then the response; *bad_row and
// *bad_term set only on a fault.
int first_fault(const Model &model, const Table &x, const double *y, const double *w,
                int64_t *bad_row, int64_t *bad_term);

// Scratch for the rows of a sub-tile; its size to r->S.
int prepare_rows(Model &model, Rows *r);

// Every spline term's rows of the sub-tile p0 .. p0 + n - 1 (n <= r.S).
int sub_tile_rows(Model &model, const Table &x, index_t p0, index_t n);

// Row m of the sub-tile at p0, in the model's columns: its entries to rc,
// rv in increasing column order, their count returned.  An empty spline
// term has none.
index_t model_row(const Model &model, const Table &x, index_t p0, index_t m, int64_t *rc,
                  double *rv);

}  // namespace model
}  // namespace bsbasis

#endif

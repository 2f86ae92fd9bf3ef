// First derivatives of a knot-sequence basis from its order - 1 values: the
// export, a path per fixed order and one for any order, all from the one
// rule derive_block.
#include <utility>

#include "bsbasis.h"
#include "common.hpp"
#include "dispatch.hpp"
#include "kernels.hpp"
#include "numeric.hpp"

namespace bsbasis {
namespace {

constexpr size_t kStack = 1024;

// Reciprocal spans of the order - 1 functions by column: from the table, 0
// for a column outside the knots.
struct TableScale {
  const double *s;
  int nt;
  double operator()(index_t c) const { return c >= 0 && c < nt ? s[c] : 0.0; }
};

// The same for a block whose columns all lie in 0 .. nt-2.
struct InsideScale {
  const double *s;
  double operator()(index_t c) const { return s[c]; }
};

// Formed at each use, where the table does not pay.
struct OwnScale {
  const double *t;
  int nt, w;
  double operator()(index_t c) const {
    return c >= 0 && c < nt ? reciprocal_span(t, nt, c, w) : 0.0;
  }
};

struct AmongKnots {
  int nt;
  bool operator()(index_t c) const { return c >= 0 && c < nt; }
};

struct Always {
  bool operator()(index_t) const { return true; }
};

// The table holds a span for every knot: it pays while the knots are not
// many more than the blocks.
bool span_table_pays(int nt, index_t nx, int order) {
  return static_cast<double>(nt) <= static_cast<double>(kStack) ||
         static_cast<double>(nt) <= 2.0 * static_cast<double>(nx) * order;
}

// Order is an int, or a std::integral_constant for a path of fixed order.
template <class Order>
void derive_blocks(const double *t, int nt, const int *j, double *B, index_t nx,
                   Order ord) {
  const int order = ord, deg = order - 1;
  const double km1 = static_cast<double>(order) - 1.0;
  if (nt > 0 && span_table_pays(nt, nx, order)) {
    Scratch<double, kStack> store(static_cast<size_t>(nt));
    if (double *s = store.data()) {
      for (int c = 0; c < nt; ++c) s[c] = reciprocal_span(t, nt, c, deg);
      const unsigned last = static_cast<unsigned>(nt) - 2u;
      for (index_t p = 0; p < nx; ++p) {
        const int *jb = j + block_offset(p, order);
        double *b = B + block_offset(p, order);
        bool inside = nt >= 2;
        for (int q = 0; q < order; ++q) inside = inside & (static_cast<unsigned>(jb[q]) <= last);
        if (inside)
          derive_block(InsideScale{s}, Always{}, jb, b, deg, km1);
        else
          derive_block(TableScale{s, nt}, AmongKnots{nt}, jb, b, deg, km1);
      }
      return;
    }
  }
  for (index_t p = 0; p < nx; ++p)
    derive_block(OwnScale{t, nt, deg}, AmongKnots{nt}, j + block_offset(p, order),
                 B + block_offset(p, order), deg, km1);
}

using DerivKernel = void (*)(const double *t, int nt, const int *j, double *B, index_t nx);

template <int O>
void derive_fixed(const double *t, int nt, const int *j, double *B, index_t nx) {
  derive_blocks(t, nt, j, B, nx, std::integral_constant<int, O>{});
}

template <int O>
constexpr DerivKernel deriv_at() {
  if constexpr (O >= kMinFixed) return &derive_fixed<O>;
  return nullptr;
}

struct DerivTable {
  DerivKernel at[kMaxFixed + 1];
};

template <int... O>
constexpr DerivTable make_deriv_table(std::integer_sequence<int, O...>) {
  return DerivTable{{deriv_at<O>()...}};
}

// The same scalar code serves every instruction set: one table.
constexpr DerivTable kDeriv =
    make_deriv_table(std::make_integer_sequence<int, kMaxFixed + 1>{});

}  // namespace

void deriv_generic(const double *t, int nt, const int *j, double *B, index_t nx,
                   int order) {
  derive_blocks(t, nt, j, B, nx, order);
}

bool deriv_fixed(const double *t, int nt, const int *j, double *B, index_t nx,
                 int order) {
  if (order < kMinFixed || order > kMaxFixed) return false;
  kDeriv.at[order](t, nt, j, B, nx);
  return true;
}

}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT void deriv_grid(double *t, int nt, int *i, int *j, double *B,
                               int N, int nx, int order) {
  (void)i;
  (void)N;
  if (order <= 0 || nx <= 0) return;
  if (!deriv_fixed(t, nt, j, B, nx, order)) deriv_generic(t, nt, j, B, nx, order);
}

// First derivatives of a knot-sequence basis from its order - 1 values: the
// export, a path per fixed order (its blocks in vector lanes where the
// dispatched table has a kernel for it) and one for any order, all from
// the one rule derive_block.
#include <utility>

#include "bsbasis.h"
#include "core/common.hpp"
#include "lanes/dispatch.hpp"
#include "blocks/entry_points.hpp"
#include "core/numeric.hpp"
#include "core/span_table.hpp"

namespace bsbasis {
namespace {

constexpr size_t kStack = 1024;

// Reciprocal spans formed at each use, where the table does not pay.
struct OwnScale {
  const double *t;
  int nt, w;
  double operator()(index_t c) const {
    return c >= 0 && c < nt ? reciprocal_span(t, nt, c, w) : 0.0;
  }
};

// The table holds a span for every knot: it pays while the knots are not
// many more than the blocks.
bool span_table_pays(int nt, index_t nx, int order) {
  return static_cast<double>(nt) <= static_cast<double>(kStack) ||
         static_cast<double>(nt) <= 2.0 * static_cast<double>(nx) * order;
}

// Order is an int, or a std::integral_constant for a path of fixed order;
// `lanes`, when there is one, runs the blocks with the table in vector
// lanes.
template <class Order>
void derive_blocks(const double *t, int nt, const int *j, double *B, index_t nx,
                   Order ord, DerivKernel lanes) {
  const int order = ord, deg = order - 1;
  const double km1 = static_cast<double>(order) - 1.0;
  if (nt > 0 && span_table_pays(nt, nx, order)) {
    Scratch<double, kStack> store(static_cast<size_t>(nt));
    if (double *s = store.data()) {
      for (int c = 0; c < nt; ++c) s[c] = reciprocal_span(t, nt, c, deg);
      if (lanes) {
        lanes(s, nt, j, B, nx);
        return;
      }
      for (index_t p = 0; p < nx; ++p)
        derive_with_table(s, nt, j + block_offset(p, order), B + block_offset(p, order), ord,
                          km1);
      return;
    }
  }
  for (index_t p = 0; p < nx; ++p)
    derive_block(OwnScale{t, nt, deg}, AmongKnots{nt}, j + block_offset(p, order),
                 B + block_offset(p, order), deg, km1);
}

template <int O>
void derive_fixed(const double *t, int nt, const int *j, double *B, index_t nx) {
  derive_blocks(t, nt, j, B, nx, std::integral_constant<int, O>{}, kernels().deriv[O]);
}

using FixedPath = void (*)(const double *t, int nt, const int *j, double *B, index_t nx);

template <int O>
constexpr FixedPath fixed_at() {
  if constexpr (O >= kMinFixed) return &derive_fixed<O>;
  return nullptr;
}

struct FixedPaths {
  FixedPath at[kMaxFixed + 1];
};

template <int... O>
constexpr FixedPaths make_fixed_paths(std::integer_sequence<int, O...>) {
  return FixedPaths{{fixed_at<O>()...}};
}

// The scalar paths of fixed order, each with the vector kernel of its order
// from the dispatched table when that table has one.
constexpr FixedPaths kFixed =
    make_fixed_paths(std::make_integer_sequence<int, kMaxFixed + 1>{});

}  // namespace

void deriv_generic(const double *t, int nt, const int *j, double *B, index_t nx,
                   int order) {
  derive_blocks(t, nt, j, B, nx, order, nullptr);
}

bool deriv_fixed(const double *t, int nt, const int *j, double *B, index_t nx,
                 int order) {
  if (order < kMinFixed || order > kMaxFixed) return false;
  kFixed.at[order](t, nt, j, B, nx);
  return true;
}

void derivative_blocks(const double *t, int nt, const int *j, double *B, index_t nx,
                       int order) {
  if (order <= 0 || nx <= 0) return;
  if (!deriv_fixed(t, nt, j, B, nx, order)) deriv_generic(t, nt, j, B, nx, order);
}

}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT void deriv_grid(double *t, int nt, int *i, int *j, double *B,
                               int N, int nx, int order) {
  (void)i;
  (void)N;
  derivative_blocks(t, nt, j, B, nx, order);
}

// First derivatives of a knot-sequence basis from its order - 1 values.
#include "bsbasis.h"
#include "common.hpp"
#include "kernels.hpp"

namespace bsbasis {
namespace {

// Columns outside the knots read as an empty span.
inline double scale_at(const double *scale, int nt, index_t c) {
  return c >= 0 && c < nt ? scale[c] : 0.0;
}

inline bool column_ok(int nt, int c) { return c >= 0 && c < nt; }

// d/dx of the order-`order` functions of one block, from its order - 1 values:
// (order - 1) times the difference of the two neighbouring scaled values.
void derive_block(const double *scale, int nt, const int *jb, double *b,
                  int order, double km1) {
  const int deg = order - 1;
  const int J = jb[deg];
  // A top column below deg marks a block that is not in range (blossom_grid
  // gives those columns 0 and values 0): its values stay as they are, so that
  // a reciprocal span that overflowed to inf cannot turn its zeros into NaN.
  if (J < deg) {
    for (int q = 0; q <= deg; ++q)
      if (!column_ok(nt, jb[q])) b[q] = 0.0;
    return;
  }
  double l1 = (scale_at(scale, nt, J) * b[deg]) * km1;
  for (int q = deg - 1; q >= 0; --q) {
    const index_t c = jb[q];
    const double l2 =
        (b[q] * scale_at(scale, nt, c) - b[q + 1] * scale_at(scale, nt, c + 1)) *
        km1;
    b[q + 1] = column_ok(nt, jb[q + 1]) ? l1 : 0.0;
    l1 = l2;
  }
  b[0] = column_ok(nt, jb[0]) ? l1 : 0.0;
}

}  // namespace

// scale[c] = 1 / (t[c + order - 1] - t[c]), the reciprocal span of the
// order - 1 function of column c, or 0 where it is not positive or runs past
// the last knot.
void fill_deriv_scale(const double *t, int nt, int order, double *scale) {
  for (int c = 0; c < nt; ++c) {
    const index_t jx = static_cast<index_t>(c) + order - 1;
    const double span = jx < nt ? t[jx] - t[c] : 0.0;
    scale[c] = span > 0 ? 1.0 / span : 0.0;
  }
}

void deriv_generic(const double *t, int nt, const int *j, double *B, index_t nx,
                   int order) {
  const double km1 = static_cast<double>(order) - 1.0;
  ScratchTable scratch(nt > 0 ? static_cast<size_t>(nt) : 0);
  double *scale = scratch.data();
  if (!scale) {
    poison_values(B, nx, order);
    return;
  }
  fill_deriv_scale(t, nt, order, scale);
  for (index_t p = 0; p < nx; ++p) {
    const index_t oo = block_offset(p, order);
    derive_block(scale, nt, j + oo, B + oo, order, km1);
  }
}

}  // namespace bsbasis

using namespace bsbasis;

BSBASIS_EXPORT void deriv_grid(double *t, int nt, int *i, int *j, double *B,
                               int N, int nx, int order) {
  (void)i;
  (void)N;
  if (order <= 0 || nx <= 0) return;
  if (deriv_fixed(best_isa(), t, nt, j, B, nx, order)) return;
  if (deriv_fixed(Isa::kBaseline, t, nt, j, B, nx, order)) return;
  deriv_generic(t, nt, j, B, nx, order);
}

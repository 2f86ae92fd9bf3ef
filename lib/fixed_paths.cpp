// The fixed-order kernels, compiled once per instruction set from one
// source (fixed_paths.inc), and the choice among them.
#include "block_layout.hpp"
#include "common.hpp"
#include "kernels.hpp"

namespace bsbasis {

namespace baseline {
namespace {
constexpr int kLanes = 2;  // SSE2
#include "fixed_paths.inc"
}  // namespace
}  // namespace baseline

#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
namespace {
constexpr int kLanes = 4;
#include "fixed_paths.inc"
}  // namespace
}  // namespace avx2
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx2,avx512f,avx512dq,avx512vl")
namespace avx512 {
namespace {
constexpr int kLanes = 4;  // 256-bit vectors, 32 registers
#include "fixed_paths.inc"
}  // namespace
}  // namespace avx512
#pragma GCC pop_options

bool grid_fixed(Isa isa, const double *t, int nt, const double *x, index_t nx,
                int *i, int *j, double *B, int order_stop, int order, int nj) {
  if (!isa_supported(isa)) return false;
  switch (isa) {
    case Isa::kAvx512:
      return avx512::grid(t, nt, x, nx, i, j, B, order_stop, order, nj);
    case Isa::kAvx2:
      return avx2::grid(t, nt, x, nx, i, j, B, order_stop, order, nj);
    default:
      return baseline::grid(t, nt, x, nx, i, j, B, order_stop, order, nj);
  }
}

bool uniform_fixed(Isa isa, const double *x, index_t nx, int *i, int *j,
                   double *B, int order_stop, int order, int nj) {
  if (!isa_supported(isa)) return false;
  switch (isa) {
    case Isa::kAvx512:
      return avx512::uniform(x, nx, i, j, B, order_stop, order, nj);
    case Isa::kAvx2:
      return avx2::uniform(x, nx, i, j, B, order_stop, order, nj);
    default:
      return baseline::uniform(x, nx, i, j, B, order_stop, order, nj);
  }
}

bool deriv_fixed(Isa isa, const double *t, int nt, const int *j, double *B,
                 index_t nx, int order) {
  if (!isa_supported(isa) || order < kMinFixed || order > kMaxFixed) return false;
  ScratchTable scratch(nt > 0 ? static_cast<size_t>(nt) : 0);
  double *scale = scratch.data();
  if (!scale) return false;
  fill_deriv_scale(t, nt, order, scale);
  switch (isa) {
    case Isa::kAvx512: avx512::deriv(scale, nt, j, B, nx, order); break;
    case Isa::kAvx2: avx2::deriv(scale, nt, j, B, nx, order); break;
    default: baseline::deriv(scale, nt, j, B, nx, order); break;
  }
  return true;
}

}  // namespace bsbasis

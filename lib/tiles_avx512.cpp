// The tiled kernels for AVX-512 (F, DQ, VL): four lanes of 256-bit vectors,
// with 32 registers and the EVEX encoding.
#include "cpu_features.hpp"
#include "tiles.hpp"

#if BSBASIS_X86
namespace bsbasis {
BSBASIS_TARGET_BEGIN("avx2,avx512f,avx512dq,avx512vl")
namespace avx512 {
namespace {
constexpr int kLanes = 4;
#include "tiles.inc"
}  // namespace
extern const KernelTable kTable = make_table(std::make_integer_sequence<int, kMaxFixed + 1>{});
}  // namespace avx512
BSBASIS_TARGET_END
}  // namespace bsbasis
#endif

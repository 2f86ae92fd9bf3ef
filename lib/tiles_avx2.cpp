// The tiled kernels for AVX2: four lanes.
#include "cpu_features.hpp"
#include "tiles.hpp"

#if BSBASIS_X86
namespace bsbasis {
BSBASIS_TARGET_BEGIN("avx2")
namespace avx2 {
namespace {
constexpr int kLanes = 4;
#include "tiles.inc"
}  // namespace
extern const KernelTable kTable = make_table(std::make_integer_sequence<int, kMaxFixed + 1>{});
}  // namespace avx2
BSBASIS_TARGET_END
}  // namespace bsbasis
#endif

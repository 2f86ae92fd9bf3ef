// The tiled kernels for the baseline of the architecture (SSE2 on x86-64):
// two lanes, no target attribute.
#include "tiles.hpp"

namespace bsbasis {
namespace baseline {
namespace {
constexpr int kLanes = 2;
#include "tiles.inc"
}  // namespace
extern const KernelTable kTable = make_table(std::make_integer_sequence<int, kMaxFixed + 1>{});
}  // namespace baseline
}  // namespace bsbasis

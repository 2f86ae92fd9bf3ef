// The tiled kernels for the baseline of the architecture (SSE2 on x86-64):
// two lanes, no target attribute.
#define BSBASIS_ISA baseline
#define BSBASIS_LANES 2
#include "lanes/variant.inc"

// The tiled kernels for AVX2: four lanes.
#include "lanes/cpu_features.hpp"
#if BSBASIS_X86
#define BSBASIS_ISA avx2
#define BSBASIS_LANES 4
#define BSBASIS_TARGET "avx2"
#include "lanes/variant.inc"
#endif

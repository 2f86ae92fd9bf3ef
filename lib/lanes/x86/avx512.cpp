// The tiled kernels for AVX-512 (F, DQ, VL): four lanes of 256-bit vectors,
// with 32 registers and the EVEX encoding.
#include "lanes/cpu_features.hpp"
#if BSBASIS_X86
#define BSBASIS_ISA avx512
#define BSBASIS_LANES 4
#define BSBASIS_TARGET "avx2,avx512f,avx512dq,avx512vl"
#include "lanes/variant.inc"
#endif

// What the CPU and the operating system support, as feature bits.
#ifndef BSBASIS_CPU_FEATURES_HPP
#define BSBASIS_CPU_FEATURES_HPP

#include <stdint.h>

#if defined(__x86_64__) || defined(__i386__)
#define BSBASIS_X86 1
#else
#define BSBASIS_X86 0
#endif

namespace bsbasis {

enum : uint32_t {
  kCpuAvx2 = 1u << 0,    // AVX2, with YMM state enabled by the OS
  kCpuAvx512 = 1u << 1,  // AVX-512 F, DQ and VL, with opmask and ZMM state
};

// The features of the CPU running this, read from cpuid (0 off x86).
uint32_t cpu_features();

}  // namespace bsbasis

#endif

// Feature detection: cpuid and xgetbv on x86, nothing elsewhere.
#include "lanes/cpu_features.hpp"

#if BSBASIS_X86
#include <cpuid.h>
#endif

namespace bsbasis {

#if BSBASIS_X86

namespace {

unsigned long long xgetbv0() {
  unsigned lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (static_cast<unsigned long long>(hi) << 32) | lo;
}

bool bit(unsigned reg, int b) { return (reg >> b) & 1u; }

}  // namespace

uint32_t cpu_features() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
  if (!bit(c, 27) || !bit(c, 28)) return 0;  // OSXSAVE, AVX
  const unsigned long long xcr0 = xgetbv0();
  if ((xcr0 & 0x6) != 0x6) return 0;  // XMM and YMM state
  if (__get_cpuid_max(0, nullptr) < 7) return 0;
  __cpuid_count(7, 0, a, b, c, d);
  uint32_t f = 0;
  if (bit(b, 5)) f |= kCpuAvx2;
  if (bit(b, 16) && bit(b, 17) && bit(b, 31) &&  // F, DQ, VL
      (xcr0 & 0xe0) == 0xe0)                     // opmask and ZMM state
    f |= kCpuAvx512;
  return f;
}

#else

uint32_t cpu_features() { return 0; }

#endif

}  // namespace bsbasis

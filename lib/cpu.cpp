// Which kernel variant this CPU runs: cpuid and xgetbv, asked once.
#include <cpuid.h>

#include "kernels.hpp"

namespace bsbasis {
namespace {

unsigned long long xgetbv0() {
  unsigned lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (static_cast<unsigned long long>(hi) << 32) | lo;
}

Isa detect() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return Isa::kBaseline;
  const bool osxsave = c & (1u << 27), avx = c & (1u << 28);
  if (!osxsave || !avx) return Isa::kBaseline;
  const unsigned long long xcr0 = xgetbv0();
  if ((xcr0 & 0x6) != 0x6) return Isa::kBaseline;  // XMM and YMM state
  if (__get_cpuid_max(0, nullptr) < 7) return Isa::kBaseline;
  __cpuid_count(7, 0, a, b, c, d);
  if (!(b & (1u << 5))) return Isa::kBaseline;  // AVX2
  const bool avx512 = (b & (1u << 16)) && (b & (1u << 17)) &&  // F, DQ
                      (b & (1u << 31)) &&                       // VL
                      (xcr0 & 0xe0) == 0xe0;  // opmask and ZMM state
  return avx512 ? Isa::kAvx512 : Isa::kAvx2;
}

}  // namespace

// The answer never changes, so a race on the cache is harmless: every
// thread stores the same value.  0 means not asked yet.
Isa best_isa() {
  static int cached = 0;
  int v = __atomic_load_n(&cached, __ATOMIC_RELAXED);
  if (v == 0) {
    v = static_cast<int>(detect()) + 1;
    __atomic_store_n(&cached, v, __ATOMIC_RELAXED);
  }
  return static_cast<Isa>(v - 1);
}

bool isa_supported(Isa isa) {
  return static_cast<int>(isa) <= static_cast<int>(best_isa());
}

}  // namespace bsbasis

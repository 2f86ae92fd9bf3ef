// The choice among the instruction-set variants.
#include "lanes/dispatch.hpp"

#include "lanes/cpu_features.hpp"

namespace bsbasis {

// The tables of the variants, one file each (baseline.cpp, x86/*.cpp).
namespace baseline {
extern const KernelTable kTable;
}
#if BSBASIS_X86
namespace avx2 {
extern const KernelTable kTable;
}
namespace avx512 {
extern const KernelTable kTable;
}
#endif

// Best first: the first one the CPU supports is chosen.
const IsaVariant kIsaVariants[] = {
#if BSBASIS_X86
    {"avx512", kCpuAvx2 | kCpuAvx512, &avx512::kTable},
    {"avx2", kCpuAvx2, &avx2::kTable},
#endif
    {"baseline", 0, &baseline::kTable},
};
const int kIsaVariantCount = sizeof kIsaVariants / sizeof kIsaVariants[0];

const KernelTable kGenericOnly = {};

namespace {

// The choice never changes, so a race on it is harmless: every thread
// stores the same pointer.  Null means not chosen yet.
const KernelTable *chosen = nullptr;

const KernelTable *best() {
  for (int v = 0; v < kIsaVariantCount; ++v)
    if (supported(kIsaVariants[v])) return kIsaVariants[v].table;
  return &kGenericOnly;
}

}  // namespace

bool supported(const IsaVariant &v) { return (v.needs & ~cpu_features()) == 0; }

const KernelTable &kernels() {
  const KernelTable *k = __atomic_load_n(&chosen, __ATOMIC_ACQUIRE);
  if (!k) {
    k = best();
    __atomic_store_n(&chosen, k, __ATOMIC_RELEASE);
  }
  return *k;
}

void use_kernels_for_testing(const KernelTable *table) {
  __atomic_store_n(&chosen, table ? table : best(), __ATOMIC_RELEASE);
}

}  // namespace bsbasis

// Internal helpers shared by the kernels.
#ifndef BSBASIS_COMMON_HPP
#define BSBASIS_COMMON_HPP

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#define BSBASIS_EXPORT extern "C" __attribute__((visibility("default")))

namespace bsbasis {

// Array offsets are 64-bit so that nx*order above 2^31 - 1 stays inside.
using index_t = int64_t;

inline index_t block_offset(index_t p, int order) { return p * order; }

inline bool is_finite(double v) { return v - v == 0.0; }

inline int min_int(int a, int b) { return a < b ? a : b; }
inline int max_int(int a, int b) { return a > b ? a : b; }

// A table of doubles that lives on the stack when small and on the heap
// otherwise.  data() is null when the heap allocation failed.
class ScratchTable {
 public:
  static constexpr size_t kStackEntries = 1024;

  explicit ScratchTable(size_t n) {
    if (n <= kStackEntries) {
      data_ = stack_;
    } else if (n <= SIZE_MAX / sizeof(double)) {
      heap_ = static_cast<double *>(malloc(n * sizeof(double)));
      data_ = heap_;
    }
  }
  ~ScratchTable() {
    if (heap_) free(heap_);  // no call for the common stack case
  }
  ScratchTable(const ScratchTable &) = delete;
  ScratchTable &operator=(const ScratchTable &) = delete;

  double *data() { return data_; }

 private:
  double stack_[kStackEntries];
  double *heap_ = nullptr;
  double *data_ = nullptr;
};

// Puts NaN in every value of nx blocks: how a failed allocation shows.
void poison_values(double *B, index_t nx, int order);

}  // namespace bsbasis

#endif

// Internal helpers shared by every part of the library.
#ifndef BSBASIS_COMMON_HPP
#define BSBASIS_COMMON_HPP

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

// The exports are visible in the shared library.  A host that compiles the
// sources into an object of its own (the R package) hides them with
// -DBSBASIS_EXPORT_VISIBILITY=hidden, so that its calls bind inside it.
#ifndef BSBASIS_EXPORT_VISIBILITY
#define BSBASIS_EXPORT_VISIBILITY default
#endif
#define BSBASIS_STRINGIFY_(v) #v
#define BSBASIS_STRINGIFY(v) BSBASIS_STRINGIFY_(v)
#define BSBASIS_EXPORT \
  extern "C" __attribute__((visibility(BSBASIS_STRINGIFY(BSBASIS_EXPORT_VISIBILITY))))
#define BSBASIS_INLINE inline __attribute__((always_inline))
#define BSBASIS_UNROLL _Pragma("GCC unroll 16")

namespace bsbasis {

// Array offsets are 64-bit so that nx*order above 2^31 - 1 stays inside.
using index_t = int64_t;

BSBASIS_INLINE index_t block_offset(index_t p, int order) { return p * order; }

BSBASIS_INLINE bool is_finite(double v) { return v - v == 0.0; }

// The double next above a whole number v >= 0 (nextafter(v, v + 1), -0
// taken as 0), and the next below a whole number v >= 1 (nextafter(v,
// v - 1)): one step of the bits, without a call to libm.
BSBASIS_INLINE double above_whole(double v) {
  if (v == 0.0) return 4.9406564584124654e-324;  // the least subnormal
  uint64_t b;
  memcpy(&b, &v, sizeof b);
  b += 1;
  memcpy(&v, &b, sizeof b);
  return v;
}

BSBASIS_INLINE double below_whole(double v) {
  uint64_t b;
  memcpy(&b, &v, sizeof b);
  b -= 1;
  memcpy(&v, &b, sizeof b);
  return v;
}

BSBASIS_INLINE int min_int(int a, int b) { return a < b ? a : b; }
BSBASIS_INLINE int max_int(int a, int b) { return a > b ? a : b; }

// Scratch memory of n elements: on the stack up to kStack of them, on the
// heap beyond.  data() is null when the heap allocation failed; every user
// has a way to work without it.
template <class T, size_t kStack>
class Scratch {
 public:
  explicit Scratch(size_t n) {
    if (n <= kStack) {
      data_ = stack_;
    } else if (n <= SIZE_MAX / sizeof(T)) {
      heap_ = static_cast<T *>(malloc(n * sizeof(T)));
      data_ = heap_;
    }
  }
  ~Scratch() {
    if (heap_) free(heap_);  // no call for the common stack case
  }
  Scratch(const Scratch &) = delete;
  Scratch &operator=(const Scratch &) = delete;

  T *data() { return data_; }

 private:
  T stack_[kStack];
  T *heap_ = nullptr;
  T *data_ = nullptr;
};

}  // namespace bsbasis

#endif

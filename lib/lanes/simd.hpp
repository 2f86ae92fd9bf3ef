// The vector types of the tiled kernels (GCC and clang vector extensions).
// Types carry no instruction set; the functions that use them are compiled
// per instruction set in tiles.inc.
#ifndef BSBASIS_SIMD_HPP
#define BSBASIS_SIMD_HPP

namespace bsbasis {

typedef double v2d __attribute__((vector_size(2 * sizeof(double))));
typedef double v4d __attribute__((vector_size(4 * sizeof(double))));
typedef long long v2l __attribute__((vector_size(2 * sizeof(long long))));
typedef long long v4l __attribute__((vector_size(4 * sizeof(long long))));
typedef int v2i __attribute__((vector_size(2 * sizeof(int))));
typedef int v4i __attribute__((vector_size(4 * sizeof(int))));

// Doubles and 64-bit integers, Lanes of each.
template <int Lanes>
struct Vec;
template <>
struct Vec<2> {
  typedef v2d d;
  typedef v2l l;
};
template <>
struct Vec<4> {
  typedef v4d d;
  typedef v4l l;
};

}  // namespace bsbasis

#endif

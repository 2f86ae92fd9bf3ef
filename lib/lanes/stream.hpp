// Stores that go past the caches, for results written once and read later:
// the cubic-by-cubic tensor row.  SSE2 is the baseline of x86-64, so this
// needs no choice among variants; elsewhere kCanStream is false and the
// callers take their plain loops.
#ifndef BSBASIS_LANES_STREAM_HPP
#define BSBASIS_LANES_STREAM_HPP

#include <stdint.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace bsbasis {

#if defined(__SSE2__)
constexpr bool kCanStream = true;

// The 16 entries of the Kronecker product of two cubic blocks (columns j0,
// j1, values b0, b1; n1 the second factor's columns), formed as the plain
// loop forms them, c0 * n1 + c1 and v0 * v1, and streamed.  jr and br must
// be 16-byte aligned.
inline void stream_cubic_pair(const int32_t *j0, const double *b0, const int32_t *j1,
                              const double *b1, int32_t n1, int32_t *jr, double *br) {
  const __m128i c1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(j1));
  const __m128d lo = _mm_loadu_pd(b1), hi = _mm_loadu_pd(b1 + 2);
  for (int a = 0; a < 4; ++a) {
    const __m128i c = _mm_set1_epi32(j0[a] * n1);
    const __m128d v = _mm_set1_pd(b0[a]);
    _mm_stream_si128(reinterpret_cast<__m128i *>(jr + 4 * a), _mm_add_epi32(c, c1));
    _mm_stream_pd(br + 4 * a, _mm_mul_pd(v, lo));
    _mm_stream_pd(br + 4 * a + 2, _mm_mul_pd(v, hi));
  }
}

// Streamed stores are ordered before the call returns.
inline void stream_fence() { _mm_sfence(); }
#else
constexpr bool kCanStream = false;

inline void stream_cubic_pair(const int32_t *, const double *, const int32_t *, const double *,
                              int32_t, int32_t *, double *) {}

inline void stream_fence() {}
#endif

}  // namespace bsbasis

#endif

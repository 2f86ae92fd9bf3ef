// One level of the Cox-de Boor recurrence on a block, in place.
#ifndef BSBASIS_RECURRENCE_HPP
#define BSBASIS_RECURRENCE_HPP

namespace bsbasis {

// Uniform integer grid: the left knot of column c is c, every span at a
// level is the same.
struct UniformLevel {
  double scale;  // 1 / (L - 1)
  double knot(int c) const { return static_cast<double>(c); }
  double rspan(int) const { return scale; }
};

// Knot sequence: rs[c] is the reciprocal span of column c at this level,
// 0 where the span is empty.
struct KnotLevel {
  const double *t;
  const double *rs;
  double knot(int c) const { return t[c]; }
  double rspan(int c) const { return rs[c]; }
};

// Raises block b (columns J-order+1 .. J, top at order-1) from order L-1 to
// order L.  Walks from the top down with one pending value: each new value
// waits in l1 until the old value of its position has served as the right
// term of the position below.
template <class Level>
inline void raise_level(const Level &g, int L, double xx, int J, int order,
                        double *b) {
  const int deg = order - 1;
  const int k = order - L;
  const int base = J - deg;
  double l1 = ((xx - g.knot(J)) * g.rspan(J)) * b[deg];
  for (int q = deg - 1; q >= k; --q) {
    const int c = base + q;
    const double o1 = (xx - g.knot(c)) * g.rspan(c);
    const double o2 = (xx - g.knot(c + 1)) * g.rspan(c + 1);
    const double l2 = o1 * b[q] + (1.0 - o2) * b[q + 1];
    b[q + 1] = l1;
    l1 = l2;
  }
  b[k] = l1;
}

}  // namespace bsbasis

#endif

// The C++ host (bsbasis.hpp) against the kernels it calls.
//
// On sorted abscissae in [0, 1], order 4, 100 intervals of clamped knots:
// the kernel on buffers allocated and touched once; the host filling a
// reused Design; the host returning a fresh Design (fresh memory, whose
// first touch the host pays).  Values, then first derivatives.  Every
// figure is the best of --reps runs, the variants taken in turn within each
// run so that a disturbance of the machine falls on all of them, and each
// run starts with the caches evicted, so that no variant finds the arrays
// that the one before it left in cache.  The host's rows are checked
// against the kernel's bits before any time is reported.  --sweep also
// times the reused Design at several chunk sizes.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench_common.hpp"
#include "bsbasis.hpp"

using bench::clamped;
using bench::now;

namespace {

struct Variant {
  std::string name;
  std::function<void()> before;  // untimed
  std::function<void()> body;    // timed
  double best = 1e300;
};

// Reads a buffer larger than the caches, so that every variant starts with
// its arrays out of cache, as a call on fresh data would.
struct Evict {
  std::vector<double> buf;
  double sink = 0;
  explicit Evict(std::size_t mb) : buf(mb << 17, 1.0) {}
  void operator()() {
    double s = 0;
    for (std::size_t e = 0; e < buf.size(); e += 8) s += buf[e];  // a line at a time
    sink += s;
  }
};

// Runs every variant once per round, `reps` rounds; keeps each one's best.
void time_interleaved(std::vector<Variant> &vs, int reps, Evict &evict) {
  for (int r = 0; r < reps; ++r)
    for (Variant &v : vs) {
      if (v.before) v.before();
      evict();
      const double t0 = now();
      v.body();
      v.best = std::min(v.best, now() - t0);
    }
}

// The host's in-range rows against the kernel's triplets, bit for bit.
bool same_rows(const bsbasis::Design &d, const std::vector<int> &i,
               const std::vector<int> &j, const std::vector<double> &B) {
  const std::size_t k = static_cast<std::size_t>(d.order);
  for (std::size_t p = 0; p < static_cast<std::size_t>(d.rows); ++p) {
    if (!d.in_range[p]) continue;
    if (std::memcmp(d.i.data() + p * k, i.data() + p * k, k * sizeof(int)) ||
        std::memcmp(d.j.data() + p * k, j.data() + p * k, k * sizeof(int)) ||
        std::memcmp(d.B.data() + p * k, B.data() + p * k, k * sizeof(double)))
      return false;
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  long nx = 1000000;
  int reps = 9;
  bool sweep = false;
  long evict_mb = 512;
  for (int a = 1; a < argc; ++a) {
    if (!std::strcmp(argv[a], "--reps") && a + 1 < argc)
      reps = std::atoi(argv[++a]);
    else if (!std::strcmp(argv[a], "--nx") && a + 1 < argc)
      nx = std::atol(argv[++a]);
    else if (!std::strcmp(argv[a], "--evict") && a + 1 < argc)
      evict_mb = std::atol(argv[++a]);
    else if (!std::strcmp(argv[a], "--sweep"))
      sweep = true;
    else {
      std::fprintf(stderr, "usage: %s [--reps N] [--nx N] [--evict MB] [--sweep]\n", argv[0]);
      return 2;
    }
  }
  const int order = 4;
  std::vector<double> t = clamped(100, order);
  const int nt = static_cast<int>(t.size()), nj = nt - order;
  std::mt19937_64 rng(20240607);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> x(static_cast<std::size_t>(nx));
  for (double &v : x) v = unit(rng);
  std::sort(x.begin(), x.end());

  const bsbasis::KnotBasis basis(t, order);
  const std::size_t n = x.size() * order;
  const int N = static_cast<int>(n);
  std::vector<int> ki(n, 0), kj(n, 0);  // touched once, reused
  std::vector<double> kB(n, 0.0);
  bsbasis::Design reused = basis.values(x);
  Evict evict(static_cast<std::size_t>(evict_mb));
  bool ok = true;

  std::printf("host vs kernel: nx = %ld sorted, order %d, %d intervals (clamped), "
              "best of %d, interleaved, caches evicted (%ld MB read) before each run\n\n",
              nx, order, nj - order + 1, reps, evict_mb);
  std::printf("%-12s %-28s %9s %9s %14s\n", "", "", "ms", "Mpts/s", "kernel/host");
  for (bool deriv : {false, true}) {
    const int stop = deriv ? order - 1 : order;
    const auto kernel = [&] {
      blossom_grid(t.data(), nt, x.data(), static_cast<int>(nx), ki.data(), kj.data(),
                   kB.data(), N, stop, order, nj);
      if (deriv) deriv_grid(t.data(), nt, ki.data(), kj.data(), kB.data(), N,
                            static_cast<int>(nx), order);
    };
    // Stopped one level short, the kernel needs position 0 of each block
    // zero: the caller's work, left out of the kernel's time.
    const auto zero_first = [&] {
      if (deriv)
        for (std::size_t e = 0; e < n; e += order) kB[e] = 0.0;
    };
    std::vector<Variant> vs{
        {"kernel (reused buffers)", zero_first, kernel},
        {"host, reused Design", nullptr,
         [&] { deriv ? basis.derivatives(x, reused) : basis.values(x, reused); }},
        {"host, fresh Design", nullptr, [&] {
           const bsbasis::Design d = deriv ? basis.derivatives(x) : basis.values(x);
           if (d.rows != nx) std::abort();
         }},
    };
    // Correctness first.
    zero_first();
    kernel();
    deriv ? basis.derivatives(x, reused) : basis.values(x, reused);
    const bool same = same_rows(reused, ki, kj, kB);
    ok = ok && same;

    time_interleaved(vs, reps, evict);
    const double tk = vs[0].best;
    for (const Variant &v : vs)
      std::printf("%-12s %-28s %9.2f %9.1f %14.3f\n", deriv ? "derivatives" : "values",
                  v.name.c_str(), 1e3 * v.best, 1e-6 * nx / v.best, tk / v.best);
    std::printf("%-12s rows vs kernel bits: %s\n\n", "", same ? "ok" : "DIFFER");
    std::fflush(stdout);

    if (sweep) {
      // The kernel alone in calls of 512 (the host's chunk), then the host at
      // each chunk size.
      std::vector<Variant> cs{{"kernel", zero_first, kernel}};
      cs.push_back({"kernel, calls of 512", zero_first, [&] {
                      for (long p0 = 0; p0 < nx; p0 += 512) {
                        const int m = static_cast<int>(std::min(512L, nx - p0));
                        const std::size_t off = static_cast<std::size_t>(p0) * order;
                        blossom_grid(t.data(), nt, x.data() + p0, m, ki.data() + off,
                                     kj.data() + off, kB.data() + off, m * order, stop,
                                     order, nj);
                        if (deriv)
                          deriv_grid(t.data(), nt, ki.data() + off, kj.data() + off,
                                     kB.data() + off, m * order, m, order);
                      }
                    }});
      for (std::int64_t chunk : {256, 512, 1024, 2048, 4096, 8192, 16384, 65536, 1 << 30})
        cs.push_back({chunk == 1 << 30 ? "host, one call" : "host, " + std::to_string(chunk),
                      nullptr, [&, chunk] {
                        basis.evaluate(x.data(), x.size(), deriv, bsbasis::RightEnd::closed,
                                       chunk, reused);
                      }});
      time_interleaved(cs, reps, evict);
      std::printf("  chunk sweep, %s, reused Design (abscissae per kernel call):\n",
                  deriv ? "derivatives" : "values");
      std::printf("  %-24s %9s %14s\n", "", "ms", "kernel/this");
      for (std::size_t c = 1; c < cs.size(); ++c)
        std::printf("  %-24s %9.2f %14.3f\n", cs[c].name.c_str(), 1e3 * cs[c].best,
                    cs[0].best / cs[c].best);
      std::printf("  %-24s %9.2f\n\n", "kernel", 1e3 * cs[0].best);
    }
  }
  if (!ok) std::printf("FAILED: host rows differ from the kernel's\n");
  return ok ? 0 : 1;
}

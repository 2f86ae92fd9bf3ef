// Throughput of the bsbasis kernels against the store floor and two peers.
//
// For each workload: million abscissae per second of the kernel, of a loop
// that only reads x and writes i, j, B of the same sizes (the store floor),
// and of Eigen's and GSL's B-spline basis evaluators writing the same
// triplets.  The zero-fill of B is the caller's work: it is timed apart and
// left out of every figure.  Every kernel result is checked against Eigen on
// its in-range rows before its time is reported.
#include <gsl/gsl_bspline.h>
#include <gsl/gsl_errno.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <unsupported/Eigen/Splines>
#include <vector>

#include "bench_common.hpp"
#include "bsbasis.h"
#include "lanes/dispatch.hpp"

using bench::clamped;
using bench::now;

namespace {

// The fastest of the runs: on a shared machine the least disturbed one.
double best(const std::vector<double> &v) {
  return *std::min_element(v.begin(), v.end());
}

enum class Call { Grid, Uniform, Deriv, SmallCalls, Design };

struct Workload {
  std::string name, what;
  int order;
  std::vector<double> t;  // knots (the uniform grid 0 .. nt-1 for W5)
  int nj;
  std::vector<double> x;
  Call call;
  int nu = 0;  // derivative order of Design calls

  // The derivative order the peers evaluate.
  int derivative() const { return call == Call::Deriv ? 1 : call == Call::Design ? nu : 0; }
};

struct Out {
  std::vector<int> i, j;
  std::vector<double> B;
  explicit Out(size_t n) : i(n, 0), j(n, 0), B(n, 0.0) {}  // pre-faulted
};

constexpr int kChunk = 16;  // abscissae per call in W6

// The least any kernel must do: read x, write i, j and B, in whole vectors
// (one clone per instruction set, chosen at load time).
typedef int v4i __attribute__((vector_size(16)));
typedef double v2d __attribute__((vector_size(16)));
template <int O>
inline __attribute__((always_inline)) void floor_body(const double *x, long nx, int *i,
                                                      int *j, double *B) {
  static_assert(O % 2 == 0, "pairs of values");
  for (long p = 0; p < nx; ++p) {
    const double v = x[p];
    const int row = static_cast<int>(p);
    const v4i iv = {row, row, row, row}, jv = {0, 1, 2, 3};
    const v2d bv = {v, v};
    for (int q = 0; q < O; q += 4) {
      __builtin_memcpy(i + p * O + q, &iv, O - q >= 4 ? 16 : 8);
      __builtin_memcpy(j + p * O + q, &jv, O - q >= 4 ? 16 : 8);
    }
    for (int q = 0; q < O; q += 2) __builtin_memcpy(B + p * O + q, &bv, 16);
  }
}

// clang takes no noinline beside target_clones, and no clones of templates.
#if defined(__clang__)
#define BENCH_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define BENCH_CLONES __attribute__((noinline, target_clones("avx2", "default")))
#endif
BENCH_CLONES void floor4(const double *x, long nx, int *i, int *j, double *B) {
  floor_body<4>(x, nx, i, j, B);
}
BENCH_CLONES void floor6(const double *x, long nx, int *i, int *j, double *B) {
  floor_body<6>(x, nx, i, j, B);
}

__attribute__((noinline)) void store_floor(const double *x, long nx, int order,
                                           int *i, int *j, double *B) {
  if (order == 4)
    floor4(x, nx, i, j, B);
  else if (order == 6)
    floor6(x, nx, i, j, B);
  else
    std::abort();
}

void run_floor(const Workload &w, Out &o) {
  const long nx = static_cast<long>(w.x.size());
  if (w.call == Call::SmallCalls) {
    for (long p = 0; p < nx; p += kChunk)
      store_floor(w.x.data() + p, std::min<long>(kChunk, nx - p), w.order,
                  o.i.data() + p * w.order, o.j.data() + p * w.order,
                  o.B.data() + p * w.order);
  } else {
    store_floor(w.x.data(), nx, w.order, o.i.data(), o.j.data(), o.B.data());
  }
}

void run_kernel(Workload &w, Out &o) {
  const int nx = static_cast<int>(w.x.size());
  const int nt = static_cast<int>(w.t.size());
  const int n = nx * w.order;
  switch (w.call) {
    case Call::Grid:
      blossom_grid(w.t.data(), nt, w.x.data(), nx, o.i.data(), o.j.data(),
                   o.B.data(), n, w.order, w.order, w.nj);
      break;
    case Call::Deriv:
      blossom_grid(w.t.data(), nt, w.x.data(), nx, o.i.data(), o.j.data(),
                   o.B.data(), n, w.order - 1, w.order, w.nj);
      deriv_grid(w.t.data(), nt, o.i.data(), o.j.data(), o.B.data(), n, nx,
                 w.order);
      break;
    case Call::Uniform:
      blossom(w.x.data(), nx, o.i.data(), o.j.data(), o.B.data(), n, w.order,
              w.order, w.nj);
      break;
    case Call::Design:
      bsbasis_design(w.t.data(), nt, w.order, w.nj, w.nu, BSBASIS_EXTRAPOLATE_ERROR,
                     w.x.data(), nx, o.i.data(), o.j.data(), o.B.data(), nullptr);
      break;
    case Call::SmallCalls:
      for (int p = 0; p < nx; p += kChunk) {
        const int m = std::min(kChunk, nx - p);
        const long off = static_cast<long>(p) * w.order;
        blossom_grid(w.t.data(), nt, w.x.data() + p, m, o.i.data() + off,
                     o.j.data() + off, o.B.data() + off, m * w.order, w.order,
                     w.order, w.nj);
      }
      break;
  }
}

// Eigen's Splines module, one abscissa at a time, with a fixed degree.
template <int Deg>
void eigen_fixed(const Workload &w, long n, Out &o) {
  using S = Eigen::Spline<double, 1, Deg>;
  typename S::KnotVectorType knots(w.t.size());
  for (size_t m = 0; m < w.t.size(); ++m) knots(m) = w.t[m];
  constexpr int O = Deg + 1;
  const int nu = w.derivative();
  for (long p = 0; p < n; ++p) {
    const double u = w.x[p];
    const long span = static_cast<long>(S::Span(u, Deg, knots));
    const long oo = p * O;
    if (nu) {
      const auto d = S::BasisFunctionDerivatives(u, nu, Deg, knots);
      for (int q = 0; q < O; ++q) o.B[oo + q] = d(nu, q);
    } else {
      const auto b = S::BasisFunctions(u, Deg, knots);
      for (int q = 0; q < O; ++q) o.B[oo + q] = b(q);
    }
    for (int q = 0; q < O; ++q) {
      o.i[oo + q] = static_cast<int>(p);
      o.j[oo + q] = static_cast<int>(span - Deg + q);
    }
  }
}

void run_eigen(const Workload &w, long n, Out &o) {
  if (w.order == 4)
    eigen_fixed<3>(w, n, o);
  else if (w.order == 6)
    eigen_fixed<5>(w, n, o);
  else
    std::abort();
}

// GSL's B-splines (the 2.7 API of Debian 12), one abscissa at a time.
struct Gsl {
  gsl_bspline_workspace *ws;
  gsl_vector *Bk;
  gsl_matrix *dB;
  explicit Gsl(const Workload &w) {
    const int k = w.order;
    const size_t nbreak = w.t.size() - 2 * (k - 1);
    ws = gsl_bspline_alloc(k, nbreak);
    // The exact knots of the workload, not GSL's own uniform placement.
    for (size_t m = 0; m < w.t.size(); ++m) gsl_vector_set(ws->knots, m, w.t[m]);
    Bk = gsl_vector_alloc(k);
    dB = gsl_matrix_alloc(k, k);
  }
  ~Gsl() {
    gsl_matrix_free(dB);
    gsl_vector_free(Bk);
    gsl_bspline_free(ws);
  }
};

// Every `stride`-th abscissa.
void run_gsl(const Workload &w, Gsl &g, long stride, Out &o) {
  const int O = w.order;
  const int nu = w.derivative();
  const long n = static_cast<long>(w.x.size());
  size_t is, ie;
  for (long p = 0; p < n; p += stride) {
    const long oo = p * O;
    if (nu) {
      gsl_bspline_deriv_eval_nonzero(w.x[p], nu, g.dB, &is, &ie, g.ws);
      for (int q = 0; q < O; ++q) o.B[oo + q] = gsl_matrix_get(g.dB, q, nu);
    } else {
      gsl_bspline_eval_nonzero(w.x[p], g.Bk, &is, &ie, g.ws);
      for (int q = 0; q < O; ++q) o.B[oo + q] = gsl_vector_get(g.Bk, q);
    }
    for (int q = 0; q < O; ++q) {
      o.i[oo + q] = static_cast<int>(p);
      o.j[oo + q] = static_cast<int>(is) + q;
    }
  }
}

// Kernel output against Eigen on every in-range row: columns exact, values
// within 1e-12 of the row's largest magnitude.  Returns the rows that fail.
long check(const Workload &w, const Out &k, long *rows) {
  Out ref(w.x.size() * w.order);
  run_eigen(w, static_cast<long>(w.x.size()), ref);
  const int O = w.order;
  const double lo = w.t[O - 1], hi = w.t[w.nj];
  long bad = 0, in = 0;
  for (size_t p = 0; p < w.x.size(); ++p) {
    const double u = w.x[p];
    if (!(u >= lo && u < hi)) continue;
    ++in;
    const int row = w.call == Call::SmallCalls ? static_cast<int>(p % kChunk)
                                               : static_cast<int>(p);
    double scale = 0;
    for (int q = 0; q < O; ++q) scale = std::max(scale, std::fabs(ref.B[p * O + q]));
    bool ok = true;
    for (int q = 0; q < O; ++q) {
      const size_t e = p * O + q;
      ok = ok && k.i[e] == row && k.j[e] == ref.j[e] &&
           std::fabs(k.B[e] - ref.B[e]) <= 1e-12 * scale;
    }
    bad += !ok;
  }
  *rows = in;
  return bad;
}

std::vector<Workload> workloads(long nx) {
  std::mt19937_64 rng(20240607);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> raw(nx);
  for (auto &v : raw) v = unit(rng);
  std::vector<double> sorted = raw;
  std::sort(sorted.begin(), sorted.end());
  std::vector<double> grid_x(nx);
  for (long p = 0; p < nx; ++p) grid_x[p] = 3.0 + 101.0 * sorted[p];  // [3, 104)
  std::vector<double> integers(108);
  for (int m = 0; m < 108; ++m) integers[m] = m;

  std::vector<Workload> ws;
  ws.push_back({"W1", "order 4, 100 intervals, sorted", 4, clamped(100, 4), 103, sorted, Call::Grid});
  ws.push_back({"W2", "as W1, unsorted", 4, clamped(100, 4), 103, raw, Call::Grid});
  ws.push_back({"W3", "order 6, 100 intervals, sorted", 6, clamped(100, 6), 105, sorted, Call::Grid});
  ws.push_back({"W4", "as W1, first derivatives", 4, clamped(100, 4), 103, sorted, Call::Deriv});
  ws.push_back({"W5", "order 4, integer grid, nj 104", 4, integers, 104, grid_x, Call::Uniform});
  ws.push_back({"W6", "as W1, calls of 16", 4, clamped(100, 4), 103, sorted, Call::SmallCalls});
  ws.push_back({"W7", "order 4, 10^4 intervals, sorted", 4, clamped(10000, 4), 10003, sorted, Call::Grid});
  // Calls of 16 abscissae, each call's drawn over the whole base interval
  // and sorted.
  std::vector<double> scattered = raw;
  for (long p = 0; p < nx; p += kChunk)
    std::sort(scattered.begin() + p, scattered.begin() + std::min<long>(p + kChunk, nx));
  ws.push_back({"W8", "as W1, calls of 16 spread, sorted", 4, clamped(100, 4), 103, scattered, Call::SmallCalls});
  // The extension API's evaluation: values, and second derivatives.
  ws.push_back({"W9", "as W1, through bsbasis_design", 4, clamped(100, 4), 103, sorted, Call::Design, 0});
  ws.push_back({"W10", "as W1, second derivatives", 4, clamped(100, 4), 103, sorted, Call::Design, 2});
  return ws;
}

template <class F>
double time_best(int reps, const std::function<void()> &before, F body) {
  std::vector<double> ts;
  for (int r = 0; r < reps; ++r) {
    before();
    const double t0 = now();
    body();
    ts.push_back(now() - t0);
  }
  return best(ts);
}

// The fixed cost of a call, all in cache: calls of 16 sorted abscissae on
// W1's knots, less 16 times the per-abscissa time of calls of 4096.
void call_cost(int reps) {
  const std::vector<double> t = clamped(100, 4);
  const int nt = static_cast<int>(t.size()), order = 4, nj = 103;
  std::vector<double> x(4096);
  for (int p = 0; p < 4096; ++p) x[p] = 0.5 + 0.01 * p / 4096.0;
  Out o(x.size() * order);
  auto per_call = [&](int n, long calls) {
    return time_best(reps, [] {}, [&] {
             for (long c = 0; c < calls; ++c)
               blossom_grid(const_cast<double *>(t.data()), nt, x.data(), n,
                            o.i.data(), o.j.data(), o.B.data(), n * order, order,
                            order, nj);
           }) / calls;
  };
  const double small = per_call(kChunk, 20000), large = per_call(4096, 100);
  std::printf("fixed cost of a call (in cache): %.1f ns (16 abscissae: %.1f ns, "
              "per abscissa: %.2f ns)\n",
              1e9 * (small - kChunk * large / 4096), 1e9 * small, 1e9 * large / 4096);
}

// One abscissa on 10 knots and on 10^7: a call's cost follows what it
// touches, not the number of knots.  Values, and first derivatives
// (blossom_grid stopped one level short, then deriv_grid).
void knot_count_cost(int reps) {
  const int order = 4;
  double x = 0.123456;
  std::printf("one abscissa, order 4:");
  double first[2] = {0, 0};
  for (int intervals : {7, 10000000 - 7}) {
    const std::vector<double> t = clamped(intervals, order);
    const int nt = static_cast<int>(t.size()), nj = nt - order;
    Out o(order);
    double cost[2];
    for (int deriv = 0; deriv < 2; ++deriv) {
      const long calls = 2000;
      cost[deriv] = time_best(reps, [] {}, [&] {
                      for (long c = 0; c < calls; ++c) {
                        blossom_grid(const_cast<double *>(t.data()), nt, &x, 1, o.i.data(),
                                     o.j.data(), o.B.data(), order, order - deriv, order, nj);
                        if (deriv)
                          deriv_grid(const_cast<double *>(t.data()), nt, o.i.data(),
                                     o.j.data(), o.B.data(), order, 1, order);
                      }
                    }) / calls;
    }
    std::printf("  %d knots: values %.0f ns, derivatives %.0f ns%s", nt, 1e9 * cost[0],
                1e9 * cost[1], intervals == 7 ? ";" : "");
    if (intervals == 7) {
      first[0] = cost[0];
      first[1] = cost[1];
    } else {
      std::printf("  (x %.1f and x %.1f)", cost[0] / first[0], cost[1] / first[1]);
    }
  }
  std::printf("\n");
}

}  // namespace

// The normal equations X^T W X, X^T W y (with y^T W y, the weights' sum
// and the count) straight from the abscissae of W1 and W2, against the
// kernel alone on the same input.  Checked against sums of the design's
// rows.
int normal_cost(std::vector<Workload> &ws, int reps, const std::string &only) {
  int failures = 0;
  bool header = false;
  for (Workload &w : ws) {
    if (w.name != "W1" && w.name != "W2") continue;
    const std::string name = w.name == "W1" ? "N1" : "N2";
    if (!only.empty() && ("," + only + ",").find("," + name + ",") == std::string::npos)
      continue;
    if (!header) {
      std::printf("\nnormal equations X^T W X + X^T W y, banded, from the abscissae\n");
      header = true;
    }
    const long nx = static_cast<long>(w.x.size());
    const int o = w.order, nj = w.nj, nt = static_cast<int>(w.t.size());
    std::vector<double> y(nx), wt(nx);
    for (long p = 0; p < nx; ++p) {
      y[p] = std::sin(7.0 * w.x[p]);
      wt[p] = 0.5 + (p % 7) * 0.25;
    }
    std::vector<double> ab(static_cast<size_t>(o) * nj), rhs(nj), sums(2);
    int64_t count = 0;
    auto zero = [&] {
      std::fill(ab.begin(), ab.end(), 0.0);
      std::fill(rhs.begin(), rhs.end(), 0.0);
      sums[0] = sums[1] = 0.0;
      count = 0;
    };
    Out out(static_cast<size_t>(nx) * o);
    const double t_kernel = time_best(reps, [] {}, [&] { run_kernel(w, out); });
    int status = 0;
    const double t_normal = time_best(reps, zero, [&] {
      status = bsbasis_normal_equations(w.t.data(), nt, o, nj, 0, BSBASIS_EXTRAPOLATE_ZERO,
                                        w.x.data(), y.data(), wt.data(), nx, ab.data(),
                                        rhs.data(), sums.data(), &count, nullptr);
    });
    // The design's rows, summed in double: agreement within rounding.
    std::vector<double> G(ab.size()), r(nj);
    std::vector<int32_t> j(static_cast<size_t>(nx) * o);
    std::vector<double> B(static_cast<size_t>(nx) * o);
    bsbasis_design(w.t.data(), nt, o, nj, 0, BSBASIS_EXTRAPOLATE_ZERO, w.x.data(), nx,
                   nullptr, j.data(), B.data(), nullptr);
    for (long p = 0; p < nx; ++p) {
      if (j[p * o] < 0) continue;
      for (int a = 0; a < o; ++a) {
        for (int c = a; c < o; ++c)
          G[static_cast<size_t>(o - 1 + a - c) * nj + j[p * o] + c] +=
              wt[p] * B[p * o + a] * B[p * o + c];
        r[j[p * o] + a] += wt[p] * B[p * o + a] * y[p];
      }
    }
    double err = 0, scale = 0;
    for (size_t e = 0; e < G.size(); ++e) {
      err = std::max(err, std::fabs(G[e] - ab[e]));
      scale = std::max(scale, std::fabs(G[e]));
    }
    double rerr = 0, rscale = 0;
    for (int c = 0; c < nj; ++c) {
      rerr = std::max(rerr, std::fabs(r[c] - rhs[c]));
      rscale = std::max(rscale, std::fabs(r[c]));
    }
    const bool ok = status == 0 && err <= 1e-10 * scale && rerr <= 1e-10 * rscale &&
                    count == nx;
    failures += !ok;
    const double mpts = 1e-6 * static_cast<double>(nx);
    std::printf("%-3s as %s: %8.1f Mpts/s, kernel alone %8.1f Mpts/s: %.2f of %s's "
                "throughput  %s\n",
                name.c_str(), w.name.c_str(), mpts / t_normal, mpts / t_kernel,
                t_kernel / t_normal, w.name.c_str(), ok ? "ok" : "FAILED");
    std::fflush(stdout);
  }
  return failures;
}

int main(int argc, char **argv) {
  long nx = 1000000;
  int reps = 7;
  std::string only, isa;
  for (int a = 1; a < argc; ++a) {
    if (!std::strcmp(argv[a], "--reps") && a + 1 < argc)
      reps = std::atoi(argv[++a]);
    else if (!std::strcmp(argv[a], "--nx") && a + 1 < argc)
      nx = std::atol(argv[++a]);
    else if (!std::strcmp(argv[a], "--only") && a + 1 < argc)
      only = argv[++a];
    else if (!std::strcmp(argv[a], "--isa") && a + 1 < argc)
      isa = argv[++a];
    else {
      std::fprintf(stderr, "usage: %s [--reps N] [--nx N] [--only W1,W10,N1] [--isa NAME]\n", argv[0]);
      return 2;
    }
  }
  // The variant the library picks, or the one asked for.
  const char *variant = "generic";
  for (int v = 0; v < bsbasis::kIsaVariantCount; ++v) {
    const bsbasis::IsaVariant &iv = bsbasis::kIsaVariants[v];
    if (!bsbasis::supported(iv)) continue;
    if (isa.empty() || isa == iv.name) {
      bsbasis::use_kernels_for_testing(iv.table);
      variant = iv.name;
      break;
    }
  }
  if (!isa.empty() && isa != variant) {
    if (isa != "generic") {
      std::fprintf(stderr, "no such variant on this CPU: %s\n", isa.c_str());
      return 2;
    }
    bsbasis::use_kernels_for_testing(&bsbasis::kGenericOnly);
  }
  std::printf("kernel variant: %s\n", variant);
  gsl_set_error_handler_off();
  std::printf("nx = %ld, best of %d runs (peers: best of %d)\n\n", nx, reps,
              std::max(1, reps / 3));
  std::printf("%-3s %-33s %9s %9s %7s %9s %9s %7s %8s  %s\n", "", "workload",
              "kernel", "floor", "/floor", "Eigen", "GSL", "/peer", "zero ms",
              "check vs Eigen");
  std::printf("%-3s %-33s %9s %9s %7s %9s %9s %7s %8s\n", "", "", "Mpts/s",
              "Mpts/s", "", "Mpts/s", "Mpts/s", "", "");
  int failures = 0;
  double t_w1 = 0, t_w6 = 0, t_w10 = 0;
  std::vector<Workload> ws = workloads(nx);
  for (Workload &w : ws) {
    if (!only.empty() && ("," + only + ",").find("," + w.name + ",") == std::string::npos)
      continue;
    const size_t n = w.x.size() * w.order;
    Out o(n);
    auto zero = [&] { std::memset(o.B.data(), 0, n * sizeof(double)); };
    const double mpts = 1e-6 * static_cast<double>(w.x.size());

    const double t_zero = time_best(reps, [] {}, zero);
    const double t_kernel = time_best(reps, zero, [&] { run_kernel(w, o); });
    long in = 0;
    const long bad = check(w, o, &in);
    failures += bad != 0;
    const double t_floor = time_best(reps, zero, [&] { run_floor(w, o); });

    const int peer_reps = std::max(1, reps / 3);
    const double t_eigen = time_best(peer_reps, zero, [&] {
      run_eigen(w, static_cast<long>(w.x.size()), o);
    });
    // GSL searches its knots linearly: on 10^4 intervals time every 50th.
    const long stride = w.t.size() > 1000 ? 50 : 1;
    Gsl g(w);
    const double t_gsl =
        time_best(peer_reps, zero, [&] { run_gsl(w, g, stride, o); }) * stride;

    if (w.name == "W1") t_w1 = t_kernel;
    if (w.name == "W6") t_w6 = t_kernel;
    if (w.name == "W10") t_w10 = t_kernel;
    const double k = mpts / t_kernel, f = mpts / t_floor;
    const double e = mpts / t_eigen, s = mpts / t_gsl;
    char chk[64];
    std::snprintf(chk, sizeof chk, bad ? "FAILED %ld of %ld rows" : "ok (%ld rows)",
                  bad ? bad : in, in);
    std::printf("%-3s %-33s %9.1f %9.1f %7.2f %9.2f %9.2f %7.1f %8.2f  %s\n",
                w.name.c_str(), w.what.c_str(), k, f, k / f, e, s, k / std::max(e, s),
                1e3 * t_zero, chk);
    std::fflush(stdout);
  }
  if (t_w1 > 0 && t_w6 > 0) {
    const double calls = std::ceil(static_cast<double>(nx) / kChunk);
    std::printf("\nW6 time per call beyond W1's per-abscissa time: %.1f ns\n",
                1e9 * (t_w6 - t_w1) / calls);
  }
  if (t_w1 > 0 && t_w10 > 0)
    std::printf("\nW10 (second derivatives) at %.2f of W1's throughput (values)\n",
                t_w1 / t_w10);
  failures += normal_cost(ws, reps, only);
  if (only.empty() || only == "W6") call_cost(3 * reps);
  if (only.empty() || only == "knots") knot_count_cost(reps);
  if (failures) std::printf("\nFAILED: a kernel disagrees with Eigen\n");
  return failures ? 1 : 0;
}

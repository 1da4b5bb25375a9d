// What the benchmark programs share: the particle set, the two yardsticks a
// run is measured against, and the bookkeeping that turns timings into rates
// and ratios.
//
// Yardstick (a) is the direct sum a careful user writes without this
// library: double precision, one array per coordinate, the i-particle's
// values and sums in locals, the i-loop shared among the threads by OpenMP,
// the j-loop left to the compiler (built with the library's flags, so no
// reassociation and no implicit contraction; the compiler still vectorises
// it, keeping each sum in order). Yardstick (b) is the machine's
// single-precision fused multiply-add peak: independent FMA chains on every
// thread, as wide as the instruction set allows.
#pragma once

#include <benchmark/benchmark.h>
#include <omp.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "flop_counts.h"
#include "support/cloud.h"

#if defined(__AVX512F__) || defined(__AVX__) || defined(__FMA__)
#include <immintrin.h>
#endif

namespace nbbench {

inline constexpr double kEps2 = 1.0e-4;

// The test suite's Plummer cloud (support/cloud.h), kept as particles for
// the library's records and, for the plain loop, in double precision with
// one array per coordinate: mass, position, velocity, and the acceleration
// and jerk the higher orders predict.
struct Cloud {
  int n = 0;
  std::vector<nbtest::Particle> particles;
  std::vector<double> m;
  std::vector<double> x[3], v[3], a[3], j[3];
};

inline Cloud make_cloud(int n, std::uint32_t seed = 2024) {
  Cloud c;
  c.n = n;
  c.particles = nbtest::plummer_cloud(n, seed);
  for (const nbtest::Particle& q : c.particles) {
    c.m.push_back(q.m);
    for (int k = 0; k < 3; ++k) {
      c.x[k].push_back(q.x[k]);
      c.v[k].push_back(q.v[k]);
      c.a[k].push_back(q.a[k]);
      c.j[k].push_back(q.j[k]);
    }
  }
  return c;
}

// ---------------------------------------------------------------------------
// Yardstick (a): plain double-precision direct sums (plain_sums.cc). `out`
// holds per i-particle the acceleration, then jerk, snap and crackle as the
// order has them. The source is built twice: `vec` with the project's flags
// (the compiler vectorises the j-loop where it can keep the order of the
// sums), `scalar` with vectorisation switched off, for comparison only.
namespace vec {
void force4(const Cloud& c, int ni, int nj, double eps2, double* out);
void force6(const Cloud& c, int ni, int nj, double eps2, double* out);
void force8(const Cloud& c, int ni, int nj, double eps2, double* out);
// pot[i] = -sum over j of m_j / sqrt(r^2 + eps2), a source at the target's
// own position left out.
void potential(const Cloud& c, int n, double eps2, double* pot);
}  // namespace vec

namespace scalar {
void force4(const Cloud& c, int ni, int nj, double eps2, double* out);
void force6(const Cloud& c, int ni, int nj, double eps2, double* out);
void force8(const Cloud& c, int ni, int nj, double eps2, double* out);
void potential(const Cloud& c, int n, double eps2, double* pot);
}  // namespace scalar

// ---------------------------------------------------------------------------
// Yardstick (b): single-precision FMA peak of all threads. Each thread runs
// kChains independent chains acc = acc * b + c for `reps` rounds; returns the
// floating-point operations done (2 per lane per FMA).

#if defined(__AVX512F__)
using PeakVec = __m512;
inline PeakVec peak_splat(float v) { return _mm512_set1_ps(v); }
inline PeakVec peak_fma(PeakVec a, PeakVec b, PeakVec c) { return _mm512_fmadd_ps(a, b, c); }
inline float peak_first(PeakVec v) { return _mm512_cvtss_f32(v); }
inline constexpr int kPeakLanes = 16;
inline constexpr int kChains = 16;
#elif defined(__AVX__) && defined(__FMA__)
using PeakVec = __m256;
inline PeakVec peak_splat(float v) { return _mm256_set1_ps(v); }
inline PeakVec peak_fma(PeakVec a, PeakVec b, PeakVec c) { return _mm256_fmadd_ps(a, b, c); }
inline float peak_first(PeakVec v) { return _mm256_cvtss_f32(v); }
inline constexpr int kPeakLanes = 8;
inline constexpr int kChains = 12;
#else
using PeakVec = float;
inline PeakVec peak_splat(float v) { return v; }
inline PeakVec peak_fma(PeakVec a, PeakVec b, PeakVec c) { return std::fma(a, b, c); }
inline float peak_first(PeakVec v) { return v; }
inline constexpr int kPeakLanes = 1;
inline constexpr int kChains = 8;
#endif

inline double fma_peak_kernel(long reps, float* sink) {
  int threads = 1;
#pragma omp parallel
  {
#pragma omp single
    threads = omp_get_num_threads();
    volatile float seed_b = 0.999999f, seed_c = 1.0e-7f;
    const PeakVec b = peak_splat(seed_b), c = peak_splat(seed_c);
    PeakVec acc[kChains];
    for (int k = 0; k < kChains; ++k) acc[k] = peak_splat(static_cast<float>(k));
    for (long r = 0; r < reps; ++r) {
#pragma GCC unroll 16
      for (int k = 0; k < kChains; ++k) acc[k] = peak_fma(acc[k], b, c);
    }
    float s = 0.0f;
    for (int k = 0; k < kChains; ++k) s += peak_first(acc[k]);
#pragma omp atomic
    *sink += s;
  }
  return 2.0 * kPeakLanes * kChains * static_cast<double>(reps) * threads;
}

// ---------------------------------------------------------------------------
// Bookkeeping. Every benchmark times its own calls on the wall clock and
// reports the fastest: a call that another process interrupted only ever
// gets slower, so the fastest is the steadiest figure on a shared machine.
// The yardsticks are timed the same way, so the ratios compare like with
// like.

using Clock = std::chrono::steady_clock;

// Rates (work per second) measured earlier in this run, by key.
inline std::map<std::string, double>& measured() {
  static std::map<std::string, double> rates;
  return rates;
}

// Runs the benchmark loop; returns the wall-clock seconds of the fastest
// iteration.
template <class Fn>
double timed_loop(benchmark::State& state, Fn&& fn) {
  double best = 1e300;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    fn();
    benchmark::ClobberMemory();
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    if (secs < best) best = secs;
  }
  return best;
}

// The rate stored under key; when this run has not measured it (a filter
// left its benchmark out), measures it now: the fastest of at least three
// calls of fn and a quarter of a second, `work` units per call.
inline double rate_of(const std::string& key, double work, const std::function<void()>& fn) {
  auto it = measured().find(key);
  if (it != measured().end()) return it->second;
  fn();
  double best = 1e300, total = 0;
  for (int calls = 0; calls < 3 || total < 0.25; ++calls) {
    const auto t0 = Clock::now();
    fn();
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    total += secs;
    if (secs < best) best = secs;
  }
  const double rate = work / best;
  measured()[key] = rate;
  return rate;
}

inline void set_counter(benchmark::State& state, const char* name, double value) {
  state.counters[name] = benchmark::Counter(value);
}

}  // namespace nbbench

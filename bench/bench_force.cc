// Benchmarks of one force library (the order is NBBENCH_ORDER: 4, 6 or 8;
// the libraries export the same symbols, so each program links one): its
// force passes at three shapes, the same sums done by the plain
// double-precision loop, the machine's FMA peak, the one- to two-thread
// scaling of the full pass and, in the fourth-order program, calc_pot.
//
// Counters of a library benchmark:
//   interactions_per_s  pair terms per second (ni * nj per call)
//   GFLOPS              at the customary count per pair term of the order
//   x_plain_double      interactions_per_s over the plain loop's, same shape
//   x_plain_double_scalar  the same against the plain loop compiled scalar
//   pct_fma_peak        GFLOPS as a percentage of the FMA peak
//   pct_full_pass       interactions_per_s as a percentage of the full pass's
//   speedup_1_to_2      two-thread over one-thread rate of the full pass
//   pct_j_copy          share of a call's time spent copying the j-predictors
//                       (up to the library's j-stamp)
//   x_quiet             small call with another process spinning on one
//                       core, its time over the quiet small call's
//   us_per_call         time of one call, in microseconds (small-call sweep)
//   x_next_ni           a sweep call's time over that of the next larger ni
//                       at the same nj; above 1, a larger call is faster
#include <omp.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "bench_common.h"
#include "end_to_end.h"

#if NBBENCH_ORDER == 4
#include "nbforce4.h"
#elif NBBENCH_ORDER == 6
#include "nbforce6.h"
#elif NBBENCH_ORDER == 8
#include "nbforce8.h"
#else
#error "NBBENCH_ORDER must be 4, 6 or 8"
#endif

namespace nbbench {
namespace {

constexpr int kOrder = NBBENCH_ORDER;
constexpr double kFlops = kOrder == 4 ? kFlopsOrder4 : kOrder == 6 ? kFlopsOrder6 : kFlopsOrder8;
const std::string kLib = "nbforce" + std::to_string(kOrder);
const std::string kPlain = "plain_double/order" + std::to_string(kOrder);
const std::string kPlainScalar = "plain_double_scalar/order" + std::to_string(kOrder);

struct Shape {
  const char* name;
  int ni;
  int nj;
};
constexpr Shape kFull{"full_pass", 16384, 16384};
constexpr Shape kBlockStep{"block_step", 64, 65536};
constexpr Shape kSingle{"single", 1, 65536};
// Two particles, each acting on the other: the call of a few-body system,
// where only the fixed cost of a call counts.
constexpr Shape kSmall{"small_call", 2, 2};
constexpr Shape kShapes[] = {kFull, kBlockStep, kSingle};
// The calls of small block steps: few i-particles against a small and a
// large j-set, where the fixed cost of a call and of each block shows.
constexpr int kSweepNi[] = {1, 2, 4, 8, 16, 64};
constexpr int kSweepNj[] = {1024, 65536};

double pairs(const Shape& s) { return static_cast<double>(s.ni) * s.nj; }

// The i-particles of a shape are the first ni of its j-particles.
const Cloud& cloud_for(const Shape& s) {
  static const Cloud small = make_cloud(kFull.nj);
  static const Cloud large = make_cloud(kBlockStep.nj);
  return s.nj == small.n ? small : large;
}

std::vector<Predictor> to_predictors(const Cloud& c) {
  std::vector<Predictor> p;
  for (const nbtest::Particle& q : c.particles) p.push_back(nbtest::pack_predictor<Predictor>(q));
  return p;
}

const std::vector<Predictor>& predictors_for(const Shape& s) {
  static const std::vector<Predictor> small = to_predictors(cloud_for(kFull));
  static const std::vector<Predictor> large = to_predictors(cloud_for(kBlockStep));
  return s.nj == kFull.nj ? small : large;
}

// ---------------------------------------------------------------------------
// Yardsticks.

constexpr long kPeakReps = 1L << 22;

double fma_peak_rate() {
  static float sink = 0.0f;
  static const double flops = fma_peak_kernel(kPeakReps, &sink);
  return rate_of("fma_peak", flops, [] { fma_peak_kernel(kPeakReps, &sink); });
}

void bm_fma_peak(benchmark::State& state) {
  static float sink = 0.0f;
  double flops = 0;
  const double secs = timed_loop(state, [&] { flops = fma_peak_kernel(kPeakReps, &sink); });
  measured()["fma_peak"] = flops / secs;
  set_counter(state, "GFLOPS", flops / secs * 1e-9);
  set_counter(state, "threads", omp_get_max_threads());
}

// The plain loop as compiled with the project's flags (`vec`) or with
// vectorisation off (`scalar`, for comparison only).
void plain_force(const Shape& s, bool scalar_copy, std::vector<double>& out) {
  const int stride = kOrder == 4 ? 6 : kOrder == 6 ? 9 : 12;
  out.resize(static_cast<std::size_t>(s.ni) * stride);
  const Cloud& c = cloud_for(s);
  auto* fn = kOrder == 4   ? (scalar_copy ? scalar::force4 : vec::force4)
             : kOrder == 6 ? (scalar_copy ? scalar::force6 : vec::force6)
                           : (scalar_copy ? scalar::force8 : vec::force8);
  fn(c, s.ni, s.nj, kEps2, out.data());
}

std::string plain_key(const Shape& s, bool scalar_copy) {
  return (scalar_copy ? kPlainScalar : kPlain) + "/" + s.name;
}

double plain_rate(const Shape& s, bool scalar_copy = false) {
  std::vector<double> out;
  return rate_of(plain_key(s, scalar_copy), pairs(s), [&] { plain_force(s, scalar_copy, out); });
}

void bm_plain(benchmark::State& state, Shape s, bool scalar_copy) {
  std::vector<double> out;
  cloud_for(s);  // made outside the timing
  const double secs = timed_loop(state, [&] { plain_force(s, scalar_copy, out); });
  const double rate = pairs(s) / secs;
  measured()[plain_key(s, scalar_copy)] = rate;
  set_counter(state, "interactions_per_s", rate);
  set_counter(state, "GFLOPS", rate * kFlops * 1e-9);
}

// ---------------------------------------------------------------------------
// The library.

// One calc_force call of a shape. The library stamps the time right after
// copying the j-predictors; the seconds up to the stamp are added up.
struct ForceCall {
  Shape s;
  std::vector<Force> force;
  double stamp = 0, ip_time = 0, fo_time = 0, before_stamp = 0, total = 0;
  explicit ForceCall(Shape shape) : s(shape), force(static_cast<std::size_t>(shape.ni)) {}
  void operator()() {
    const std::vector<Predictor>& p = predictors_for(s);
    const double t0 = wtime();
    calc_force(s.ni, s.nj, p.data(), p.data(), force.data(), static_cast<float>(kEps2), &stamp,
               &ip_time, &fo_time);
    before_stamp += stamp - t0;
    total += wtime() - t0;
  }
};

// Runs fn with the library's parallel regions limited to `threads` threads.
template <class Fn>
void with_threads(int threads, Fn&& fn) {
  const int before = omp_get_max_threads();
  omp_set_num_threads(threads);
  fn();
  omp_set_num_threads(before);
}

double library_rate(const Shape& s, int threads = 0) {
  std::string key = kLib + "/" + s.name;
  if (threads > 0) key += "/threads:" + std::to_string(threads);
  ForceCall call(s);
  return rate_of(key, pairs(s), [&] {
    if (threads > 0) {
      with_threads(threads, call);
    } else {
      call();
    }
  });
}

void report_library(benchmark::State& state, const Shape& s, double secs) {
  const double rate = pairs(s) / secs;
  const double gflops = rate * kFlops * 1e-9;
  set_counter(state, "interactions_per_s", rate);
  set_counter(state, "GFLOPS", gflops);
  set_counter(state, "x_plain_double", rate / plain_rate(s));
  set_counter(state, "pct_fma_peak", 100.0 * gflops * 1e9 / fma_peak_rate());
  if (s.ni != kFull.ni || s.nj != kFull.nj) {
    set_counter(state, "pct_full_pass", 100.0 * rate / library_rate(kFull));
  } else {
    set_counter(state, "x_plain_double_scalar", rate / plain_rate(s, true));
  }
}

void bm_library(benchmark::State& state, Shape s) {
  ForceCall call(s);
  call();  // the first call sets up the library's buffers
  call.before_stamp = call.total = 0;
  const double secs = timed_loop(state, call);
  measured()[kLib + "/" + s.name] = pairs(s) / secs;
  report_library(state, s, secs);
  set_counter(state, "pct_j_copy", 100.0 * call.before_stamp / call.total);
}

// The small call while another process keeps one core busy: threads that
// wait for a core the hog holds show up here at once.
void bm_small_call_hog(benchmark::State& state) {
  const double quiet = pairs(kSmall) / library_rate(kSmall);
  ForceCall call(kSmall);
  call();
  const pid_t hog = fork();
  if (hog == 0) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)) - 1, &one);
    sched_setaffinity(0, sizeof one, &one);
    for (volatile unsigned long spin = 0;; spin = spin + 1) {
    }
  }
  const double secs = timed_loop(state, call);
  if (hog > 0) {
    kill(hog, SIGKILL);
    waitpid(hog, nullptr, 0);
  } else {
    state.SkipWithError("could not start the hog process");
  }
  set_counter(state, "x_quiet", secs / quiet);
}

std::string sweep_name(int ni, int nj) {
  return kLib + "/small_sweep/ni:" + std::to_string(ni) + "/nj:" + std::to_string(nj);
}

// The sweep's shapes take their particles from the large cloud: its first
// nj as j-particles, the first ni of those as i-particles.
void bm_sweep(benchmark::State& state, int ni, int nj) {
  const Shape s{"small_sweep", ni, nj};
  ForceCall call(s);
  call();
  const double secs = timed_loop(state, call);
  measured()[sweep_name(ni, nj)] = pairs(s) / secs;
  set_counter(state, "us_per_call", secs * 1e6);
  set_counter(state, "interactions_per_s", pairs(s) / secs);
  set_counter(state, "pct_full_pass", 100.0 * pairs(s) / secs / library_rate(kFull));
  // The larger ni runs after this one: its time is measured here.
  const int* next = std::upper_bound(std::begin(kSweepNi), std::end(kSweepNi), ni);
  if (next != std::end(kSweepNi)) {
    const Shape larger{"small_sweep", *next, nj};
    ForceCall other(larger);
    const double rate = rate_of(sweep_name(*next, nj), pairs(larger), other);
    set_counter(state, "x_next_ni", secs / (pairs(larger) / rate));
  }
}

[[maybe_unused]] double full_pass_rate() { return library_rate(kFull); }

void bm_library_threads(benchmark::State& state, int threads) {
  ForceCall call(kFull);
  double secs = 0;
  with_threads(threads, [&] {
    call();
    secs = timed_loop(state, call);
  });
  const double rate = pairs(kFull) / secs;
  measured()[kLib + "/" + kFull.name + "/threads:" + std::to_string(threads)] = rate;
  set_counter(state, "interactions_per_s", rate);
  set_counter(state, "GFLOPS", rate * kFlops * 1e-9);
  if (threads > 1) set_counter(state, "speedup_1_to_2", rate / library_rate(kFull, 1));
}

// ---------------------------------------------------------------------------
// calc_pot: the potential of all particles of the full-pass set.

#if NBBENCH_POTENTIAL
struct PotCall {
  std::vector<Posm> posm;
  std::vector<double> pot;
  PotCall() {
    posm = nbtest::to_posm(cloud_for(kFull).particles);
    pot.resize(posm.size());
  }
  void operator()() {
    const int n = static_cast<int>(posm.size());
    calc_pot(n, 0, n, static_cast<float>(kEps2), posm.data(), pot.data());
  }
};

void plain_pot(bool scalar_copy, std::vector<double>& out) {
  const Cloud& c = cloud_for(kFull);
  out.resize(static_cast<std::size_t>(c.n));
  (scalar_copy ? scalar::potential : vec::potential)(c, c.n, kEps2, out.data());
}

std::string plain_pot_key(bool scalar_copy) {
  return std::string(scalar_copy ? "plain_double_scalar" : "plain_double") + "/potential/full_pass";
}

double plain_pot_rate(bool scalar_copy) {
  std::vector<double> out;
  return rate_of(plain_pot_key(scalar_copy), pairs(kFull), [&] { plain_pot(scalar_copy, out); });
}

void bm_plain_pot(benchmark::State& state, bool scalar_copy) {
  std::vector<double> out;
  const double secs = timed_loop(state, [&] { plain_pot(scalar_copy, out); });
  const double rate = pairs(kFull) / secs;
  measured()[plain_pot_key(scalar_copy)] = rate;
  set_counter(state, "interactions_per_s", rate);
  set_counter(state, "GFLOPS", rate * kFlopsPotential * 1e-9);
}

void bm_pot(benchmark::State& state) {
  PotCall call;
  call();
  const double secs = timed_loop(state, call);
  const double rate = pairs(kFull) / secs;
  set_counter(state, "interactions_per_s", rate);
  set_counter(state, "GFLOPS", rate * kFlopsPotential * 1e-9);
  set_counter(state, "x_plain_double", rate / plain_pot_rate(false));
  set_counter(state, "x_plain_double_scalar", rate / plain_pot_rate(true));
  set_counter(state, "pct_fma_peak", 100.0 * rate * kFlopsPotential / fma_peak_rate());
}
#endif

void register_all() {
  // Yardsticks first, so that the library's ratios use this run's figures.
  // Rates come from the fastest call of each benchmark; the longer calls get
  // more time, so that some of them run undisturbed on a busy machine.
  benchmark::RegisterBenchmark("fma_peak", bm_fma_peak)->UseRealTime()->MinTime(0.5);
  // The plain loop's full pass takes most of a second: a fixed count of
  // calls keeps the run short.
  for (const Shape& s : kShapes) {
    auto* b = benchmark::RegisterBenchmark(plain_key(s, false).c_str(), bm_plain, s, false)
                  ->UseRealTime()
                  ->Unit(benchmark::kMillisecond);
    if (s.ni == kFull.ni) b->Iterations(3);
  }
  benchmark::RegisterBenchmark(plain_key(kFull, true).c_str(), bm_plain, kFull, true)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond)
      ->Iterations(2);
  for (const Shape& s : kShapes) {
    auto* b = benchmark::RegisterBenchmark((kLib + "/" + s.name).c_str(), bm_library, s)
                  ->UseRealTime()
                  ->Unit(benchmark::kMillisecond);
    if (s.ni == kFull.ni) b->MinTime(1.0);
  }
  benchmark::RegisterBenchmark((kLib + "/" + kSmall.name).c_str(), bm_library, kSmall)
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);
  for (int nj : kSweepNj)
    for (int ni : kSweepNi)
      benchmark::RegisterBenchmark(sweep_name(ni, nj).c_str(), bm_sweep, ni, nj)
          ->UseRealTime()
          ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark((kLib + "/" + kSmall.name + "/hog").c_str(), bm_small_call_hog)
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond)
      ->MinTime(1.0);
#if NBBENCH_END_TO_END
  register_end_to_end(kLib, full_pass_rate);
#endif
  for (int threads : {1, 2})
    benchmark::RegisterBenchmark(
        (kLib + "/" + kFull.name + "/threads:" + std::to_string(threads)).c_str(),
        bm_library_threads, threads)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
#if NBBENCH_POTENTIAL
  for (bool scalar_copy : {false, true})
    benchmark::RegisterBenchmark(plain_pot_key(scalar_copy).c_str(), bm_plain_pot, scalar_copy)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
  benchmark::RegisterBenchmark("calc_pot/full_pass", bm_pot)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
#endif
}

}  // namespace
}  // namespace nbbench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::AddCustomContext("library", nbbench::kLib);
  benchmark::AddCustomContext("omp_max_threads", std::to_string(omp_get_max_threads()));
  nbbench::register_all();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

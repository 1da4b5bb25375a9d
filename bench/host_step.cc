// The integrator's own work per block step, with a force backend that costs
// next to nothing: N particles of which 16 take steps a thousand times
// shorter than the rest, so that the timed block steps hold those 16 alone.
//
//   host_step/<N>/j_share:all   the rank holds all N j-particles: the block
//                               step as one rank of a run does it
//   host_step/<N>/j_share:none  the rank holds none: the same step without
//                               the j-prediction (host time besides it)
//   j_prediction/<N>            the prediction of N j-particles alone
//   active_set/<n>/merge:1|0    the active set of a block of n particles
//                               from the schedule, against a plain sort
//
// The backend gives particle i the force of a harmonic spring of its own
// stiffness, a = -w^2 x (and the jerk -w^2 v), a few flops per active
// particle. With eta = 0.01 the fourth-order criterion asks for
// 0.1 / w: w = 0.5 keeps the bulk on dt_max = 1/8, w = 0.1 * 2^13.5 puts the
// 16 fast particles on 2^-14, well inside that level.
//
// Counters: us_per_step (wall time per block step), cpu_us_per_step (the
// process's CPU time per block step: with one thread the figure that other
// processes on the machine disturb least), mean_ni (active particles per
// step), ns_per_particle (j_prediction: per particle, wall and CPU).
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "integrator.h"

namespace {

using Clock = std::chrono::steady_clock;
using hermite::Vec3;

constexpr int K = 2;
constexpr int kFast = 16;
constexpr int kSpan = 128;  // block steps per timed iteration, all before t = 1/8

double cpu_now() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

double stiffness(int i) { return i < kFast ? 0.1 * std::pow(2.0, 13.5) : 0.5; }

struct SpringBackend {
  void forces(const std::vector<int>& list, const hermite::Predicted& p, Vec3* out) {
    for (std::size_t k = 0; k < list.size(); ++k) {
      const auto i = static_cast<std::size_t>(list[k]);
      const double w = stiffness(list[k]), w2 = w * w;
      for (int c = 0; c < 3; ++c) {
        out[k * K][c] = -w2 * p.x[i][c];
        out[k * K + 1][c] = -w2 * p.v[i][c];
      }
    }
  }
  void potential(const std::vector<Vec3>& pos, double* pot) {
    for (std::size_t i = 0; i < pos.size(); ++i) pot[i] = 0.0;
  }
};

// Positions and velocities from a fixed linear congruential sequence, in
// [-1, 1).
hermite::Model spring_model(int n) {
  hermite::Model m;
  std::uint64_t state = 12345;
  auto next = [&state] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state >> 11) * 0x1p-52 - 1.0;
  };
  for (int i = 0; i < n; ++i) {
    m.mass.push_back(1.0 / n);
    m.pos.push_back(Vec3{next(), next(), next()});
    m.vel.push_back(Vec3{next(), next(), next()});
  }
  return m;
}

using Integrator = hermite::Integrator<K, SpringBackend>;

void bm_host_step(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const bool all_j = state.range(1) != 0;
  const hermite::Model model = spring_model(n);
  SpringBackend backend;
  hermite::Comm comm;
  Integrator started(model, hermite::Settings{}, backend, comm, 0, all_j ? n : 0);
  started.start();
  double best = 1e300, best_cpu = 1e300, ni = 0;
  for (auto _ : state) {
    // A fresh integrator at the started state (the integrator holds a
    // neighbour tree and is not copied).
    Integrator run(model, hermite::Settings{}, backend, comm, 0, all_j ? n : 0);
    run.import_state(started.export_state());
    const long long before = run.counters().particle_steps;
    const double c0 = cpu_now();
    const auto t0 = Clock::now();
    for (int k = 0; k < kSpan; ++k) run.step();
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    best_cpu = std::fmin(best_cpu, cpu_now() - c0);
    state.SetIterationTime(secs);
    best = std::fmin(best, secs);
    ni = static_cast<double>(run.counters().particle_steps - before) / kSpan;
    if (!(run.time() < 0.125)) state.SkipWithError("the span reached the bulk's block step");
  }
  state.counters["us_per_step"] = 1e6 * best / kSpan;
  state.counters["cpu_us_per_step"] = 1e6 * best_cpu / kSpan;
  state.counters["mean_ni"] = ni;
}

void bm_j_prediction(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const hermite::Model model = spring_model(n);
  std::vector<hermite::Derivs<K>> d(static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < d.size(); ++i) {
    for (int q = 0; q < 2 * K; ++q) d[i][q] = Vec3{1.0 / (q + 1), -0.5, 0.25 * q};
  }
  const std::vector<double> t(d.size(), 0.0), dt(d.size(), 0.125);
  hermite::Predicted p;
  p.x.resize(d.size());
  p.v.resize(d.size());
  double best = 1e300, best_cpu = 1e300;
  for (auto _ : state) {
    const double c0 = cpu_now();
    const auto t0 = Clock::now();
    hermite::predict_range<K>(0.0625, 0, n, model.pos, model.vel, d, t, dt, p);
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    benchmark::DoNotOptimize(p.x.data());
    best_cpu = std::fmin(best_cpu, cpu_now() - c0);
    state.SetIterationTime(secs);
    best = std::fmin(best, secs);
  }
  state.counters["us_per_step"] = 1e6 * best;
  state.counters["ns_per_particle"] = 1e9 * best / n;
  state.counters["cpu_ns_per_particle"] = 1e9 * best_cpu / n;
}

void sizes(benchmark::internal::Benchmark* b, bool shares) {
  for (int n : {16384, 262144, 1048576}) {
    if (shares) {
      b->Args({n, 1})->Args({n, 0});
    } else {
      b->Args({n});
    }
  }
}

BENCHMARK(bm_host_step)
    ->Name("host_step")
    ->ArgNames({"", "j_share"})
    ->Apply([](benchmark::internal::Benchmark* b) { sizes(b, true); })
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(3);
BENCHMARK(bm_j_prediction)
    ->Name("j_prediction")
    ->Apply([](benchmark::internal::Benchmark* b) { sizes(b, false); })
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(0.5);

// The active set of a block step of n particles whose bucket was fed by ten
// earlier block steps (ten increasing runs of random indices among 1M):
// the schedule's merge of the runs against a comparison sort of the same
// members, the baseline. n = 1,339 and 55,366 are the mean blocks of
// 16,384 and 1,048,576 particles (bench/scaling-model). Both include the
// n additions to the bucket.
void bm_active_set(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const bool merge = state.range(1) != 0;
  std::vector<int> members;
  std::uint64_t seed = 99;
  for (int r = 0; r < 10; ++r) {
    std::vector<int> run;
    for (int k = n * r / 10; k < n * (r + 1) / 10; ++k) {
      seed = seed * 6364136223846793005ull + 1442695040888963407ull;
      run.push_back(static_cast<int>(seed >> 44));  // below 2^20
    }
    std::sort(run.begin(), run.end());
    members.insert(members.end(), run.begin(), run.end());
  }
  hermite::Schedule s;
  std::vector<int> active;
  for (auto _ : state) {
    for (int i : members) hermite::schedule_add(s, 1.0, i);
    if (merge) {
      hermite::schedule_take_next(s, active);
    } else {
      active.assign(s.buckets.back().members.begin(), s.buckets.back().members.end());
      std::sort(active.begin(), active.end());
      // Retire the bucket as schedule_take_next does, keeping its storage.
      s.buckets.back().members.clear();
      s.buckets.back().run_starts.clear();
      s.spare.push_back(std::move(s.buckets.back().members));
      s.buckets.pop_back();
    }
    benchmark::DoNotOptimize(active.data());
  }
  state.counters["ns_per_particle"] =
      benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}

BENCHMARK(bm_active_set)
    ->Name("active_set")
    ->ArgNames({"", "merge"})
    ->Args({1339, 0})
    ->Args({1339, 1})
    ->Args({55366, 0})
    ->Args({55366, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

// The integrator as a user runs it: hermite_core's block time steps over
// the force library, on Plummer models of 1,024, 4,096 and 16,384 particles.
// The start-up (forces at t = 0, first steps) is done once, outside the
// timing; every timed iteration then runs the same fixed span of block
// steps from a copy of that state, so that iterations are alike.
//
// Counters:
//   interactions_per_s  pair terms per second (i-particles of each block
//                       step times all particles)
//   pct_full_pass       interactions_per_s over the library's full pass
//   block_steps, mean_ni  the span and its mean i-particles per force call
#include "end_to_end.h"

#include <chrono>
#include <string>
#include <vector>

#include "integrator.h"
#include "library_backend.h"
#include "plummer.h"

#if NBBENCH_ORDER == 4
#include "library4.h"
using Lib = hermite::Library4;
#elif NBBENCH_ORDER == 6
#include "library6.h"
using Lib = hermite::Library6;
#else
#include "library8.h"
using Lib = hermite::Library8;
#endif

namespace nbbench {
namespace {

constexpr int K = Lib::kDerivs;
using Backend = hermite::LibraryBackend<Lib>;
using Integrator = hermite::Integrator<K, Backend>;

// The model plummer_gen writes for n particles, without the file.
hermite::Model plummer_model(int n) {
  const plummer::Particles p(n);
  plummer::build_model(n, p, nullptr);
  hermite::Model m;
  m.mass.assign(p.m(), p.m() + n);
  for (int i = 0; i < n; ++i) {
    m.pos.push_back({p.x()[i][0], p.x()[i][1], p.x()[i][2]});
    m.vel.push_back({p.v()[i][0], p.v()[i][1], p.v()[i][2]});
  }
  return m;
}

// A started integration of one model size.
struct Started {
  hermite::Model model;
  hermite::Comm comm;
  Backend backend;
  Integrator integ;
  explicit Started(int n)
      : model(plummer_model(n)),
        backend(model.mass, 0, n, 1.0 / 64),
        integ(model, hermite::Settings{}, backend, comm, 0, n) {
    integ.start();
  }
};

void bm_end_to_end(benchmark::State& state, int n, int steps, double (*full_pass_rate)()) {
  Started s(n);
  double best = 1e300, pairs = 0, particle_steps = 0;
  for (auto _ : state) {
    Integrator run = s.integ;
    const hermite::Counters before = run.counters();
    const auto t0 = Clock::now();
    for (int k = 0; k < steps; ++k) run.step();
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    best = secs < best ? secs : best;
    pairs = run.counters().interactions - before.interactions;
    particle_steps = static_cast<double>(run.counters().particle_steps - before.particle_steps);
  }
  const double rate = pairs / best;
  set_counter(state, "interactions_per_s", rate);
  set_counter(state, "pct_full_pass", 100.0 * rate / full_pass_rate());
  set_counter(state, "block_steps", steps);
  set_counter(state, "mean_ni", particle_steps / steps);
}

}  // namespace

void register_end_to_end(const std::string& lib, double (*full_pass_rate)()) {
  struct Case {
    int n, steps;
  };
  // Spans of some tenths of a second on two cores.
  for (Case c : {Case{1024, 1024}, Case{4096, 256}, Case{16384, 32}}) {
    benchmark::RegisterBenchmark((lib + "/end_to_end/" + std::to_string(c.n)).c_str(),
                                 bm_end_to_end, c.n, c.steps, full_pass_rate)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
  }
}

}  // namespace nbbench

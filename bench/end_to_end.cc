// The integrator as a user runs it: hermite_core's block time steps over
// the force library, on Plummer models of 1,024, 4,096 and 16,384 particles,
// and on post-collapse stand-ins: 1,024 particles with a hard binary at the
// centre, whose block steps hold a few particles each, once softened
// (the binary inside eps, integrated like any pair) and once unsoftened
// (the binary a regularised subsystem, its perturbers resolved).
// The start-up (forces at t = 0, first steps) is done once, outside the
// timing; every timed iteration then runs the same fixed span of block
// steps from a copy of that state, so that iterations are alike.
//
// Counters:
//   interactions_per_s  pair terms per second (i-particles of each block
//                       step times all particles)
//   pct_full_pass       interactions_per_s over the library's full pass
//   block_steps, mean_ni  the span and its mean i-particles per force call
//   pct_schedule, pct_predict, pct_fill, pct_j_input, pct_copies,
//   pct_kernels, pct_correct, pct_subsystems
//                       shares of the span's wall time (see Phases)
//   us_per_step         wall time per block step
//   cpu_us_per_step     the process's CPU time per block step (the least
//                       of the spans; with one thread the figure that other
//                       processes on the machine disturb least)
#include "end_to_end.h"

#include <time.h>

#include <chrono>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "integrator.h"
#include "library_backend.h"
#include "plummer.h"

#if NBBENCH_ORDER == 4
#include "library4.h"
using PlainLib = hermite::Library4;
#elif NBBENCH_ORDER == 6
#include "library6.h"
using PlainLib = hermite::Library6;
#else
#include "library8.h"
using PlainLib = hermite::Library8;
#endif

namespace nbbench {
namespace {

// Wall-clock seconds of a block step's parts, summed over the timed span.
// An integrator that marks its phases (StepPhase) has its scheduling told
// apart from its prediction; with one that does not, both count as predict.
struct Phases {
  double schedule = 0;    // step start to the active set: next block time and
                          // its particles
  double predict = 0;     // to the backend's force call: prediction
  double fill = 0;        // the backend's record fill and result unpacking
  double j_input = 0;     // calc_force up to its j-stamp
  double copies = 0;      // the i-copies and result copies the library times
  double kernels = 0;     // the rest of calc_force: kernels and reduction
  double correct = 0;     // backend's return to step end: rank sum, checks,
                          // corrector, interpolation, next step, rescheduling
  double subsystems = 0;  // regularised subsystems: their internal motions,
                          // the members' terms with their perturbers, and
                          // the formations and ends after the corrector
  double at_enter = 0, at_leave = 0, at_scheduled = 0, at_advanced = 0, at_force = 0,
         at_corrected = 0, at_encounters = 0;
};
Phases phases;

double cpu_now() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

double now() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

// The library adapter with calc_force timed.
struct Lib : PlainLib {
  template <class Predictor, class Force>
  static void calc_force(int ni, int nj, const Predictor* ipred, const Predictor* jpred,
                         Force* force, float eps2, double* stamp, double* ip_time,
                         double* fo_time) {
    const double copies0 = *ip_time + *fo_time;
    const double t0 = wtime();
    PlainLib::calc_force(ni, nj, ipred, jpred, force, eps2, stamp, ip_time, fo_time);
    const double total = wtime() - t0;
    const double copies = *ip_time + *fo_time - copies0;
    phases.j_input += *stamp - t0;
    phases.copies += copies;
    phases.kernels += total - (*stamp - t0) - copies;
    phases.fill -= total;  // the backend's time, less the library's, is the fill
  }
};

constexpr int K = Lib::kDerivs;

// The integrator's backend with its entry and exit stamped.
class Backend : public hermite::LibraryBackend<Lib> {
 public:
  using LibraryBackend::LibraryBackend;
  void forces(const std::vector<int>& list, const hermite::Predicted& p, hermite::Vec3* out) {
    phases.at_enter = now();
    LibraryBackend::forces(list, p, out);
    phases.at_leave = now();
    phases.fill += phases.at_leave - phases.at_enter;
  }
  void mark(hermite::StepPhase phase) {
    const double t = now();
    switch (phase) {
      case hermite::StepPhase::schedule:
        phases.at_scheduled = t;
        break;
      case hermite::StepPhase::subsystems:
        phases.at_advanced = t;
        break;
      case hermite::StepPhase::force:
        phases.at_force = t;
        break;
      case hermite::StepPhase::corrected:
        phases.at_corrected = t;
        break;
      case hermite::StepPhase::encounters:
        phases.at_encounters = t;
        break;
      default:
        break;
    }
  }
};
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

// The Plummer model of n particles with particles 0 and 1 replaced by a
// binary of separation a on a circular orbit at the centre, in the
// softened potential (eps) of its two members.
hermite::Model binary_model(int n, double a, double eps) {
  // At eps = 0 the speed is that of a point-mass Kepler orbit.
  hermite::Model m = plummer_model(n);
  const double mass = m.mass[0] + m.mass[1];
  const double r2 = a * a + eps * eps;
  const double v = std::sqrt(mass * a * a / (r2 * std::sqrt(r2)));  // relative speed
  const double f0 = m.mass[1] / mass, f1 = m.mass[0] / mass;
  m.pos[0] = {f0 * a, 0, 0};
  m.pos[1] = {-f1 * a, 0, 0};
  m.vel[0] = {0, f0 * v, 0};
  m.vel[1] = {0, -f1 * v, 0};
  return m;
}

// A started integration of one model.
struct Started {
  hermite::Model model;
  hermite::Comm comm;
  Backend backend;
  hermite::Settings settings;
  Integrator integ;
  Started(hermite::Model m, double eps)
      : model(std::move(m)),
        backend(model.mass, 0, model.size(), eps),
        settings(settings_for(eps)),
        integ(model, settings, backend, comm, 0, model.size()) {
    integ.start();
  }
  // As the programs run: unsoftened means regularised subsystems.
  static hermite::Settings settings_for(double eps) {
    hermite::Settings s;
    s.eps = eps;
    s.encounters.on = eps == 0.0;
    return s;
  }
};

void bm_end_to_end(benchmark::State& state, hermite::Model (*model)(), double eps, int steps,
                   double (*full_pass_rate)()) {
  Started s(model(), eps);
  double best = 1e300, best_cpu = 1e300, pairs = 0, particle_steps = 0, reg_steps = 0,
         subsystems = 0;
  Phases best_phases;
  for (auto _ : state) {
    // A fresh integrator at the started state (the integrator holds a
    // neighbour tree and is not copied).
    Integrator run(s.model, s.settings, s.backend, s.comm, 0, s.model.size());
    run.import_state(s.integ.export_state());
    const hermite::Counters before = run.counters();
    phases = Phases{};
    const double c0 = cpu_now();
    const auto t0 = Clock::now();
    for (int k = 0; k < steps; ++k) {
      const double start = now();
      run.step();
      const double end = now();
      phases.schedule += phases.at_scheduled - start;
      phases.subsystems += (phases.at_advanced - phases.at_scheduled) +
                           (phases.at_force - phases.at_leave) +
                           (phases.at_encounters - phases.at_corrected);
      phases.predict += phases.at_enter - phases.at_advanced;
      phases.correct += (phases.at_corrected - phases.at_force) + (end - phases.at_encounters);
    }
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    best_cpu = std::fmin(best_cpu, cpu_now() - c0);
    if (secs < best) {
      best = secs;
      best_phases = phases;
    }
    pairs = run.counters().interactions - before.interactions;
    particle_steps = static_cast<double>(run.counters().particle_steps - before.particle_steps);
    reg_steps = static_cast<double>(run.counters().reg_steps - before.reg_steps);
    subsystems = static_cast<double>(run.subsystems().size());
  }
  const double rate = pairs / best;
  set_counter(state, "interactions_per_s", rate);
  set_counter(state, "pct_full_pass", 100.0 * rate / full_pass_rate());
  set_counter(state, "block_steps", steps);
  set_counter(state, "mean_ni", particle_steps / steps);
  // Where the wall time of the fastest span went, in percent.
  const Phases& p = best_phases;
  set_counter(state, "us_per_step", 1e6 * best / steps);
  set_counter(state, "cpu_us_per_step", 1e6 * best_cpu / steps);
  set_counter(state, "pct_schedule", 100.0 * p.schedule / best);
  set_counter(state, "pct_predict", 100.0 * p.predict / best);
  set_counter(state, "pct_fill", 100.0 * p.fill / best);
  set_counter(state, "pct_j_input", 100.0 * p.j_input / best);
  set_counter(state, "pct_copies", 100.0 * p.copies / best);
  set_counter(state, "pct_kernels", 100.0 * p.kernels / best);
  set_counter(state, "pct_correct", 100.0 * p.correct / best);
  set_counter(state, "pct_subsystems", 100.0 * p.subsystems / best);
  // Regularised steps of the span per block step, and the subsystems alive
  // at its end: with none, the case measures no regularisation at all.
  set_counter(state, "reg_steps_per_step", reg_steps / steps);
  set_counter(state, "subsystems", subsystems);
}

template <int N>
hermite::Model plummer_n() {
  return plummer_model(N);
}

hermite::Model binary_1024() { return binary_model(1024, 1e-4, 1e-4); }
hermite::Model binary_1024_eps0() { return binary_model(1024, 1e-4, 0.0); }

}  // namespace

void register_end_to_end(const std::string& lib, double (*full_pass_rate)()) {
  struct Case {
    const char* name;
    hermite::Model (*model)();
    double eps;
    int steps;
  };
  // Spans of some tenths of a second on two cores.
  for (Case c :
       {Case{"1024", plummer_n<1024>, 1.0 / 64, 1024}, Case{"4096", plummer_n<4096>, 1.0 / 64, 256},
        Case{"16384", plummer_n<16384>, 1.0 / 64, 32}, Case{"binary_1024", binary_1024, 1e-4, 4096},
        Case{"binary_1024_eps0", binary_1024_eps0, 0.0, 4096}}) {
    benchmark::RegisterBenchmark((lib + "/end_to_end/" + c.name).c_str(), bm_end_to_end, c.model,
                                 c.eps, c.steps, full_pass_rate)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
  }
}

}  // namespace nbbench

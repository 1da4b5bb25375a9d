// The Hermite integrator of order 2K over a force backend: individual block
// time steps (or one fixed shared step), predictor, force, corrector,
// interpolated higher derivatives. Every rank runs the same integrator on
// all particles; the backend computes the partial forces due to the rank's
// share of the j-particles and the integrator sums them over the ranks.
//
// Backend, for this rank's j-particles:
//   void forces(const std::vector<int>& list, const Predicted& p, Vec3* out);
//     derivatives 0 .. K-1 of the acceleration of the particles in list,
//     out[k * K + n], from the predicted states p;
//   void potential(const std::vector<Vec3>& pos, double* pot);
//     the potential of every particle.
// A backend with a member bool resident() may keep the particles itself
// (resident_backend.h): while it returns true the integrator predicts
// nothing, hands it the new states of every particle it changes by
//   void load(list, m, x, v, derivs, t, dt);
// before the next force call and calls, in place of forces(),
//   void forces_at(double t, const std::vector<int>& list, Vec3* out).
#pragma once

#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "comm.h"
#include "model.h"
#include "neighbour_tree.h"
#include "prediction.h"
#include "schedule.h"
#include "scheme.h"
#include "state.h"
#include "step_digest.h"

namespace hermite {

static_assert(sizeof(Vec3) == 3 * sizeof(double), "Vec3 arrays are summed as plain doubles");

// The phases of a block step, in order. A backend with a member
//   void mark(StepPhase phase);
// is told the end of each (for profiling); other backends need none.
enum class StepPhase {
  schedule,  // next block time and its active particles found
  predict,   // j-particles and active particles predicted
  force,     // forces computed, summed over the ranks and checked
  correct,   // corrector, new steps and the schedule updated
};

namespace detail {
template <class B, class = void>
struct MarksPhases : std::false_type {};
template <class B>
struct MarksPhases<B, std::void_t<decltype(std::declval<B&>().mark(StepPhase::schedule))>>
    : std::true_type {};
template <class B, class = void>
struct KeepsStates : std::false_type {};
template <class B>
struct KeepsStates<B, std::void_t<decltype(std::declval<B&>().resident())>> : std::true_type {};
}  // namespace detail

struct Settings {
  double eta = 0.01;        // accuracy parameter of the time-step criterion
  double dt_max = 0.125;    // largest block step, a power of two
  double dt_min = 0x1p-40;  // a particle needing a smaller step ends the run
  double shared_dt = 0.0;   // > 0: every particle takes this fixed step
  double eps = 0.0;         // softening length, for the pair searches
};

// The energy of the system at one instant, and what the conserved balance
// needs besides (docs/energy-and-checkpoints.md):
//   total = kinetic + potential + external,
//   balance = total + escaped - work_external, constant up to the
//   integration error.
// kinetic and potential count every body at its own position and velocity,
// the members of regularised subsystems included; subsys is the internal
// energy of those subsystems (already inside kinetic + potential), so that
// total - subsys is the energy of the system with each subsystem one body.
struct Energy {
  double kinetic = 0.0, potential = 0.0;
  double external = 0.0;       // potential energy in an external field
  double subsys = 0.0;         // internal energy of the regularised subsystems
  int n_subsys = 0;            // their number
  double escaped = 0.0;        // energy carried off by removed particles
  long long n_escaped = 0;     // their number
  double m_escaped = 0.0;      // and mass
  double work_external = 0.0;  // work done by a time-dependent external field
  double total() const { return kinetic + potential + external; }
  double balance() const { return total() + escaped - work_external; }
  double cm() const { return total() - subsys; }
};

class IntegrationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

template <int K, class Backend>
class Integrator {
 public:
  // js, je: the share of the j-particles whose forces this rank's backend
  // computes. Times are counted from the model's time.
  Integrator(const Model& model, const Settings& settings, Backend& backend, const Comm& comm,
             int js, int je)
      : settings_(settings),
        backend_(backend),
        comm_(comm),
        js_(js),
        je_(je),
        m_(model.mass),
        x_(model.pos),
        v_(model.vel) {
    const std::size_t n = m_.size();
    d_.assign(n, Derivs<K>{});
    t_.assign(n, 0.0);
    dt_.assign(n, 0.0);
    pred_.x.resize(n);
    pred_.v.resize(n);
    pred_.a.resize(n);
    pred_.j.resize(n);
  }

  int size() const { return static_cast<int>(m_.size()); }
  double time() const { return time_; }
  const Counters& counters() const { return counters_; }
  const std::vector<Vec3>& positions() const { return x_; }
  const std::vector<Vec3>& velocities() const { return v_; }
  const std::vector<double>& steps() const { return dt_; }
  double smallest_step() const {
    double h = dt_.empty() ? 0.0 : dt_[0];
    for (double d : dt_) h = std::fmin(h, d);
    return h;
  }

  // Forces at the initial time, the first steps and the higher derivatives
  // at the start. Those come from trial steps: the Hermite interpolant over
  // a particle's first step also gives the derivatives at its start. A
  // trial predicted with what is known so far is followed by a second one
  // predicted with the derivatives the first gave, which makes them accurate
  // enough for the full order from the first step on.
  //
  // With block steps the first step is found from above: every particle
  // starts at dt_max, and after each trial whose derivatives ask for a
  // smaller step it goes down one level and starts over (some six force
  // evaluations per particle in all). Trials on steps near the particle's
  // time scale give well-determined derivatives; a first step guessed from
  // the acceleration and jerk alone would be needlessly short for most
  // particles and far too long where the jerk happens to be small.
  void start() {
    scheduled_ = false;
    std::vector<int> all(m_.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
    // The sixth and eighth orders need the predicted acceleration (and
    // jerk) for snap and crackle: a first call gets acceleration and jerk
    // right, a second one the rest.
    for (int round = 0; round < (K > 2 ? 2 : 1); ++round) {
      send_states(all);
      predict_to(0.0, all, true);
      compute(all, 0.0);
      for (std::size_t i = 0; i < all.size(); ++i) {
        for (int n = 0; n < K; ++n) d_[i][n] = f_[i * K + n];
      }
    }
    const bool shared = settings_.shared_dt > 0.0;
    // Each particle's first trial step comes from its own time scale
    // (startup_time_scale), so that no trial predicts a pair across its
    // orbit: two particles at rest and close together have no jerk, and a
    // first trial of dt_max would carry them through each other.
    std::vector<double> pace(m_.size(), std::numeric_limits<double>::infinity());
    if (!shared) {
      refresh_tree(0.0, true);
      for (std::size_t i = 0; i < m_.size(); ++i) {
        pace[i] = pair_pace(dominant_pair(i, 0.0, x_[i], v_[i]));
        dt_[i] = first_trial_step(startup_time_scale<K>(d_[i], pace[i]));
        check_step(i, 0.0);
      }
    } else {
      dt_.assign(m_.size(), settings_.shared_dt);
    }
    send_states(all);
    std::vector<int> trials(m_.size(), 0);  // trials at the current step
    std::vector<int> group;
    Vec3 end[K], begin[K];
    for (bool pending = true; pending;) {
      pending = false;
      for (double h = shared ? settings_.shared_dt : settings_.dt_max; h >= settings_.dt_min;
           h *= 0.5) {
        group.clear();
        for (std::size_t i = 0; i < m_.size(); ++i) {
          if (dt_[i] == h && trials[i] < 2) group.push_back(static_cast<int>(i));
        }
        if (group.empty()) continue;
        pending = true;
        predict_to(h, group, false);
        compute(group, h);
        for (std::size_t k = 0; k < group.size(); ++k) {
          const auto i = static_cast<std::size_t>(group[k]);
          interpolate<K>(d_[i].data(), &f_[k * K], h, end, begin);
          for (int q = 0; q < K; ++q) d_[i][K + q] = begin[q];
          ++trials[i];
          if (shared || step_criterion<K>(d_[i], h, settings_.eta, pace[i]) >= h) continue;
          dt_[i] = 0.5 * h;
          trials[i] = 0;
          for (int q = 0; q < K; ++q) d_[i][K + q] = Vec3{};
          check_step(i, 0.0);
        }
        send_states(group);
      }
    }
    schedule_build(schedule_, t_, dt_);
    scheduled_ = true;
  }

  // The whole state, for a checkpoint.
  IntegratorState export_state() const {
    IntegratorState s;
    s.derivs = K;
    s.x = x_;
    s.v = v_;
    s.derivs_of.reserve(d_.size() * 2 * K);
    for (const Derivs<K>& d : d_) s.derivs_of.insert(s.derivs_of.end(), d.begin(), d.end());
    s.t = t_;
    s.dt = dt_;
    s.time = time_;
    s.counters = counters_;
    return s;
  }

  // Continues from an exported state in place of start(). Throws
  // IntegrationError for a state of another order or particle count, or one
  // whose particles' times and steps do not fit together.
  void import_state(const IntegratorState& s) {
    const std::size_t n = m_.size();
    if (s.derivs != K) {
      throw IntegrationError("the state is of order " + std::to_string(2 * s.derivs) + ", not " +
                             std::to_string(2 * K));
    }
    if (s.x.size() != n || s.v.size() != n || s.t.size() != n || s.dt.size() != n ||
        s.derivs_of.size() != n * 2 * K) {
      throw IntegrationError("the state does not hold " + std::to_string(n) + " particles");
    }
    const bool shared = settings_.shared_dt > 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      const double h = s.dt[i];
      int e = 0;
      const bool level =
          shared ? h == settings_.shared_dt
                 : h >= settings_.dt_min && h <= settings_.dt_max && std::frexp(h, &e) == 0.5;
      if (!level || !(s.t[i] <= s.time) || !(s.t[i] + h > s.time)) {
        throw IntegrationError("particle " + std::to_string(i) +
                               " has a time and step that do not fit the state's time");
      }
    }
    x_ = s.x;
    v_ = s.v;
    for (std::size_t i = 0; i < n; ++i) {
      for (int q = 0; q < 2 * K; ++q) d_[i][q] = s.derivs_of[i * 2 * K + q];
    }
    t_ = s.t;
    dt_ = s.dt;
    time_ = s.time;
    counters_ = s.counters;
    scheduled_ = false;  // the next step orders the imported particles
    std::vector<int> all(n);
    for (std::size_t i = 0; i < n; ++i) all[i] = static_cast<int>(i);
    send_states(all);
  }

  // Integrates up to time t, which must be a multiple of dt_max (or of the
  // shared step); all particles are then synchronised at t.
  void advance_to(double t) {
    while (time_ < t) step();
  }

  // Energy of the synchronised system: kinetic in double, potential from
  // the backend summed over the ranks.
  Energy energy() {
    Energy e;
    std::vector<double>& pot = pot_;
    pot.assign(m_.size(), 0.0);
    backend_.potential(x_, pot.data());
    comm_.sum(pot.data(), pot.size());
    for (std::size_t i = 0; i < m_.size(); ++i) {
      const Vec3& v = v_[i];
      e.kinetic += 0.5 * m_[i] * (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
      e.potential += 0.5 * m_[i] * pot[i];
    }
    return e;
  }

  // The potential of every particle as the last energy() computed it (empty
  // before the first call), for diagnostics at the same instant.
  const std::vector<double>& potentials() const { return pot_; }

  // One block step: the particles whose steps end first.
  // A step that throws leaves the schedule to be rebuilt by the next one.
  void step() {
    if (!scheduled_) {
      schedule_build(schedule_, t_, dt_);
      scheduled_ = true;
    }
    const double t_next = schedule_next(schedule_);
    // Far from the start a step can fall below the resolution of the time
    // itself; the block would then never end.
    if (!(t_next > time_)) {
      throw IntegrationError("the smallest time step " + format(smallest_step()) +
                             " is lost in the rounding of the time t = " + format(time_));
    }
    scheduled_ = false;
    schedule_take_next(schedule_, active_);
    mark(StepPhase::schedule);
    predict_to(t_next, active_, false);
    mark(StepPhase::predict);
    compute(active_, t_next);
    mark(StepPhase::force);
    Vec3 hi[K];
    for (std::size_t k = 0; k < active_.size(); ++k) {
      const auto i = static_cast<std::size_t>(active_[k]);
      const double h = t_next - t_[i];
      const Vec3* f1 = &f_[k * K];
      correct<K>(h, x_[i], v_[i], d_[i].data(), f1, x_[i], v_[i]);
      interpolate<K>(d_[i].data(), f1, h, hi);
      for (int n = 0; n < K; ++n) {
        d_[i][n] = f1[n];
        d_[i][K + n] = hi[n];
      }
      t_[i] = t_next;
      if (settings_.shared_dt <= 0.0) {
        const double wanted = step_criterion<K>(d_[i], h, settings_.eta, stability_pace(i, t_next));
        dt_[i] = next_block_step(dt_[i], wanted, t_next, settings_.dt_max, settings_.dt_min);
        check_step(i, t_next);
      }
    }
    send_states(active_);
    for (int i : active_) {
      const auto k = static_cast<std::size_t>(i);
      schedule_add(schedule_, t_[k] + dt_[k], i);
    }
    scheduled_ = true;
    time_ = t_next;
    counters_.particle_steps += static_cast<long long>(active_.size());
    counters_.block_steps += 1;
    mark(StepPhase::correct);
  }

 private:
  // Predicts this rank's j-particles and the particles of list to time t.
  // With `all`, every particle is predicted (start-up).
  void predict_to(double t, const std::vector<int>& list, bool all) {
    if (keeps_states()) return;
    if (all) {
      predict_range<K>(t, 0, size(), x_, v_, d_, t_, dt_, pred_);
      return;
    }
    predict_range<K>(t, js_, je_, x_, v_, d_, t_, dt_, pred_);
    for (int i : list) {
      if (i < js_ || i >= je_)
        predict_one<K>(t, static_cast<std::size_t>(i), x_, v_, d_, t_, dt_, pred_);
    }
  }

  // Forces at time t on the particles of list into f_, summed over the ranks.
  // With several ranks the sum carries the digest of the call's decision
  // (t and list) one record past the forces.
  void compute(const std::vector<int>& list, double t) {
    const std::size_t nf = list.size() * K;
    const bool checked = comm_.size() > 1;
    f_.assign(nf + (checked ? 1 : 0), Vec3{});
    if constexpr (detail::KeepsStates<Backend>::value) {
      if (keeps_states()) {
        backend_.forces_at(t, list, f_.data());
      } else {
        backend_.forces(list, pred_, f_.data());
      }
    } else {
      backend_.forces(list, pred_, f_.data());
    }
    if (checked) f_[nf] = digest_terms(step_digest(t, list.data(), list.size()), comm_.root());
    comm_.sum(f_.data()->data(), f_.size() * 3);
    if (checked && !digests_agree(f_[nf], comm_.size())) {
      throw IntegrationError("the ranks took different block steps at t = " + format(t) +
                             " (their summed forces differ in the last bits)");
    }
    f_.resize(nf);
    for (std::size_t k = 0; k < list.size(); ++k) {
      for (int n = 0; n < K; ++n) {
        const Vec3& f = f_[k * K + n];
        if (!std::isfinite(f[0]) || !std::isfinite(f[1]) || !std::isfinite(f[2])) {
          throw IntegrationError("the force on particle " + std::to_string(list[k]) +
                                 " is not finite at t = " + format(t));
        }
      }
    }
    counters_.interactions += static_cast<double>(list.size()) * static_cast<double>(m_.size());
  }

  // Whether the backend keeps the particles' states (and predicts them).
  bool keeps_states() const {
    if constexpr (detail::KeepsStates<Backend>::value) return backend_.resident();
    return false;
  }

  // The current states of the particles of list, to a backend that keeps them.
  void send_states(const std::vector<int>& list) {
    if constexpr (detail::KeepsStates<Backend>::value) {
      if (backend_.resident()) backend_.load(list, m_, x_, v_, d_, t_, dt_);
    }
    (void)list;
  }

  // The largest block step not above the time scale T (dt_max for a lone
  // particle, whose T is infinite).
  double first_trial_step(double T) const {
    double h = settings_.dt_max;
    while (h > T && h >= settings_.dt_min) h *= 0.5;
    return h;
  }

  // The pace of the eighth order's stability limit for particle i, just
  // corrected to time t (infinity at the lower orders, which need none).
  double stability_pace(std::size_t i, double t) {
    if constexpr (K == 4) {
      refresh_tree(t, false);
      return pair_pace(dominant_pair(i, t, x_[i], v_[i]));
    }
    (void)i;
    (void)t;
    return std::numeric_limits<double>::infinity();
  }

  // Rebuilds the neighbour tree over the particles' positions (each at its
  // own time) where it is older than kTreeAge of dt_max, or always with
  // `now`. The tree only proposes candidates, whose true separations are
  // measured at the time of the question, so an old tree costs accuracy
  // only where a new neighbour has come from beyond the candidates.
  void refresh_tree(double t, bool now) {
    if (!now && tree_built_ && t - tree_time_ < kTreeAge * settings_.dt_max) return;
    tree_ids_.clear();
    for (std::size_t i = 0; i < m_.size(); ++i) {
      if (m_[i] > 0.0) tree_ids_.push_back(static_cast<int>(i));
    }
    tree_.build(x_.data(), tree_ids_);
    tree_time_ = t;
    tree_built_ = true;
  }

  // Particle i's dominant pair at time t, with i at xi, vi: among the
  // tree's kPairCandidates nearest to xi, the one with the largest
  // m_j / (r^2 + eps^2), predicted to t as the force sees it.
  DominantPair dominant_pair(std::size_t i, double t, const Vec3& xi, const Vec3& vi) const {
    int near[kPairCandidates];
    const int found = tree_.nearest(xi, kPairCandidates, near);
    DominantPair best;
    double strongest = 0.0;
    const double eps2 = settings_.eps * settings_.eps;
    for (int c = 0; c < found; ++c) {
      const auto j = static_cast<std::size_t>(near[c]);
      if (j == i || !(m_[j] > 0.0)) continue;
      const double tau = t - t_[j];
      Vec3 xj, vj;
      predict<K>(tau, x_[j], v_[j], d_[j], &xj, &vj, nullptr, nullptr, tau <= dt_[j] ? 2 * K : K);
      const Vec3 dx{xj[0] - xi[0], xj[1] - xi[1], xj[2] - xi[2]};
      const Vec3 dv{vj[0] - vi[0], vj[1] - vi[1], vj[2] - vi[2]};
      const double r2 = dx[0] * dx[0] + dx[1] * dx[1] + dx[2] * dx[2] + eps2;
      const double term = m_[j] / r2;
      if (!(term > strongest)) continue;
      strongest = term;
      best.r = std::sqrt(r2);
      best.v2 = dv[0] * dv[0] + dv[1] * dv[1] + dv[2] * dv[2];
      best.vr = (dx[0] * dv[0] + dx[1] * dv[1] + dx[2] * dv[2]) / best.r;
      best.m = m_[i] + m_[j];
    }
    return best;
  }

  void check_step(std::size_t i, double t) const {
    if (!(dt_[i] >= settings_.dt_min)) {
      throw IntegrationError("the time step of particle " + std::to_string(i) + " fell below " +
                             format(settings_.dt_min) + " at t = " + format(t));
    }
  }

  void mark(StepPhase phase) {
    if constexpr (detail::MarksPhases<Backend>::value) backend_.mark(phase);
    (void)phase;
  }

  static std::string format(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", v);
    return text;
  }

  Settings settings_;
  Backend& backend_;
  const Comm& comm_;
  int js_, je_;
  std::vector<double> m_;
  std::vector<Vec3> x_, v_;
  std::vector<Derivs<K>> d_;
  std::vector<double> t_, dt_;  // each particle's time and step
  double time_ = 0.0;           // time of the last block step
  Predicted pred_;
  Schedule schedule_;       // particles by the end of their steps
  bool scheduled_ = false;  // schedule_ holds every particle as t_, dt_ say
  std::vector<int> active_;
  std::vector<Vec3> f_;      // forces of the last call, K per particle
  std::vector<double> pot_;  // potentials of the last energy()
  Counters counters_;
  // Candidates of the pair searches: a tree over the particles' positions.
  static constexpr int kPairCandidates = 6;
  static constexpr double kTreeAge = 1.0 / 16;  // of dt_max
  diagnostics::NeighbourTree tree_;
  std::vector<int> tree_ids_;
  double tree_time_ = 0.0;
  bool tree_built_ = false;
};

}  // namespace hermite

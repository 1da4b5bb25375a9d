// The Hermite integrator of order 2K over a force backend: individual block
// time steps (or one fixed shared step), predictor, force, corrector,
// interpolated higher derivatives. Every rank runs the same integrator on
// all particles; the backend computes the partial forces due to the rank's
// share of the j-particles and the integrator sums them over the ranks.
// Each rank corrects its share of a block's particles and gathers the
// others' (correct_block); every rank then holds every particle's state.
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

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "ar_slowdown.h"
#include "comm.h"
#include "external_field.h"
#include "local_density.h"
#include "model.h"
#include "neighbour_tree.h"
#include "prediction.h"
#include "regularisation.h"
#include "regularisation_codec.h"
#include "schedule.h"
#include "scheme.h"
#include "state.h"
#include "step_digest.h"
#include "tree_state_codec.h"

namespace hermite {

static_assert(sizeof(Vec3) == 3 * sizeof(double), "Vec3 arrays are summed as plain doubles");

// The phases of a block step, in order. A backend with a member
//   void mark(StepPhase phase);
// is told the end of each (for profiling); other backends need none.
enum class StepPhase {
  schedule,    // next block time and its active particles found
  subsystems,  // the internal motions of stepping subsystems advanced
  predict,     // j-particles and active particles predicted
  force,       // forces computed, summed over the ranks and checked
  corrected,   // corrector and new steps
  encounters,  // subsystems formed, changed and ended
  correct,     // the schedule updated: the step's end
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
template <class B, class = void>
struct TakesMasses : std::false_type {};
template <class B>
struct TakesMasses<B, std::void_t<decltype(std::declval<B&>().use_masses(
                          std::declval<const std::vector<double>&>()))>> : std::true_type {};
}  // namespace detail

struct Settings {
  double eta = 0.01;             // accuracy parameter of the time-step criterion
  double dt_max = 0.125;         // largest block step, a power of two
  double dt_min = 0x1p-40;       // a particle needing a smaller step ends the run
  double shared_dt = 0.0;        // > 0: every particle takes this fixed step
  double eps = 0.0;              // softening length, for the pair searches
  EncounterSettings encounters;  // regularised subsystems (off: none)
  // A field besides the particles' gravity (not owned); null: none.
  ExternalField* field = nullptr;
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
    alive_.assign(n, 1);
    mass0_ = m_;
    enc_ = settings.encounters;
    // The backend's j-particles carry the integrator's masses, which
    // change as subsystems form and end. A backend that keeps its own
    // cannot carry subsystems.
    if constexpr (detail::TakesMasses<Backend>::value) {
      backend_.use_masses(m_);
    } else if (enc_.on) {
      throw IntegrationError("this force backend cannot carry regularised subsystems");
    }
    if (enc_.on && settings.shared_dt > 0.0) {
      throw IntegrationError("regularised subsystems need block steps, not a shared step");
    }
  }

  int size() const { return static_cast<int>(m_.size()); }
  double time() const { return time_; }
  const Counters& counters() const { return counters_; }
  // Every particle at its own place: the members of a subsystem about its
  // centre of mass (at the centre of mass's time), the others as
  // integrated.
  const std::vector<Vec3>& positions() const {
    resolve();
    return xr_;
  }
  const std::vector<Vec3>& velocities() const {
    resolve();
    return vr_;
  }
  const std::vector<Regularised>& subsystems() const { return regs_; }
  const EncounterScale& encounter_scale() const { return scale_; }
  // The formations, changes and ends of subsystems since the last call of
  // clear_events().
  const std::vector<EncounterEvent>& events() const { return events_; }
  void clear_events() { events_.clear(); }
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
    if (enc_.on) update_scale(0.0);
    // With regularisation, a particle whose first step would fall below
    // dt_min waits at dt_min, untried, for the formation below to take it
    // into a subsystem: two bodies at rest 1e-12 apart have a time scale
    // of 1e-18, and stopped the run before they could pair.
    std::vector<int> waiting;
    startup(all, 0.0, true, enc_.on ? &waiting : nullptr);
    if (enc_.on) {
      // Pairs close at the start form at once, before the first step.
      active_ = all;
      encounters_after_step(0.0);
      appeared_.clear();
      resolved_ = false;
      for (int w : waiting) {
        const bool member = std::any_of(regs_.begin(), regs_.end(), [w](const Regularised& r) {
          return std::find(r.s.ids.begin(), r.s.ids.end(), w) != r.s.ids.end();
        });
        if (!member) {
          throw IntegrationError("the time step of particle " + std::to_string(w) + " fell below " +
                                 format(settings_.dt_min) +
                                 " at t = 0, and it formed no subsystem");
        }
      }
      if (!waiting.empty()) {
        // The others' trial steps saw the waiting particles predicted along
        // their own vast accelerations: all start again, each subsystem's
        // centre of mass in place of its members.
        std::vector<int> live;
        for (std::size_t i = 0; i < all.size(); ++i) {
          if (alive_[i] != 0) live.push_back(static_cast<int>(i));
        }
        startup(live, 0.0, true);
        for (Regularised& r : regs_) find_perturbers(r, 0.0);
        resolved_ = false;
      }
    }
    schedule_build(schedule_, t_, dt_, alive_);
    scheduled_ = true;
  }

  // The start-up of the particles of list at time t0 (all particles at the
  // start, `everyone`; a centre of mass or members that appear mid-run
  // otherwise): forces, higher derivatives and first steps, by trials as
  // described at start(). A first step mid-run also keeps t0 a multiple of
  // it. `waiting` (the start with regularisation): a particle whose first
  // step would fall below dt_min takes dt_min untried and is listed there,
  // for the caller to take into a subsystem; otherwise that ends the run.
  void startup(const std::vector<int>& list, double t0, bool everyone,
               std::vector<int>* waiting = nullptr) {
    for (int i : list) {
      d_[static_cast<std::size_t>(i)] = Derivs<K>{};
      t_[static_cast<std::size_t>(i)] = t0;
      dt_[static_cast<std::size_t>(i)] = 0.0;
    }
    // The sixth and eighth orders need the predicted acceleration (and
    // jerk) for snap and crackle: a first call gets acceleration and jerk
    // right, a second one the rest.
    for (int round = 0; round < (K > 2 ? 2 : 1); ++round) {
      send_states(list);
      predict_to(t0, list, everyone);
      compute(list, t0);
      for (std::size_t k = 0; k < list.size(); ++k) {
        const auto i = static_cast<std::size_t>(list[k]);
        for (int n = 0; n < K; ++n) d_[i][n] = f_[k * K + n];
      }
      if (round == 0 && K > 2 && waiting != nullptr) {
        // A particle that will wait (below) goes into the second call at
        // rest: its vast predicted acceleration would overflow the
        // single-precision snap of its pair.
        refresh_tree(t0, true);
        for (int i : list) {
          const auto q = static_cast<std::size_t>(i);
          double pace = 0.0;
          if (!(first_step_at(q, t0, pace) >= settings_.dt_min)) d_[q] = Derivs<K>{};
        }
      }
    }
    const bool shared = settings_.shared_dt > 0.0;
    // Each particle's first trial step comes from its own time scale
    // (startup_time_scale), so that no trial predicts a pair across its
    // orbit: two particles at rest and close together have no jerk, and a
    // first trial of dt_max would carry them through each other.
    std::vector<double> pace(list.size(), std::numeric_limits<double>::infinity());
    std::vector<int> trials(list.size(), 0);  // trials at the current step
    if (!shared) {
      refresh_tree(t0, true);
      for (std::size_t k = 0; k < list.size(); ++k) {
        const auto i = static_cast<std::size_t>(list[k]);
        double h = first_step_at(i, t0, pace[k]);
        while (std::fmod(t0, h) != 0.0 && h >= settings_.dt_min) h *= 0.5;
        dt_[i] = h;
        if (waiting != nullptr && !(h >= settings_.dt_min)) {
          // No trial, and predicted at rest in the others' trials: along
          // its own acceleration it would pass its partner and fly off.
          dt_[i] = settings_.dt_min;
          trials[k] = 2;
          d_[i] = Derivs<K>{};
          waiting->push_back(list[k]);
        }
        check_step(i, t0);
      }
    } else {
      for (int i : list) dt_[static_cast<std::size_t>(i)] = settings_.shared_dt;
    }
    send_states(list);
    std::vector<int> group, slot;
    Vec3 end[K], begin[K];
    for (bool pending = true; pending;) {
      pending = false;
      for (double h = shared ? settings_.shared_dt : settings_.dt_max; h >= settings_.dt_min;
           h *= 0.5) {
        group.clear();
        slot.clear();
        for (std::size_t k = 0; k < list.size(); ++k) {
          const auto i = static_cast<std::size_t>(list[k]);
          if (dt_[i] == h && trials[k] < 2) {
            group.push_back(list[k]);
            slot.push_back(static_cast<int>(k));
          }
        }
        if (group.empty()) continue;
        pending = true;
        predict_to(t0 + h, group, false);
        compute(group, t0 + h);
        for (std::size_t g = 0; g < group.size(); ++g) {
          const auto i = static_cast<std::size_t>(group[g]);
          const auto k = static_cast<std::size_t>(slot[g]);
          interpolate<K>(d_[i].data(), &f_[g * K], h, end, begin);
          for (int q = 0; q < K; ++q) d_[i][K + q] = begin[q];
          ++trials[k];
          if (shared || step_criterion<K>(d_[i], h, settings_.eta, pace[k]) >= h) continue;
          dt_[i] = 0.5 * h;
          trials[k] = 0;
          for (int q = 0; q < K; ++q) d_[i][K + q] = Vec3{};
          check_step(i, t0);
        }
        send_states(group);
      }
    }
  }

  // Particle i's first trial step at t0 from its own time scale, with the
  // pace of its dominant pair (pair_pace) into `pace`; needs the tree at t0.
  double first_step_at(std::size_t i, double t0, double& pace) const {
    pace = pair_pace(dominant_pair(i, t0, x_[i], v_[i]));
    return first_trial_step(startup_time_scale<K>(d_[i], pace));
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
    const bool resting = std::find(alive_.begin(), alive_.end(), 0) != alive_.end();
    if (!regs_.empty() || enc_.on || resting) {
      s.alive = alive_;
      s.subsystems = encode_regularised(regs_, scale_, counters_.reg_steps);
    }
    if (tree_built_) s.neighbour_tree = encode_tree_state(tree_time_, tree_.ids(), tree_.points());
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
    if (!s.alive.empty() && s.alive.size() != n) {
      throw IntegrationError("the state's alive flags do not fit its particles");
    }
    const bool shared = settings_.shared_dt > 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      if (!s.alive.empty() && s.alive[i] == 0) continue;  // a resting slot keeps no step
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
    alive_.assign(n, 1);
    if (!s.alive.empty()) alive_ = s.alive;
    regs_.clear();
    if (!s.subsystems.empty()) {
      try {
        decode_regularised(s.subsystems, regs_, scale_, counters_.reg_steps);
      } catch (const std::exception& e) {
        throw IntegrationError(std::string("the state's subsystems: ") + e.what());
      }
    }
    // The masses follow from the slots: a resting slot has none, a centre
    // of mass carries its members'.
    m_ = mass0_;
    for (std::size_t i = 0; i < n; ++i) {
      if (alive_[i] == 0) m_[i] = 0.0;
    }
    for (const Regularised& r : regs_) {
      if (r.cm < 0 || static_cast<std::size_t>(r.cm) >= n || alive_[r.cm] == 0) {
        throw IntegrationError("a subsystem's centre of mass is not a live particle");
      }
      for (int id : r.s.ids) {
        if (id < 0 || static_cast<std::size_t>(id) >= n) {
          throw IntegrationError("a subsystem's member is not a particle of the state");
        }
      }
      for (int p : r.perturbers) {
        if (p < 0 || static_cast<std::size_t>(p) >= n) {
          throw IntegrationError("a subsystem's perturber is not a particle of the state");
        }
      }
      m_[static_cast<std::size_t>(r.cm)] = subsystem_mass(r.s);
    }
    // The pair-search tree as the exported run last built it, so that the
    // searches propose the same candidates as in a run that never stopped.
    tree_built_ = false;
    if (!s.neighbour_tree.empty()) {
      try {
        std::vector<Vec3> points;
        decode_tree_state(s.neighbour_tree, n, tree_time_, tree_ids_, points);
        tree_.build_points(tree_ids_, points);
      } catch (const std::exception& e) {
        throw IntegrationError(std::string("the state's neighbour tree: ") + e.what());
      }
      tree_built_ = true;
    }
    resolved_ = false;
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

  // Takes the particles of `slots` out of the integration for good (an
  // escaper): each rests (state.h) and its model mass no longer counts in
  // the subsystems' scales. A slot that is the centre of mass or a member
  // of a regularised subsystem takes the whole subsystem with it. Only
  // where every particle is synchronised (at an output time): throws
  // IntegrationError otherwise, or for a slot out of range or one that
  // already rests outside a subsystem. Returns every slot that left, the
  // members of the subsystems included, ascending.
  std::vector<int> remove_for_good(const std::vector<int>& slots) {
    const std::size_t n = m_.size();
    for (std::size_t i = 0; i < n; ++i) {
      if (alive_[i] != 0 && t_[i] != time_) {
        throw IntegrationError("particles leave only where all are synchronised, not at t = " +
                               format(time_));
      }
    }
    std::vector<int> gone;
    for (int s : slots) {
      if (s < 0 || static_cast<std::size_t>(s) >= n) {
        throw IntegrationError("no particle " + std::to_string(s) + " can leave");
      }
      const auto at = std::find_if(regs_.begin(), regs_.end(), [s](const Regularised& r) {
        return std::find(r.s.ids.begin(), r.s.ids.end(), s) != r.s.ids.end();
      });
      if (at != regs_.end()) {
        gone.insert(gone.end(), at->s.ids.begin(), at->s.ids.end());
        regs_.erase(at);
      } else if (alive_[static_cast<std::size_t>(s)] != 0) {
        gone.push_back(s);
      } else if (std::find(gone.begin(), gone.end(), s) == gone.end()) {
        throw IntegrationError("particle " + std::to_string(s) + " has already left");
      }
    }
    std::sort(gone.begin(), gone.end());
    gone.erase(std::unique(gone.begin(), gone.end()), gone.end());
    const std::vector<int> stay = drop_pull_of(gone);
    for (int g : gone) {
      rest_slot(static_cast<std::size_t>(g));
      mass0_[static_cast<std::size_t>(g)] = 0.0;
    }
    // No subsystem keeps a perturber that left.
    for (Regularised& r : regs_) {
      r.perturbers.erase(
          std::remove_if(r.perturbers.begin(), r.perturbers.end(),
                         [this](int p) { return mass0_[static_cast<std::size_t>(p)] == 0.0; }),
          r.perturbers.end());
    }
    tree_built_ = false;
    resolved_ = false;
    scheduled_ = false;  // the next step orders the particles that stay
    send_states(gone);
    send_states(stay);
    return gone;
  }

  // For a continued run, after import_state(): the slots that left earlier
  // (resting in the state) no longer count in the subsystems' scales.
  // Throws IntegrationError for a slot out of range or one still alive.
  void forget(const std::vector<int>& slots) {
    for (int s : slots) {
      if (s < 0 || static_cast<std::size_t>(s) >= m_.size() ||
          alive_[static_cast<std::size_t>(s)] != 0) {
        throw IntegrationError("particle " + std::to_string(s) +
                               " left the run, but the state holds it");
      }
      mass0_[static_cast<std::size_t>(s)] = 0.0;
    }
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
    add_subsystem_energy(e);
    return e;
  }

  // The potential of every particle as the last energy() computed it (empty
  // before the first call), for diagnostics at the same instant.
  const std::vector<double>& potentials() const { return pot_; }

  // One block step: the particles whose steps end first.
  // A step that throws leaves the schedule to be rebuilt by the next one.
  void step() {
    if (!scheduled_) {
      schedule_build(schedule_, t_, dt_, alive_);
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
    // A centre of mass stepping now takes its members to t_next first, so
    // that its force sees them there.
    if (!regs_.empty()) advance_subsystems(t_next);
    mark(StepPhase::subsystems);
    predict_to(t_next, active_, false);
    mark(StepPhase::predict);
    compute(active_, t_next);
    mark(StepPhase::force);
    correct_block(t_next);
    send_states(active_);
    mark(StepPhase::corrected);
    if (enc_.on) encounters_after_step(t_next);
    mark(StepPhase::encounters);
    for (int i : active_) {
      const auto k = static_cast<std::size_t>(i);
      if (alive_[k] != 0) schedule_add(schedule_, t_[k] + dt_[k], i);
    }
    for (int i : appeared_) {
      const auto k = static_cast<std::size_t>(i);
      if (alive_[k] != 0 && !std::binary_search(active_.begin(), active_.end(), i))
        schedule_add(schedule_, t_[k] + dt_[k], i);
    }
    appeared_.clear();
    resolved_ = false;
    scheduled_ = true;
    time_ = t_next;
    counters_.particle_steps += static_cast<long long>(active_.size());
    counters_.block_steps += 1;
    mark(StepPhase::correct);
  }

 private:
  // The particles that stay lose the pull of those in `gone` (sorted) at
  // once: the leavers' pair terms leave their stored force derivatives
  // (those of the forces; the interpolated higher ones keep theirs, some
  // (size / distance) smaller). Otherwise the first corrector after the
  // removal would take the missing pull for a smooth change over its step,
  // and every removal would cost some 1e-6 of the energy. Only where all
  // are synchronised. Returns the particles whose derivatives changed.
  std::vector<int> drop_pull_of(const std::vector<int>& gone) {
    std::vector<int> sources, stay;
    for (int g : gone) {
      if (alive_[static_cast<std::size_t>(g)] != 0 && m_[static_cast<std::size_t>(g)] > 0.0)
        sources.push_back(g);
    }
    if (sources.empty()) return stay;
    for (std::size_t i = 0; i < m_.size(); ++i) {
      if (alive_[i] == 0 || std::binary_search(gone.begin(), gone.end(), static_cast<int>(i)))
        continue;
      stay.push_back(static_cast<int>(i));
      for (int g : sources) {
        const auto q = static_cast<std::size_t>(g);
        Vec3 dx, dv, da, dj;
        for (int c = 0; c < 3; ++c) {
          dx[c] = x_[q][c] - x_[i][c];
          dv[c] = v_[q][c] - v_[i][c];
          da[c] = d_[q][0][c] - d_[i][0][c];
          dj[c] = d_[q][1][c] - d_[i][1][c];
        }
        add_pair_terms<K>(dx, dv, da, dj, -m_[q], eps2(), d_[i].data());
      }
    }
    return stay;
  }

  // Predicts this rank's j-particles and the particles of list to time t.
  // With `all`, every particle is predicted (start-up). Where the backend
  // keeps the states it predicts them itself; an external field still
  // needs the states of the particles of list here, where it acts.
  void predict_to(double t, const std::vector<int>& list, bool all) {
    if (keeps_states()) {
      if (settings_.field != nullptr) {
        for (int i : list)
          predict_one<K>(t, static_cast<std::size_t>(i), x_, v_, d_, t_, dt_, pred_);
      }
      return;
    }
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
    if (!regs_.empty()) add_subsystem_terms(list, t);
    if (checked) f_[nf] = digest_terms(step_digest(t, list.data(), list.size()), comm_.root());
    comm_.sum(f_.data()->data(), f_.size() * 3);
    if (checked && !digests_agree(f_[nf], comm_.size())) {
      throw IntegrationError("the ranks took different block steps at t = " + format(t) +
                             " (their summed forces differ in the last bits)");
    }
    f_.resize(nf);
    if (settings_.field != nullptr) add_field(list, t);
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

  // The field's terms at the predicted states, after the mutual forces of
  // the particles of list (kept for a second corrector where the field
  // depends on the velocity).
  void add_field(const std::vector<int>& list, double t) {
    const ExternalField& field = *settings_.field;
    if (field.velocity_dependent()) mutual_ = f_;
    for (std::size_t k = 0; k < list.size(); ++k) {
      const auto i = static_cast<std::size_t>(list[k]);
      field.add(t, pred_.x[i], pred_.v[i], K, &f_[k * K]);
    }
  }

  // The corrector of the block, shared among the ranks. Each rank corrects
  // its share of active_ (the summed forces f_ are the same on every rank)
  // and one collective hands every rank the others' corrected states. Where
  // a particle's new step depends on its own state alone (orders 4 and 6
  // without subsystems) the rank that corrects it chooses it too, and it
  // travels with the state; otherwise (the eighth order's pair pace and the
  // subsystems' step rules read other particles) every rank chooses the
  // steps of the whole block after the gather, in the block's order, from
  // the corrected states. Either way the steps depend on neither the rank
  // count nor which rank corrected which particle, and every rank checks
  // every step, so that all stop together.
  void correct_block(double t_next) {
    const std::size_t n = active_.size();
    const bool own_steps = settings_.shared_dt <= 0.0 && K < 4 && regs_.empty();
    ExternalField* field = settings_.field;
    // Where the steps began, for those who read it after the corrector.
    const bool keep_begun = field != nullptr || !own_steps;
    begun_.resize(keep_begun ? n : 0);
    for (std::size_t k = 0; k < begun_.size(); ++k) {
      const auto i = static_cast<std::size_t>(active_[k]);
      begun_[k] = {t_[i], x_[i], v_[i], d_[i][0]};
    }
    // A small block is corrected whole on every rank: the gather's latency
    // would cost more than the corrector it shares (some 0.1 us a particle).
    const bool split = comm_.size() > 1 && n >= kShareCorrectorMin;
    int kb = 0, ke = static_cast<int>(n);
    if (split) comm_.share(static_cast<int>(n), kb, ke);
    Vec3 hi[K];
    for (auto k = static_cast<std::size_t>(kb); k < static_cast<std::size_t>(ke); ++k) {
      const auto i = static_cast<std::size_t>(active_[k]);
      const double h = t_next - t_[i];
      Vec3* f1 = &f_[k * K];
      const Vec3 x0 = x_[i], v0 = v_[i];
      correct<K>(h, x0, v0, d_[i].data(), f1, x_[i], v_[i]);
      if (field != nullptr && field->velocity_dependent()) {
        // P(EC)^2: the Coriolis term at the predicted velocity would cost an
        // order; the field again at the corrected state, and the corrector
        // again.
        for (int q = 0; q < K; ++q) f1[q] = mutual_[k * K + q];
        field->add(t_next, x_[i], v_[i], K, f1);
        correct<K>(h, x0, v0, d_[i].data(), f1, x_[i], v_[i]);
      }
      interpolate<K>(d_[i].data(), f1, h, hi);
      for (int q = 0; q < K; ++q) {
        d_[i][q] = f1[q];
        d_[i][K + q] = hi[q];
      }
      t_[i] = t_next;
      if (own_steps) dt_[i] = next_step(i, t_next, h);
    }
    if (split) gather_corrected(kb, ke, t_next);
    for (std::size_t k = 0; k < n; ++k) {
      const auto i = static_cast<std::size_t>(active_[k]);
      // The field is told of each step (a field that changes with time
      // books its work), with the total acceleration at both ends.
      if (field != nullptr) {
        const Begun& b = begun_[k];
        field->stepped(m_[i], b.t, b.x, b.v, b.a, t_next, x_[i], v_[i], d_[i][0]);
      }
      if (settings_.shared_dt <= 0.0) {
        if (!own_steps) dt_[i] = next_step(i, t_next, t_next - begun_[k].t);
        check_step(i, t_next);
      }
    }
  }

  // The next block step of particle i, just corrected to t over a step h.
  double next_step(std::size_t i, double t, double h) {
    double wanted = step_criterion<K>(d_[i], h, settings_.eta, stability_pace(i, t));
    if (!regs_.empty()) wanted = joining_step(i, t, subsystem_step(i, wanted));
    return next_block_step(dt_[i], wanted, t, settings_.dt_max, settings_.dt_min);
  }

  // Every rank's corrected particles [kb, ke) of active_ to every other rank.
  void gather_corrected(int kb, int ke, double t_next) {
    constexpr int kWords = 7 + 6 * K;  // x, v, the 2K derivatives and the step
    const std::size_t n = active_.size();
    exchange_.resize(n * kWords);
    auto pack = [&](std::size_t k, bool out) {
      const auto i = static_cast<std::size_t>(active_[k]);
      double* w = &exchange_[k * kWords];
      Vec3* parts[2 + 2 * K];
      parts[0] = &x_[i];
      parts[1] = &v_[i];
      for (int q = 0; q < 2 * K; ++q) parts[2 + q] = &d_[i][static_cast<std::size_t>(q)];
      for (Vec3* p : parts) {
        for (int c = 0; c < 3; ++c, ++w) {
          if (out) {
            *w = (*p)[c];
          } else {
            (*p)[c] = *w;
          }
        }
      }
      if (out) {
        *w = dt_[i];
      } else {
        dt_[i] = *w;
      }
    };
    for (auto k = static_cast<std::size_t>(kb); k < static_cast<std::size_t>(ke); ++k)
      pack(k, true);
    comm_.gather_shares(exchange_.data(), static_cast<int>(n), kWords);
    for (std::size_t k = 0; k < n; ++k) {
      if (static_cast<int>(k) >= kb && static_cast<int>(k) < ke) continue;
      pack(k, false);
      t_[static_cast<std::size_t>(active_[k])] = t_next;
    }
  }

  // Whether the backend keeps the particles' states (and predicts them).
  // Regularised subsystems change states and masses of particles outside
  // the block as they form and end: the slots that appear are sent by their
  // start-up, those that come to rest (rest_slot) after the pass. An
  // external field adds its terms at the host's prediction of the active
  // particles alone (predict_to), and the states sent after the corrector
  // carry the total derivatives, field included.
  bool keeps_states() const {
    if constexpr (detail::KeepsStates<Backend>::value) return backend_.resident();
    return false;
  }

  // The current states of the particles of list, to a backend that keeps them.
  void send_states(const std::vector<int>& list) {
    if constexpr (detail::KeepsStates<Backend>::value) {
      if (keeps_states()) backend_.load(list, m_, x_, v_, d_, t_, dt_);
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

  // ---- Regularised subsystems (regularisation.h, encounters/) ----

  // Position, velocity, acceleration and jerk of particle i predicted to t
  // as the force sees it.
  void predicted_state(std::size_t i, double t, Vec3* out) const {
    const double tau = t - t_[i];
    predict<K>(tau, x_[i], v_[i], d_[i], &out[0], &out[1], &out[2], &out[3],
               tau <= dt_[i] ? 2 * K : K);
  }

  // The members of r at time t in absolute coordinates, x, v, a, j each,
  // with the centre of mass at cm[0 .. 3]. The internal motion goes from
  // the subsystem's own time to t unperturbed (a pair in closed form),
  // forward or back.
  void member_states(const Regularised& r, double t, const Vec3* cm,
                     std::vector<std::array<Vec3, 4>>& out) const {
    if (r.s.t == t) {
      internal_terms(r.s, out);
    } else {
      encounters::Subsystem copy = r.s;
      if (copy.m.size() == 2) {
        encounters::kepler_drift(copy, t - copy.t);
      } else if (t > copy.t) {
        encounters::ar_advance(copy, t, {}, ar_settings());
      } else {
        // Back in time: the same motion with the velocities reversed.
        for (Vec3& v : copy.v) v = Vec3{-v[0], -v[1], -v[2]};
        const double span = copy.t - t;
        copy.t = 0.0;
        encounters::ar_advance(copy, span, {}, ar_settings());
        for (Vec3& v : copy.v) v = Vec3{-v[0], -v[1], -v[2]};
        copy.t = t;
      }
      internal_terms(copy, out);
    }
    for (auto& m : out) {
      for (int q = 0; q < 4; ++q) {
        for (int c = 0; c < 3; ++c) m[q][c] += cm[q][c];
      }
    }
  }

  encounters::ArSettings ar_settings() const {
    encounters::ArSettings a;
    a.kepler_shortcut = true;
    return a;
  }

  // Takes every subsystem whose centre of mass steps to t along with it:
  // its perturbers found anew about the centre of mass, their perturbation
  // measured, and the internal motion advanced to t (in closed form where
  // the perturbation is below gamma_min).
  void advance_subsystems(double t) {
    refresh_tree(t, false);
    index_subsystems();
    // Every stepping subsystem takes its perturbers and their tracks before
    // any of them moves, so that one among another's perturbers lends its
    // members as they were at the start of the span.
    std::vector<std::size_t> stepping;
    std::vector<double> gamma_before;
    for (std::size_t k = 0; k < regs_.size(); ++k) {
      if (!std::binary_search(active_.begin(), active_.end(), regs_[k].cm)) continue;
      stepping.push_back(k);
      gamma_before.push_back(regs_[k].gamma);
      find_perturbers(regs_[k], t);
    }
    std::vector<encounters::Perturbation> perts(stepping.size());
    for (std::size_t n = 0; n < stepping.size(); ++n) {
      const Regularised& r = regs_[stepping[n]];
      if ((r.gamma >= enc_.gamma_min || r.s.m.size() > 2) && !r.perturbers.empty()) {
        perts[n] = encounters::tracks_perturbation(perturber_tracks(r, t));
      }
    }
    for (std::size_t n = 0; n < stepping.size(); ++n) {
      Regularised& r = regs_[stepping[n]];
      const encounters::Perturbation& pert = perts[n];
      const std::int64_t before = r.s.steps + r.s.kepler_drifts;
      try {
        // A perturbed pair runs slowed where its perturbation allows
        // (Mikkola & Aarseth 1996; encounters/ar_slowdown.h): measured on a
        // 1,024-body core after collapse, where a hard binary's
        // perturbation lay mostly between 1e-7 and 1e-5, its regularised
        // steps took some 70% of the run without it. Over whole orbits, so
        // that the members keep their physical phase for the forces and
        // energies that read them.
        if (r.s.m.size() == 2) {
          encounters::ar_advance_whole_orbits(r.s, t, pert, std::fmax(gamma_before[n], r.gamma),
                                              enc_.gamma_slow, kSlowdownMax, ar_settings());
        } else {
          encounters::ar_advance(r.s, t, pert, ar_settings());
        }
      } catch (const std::exception& e) {
        throw IntegrationError("the regularised subsystem of particles " + ids_text(r.s.ids) +
                               " failed at t = " + format(t) + ": " + e.what());
      }
      counters_.reg_steps += static_cast<long long>(r.s.steps + r.s.kepler_drifts - before);
    }
  }

  // The perturbers of r over the span from its time to t, relative to its
  // centre of mass: those within near_radius() each by its own track, the
  // others by their tidal tensor (encounters/perturber_tracks.h). A
  // subsystem that sees r's members (member_partner) lends r its members.
  encounters::PerturberTracks perturber_tracks(const Regularised& r, double t) const {
    encounters::PerturberTracks tr;
    tr.t0 = r.s.t;
    tr.t1 = t;
    tr.eps2 = eps2();
    const auto cm = static_cast<std::size_t>(r.cm);
    Vec3 c0[4], c1[4];
    predicted_state(cm, tr.t0, c0);
    predicted_state(cm, tr.t1, c1);
    const double mass = subsystem_mass(r.s);
    const double near = near_radius(subsystem_size(r.s), mass, scale_.m_max);
    auto add = [&](double m, const Vec3* p0, const Vec3* p1) {
      encounters::PerturberTrack k;
      k.m = m;
      for (int c = 0; c < 3; ++c) {
        k.x0[c] = p0[0][c] - c0[0][c];
        k.v0[c] = p0[1][c] - c0[1][c];
        k.x1[c] = p1[0][c] - c1[0][c];
        k.v1[c] = p1[1][c] - c1[1][c];
      }
      if (std::fmin(norm(k.x0), norm(k.x1)) < near) {
        tr.near.push_back(k);
      } else {
        encounters::add_far_perturber(tr, k);
      }
    };
    std::vector<std::array<Vec3, 4>> mem0, mem1;
    for (int p : r.perturbers) {
      const auto q = static_cast<std::size_t>(p);
      Vec3 p0[4], p1[4];
      predicted_state(q, tr.t0, p0);
      predicted_state(q, tr.t1, p1);
      const int partner = member_partner(r, p);
      if (partner < 0) {
        add(m_[q], p0, p1);
        continue;
      }
      const Regularised& o = regs_[static_cast<std::size_t>(partner)];
      member_states(o, tr.t0, p0, mem0);
      member_states(o, tr.t1, p1, mem1);
      for (std::size_t j = 0; j < o.s.m.size(); ++j) add(o.s.m[j], mem0[j].data(), mem1[j].data());
    }
    return tr;
  }

  // The longest step particle i (at t) may take next to a subsystem it may
  // join, given the step h it asks for: where it could come within
  // kJoinWatch of their pair R_cl (the distance within which a strongly
  // perturbed subsystem takes it in) during h at its present relative
  // speed, no longer than the centre of mass's step, so that the two share
  // every block time of the centre of mass and a join waits no longer than
  // one of its steps. h elsewhere.
  // Measured on a 1,024-body cluster after core collapse: an approaching
  // pair on a step 16 times the group's perturbed it at gamma 0.19 to 0.42
  // until the next block time they shared, and the energy rose by 4.7e-5
  // of |E| in 8e-4 time units.
  double joining_step(std::size_t i, double t, double h) const {
    double cap = h;
    for (const Regularised& r : regs_) {
      const auto cm = static_cast<std::size_t>(r.cm);
      if (cm == i || !(dt_[cm] < cap)) continue;
      Vec3 cs[4];
      predicted_state(cm, t, cs);
      const double d = norm(Vec3{x_[i][0] - cs[0][0], x_[i][1] - cs[0][1], x_[i][2] - cs[0][2]});
      const double u = norm(Vec3{v_[i][0] - cs[1][0], v_[i][1] - cs[1][1], v_[i][2] - cs[1][2]});
      if (d - u * h < kJoinWatch * pair_rcl(scale_, subsystem_mass(r.s), m_[i])) cap = dt_[cm];
    }
    return cap;
  }

  // The longest step centre of mass i may take given the step h it asks
  // for: a subsystem perturbed at gamma, no longer than kPhaseStep / gamma
  // of its internal time scale (size^3 / M)^(1/2), nor shorter than
  // kPhaseFloor of it. Between the centre of mass's steps its perturbers
  // see the members moved unperturbed (member_states), whose phase parts
  // from the perturbed motion by some gamma (step / internal time): a
  // perturber then feels the members where they are not, and the energy it
  // exchanges with them is not what the members' integration books.
  // Measured on 1,024-body post-collapse models: a pair of a = 3e-5 (6% of
  // |E|) stepped by a third body changed its binding by 3e-4 of |E|, and
  // the energy check by 6.1e-5 (1.6e-6 with kPhaseStep 0.03, 4.7e-6 with
  // 0.01 on another course); a clump of seven bodies about a group of six,
  // t = 290 to 291 of a collapsed cluster: 1.4e-5 of |E| without, 6.3e-6
  // with 0.02, 4e-7 with 0.01.
  double subsystem_step(std::size_t i, double h) const {
    for (const Regularised& r : regs_) {
      if (static_cast<std::size_t>(r.cm) != i) continue;
      if (!(r.gamma > 0.0)) return h;
      const double size = subsystem_size(r.s);
      const double inner = std::sqrt(size * size * size / subsystem_mass(r.s));
      return std::fmin(h, inner * std::fmax(kPhaseStep / r.gamma, kPhaseFloor));
    }
    return h;
  }

  // r's perturbers at time t (the particles within its perturber radius of
  // its centre of mass, by the tree) and their perturbation gamma. The
  // perturbers feel the members and the centre of mass feels them through
  // its members, in the forces and in the energy, from this call on; an
  // unperturbed pair keeps none.
  void find_perturbers(Regularised& r, double t) {
    const auto cm = static_cast<std::size_t>(r.cm);
    Vec3 cs[4];
    predicted_state(cm, t, cs);
    const double mass = subsystem_mass(r.s);
    const double size = subsystem_size(r.s);
    const double reach =
        perturber_radius(size, mass, scale_.m_max, enc_.gamma_min) + kPerturberMargin;
    tree_.within(cs[0], reach, near_);
    r.perturbers.clear();
    r.gamma = 0.0;
    // The shortest time in which a perturber moves by its own distance, at
    // its relative speed or, where slower, its free fall onto the subsystem.
    double passage = std::numeric_limits<double>::infinity();
    for (int p : near_) {
      const auto q = static_cast<std::size_t>(p);
      if (q == cm || alive_[q] == 0) continue;
      Vec3 ps[4];
      predicted_state(q, t, ps);
      const double d = norm(Vec3{ps[0][0] - cs[0][0], ps[0][1] - cs[0][1], ps[0][2] - cs[0][2]});
      const double u = norm(Vec3{ps[1][0] - cs[1][0], ps[1][1] - cs[1][1], ps[1][2] - cs[1][2]});
      r.gamma += 2.0 * m_[q] * size * size * size / (mass * d * d * d);
      passage = std::fmin(passage, d / std::fmax(u, std::sqrt((mass + m_[q]) / d)));
      r.perturbers.push_back(p);
    }
    r.averaged = r.s.m.size() == 2 && r.gamma < kAveragedGamma &&
                 encounters::pair_period(r.s) < kAveragedPeriod * passage;
    // An unperturbed pair acts on everything else as a point mass at its
    // centre of mass, in the forces and in the energy: its quadrupole there
    // is below gamma_min of its own force by definition, and oscillates on
    // the pair's orbital time, far shorter than the steps of the bodies
    // that would feel it.
    if (r.s.m.size() == 2 && r.gamma < enc_.gamma_min) r.perturbers.clear();
  }

  double eps2() const { return settings_.eps * settings_.eps; }

  // Which subsystem, if any, has its centre of mass in each slot (-1: none),
  // for member_partner.
  void index_subsystems() {
    reg_at_.assign(m_.size(), -1);
    for (std::size_t k = 0; k < regs_.size(); ++k)
      reg_at_[static_cast<std::size_t>(regs_[k].cm)] = static_cast<int>(k);
  }

  // Whether r acts on its perturbers, and they on it, through its members.
  static bool resolves_members(const Regularised& r) {
    return !r.averaged && !r.perturbers.empty();
  }

  // The index of the subsystem whose centre of mass is r's perturber p,
  // where the two act on each other member by member: both resolve their
  // members and each lists the other among its perturbers. -1 otherwise
  // (p a single body, or a subsystem that sees r as a point mass). Between
  // two such subsystems the forces and the energy hold every member pair,
  // counted once (from the side of the lower index), and each one's
  // internal motion feels the other's members. index_subsystems() first.
  int member_partner(const Regularised& r, int p) const {
    const int k = reg_at_[static_cast<std::size_t>(p)];
    if (k < 0 || !resolves_members(r)) return -1;
    const Regularised& o = regs_[static_cast<std::size_t>(k)];
    if (!resolves_members(o)) return -1;
    return std::find(o.perturbers.begin(), o.perturbers.end(), r.cm) != o.perturbers.end() ? k : -1;
  }

  static std::string ids_text(const std::vector<int>& ids) {
    std::string out;
    for (int i : ids) out += (out.empty() ? "" : ",") + std::to_string(i);
    return out;
  }

  // The members' part of the forces of the call in progress (f_, this
  // rank's share): a listed centre of mass feels its perturbers through its
  // members, and a listed perturber feels the members of the subsystems it
  // perturbs, in place of the point-mass terms the library computed; two
  // subsystems that see each other's members (member_partner) exchange the
  // terms of every member pair. Each
  // term is added on the rank that holds its source among its j-particles,
  // where the library computed the term it replaces.
  void add_subsystem_terms(const std::vector<int>& list, double t) {
    auto minus = [](const Vec3& a, const Vec3& b) {
      return Vec3{a[0] - b[0], a[1] - b[1], a[2] - b[2]};
    };
    at_.assign(m_.size(), -1);
    for (std::size_t k = 0; k < list.size(); ++k)
      at_[static_cast<std::size_t>(list[k])] = static_cast<int>(k);
    index_subsystems();
    std::vector<std::array<Vec3, 4>> mem, mem_o;
    for (std::size_t index = 0; index < regs_.size(); ++index) {
      const Regularised& r = regs_[index];
      const auto cm = static_cast<std::size_t>(r.cm);
      bool needed = at_[cm] >= 0;
      for (int p : r.perturbers) needed = needed || at_[static_cast<std::size_t>(p)] >= 0;
      if (!needed || r.perturbers.empty()) continue;
      Vec3 cs[4];
      predicted_state(cm, t, cs);
      encounters::Sym3 quad{};
      if (r.averaged) {
        quad = encounters::orbit_second_moment(r.s.m[0], r.s.m[1], minus(r.s.x[1], r.s.x[0]),
                                               minus(r.s.v[1], r.s.v[0]));
      } else {
        member_states(r, t, cs, mem);
      }
      const double mass = subsystem_mass(r.s);
      const bool cm_here = r.cm >= js_ && r.cm < je_;
      for (int p : r.perturbers) {
        const auto q = static_cast<std::size_t>(p);
        const bool p_here = p >= js_ && p < je_;
        if (!(at_[cm] >= 0 && p_here) && !(at_[q] >= 0 && cm_here)) continue;
        Vec3 ps[4];
        predicted_state(q, t, ps);
        const int partner = member_partner(r, p);
        if (partner >= 0) {
          if (static_cast<std::size_t>(partner) < index) continue;  // counted from its side
          const Regularised& o = regs_[static_cast<std::size_t>(partner)];
          member_states(o, t, ps, mem_o);
          const double mass_o = subsystem_mass(o.s);
          if (at_[cm] >= 0 && p_here) {
            add_members_on_members<K>(o.s.m, mem_o, ps, mass_o, r.s.m, mem, cs, mass, eps2(),
                                      &f_[static_cast<std::size_t>(at_[cm]) * K]);
          }
          if (at_[q] >= 0 && cm_here) {
            add_members_on_members<K>(r.s.m, mem, cs, mass, o.s.m, mem_o, ps, mass_o, eps2(),
                                      &f_[static_cast<std::size_t>(at_[q]) * K]);
          }
          continue;
        }
        if (r.averaged) {
          const Vec3 d = minus(ps[0], cs[0]), u = minus(ps[1], cs[1]);
          if (at_[cm] >= 0 && p_here) {
            add_quadrupole_terms(d, u, quad, eps2(), -m_[q] / mass,
                                 &f_[static_cast<std::size_t>(at_[cm]) * K]);
          }
          if (at_[q] >= 0 && cm_here) {
            add_quadrupole_terms(d, u, quad, eps2(), 1.0,
                                 &f_[static_cast<std::size_t>(at_[q]) * K]);
          }
          continue;
        }
        if (at_[cm] >= 0 && p_here) {
          add_member_terms_on_cm<K>(ps, m_[q], cs, mass, r.s.m, mem, eps2(),
                                    &f_[static_cast<std::size_t>(at_[cm]) * K]);
        }
        if (at_[q] >= 0 && cm_here) {
          add_member_terms_on_perturber<K>(ps, cs, mass, r.s.m, mem, eps2(),
                                           &f_[static_cast<std::size_t>(at_[q]) * K]);
        }
      }
    }
  }

  // Adds the subsystems to the energy of the synchronised system: their
  // internal energy, and the members' potential energy with their
  // perturbers less the point-mass term the library summed.
  void add_subsystem_energy(Energy& e) {
    index_subsystems();
    for (std::size_t index = 0; index < regs_.size(); ++index) {
      const Regularised& r = regs_[index];
      const auto cm = static_cast<std::size_t>(r.cm);
      const double internal = encounters::internal_energy(r.s);
      double kin = 0.0, mass = 0.0;
      for (std::size_t k = 0; k < r.s.m.size(); ++k) {
        const Vec3& v = r.s.v[k];
        kin += 0.5 * r.s.m[k] * (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        mass += r.s.m[k];
      }
      e.kinetic += kin;
      e.potential += internal - kin;
      e.subsys += internal;
      e.n_subsys += 1;
      for (int p : r.perturbers) {
        const auto q = static_cast<std::size_t>(p);
        const int partner = member_partner(r, p);
        if (partner >= 0) {
          if (static_cast<std::size_t>(partner) > index) e.potential += partner_energy(r, partner);
          continue;
        }
        double w = 0.0;
        for (std::size_t k = 0; k < r.s.m.size(); ++k) {
          const Vec3 dx{x_[q][0] - x_[cm][0] - r.s.x[k][0], x_[q][1] - x_[cm][1] - r.s.x[k][1],
                        x_[q][2] - x_[cm][2] - r.s.x[k][2]};
          w -= r.s.m[k] / std::sqrt(dx[0] * dx[0] + dx[1] * dx[1] + dx[2] * dx[2] + eps2());
        }
        const Vec3 dx{x_[q][0] - x_[cm][0], x_[q][1] - x_[cm][1], x_[q][2] - x_[cm][2]};
        w += mass / std::sqrt(dx[0] * dx[0] + dx[1] * dx[1] + dx[2] * dx[2] + eps2());
        e.potential += m_[q] * w;
      }
    }
    if (!regs_.empty() && pot_.size() == m_.size()) {
      // Members' slots take their own potentials (set after the loop, since
      // the centre of mass's slot is one of them).
      for (const Regularised& r : regs_) {
        const auto cm = static_cast<std::size_t>(r.cm);
        const double base = pot_[cm];
        for (std::size_t k = 0; k < r.s.m.size(); ++k) {
          double u = base;
          for (std::size_t l = 0; l < r.s.m.size(); ++l) {
            if (l == k) continue;
            const Vec3 dx{r.s.x[l][0] - r.s.x[k][0], r.s.x[l][1] - r.s.x[k][1],
                          r.s.x[l][2] - r.s.x[k][2]};
            u -= r.s.m[l] / norm(dx);
          }
          pot_[static_cast<std::size_t>(r.s.ids[k])] = u;
        }
      }
    }
  }

  // The potential energy between the members of r and of its partner
  // (member_partner) less that of their centres of mass as two bodies,
  // which the library summed; the system synchronised.
  double partner_energy(const Regularised& r, int partner) const {
    const Regularised& o = regs_[static_cast<std::size_t>(partner)];
    const auto a = static_cast<std::size_t>(r.cm), b = static_cast<std::size_t>(o.cm);
    auto distance = [this](const Vec3& d) {
      return std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2] + eps2());
    };
    double w = 0.0;
    for (std::size_t i = 0; i < r.s.m.size(); ++i) {
      for (std::size_t j = 0; j < o.s.m.size(); ++j) {
        Vec3 d;
        for (int c = 0; c < 3; ++c) d[c] = x_[b][c] + o.s.x[j][c] - x_[a][c] - r.s.x[i][c];
        w -= r.s.m[i] * o.s.m[j] / distance(d);
      }
    }
    const Vec3 d{x_[b][0] - x_[a][0], x_[b][1] - x_[a][1], x_[b][2] - x_[a][2]};
    return w + subsystem_mass(r.s) * subsystem_mass(o.s) / distance(d);
  }

  // Positions and velocities with the members in place.
  void resolve() const {
    if (resolved_) return;
    xr_ = x_;
    vr_ = v_;
    for (const Regularised& r : regs_) {
      const auto cm = static_cast<std::size_t>(r.cm);
      for (std::size_t k = 0; k < r.s.m.size(); ++k) {
        const auto i = static_cast<std::size_t>(r.s.ids[k]);
        for (int c = 0; c < 3; ++c) {
          xr_[i][c] = x_[cm][c] + r.s.x[k][c];
          vr_[i][c] = v_[cm][c] + r.s.v[k][c];
        }
      }
    }
    resolved_ = true;
  }

  // The scales of the criteria: R_cl = 4 r_h / N with r_h the radius about
  // the centre of mass that holds half the mass (unless the settings fix
  // R_cl), dt_cl from R_cl, and the masses.
  void update_scale(double t) {
    // Slots that left for good have no model mass and count nowhere.
    const std::size_t n = mass0_.size();
    double total = 0.0;
    std::size_t stay = 0;
    scale_.m_max = 0.0;
    for (double m : mass0_) {
      total += m;
      scale_.m_max = std::fmax(scale_.m_max, m);
      if (m > 0.0) ++stay;
    }
    scale_.m_mean = total / static_cast<double>(std::max<std::size_t>(stay, 1));
    if (enc_.r_cl > 0.0) {
      scale_.r_cl = enc_.r_cl;
    } else {
      resolve();
      Vec3 c{};
      for (std::size_t i = 0; i < n; ++i) {
        for (int k = 0; k < 3; ++k) c[k] += mass0_[i] * xr_[i][k] / total;
      }
      std::vector<std::pair<double, double>> rm;
      rm.reserve(stay);
      for (std::size_t i = 0; i < n; ++i) {
        if (!(mass0_[i] > 0.0)) continue;
        rm.emplace_back(norm(Vec3{xr_[i][0] - c[0], xr_[i][1] - c[1], xr_[i][2] - c[2]}),
                        mass0_[i]);
      }
      std::sort(rm.begin(), rm.end());
      double inside = 0.0, rh = 0.0;
      for (const auto& [r, m] : rm) {
        inside += m;
        rh = r;
        if (inside >= 0.5 * total) break;
      }
      scale_.r_cl = 4.0 * rh / static_cast<double>(std::max<std::size_t>(stay, 1)) *
                    core_contraction(rh, total);
    }
    scale_.dt_cl =
        enc_.dt_cl > 0.0
            ? enc_.dt_cl
            : kCloseStep * std::sqrt(scale_.r_cl * scale_.r_cl * scale_.r_cl / scale_.m_mean);
    scale_.next_update = (std::floor(t / kScaleInterval) + 1.0) * kScaleInterval;
  }

  // How much the close-encounter distance shrinks in a dense core: by the
  // cube root of kCoreContrast times the half-mass sphere's mean density
  // over the core density (Casertano and Hut's, of the resolved bodies), at
  // most 1. R_cl then keeps its ratio to the distance between neighbours
  // in the core once the core is more than kCoreContrast times denser than
  // the half-mass sphere (an unevolved Plummer model: about 3). Measured on
  // a 1,024-body collapse: with R_cl fixed by r_h, groups of six met one
  // another at gamma 3 to 360 deep in the collapse, and the energy jumped
  // by 1e-4 of |E| and more.
  double core_contraction(double rh, double total) const {
    std::vector<diagnostics::Vec3> x;
    std::vector<double> m;
    for (std::size_t i = 0; i < mass0_.size(); ++i) {
      if (!(mass0_[i] > 0.0)) continue;
      x.push_back(xr_[i]);
      m.push_back(mass0_[i]);
    }
    if (x.size() <= static_cast<std::size_t>(diagnostics::kDensityNeighbours) || !(rh > 0.0))
      return 1.0;
    const double rho_c = diagnostics::weighted_density(
        diagnostics::local_densities(x.data(), m.data(), x.size(), total));
    if (!(rho_c > 0.0)) return 1.0;
    const double rho_h = 0.5 * total / (4.0 / 3.0 * M_PI * rh * rh * rh);
    return std::fmin(1.0, std::cbrt(kCoreContrast * rho_h / rho_c));
  }

  EncounterEvent event_of(double t, const char* kind, const encounters::Subsystem& s) const {
    EncounterEvent ev;
    ev.t = t;
    ev.kind = kind;
    ev.ids = s.ids;
    // The pair of the two heaviest members' closest pair: the first two.
    std::size_t a = 0, b = 1;
    double best = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < s.m.size(); ++k) {
      for (std::size_t l = k + 1; l < s.m.size(); ++l) {
        const double d =
            norm(Vec3{s.x[l][0] - s.x[k][0], s.x[l][1] - s.x[k][1], s.x[l][2] - s.x[k][2]});
        if (d < best) {
          best = d;
          a = k;
          b = l;
        }
      }
    }
    const Vec3 dx{s.x[b][0] - s.x[a][0], s.x[b][1] - s.x[a][1], s.x[b][2] - s.x[a][2]};
    const Vec3 dv{s.v[b][0] - s.v[a][0], s.v[b][1] - s.v[a][1], s.v[b][2] - s.v[a][2]};
    const encounters::PairElements el = encounters::pair_elements(s.m[a], s.m[b], dx, dv);
    ev.a = el.a;
    ev.e = el.e;
    ev.binding = el.binding;
    return ev;
  }

  // Takes slot i out of the integration (state.h): no mass, no step, and
  // parked far away at rest, so that its prediction stays put and no
  // particle ever meets it (at eps = 0 a massless record at r = 0 would
  // still give 0/0 in the library).
  void rest_slot(std::size_t i) {
    rested_.push_back(static_cast<int>(i));
    alive_[i] = 0;
    m_[i] = 0.0;
    x_[i] = Vec3{kRestingPlace, kRestingPlace, kRestingPlace};
    v_[i] = Vec3{};
    d_[i] = Derivs<K>{};
  }

  // Returns the members of subsystem r to the block-step integration as
  // single particles at the centre of mass's time, each to be started up.
  void release_members(const Regularised& r, std::vector<int>& fresh) {
    const auto cm = static_cast<std::size_t>(r.cm);
    const Vec3 X = x_[cm], V = v_[cm];
    for (std::size_t k = 0; k < r.s.m.size(); ++k) {
      const auto i = static_cast<std::size_t>(r.s.ids[k]);
      for (int c = 0; c < 3; ++c) {
        x_[i][c] = X[c] + r.s.x[k][c];
        v_[i][c] = V[c] + r.s.v[k][c];
      }
      m_[i] = r.s.m[k];
      alive_[i] = 1;
      fresh.push_back(r.s.ids[k]);
    }
  }

  // Among r's perturbers (at its centre of mass's time t), the one of the
  // largest tidal term m / d^3: whether it is also at t, and whether it
  // lies within the encounter distance of r's mass and its own.
  struct StrongestPerturber {
    int p = -1;      // none when -1
    double d = 0.0;  // its distance from r's centre of mass
    bool now = false, near = false;
  };
  StrongestPerturber strongest_perturber(const Regularised& r, double t) const {
    const auto cm = static_cast<std::size_t>(r.cm);
    StrongestPerturber out;
    double strongest = 0.0, at = 0.0;
    for (int p : r.perturbers) {
      const auto q = static_cast<std::size_t>(p);
      if (alive_[q] == 0) continue;
      const double d = norm(Vec3{x_[q][0] - x_[cm][0], x_[q][1] - x_[cm][1], x_[q][2] - x_[cm][2]});
      const double term = m_[q] / (d * d * d);
      if (term > strongest) {
        strongest = term;
        out.p = p;
        at = d;
      }
    }
    if (out.p < 0) return out;
    out.d = at;
    const auto q = static_cast<std::size_t>(out.p);
    out.now = t_[q] == t;
    out.near = at < pair_rcl(scale_, subsystem_mass(r.s), m_[q]);
    return out;
  }

  // The bodies that particle slot i stands for: the members of the
  // subsystem whose centre of mass it is, or itself.
  std::size_t members_of(std::size_t i) const {
    for (const Regularised& r : regs_)
      if (static_cast<std::size_t>(r.cm) == i) return r.s.m.size();
    return 1;
  }

  // Takes member `index` out of group r (three or more members) at the
  // centre of mass's time t and returns it to the block steps as a single
  // particle; the rest's centre of mass moves by what it took and keeps a
  // member's slot. Both are to be started up (fresh). Returns the slot.
  int hand_back_member(Regularised& r, int index, double t, std::vector<int>& fresh) {
    const auto cm = static_cast<std::size_t>(r.cm);
    const encounters::Escaper out = encounters::remove_member(r.s, index);
    const auto gone = static_cast<std::size_t>(out.id);
    const Vec3 X = x_[cm], V = v_[cm];
    for (int c = 0; c < 3; ++c) {
      x_[gone][c] = X[c] + out.x[c];
      v_[gone][c] = V[c] + out.v[c];
    }
    m_[gone] = out.m;
    alive_[gone] = 1;
    int new_cm = r.s.ids[0];
    for (int id : r.s.ids) new_cm = std::min(new_cm, id);
    const auto nc = static_cast<std::size_t>(new_cm);
    for (int c = 0; c < 3; ++c) {
      x_[nc][c] = X[c] + out.dx_cm[c];
      v_[nc][c] = V[c] + out.dv_cm[c];
    }
    // The sum over the members that stay, in their order, as a restart
    // computes it (the old mass less out.m can differ in the last bit).
    m_[nc] = subsystem_mass(r.s);
    alive_[nc] = 1;
    if (nc != cm && cm != gone) rest_slot(cm);
    r.cm = new_cm;
    EncounterEvent ev = event_of(t, "leave", r.s);
    ev.ids.insert(ev.ids.begin(), out.id);
    events_.push_back(ev);
    fresh.push_back(out.id);
    fresh.push_back(new_cm);
    tree_built_ = false;
    return out.id;
  }

  // Hands back what leaves group r at t: one member, or a pair of members
  // that then forms a subsystem of its own (listed in pending) where it
  // lies within its encounter distance, as a pair must to form. A wider
  // pair goes on as two single bodies: as a subsystem it would end at its
  // next step, perturbed far beyond gamma_max, and until then it and the
  // group it left would take each other as point masses. Measured on a
  // 1,024-star cluster with primordial binaries: a pair 14 R_cl wide left a
  // group of six at gamma 3.3, and the energy fell by 1e-5 of |E| (3e-4 of
  // the energy without the binaries' internal one) before it ended.
  void hand_back(Regularised& r, const encounters::Departure& out, double t,
                 std::vector<int>& fresh, std::vector<std::pair<int, int>>& pending) {
    const int second = out.l >= 0 ? r.s.ids[static_cast<std::size_t>(out.l)] : -1;
    const int first = hand_back_member(r, out.k, t, fresh);
    if (second >= 0) {
      const auto at = std::find(r.s.ids.begin(), r.s.ids.end(), second);
      hand_back_member(r, static_cast<int>(at - r.s.ids.begin()), t, fresh);
      const auto a = static_cast<std::size_t>(first), b = static_cast<std::size_t>(second);
      const Vec3 d{x_[b][0] - x_[a][0], x_[b][1] - x_[a][1], x_[b][2] - x_[a][2]};
      if (norm(d) <= pair_rcl(scale_, m_[a], m_[b])) pending.emplace_back(first, second);
    }
  }

  // Forms, changes and ends subsystems after the block step at t
  // (criteria: regularisation.h), and starts up the particles that
  // appear: a new centre of mass, members handed back.
  void encounters_after_step(double t) {
    if (t >= scale_.next_update) update_scale(t);
    std::vector<int> fresh;
    // Subsystems formed after the pass (forming adds to regs_): pairs that
    // left a group together, and subsystems that take in their strongest
    // perturber.
    std::vector<std::pair<int, int>> pending;
    // Ends and departures, among the subsystems whose centres of mass
    // stepped now (their members are at t).
    for (std::size_t q = 0; q < regs_.size();) {
      Regularised& r = regs_[q];
      if (!std::binary_search(active_.begin(), active_.end(), r.cm)) {
        ++q;
        continue;
      }
      if (r.s.m.size() == 2) {
        const Vec3 dx{r.s.x[1][0] - r.s.x[0][0], r.s.x[1][1] - r.s.x[0][1],
                      r.s.x[1][2] - r.s.x[0][2]};
        const Vec3 dv{r.s.v[1][0] - r.s.v[0][0], r.s.v[1][1] - r.s.v[0][1],
                      r.s.v[1][2] - r.s.v[0][2]};
        const double d = norm(dx);
        const double rv = dx[0] * dv[0] + dx[1] * dv[1] + dx[2] * dv[2];
        const double rcl = pair_rcl(scale_, r.s.m[0], r.s.m[1]);
        if ((d > kDissolveFactor * rcl && rv > 0.0) || (r.gamma > enc_.gamma_max && d > rcl)) {
          events_.push_back(event_of(t, "dissolve", r.s));
          release_members(r, fresh);
          regs_.erase(regs_.begin() + static_cast<std::ptrdiff_t>(q));
          tree_built_ = false;
          continue;
        }
      }
      // Perturbed beyond gamma_max, the tidal expansion no longer holds: two
      // groups side by side would miss their members' mutual terms.
      bool shed = false;
      if (r.gamma > enc_.gamma_max) {
        // The perturber, if within their encounter distance, joins (at the
        // first block time the two share).
        const StrongestPerturber sp = strongest_perturber(r, t);
        const bool fits = sp.p >= 0 && members_of(static_cast<std::size_t>(r.cm)) +
                                               members_of(static_cast<std::size_t>(sp.p)) <=
                                           kMaxGroupMembers;
        if (sp.near && fits) {
          if (sp.now) {
            pending.emplace_back(r.cm, sp.p);
            ++q;
            continue;
          }
        } else {
          // Else (too far, or the two would exceed kMaxGroupMembers) a group
          // sheds its outermost part beyond its encounter distance, moving
          // either way: the perturbation grows as the cube of the group's
          // size. Measured on a 1,024-body collapsed core: two groups of
          // four, each about six R_cl wide and about one width apart, took
          // each other as point masses at gamma 1 to 12, and the energy
          // rose by 1.2e-3 of |E| in 0.006 time units.
          shed = r.s.m.size() > 2;
          // A single body nearer than a full group's outermost part takes
          // that part's place. Measured on the same core, deeper in the
          // collapse: groups of six kept bodies passing through them as
          // perturbers at gamma up to 360.
          if (shed && sp.near && sp.now && members_of(static_cast<std::size_t>(sp.p)) == 1) {
            const encounters::Departure out = encounters::find_departure(r.s, sp.d, false);
            if (out.k >= 0) {
              hand_back(r, out, t, fresh, pending);
              pending.emplace_back(r.cm, sp.p);
              ++q;
              continue;
            }
          }
        }
      }
      if (r.s.m.size() == 2) {
        ++q;
        continue;
      }
      const double mass = subsystem_mass(r.s);
      // Beyond this distance from the rest a part leaves (twice the
      // encounter distance, receding) or is shed (once, either way): both
      // lie outside the distance at which it would join again.
      const double reach = (shed ? 1.0 : kDissolveFactor) * scale_.r_cl *
                           std::fmax(1.0, mass / (2.0 * scale_.m_mean));
      const encounters::Departure out = encounters::find_departure(r.s, reach, !shed);
      if (out.k < 0) {
        ++q;
        continue;
      }
      hand_back(r, out, t, fresh, pending);
      ++q;
    }
    for (const auto& [i, j] : pending) {
      const auto a = static_cast<std::size_t>(i), b = static_cast<std::size_t>(j);
      // An earlier one may have taken either in already.
      if (a == b || alive_[a] == 0 || alive_[b] == 0) continue;
      if (members_of(a) + members_of(b) > kMaxGroupMembers) continue;
      form(a, b, t, fresh);
    }
    // Formations: an active particle whose step has shrunk below dt_cl and
    // whose dominant pair, also active now, lies within the pair's R_cl and
    // approaches.
    refresh_tree(t, false);
    std::vector<unsigned char> taken(m_.size(), 0);
    for (int f : fresh) taken[static_cast<std::size_t>(f)] = 1;
    for (int ii : active_) {
      const auto i = static_cast<std::size_t>(ii);
      if (alive_[i] == 0 || taken[i] != 0 || t_[i] != t || dt_[i] > scale_.dt_cl) continue;
      int near[kPairCandidates];
      const int found = tree_.nearest(x_[i], kPairCandidates, near);
      int partner = -1;
      double strongest = 0.0, dist = 0.0, rv = 0.0;
      for (int c = 0; c < found; ++c) {
        const auto j = static_cast<std::size_t>(near[c]);
        if (j == i || alive_[j] == 0 || !(m_[j] > 0.0)) continue;
        Vec3 js[4];
        predicted_state(j, t, js);
        const Vec3 dx{js[0][0] - x_[i][0], js[0][1] - x_[i][1], js[0][2] - x_[i][2]};
        const Vec3 dv{js[1][0] - v_[i][0], js[1][1] - v_[i][1], js[1][2] - v_[i][2]};
        const double r2 = dx[0] * dx[0] + dx[1] * dx[1] + dx[2] * dx[2];
        if (!(m_[j] / r2 > strongest)) continue;
        strongest = m_[j] / r2;
        partner = near[c];
        dist = std::sqrt(r2);
        rv = dx[0] * dv[0] + dx[1] * dv[1] + dx[2] * dv[2];
      }
      if (partner < 0) continue;
      const auto j = static_cast<std::size_t>(partner);
      // Approaching, or at rest against each other.
      if (taken[j] != 0 || t_[j] != t || !(rv <= 0.0)) continue;
      if (!(dist < pair_rcl(scale_, m_[i], m_[j]))) continue;
      if (members_of(i) + members_of(j) > kMaxGroupMembers) continue;
      form(i, j, t, fresh);
      // The new centre of mass may take in a third body in the same pass.
      taken[i] = alive_[i] == 0 ? 1 : 0;
      taken[j] = alive_[j] == 0 ? 1 : 0;
      refresh_tree(t, true);
    }
    // A backend that keeps the states drops the slots that came to rest
    // before the next force call (the others change in the start-up below).
    send_states(rested_);
    rested_.clear();
    if (fresh.empty()) return;
    std::sort(fresh.begin(), fresh.end());
    fresh.erase(std::unique(fresh.begin(), fresh.end()), fresh.end());
    std::vector<int> live;
    for (int f : fresh) {
      if (alive_[static_cast<std::size_t>(f)] != 0) live.push_back(f);
    }
    tree_built_ = false;
    resolved_ = false;
    // Every subsystem takes its perturbers anew before the first forces of
    // the particles that appeared: one formed, joined or left by a member
    // has none or stale ones, and a particle released by another could lie
    // next to any of them. Until the centre of mass's next step the
    // particles about it would see a point mass, and the energy would lack
    // their tidal terms.
    refresh_tree(t, true);
    for (Regularised& r : regs_) find_perturbers(r, t);
    startup(live, t, false);
    appeared_.insert(appeared_.end(), live.begin(), live.end());
  }

  // A subsystem of i and j at time t, both corrected to t: each is a single
  // particle or the centre of mass of a subsystem, whose members join.
  void form(std::size_t i, std::size_t j, double t, std::vector<int>& fresh) {
    std::vector<int> ids;
    std::vector<double> m;
    std::vector<Vec3> x, v;
    auto take = [&](std::size_t slot) {
      const auto at = std::find_if(regs_.begin(), regs_.end(), [&](const Regularised& r) {
        return r.cm == static_cast<int>(slot);
      });
      if (at == regs_.end()) {
        ids.push_back(static_cast<int>(slot));
        m.push_back(m_[slot]);
        x.push_back(x_[slot]);
        v.push_back(v_[slot]);
        return;
      }
      for (std::size_t k = 0; k < at->s.m.size(); ++k) {
        ids.push_back(at->s.ids[k]);
        m.push_back(at->s.m[k]);
        x.push_back(Vec3{x_[slot][0] + at->s.x[k][0], x_[slot][1] + at->s.x[k][1],
                         x_[slot][2] + at->s.x[k][2]});
        v.push_back(Vec3{v_[slot][0] + at->s.v[k][0], v_[slot][1] + at->s.v[k][1],
                         v_[slot][2] + at->s.v[k][2]});
      }
      regs_.erase(at);
    };
    const bool joined = std::any_of(regs_.begin(), regs_.end(), [&](const Regularised& r) {
      return r.cm == static_cast<int>(i) || r.cm == static_cast<int>(j);
    });
    take(i);
    take(j);
    Regularised r;
    encounters::CentreOfMass c;
    r.s = encounters::make_subsystem(ids, m, x, v, t, &c);
    r.cm = *std::min_element(ids.begin(), ids.end());
    for (int id : ids) rest_slot(static_cast<std::size_t>(id));
    const auto cm = static_cast<std::size_t>(r.cm);
    alive_[cm] = 1;
    m_[cm] = c.m;
    x_[cm] = c.x;
    v_[cm] = c.v;
    events_.push_back(event_of(t, joined ? "join" : "form", r.s));
    regs_.push_back(std::move(r));
    fresh.push_back(static_cast<int>(cm));
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
  std::vector<Vec3> f_;       // forces of the last call, K per particle
  std::vector<Vec3> mutual_;  // their mutual terms alone, with a velocity-dependent field
  struct Begun {              // an active particle's state where its step began
    double t;
    Vec3 x, v, a;
  };
  std::vector<Begun> begun_;      // of the block's particles, during the corrector
  std::vector<double> exchange_;  // the corrected states the ranks exchange
  std::vector<double> pot_;       // potentials of the last energy()
  Counters counters_;
  // Candidates of the pair searches: a tree over the particles' positions.
  static constexpr int kPairCandidates = 6;
  // Beyond the perturber radius, how much farther the tree is searched for
  // a subsystem's perturbers: the tree may be up to kTreeAge of dt_max
  // old.
  static constexpr double kPerturberMargin = 0.02;
  // Where resting slots are parked: far beyond any cluster, near enough
  // that the libraries' powers of the distance stay finite floats.
  static constexpr double kRestingPlace = 1e15;
  EncounterSettings enc_;
  EncounterScale scale_;
  std::vector<Regularised> regs_;
  std::vector<EncounterEvent> events_;
  std::vector<unsigned char> alive_;   // slot rules of state.h
  std::vector<double> mass0_;          // the model's masses, by slot
  std::vector<int> appeared_;          // started up during this step, to schedule
  std::vector<int> rested_;            // came to rest since the backend last heard (rest_slot)
  std::vector<int> near_, at_;         // scratch of the subsystem passes
  std::vector<int> reg_at_;            // index_subsystems()
  mutable std::vector<Vec3> xr_, vr_;  // resolved positions and velocities
  mutable bool resolved_ = false;
  static constexpr double kTreeAge = 1.0 / 16;            // of dt_max
  static constexpr std::size_t kShareCorrectorMin = 128;  // active particles
  diagnostics::NeighbourTree tree_;
  std::vector<int> tree_ids_;
  double tree_time_ = 0.0;
  bool tree_built_ = false;
};

}  // namespace hermite

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
#pragma once

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "comm.h"
#include "model.h"
#include "scheme.h"

namespace hermite {

static_assert(sizeof(Vec3) == 3 * sizeof(double), "Vec3 arrays are summed as plain doubles");

// Predicted particles at one time, indexed like the model. The higher
// orders also send the predicted acceleration (sixth and eighth) and jerk
// (eighth) to the force.
struct Predicted {
  std::vector<Vec3> x, v, a, j;
};

struct Settings {
  double eta = 0.01;        // accuracy parameter of the time-step criterion
  double dt_max = 0.125;    // largest block step, a power of two
  double dt_min = 0x1p-40;  // a particle needing a smaller step ends the run
  double shared_dt = 0.0;   // > 0: every particle takes this fixed step
};

struct Energy {
  double kinetic = 0.0, potential = 0.0;
  double total() const { return kinetic + potential; }
};

struct Counters {
  long long particle_steps = 0;  // corrector applications
  long long block_steps = 0;     // force calls of the integration proper
  double interactions = 0.0;     // pairs evaluated, all ranks, start-up included
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
    std::vector<int> all(m_.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
    // The sixth and eighth orders need the predicted acceleration (and
    // jerk) for snap and crackle: a first call gets acceleration and jerk
    // right, a second one the rest.
    for (int round = 0; round < (K > 2 ? 2 : 1); ++round) {
      predict_to(0.0, all, true);
      compute(all, 0.0);
      for (std::size_t i = 0; i < all.size(); ++i) {
        for (int n = 0; n < K; ++n) d_[i][n] = f_[i * K + n];
      }
    }
    const bool shared = settings_.shared_dt > 0.0;
    dt_.assign(m_.size(), shared ? settings_.shared_dt : settings_.dt_max);
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
          if (shared || step_criterion<K>(d_[i], h, settings_.eta) >= h) continue;
          dt_[i] = 0.5 * h;
          trials[i] = 0;
          for (int q = 0; q < K; ++q) d_[i][K + q] = Vec3{};
          check_step(i, 0.0);
        }
      }
    }
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
  void step() {
    double t_next = t_[0] + dt_[0];
    for (std::size_t i = 1; i < m_.size(); ++i) t_next = std::fmin(t_next, t_[i] + dt_[i]);
    // Far from the start a step can fall below the resolution of the time
    // itself; the block would then never end.
    if (!(t_next > time_)) {
      throw IntegrationError("the smallest time step " + format(smallest_step()) +
                             " is lost in the rounding of the time t = " + format(time_));
    }
    active_.clear();
    for (std::size_t i = 0; i < m_.size(); ++i) {
      if (t_[i] + dt_[i] == t_next) active_.push_back(static_cast<int>(i));
    }
    predict_to(t_next, active_, false);
    compute(active_, t_next);
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
        const double wanted = step_criterion<K>(d_[i], h, settings_.eta);
        dt_[i] = next_block_step(dt_[i], wanted, t_next, settings_.dt_max, settings_.dt_min);
        check_step(i, t_next);
      }
    }
    time_ = t_next;
    counters_.particle_steps += static_cast<long long>(active_.size());
    counters_.block_steps += 1;
  }

 private:
  // Predicts this rank's j-particles and the particles of list to time t.
  // With `all`, every particle is predicted (start-up). A particle predicted
  // past the end of its step (only in the start-up trials) leaves out its
  // interpolated derivatives: over a step short against its time scale they
  // hold mostly the rounding of the forces divided by h^n, harmless within
  // the step and growing like (tau / h)^n beyond it.
  void predict_to(double t, const std::vector<int>& list, bool all) {
    auto one = [&](std::size_t i) {
      const double tau = t - t_[i];
      predict<K>(tau, x_[i], v_[i], d_[i], &pred_.x[i], &pred_.v[i], K >= 3 ? &pred_.a[i] : nullptr,
                 K >= 4 ? &pred_.j[i] : nullptr, tau <= dt_[i] ? 2 * K : K);
    };
    if (all) {
      for (std::size_t i = 0; i < m_.size(); ++i) one(i);
      return;
    }
    for (int i = js_; i < je_; ++i) one(static_cast<std::size_t>(i));
    for (int i : list) {
      if (i < js_ || i >= je_) one(static_cast<std::size_t>(i));
    }
  }

  // Forces at time t on the particles of list into f_, summed over the ranks.
  void compute(const std::vector<int>& list, double t) {
    f_.assign(list.size() * K, Vec3{});
    backend_.forces(list, pred_, f_.data());
    comm_.sum(f_.data()->data(), f_.size() * 3);
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

  void check_step(std::size_t i, double t) const {
    if (!(dt_[i] >= settings_.dt_min)) {
      throw IntegrationError("the time step of particle " + std::to_string(i) + " fell below " +
                             format(settings_.dt_min) + " at t = " + format(t));
    }
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
  std::vector<int> active_;
  std::vector<Vec3> f_;      // forces of the last call, K per particle
  std::vector<double> pot_;  // potentials of the last energy()
  Counters counters_;
};

}  // namespace hermite

// Runs of the small model with one fixed shared step, measured against the
// exact energy and against a reference trajectory.
#pragma once

#include <cmath>
#include <vector>

#include "comm.h"
#include "integrator.h"
#include "small_model.h"

namespace hermite_test {

struct SharedRun {
  double energy_error = 0.0;  // largest |dE / E| at the sample times
  std::vector<Vec3> pos;      // at the end
};

// The small model with shared step h up to t_end, the energy sampled at
// every multiple of `every` (a multiple of h).
template <int K, class Backend>
SharedRun shared_run(Backend& backend, double h, double t_end, double every) {
  const Model m = small_model();
  hermite::Comm comm;
  hermite::Settings s;
  s.shared_dt = h;
  s.dt_max = every;
  hermite::Integrator<K, Backend> integ(m, s, backend, comm, 0, m.size());
  integ.start();
  const double e0 = exact_energy(m.mass, m.pos, m.vel, kSmallEps);
  SharedRun out;
  for (double t = every; t <= t_end; t += every) {
    integ.advance_to(t);
    const double e = exact_energy(m.mass, integ.positions(), integ.velocities(), kSmallEps);
    out.energy_error = std::fmax(out.energy_error, std::fabs((e - e0) / e0));
  }
  out.pos = integ.positions();
  return out;
}

}  // namespace hermite_test

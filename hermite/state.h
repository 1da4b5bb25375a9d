// The integrator's full state as a plain record: what a checkpoint holds so
// that a run continues as if it had never stopped.
#pragma once

#include <string>
#include <vector>

#include "scheme.h"

namespace hermite {

struct Counters {
  long long particle_steps = 0;  // corrector applications
  long long block_steps = 0;     // force calls of the integration proper
  double interactions = 0.0;     // pairs evaluated, all ranks, start-up included
  // Steps of the regularised subsystems' internal motion: extrapolation
  // steps and closed-form drifts (checkpointed with the subsystems).
  long long reg_steps = 0;
};

// For n particles of an integrator with K force derivatives: positions,
// velocities, the 2K derivatives of the acceleration (derivs[i * 2K + q]),
// each particle's own time and step; the time of the last block step, and
// the counters. Times are counted from the model's time.
//
// Particle slots: a particle keeps its index for the whole run. One that
// leaves the block-step integration (an escaper, or a member of a
// regularised subsystem, whose centre of mass takes another slot) keeps its
// slot with alive 0 and mass 0: it is in no block step and exerts no force.
// Empty `alive` means every particle is alive.
struct IntegratorState {
  int derivs = 0;  // K
  std::vector<Vec3> x, v, derivs_of;
  std::vector<double> t, dt;
  std::vector<unsigned char> alive;
  std::string subsystems;  // regularised subsystems (regularisation_codec.h); empty: none
  // The pair-search tree's last build (tree_state_codec.h); empty: none
  // built, the next search builds one.
  std::string neighbour_tree;
  double time = 0.0;
  Counters counters;
  int size() const { return static_cast<int>(x.size()); }
};

}  // namespace hermite

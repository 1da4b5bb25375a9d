// The part of a cluster its field leaves bound: the mass within the Jacobi
// radius of that mass about the density centre, and the stars inside that
// can escape by their energy.
#pragma once

#include <vector>

#include "field.h"

namespace fields {

struct Bound {
  double mass = 0.0;      // M_J = M(< r_J(M_J))
  int n = 0;              // stars within r_J
  double r_jacobi = 0.0;  // r_J(M_J)
  int n_pot_esc = 0;      // stars within r_J above the critical energy
};

// M_J by iteration from the total mass: r_J(M) and then the mass within it,
// until the mass stays (it only falls, so this ends; at most one pass per
// star). Distances from centre. A star counts as a potential escaper where
// v^2 / 2 + pot + phi(x) > E_crit = -M_J / r_J + phi(L1), L1 = centre -
// r_J outward: the energy at the saddle of a point mass M_J in the field
// (for Hill's field -3/2 M_J / r_J). pot is each star's potential due to
// the others; stars of mass 0 (left the integration) are not counted.
Bound bound_mass(const Field& field, double t, const std::vector<double>& mass,
                 const std::vector<Vec3>& pos, const std::vector<Vec3>& vel,
                 const std::vector<double>& pot, const Vec3& centre);

}  // namespace fields

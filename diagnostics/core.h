// Diagnostics of a collisional star cluster at one instant: the density
// centre, core radius and core density from local densities, the radii
// about the density centre, the hard binaries and the escapers.
//
// Definitions (G = 1):
//   local density    rho_i = M5_i / (4/3 pi r6_i^3), r6_i the distance to the
//                    sixth nearest other particle and M5_i the mass of the
//                    five nearer ones (Casertano and Hut 1985); where all
//                    masses are equal, 5 m with m the mean mass, as before;
//   density centre   x_d = sum rho_i x_i / sum rho_i;
//   core radius      r_c = sqrt(sum rho_i |x_i - x_d|^2 / sum rho_i);
//   core density     rho_c = sum rho_i^2 / sum rho_i;
//   radii            about x_d, holding 1, 10, 50 and 90% of the mass;
//   systems          single particles and bound pairs of mutual nearest
//                    neighbours (binding energy > 0), each pair one system
//                    at its centre of mass;
//   kT               2/3 of the systems' kinetic energy in the frame of the
//                    centre of mass over the number of systems (the
//                    particles' kinetic energy less the pairs' internal
//                    kinetic energies mu v^2 / 2);
//   hard binary      a bound pair of mutual nearest neighbours whose
//                    two-body binding energy (two_body.h) exceeds kT;
//   escaper          a particle farther than 20 half-mass radii (about x_d)
//                    from x_d with positive energy v^2 / 2 + phi in the
//                    cluster's potential phi, v relative to the centre of mass.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "mass_groups.h"
#include "neighbours.h"

namespace diagnostics {

// Mass fractions of the radii about the density centre.
inline constexpr std::array<double, 4> kCoreFractions = {0.01, 0.1, 0.5, 0.9};
// Distance from the density centre, in half-mass radii, beyond which a
// particle of positive energy counts as an escaper.
inline constexpr double kEscapeRadius = 20.0;

struct Binary {
  int i = 0, j = 0;  // i < j
  double a = 0.0, e = 0.0;
  double binding = 0.0;  // > kT
};

struct Core {
  Vec3 centre{};
  double rc = 0.0, rhoc = 0.0;
  std::array<double, kCoreFractions.size()> radii{};
  int nbin = 0;
  double ebin = 0.0;  // total binding energy of the hard binaries
  int nesc = 0;
  double kT = 0.0;
  int nsys = 0;                    // systems counted in kT
  std::vector<GroupRadii> groups;  // radii of each mass group about the density centre
};

// The particles at one instant. pot, where not null, is the potential of
// each particle due to all others (softened with eps, as the integrators
// compute it); where null, the escapers are judged in the potential of the
// system spread into spherical shells about the density centre, one shell
// per particle (accurate to the order of (r_inside / r)^2 beyond the escape
// radius, where a direct sum over a million particles would take minutes).
struct Snapshot {
  std::size_t n = 0;
  const double* m = nullptr;
  const Vec3* x = nullptr;
  const Vec3* v = nullptr;
  const double* pot = nullptr;
  double eps = 0.0;  // softening of the pair energies
  // Mass groups (mass_groups.h), where not null: the group of each
  // particle, fixed at the start of a run, and the number of groups.
  const int* group = nullptr;
  int groups = 0;
};

// Needs more than kDensityNeighbours particles and a positive total mass
// (std::invalid_argument otherwise). Where a particle's sixth neighbour
// shares its position its density is undefined and it is left out of the
// density sums. binaries, where not null, receives the hard binaries in
// order of their first index. The neighbour search runs on all OpenMP
// threads; every sum runs in one fixed order, so the result does not
// depend on the thread count.
Core core_diagnostics(const Snapshot& s, std::vector<Binary>* binaries = nullptr);

}  // namespace diagnostics

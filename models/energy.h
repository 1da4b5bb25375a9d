// Energies of the systems for the scaling to standard units. Positions and
// velocities are 3 per body; every sum runs in a fixed order, so the result
// does not depend on the number of OpenMP threads.
#pragma once

#include <cstdint>
#include <vector>

namespace models {

// Moves the centre of mass to the origin and brings it to rest.
void centre(std::vector<double>& m, std::vector<double>& x, std::vector<double>& v);

double kinetic_energy(const std::vector<double>& m, const std::vector<double>& v);

// -sum over pairs m_i m_j / r_ij (G = 1), O(N^2).
double pair_potential_energy(const std::vector<double>& m, const std::vector<double>& x);

// The same for the bodies spread into spherical shells about the origin:
// -sum_i m_i M(< r_i) / r_i with the bodies sorted by radius, O(N log N).
double shell_potential_energy(const std::vector<double>& m, const std::vector<double>& x);

// The indices of the bodies in order of distance from the origin (ties by
// index).
std::vector<std::int64_t> radial_order(const std::vector<double>& x);

}  // namespace models

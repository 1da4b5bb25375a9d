// Local densities of every particle (Casertano & Hut 1985): the mass of its
// five nearest other particles over the volume of the sphere through the
// sixth. The core diagnostics and the integrator's close-encounter distance
// both weight by them, so that both see the same core.
#pragma once

#include <cstddef>
#include <vector>

#include "neighbours.h"

namespace diagnostics {

struct LocalDensities {
  Neighbours nb;            // the search behind them, for the callers' other needs
  std::vector<double> rho;  // per particle; 0 where the sphere has no volume
  double sum = 0.0;         // sum of rho, in index order
  double sum2 = 0.0;        // sum of rho squared, in index order
};

// For the n > kDensityNeighbours particles at x with masses m and total mass
// total (summed in index order by the caller). Where all masses are equal
// each density holds five times the mean mass, total / n, and the search
// gathers no masses (nb.m5 stays empty); otherwise the neighbours' own.
LocalDensities local_densities(const Vec3* x, const double* m, std::size_t n, double total);

// The density-weighted mean density, sum2 / sum; 0 where no particle has a
// density.
double weighted_density(const LocalDensities& d);

}  // namespace diagnostics

#include "local_density.h"

namespace diagnostics {

LocalDensities local_densities(const Vec3* x, const double* m, std::size_t n, double total) {
  bool equal = true;
  for (std::size_t i = 1; i < n && equal; ++i) equal = m[i] == m[0];
  LocalDensities out;
  out.nb = find_neighbours(x, n, equal ? nullptr : m);
  // Equal masses keep the mean mass times five, the same doubles as before
  // masses entered the estimate.
  constexpr double kPi = 3.14159265358979323846;
  const double mean_mass = total / static_cast<double>(n);
  const double five_masses = (kDensityNeighbours - 1) * mean_mass / (4.0 / 3.0 * kPi);
  out.rho.assign(n, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    const double r6 = out.nb.r6[i];
    if (!(r6 > 0.0)) continue;  // no volume: the density is undefined
    out.rho[i] = (equal ? five_masses : out.nb.m5[i] / (4.0 / 3.0 * kPi)) / (r6 * r6 * r6);
    out.sum += out.rho[i];
    out.sum2 += out.rho[i] * out.rho[i];
  }
  return out;
}

double weighted_density(const LocalDensities& d) { return d.sum > 0.0 ? d.sum2 / d.sum : 0.0; }

}  // namespace diagnostics

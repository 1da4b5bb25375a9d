// The two-body problem of a pair of particles in the softened potential of
// the integrators: binding energy, and the semi-major axis and eccentricity
// of the Kepler orbit with that energy and angular momentum.
#pragma once

#include <cmath>

#include "neighbours.h"

namespace diagnostics {

struct PairOrbit {
  double binding = 0.0;  // -(mu v^2 / 2 - m1 m2 / sqrt(r^2 + eps^2)); > 0 for a bound pair
  double a = 0.0;        // m1 m2 / (2 binding); meaningful only for a bound pair
  double e = 0.0;        // sqrt(1 - h^2 / (G M a)), h the specific angular momentum
};

// G = 1. With eps = 0 the point-mass Kepler orbit; with eps > 0 the energy
// is the one the softened dynamics conserves, so that two particles passing
// closer than eps at high speed are not taken for a deep binary, and a and
// e are those of the point-mass orbit of the same energy (the same as the
// orbit's own for separations well beyond eps).
inline PairOrbit pair_orbit(double m1, const Vec3& x1, const Vec3& v1, double m2, const Vec3& x2,
                            const Vec3& v2, double eps) {
  const Vec3 r{x2[0] - x1[0], x2[1] - x1[1], x2[2] - x1[2]};
  const Vec3 v{v2[0] - v1[0], v2[1] - v1[1], v2[2] - v1[2]};
  const double total = m1 + m2;
  const double mu = m1 * m2 / total;
  const double r2 = r[0] * r[0] + r[1] * r[1] + r[2] * r[2];
  const double v2sq = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
  PairOrbit o;
  o.binding = m1 * m2 / std::sqrt(r2 + eps * eps) - 0.5 * mu * v2sq;
  if (!(o.binding > 0.0)) return o;
  o.a = m1 * m2 / (2.0 * o.binding);
  const Vec3 h{r[1] * v[2] - r[2] * v[1], r[2] * v[0] - r[0] * v[2], r[0] * v[1] - r[1] * v[0]};
  const double h2 = h[0] * h[0] + h[1] * h[1] + h[2] * h[2];
  o.e = std::sqrt(std::fmax(0.0, 1.0 - h2 / (total * o.a)));
  return o;
}

}  // namespace diagnostics

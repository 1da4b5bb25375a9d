// One pair's contribution to the acceleration of a particle and its time
// derivatives, in double precision on the host: the terms the integrator
// computes itself instead of the force library (pairs of particles that
// are both active at eps = 0, whose self terms the library must not see,
// and the members of regularised subsystems seen by their perturbers).
#pragma once

#include "scheme.h"

namespace hermite {

// Adds the field of a mass m at relative position dx (source minus target),
// relative velocity dv, acceleration da and jerk dj to out[0 .. K-1]:
// acceleration, jerk, snap, crackle, softened by eps2. With
//   r2 = dx.dx + eps2,  alpha = dx.dv / r2,
//   beta = (dv.dv + dx.da) / r2 + alpha^2,
//   gamma = (3 dv.da + dx.dj) / r2 + alpha (3 beta - 4 alpha^2),
// the terms are a = m dx / r^3, j = m dv / r^3 - 3 alpha a,
// s = m da / r^3 - 6 alpha j - 3 beta a and
// c = m dj / r^3 - 9 alpha s - 9 beta j - 3 gamma a.
// da and dj are read only where K needs them (K >= 3, K >= 4).
template <int K>
void add_pair_terms(const Vec3& dx, const Vec3& dv, const Vec3& da, const Vec3& dj, double m,
                    double eps2, Vec3* out) {
  auto dot = [](const Vec3& p, const Vec3& q) { return p[0] * q[0] + p[1] * q[1] + p[2] * q[2]; };
  const double r2 = dot(dx, dx) + eps2;
  const double rinv2 = 1.0 / r2;
  const double mr3 = m * rinv2 * std::sqrt(rinv2);
  const double alpha = dot(dx, dv) * rinv2;
  Vec3 a, j, s;
  for (int c = 0; c < 3; ++c) {
    a[c] = mr3 * dx[c];
    j[c] = mr3 * dv[c] - 3.0 * alpha * a[c];
  }
  for (int c = 0; c < 3; ++c) {
    out[0][c] += a[c];
    out[1][c] += j[c];
  }
  if constexpr (K >= 3) {
    const double beta = (dot(dv, dv) + dot(dx, da)) * rinv2 + alpha * alpha;
    for (int c = 0; c < 3; ++c) {
      s[c] = mr3 * da[c] - 6.0 * alpha * j[c] - 3.0 * beta * a[c];
      out[2][c] += s[c];
    }
    if constexpr (K >= 4) {
      const double gamma =
          (3.0 * dot(dv, da) + dot(dx, dj)) * rinv2 + alpha * (3.0 * beta - 4.0 * alpha * alpha);
      for (int c = 0; c < 3; ++c) {
        out[3][c] += mr3 * dj[c] - 9.0 * alpha * s[c] - 9.0 * beta * j[c] - 3.0 * gamma * a[c];
      }
    }
  }
  (void)da;
  (void)dj;
}

}  // namespace hermite

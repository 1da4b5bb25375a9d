// Energies and two-body elements of subsystems and pairs (G = 1).
#include <cmath>
#include <limits>

#include "subsystem.h"
#include "vec3.h"

namespace encounters {

double internal_energy(const Subsystem& s) {
  double kinetic = 0.0, potential = 0.0;
  const std::size_t n = s.m.size();
  for (std::size_t i = 0; i < n; ++i) {
    kinetic += 0.5 * s.m[i] * dot(s.v[i], s.v[i]);
    for (std::size_t j = i + 1; j < n; ++j)
      potential -= s.m[i] * s.m[j] / norm(sub(s.x[j], s.x[i]));
  }
  return kinetic + potential;
}

PairElements pair_elements(double m1, double m2, const Vec3& dx, const Vec3& dv) {
  const double mtot = m1 + m2;
  const double mu = m1 * m2 / mtot;
  const double r = norm(dx);
  PairElements el;
  el.binding = m1 * m2 / r - 0.5 * mu * dot(dv, dv);
  el.a = m1 * m2 / (2.0 * el.binding);
  // Eccentricity vector (v x h) / M - r / |r|: accurate also for e near 1,
  // where 1 - h^2 / (M a) loses digits.
  const Vec3 h = cross(dx, dv);
  const Vec3 vh = cross(dv, h);
  const Vec3 ev{vh[0] / mtot - dx[0] / r, vh[1] / mtot - dx[1] / r, vh[2] / mtot - dx[2] / r};
  el.e = norm(ev);
  return el;
}

double pair_period(const Subsystem& s) {
  if (s.m.size() != 2) return std::numeric_limits<double>::infinity();
  const PairElements el = pair_elements(s.m[0], s.m[1], sub(s.x[1], s.x[0]), sub(s.v[1], s.v[0]));
  if (!(el.a > 0.0) || !(el.e < 1.0)) return std::numeric_limits<double>::infinity();
  return 2.0 * 3.14159265358979323846 * std::sqrt(el.a * el.a * el.a / (s.m[0] + s.m[1]));
}

Sym3 orbit_second_moment(double m1, double m2, const Vec3& dx, const Vec3& dv) {
  const double mtot = m1 + m2;
  const double mu = m1 * m2 / mtot;
  const PairElements el = pair_elements(m1, m2, dx, dv);
  if (!(el.a > 0.0) || !(el.e < 1.0)) {
    return Sym3{mu * dx[0] * dx[0], mu * dx[1] * dx[1], mu * dx[2] * dx[2],
                mu * dx[0] * dx[1], mu * dx[0] * dx[2], mu * dx[1] * dx[2]};
  }
  const double r = norm(dx);
  const Vec3 h = cross(dx, dv);
  const Vec3 vh = cross(dv, h);
  const Vec3 ev{vh[0] / mtot - dx[0] / r, vh[1] / mtot - dx[1] / r, vh[2] / mtot - dx[2] / r};
  const double hh = dot(h, h);
  const Vec3 n = hh > 0.0 ? Vec3{h[0] / std::sqrt(hh), h[1] / std::sqrt(hh), h[2] / std::sqrt(hh)}
                          : Vec3{0.0, 0.0, 0.0};
  const double round = 0.5 * (1.0 - el.e * el.e), a2 = mu * el.a * el.a;
  auto term = [&](int i, int j) {
    return a2 * (round * ((i == j ? 1.0 : 0.0) - n[i] * n[j]) + 2.5 * ev[i] * ev[j]);
  };
  return Sym3{term(0, 0), term(1, 1), term(2, 2), term(0, 1), term(0, 2), term(1, 2)};
}

double relative_perturbation(double m1, double m2, const Vec3& dx, const Vec3& df) {
  const double r2 = dot(dx, dx);
  return norm(df) * r2 / (m1 + m2);
}

}  // namespace encounters

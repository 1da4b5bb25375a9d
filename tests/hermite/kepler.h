// The analytic two-body orbit the integrator programs are held to: two
// bodies of mass 1/2 (total mass 1, G = 1) on a Kepler ellipse of semi-major
// axis 1, starting at pericentre, their centre of mass at X moving at V
// along x.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

#include "model.h"

namespace hermite_test {

constexpr double kPi = 3.14159265358979323846;

struct Binary {
  double e = 0.5;  // eccentricity
  double X = 0.0;  // centre of mass at t = 0, on the x axis
  double V = 0.0;  // its velocity along x
};

// Eccentric anomaly E of mean anomaly M: Newton's method on
// E - e sin E = M, from a start that converges for every e < 1.
inline double eccentric_anomaly(double M, double e) {
  double E = e < 0.8 ? M : kPi;
  for (int k = 0; k < 50; ++k) {
    const double dE = (E - e * std::sin(E) - M) / (1.0 - e * std::cos(E));
    E -= dE;
    if (std::fabs(dE) < 1e-15) break;
  }
  return E;
}

// Positions of the two bodies at time t (mean motion 1, period 2 pi).
inline void binary_positions(const Binary& b, double t, hermite::Vec3 out[2]) {
  const double M = std::remainder(t, 2.0 * kPi);
  const double E = eccentric_anomaly(M, b.e);
  const double x = std::cos(E) - b.e;
  const double y = std::sqrt(1.0 - b.e * b.e) * std::sin(E);
  const double cx = b.X + b.V * t;
  out[0] = hermite::Vec3{cx - 0.5 * x, -0.5 * y, 0.0};
  out[1] = hermite::Vec3{cx + 0.5 * x, 0.5 * y, 0.0};
}

// Energy of the relative motion, softened by eps: 0.5 mu v^2 - m1 m2 / r
// with mu = 1/4 and m1 m2 = 1/4. The Kepler value is -1/8.
inline double binary_energy(const hermite::Model& m, double eps) {
  double r2 = eps * eps, v2 = 0.0;
  for (int c = 0; c < 3; ++c) {
    const double dx = m.pos[1][c] - m.pos[0][c], dv = m.vel[1][c] - m.vel[0][c];
    r2 += dx * dx;
    v2 += dv * dv;
  }
  return 0.125 * v2 - 0.25 / std::sqrt(r2);
}

// The model file of the binary at t = 0, with `extra` particle lines
// appended (their indices from 2 on).
inline std::string binary_file(const Binary& b, const std::string& extra = "", int n_extra = 0) {
  const double rp = 1.0 - b.e;                             // pericentre distance
  const double vp = std::sqrt((1.0 + b.e) / (1.0 - b.e));  // relative speed there
  char text[512];
  std::snprintf(text, sizeof text,
                "0000\n%06d\n0.0\n"
                "000000 0.5 %.17g 0 0 %.17g %.17g 0\n"
                "000001 0.5 %.17g 0 0 %.17g %.17g 0\n",
                2 + n_extra, b.X - 0.5 * rp, b.V, -0.5 * vp, b.X + 0.5 * rp, b.V, 0.5 * vp);
  return text + extra;
}

}  // namespace hermite_test

// Kepler orbits for the encounter tests, from Kepler's equation solved here
// (eccentric anomaly by Newton's method, hyperbolic anomaly likewise), apart
// from the library's universal-variable solver.
#pragma once

#include <array>
#include <cmath>

namespace kepler_ref {

using V3 = std::array<double, 3>;

struct State {
  V3 r, v;  // relative position and velocity, x2 - x1
};

// Orbit with total mass mtot, semi-major axis a (> 0 bound, < 0 unbound),
// eccentricity e, at mean anomaly mean (hyperbolic mean anomaly for e > 1),
// in a plane tilted by fixed angles so that every component is exercised.
inline State state(double mtot, double a, double e, double mean) {
  double px, py, vx, vy;
  if (e < 1.0) {
    double ea = mean + (e > 0.8 ? 0.85 * e * (std::sin(mean) >= 0 ? 1 : -1) : e * std::sin(mean));
    for (int i = 0; i < 100; ++i) {
      const double d = (ea - e * std::sin(ea) - mean) / (1.0 - e * std::cos(ea));
      ea -= d;
      if (std::fabs(d) < 1e-16) break;
    }
    const double n = std::sqrt(mtot / (a * a * a));
    const double edot = n / (1.0 - e * std::cos(ea));
    const double b = a * std::sqrt(1.0 - e * e);
    px = a * (std::cos(ea) - e);
    py = b * std::sin(ea);
    vx = -a * std::sin(ea) * edot;
    vy = b * std::cos(ea) * edot;
  } else {
    const double aa = -a;  // a < 0 for the hyperbola
    double f = std::asinh(mean / e);
    for (int i = 0; i < 100; ++i) {
      const double d = (e * std::sinh(f) - f - mean) / (e * std::cosh(f) - 1.0);
      f -= d;
      if (std::fabs(d) < 1e-16 * std::fmax(1.0, std::fabs(f))) break;
    }
    const double n = std::sqrt(mtot / (aa * aa * aa));
    const double fdot = n / (e * std::cosh(f) - 1.0);
    const double b = aa * std::sqrt(e * e - 1.0);
    px = aa * (e - std::cosh(f));
    py = b * std::sinh(f);
    vx = -aa * std::sinh(f) * fdot;
    vy = b * std::cosh(f) * fdot;
  }
  // Rotation by fixed Euler angles.
  const double c1 = std::cos(0.7), s1 = std::sin(0.7), c2 = std::cos(0.4), s2 = std::sin(0.4);
  const double c3 = std::cos(1.9), s3 = std::sin(1.9);
  auto rot = [&](double x, double y) {
    const double x1 = c3 * x - s3 * y, y1 = s3 * x + c3 * y;  // argument of pericentre
    const double y2 = c2 * y1, z2 = s2 * y1;                  // inclination
    return V3{c1 * x1 - s1 * y2, s1 * x1 + c1 * y2, z2};      // node
  };
  return State{rot(px, py), rot(vx, vy)};
}

// Mean anomaly of a bound relative state, in [0, 2 pi).
inline double mean_anomaly(double mtot, double a, double e, const V3& r, const V3& v) {
  const double rr = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
  const double ecos = 1.0 - rr / a;
  const double esin = (r[0] * v[0] + r[1] * v[1] + r[2] * v[2]) / std::sqrt(mtot * a);
  const double ea = std::atan2(esin, ecos);
  double mean = ea - e * std::sin(ea);
  const double two_pi = 2.0 * std::acos(-1.0);
  mean = std::fmod(mean, two_pi);
  return mean < 0 ? mean + two_pi : mean;
}

// Difference of two angles folded into (-pi, pi].
inline double angle_difference(double a, double b) {
  const double pi = std::acos(-1.0);
  double d = std::fmod(a - b, 2.0 * pi);
  if (d > pi) d -= 2.0 * pi;
  if (d <= -pi) d += 2.0 * pi;
  return d;
}

}  // namespace kepler_ref

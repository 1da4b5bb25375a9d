// Closed-form two-body advance in universal variables (Stumpff functions).
//
// With mu = m1 + m2 (G = 1), beta = 2 mu / r0 - v0^2, eta = r0 . v0,
// zeta = mu - beta r0 and G_k(s) = s^k c_k(beta s^2), the universal
// anomaly s after a time dt solves Kepler's equation
//   r0 s + eta G2 + zeta G3 = dt,
// whose derivative in s is the separation r = r0 + eta G1 + zeta G2 > 0, so
// that the root is unique and a bracketed Newton iteration finds it. The
// Lagrange coefficients f = 1 - mu G2 / r0, g = r0 G1 + eta G2,
// f' = -mu G1 / (r r0), g' = 1 - mu G2 / r then give the new state. A bound
// orbit first drops whole periods from dt, which keeps s small.
#include <cmath>
#include <stdexcept>

#include "subsystem.h"
#include "vec3.h"

namespace encounters {

namespace {

struct Stumpff {
  double c0, c1, c2, c3;
};

// c_k(z) = sum_j (-z)^j / (2j + k)!: by the series for |z| <= 1, by the
// circular (z > 0) or hyperbolic (z < 0) functions of x = sqrt(|z|) beyond,
// with 1 - cos x = 2 sin^2(x / 2) (and its hyperbolic twin) against
// cancellation. Direct evaluation keeps every c_k to a few roundings over
// the whole range a drift reaches (|z| up to ~(2 pi + 2)^2 for a bound
// orbit, after whole periods are dropped).
Stumpff stumpff(double z) {
  if (std::fabs(z) <= 1.0) {
    double c2 = 0.0, c3 = 0.0;
    double term2 = 0.5, term3 = 1.0 / 6.0;
    for (int j = 0; j < 16; ++j) {
      c2 += term2;
      c3 += term3;
      term2 *= -z / ((2.0 * j + 3.0) * (2.0 * j + 4.0));
      term3 *= -z / ((2.0 * j + 4.0) * (2.0 * j + 5.0));
    }
    return Stumpff{1.0 - z * c2, 1.0 - z * c3, c2, c3};
  }
  const double x = std::sqrt(std::fabs(z));
  if (z > 0.0) {
    const double h = std::sin(0.5 * x);
    return Stumpff{std::cos(x), std::sin(x) / x, 2.0 * h * h / z, (x - std::sin(x)) / (x * z)};
  }
  const double h = std::sinh(0.5 * x);
  return Stumpff{std::cosh(x), std::sinh(x) / x, -2.0 * h * h / z, (x - std::sinh(x)) / (x * z)};
}

}  // namespace

void kepler_drift_relative(double mtot, Vec3& r, Vec3& w, double dt) {
  if (dt == 0.0) return;
  const double mu = mtot;
  const double r0 = norm(r);
  const double beta = 2.0 * mu / r0 - dot(w, w);
  const double eta = dot(r, w);
  const double zeta = mu - beta * r0;
  const double kTwoPi = 6.28318530717958647692;

  double t = dt;
  if (beta > 0.0) {
    const double period = kTwoPi * mu / (beta * std::sqrt(beta));
    t -= period * std::nearbyint(dt / period);
  }
  auto kepler = [&](double s, Stumpff& c) {
    c = stumpff(beta * s * s);
    return r0 * s + eta * (s * s * c.c2) + zeta * (s * s * s * c.c3) - t;
  };

  // Bracket the root: F(0) = -t, F increasing.
  Stumpff c{};
  double lo = 0.0, hi = t / r0;
  for (int i = 0; i < 2000; ++i) {
    const double f = kepler(hi, c);
    if (!std::isfinite(f) || (t > 0.0 && f >= 0.0) || (t < 0.0 && f <= 0.0)) break;
    lo = hi;
    hi *= 2.0;
  }
  if (hi < lo) std::swap(lo, hi);
  double s = 0.5 * (lo + hi);
  if (t != 0.0) {
    s = t / r0;  // near the start the orbit is a straight line
    if (!(s > lo && s < hi)) s = 0.5 * (lo + hi);
    for (int it = 0; it < 200; ++it) {
      const double f = kepler(s, c);
      if (f == 0.0) break;
      if (f > 0.0)
        hi = s;
      else
        lo = s;
      const double g1 = s * c.c1, g2 = s * s * c.c2;
      const double fp = r0 + eta * g1 + zeta * g2;
      const double fpp = eta * c.c0 + zeta * g1;
      // Halley's correction, confined to the bracket.
      double next = s - f * fp / (fp * fp - 0.5 * f * fpp);
      if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
      const double step = next - s;
      s = next;
      if (std::fabs(step) <= 1e-16 * std::fabs(s) || hi - lo <= 1e-16 * std::fabs(s)) break;
    }
  }
  c = stumpff(beta * s * s);
  const double g1 = s * c.c1, g2 = s * s * c.c2;
  const double rn = r0 + eta * g1 + zeta * g2;
  const double f = 1.0 - mu * g2 / r0;
  const double g = r0 * g1 + eta * g2;
  const double fd = -mu * g1 / (rn * r0);
  const double gd = 1.0 - mu * g2 / rn;
  const Vec3 r_old = r, w_old = w;
  for (int k = 0; k < 3; ++k) {
    r[k] = f * r_old[k] + g * w_old[k];
    w[k] = fd * r_old[k] + gd * w_old[k];
  }
}

void kepler_drift(Subsystem& s, double dt) {
  check_subsystem(s);
  if (s.m.size() != 2)
    throw std::invalid_argument("encounters: kepler_drift needs a subsystem of two members");
  if (!std::isfinite(dt)) throw std::invalid_argument("encounters: non-finite drift time");
  const double m1 = s.m[0], m2 = s.m[1], mtot = m1 + m2;
  Vec3 r = sub(s.x[1], s.x[0]);
  Vec3 w = sub(s.v[1], s.v[0]);
  kepler_drift_relative(mtot, r, w, dt);
  for (int k = 0; k < 3; ++k) {
    s.x[0][k] = -m2 / mtot * r[k];
    s.x[1][k] = m1 / mtot * r[k];
    s.v[0][k] = -m2 / mtot * w[k];
    s.v[1][k] = m1 / mtot * w[k];
  }
  s.t += dt;
  ++s.kepler_drifts;
}

}  // namespace encounters

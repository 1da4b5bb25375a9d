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
//
// The new state f r0 + g v0 is a difference of terms of the size of the
// orbit, so near pericentre of an eccentric orbit it keeps only an absolute
// precision of ~eps a: the energy there is good to ~eps (a / q)^2 per call
// (2e-10 at e = 0.999). Bound orbits of eccentricity >= kElementsMinE are
// therefore advanced in their elements instead: the eccentric anomaly E0 of
// the start, the pericentre direction P and the direction Q = h x P / |h|
// from the state; Kepler's equation M = E - e sin E for the new E; and the
// state rebuilt as a (cos E - e) P + b sin E Q with 1 - e = (p / a) / (1 + e),
// cos E - e = (1 - e) - 2 sin^2(E / 2) and 1 - e cos E = (1 - e) +
// 2 e sin^2(E / 2), all without cancellation, so that every component comes
// out to a few roundings of itself and the energy to a few roundings of
// mu / r. Near pericentre M is summed as (1 - e) E + e (E - sin E) with the
// series of E - sin E.
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

constexpr double kTwoPi = 6.28318530717958647692;
constexpr double kPi = 3.14159265358979323846;

// Bound orbits at least this eccentric go through the elements; rounder
// ones lose nothing to cancellation and keep the universal variables
// (which need no pericentre direction).
constexpr double kElementsMinE = 0.05;

// x - sin x without cancellation: the series for |x| < 1 (terms fall by
// x^2 / 72 or faster: 10 terms are below 1e-17 of the sum), direct beyond.
double x_minus_sin(double x) {
  if (std::fabs(x) >= 1.0) return x - std::sin(x);
  const double x2 = x * x;
  double term = x * x2 / 6.0, sum = 0.0;
  for (int k = 0; k < 10; ++k) {
    sum += term;
    term *= -x2 / ((2.0 * k + 4.0) * (2.0 * k + 5.0));
  }
  return sum;
}

// Mean anomaly of the eccentric anomaly ea, 1 - e given separately.
double mean_of(double ea, double e, double one_minus_e) {
  if (std::fabs(ea) < 1.0) return one_minus_e * ea + e * x_minus_sin(ea);
  return ea - e * std::sin(ea);
}

// Solves M = E - e sin E for E in [0, pi], M in [0, pi]: Halley's
// iteration inside a shrinking bracket (the residual increases with E),
// ended when the step falls to a few roundings of E, when the bracket
// closes, or when the residual vanishes.
double eccentric_anomaly(double mean, double e, double one_minus_e) {
  if (mean <= 0.0) return 0.0;
  if (mean >= kPi) return kPi;
  double lo = 0.0, hi = kPi;
  // Start: the cubic E^3 / 6 = M near pericentre of a very eccentric orbit,
  // otherwise Danby's M + 0.85 e.
  double ea = mean + 0.85 * e;
  if (e > 0.9 && mean < 0.2) ea = std::cbrt(6.0 * mean);
  ea = std::fmin(ea, kPi);
  for (int it = 0; it < 100; ++it) {
    const double f = mean_of(ea, e, one_minus_e) - mean;
    if (f == 0.0) break;
    if (f > 0.0)
      hi = ea;
    else
      lo = ea;
    const double half = std::sin(0.5 * ea);
    const double fp = one_minus_e + 2.0 * e * half * half;  // 1 - e cos E
    const double fpp = e * std::sin(ea);
    double next = ea - f * fp / (fp * fp - 0.5 * f * fpp);
    if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
    const double step = next - ea;
    ea = next;
    if (std::fabs(step) <= 4e-16 * ea || hi - lo <= 4e-16 * ea) break;
  }
  return ea;
}

// Advances a bound orbit of eccentricity >= kElementsMinE in its elements
// (see the head of the file); returns false, state untouched, for any
// other orbit.
bool drift_elements(double mu, Vec3& r, Vec3& w, double dt) {
  const double r0 = norm(r);
  const double beta = 2.0 * mu / r0 - dot(w, w);
  if (!(beta > 0.0)) return false;
  const double a = mu / beta;
  const Vec3 h = cross(r, w);
  const double hn = norm(h);
  const double p = hn * hn / mu;
  const double pa = p / a;  // 1 - e^2
  if (!(pa > 0.0 && pa < 1.0)) return false;
  const double e = std::sqrt(1.0 - pa);
  if (e < kElementsMinE) return false;
  const double one_minus_e = pa / (1.0 + e);
  const double sqrt_a_mu = std::sqrt(a / mu);

  // Eccentric anomaly of the start: e cos E0 = 1 - r0 / a,
  // e sin E0 = r0 . v0 / sqrt(mu a).
  const double cos0 = (1.0 - r0 / a) / e;
  const double sin0 = dot(r, w) * sqrt_a_mu / (a * e);
  const double ea0 = std::atan2(sin0, cos0);
  // Pericentre direction: P = cos E0 r0 / r0 - sin E0 sqrt(a / mu) v0.
  Vec3 pdir;
  for (int k = 0; k < 3; ++k) pdir[k] = cos0 / r0 * r[k] - sin0 * sqrt_a_mu * w[k];
  const double pn = norm(pdir);
  if (!(pn > 0.0) || !(hn > 0.0)) return false;
  for (double& c : pdir) c /= pn;
  Vec3 hdir = h;
  for (double& c : hdir) c /= hn;
  const Vec3 qdir = cross(hdir, pdir);

  // New mean anomaly, reduced to (-pi, pi].
  const double n = std::sqrt(mu / a) / a;
  double mean = mean_of(ea0, e, one_minus_e) + n * dt;
  mean = std::remainder(mean, kTwoPi);
  const double ea = std::copysign(eccentric_anomaly(std::fabs(mean), e, one_minus_e), mean);

  const double half = std::sin(0.5 * ea);
  const double versine = 2.0 * half * half;  // 1 - cos E
  const double one_minus_ecos = one_minus_e + e * versine;
  const double b = a * std::sqrt(pa);
  const double x = a * (one_minus_e - versine);  // a (cos E - e)
  const double y = b * std::sin(ea);
  const double vscale = std::sqrt(mu / a) / one_minus_ecos;
  const double vx = -vscale * std::sin(ea);
  const double vy = vscale * std::sqrt(pa) * std::cos(ea);
  for (int k = 0; k < 3; ++k) {
    r[k] = x * pdir[k] + y * qdir[k];
    w[k] = vx * pdir[k] + vy * qdir[k];
  }
  return true;
}

}  // namespace

void kepler_drift_relative(double mtot, Vec3& r, Vec3& w, double dt) {
  if (dt == 0.0) return;
  const double mu = mtot;
  if (drift_elements(mu, r, w, dt)) return;
  const double r0 = norm(r);
  const double beta = 2.0 * mu / r0 - dot(w, w);
  const double eta = dot(r, w);
  const double zeta = mu - beta * r0;

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

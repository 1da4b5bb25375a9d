// Binary counts, companion masses and orbits.
#include "binaries.h"

#include <cmath>

namespace models {

std::int64_t binary_count(std::int64_t stars, double fraction) {
  const auto wanted = static_cast<std::int64_t>(
      std::llround(fraction * static_cast<double>(stars) / (1.0 + fraction)));
  return wanted < stars / 2 ? wanted : stars / 2;
}

double companion_mass(double m1, double m_min, Random& random) {
  const double q_min = m_min / m1;
  return m1 * (q_min + (1.0 - q_min) * random.uniform());
}

Orbit draw_orbit(double a_min, double a_max, bool thermal, Random& random) {
  Orbit orbit;
  orbit.a = a_min * std::exp(std::log(a_max / a_min) * random.uniform());
  orbit.e = thermal ? std::sqrt(random.uniform()) : 0.0;
  return orbit;
}

double eccentric_anomaly(double mean_anomaly, double e) {
  // Newton from E = M + e sin M (or pi for high e), guarded by bisection on
  // [0, 2 pi], where the function E - e sin E - M is increasing.
  const double two_pi = 6.283185307179586;
  double lo = 0.0, hi = two_pi;
  double ecc = e > 0.8 ? 3.141592653589793 : mean_anomaly + e * std::sin(mean_anomaly);
  for (int i = 0; i < 100; ++i) {
    const double f = ecc - e * std::sin(ecc) - mean_anomaly;
    if (f > 0.0)
      hi = ecc;
    else
      lo = ecc;
    double next = ecc - f / (1.0 - e * std::cos(ecc));
    if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
    if (std::fabs(next - ecc) <= 4e-16 * two_pi) return next;
    ecc = next;
  }
  return ecc;
}

void relative_state(const Orbit& orbit, double m, Random& random, double dx[3], double dv[3]) {
  const double e = orbit.e, a = orbit.a;
  const double mean = 6.283185307179586 * random.uniform();
  const double ecc = eccentric_anomaly(mean, e);
  const double c = std::cos(ecc), s = std::sin(ecc);
  const double root = std::sqrt((1.0 - e) * (1.0 + e));
  const double rate = std::sqrt(m / (a * a * a)) / (1.0 - e * c);  // dE/dt
  const double p[3] = {a * (c - e), a * root * s, 0.0};
  const double w[3] = {-a * s * rate, a * root * c * rate, 0.0};
  // A rotation uniform over SO(3) from a unit quaternion uniform on S^3.
  const double u1 = random.uniform(), u2 = random.uniform(), u3 = random.uniform();
  const double two_pi = 6.283185307179586;
  const double q0 = std::sqrt(1.0 - u1) * std::sin(two_pi * u2);
  const double q1 = std::sqrt(1.0 - u1) * std::cos(two_pi * u2);
  const double q2 = std::sqrt(u1) * std::sin(two_pi * u3);
  const double q3 = std::sqrt(u1) * std::cos(two_pi * u3);
  const double rot[3][3] = {
      {1 - 2 * (q2 * q2 + q3 * q3), 2 * (q1 * q2 - q0 * q3), 2 * (q1 * q3 + q0 * q2)},
      {2 * (q1 * q2 + q0 * q3), 1 - 2 * (q1 * q1 + q3 * q3), 2 * (q2 * q3 - q0 * q1)},
      {2 * (q1 * q3 - q0 * q2), 2 * (q2 * q3 + q0 * q1), 1 - 2 * (q1 * q1 + q2 * q2)}};
  for (int i = 0; i < 3; ++i) {
    dx[i] = rot[i][0] * p[0] + rot[i][1] * p[1] + rot[i][2] * p[2];
    dv[i] = rot[i][0] * w[0] + rot[i][1] * w[1] + rot[i][2] * w[2];
  }
}

}  // namespace models

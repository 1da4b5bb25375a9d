// Stability of hierarchical triples by the criterion of Mardling & Aarseth
// (2001), fitted to the chaotic-energy-exchange limit of the outer orbit,
// with the empirical inclination factor that makes retrograde orbits more
// stable.
#include <cmath>
#include <limits>

#include "subsystem.h"

namespace encounters {

double triple_stability_ratio(double m_inner1, double m_inner2, double m_outer, double e_out,
                              double inclination) {
  if (!(e_out < 1.0)) return std::numeric_limits<double>::infinity();
  const double q_out = m_outer / (m_inner1 + m_inner2);
  const double kPi = 3.14159265358979323846;
  const double base = (1.0 + q_out) * (1.0 + e_out) / std::sqrt(1.0 - e_out);
  return 2.8 * std::pow(base, 0.4) * (1.0 - 0.3 * inclination / kPi);
}

bool stable_triple(double m_inner1, double m_inner2, double m_outer, double a_in, double e_out,
                   double a_out, double inclination) {
  if (!(a_in > 0.0) || !(a_out > 0.0) || !(e_out >= 0.0) || !(e_out < 1.0)) return false;
  const double ratio = a_out * (1.0 - e_out) / a_in;
  return ratio > triple_stability_ratio(m_inner1, m_inner2, m_outer, e_out, inclination);
}

}  // namespace encounters

#include "ar_slowdown.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace encounters {

void ar_advance_slowed(Subsystem& s, double t_target, const Perturbation& p, double kappa,
                       const ArSettings& settings) {
  if (!(kappa >= 1.0) || !std::isfinite(kappa))
    throw std::invalid_argument("encounters: slow-down factor " + std::to_string(kappa) +
                                " is not a finite number >= 1");
  if (kappa == 1.0) {
    ar_advance(s, t_target, p, settings);
    return;
  }
  if (!std::isfinite(t_target) || t_target < s.t)
    throw std::invalid_argument("encounters: ar_advance target time " + std::to_string(t_target) +
                                " lies before the subsystem's time " + std::to_string(s.t));
  const double t0 = s.t;
  Perturbation slowed;
  if (p.active()) {
    slowed.tidal = [&p, t0, kappa](double tau, const std::vector<Vec3>& x, std::vector<Vec3>& acc) {
      p.tidal(t0 + kappa * (tau - t0), x, acc);
      for (Vec3& a : acc)
        for (double& c : a) c *= kappa;
    };
  }
  try {
    ar_advance(s, t0 + (t_target - t0) / kappa, slowed, settings);
  } catch (const std::runtime_error&) {
    s.t = t0 + kappa * (s.t - t0);
    throw;
  }
  s.t = t_target;
}

double ar_advance_whole_orbits(Subsystem& s, double t_target, const Perturbation& p, double gamma,
                               double gamma_slow, double kappa_max, const ArSettings& settings) {
  check_subsystem(s);
  if (!std::isfinite(t_target) || t_target < s.t)
    throw std::invalid_argument("encounters: ar_advance target time " + std::to_string(t_target) +
                                " lies before the subsystem's time " + std::to_string(s.t));
  // Whole periods in the span: none for an unbound pair or a group, whose
  // period is infinite.
  const double period = pair_period(s);
  const double k = std::floor((t_target - s.t) / period);
  double n = k;
  if (gamma_slow > 0.0 && gamma >= 0.0 && kappa_max >= 1.0 && std::isfinite(k))
    n = std::fmax(1.0, std::fmax(std::ceil(k * gamma / gamma_slow), std::ceil(k / kappa_max)));
  if (!p.active() || !(k >= 2.0) || !(n < k)) {
    ar_advance(s, t_target, p, settings);
    return 1.0;
  }
  const double kappa = k / n;
  ar_advance_slowed(s, std::fmin(s.t + k * period, t_target), p, kappa, settings);
  ar_advance(s, t_target, p, settings);
  return kappa;
}

}  // namespace encounters

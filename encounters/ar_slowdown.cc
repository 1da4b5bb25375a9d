#include "ar_slowdown.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace encounters {

double slowdown_factor(double gamma, double gamma_slow, double period, double span,
                       double kappa_max) {
  if (!(gamma > 0.0) || !(period > 0.0) || !(span > 0.0)) return 1.0;
  const double wanted = std::fmin(std::fmin(gamma_slow / gamma, span / period), kappa_max);
  if (!(wanted >= 2.0)) return 1.0;
  return std::exp2(std::floor(std::log2(wanted)));
}

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

}  // namespace encounters

#include "ar_slowdown.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "vec3.h"

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
  double period = 0.0;
  if (s.m.size() == 2) {
    const Vec3 dx = sub(s.x[1], s.x[0]), dv = sub(s.v[1], s.v[0]);
    const PairElements el = pair_elements(s.m[0], s.m[1], dx, dv);
    if (el.a > 0.0 && el.e < 1.0)
      period = 2.0 * 3.14159265358979323846 * std::sqrt(el.a * el.a * el.a / (s.m[0] + s.m[1]));
  }
  const double k = period > 0.0 ? std::floor((t_target - s.t) / period) : 0.0;
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

// King (1966) model: the lowered Maxwellian f(E) proportional to
// exp(-E / sigma^2) - 1 below the tidal potential. In units of the King
// radius r0 (9 sigma^2 = 4 pi G rho0 r0^2) and of sigma, the dimensionless
// potential W = (phi_t - phi) / sigma^2 obeys
//   (1/r^2) d/dr (r^2 dW/dr) = -9 rho(W) / rho(W0),
//   rho(W) = exp(W) erf(sqrt(W)) - sqrt(4 W / pi) (1 + 2 W / 3),
// and G M(r) = -r^2 dW/dr (with G = 1). The equation is integrated with
// fourth-order Runge-Kutta in ln r from the series start W0 - 3/2 r^2 +
// 0.675 k r^4 (k = rho'(W0) / rho(W0)) until W = 0, the tidal radius. Radii
// are drawn from the tabulated enclosed mass, speeds from f at the local W
// by rejection: the speed as a fraction u of the escape speed sqrt(2 W) has
// density u^2 (exp(W (1 - u^2)) - 1).
#include <algorithm>
#include <cmath>
#include <vector>

#include "profile.h"

namespace models {
namespace {

constexpr double kTwoOverRootPi = 1.1283791670955126;

// The density, by its series at small W where the closed form cancels.
double density(double w) {
  if (!(w > 0.0)) return 0.0;
  if (w < 0.5) {
    // (2 / sqrt(pi)) sum over n >= 2 of 2^n W^(n + 1/2) / (2n + 1)!!
    double term = kTwoOverRootPi * 4.0 * w * w * std::sqrt(w) / 15.0;
    double sum = 0.0;
    for (int n = 2; n < 60 && term > 1e-18 * sum; ++n) {
      sum += term;
      term *= 2.0 * w / (2.0 * n + 3.0);
    }
    return sum;
  }
  return std::exp(w) * std::erf(std::sqrt(w)) -
         kTwoOverRootPi * std::sqrt(w) * (1.0 + 2.0 * w / 3.0);
}

struct State {
  double w, y;  // W and r^2 dW/dr
};

class King final : public Profile {
 public:
  explicit King(double w0) : w0_(w0) { solve(); }

  double tidal_radius() const override { return rt_; }

  void draw(Random& random, double x[3], double v[3]) const override {
    // Radius: the enclosed mass u * M interpolated in (ln m, ln r).
    const double target = random.open_uniform() * mass_.back();
    double r;
    double w;
    if (target <= mass_.front()) {
      r = r_.front() * std::cbrt(target / mass_.front());
      w = w0_ - 1.5 * r * r;
    } else {
      const auto it = std::lower_bound(mass_.begin(), mass_.end(), target);
      const std::size_t k = static_cast<std::size_t>(it - mass_.begin());
      const std::size_t i = k - 1;
      const double s = std::log(target / mass_[i]) / std::log(mass_[k] / mass_[i]);
      r = r_[i] * std::pow(r_[k] / r_[i], s);
      w = potential(i, r);
    }
    isotropic(random, r, x);
    isotropic(random, std::sqrt(2.0 * std::fmax(w, 0.0)) * speed_fraction(random, w), v);
  }

 private:
  double rhs_scale() const { return 9.0 / density(w0_); }

  State derivative(double r, const State& s) const {
    return {s.y / r, -rhs_scale() * r * r * r * density(s.w)};
  }

  // One step of the classical Runge-Kutta scheme in ln r.
  State step(double r, const State& s, double h) const {
    const State k1 = derivative(r, s);
    const double rm = r * std::exp(0.5 * h);
    const State k2 = derivative(rm, {s.w + 0.5 * h * k1.w, s.y + 0.5 * h * k1.y});
    const State k3 = derivative(rm, {s.w + 0.5 * h * k2.w, s.y + 0.5 * h * k2.y});
    const State k4 = derivative(r * std::exp(h), {s.w + h * k3.w, s.y + h * k3.y});
    return {s.w + h / 6.0 * (k1.w + 2.0 * k2.w + 2.0 * k3.w + k4.w),
            s.y + h / 6.0 * (k1.y + 2.0 * k2.y + 2.0 * k3.y + k4.y)};
  }

  void solve() {
    const double h = 1e-3;
    const double kappa =
        (std::exp(w0_) * std::erf(std::sqrt(w0_)) - kTwoOverRootPi * std::sqrt(w0_)) / density(w0_);
    double r = 1e-3;
    State s{w0_ - 1.5 * r * r + 0.675 * kappa * r * r * r * r,
            r * r * (-3.0 * r + 2.7 * kappa * r * r * r)};
    push(r, s);
    for (;;) {
      const State next = step(r, s, h);
      if (next.w > 0.0) {
        r *= std::exp(h);
        s = next;
        push(r, s);
        continue;
      }
      // The step that crosses W = 0, shortened by bisection to land on it.
      double lo = 0.0, hi = h;
      for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (lo + hi);
        (step(r, s, mid).w > 0.0 ? lo : hi) = mid;
      }
      const State end = step(r, s, hi);
      rt_ = r * std::exp(hi);
      push(rt_, {0.0, end.y});
      break;
    }
  }

  void push(double r, const State& s) {
    r_.push_back(r);
    w_.push_back(s.w);
    dw_.push_back(s.y / r);  // dW / d ln r
    mass_.push_back(-s.y);
  }

  // W at r between table points i and i + 1: cubic Hermite in ln r.
  double potential(std::size_t i, double r) const {
    const double h = std::log(r_[i + 1] / r_[i]);
    const double t = std::log(r / r_[i]) / h;
    const double t2 = t * t, t3 = t2 * t;
    return (2 * t3 - 3 * t2 + 1) * w_[i] + (t3 - 2 * t2 + t) * h * dw_[i] +
           (-2 * t3 + 3 * t2) * w_[i + 1] + (t3 - t2) * h * dw_[i + 1];
  }

  // u in [0, 1] with density u^2 (exp(W (1 - u^2)) - 1), by rejection under
  // its maximum, at t = u^2 solving (1 - W t) exp(W (1 - t)) = 1.
  static double speed_fraction(Random& random, double w) {
    if (!(w > 0.0)) return 0.0;
    auto g = [w](double u) { return u * u * std::expm1(w * (1.0 - u * u)); };
    double lo = 0.0, hi = std::fmin(1.0, 1.0 / w);
    for (int i = 0; i < 40; ++i) {
      const double t = 0.5 * (lo + hi);
      const double h = std::expm1(w * (1.0 - t)) - w * t * std::exp(w * (1.0 - t));
      (h > 0.0 ? lo : hi) = t;
    }
    const double top = g(std::sqrt(0.5 * (lo + hi))) * (1.0 + 1e-6);
    for (;;) {
      const double u = random.uniform();
      if (random.uniform() * top < g(u)) return u;
    }
  }

  double w0_;
  double rt_ = 0.0;
  std::vector<double> r_, w_, dw_, mass_;
};

}  // namespace

std::unique_ptr<Profile> profile_king(double w0) { return std::make_unique<King>(w0); }

}  // namespace models

// A Navarro-Frenk-White halo of mass m within radius r and concentration
// c = r / rs: phi = -ms ln(1 + x / rs) / x with ms = m / (ln(1 + c) - c / (1 + c)).
#include <cstdio>

#include "galaxy.h"

namespace fields {
namespace {

class Nfw final : public Component {
 public:
  Nfw(double m, double r, double c)
      : m_(m), r_(r), c_(c), rs_(r / c), ms_(m / (std::log1p(c) - c / (1.0 + c))) {}
  double potential(const Vec3& y) const override {
    const double x = std::sqrt(y[0] * y[0] + y[1] * y[1] + y[2] * y[2]);
    return -ms_ * std::log1p(x / rs_) / x;
  }
  // g = -ms (ln(1 + x / rs) - x / (x + rs)) y / x^3.
  void acceleration(const Jet* y, Jet* g) const override {
    const Jet x2 = y[0] * y[0] + y[1] * y[1] + y[2] * y[2];
    const Jet x = sqrt(x2);
    const Jet mass = log(x / rs_ + 1.0) - x / (x + rs_);
    const Jet f = Jet(-ms_) * mass / (x2 * x);
    for (int i = 0; i < 3; ++i) g[i] = f * y[i];
  }
  std::string describe() const override {
    char t[192];
    std::snprintf(t, sizeof t, "NFW %.6g within %.6g, c %.6g", m_, r_, c_);
    return t;
  }

 private:
  double m_, r_, c_, rs_, ms_;
};

}  // namespace

std::unique_ptr<Component> make_nfw(double m, double r, double c) {
  return std::make_unique<Nfw>(m, r, c);
}

}  // namespace fields

// A Miyamoto-Nagai disc: phi = -m / sqrt(R^2 + (a + sqrt(z^2 + b^2))^2).
#include <cstdio>

#include "galaxy.h"

namespace fields {
namespace {

class MiyamotoNagai final : public Component {
 public:
  MiyamotoNagai(double m, double a, double b) : m_(m), a_(a), b2_(b * b) {}
  double potential(const Vec3& y) const override {
    const double A = a_ + std::sqrt(y[2] * y[2] + b2_);
    return -m_ / std::sqrt(y[0] * y[0] + y[1] * y[1] + A * A);
  }
  // With zeta = sqrt(z^2 + b^2), A = a + zeta, s = R^2 + A^2:
  // g = -m (x, y, z A / zeta) / s^(3/2).
  void acceleration(const Jet* y, Jet* g) const override {
    const Jet zeta = sqrt(y[2] * y[2] + b2_);
    const Jet A = zeta + a_;
    const Jet s = y[0] * y[0] + y[1] * y[1] + A * A;
    const Jet f = Jet(-m_) / (s * sqrt(s));
    g[0] = f * y[0];
    g[1] = f * y[1];
    g[2] = f * y[2] * A / zeta;
  }
  std::string describe() const override {
    char t[192];
    std::snprintf(t, sizeof t, "Miyamoto-Nagai %.6g, a %.6g, b %.6g", m_, a_, std::sqrt(b2_));
    return t;
  }

 private:
  double m_, a_, b2_;
};

}  // namespace

std::unique_ptr<Component> make_miyamoto_nagai(double m, double a, double b) {
  return std::make_unique<MiyamotoNagai>(m, a, b);
}

}  // namespace fields

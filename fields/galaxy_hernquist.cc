// A Hernquist sphere: phi = -m / (r + a).
#include <cstdio>

#include "galaxy.h"

namespace fields {
namespace {

class Hernquist final : public Component {
 public:
  Hernquist(double m, double a) : m_(m), a_(a) {}
  double potential(const Vec3& y) const override {
    return -m_ / (std::sqrt(y[0] * y[0] + y[1] * y[1] + y[2] * y[2]) + a_);
  }
  // g = -m x / (r (r + a)^2).
  void acceleration(const Jet* y, Jet* g) const override {
    const Jet r = sqrt(y[0] * y[0] + y[1] * y[1] + y[2] * y[2]);
    const Jet ra = r + a_;
    const Jet f = Jet(-m_) / (r * ra * ra);
    for (int i = 0; i < 3; ++i) g[i] = f * y[i];
  }
  std::string describe() const override {
    char t[80];
    std::snprintf(t, sizeof t, "Hernquist %.6g, a %.6g", m_, a_);
    return t;
  }

 private:
  double m_, a_;
};

}  // namespace

std::unique_ptr<Component> make_hernquist(double m, double a) {
  return std::make_unique<Hernquist>(m, a);
}

}  // namespace fields

// A Plummer sphere: phi = -m / sqrt(r^2 + b^2).
#include <cstdio>

#include "galaxy.h"

namespace fields {
namespace {

class Plummer final : public Component {
 public:
  Plummer(double m, double b) : m_(m), b2_(b * b) {}
  double potential(const Vec3& y) const override {
    return -m_ / std::sqrt(y[0] * y[0] + y[1] * y[1] + y[2] * y[2] + b2_);
  }
  void acceleration(const Jet* y, Jet* g) const override {
    const Jet s = y[0] * y[0] + y[1] * y[1] + y[2] * y[2] + b2_;
    const Jet f = Jet(-m_) / (s * sqrt(s));
    for (int i = 0; i < 3; ++i) g[i] = f * y[i];
  }
  std::string describe() const override {
    char t[80];
    std::snprintf(t, sizeof t, "Plummer %.6g, b %.6g", m_, std::sqrt(b2_));
    return t;
  }

 private:
  double m_, b2_;
};

}  // namespace

std::unique_ptr<Component> make_plummer(double m, double b) {
  return std::make_unique<Plummer>(m, b);
}

}  // namespace fields

// A logarithmic halo: phi = v0^2 / 2 ln(rc^2 + x^2 + y^2 + z^2 / q^2).
#include <cstdio>

#include "galaxy.h"

namespace fields {
namespace {

class Logarithmic final : public Component {
 public:
  Logarithmic(double v0, double rc, double q) : v2_(v0 * v0), rc2_(rc * rc), q2_(q * q) {}
  double potential(const Vec3& y) const override {
    return 0.5 * v2_ * std::log(rc2_ + y[0] * y[0] + y[1] * y[1] + y[2] * y[2] / q2_);
  }
  // g = -v0^2 (x, y, z / q^2) / (rc^2 + x^2 + y^2 + z^2 / q^2).
  void acceleration(const Jet* y, Jet* g) const override {
    const Jet zq = y[2] / q2_;
    const Jet d = y[0] * y[0] + y[1] * y[1] + zq * y[2] + rc2_;
    const Jet f = Jet(-v2_) / d;
    g[0] = f * y[0];
    g[1] = f * y[1];
    g[2] = f * zq;
  }
  std::string describe() const override {
    char t[192];
    std::snprintf(t, sizeof t, "logarithmic v0 %.6g, rc %.6g, q %.6g", std::sqrt(v2_),
                  std::sqrt(rc2_), std::sqrt(q2_));
    return t;
  }

 private:
  double v2_, rc2_, q2_;
};

}  // namespace

std::unique_ptr<Component> make_logarithmic(double v0, double rc, double q) {
  return std::make_unique<Logarithmic>(v0, rc, q);
}

}  // namespace fields

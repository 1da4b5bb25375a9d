// A point mass: phi = -m / r.
#include <cstdio>

#include "galaxy.h"

namespace fields {
namespace {

class PointMass final : public Component {
 public:
  explicit PointMass(double m) : m_(m) {}
  double potential(const Vec3& y) const override {
    return -m_ / std::sqrt(y[0] * y[0] + y[1] * y[1] + y[2] * y[2]);
  }
  void acceleration(const Jet* y, Jet* g) const override {
    const Jet r2 = y[0] * y[0] + y[1] * y[1] + y[2] * y[2];
    const Jet f = Jet(-m_) / (r2 * sqrt(r2));
    for (int i = 0; i < 3; ++i) g[i] = f * y[i];
  }
  std::string describe() const override {
    char t[64];
    std::snprintf(t, sizeof t, "point mass %.6g", m_);
    return t;
  }

 private:
  double m_;
};

}  // namespace

std::unique_ptr<Component> make_point_mass(double m) { return std::make_unique<PointMass>(m); }

}  // namespace fields

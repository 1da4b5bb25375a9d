// Hill's approximation: the tide of a point-mass galaxy to first order in
// the distance from the cluster centre, in the frame rotating with the
// circular orbit at omega about z:
//   a = (3 omega^2 x + 2 omega vy, -2 omega vx, -omega^2 z),
//   phi = -3/2 omega^2 x^2 + 1/2 omega^2 z^2.
// Linear in x and v, so the n-th derivative along a motion is the same
// matrices applied to the n-th and (n+1)-th derivatives of the position.
#include <cmath>
#include <cstdio>

#include "field.h"

namespace fields {
namespace {

class Hill final : public Field {
 public:
  Hill(double omega, double r) : w_(omega), r_(r) {}

  void derivatives(double, const Vec3& x, const Vec3& v, const Vec3* motion, int nd,
                   Vec3* out) const override {
    const double w2 = w_ * w_;
    for (int n = 0; n < nd; ++n) {
      const Vec3& p = n == 0 ? x : n == 1 ? v : motion[n - 2];  // x^(n)
      const Vec3& q = n == 0 ? v : motion[n - 1];               // x^(n+1)
      out[n] = Vec3{3.0 * w2 * p[0] + 2.0 * w_ * q[1], -2.0 * w_ * q[0], -w2 * p[2]};
    }
  }
  double potential(double, const Vec3& x) const override {
    return w_ * w_ * (-1.5 * x[0] * x[0] + 0.5 * x[2] * x[2]);
  }
  double jacobi_radius(double, double m) const override { return std::cbrt(m / (3.0 * w_ * w_)); }
  bool velocity_dependent() const override { return true; }
  double frame_omega() const override { return w_; }
  Vec3 galactic_position(double t, const Vec3& x) const override { return unrotated(w_, t, r_, x); }
  std::string describe() const override {
    char t[64];
    std::snprintf(t, sizeof t, "Hill's field, omega %.9g", w_);
    return t;
  }

 private:
  double w_;
  double r_;  // the orbit's radius; 0 where none is known
};

}  // namespace

std::unique_ptr<Field> make_hill_field(double omega, double r) {
  return std::make_unique<Hill>(omega, r);
}

}  // namespace fields

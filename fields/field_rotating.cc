// The exact tide in the frame rotating with a circular orbit of radius r in
// the plane z = 0. The cluster centre sits at P = (r, 0, 0) of the galaxy,
// whose centre is at x = (-r, 0, 0); omega^2 = -g_x(P) / r. A star at x
// feels
//   a = g(P + x) - g(P) + omega^2 (x, y, 0) + 2 omega (vy, -vx, 0),
// and its derivatives along the motion are those of g(P + x(t)) (P is fixed
// in this frame) plus the same linear terms of the derivatives of x.
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "field.h"

namespace fields {
namespace {

class Rotating final : public Field {
 public:
  Rotating(std::shared_ptr<const Galaxy> galaxy, double r)
      : galaxy_(std::move(galaxy)), p_{r, 0, 0} {
    g_p_ = galaxy_->acceleration(p_);
    const double w2 = -g_p_[0] / r;
    if (!(w2 > 0.0)) throw std::invalid_argument("the galaxy has no circular orbit at that radius");
    w_ = std::sqrt(w2);
    phi_p_ = galaxy_->potential(p_);
  }

  void derivatives(double, const Vec3& x, const Vec3& v, const Vec3* motion, int nd,
                   Vec3* out) const override {
    const Vec3 y{p_[0] + x[0], p_[1] + x[1], p_[2] + x[2]};
    Vec3 dy[3] = {v, Vec3{}, Vec3{}};  // the derivatives of P + x: those of x
    for (int m = 0; m + 2 < nd; ++m) dy[m + 1] = motion[m];
    galaxy_->derivatives(y, dy, nd, out);
    const double w2 = w_ * w_;
    for (int n = 0; n < nd; ++n) {
      const Vec3& p = n == 0 ? x : n == 1 ? v : motion[n - 2];
      const Vec3& q = n == 0 ? v : motion[n - 1];
      if (n == 0) {
        for (int c = 0; c < 3; ++c) out[n][c] -= g_p_[c];
      }
      out[n][0] += w2 * p[0] + 2.0 * w_ * q[1];
      out[n][1] += w2 * p[1] - 2.0 * w_ * q[0];
    }
  }
  // phi(P + x) - phi(P) + g(P).x - omega^2 (x^2 + y^2) / 2.
  double potential(double, const Vec3& x) const override {
    const Vec3 y{p_[0] + x[0], p_[1] + x[1], p_[2] + x[2]};
    const double lin = g_p_[0] * x[0] + g_p_[1] * x[1] + g_p_[2] * x[2];
    return (galaxy_->potential(y) - phi_p_) + lin - 0.5 * w_ * w_ * (x[0] * x[0] + x[1] * x[1]);
  }
  // r_J^3 = m / (omega^2 - d^2 phi / dR^2) (King 1962).
  double jacobi_radius(double, double m) const override {
    const Vec3 e[1] = {Vec3{1.0, 0.0, 0.0}};
    Vec3 d[2];
    galaxy_->derivatives(p_, e, 2, d);
    const double k = w_ * w_ + d[1][0];
    return k > 0.0 ? std::cbrt(m / k) : std::numeric_limits<double>::infinity();
  }
  bool velocity_dependent() const override { return true; }
  double frame_omega() const override { return w_; }
  Vec3 galactic_position(double t, const Vec3& x) const override {
    return unrotated(w_, t, p_[0], x);
  }
  std::string describe() const override {
    char t[192];
    std::snprintf(t, sizeof t,
                  "exact tides in the frame rotating on the circular orbit r %.9g, omega %.9g",
                  p_[0], w_);
    return galaxy_->describe() + "; " + t;
  }

 private:
  std::shared_ptr<const Galaxy> galaxy_;
  Vec3 p_, g_p_;
  double w_ = 0.0, phi_p_ = 0.0;
};

}  // namespace

std::unique_ptr<Field> make_rotating_field(std::shared_ptr<const Galaxy> galaxy, double r) {
  return std::make_unique<Rotating>(std::move(galaxy), r);
}

}  // namespace fields

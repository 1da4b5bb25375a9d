// The tide of a galaxy on a cluster whose centre follows a reference orbit
// R(t), in the non-rotating frame that moves with R(t):
//   a = g(R(t) + x) - g(R(t)),
//   phi = phi(R + x) - phi(R) + g(R).x  (zero with its gradient at x = 0).
// The galactic position of a star, y = R + x, moves with the derivatives
// V + v, A + a, J + j (A, J, S the acceleration of the orbit and its
// derivatives); the tide's derivatives are those of g(y(t)) less those of
// g(R(t)). The field changes with time: d phi / dt = -V.(g(y) - g(R)) +
// J.x, whose integral over the stars' motion is the work the tide does.
#include <cmath>
#include <cstdio>
#include <limits>

#include "field.h"
#include "orbit.h"

namespace fields {
namespace {

class OrbitField final : public Field {
 public:
  OrbitField(std::shared_ptr<const Galaxy> galaxy, const Vec3& r0, const Vec3& v0)
      : galaxy_(std::move(galaxy)), orbit_(*galaxy_, r0, v0) {}

  void derivatives(double t, const Vec3& x, const Vec3& v, const Vec3* motion, int nd,
                   Vec3* out) const override {
    const Centre& c = centre(t);
    const Vec3 y = sum(c.r, x);
    Vec3 dy[3] = {sum(c.v, v), Vec3{}, Vec3{}};
    for (int m = 0; m + 2 < nd; ++m) dy[m + 1] = sum(c.g[m], motion[m]);
    galaxy_->derivatives(y, dy, nd, out);
    for (int n = 0; n < nd; ++n) {
      for (int k = 0; k < 3; ++k) out[n][k] -= c.g[n][k];
    }
  }
  double potential(double t, const Vec3& x) const override {
    const Centre& c = centre(t);
    const double lin = c.g[0][0] * x[0] + c.g[0][1] * x[1] + c.g[0][2] * x[2];
    return (galaxy_->potential(sum(c.r, x)) - c.phi) + lin;
  }
  double jacobi_radius(double t, double m) const override {
    const Centre& c = centre(t);
    const double r = hermite::norm(c.r);
    Vec3 e[1], d[2];
    for (int k = 0; k < 3; ++k) e[0][k] = c.r[k] / r;
    galaxy_->derivatives(c.r, e, 2, d);
    const Vec3 l{c.r[1] * c.v[2] - c.r[2] * c.v[1], c.r[2] * c.v[0] - c.r[0] * c.v[2],
                 c.r[0] * c.v[1] - c.r[1] * c.v[0]};
    const double w = hermite::norm(l) / (r * r);
    const double k = w * w + (d[1][0] * e[0][0] + d[1][1] * e[0][1] + d[1][2] * e[0][2]);
    return k > 0.0 ? std::cbrt(m / k) : std::numeric_limits<double>::infinity();
  }
  // p = -V.tide + J.x with V, A, J, S, C the velocity of the orbit and its
  // derivatives; p' = -A.tide - V.tide' + S.x + J.v;
  // p'' = -J.tide - 2 A.tide' - V.tide'' + C.x + 2 S.v + J.a.
  void power(double t, const Vec3& x, const Vec3& v, const Vec3& a, double* p) const override {
    const Centre& c = centre(t);
    Vec3 tide[3];
    const Vec3 motion[1] = {a};
    derivatives(t, x, v, motion, 3, tide);
    p[0] = -dot(c.v, tide[0]) + dot(c.g[1], x);
    p[1] = -dot(c.g[0], tide[0]) - dot(c.v, tide[1]) + dot(c.g[2], x) + dot(c.g[1], v);
    p[2] = -dot(c.g[1], tide[0]) - 2.0 * dot(c.g[0], tide[1]) - dot(c.v, tide[2]) + dot(c.g[3], x) +
           2.0 * dot(c.g[2], v) + dot(c.g[1], a);
  }
  Vec3 outward(double t) const override {
    const Centre& c = centre(t);
    const double r = hermite::norm(c.r);
    return Vec3{c.r[0] / r, c.r[1] / r, c.r[2] / r};
  }
  Vec3 galactic_position(double t, const Vec3& x) const override { return sum(centre(t).r, x); }
  bool time_dependent() const override { return true; }
  bool velocity_dependent() const override { return false; }
  std::string describe() const override {
    const Centre& c = centre(0.0);
    char t[256];
    std::snprintf(t, sizeof t,
                  "tides along the orbit from (%.6g, %.6g, %.6g) at (%.6g, %.6g, %.6g), step %.6g",
                  c.r[0], c.r[1], c.r[2], c.v[0], c.v[1], c.v[2], orbit_.step());
    return galaxy_->describe() + "; " + t;
  }

 private:
  struct Centre {
    double t = -1.0;
    Vec3 r, v, g[4];  // the orbit and the derivatives of its acceleration
    double phi = 0.0;
  };
  static Vec3 sum(const Vec3& a, const Vec3& b) {
    return Vec3{a[0] + b[0], a[1] + b[1], a[2] + b[2]};
  }
  static double dot(const Vec3& a, const Vec3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  }

  // The centre at time t; the integrator asks for one time many times over.
  const Centre& centre(double t) const {
    if (t != cache_.t) {
      orbit_.at(t, cache_.r, cache_.v);
      orbit_derivatives(*galaxy_, cache_.r, cache_.v, 4, cache_.g);
      cache_.phi = galaxy_->potential(cache_.r);
      cache_.t = t;
    }
    return cache_;
  }

  std::shared_ptr<const Galaxy> galaxy_;
  Orbit orbit_;
  mutable Centre cache_;
};

}  // namespace

std::unique_ptr<Field> make_orbit_field(std::shared_ptr<const Galaxy> galaxy, const Vec3& r0,
                                        const Vec3& v0) {
  return std::make_unique<OrbitField>(std::move(galaxy), r0, v0);
}

}  // namespace fields

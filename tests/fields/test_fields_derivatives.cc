// The field library alone: the galaxy components' accelerations and their
// derivatives along a motion against the derivatives of the potentials by
// nested dual numbers (a route that shares nothing with the library's
// Taylor jets and closed-form accelerations); every field's jerk, snap and
// crackle against finite differences of its acceleration along a known
// trajectory; Jacobi radii and the Lagrange points.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "field.h"
#include "galaxy.h"
#include "potentials.h"

namespace fields_test {
namespace {

using fields::Galaxy;
using fields::Vec3;

// d^n/dt^n of -d phi / dy_i along y(t) = y + v t + a t^2/2 + j t^3/6.
void dual_derivatives(const std::vector<Potential>& phi, const Vec3& y, const Vec3* dy, Vec3* out) {
  const D4 t = seed(0.0, 1) + seed(0.0, 2) + seed(0.0, 3);
  const D4 t2 = t * t, t3 = t2 * t;
  for (int i = 0; i < 3; ++i) {
    D4 path[3];
    for (int c = 0; c < 3; ++c) {
      path[c] = constant(y[c]) + dy[0][c] * t + (0.5 * dy[1][c]) * t2 + (dy[2][c] / 6.0) * t3;
    }
    path[i] = path[i] + seed(0.0, 4);
    D4 psi = constant(0.0);
    for (const Potential& p : phi) psi = psi + p.d4(path);
    out[0][i] = -psi.b.a.a.a;
    out[1][i] = -psi.b.a.a.b;
    out[2][i] = -psi.b.a.b.b;
    out[3][i] = -psi.b.b.b.b;
  }
}

TEST(GalaxyComponents, DerivativesAlongAMotionMatchThePotentials) {
  for (Case& k : cases()) {
    const Galaxy& g = *k.galaxy;
    for (const Vec3& y : {Vec3{1.3, -0.4, 0.25}, Vec3{-0.2, 2.1, -0.6}, Vec3{8.0, 0.5, 0.02}}) {
      const Vec3 dy[3] = {{0.3, 0.9, -0.2}, {-0.5, 0.1, 0.35}, {0.2, -0.7, 0.4}};
      Vec3 want[4], got[4];
      dual_derivatives(k.phi, y, dy, want);
      g.derivatives(y, dy, 4, got);
      for (int n = 0; n < 4; ++n) {
        const double scale = hermite::norm(want[n]);
        for (int c = 0; c < 3; ++c) {
          EXPECT_NEAR(got[n][c], want[n][c], 1e-12 * scale) << k.name << ", derivative " << n;
        }
      }
      // The potential itself against the dual route's value.
      D4 pos[3] = {constant(y[0]), constant(y[1]), constant(y[2])};
      double phi = 0.0;
      for (const Potential& p : k.phi) phi += value(p.d4(pos));
      EXPECT_NEAR(g.potential(y), phi, 1e-14 * std::fabs(phi)) << k.name;
    }
  }
}

// Derivatives 1 .. 3 at t = 0 of f(t), from its values at t = k d, k = -4
// .. 4: the derivatives of the interpolating polynomial of degree 8.
void finite_differences(const std::function<Vec3(double)>& f, double d, Vec3* out) {
  // Central stencils of order 8 for the first three derivatives.
  static const double c1[5] = {0.0, 4.0 / 5, -1.0 / 5, 4.0 / 105, -1.0 / 280};
  static const double c2[5] = {-205.0 / 72, 8.0 / 5, -1.0 / 5, 8.0 / 315, -1.0 / 560};
  static const double c3[5] = {0.0, -61.0 / 30, 169.0 / 120, -3.0 / 10, 7.0 / 240};
  Vec3 fp[5], fm[5];
  for (int k = 0; k <= 4; ++k) {
    fp[k] = f(k * d);
    fm[k] = f(-k * d);
  }
  for (int c = 0; c < 3; ++c) {
    double s1 = 0.0, s2 = c2[0] * fp[0][c], s3 = 0.0;
    for (int k = 1; k <= 4; ++k) {
      s1 += c1[k] * (fp[k][c] - fm[k][c]);
      s2 += c2[k] * (fp[k][c] + fm[k][c]);
      s3 += c3[k] * (fp[k][c] - fm[k][c]);
    }
    out[0][c] = s1 / d;
    out[1][c] = s2 / (d * d);
    out[2][c] = s3 / (d * d * d);
  }
}

// The field's acceleration along x(t) = x + v t + a t^2/2 + j t^3/6 + s t^4/24
// from t0, against its jerk, snap and crackle at t0 given (a, j, s).
void check_field(const fields::Field& f, double t0, const Vec3& x, const Vec3& v, double d,
                 const std::string& name) {
  const Vec3 motion[3] = {{0.02, -0.03, 0.015}, {-0.01, 0.02, 0.03}, {0.04, 0.01, -0.02}};
  auto along = [&](double t) {
    Vec3 p, q;
    for (int c = 0; c < 3; ++c) {
      p[c] = x[c] +
             t * (v[c] + t * (motion[0][c] / 2 + t * (motion[1][c] / 6 + t * motion[2][c] / 24)));
      q[c] = v[c] + t * (motion[0][c] + t * (motion[1][c] / 2 + t * motion[2][c] / 6));
    }
    Vec3 out[1];
    f.derivatives(t0 + t, p, q, motion, 1, out);
    return out[0];
  };
  Vec3 got[4], fd[3];
  f.derivatives(t0, x, v, motion, 4, got);
  finite_differences(along, d, fd);
  for (int n = 1; n < 4; ++n) {
    const double scale = hermite::norm(got[n]);
    EXPECT_GT(scale, 0.0) << name;
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(got[n][c], fd[n - 1][c], 1e-6 * scale) << name << ", derivative " << n;
    }
  }
  // add() builds the same terms from the totals: with no mutual force the
  // totals are the field's own.
  Vec3 f4[4] = {};
  f.add(t0, x, v, 4, f4);
  Vec3 m[3] = {f4[0], f4[1], f4[2]}, want[4];
  f.derivatives(t0, x, v, m, 4, want);
  for (int n = 0; n < 4; ++n) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(f4[n][c], want[n][c]) << name;
  }
}

TEST(Fields, JerkSnapAndCrackleMatchFiniteDifferences) {
  const Vec3 x{0.3, -0.2, 0.15}, v{0.05, 0.2, -0.1};
  check_field(*fields::make_hill_field(0.7), 0.0, x, v, 1e-2, "Hill");
  for (Case& k : cases()) {
    const auto& g = k.galaxy;
    check_field(*fields::make_rotating_field(g, 4.0), 0.0, x, v, 1e-2, "rotating, " + k.name);
    // A star 0.3 from the centre of an inclined orbit, part way along it
    // (within one step of the orbit's nodes: the orbit is a polynomial
    // there).
    auto f = fields::make_orbit_field(g, Vec3{4.0, 0.5, 0.8}, Vec3{0.1, 0.9, 0.3});
    check_field(*f, 0.34, x, v, 6e-3, "orbit, " + k.name);
  }
}

// Net force on a star at rest at x in the field and a cluster of mass m at
// the origin, along x.
double net_force(const fields::Field& f, double m, double x) {
  Vec3 out[1];
  const Vec3 motion[3] = {};
  f.derivatives(0.0, Vec3{x, 0.0, 0.0}, Vec3{}, motion, 1, out);
  return out[0][0] - m * x / std::fabs(x * x * x);
}

TEST(Fields, JacobiRadiusAndLagrangePoints) {
  // Hill's field: r_J = (m / 3 omega^2)^(1/3), and the net force vanishes
  // at L1 and L2, x = -+ r_J.
  const double w = 0.7, m = 1.3;
  const auto hill = fields::make_hill_field(w);
  const double rj = hill->jacobi_radius(0.0, m);
  EXPECT_NEAR(rj, std::cbrt(m / (3.0 * w * w)), 1e-15);
  for (double x : {-rj, rj}) EXPECT_NEAR(net_force(*hill, m, x), 0.0, 1e-14 * m / (rj * rj));

  // A point-mass galaxy M at R: r_J = R (m / 3M)^(1/3). The exact L1 and
  // L2 lie within O(r_J / R) of it (L1 nearer, L2 farther), and near the
  // centre the exact field is Hill's with omega^2 = M / R^3.
  const double M = 1000.0, R = 20.0;
  auto g = std::make_shared<Galaxy>();
  g->add(fields::make_point_mass(M));
  const auto exact = fields::make_rotating_field(g, R);
  const double rj2 = exact->jacobi_radius(0.0, 1.0);
  EXPECT_NEAR(rj2, R * std::cbrt(1.0 / (3.0 * M)), 1e-14 * rj2);
  for (double side : {-1.0, 1.0}) {
    double lo = 0.5 * rj2, hi = 1.5 * rj2;  // the root of the net force
    for (int it = 0; it < 200; ++it) {
      const double mid = 0.5 * (lo + hi);
      (net_force(*exact, 1.0, side * mid) * side < 0.0 ? lo : hi) = mid;
    }
    const double l = 0.5 * (lo + hi);
    EXPECT_LT(std::fabs(l - rj2), rj2 * rj2 / R) << "side " << side;
    EXPECT_EQ(l < rj2, side < 0.0) << "L1 lies inside r_J towards the galaxy";
  }
  const auto hill2 = fields::make_hill_field(std::sqrt(M / (R * R * R)));
  EXPECT_NEAR(hill2->jacobi_radius(0.0, 1.0), rj2, 1e-14 * rj2);
  const double scale = 1e-3 * R;
  const Vec3 x{0.6 * scale, -0.5 * scale, 0.7 * scale}, v{0.1, 0.3, -0.2};
  const Vec3 motion[3] = {};
  Vec3 a1[1], a2[1];
  exact->derivatives(0.0, x, v, motion, 1, a1);
  hill2->derivatives(0.0, x, v, motion, 1, a2);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(a1[0][c], a2[0][c], 3e-3 * hermite::norm(a2[0]));
  EXPECT_NEAR(exact->potential(0.0, x), hill2->potential(0.0, x),
              3e-3 * std::fabs(hill2->potential(0.0, x)));
}

}  // namespace
}  // namespace fields_test

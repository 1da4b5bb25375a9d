// The bound mass about the density centre against its definition, checked
// by brute force: M_J is the largest mass M with M(< r_J(M)) = M, and the
// potential escapers are the stars within r_J above -3/2 M_J / r_J (Hill's
// field, closed form).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "bound_mass.h"

namespace fields_test {
namespace {

using fields::Vec3;

TEST(BoundMass, IsTheLargestSelfConsistentMassWithinTheJacobiRadius) {
  const double w = 0.3;
  const auto hill = fields::make_hill_field(w);
  auto rj_of = [&](double m) { return std::cbrt(m / (3.0 * w * w)); };
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const int n = 400;
  std::vector<double> mass(n);
  std::vector<Vec3> pos(n), vel(n);
  std::vector<double> pot(n);
  const Vec3 centre{0.0, 0.0, 0.0};  // the frame's origin: L1 at (-r_J, 0, 0)
  for (int i = 0; i < n; ++i) {
    // Stars spread out to some 3 r_J of the whole mass, a few left at mass 0.
    mass[i] = i % 37 == 0 ? 0.0 : 1.0 / n * (1.0 + 0.5 * u(rng));
    const double r = 3.0 * rj_of(1.0) * std::pow(std::fabs(u(rng)), 1.5);
    Vec3 d{u(rng), u(rng), u(rng)};
    const double dn = std::hypot(d[0], d[1], d[2]);
    for (int c = 0; c < 3; ++c) {
      pos[i][c] = centre[c] + r * d[c] / dn;
      vel[i][c] = 0.3 * u(rng);
    }
    pot[i] = -0.6 - 0.4 * u(rng);
  }
  const fields::Bound b = fields::bound_mass(*hill, 0.0, mass, pos, vel, pot, centre);

  auto mass_within = [&](double r) {
    double m = 0.0;
    for (int i = 0; i < n; ++i) {
      if (std::hypot(pos[i][0] - centre[0], pos[i][1] - centre[1], pos[i][2] - centre[2]) < r)
        m += mass[i];
    }
    return m;
  };
  ASSERT_GT(b.mass, 0.1);
  EXPECT_NEAR(b.r_jacobi, rj_of(b.mass), 1e-14);
  EXPECT_NEAR(mass_within(b.r_jacobi), b.mass, 1e-12);
  double total = 0.0;
  for (double m : mass) total += m;
  EXPECT_LT(b.mass, total);
  // No larger fixed point (the map M -> M(< r_J(M)) never rises with M,
  // so the iteration from the total mass stops at the largest one).
  for (int i = 0; i < n; ++i) {
    const double r =
        std::hypot(pos[i][0] - centre[0], pos[i][1] - centre[1], pos[i][2] - centre[2]);
    const double m = mass_within(r) + mass[i];  // the mass out to and with star i
    if (m > b.mass + 1e-12 && mass[i] > 0.0) {
      EXPECT_GT(std::fabs(mass_within(rj_of(m)) - m), 1e-12) << i;
    }
  }
  int inside = 0, esc = 0;
  const double e_crit = -1.5 * b.mass / b.r_jacobi;
  for (int i = 0; i < n; ++i) {
    const double r =
        std::hypot(pos[i][0] - centre[0], pos[i][1] - centre[1], pos[i][2] - centre[2]);
    if (mass[i] == 0.0 || r >= b.r_jacobi) continue;
    ++inside;
    const Vec3& v = vel[i];
    const double e = 0.5 * (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) + pot[i] +
                     w * w * (-1.5 * pos[i][0] * pos[i][0] + 0.5 * pos[i][2] * pos[i][2]);
    if (e > e_crit) ++esc;
  }
  EXPECT_EQ(b.n, inside);
  EXPECT_EQ(b.n_pot_esc, esc);
  EXPECT_GT(esc, 0);
}

}  // namespace
}  // namespace fields_test

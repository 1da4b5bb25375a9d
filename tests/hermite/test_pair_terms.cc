// The host's pair terms against the pair's field differentiated
// numerically along a known relative trajectory: the acceleration
// m r / (r^2 + eps^2)^(3/2) evaluated on a cubic path, its time
// derivatives by Richardson-extrapolated central differences. The
// quadrupole field of a pair (regularisation.h) against the two members'
// point-mass fields less that of their sum, far away, and its jerk
// against the field differenced along a straight path.
#include <gtest/gtest.h>

#include <cmath>

#include "pair_terms.h"
#include "regularisation.h"

namespace {

using hermite::Vec3;

// Relative position on the path r(t) = r0 + v0 t + a0 t^2/2 + j0 t^3/6 and
// its derivatives at t = 0.
const Vec3 r0{0.3, -0.2, 0.15}, v0{-0.4, 0.9, 0.2}, a0{1.1, 0.3, -0.7}, j0{-2.0, 0.5, 1.3};

Vec3 path(double t) {
  Vec3 r;
  for (int c = 0; c < 3; ++c) {
    r[c] = r0[c] + t * (v0[c] + t * (a0[c] / 2.0 + t * j0[c] / 6.0));
  }
  return r;
}

Vec3 field(double t, double m, double eps2) {
  const Vec3 r = path(t);
  const double r2 = r[0] * r[0] + r[1] * r[1] + r[2] * r[2] + eps2;
  const double f = m / (r2 * std::sqrt(r2));
  return Vec3{f * r[0], f * r[1], f * r[2]};
}

// The n-th derivative (n = 1, 2, 3) of the field at t = 0 by central
// differences of step h, extrapolated over h and h/2.
double derivative(int n, int c, double m, double eps2) {
  auto diff = [&](double h) {
    auto f = [&](double t) { return field(t, m, eps2)[c]; };
    switch (n) {
      case 1:
        return (f(h) - f(-h)) / (2.0 * h);
      case 2:
        return (f(h) - 2.0 * f(0.0) + f(-h)) / (h * h);
      default:
        return (f(2.0 * h) - 2.0 * f(h) + 2.0 * f(-h) - f(-2.0 * h)) / (2.0 * h * h * h);
    }
  };
  const double h = 2e-3;
  return (4.0 * diff(h / 2.0) - diff(h)) / 3.0;
}

TEST(PairTerms, MatchTheFieldDifferentiatedAlongThePath) {
  for (double eps2 : {0.0, 0.01}) {
    const double m = 0.7;
    Vec3 out[4] = {};
    hermite::add_pair_terms<4>(r0, v0, a0, j0, m, eps2, out);
    const Vec3 a = field(0.0, m, eps2);
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(out[0][c], a[c], 1e-14) << "eps2 " << eps2;
      for (int n = 1; n <= 3; ++n) {
        const double want = derivative(n, c, m, eps2);
        EXPECT_NEAR(out[n][c], want, 2e-5 * (1.0 + std::fabs(want)))
            << "derivative " << n << ", eps2 " << eps2;
      }
    }
    // The lower orders compute the same leading terms and add to what is there.
    Vec3 four[2] = {Vec3{1, 1, 1}, Vec3{2, 2, 2}};
    hermite::add_pair_terms<2>(r0, v0, a0, j0, m, eps2, four);
    for (int c = 0; c < 3; ++c) {
      EXPECT_DOUBLE_EQ(four[0][c], 1.0 + out[0][c]);
      EXPECT_DOUBLE_EQ(four[1][c], 2.0 + out[1][c]);
    }
  }
}

// A pair of masses 0.2 and 0.6 at separation 1e-3 seen from about 1e-1 (a
// thousand times the separation cubed against the distance's: the octupole
// left out is ~1e-2 of the quadrupole for these unequal masses, so 3e-2 is
// asked), softened and not.
TEST(QuadrupoleTerms, MatchTheMembersLessThePointMassFarAway) {
  const double m1 = 0.2, m2 = 0.6, mass = m1 + m2, mu = m1 * m2 / mass;
  const Vec3 r{6e-4, -7e-4, 3.8e-4};  // x2 - x1
  const Vec3 x1{-m2 / mass * r[0], -m2 / mass * r[1], -m2 / mass * r[2]};
  const Vec3 x2{m1 / mass * r[0], m1 / mass * r[1], m1 / mass * r[2]};
  const encounters::Sym3 q{mu * r[0] * r[0], mu * r[1] * r[1], mu * r[2] * r[2],
                           mu * r[0] * r[1], mu * r[0] * r[2], mu * r[1] * r[2]};
  const Vec3 d0{0.05, 0.07, -0.06}, u{0.3, -0.2, 0.5};
  for (double eps2 : {0.0, 1e-3}) {
    auto beyond = [&](const Vec3& d) {
      Vec3 out[2] = {};
      hermite::add_pair_terms<2>(Vec3{x1[0] - d[0], x1[1] - d[1], x1[2] - d[2]}, Vec3{}, Vec3{},
                                 Vec3{}, m1, eps2, out);
      hermite::add_pair_terms<2>(Vec3{x2[0] - d[0], x2[1] - d[1], x2[2] - d[2]}, Vec3{}, Vec3{},
                                 Vec3{}, m2, eps2, out);
      hermite::add_pair_terms<2>(Vec3{-d[0], -d[1], -d[2]}, Vec3{}, Vec3{}, Vec3{}, -mass, eps2,
                                 out);
      return out[0];
    };
    Vec3 quad[2] = {};
    hermite::add_quadrupole_terms(d0, u, q, eps2, 1.0, quad);
    const Vec3 direct = beyond(d0);
    const double size =
        std::sqrt(direct[0] * direct[0] + direct[1] * direct[1] + direct[2] * direct[2]);
    const double h = 1e-4;
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(quad[0][c], direct[c], 3e-2 * size) << "eps2 " << eps2;
      // The jerk: the quadrupole field itself differenced along d0 + u t.
      auto at = [&](double t) {
        Vec3 o[2] = {};
        hermite::add_quadrupole_terms(Vec3{d0[0] + u[0] * t, d0[1] + u[1] * t, d0[2] + u[2] * t}, u,
                                      q, eps2, 1.0, o);
        return o[0][c];
      };
      const double rate = (8.0 * (at(h) - at(-h)) - (at(2 * h) - at(-2 * h))) / (12.0 * h);
      EXPECT_NEAR(quad[1][c], rate, 1e-7 * std::fabs(rate) + 1e-12) << "eps2 " << eps2;
    }
    // `scale` multiplies both terms and adds to what is there.
    Vec3 scaled[2] = {Vec3{1, 1, 1}, Vec3{2, 2, 2}};
    hermite::add_quadrupole_terms(d0, u, q, eps2, -0.5, scaled);
    for (int c = 0; c < 3; ++c) {
      EXPECT_DOUBLE_EQ(scaled[0][c], 1.0 - 0.5 * quad[0][c]);
      EXPECT_DOUBLE_EQ(scaled[1][c], 2.0 - 0.5 * quad[1][c]);
    }
  }
}

}  // namespace

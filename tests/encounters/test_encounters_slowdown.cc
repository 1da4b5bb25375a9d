// The slow-down of a weakly perturbed pair (ar_slowdown.h): a pair in the
// static tidal field of two distant masses, 256 orbits integrated in full
// against the same span slowed by 8 (32 orbits integrated). The slowed
// pair must follow the secular change of the orbit (its angular momentum
// turns under the tidal torque), book the work it takes, and end on the
// target time.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "ar_slowdown.h"
#include "subsystem.h"

namespace {

using encounters::Subsystem;
using encounters::Vec3;

constexpr double kMp = 1.0;  // each perturber's mass
constexpr double kD = 25.0;  // their distance, on either side of the pair
constexpr double kPi = 3.14159265358979323846;

Vec3 field(const Vec3& x) {
  Vec3 f{0, 0, 0};
  for (double sign : {1.0, -1.0}) {
    const Vec3 p{sign * kD * 0.6, sign * kD * 0.48, sign * kD * 0.64};
    const double d[3] = {p[0] - x[0], p[1] - x[1], p[2] - x[2]};
    const double r = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    for (int k = 0; k < 3; ++k) f[k] += kMp * d[k] / (r * r * r);
  }
  return f;
}

// Pair of masses 0.5 + 0.5 (M = 1), a = 1, e = 0.4, at pericentre in the
// x-y plane.
Subsystem pair() {
  const double vp = std::sqrt((1 + 0.4) / 0.6);
  return encounters::make_subsystem({0, 1}, {0.5, 0.5}, {Vec3{-0.3, 0, 0}, Vec3{0.3, 0, 0}},
                                    {Vec3{0, -0.5 * vp, 0}, Vec3{0, 0.5 * vp, 0}}, 0.0);
}

Vec3 angular_momentum(const Subsystem& s) {
  const Vec3 r{s.x[1][0] - s.x[0][0], s.x[1][1] - s.x[0][1], s.x[1][2] - s.x[0][2]};
  const Vec3 v{s.v[1][0] - s.v[0][0], s.v[1][1] - s.v[0][1], s.v[1][2] - s.v[0][2]};
  return {r[1] * v[2] - r[2] * v[1], r[2] * v[0] - r[0] * v[2], r[0] * v[1] - r[1] * v[0]};
}

TEST(Slowdown, SlowedPairFollowsTheSecularChangeAndBooksItsWork) {
  encounters::Perturbation p;
  p.tidal = [](double, const std::vector<Vec3>& x, std::vector<Vec3>& acc) {
    for (std::size_t i = 0; i < x.size(); ++i) acc[i] = field(x[i]);
  };
  const double t_end = 256 * 2.0 * kPi;
  Subsystem full = pair(), slow = pair();
  const Vec3 l0 = angular_momentum(full);
  const double e0 = encounters::internal_energy(slow);
  for (int k = 1; k <= 16; ++k) {
    encounters::ar_advance(full, t_end * k / 16, p);
    encounters::ar_advance_slowed(slow, t_end * k / 16, p, 8.0);
    ASSERT_EQ(slow.t, t_end * k / 16);
  }
  const Vec3 lf = angular_momentum(full), ls = angular_momentum(slow);
  double change = 0.0, miss = 0.0;
  for (int c = 0; c < 3; ++c) {
    change += (lf[c] - l0[c]) * (lf[c] - l0[c]);
    miss += (ls[c] - lf[c]) * (ls[c] - lf[c]);
  }
  // The secular turn is a sizeable part of L; the slowed pair's short-period
  // terms are 8 times larger, still far smaller.
  EXPECT_GT(std::sqrt(change), 0.02 * std::sqrt(l0[0] * l0[0] + l0[1] * l0[1] + l0[2] * l0[2]));
  EXPECT_LT(std::sqrt(miss), 0.05 * std::sqrt(change));
  // Far fewer steps for the slowed pair, and its energy balance holds.
  EXPECT_LT(slow.steps * 4, full.steps);
  EXPECT_NEAR(encounters::internal_energy(slow) - e0, slow.work, 1e-11 * std::fabs(e0));
}

TEST(Slowdown, FactorIsAPowerOfTwoWithinItsBounds) {
  // gamma_slow / gamma = 100, span / period = 1000, cap 256: 64.
  EXPECT_EQ(encounters::slowdown_factor(1e-7, 1e-5, 1.0, 1000.0, 256.0), 64.0);
  // The span allows 10 orbits: 8.
  EXPECT_EQ(encounters::slowdown_factor(1e-9, 1e-5, 1.0, 10.0, 256.0), 8.0);
  EXPECT_EQ(encounters::slowdown_factor(1e-12, 1e-5, 1.0, 1e9, 256.0), 256.0);
  // Too perturbed, or too short a span: none.
  EXPECT_EQ(encounters::slowdown_factor(1e-5, 1e-5, 1.0, 1e9, 256.0), 1.0);
  EXPECT_EQ(encounters::slowdown_factor(1e-9, 1e-5, 1.0, 1.5, 256.0), 1.0);
  Subsystem s = pair();
  EXPECT_THROW(encounters::ar_advance_slowed(s, 1.0, {}, 0.5), std::invalid_argument);
  EXPECT_EQ(s.t, 0.0);
}

}  // namespace

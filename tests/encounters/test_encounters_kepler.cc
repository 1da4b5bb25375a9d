// Pairs: the regularised integrator and the closed-form drift against orbits
// from Kepler's equation solved in the test.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>

#include "kepler_orbit.h"
#include "subsystem.h"

namespace {

using encounters::Subsystem;
using encounters::Vec3;

constexpr double kM1 = 0.6, kM2 = 0.4, kMtot = 1.0;

Subsystem pair_from(const kepler_ref::State& s) {
  // The members about their centre of mass.
  return encounters::make_subsystem({7, 9}, {kM1, kM2},
                                    {Vec3{-kM2 * s.r[0], -kM2 * s.r[1], -kM2 * s.r[2]},
                                     Vec3{kM1 * s.r[0], kM1 * s.r[1], kM1 * s.r[2]}},
                                    {Vec3{-kM2 * s.v[0], -kM2 * s.v[1], -kM2 * s.v[2]},
                                     Vec3{kM1 * s.v[0], kM1 * s.v[1], kM1 * s.v[2]}},
                                    0.0);
}

Vec3 relative(const std::vector<Vec3>& x) {
  return {x[1][0] - x[0][0], x[1][1] - x[0][1], x[1][2] - x[0][2]};
}

// Quasi-random fraction of an orbit (golden-ratio sequence).
double phase(int k) { return std::fmod(0.5 + 0.6180339887498949 * k, 1.0); }

class ArKepler : public ::testing::TestWithParam<double> {};

// 1,000 orbits in 1,000 calls ending at quasi-random phases (every call lands
// on its target): energy held to 1e-10, mean anomaly to 1e-6 rad.
TEST_P(ArKepler, ThousandOrbitsHoldEnergyAndPhase) {
  const double e = GetParam(), a = 1.0;
  const double two_pi = 2.0 * std::acos(-1.0);
  const double period = two_pi * std::sqrt(a * a * a / kMtot);
  const double mean0 = 3.0;  // near apocentre
  Subsystem s = pair_from(kepler_ref::state(kMtot, a, e, mean0));
  const double e0 = encounters::internal_energy(s);
  encounters::ArSettings settings;
  settings.kepler_shortcut = false;
  double worst_energy = 0.0, worst_phase = 0.0;
  for (int k = 0; k < 1000; ++k) {
    const double target = period * (k + phase(k));
    encounters::ar_advance(s, target, {}, settings);
    ASSERT_EQ(s.t, target);
    const double de = std::fabs((encounters::internal_energy(s) - e0) / e0);
    const double expected = std::fmod(mean0 + two_pi * target / period, two_pi);
    const double got = kepler_ref::mean_anomaly(kMtot, a, e, relative(s.x), relative(s.v));
    worst_energy = std::fmax(worst_energy, de);
    worst_phase = std::fmax(worst_phase, std::fabs(kepler_ref::angle_difference(got, expected)));
  }
  EXPECT_LE(worst_energy, 1e-10);
  EXPECT_LE(worst_phase, 1e-6);
  EXPECT_EQ(s.kepler_drifts, 0);
  EXPECT_GT(s.steps, 1000);
  // The centre of mass stays at the origin.
  EXPECT_NEAR(kM1 * s.x[0][0] + kM2 * s.x[1][0], 0.0, 1e-13);
  RecordProperty("steps", std::to_string(s.steps));
}

INSTANTIATE_TEST_SUITE_P(Eccentric, ArKepler, ::testing::Values(0.99, 0.999));

// Calls of every size land: tiny intervals (closed by the Taylor step
// alone), an empty one, and a long one, against the closed-form drift.
TEST(ArKeplerLanding, TinyEmptyAndLongIntervals) {
  Subsystem s = pair_from(kepler_ref::state(kMtot, 1.0, 0.7, 0.1));
  Subsystem ref = s;
  encounters::ArSettings settings;
  settings.kepler_shortcut = false;
  double t = 0.0;
  for (int k = 0; k < 50; ++k) {
    t += 1e-13;
    encounters::ar_advance(s, t, {}, settings);
    ASSERT_EQ(s.t, t);
  }
  encounters::ar_advance(s, t, {}, settings);  // empty
  for (double dt : {1e-9, 1e-5, 0.3, 17.0}) {
    t += dt;
    encounters::ar_advance(s, t, {}, settings);
    ASSERT_EQ(s.t, t);
  }
  encounters::kepler_drift(ref, t);
  for (int i = 0; i < 2; ++i)
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(s.x[i][k], ref.x[i][k], 1e-11);
      EXPECT_NEAR(s.v[i][k], ref.v[i][k], 1e-11);
    }
}

double max_abs_diff(const Vec3& a, const kepler_ref::V3& b) {
  return std::fmax(std::fabs(a[0] - b[0]),
                   std::fmax(std::fabs(a[1] - b[1]), std::fabs(a[2] - b[2])));
}

// The closed-form drift over many orbits in jumps of irregular length,
// against Kepler's equation; bound orbits of several eccentricities and a
// hyperbola. A state that lands near pericentre holds its energy only to
// ~eps a / r (the two terms of the energy nearly cancel), so over ~1,200
// orbits the phase walks; checked are the state of the first jumps, then
// energy and mean anomaly throughout.
TEST(KeplerDrift, AgreesWithKeplersEquation) {
  const double two_pi = 2.0 * std::acos(-1.0);
  for (double e : {0.0, 0.049, 0.051, 0.3, 0.9, 0.99, 0.999, 0.9999}) {
    const double a = 2.0;
    const double n = std::sqrt(kMtot / (a * a * a));
    const double mean0 = 0.4;
    Subsystem s = pair_from(kepler_ref::state(kMtot, a, e, mean0));
    const double e0 = encounters::internal_energy(s);
    const double vscale = std::sqrt(kMtot / (a * (1.0 - e)));
    double t = 0.0;
    for (int k = 0; k < 300; ++k) {
      const double dt = (0.3 + 7.0 * phase(k)) * two_pi / n;  // up to seven orbits a jump
      encounters::kepler_drift(s, dt);
      t += dt;
      const kepler_ref::State ref = kepler_ref::state(kMtot, a, e, mean0 + n * t);
      if (k < 5) {
        ASSERT_LE(max_abs_diff(relative(s.x), ref.r), 1e-10 * a) << "e = " << e << " jump " << k;
        ASSERT_LE(max_abs_diff(relative(s.v), ref.v), 1e-10 * vscale)
            << "e = " << e << " jump " << k;
      }
      ASSERT_LE(std::fabs(encounters::internal_energy(s) / e0 - 1.0), 1e-10) << e << " " << k;
      const double got = kepler_ref::mean_anomaly(kMtot, a, e, relative(s.x), relative(s.v));
      const double expected = std::fmod(mean0 + n * t, two_pi);
      if (e > 0.0) {
        ASSERT_LE(std::fabs(kepler_ref::angle_difference(got, expected)), 1e-6) << e << " " << k;
      }
    }
    EXPECT_NEAR(s.t, t, 1e-12 * t);
    EXPECT_EQ(s.kepler_drifts, 300);
  }
  // A hyperbola from far out, through pericentre and out again.
  const double a = -1.5, e = 1.7;
  const double n = std::sqrt(kMtot / (-a * -a * -a));
  Subsystem s = pair_from(kepler_ref::state(kMtot, a, e, -20.0));
  for (int k = 1; k <= 40; ++k) {
    encounters::kepler_drift(s, 1.0 / n);
    const kepler_ref::State ref = kepler_ref::state(kMtot, a, e, -20.0 + k);
    const double rr = std::sqrt(ref.r[0] * ref.r[0] + ref.r[1] * ref.r[1] + ref.r[2] * ref.r[2]);
    ASSERT_LE(max_abs_diff(relative(s.x), ref.r), 1e-11 * rr) << "step " << k;
  }
}

// A drift forth and back returns the start (to rounding grown over up to
// 3,000 orbits in the tightest case), for ellipses, the parabola and
// hyperbolae; the two-body elements stay put.
TEST(KeplerDrift, RoundTripsAndConservesElements) {
  struct Case {
    Vec3 r, v;
  };
  const double vpar = std::sqrt(2.0 * kMtot / 1.0);  // parabolic at r = 1
  for (const Case& c :
       {Case{{1.0, 0.0, 0.0}, {0.0, 0.3, 0.1}}, Case{{1.0, 0.0, 0.0}, {0.0, vpar, 0.0}},
        Case{{0.2, -0.5, 0.3}, {2.0, 1.0, -0.5}}, Case{{1e-3, 0.0, 0.0}, {0.0, 44.0, 0.0}}}) {
    Subsystem s = pair_from({c.r, c.v});
    const Subsystem start = s;
    const double rn = std::sqrt(c.r[0] * c.r[0] + c.r[1] * c.r[1] + c.r[2] * c.r[2]);
    const double vn = std::sqrt(c.v[0] * c.v[0] + c.v[1] * c.v[1] + c.v[2] * c.v[2]);
    const encounters::PairElements before =
        encounters::pair_elements(kM1, kM2, relative(s.x), relative(s.v));
    for (double dt : {0.01, 1.0, 37.0}) {
      encounters::kepler_drift(s, dt);
      const encounters::PairElements mid =
          encounters::pair_elements(kM1, kM2, relative(s.x), relative(s.v));
      EXPECT_NEAR(mid.binding, before.binding, 1e-10 * kM1 * kM2 / rn);
      EXPECT_NEAR(mid.e, before.e, 1e-9);
      encounters::kepler_drift(s, -dt);
      for (int i = 0; i < 2; ++i)
        for (int k = 0; k < 3; ++k) {
          EXPECT_NEAR(s.x[i][k], start.x[i][k], 1e-8 * rn) << dt;
          EXPECT_NEAR(s.v[i][k], start.v[i][k], 1e-8 * vn) << dt;
        }
    }
  }
}

// Many short closed-form drifts of a very eccentric pair (a = 1, mass 1,
// period 2 pi) from pericentre: the energy, the mean anomaly against n t,
// the angular momentum and the pericentre direction, all from formulas
// written here. Near pericentre the state is a difference of terms of the
// orbit's size unless the drift rebuilds it from the elements; the energy
// then walks by ~eps (a / q)^2 per landing there.
struct DriftRun {
  double e, dt;
  int calls;
};

void PrintTo(const DriftRun& run, std::ostream* os) {
  *os << "e = " << run.e << ", " << run.calls << " drifts of " << run.dt;
}

std::string sci(double x) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2e", x);
  return buf;
}

class KeplerDriftEccentric : public ::testing::TestWithParam<DriftRun> {};

TEST_P(KeplerDriftEccentric, HoldsEnergyPhaseAndOrbit) {
  const DriftRun run = GetParam();
  const double e = run.e;
  const double two_pi = 2.0 * std::acos(-1.0);
  const Vec3 r0{1.0 - e, 0.0, 0.0}, v0{0.0, std::sqrt((1.0 + e) / (1.0 - e)), 0.0};
  Subsystem s = pair_from({r0, v0});
  auto energy = [](const Vec3& r, const Vec3& v) {
    return 0.5 * (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) -
           kMtot / std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
  };
  // Laplace-Runge-Lenz vector v x h / mu - r / |r| (h along z here).
  auto lrl = [](const Vec3& r, const Vec3& v) {
    const double hz = r[0] * v[1] - r[1] * v[0];
    const double rn = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    return Vec3{v[1] * hz / kMtot - r[0] / rn, -v[0] * hz / kMtot - r[1] / rn, 0.0};
  };
  const double e0 = energy(r0, v0);
  const double h0 = r0[0] * v0[1];
  double worst_energy = 0.0, worst_phase = 0.0, worst_h = 0.0, worst_peri = 0.0, worst_plane = 0.0;
  for (int k = 1; k <= run.calls; ++k) {
    encounters::kepler_drift(s, run.dt);
    const Vec3 r = relative(s.x), v = relative(s.v);
    worst_energy = std::fmax(worst_energy, std::fabs(energy(r, v) / e0 - 1.0));
    const double got = kepler_ref::mean_anomaly(kMtot, 1.0, e, r, v);
    const double expected = std::fmod(k * run.dt, two_pi);
    worst_phase = std::fmax(worst_phase, std::fabs(kepler_ref::angle_difference(got, expected)));
    worst_h = std::fmax(worst_h, std::fabs((r[0] * v[1] - r[1] * v[0]) / h0 - 1.0));
    const Vec3 ev = lrl(r, v);
    worst_peri = std::fmax(worst_peri, std::fabs(std::atan2(ev[1], ev[0])));
    worst_plane = std::fmax(worst_plane, std::fmax(std::fabs(r[2]), std::fabs(v[2])));
  }
  EXPECT_LE(worst_energy, 1e-11);
  EXPECT_LE(worst_phase, 1e-7);
  EXPECT_LE(worst_h, 1e-11);
  EXPECT_LE(worst_peri, 1e-12);
  EXPECT_EQ(worst_plane, 0.0);
  EXPECT_EQ(s.kepler_drifts, run.calls);
  RecordProperty("energy", sci(worst_energy));
  RecordProperty("phase", sci(worst_phase));
  RecordProperty("angular_momentum", sci(worst_h));
  RecordProperty("pericentre", sci(worst_peri));
}

// 1,000 orbits in 1,571 drifts of 4 and in 50,000 drifts of 0.125.
INSTANTIATE_TEST_SUITE_P(ThousandOrbits, KeplerDriftEccentric,
                         ::testing::Values(DriftRun{0.99, 4.0, 1571}, DriftRun{0.999, 4.0, 1571},
                                           DriftRun{0.99, 0.125, 50000},
                                           DriftRun{0.999, 0.125, 50000}));

TEST(KeplerDrift, RefusesOtherThanPairs) {
  Subsystem s = encounters::make_subsystem({1, 2, 3}, {1.0, 1.0, 1.0},
                                           {Vec3{1, 0, 0}, Vec3{0, 1, 0}, Vec3{0, 0, 1}},
                                           {Vec3{0, 0, 0}, Vec3{0, 0, 0}, Vec3{0, 0, 0}}, 0.0);
  EXPECT_THROW(encounters::kepler_drift(s, 1.0), std::invalid_argument);
}

// The orbit-averaged second moment against the mean of mu r r over 20,000
// states at evenly spaced mean anomalies (Kepler's equation solved here),
// for a circle, a moderate and a near-radial ellipse in a tilted plane; an
// unbound pair gives its instantaneous mu r r.
TEST(SecondMoment, MatchesTheTimeAverageOverTheOrbit) {
  const double m1 = 0.3, m2 = 0.7, mu = m1 * m2 / (m1 + m2);
  for (double e : {0.0, 0.6, 0.99}) {
    const int samples = 20000;
    double mean[6] = {0, 0, 0, 0, 0, 0};
    for (int k = 0; k < samples; ++k) {
      const kepler_ref::State s =
          kepler_ref::state(m1 + m2, 2.0, e, 2.0 * 3.14159265358979323846 * (k + 0.5) / samples);
      const double rr[6] = {s.r[0] * s.r[0], s.r[1] * s.r[1], s.r[2] * s.r[2],
                            s.r[0] * s.r[1], s.r[0] * s.r[2], s.r[1] * s.r[2]};
      for (int c = 0; c < 6; ++c) mean[c] += mu * rr[c] / samples;
    }
    const kepler_ref::State s0 = kepler_ref::state(m1 + m2, 2.0, e, 1.234);
    const encounters::Sym3 q = encounters::orbit_second_moment(m1, m2, s0.r, s0.v);
    for (int c = 0; c < 6; ++c) {
      // The midpoint sums converge fast except near a radial pericentre.
      EXPECT_NEAR(q[c], mean[c], (e > 0.9 ? 2e-4 : 1e-9) * mu * 4.0) << "e " << e << " c " << c;
    }
  }
  const kepler_ref::State h = kepler_ref::state(m1 + m2, -1.0, 1.5, 0.3);
  const encounters::Sym3 q = encounters::orbit_second_moment(m1, m2, h.r, h.v);
  EXPECT_DOUBLE_EQ(q[4], mu * h.r[0] * h.r[2]);
}

}  // namespace

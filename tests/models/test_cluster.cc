// Clusters from build_cluster checked from their stars alone: the binaries'
// number, orbits and distributions recovered from the members' relative
// positions and velocities, and the systems' scaling to standard units,
// with energies summed here pair by pair.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "cluster.h"

namespace {

constexpr double kAuPerPc = 206264.80624709636;

double ks_distance(std::vector<double> sample, const std::function<double(double)>& cdf) {
  std::sort(sample.begin(), sample.end());
  const double n = static_cast<double>(sample.size());
  double d = 0.0;
  for (std::size_t i = 0; i < sample.size(); ++i) {
    const double f = cdf(sample[i]);
    d = std::max({d, std::fabs(f - i / n), std::fabs((i + 1) / n - f)});
  }
  return d;
}

struct Pair {
  double a, e, binding;  // N-body units
};

// The Kepler elements of stars i and j from their state (G = 1).
Pair elements(const models::Cluster& c, std::int64_t i, std::int64_t j) {
  double r[3], w[3];
  for (int k = 0; k < 3; ++k) {
    r[k] = c.x[3 * j + k] - c.x[3 * i + k];
    w[k] = c.v[3 * j + k] - c.v[3 * i + k];
  }
  const double mt = c.m[i] + c.m[j];
  const double dist = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
  const double v2 = w[0] * w[0] + w[1] * w[1] + w[2] * w[2];
  const double energy = 0.5 * v2 - mt / dist;  // per reduced mass
  const double a = -mt / (2.0 * energy);
  const double h[3] = {r[1] * w[2] - r[2] * w[1], r[2] * w[0] - r[0] * w[2],
                       r[0] * w[1] - r[1] * w[0]};
  const double h2 = h[0] * h[0] + h[1] * h[1] + h[2] * h[2];
  const double e = std::sqrt(std::max(0.0, 1.0 - h2 / (mt * a)));
  return {a, e, c.m[i] * c.m[j] / (2.0 * a)};
}

models::ClusterOptions binary_options() {
  models::ClusterOptions o;
  o.n = 20000;
  o.seed = 7;
  o.imf = "kroupa";
  o.binaries = 0.5;
  o.a_min = 2.0;
  o.a_max = 500.0;
  return o;
}

TEST(Binaries, CountOrbitsAndDistributions) {
  const models::ClusterOptions o = binary_options();
  const models::Cluster c = models::build_cluster(o);
  const std::int64_t nb = std::llround(0.5 * o.n / 1.5);
  ASSERT_EQ(c.n_binaries, nb);
  std::vector<double> ecc, log_a;
  std::int64_t paired = 0;
  for (std::int64_t i = 0; i < c.n; ++i) {
    const std::int64_t j = c.companion[i];
    if (j < 0) continue;
    ++paired;
    ASSERT_EQ(c.companion[j], i);
    ASSERT_EQ(std::abs(j - i), 1) << "members are adjacent";
    if (j < i) continue;
    const Pair p = elements(c, i, j);
    ASSERT_GT(p.a, 0.0) << "every pair bound";
    ecc.push_back(p.e);
    log_a.push_back(std::log(p.a * c.units.length_pc * kAuPerPc));
    // Mass ratio within [m_min / m1, 1] of the primary.
    EXPECT_LE(c.m[j], c.m[i] * (1.0 + 1e-12));
    EXPECT_GE(c.m[j] * c.units.mass_msun, 0.08 * (1.0 - 1e-12));
  }
  EXPECT_EQ(paired, 2 * nb);
  const double crit = 1.95 / std::sqrt(static_cast<double>(nb));
  EXPECT_LT(ks_distance(ecc, [](double e) { return e * e; }), crit);
  const double lo = std::log(2.0), hi = std::log(500.0);
  EXPECT_LT(ks_distance(log_a, [&](double x) { return (x - lo) / (hi - lo); }), crit);
}

TEST(Binaries, CircularOrbitsAndEqualCompanions) {
  models::ClusterOptions o;
  o.n = 3001;
  o.binaries = 1.0;
  o.ecc = "circular";
  const models::Cluster c = models::build_cluster(o);
  EXPECT_EQ(c.n_binaries, 1500);  // round(3001 / 2) capped at 3001 / 2
  for (std::int64_t b = 0; b < c.n_binaries; ++b) {
    const Pair p = elements(c, 2 * b, 2 * b + 1);
    EXPECT_LT(p.e, 1e-6);
    EXPECT_EQ(c.m[2 * b], c.m[2 * b + 1]);
  }
}

// Hard binaries (bound by more than kT of the systems) are each other's
// nearest stars; kT is found here from the systems' velocities.
TEST(Binaries, HardPairsAreMutualNearestNeighbours) {
  const models::ClusterOptions o = binary_options();
  const models::Cluster c = models::build_cluster(o);
  double kinetic = 0.0;
  std::int64_t systems = 0;
  for (std::int64_t i = 0; i < c.n; ++i) {
    const std::int64_t j = c.companion[i];
    if (j >= 0 && j < i) continue;
    double m = c.m[i], p[3];
    for (int k = 0; k < 3; ++k) p[k] = c.m[i] * c.v[3 * i + k];
    if (j >= 0) {
      m += c.m[j];
      for (int k = 0; k < 3; ++k) p[k] += c.m[j] * c.v[3 * j + k];
    }
    kinetic += 0.5 * (p[0] * p[0] + p[1] * p[1] + p[2] * p[2]) / m;
    ++systems;
  }
  const double kT = 2.0 / 3.0 * kinetic / systems;
  EXPECT_NEAR(kT, c.kT, 1e-12);
  auto nearest = [&](std::int64_t i) {
    std::int64_t best = -1;
    double d2 = INFINITY;
    for (std::int64_t k = 0; k < c.n; ++k) {
      if (k == i) continue;
      const double dx = c.x[3 * k] - c.x[3 * i], dy = c.x[3 * k + 1] - c.x[3 * i + 1],
                   dz = c.x[3 * k + 2] - c.x[3 * i + 2];
      const double r2 = dx * dx + dy * dy + dz * dz;
      if (r2 < d2) d2 = r2, best = k;
    }
    return best;
  };
  std::int64_t hard = 0, soft = 0;
  for (std::int64_t b = 0; b < c.n_binaries; ++b) {
    const Pair p = elements(c, 2 * b, 2 * b + 1);
    if (p.binding <= kT) {
      ++soft;
      continue;
    }
    ++hard;
    EXPECT_EQ(nearest(2 * b), 2 * b + 1);
    EXPECT_EQ(nearest(2 * b + 1), 2 * b);
  }
  EXPECT_GT(hard, 100);
  EXPECT_EQ(soft, c.n_soft);
}

struct Systems {
  std::vector<double> m, x, v;
};

// Binaries merged into their centres of mass.
Systems systems_of(const models::Cluster& c) {
  Systems s;
  for (std::int64_t i = 0; i < c.n; ++i) {
    const std::int64_t j = c.companion[i];
    if (j >= 0 && j < i) continue;
    std::vector<std::int64_t> members{i};
    if (j >= 0) members.push_back(j);
    double m = 0.0, x[3] = {0, 0, 0}, v[3] = {0, 0, 0};
    for (std::int64_t k : members) {
      m += c.m[k];
      for (int d = 0; d < 3; ++d) x[d] += c.m[k] * c.x[3 * k + d], v[d] += c.m[k] * c.v[3 * k + d];
    }
    s.m.push_back(m);
    for (int d = 0; d < 3; ++d) s.x.push_back(x[d] / m), s.v.push_back(v[d] / m);
  }
  return s;
}

void expect_standard_units(const models::Cluster& c, double q, double energy_tolerance) {
  const Systems s = systems_of(c);
  const std::size_t n = s.m.size();
  double mass = 0.0, px[3] = {0, 0, 0}, pv[3] = {0, 0, 0}, kinetic = 0.0, potential = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    mass += s.m[i];
    double v2 = 0.0;
    for (int d = 0; d < 3; ++d) {
      px[d] += s.m[i] * s.x[3 * i + d];
      pv[d] += s.m[i] * s.v[3 * i + d];
      v2 += s.v[3 * i + d] * s.v[3 * i + d];
    }
    kinetic += 0.5 * s.m[i] * v2;
    for (std::size_t j = 0; j < i; ++j) {
      double r2 = 0.0;
      for (int d = 0; d < 3; ++d) r2 += std::pow(s.x[3 * i + d] - s.x[3 * j + d], 2);
      potential -= s.m[i] * s.m[j] / std::sqrt(r2);
    }
  }
  EXPECT_NEAR(mass, 1.0, 1e-12);
  for (int d = 0; d < 3; ++d) {
    EXPECT_NEAR(px[d], 0.0, 1e-12);
    EXPECT_NEAR(pv[d], 0.0, 1e-12);
  }
  EXPECT_NEAR(kinetic, 0.5 * q, 1e-12);
  EXPECT_NEAR(potential, -0.5, energy_tolerance);
  EXPECT_NEAR(2.0 * kinetic / -potential, 2.0 * q, 4.0 * q * energy_tolerance + 1e-12);
}

TEST(Scaling, SystemsInStandardUnits) {
  {
    SCOPED_TRACE("exact sum, King, binaries, Q = 0.3");
    models::ClusterOptions o;
    o.n = 6000;
    o.profile = "king";
    o.w0 = 7.0;
    o.imf = "salpeter";
    o.binaries = 0.3;
    o.virial = 0.3;
    expect_standard_units(models::build_cluster(o), 0.3, 1e-12);
  }
  {
    // Above the limit of the exact sum the shells of the sample give the
    // potential energy to the order of the non-spherical part, ~N^-1/2 of
    // its scale at most.
    SCOPED_TRACE("shell sum, Plummer");
    models::ClusterOptions o;
    o.n = 30000;
    expect_standard_units(models::build_cluster(o), 0.5, 5e-3);
  }
}

TEST(Scaling, UnitsFollowRadiusMassAndTidalRadius) {
  models::ClusterOptions o;
  o.n = 2000;
  o.radius = 2.0;
  o.mass = 4000.0;
  const models::Cluster c = models::build_cluster(o);
  // v = sqrt(G M / R) with G in pc (km/s)^2 / Msun; t = R / v.
  const double v = std::sqrt(4.3009e-3 * 4000.0 / 2.0);
  EXPECT_NEAR(c.units.velocity_kms, v, 1e-4 * v);
  EXPECT_NEAR(c.units.time_myr, 2.0 / v * 3.0857e13 / 3.15576e13, 1e-4 * c.units.time_myr);
  EXPECT_EQ(c.units.length_pc, 2.0);
  models::ClusterOptions k;
  k.n = 2000;
  k.profile = "king";
  k.tidal_radius = 30.0;
  const models::Cluster t = models::build_cluster(k);
  EXPECT_NEAR(t.tidal_radius * t.units.length_pc, 30.0, 1e-9);
  double r_max = 0.0;
  for (std::int64_t i = 0; i < t.n; ++i) {
    r_max = std::max(r_max, std::sqrt(t.x[3 * i] * t.x[3 * i] + t.x[3 * i + 1] * t.x[3 * i + 1] +
                                      t.x[3 * i + 2] * t.x[3 * i + 2]));
  }
  EXPECT_LT(r_max, t.tidal_radius * 1.01);  // the centre of mass moves by ~N^-1/2 of the core
}

TEST(Scaling, SameOptionsSameBits) {
  models::ClusterOptions o = binary_options();
  o.n = 3000;
  const models::Cluster a = models::build_cluster(o), b = models::build_cluster(o);
  EXPECT_EQ(a.x, b.x);
  EXPECT_EQ(a.v, b.v);
  EXPECT_EQ(a.m, b.m);
  o.seed += 1;
  EXPECT_NE(models::build_cluster(o).x, a.x);
}

}  // namespace

// The core diagnostics against references derived here: the density centre,
// core radius and core density of sampled Plummer spheres against integrals
// of the Plummer density, a binary planted from Kepler elements, and
// particles on escape and bound orbits far out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "core.h"
#include "local_density.h"
#include "plummer.h"

namespace {

using diagnostics::Vec3;
constexpr double kPi = 3.14159265358979323846;

struct Cluster {
  std::vector<double> m;
  std::vector<Vec3> x, v;
  diagnostics::Snapshot snapshot(double eps = 0.0, const double* pot = nullptr) const {
    diagnostics::Snapshot s;
    s.n = m.size();
    s.m = m.data();
    s.x = x.data();
    s.v = v.data();
    s.eps = eps;
    s.pot = pot;
    return s;
  }
};

// plummer_gen's model: standard units, centre of mass at rest at the origin.
Cluster plummer_model(int n, unsigned seed) {
  const plummer::Particles p(n);
  plummer::build_model(n, seed, p, nullptr);
  Cluster c;
  for (int i = 0; i < n; ++i) {
    c.m.push_back(p.m()[i]);
    c.x.push_back(Vec3{p.x()[i][0], p.x()[i][1], p.x()[i][2]});
    c.v.push_back(Vec3{p.v()[i][0], p.v()[i][1], p.v()[i][2]});
  }
  return c;
}

// Integral over all space of rho^p r^q dV for the Plummer density of unit
// mass and scale radius a, rho = 3 / (4 pi a^3) (1 + r^2 / a^2)^(-5/2), by
// Simpson's rule in r = a tan(u), which maps the infinite range onto
// [0, pi/2) with an integrand that falls to zero at the end.
double plummer_moment(int p, int q, double a) {
  const int steps = 20000;
  const double h = 0.5 * kPi / steps;
  double sum = 0.0;
  for (int k = 0; k <= steps; ++k) {
    const double u = k * h;
    double f = 0.0;
    if (k < steps) {
      const double r = a * std::tan(u);
      const double rho = 3.0 / (4.0 * kPi * a * a * a) * std::pow(1.0 + r * r / (a * a), -2.5);
      const double drdu = a / (std::cos(u) * std::cos(u));
      f = std::pow(rho, p) * std::pow(r, q) * 4.0 * kPi * r * r * drdu;
    }
    sum += (k == 0 || k == steps ? 1.0 : (k % 2 == 1 ? 4.0 : 2.0)) * f;
  }
  return sum * h / 3.0;
}

struct Spread {
  double mean = 0.0, error = 0.0;  // mean and its standard error
};

Spread spread(const std::vector<double>& s) {
  Spread out;
  for (double v : s) out.mean += v;
  out.mean /= static_cast<double>(s.size());
  double var = 0.0;
  for (double v : s) var += (v - out.mean) * (v - out.mean);
  var /= static_cast<double>(s.size() - 1);
  out.error = std::sqrt(var / static_cast<double>(s.size()));
  return out;
}

// The estimators weight each particle by its local density, so over a
// sample of N particles sum rho_i f(x_i) tends to N \int rho^2 f dV (unit
// mass). Hence
//   density centre  -> 0, the centre of the sphere;
//   core radius^2   -> \int rho^2 r^2 dV / \int rho^2 dV = (3/5) a^2;
//   core density    -> 1.25 \int rho^3 dV / \int rho^2 dV, where 1.25 =
//                      E[(5/V6)^2] / E[5/V6]^2 for V6, the volume holding 6
//                      neighbours, Gamma(6)-distributed in a Poisson field.
// The means over the seeds must lie within four standard errors, the
// errors taken from the seeds' own scatter.
TEST(PlummerSphere, DensityCentreCoreRadiusAndDensityMatchTheAnalyticValues) {
  const double a = plummer::kConv;  // scale radius in standard units
  const double rc_expected = std::sqrt(plummer_moment(2, 2, a) / plummer_moment(2, 0, a));
  ASSERT_NEAR(rc_expected, a * std::sqrt(0.6), 1e-9);  // the integral's closed form
  const double rhoc_expected = 1.25 * plummer_moment(3, 0, a) / plummer_moment(2, 0, a);

  std::vector<double> rc, rhoc, centre[3];
  for (unsigned seed = 1; seed <= 8; ++seed) {
    const Cluster c = plummer_model(16384, seed);
    const diagnostics::Core core = diagnostics::core_diagnostics(c.snapshot());
    rc.push_back(core.rc);
    rhoc.push_back(core.rhoc);
    for (int k = 0; k < 3; ++k) centre[k].push_back(core.centre[k]);
    EXPECT_EQ(core.nbin, 0) << "seed " << seed;
    EXPECT_EQ(core.nesc, 0) << "seed " << seed;
  }
  const Spread s_rc = spread(rc), s_rhoc = spread(rhoc);
  EXPECT_NEAR(s_rc.mean, rc_expected, 4.0 * s_rc.error);
  EXPECT_LT(s_rc.error, 0.01 * rc_expected);  // the estimator is not wildly noisy
  EXPECT_NEAR(s_rhoc.mean, rhoc_expected, 4.0 * s_rhoc.error);
  for (int k = 0; k < 3; ++k) {
    const Spread s = spread(centre[k]);
    EXPECT_NEAR(s.mean, 0.0, 4.0 * s.error) << "component " << k;
    EXPECT_LT(s.error, 0.02 * rc_expected) << "component " << k;
  }
}

// The radii about the density centre of a shifted sphere are those of the
// sphere: the Plummer mass profile M(<r) = r^3 / (r^2 + a^2)^(3/2) gives
// r = a / sqrt(f^(-2/3) - 1).
TEST(PlummerSphere, RadiiAboutTheDensityCentreFollowTheMassProfile) {
  Cluster c = plummer_model(65536, 7);
  const Vec3 shift{3.0, -2.0, 5.0};
  for (Vec3& x : c.x) {
    for (int k = 0; k < 3; ++k) x[k] += shift[k];
  }
  const diagnostics::Core core = diagnostics::core_diagnostics(c.snapshot());
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(core.centre[k], shift[k], 0.02);
  const double a = plummer::kConv;
  for (std::size_t k = 0; k < diagnostics::kCoreFractions.size(); ++k) {
    const double f = diagnostics::kCoreFractions[k];
    const double expected = a / std::sqrt(std::pow(f, -2.0 / 3.0) - 1.0);
    // Sampling error of a quantile: sqrt(f (1 - f) / N) in f.
    EXPECT_NEAR(core.radii[k], expected, 0.05 * expected) << "fraction " << f;
  }
}

// A binary of total mass M and elements (a, e), at true anomaly nu, its
// orbital plane turned by the angles given; centre of mass at X moving at V.
void plant_binary(Cluster& c, int i, int j, double a, double e, double nu, const Vec3& X,
                  const Vec3& V) {
  const double M = c.m[i] + c.m[j];
  const double p = a * (1.0 - e * e);
  const double r = p / (1.0 + e * std::cos(nu));
  const double w = std::sqrt(M / p);
  const Vec3 rel{r * std::cos(nu), r * std::sin(nu), 0.0};
  const Vec3 vel{-w * std::sin(nu), w * (e + std::cos(nu)), 0.0};
  // Rotation by 0.7 about x, then 1.9 about z.
  auto turn = [](const Vec3& q) {
    const double c1 = std::cos(0.7), s1 = std::sin(0.7), c2 = std::cos(1.9), s2 = std::sin(1.9);
    const Vec3 t{q[0], c1 * q[1] - s1 * q[2], s1 * q[1] + c1 * q[2]};
    return Vec3{c2 * t[0] - s2 * t[1], s2 * t[0] + c2 * t[1], t[2]};
  };
  const Vec3 dr = turn(rel), dv = turn(vel);
  const double fi = c.m[j] / M, fj = c.m[i] / M;
  for (int k = 0; k < 3; ++k) {
    c.x[i][k] = X[k] - fi * dr[k];
    c.x[j][k] = X[k] + fj * dr[k];
    c.v[i][k] = V[k] - fi * dv[k];
    c.v[j][k] = V[k] + fj * dv[k];
  }
}

TEST(HardBinaries, APlantedBinaryIsFoundWithItsElements) {
  Cluster c = plummer_model(4096, 3);
  // Unequal masses, so that the reduced mass matters.
  c.m[10] *= 2.0;
  c.m[20] *= 0.5;
  const double a = 2e-5, e = 0.7;
  plant_binary(c, 20, 10, a, e, 1.1, Vec3{0.05, -0.02, 0.01}, Vec3{0.1, 0.2, -0.3});
  std::vector<diagnostics::Binary> found;
  const diagnostics::Core core = diagnostics::core_diagnostics(c.snapshot(), &found);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].i, 10);
  EXPECT_EQ(found[0].j, 20);
  EXPECT_NEAR(found[0].a / a, 1.0, 1e-6);
  EXPECT_NEAR(found[0].e, e, 1e-6);
  const double binding = c.m[10] * c.m[20] / (2.0 * a);
  EXPECT_NEAR(found[0].binding / binding, 1.0, 1e-6);
  EXPECT_EQ(core.nbin, 1);
  EXPECT_DOUBLE_EQ(core.ebin, found[0].binding);
  // kT from its definition: 2/3 of the systems' kinetic energy over their
  // number, each bound pair of mutual nearest neighbours (found here by a
  // direct search) one system at its centre of mass.
  const std::size_t n = c.m.size();
  std::vector<std::size_t> nearest(n);
  for (std::size_t i = 0; i < n; ++i) {
    double best = INFINITY;
    for (std::size_t j = 0; j < n; ++j) {
      if (j == i) continue;
      double d2 = 0.0;
      for (int k = 0; k < 3; ++k) d2 += (c.x[j][k] - c.x[i][k]) * (c.x[j][k] - c.x[i][k]);
      if (d2 < best) best = d2, nearest[i] = j;
    }
  }
  double mass = 0.0;
  Vec3 p{};
  for (std::size_t i = 0; i < n; ++i) {
    mass += c.m[i];
    for (int k = 0; k < 3; ++k) p[k] += c.m[i] * c.v[i][k];
  }
  double kinetic = 0.0;
  int systems = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t j = nearest[i];
    double r2 = 0.0, w2 = 0.0;
    for (int k = 0; k < 3; ++k) {
      r2 += (c.x[j][k] - c.x[i][k]) * (c.x[j][k] - c.x[i][k]);
      w2 += (c.v[j][k] - c.v[i][k]) * (c.v[j][k] - c.v[i][k]);
    }
    const bool paired = nearest[j] == i && c.m[i] * c.m[j] / std::sqrt(r2) >
                                               0.5 * c.m[i] * c.m[j] / (c.m[i] + c.m[j]) * w2;
    if (paired && j < i) continue;  // counted with its partner
    const double ms = paired ? c.m[i] + c.m[j] : c.m[i];
    for (int k = 0; k < 3; ++k) {
      const double u =
          (paired ? (c.m[i] * c.v[i][k] + c.m[j] * c.v[j][k]) / ms : c.v[i][k]) - p[k] / mass;
      kinetic += 0.5 * ms * u * u;
    }
    ++systems;
  }
  EXPECT_EQ(core.nsys, systems);
  EXPECT_LT(systems, static_cast<int>(n));
  EXPECT_NEAR(core.kT, 2.0 / 3.0 * kinetic / systems, 1e-12 * core.kT);
}

// A soft pair (binding energy below kT) and a pair flying apart are no hard
// binaries; a close pair that would be bound as point masses but passes
// through the softening faster than it can hold on to is unbound in the
// dynamics the integrators follow, and counts only with eps = 0.
TEST(HardBinaries, SoftPairsAndFastPassagesAreNotCounted) {
  Cluster c = plummer_model(4096, 5);
  const double m = c.m[0];
  std::vector<diagnostics::Binary> found;
  diagnostics::Core core = diagnostics::core_diagnostics(c.snapshot(), &found);
  const double kT = core.kT;
  ASSERT_EQ(core.nbin, 0);

  // Soft: a circular pair of binding energy kT / 2 well inside the core.
  plant_binary(c, 1, 2, m * m / kT, 0.0, 0.0, Vec3{0.01, 0.0, 0.0}, Vec3{});
  core = diagnostics::core_diagnostics(c.snapshot());
  EXPECT_EQ(core.nbin, 0);

  // A passage at r = 1e-6, speed between the point-mass and the softened
  // escape speeds for eps = 1e-4.
  c = plummer_model(4096, 5);
  const double r = 1e-6, eps = 1e-4;
  const double mu = 0.5 * m;
  const double speed = std::sqrt(2.0 * m * m / std::sqrt(r * r + eps * eps) / mu) * 3.0;
  ASSERT_LT(0.5 * mu * speed * speed, m * m / r);
  c.x[1] = Vec3{0.02, 0.01, 0.0};
  c.x[2] = Vec3{0.02 + r, 0.01, 0.0};
  c.v[1] = Vec3{0.0, -0.5 * speed, 0.0};
  c.v[2] = Vec3{0.0, 0.5 * speed, 0.0};
  EXPECT_EQ(diagnostics::core_diagnostics(c.snapshot(eps)).nbin, 0);
  found.clear();
  EXPECT_EQ(diagnostics::core_diagnostics(c.snapshot(0.0), &found).nbin, 1);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].i, 1);
}

// The potential of particle i due to all others, summed here.
std::vector<double> direct_potential(const Cluster& c, double eps) {
  std::vector<double> pot(c.m.size(), 0.0);
  for (std::size_t i = 0; i < c.m.size(); ++i) {
    for (std::size_t j = 0; j < c.m.size(); ++j) {
      if (i == j) continue;
      double d2 = eps * eps;
      for (int k = 0; k < 3; ++k) d2 += (c.x[i][k] - c.x[j][k]) * (c.x[i][k] - c.x[j][k]);
      pot[i] -= c.m[j] / std::sqrt(d2);
    }
  }
  return pot;
}

// Two particles at 40 length units (some 50 half-mass radii), one moving
// out at 1.2 times the escape speed sqrt(2 M / r), one at 0.8 times; and a
// particle near the centre at several times the escape speed, which is not
// yet an escaper by the distance rule. With the potential summed directly
// and with the shell potential used when none is given.
TEST(Escapers, FastParticlesFarOutEscapeAndBoundOnesDoNot) {
  Cluster c = plummer_model(2048, 11);
  const double r = 40.0, v_escape = std::sqrt(2.0 / r);
  c.x[5] = Vec3{r, 0.0, 0.0};
  c.v[5] = Vec3{1.2 * v_escape, 0.0, 0.0};
  c.x[6] = Vec3{0.0, -r, 0.0};
  c.v[6] = Vec3{0.0, -0.8 * v_escape, 0.0};
  c.v[7] = Vec3{3.0, 0.0, 0.0};
  c.x[7] = Vec3{0.1, 0.0, 0.0};
  const std::vector<double> pot = direct_potential(c, 0.0);
  ASSERT_GT(0.5 * 1.2 * 1.2 * v_escape * v_escape + pot[5], 0.0);  // the set-up is what it says
  ASSERT_LT(0.5 * 0.8 * 0.8 * v_escape * v_escape + pot[6], 0.0);
  EXPECT_EQ(diagnostics::core_diagnostics(c.snapshot(0.0, pot.data())).nesc, 1);
  EXPECT_EQ(diagnostics::core_diagnostics(c.snapshot()).nesc, 1);

  // Both bound: none.
  c.v[5] = Vec3{0.9 * v_escape, 0.0, 0.0};
  EXPECT_EQ(diagnostics::core_diagnostics(c.snapshot()).nesc, 0);
}

// Each local density against a brute-force search written here: every
// distance sorted, the five nearest masses summed, the sixth distance cubed.
// Unequal masses (those of a mass spectrum) and equal ones, where the
// estimate takes five mean masses.
TEST(LocalDensities, MatchASearchOfAllDistances) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (const bool equal : {false, true}) {
    const std::size_t n = 300;
    std::vector<Vec3> x(n);
    std::vector<double> m(n);
    double total = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      x[i] = Vec3{u(rng), u(rng), u(rng)};
      const double r = 0.3 + std::fabs(x[i][0]);  // a denser slab about x = 0
      for (double& c : x[i]) c *= r;
      m[i] = equal ? 1.0 / static_cast<double>(n) : 0.1 + std::fabs(u(rng) * u(rng));
      total += m[i];
    }
    const diagnostics::LocalDensities d =
        diagnostics::local_densities(x.data(), m.data(), n, total);
    ASSERT_EQ(d.rho.size(), n);
    double sum = 0.0, sum2 = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      std::vector<std::pair<double, std::size_t>> by_distance;
      for (std::size_t j = 0; j < n; ++j) {
        if (j == i) continue;
        const double a = x[j][0] - x[i][0], b = x[j][1] - x[i][1], c = x[j][2] - x[i][2];
        by_distance.push_back({std::sqrt(a * a + b * b + c * c), j});
      }
      std::sort(by_distance.begin(), by_distance.end());
      double m5 = 0.0;
      for (int k = 0; k < 5; ++k) m5 += m[by_distance[k].second];
      const double r6 = by_distance[5].first;
      const double rho = m5 / (4.0 / 3.0 * kPi * r6 * r6 * r6);
      EXPECT_NEAR(d.rho[i], rho, 1e-12 * rho) << (equal ? "equal" : "unequal") << " i " << i;
      EXPECT_EQ(static_cast<std::size_t>(d.nb.nearest[i]), by_distance[0].second);
      sum += rho;
      sum2 += rho * rho;
    }
    EXPECT_NEAR(diagnostics::weighted_density(d), sum2 / sum, 1e-12 * sum2 / sum);
  }
}

TEST(Refusals, TooFewParticlesOrNoMass) {
  Cluster c = plummer_model(6, 1);
  EXPECT_THROW(diagnostics::core_diagnostics(c.snapshot()), std::invalid_argument);
  c = plummer_model(7, 1);
  EXPECT_NO_THROW(diagnostics::core_diagnostics(c.snapshot()));
  for (double& m : c.m) m = 0.0;
  EXPECT_THROW(diagnostics::core_diagnostics(c.snapshot()), std::invalid_argument);
}

// Particles on one spot have no density volume; the rest still give a
// centre, and nothing becomes infinite or NaN.
TEST(Degenerate, CoincidentParticlesLeaveTheSumsFinite) {
  Cluster c = plummer_model(512, 2);
  for (int i = 0; i < 10; ++i) c.x[i] = Vec3{0.3, 0.3, 0.3};
  const diagnostics::Core core = diagnostics::core_diagnostics(c.snapshot());
  EXPECT_TRUE(std::isfinite(core.rc) && std::isfinite(core.rhoc));
  for (double x : core.centre) EXPECT_TRUE(std::isfinite(x));
  EXPECT_GT(core.rc, 0.0);
}

}  // namespace

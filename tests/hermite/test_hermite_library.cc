// The integrator on one force library (HERMITE_ORDER 4, 6 or 8; one test
// program per library, as the three export the same names): the adapter
// against exact forces, the convergence of whole runs, which only comes
// out at the order of the scheme if jerk, snap and crackle are right, and
// an exported state that continues with the same bits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "convergence.h"
#include "direct_backend.h"
#include "library_backend.h"
#include "small_model.h"

#if HERMITE_ORDER == 4
#include "library4.h"
using Lib = hermite::Library4;
#elif HERMITE_ORDER == 6
#include "library6.h"
using Lib = hermite::Library6;
#elif HERMITE_ORDER == 8
#include "library8.h"
using Lib = hermite::Library8;
#endif

namespace hermite_test {
namespace {

constexpr int K = Lib::kDerivs;
using Backend = hermite::LibraryBackend<Lib>;

class LibraryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Lib::bind(0); }
};

// Predicted states of the small model with a made-up acceleration and jerk
// (the higher orders read them), through both backends: the library's
// results match exact ones to single precision, derivative by derivative,
// and so do its potentials.
TEST_F(LibraryTest, AdapterMatchesExactForces) {
  const Model m = small_model();
  const int n = m.size();
  hermite::Predicted p;
  p.x = m.pos;
  p.v = m.vel;
  for (int i = 0; i < n; ++i) {
    p.a.push_back(Vec3{0.1 * i - 0.3, 0.05 * i, -0.02 * i});
    p.j.push_back(Vec3{0.01 * i, -0.2, 0.03 * i - 0.1});
  }
  std::vector<int> list = {5, 0, 7, 2};  // any subset, in any order
  std::vector<Vec3> lib(list.size() * K), exact(list.size() * K);
  Backend lb(m.mass, 0, n, kSmallEps);
  DirectBackend<K> db(m.mass, 0, n, kSmallEps);
  lb.forces(list, p, lib.data());
  db.forces(list, p, exact.data());
  for (std::size_t k = 0; k < list.size(); ++k) {
    for (int d = 0; d < K; ++d) {
      const Vec3& a = lib[k * K + d];
      const Vec3& b = exact[k * K + d];
      const double scale = hermite::norm(b);
      for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(a[c], b[c], 1e-5 * scale) << "particle " << list[k] << " derivative " << d;
      }
    }
  }
  std::vector<double> pl(static_cast<std::size_t>(n)), pe(static_cast<std::size_t>(n));
  lb.potential(m.pos, pl.data());
  db.potential(m.pos, pe.data());
  for (int i = 0; i < n; ++i) EXPECT_NEAR(pl[i], pe[i], 1e-6 * std::fabs(pe[i])) << i;
}

// Halving the shared step on the small model cuts the energy error by about
// 2^p and the error of the final positions (against an exact-force run with
// a step 16 times shorter) likewise. The steps are the longest at which the
// order's error is truncation, not the rounding of the forces, and both
// slopes must lie within 1 of p.
TEST_F(LibraryTest, ConvergesAtTheOrderOfTheScheme) {
  const Model m = small_model();
  Backend lb(m.mass, 0, m.size(), kSmallEps);
  DirectBackend<K> db(m.mass, 0, m.size(), kSmallEps);
  const double h = K == 2 ? 1.0 / 16 : K == 3 ? 1.0 / 4 : 1.0 / 2;
  const double t_end = 2.0;
  const auto ref = shared_run<K>(db, h / 16, t_end, h);
  const auto coarse = shared_run<K>(lb, h, t_end, h);
  const auto fine = shared_run<K>(lb, h / 2, t_end, h);
  const double energy_slope = std::log2(coarse.energy_error / fine.energy_error);
  const double pos_slope =
      std::log2(max_difference(coarse.pos, ref.pos) / max_difference(fine.pos, ref.pos));
  std::printf("order %d, h = %g: energy error %.3e -> %.3e, slope %.2f; position slope %.2f\n",
              Lib::kOrder, h, coarse.energy_error, fine.energy_error, energy_slope, pos_slope);
  EXPECT_NEAR(energy_slope, Lib::kOrder, 1.0);
  EXPECT_NEAR(pos_slope, Lib::kOrder, 1.0);
  EXPECT_GT(fine.energy_error, 1e-7);  // still far above the rounding floor
}

// A uniform sphere of 512 bodies and 16 hard binaries, unsoftened. A state exported between two
// block steps (as a stop signal leaves it) and imported into a new integrator takes exactly the
// steps of the integrator that went on: the subsystems, their perturbers and the pair searches'
// tree, which is rebuilt at times that depend on the run's history, travel with the state.
TEST_F(LibraryTest, AnExportedStateContinuesWithTheSameBits) {
  hermite::Model m;
  std::mt19937_64 draw(11);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  while (m.size() < 512) {
    const Vec3 x{unit(draw), unit(draw), unit(draw)};
    if (x[0] * x[0] + x[1] * x[1] + x[2] * x[2] > 1.0) continue;
    m.mass.push_back(1.0 / 512);
    m.pos.push_back(x);
    m.vel.push_back(Vec3{0.5 * unit(draw), 0.5 * unit(draw), 0.5 * unit(draw)});
  }
  // Every 32nd body gets a companion on a circular orbit of radius 1e-3:
  // hard binaries from the start, each perturbed by the bodies within some
  // 0.2 of it, a set that changes as they pass.
  for (int k = 0; k < 512; k += 32) {
    const double mu = 2.0 / 512, r = 1e-3, v = std::sqrt(mu / r);
    const Vec3 d{r * unit(draw), r, r * unit(draw)};
    const double n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    m.mass.push_back(1.0 / 512);
    m.pos.push_back(
        Vec3{m.pos[k][0] + d[0] * r / n, m.pos[k][1] + d[1] * r / n, m.pos[k][2] + d[2] * r / n});
    const Vec3 w{-d[1] / n, d[0] / n, 0.0};
    const double wn = std::sqrt(w[0] * w[0] + w[1] * w[1]);
    m.vel.push_back(Vec3{m.vel[k][0] + v * w[0] / wn, m.vel[k][1] + v * w[1] / wn, m.vel[k][2]});
  }
  hermite::Comm comm;
  hermite::Settings s;
  s.eps = 0.0;
  s.encounters.on = true;
  s.encounters.r_cl = 0.004;
  Backend backend_a(m.mass, 0, m.size(), 0.0), backend_b(m.mass, 0, m.size(), 0.0);
  hermite::Integrator<K, Backend> a(m, s, backend_a, comm, 0, m.size());
  a.start();
  while (a.time() < 0.125) a.step();
  for (int k = 0; k < 7; ++k) a.step();  // off the output times
  hermite::Integrator<K, Backend> b(m, s, backend_b, comm, 0, m.size());
  b.import_state(a.export_state());
  long long events = 0;
  for (int k = 0; k < 2000; ++k) {
    a.step();
    b.step();
    events += static_cast<long long>(a.events().size());
    a.clear_events();
    b.clear_events();
    ASSERT_EQ(a.time(), b.time()) << "block step " << k;
  }
  EXPECT_GT(events, 0);
  EXPECT_FALSE(a.subsystems().empty());
  const std::vector<Vec3>&xa = a.positions(), &xb = b.positions();
  const std::vector<Vec3>&va = a.velocities(), &vb = b.velocities();
  for (int i = 0; i < m.size(); ++i) {
    for (int c = 0; c < 3; ++c) {
      ASSERT_EQ(xa[i][c], xb[i][c]) << "particle " << i;
      ASSERT_EQ(va[i][c], vb[i][c]) << "particle " << i;
    }
  }
}

}  // namespace
}  // namespace hermite_test

// The integrator on one force library (HERMITE_ORDER 4, 6 or 8; one test
// program per library, as the three export the same names): the adapter
// against exact forces, and the convergence of whole runs, which only comes
// out at the order of the scheme if jerk, snap and crackle are right.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
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

}  // namespace
}  // namespace hermite_test

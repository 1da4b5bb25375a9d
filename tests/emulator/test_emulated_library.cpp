// The device path of a force library, run on the device emulator, against
// the host library: the same bits for every way a block divides its work
// (every thread split, full and partial tiles, empty slices, several
// i-blocks) and for the potential.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "emulator/emulated_library.h"
#include "forcecore/predict.h"
#include "forcecore/self_excluded.h"

#include "support/order_adapter.h"

// One suite name per order, so that CTest tells the three programs apart.
#define EMULATED_SUITE_OF(order) EmulatedNbforce##order
#define EMULATED_SUITE(order) EMULATED_SUITE_OF(order)
#define EMULATED EMULATED_SUITE(NBFORCE_TEST_ORDER)

namespace {

// The host library runs on one thread: its OpenMP runtime then starts no
// threads of its own for ThreadSanitizer, which checks these programs without
// ignoring uninstrumented libraries, to report on.
class EMULATED : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { omp_set_num_threads(1); }
};

using Pred = Adapter::Predictor;

std::vector<Pred> predictors(const std::vector<nbtest::Particle>& p, int n) {
  std::vector<Pred> out(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) out[i] = Adapter::predictor(p[i]);
  return out;
}

std::vector<Adapter::Force> host_forces(const std::vector<Pred>& ip, const std::vector<Pred>& jp,
                                        float eps2) {
  std::vector<Adapter::Force> out(ip.size());
  double stamp = 0, ip_time = 0, fo_time = 0;
  calc_force(static_cast<int>(ip.size()), static_cast<int>(jp.size()), ip.data(), jp.data(),
             out.data(), eps2, &stamp, &ip_time, &fo_time);
  return out;
}

// Index of the first particle whose result differs in any bit, or -1.
template <class T>
int first_difference(const std::vector<T>& a, const std::vector<T>& b) {
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::memcmp(&a[i], &b[i], sizeof(T)) != 0) return static_cast<int>(i);
  return a.size() == b.size() ? -1 : static_cast<int>(a.size());
}

struct Shape {
  int ni;
  int nj;
  const char* what;
};

// The i-particles are the first ni of the sources, so every thread also
// meets its own particle.
TEST_F(EMULATED, ForcesEqualHostLibraryForEveryThreadSplitAndTileShape) {
  // 28 * 129 + 5 j-particles: every slice runs one full tile and a partial
  // tile of one or two records.
  constexpr int kTiled = NJBLOCK * (NTHREAD + 1) + 5;
  const Shape shapes[] = {
      {3, kTiled, "32 threads per i-particle"},
      {6, kTiled, "16 threads per i-particle"},
      {13, kTiled, "8 threads per i-particle"},
      {27, kTiled, "4 threads per i-particle"},
      {NTHREAD + 45, kTiled, "a whole i-block, then 2 threads per i-particle"},
      {NTHREAD + 70, kTiled, "two i-blocks of one thread per i-particle"},
      {40, NJBLOCK * NTHREAD, "full tiles only"},
      {NTHREAD + 1, 20, "empty slices, one i-particle in the last block"},
      {5, 0, "no j-particles"},
  };
  const auto cloud = nbtest::plummer_cloud(kTiled, 41);
  const float eps2 = 1e-4f;
  unsigned seed = 1;
  for (const Shape& s : shapes) {
    const std::vector<Pred> ip = predictors(cloud, s.ni), jp = predictors(cloud, s.nj);
    const auto want = host_forces(ip, jp, eps2);
    const auto got = nbf::emu::emulated_forces<Adapter::Order>(ip, jp, eps2, seed += 2);
    // Equal bits prove nothing if both sides came out as NaN or untouched.
    if (s.nj > s.ni) {
      ASSERT_TRUE(std::isfinite(Adapter::deriv(want.back(), 0)[0])) << s.what;
      ASSERT_NE(Adapter::deriv(want.back(), 0)[0], 0.0) << s.what;
    }
    const int i = first_difference(got, want);
    EXPECT_EQ(i, -1) << s.what << " (ni = " << s.ni << ", nj = " << s.nj << "): particle " << i
                     << " differs, acc.x " << Adapter::deriv(got[i < 0 ? 0 : i], 0)[0]
                     << " against " << Adapter::deriv(want[i < 0 ? 0 : i], 0)[0];
  }
}

TEST_F(EMULATED, PotentialEqualsHostLibraryOverFullAndPartialTiles) {
  struct Range {
    int n, js, je;
  };
  const Range ranges[] = {
      {300, 0, 300},   // two full tiles and a partial one; threads past n
      {300, 21, 278},  // two full tiles and one record
      {256, 0, 256},   // full tiles only
      {130, 5, 5},     // no source
      {2, 0, 2},       // one partial tile of two
  };
  const auto cloud = nbtest::plummer_cloud(300, 43);
  unsigned seed = 100;
  for (const Range& r : ranges) {
    const std::vector<nbtest::Particle> part(cloud.begin(), cloud.begin() + r.n);
    const std::vector<Posm> posm = nbtest::to_posm(part);
    std::vector<double> want(part.size());
    calc_pot(r.n, r.js, r.je, 1e-4f, posm.data(), want.data());
    const auto got = nbf::emu::emulated_potential(posm, r.js, r.je, 1e-4f, ++seed);
    const int i = first_difference(got, want);
    EXPECT_EQ(i, -1) << "n = " << r.n << ", sources [" << r.js << ", " << r.je << "): particle "
                     << i << " has " << got[i < 0 ? 0 : i] << " against " << want[i < 0 ? 0 : i];
  }
}

// Resident particles without softening: the device's interaction kernel
// over the pair step that leaves out the particle itself, on records the
// shared predictor writes, gives the host library's resident forces bit
// for bit, the targets being sources too.
TEST_F(EMULATED, UnsoftenedResidentForcesEqualHostLibrary) {
  constexpr int K = Adapter::kDerivs;
  using Fld = nbf::ResidentFields<K>;
  const int n = NJBLOCK * 7 + 3;
  const auto cloud = nbtest::plummer_cloud(n, 43);
  std::vector<double> m, x, v, d, t, dt;
  for (const auto& p : cloud) {
    m.push_back(p.m);
    for (int c = 0; c < 3; ++c) {
      x.push_back(p.x[c]);
      v.push_back(p.v[c]);
    }
    for (int q = 0; q < 2 * K; ++q)
      for (int c = 0; c < 3; ++c) d.push_back(q == 0 ? p.a[c] : q == 1 ? p.j[c] : 0.1 * q);
    t.push_back(0.0);
    dt.push_back(0.015625);
  }
  std::vector<int> all(n);
  for (int i = 0; i < n; ++i) all[i] = i;
  nbf_resident_resize(n);
  nbf_resident_set(n, all.data(), m.data(), x.data(), v.data(), d.data(), t.data(), dt.data());
  const double at = 0.01;
  for (int ni : {5, NTHREAD + 9}) {
    std::vector<Adapter::Force> want(static_cast<std::size_t>(ni));
    nbf_resident_force(at, 0, n, ni, all.data(), 0.0f, want.data());
    // The same states, one record per slot, predicted by the shared source.
    std::vector<double> block(static_cast<std::size_t>(n) * Fld::kCount);
    const nbf::ResidentView view{block.data(), 1, Fld::kCount};
    for (int i = 0; i < n; ++i) {
      for (int c = 0; c < 3; ++c) {
        view.ref(Fld::kPos + c, i) = x[3 * i + c];
        view.ref(Fld::kVel + c, i) = v[3 * i + c];
      }
      for (int w = 0; w < 6 * K; ++w) view.ref(Fld::kDer + w, i) = d[6 * K * i + w];
      view.ref(Fld::kMass, i) = m[i];
      view.ref(Fld::kTime, i) = t[i];
      view.ref(Fld::kStep, i) = dt[i];
      view.ref(Fld::kLive, i) = 1.0;
    }
    std::vector<Pred> ip(static_cast<std::size_t>(ni)), jp(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) nbf::predict_record<K>(view, i, at, true, jp[i]);
    for (int i = 0; i < ni; ++i) nbf::predict_record<K>(view, i, at, false, ip[i]);
    const auto got =
        nbf::emu::emulated_forces<nbf::SelfExcluded<Adapter::Order>>(ip, jp, 0.0f, 7u + ni);
    ASSERT_TRUE(std::isfinite(Adapter::deriv(want.back(), 0)[0]));
    ASSERT_NE(Adapter::deriv(want.back(), 0)[0], 0.0);
    EXPECT_EQ(first_difference(got, want), -1) << "ni = " << ni;
  }
}

}  // namespace

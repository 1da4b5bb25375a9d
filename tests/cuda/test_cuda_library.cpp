// A CUDA force library on the GPU: accuracy against the double-precision
// reference and the host library within what the hardware reciprocal square
// root allows, on the production path (two passes, every thread split, full
// tiles); exact zeros where the arithmetic gives them, repeatable bits, and
// no error left behind.
#include <cstring>

#include "cuda/adapter.h"
#include "device_vs_host.h"
#include "support/reference.h"

namespace {

std::vector<Adapter::Force> forces(const std::vector<nbtest::Particle>& targets,
                                   const std::vector<nbtest::Particle>& sources, float eps2) {
  std::vector<Adapter::Predictor> ip(targets.size()), jp(sources.size());
  for (std::size_t i = 0; i < ip.size(); ++i) ip[i] = Adapter::predictor(targets[i]);
  for (std::size_t j = 0; j < jp.size(); ++j) jp[j] = Adapter::predictor(sources[j]);
  std::vector<Adapter::Force> out(ip.size());
  double stamp = 0, t1 = 0, t2 = 0;
  calc_force(static_cast<int>(ip.size()), static_cast<int>(jp.size()), ip.data(), jp.data(),
             out.data(), eps2, &stamp, &t1, &t2);
  return out;
}

// The hardware 1/sqrt is within 2 ulp where the host's is within 1, so each
// term carries up to about one more unit of 2^-24: the host tolerances,
// doubled, hold. 4000 sources make every j-slice a full tile and a partial
// one; the second pass of each ni runs one of the thread splits.
TEST_F(CudaLibrary, MatchesReferenceOnFullTilesAndEverySplitOfTheSecondPass) {
  const auto cloud = nbtest::plummer_cloud(4096 + 65, 7);
  const float eps2 = 1e-4f;
  const std::vector<nbtest::Particle> src(cloud.begin(), cloud.begin() + 4000);
  const auto t = nbtest::as_stored(cloud), s = nbtest::as_stored(src);
  for (int extra : gpucheck::kSecondPass) {
    const int ni = 4096 + extra;
    const std::vector<nbtest::Particle> dst(cloud.begin(), cloud.begin() + ni);
    const auto got = forces(dst, src, eps2);
    for (int i = 0; i < ni; i += (i < 4096 ? 29 : 1)) {
      const nbtest::Derivs want = nbtest::reference_derivs(t[i], s, eps2);
      const double* w[4] = {want.acc, want.jrk, want.snp, want.crk};
      for (int k = 0; k < Adapter::kDerivs; ++k)
        ASSERT_LT(nbtest::relative_error(Adapter::deriv(got[i], k), w[k], want.scale[k]),
                  2 * Adapter::kTolerance[k])
            << "ni = " << ni << ", i = " << i << ", derivative " << k;
    }
  }
}

TEST_F(CudaLibrary, MatchesHostLibraryWithinHardwareRsqrtTolerance) {
  for (const gpucheck::Comparison& c :
       gpucheck::compare_with_host<Adapter>(NBFORCE_HOST_HELPER, gpucheck::Match::within_tolerance))
    EXPECT_TRUE(c.passed) << c.name << ": " << c.detail;
}

// Calls whose status the library ignores (the cache preferences, the frees)
// must not leave an error for the next launch check to find.
TEST_F(CudaLibrary, LeavesNoErrorBehind) {
  CUDA_MPI_Init(0);
  EXPECT_EQ(cudaPeekAtLastError(), cudaSuccess);
  const auto cloud = nbtest::plummer_cloud(200, 3);
  const auto posm = nbtest::to_posm(cloud);
  std::vector<double> pot(cloud.size());
  calc_pot(200, 0, 200, 1e-4f, posm.data(), pot.data());
  forces(cloud, cloud, 1e-4f);
  EXPECT_EQ(cudaPeekAtLastError(), cudaSuccess);
  EXPECT_EQ(cudaDeviceSynchronize(), cudaSuccess);
}

TEST_F(CudaLibrary, ExactZerosAndRepeatableBits) {
  const auto cloud = nbtest::plummer_cloud(300, 9);
  const auto self = forces({cloud[0]}, {cloud[0]}, 1e-6f);
  const auto none = forces(cloud, {}, 1e-6f);
  for (int k = 0; k < Adapter::kDerivs; ++k)
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(Adapter::deriv(self[0], k)[c], 0.0);
      EXPECT_EQ(Adapter::deriv(none[299], k)[c], 0.0);
    }
  for (int ni : {1, 40, 129, 300}) {
    const std::vector<nbtest::Particle> dst(cloud.begin(), cloud.begin() + ni);
    const auto a = forces(dst, cloud, 1e-4f), b = forces(dst, cloud, 1e-4f);
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(a[0])), 0) << "ni = " << ni;
  }
}

TEST_F(CudaLibrary, PotentialMatchesReference) {
  const auto cloud = nbtest::plummer_cloud(2000, 19);
  const auto posm = nbtest::to_posm(cloud);
  const auto stored = nbtest::as_stored(cloud);
  std::vector<double> pot(cloud.size());
  calc_pot(2000, 0, 2000, 1e-4f, posm.data(), pot.data());
  for (int i = 0; i < 2000; ++i) {
    double scale = 0;
    const double want = nbtest::reference_potential(stored, i, 0, 2000, 1e-4, &scale);
    ASSERT_LT(std::fabs(pot[i] - want) / scale, 2e-6) << "i = " << i;
  }
}

}  // namespace

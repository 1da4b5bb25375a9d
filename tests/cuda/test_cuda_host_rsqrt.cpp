// The test build of a CUDA library whose device computes 1/sqrt the way the
// host backend does: then nothing else may tell the device from the host,
// and its forces and potentials equal the host library's bit for bit on the
// production path's shapes.
#include "cuda/adapter.h"
#include "device_vs_host.h"

namespace {

TEST_F(CudaLibrary, EqualsHostLibraryBitForBit) {
  const auto results =
      gpucheck::compare_with_host<Adapter>(NBFORCE_HOST_HELPER, gpucheck::Match::bitwise);
  ASSERT_FALSE(results.empty());
  for (const gpucheck::Comparison& c : results) EXPECT_TRUE(c.passed) << c.name << ": " << c.detail;
}

}  // namespace

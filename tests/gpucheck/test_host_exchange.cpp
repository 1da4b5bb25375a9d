// The comparison that the GPU check and the CUDA tests make, run with the
// host library on both sides: the inputs travel to the helper program and
// its results come back intact, so the bitwise match holds; and a helper that
// cannot run makes every comparison fail rather than pass.
#include <gtest/gtest.h>

#include "nbforce4/adapter4.h"

#include "device_vs_host.h"

namespace {

TEST(HostExchange, HostLibraryAgainstItselfThroughTheHelperMatchesBitForBit) {
  const auto results =
      gpucheck::compare_with_host<Adapter4>(NBFORCE_HOST_HELPER, gpucheck::Match::bitwise);
  ASSERT_EQ(results.size(), 9u);
  for (const gpucheck::Comparison& c : results) EXPECT_TRUE(c.passed) << c.name << ": " << c.detail;
  const auto within =
      gpucheck::compare_forces<Adapter4>(NBFORCE_HOST_HELPER, gpucheck::Match::within_tolerance,
                                         nbtest::plummer_cloud(200, 1), 200, 150);
  EXPECT_TRUE(within.passed) << within.detail;
  EXPECT_EQ(within.worst[0], 0.0);
}

TEST(HostExchange, HelperThatCannotRunFailsTheComparison) {
  const auto cloud = nbtest::plummer_cloud(50, 2);
  const auto forces = gpucheck::compare_forces<Adapter4>("/nonexistent/gpucheck_host4",
                                                         gpucheck::Match::bitwise, cloud, 50, 50);
  EXPECT_FALSE(forces.passed);
  EXPECT_NE(forces.detail.find("cannot start"), std::string::npos) << forces.detail;
  const auto pot =
      gpucheck::compare_potential("/bin/false", gpucheck::Match::bitwise, cloud, 50, 0, 50);
  EXPECT_FALSE(pot.passed);
  EXPECT_FALSE(pot.detail.empty());
}

}  // namespace

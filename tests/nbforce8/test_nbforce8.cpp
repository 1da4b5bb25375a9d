// nbforce8 on the host backend: the shared suites, and device waits whose
// status this library does not examine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapter8.h"
#include "forcecore/host/host_control.h"
#include "support/exact_suite.h"
#include "support/force_suite.h"

namespace nbtest {
INSTANTIATE_TYPED_TEST_SUITE_P(Order8, ForceSuite, Adapter8);
INSTANTIATE_TYPED_TEST_SUITE_P(Order8, ExactSums, Adapter8);
}  // namespace nbtest

namespace {

using nbf::host::Call;

// nbforce8 has no report-only waits: a failing wait prints nothing, and both
// entry points complete with the same results.
TEST(Nbforce8Waits, FailedWaitIsNeitherReportedNorFatal) {
  const auto cloud = nbtest::plummer_cloud(300, 61);
  const auto p = nbtest::predictors<Adapter8>(cloud);
  const auto clean = nbtest::forces<Adapter8>(p, p, 1e-4f);
  nbf::host::fail_call(Call::synchronize, 1, nbf::host::kLaunchFailure);
  ::testing::internal::CaptureStderr();
  const auto run = nbtest::forces<Adapter8>(p, p, 1e-4f);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(nbtest::same_bits<Adapter8>(run.force, clean.force));

  const auto posm = nbtest::to_posm(cloud);
  std::vector<double> pot_clean(300), pot(300);
  calc_pot(300, 0, 300, 1e-4f, posm.data(), pot_clean.data());
  nbf::host::fail_call(Call::synchronize, 1, nbf::host::kLaunchFailure);
  ::testing::internal::CaptureStderr();
  calc_pot(300, 0, 300, 1e-4f, posm.data(), pot.data());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(pot, pot_clean);
  nbf::host::clear_failures();
}

}  // namespace

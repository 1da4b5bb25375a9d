// nbforce6 on the host backend: the shared suites, and the waits after each
// kernel that report a failure and let the call carry on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapter6.h"
#include "forcecore/host/host_control.h"
#include "support/exact_suite.h"
#include "support/force_suite.h"

namespace nbtest {
INSTANTIATE_TYPED_TEST_SUITE_P(Order6, ForceSuite, Adapter6);
INSTANTIATE_TYPED_TEST_SUITE_P(Order6, ExactSums, Adapter6);
}  // namespace nbtest

namespace {

using nbf::host::Call;
using nbtest::forces;
using nbtest::predictors;
using nbtest::report_line;
using nbtest::same_bits;

class Nbforce6Waits : public ::testing::Test {
 protected:
  void TearDown() override { nbf::host::clear_failures(); }
};

// The runs below have two passes (ni = 4097): the waits come in the order
// gravity, reduction, gravity, reduction. A failed wait prints its line once
// and the call still completes with every result.
TEST_F(Nbforce6Waits, FailedWaitAfterAKernelIsReportedAndTheCallCompletes) {
  const auto ip = predictors<Adapter6>(nbtest::plummer_cloud(4097, 53));
  const std::vector<Predictor> jp(ip.begin(), ip.begin() + 60);
  const auto clean = forces<Adapter6>(ip, jp, 1e-4f);
  const std::string text = nbf::rt::error_text(nbf::host::kLaunchFailure);
  struct Case {
    int nth, line;
  };
  for (Case c : {Case{1, 345}, Case{2, 351}, Case{3, 345}, Case{4, 351}}) {
    nbf::host::fail_call(Call::synchronize, c.nth, nbf::host::kLaunchFailure);
    ::testing::internal::CaptureStderr();
    const auto run = forces<Adapter6>(ip, jp, 1e-4f);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), report_line("nbforce6", c.line, text))
        << "failed wait " << c.nth;
    EXPECT_TRUE(same_bits<Adapter6>(run.force, clean.force)) << "failed wait " << c.nth;
  }
}

TEST_F(Nbforce6Waits, FailedWaitAfterThePotentialKernelIsReportedAndTheCallCompletes) {
  const auto posm = nbtest::to_posm(nbtest::plummer_cloud(300, 59));
  std::vector<double> clean(posm.size()), pot(posm.size());
  calc_pot(300, 0, 300, 1e-4f, posm.data(), clean.data());
  nbf::host::fail_call(Call::synchronize, 1, nbf::host::kLaunchFailure);
  ::testing::internal::CaptureStderr();
  calc_pot(300, 0, 300, 1e-4f, posm.data(), pot.data());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            report_line("nbforce6", 447, nbf::rt::error_text(nbf::host::kLaunchFailure)));
  EXPECT_EQ(pot, clean);
}

}  // namespace

// nbforce4 on the host backend: the shared suites, plus the jerk
// checked as the time derivative of the acceleration.
#include "nbforce4/adapter4.h"
#include "support/exact_suite.h"
#include "support/force_suite.h"

namespace nbtest {
INSTANTIATE_TYPED_TEST_SUITE_P(Order4, ForceSuite, Adapter4);
INSTANTIATE_TYPED_TEST_SUITE_P(Order4, ExactSums, Adapter4);
}  // namespace nbtest

namespace {

// Along straight-line motion x(t) = x + v t the jerk is the exact time
// derivative of the acceleration: compare with a central difference of the
// library's accelerations, Richardson-extrapolated.
TEST(Nbforce4Physics, JerkIsTheTimeDerivativeOfTheAcceleration) {
  const auto cloud = nbtest::plummer_cloud(200, 23);
  const float eps2 = 1e-2f;
  auto accelerations_at = [&](double t) {
    auto moved = cloud;
    for (auto& q : moved)
      for (int c = 0; c < 3; ++c) q.x[c] += q.v[c] * t;
    std::vector<Predictor> p(moved.size());
    for (std::size_t i = 0; i < moved.size(); ++i) p[i] = Adapter4::predictor(moved[i]);
    return nbtest::forces<Adapter4>(p, p, eps2).force;
  };
  const double h = 1e-2;
  const auto now = accelerations_at(0.0);
  const auto p1 = accelerations_at(h), m1 = accelerations_at(-h);
  const auto p2 = accelerations_at(h / 2), m2 = accelerations_at(-h / 2);
  double worst = 0.0;
  for (std::size_t i = 0; i < cloud.size(); ++i) {
    for (int c = 0; c < 3; ++c) {
      const double d_h = (p1[i].acc[c] - m1[i].acc[c]) / (2 * h);
      const double d_h2 = (p2[i].acc[c] - m2[i].acc[c]) / h;
      const double derivative = (4 * d_h2 - d_h) / 3;
      const double scale =
          std::fabs(now[i].jrk[0]) + std::fabs(now[i].jrk[1]) + std::fabs(now[i].jrk[2]) + 1e-3;
      worst = std::fmax(worst, std::fabs(derivative - now[i].jrk[c]) / scale);
    }
  }
  EXPECT_LT(worst, 1e-3);
}

}  // namespace

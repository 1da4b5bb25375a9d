// Exact-sum tests for any force library: results that must come out bit for
// bit, because they consist of one pair step or of pair steps that add exact
// zeros. The adapter is the one of force_suite.h plus the order's record
// type:
//
//   using Order = nbf::Order6;  // Acc<float>, load, interaction, store, to_force
//   INSTANTIATE_TYPED_TEST_SUITE_P(Order6, ExactSums, Adapter);
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "forcecore/host/host_control.h"
#include "support/force_suite.h"

namespace nbtest {

// The force of j on i from one pair step, as the library hands it back when
// the step is the only non-zero term of the sums.
template <class A>
typename A::Force single_pair(const typename A::Predictor& i, const typename A::Predictor& j,
                              float eps2) {
  using O = typename A::Order;
  typename O::template Acc<float> acc{};
  O::interaction(O::template load<float>(i), O::template load<float>(j), eps2, acc);
  typename O::ForceDev rec{};
  O::store(acc, rec);
  typename A::Force out;
  O::to_force(rec, out);
  return out;
}

template <class A>
void expect_same_values(const typename A::Force& got, const typename A::Force& want,
                        const char* what) {
  for (int k = 0; k < A::kDerivs; ++k)
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(A::deriv(got, k)[c], A::deriv(want, k)[c])
          << what << ", derivative " << k << ", axis " << c;
}

// A source that adds nothing: zero mass, away from every particle of the
// cloud so that its pair step stays finite.
inline Particle massless(Particle p) {
  p.m = 0.0;
  p.x[0] += 1.0;
  return p;
}

template <class A>
class ExactSums : public ::testing::Test {
 protected:
  void SetUp() override {
    nbf::host::clear_failures();
    nbf::host::set_thread_order(nbf::host::ThreadOrder::forward);
    nbf::host::set_executor(nbf::host::Executor::lanes);
  }
};

TYPED_TEST_SUITE_P(ExactSums);

// With 28 j-particles slice k holds particle k alone. Only one of them has
// mass, so one column of every row is non-zero; the merge inside the block
// and the reduction must carry it through whole, whichever column it is.
// ni = 5 also makes the reduction's second block write rows 4 to 7.
TYPED_TEST_P(ExactSums, OneNonZeroColumnLandsWhole) {
  using A = TypeParam;
  const auto cloud = plummer_cloud(33, 41);
  const std::vector<Particle> targets(cloud.begin() + 28, cloud.end());
  const auto ip = predictors<A>(targets);
  const float eps2 = 1e-4f;
  for (int column = 0; column < NJBLOCK; ++column) {
    std::vector<Particle> sources(cloud.begin(), cloud.begin() + NJBLOCK);
    for (int k = 0; k < NJBLOCK; ++k)
      if (k != column) sources[k] = massless(sources[k]);
    const auto jp = predictors<A>(sources);
    const auto run = forces<A>(ip, jp, eps2);
    for (std::size_t i = 0; i < ip.size(); ++i)
      expect_same_values<A>(run.force[i], single_pair<A>(ip[i], jp[column], eps2), "column");
  }
  // nj = 1: the only particle falls in the last slice.
  const auto jp = predictors<A>(std::vector<Particle>(cloud.begin(), cloud.begin() + 1));
  const auto run = forces<A>(ip, jp, eps2);
  for (std::size_t i = 0; i < ip.size(); ++i)
    expect_same_values<A>(run.force[i], single_pair<A>(ip[i], jp[0], eps2), "nj = 1");
}

// A particle that stands among its own sources gets exactly the sums it gets
// when its entry there is replaced by a source that adds nothing: its own
// pair step contributes zeros in every word. Row 5 lies in a full block,
// row 128 in a block whose 32 threads share that one particle.
TYPED_TEST_P(ExactSums, OwnEntryAmongSourcesAddsExactlyZero) {
  using A = TypeParam;
  const auto cloud = plummer_cloud(300, 43);
  const auto ip = predictors<A>(std::vector<Particle>(cloud.begin(), cloud.begin() + 130));
  const float eps2 = 1e-4f;
  const auto with_self = forces<A>(ip, predictors<A>(cloud), eps2);
  for (int i : {5, 128}) {
    auto others = cloud;
    others[i] = massless(others[i]);
    const auto without = forces<A>(ip, predictors<A>(others), eps2);
    expect_same_values<A>(with_self.force[i], without.force[i], "own entry");
  }
}

// Nothing outside the pass's data reaches a result: an i-particle's mass,
// tile records past the slice's end and i-records past the pass may hold
// anything, NaN included.
TYPED_TEST_P(ExactSums, ValuesOutsideThePassDoNotReachResults) {
  using A = TypeParam;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const auto cloud = plummer_cloud(300, 47);
  const auto jp = predictors<A>(std::vector<Particle>(cloud.begin(), cloud.begin() + 100));
  const auto ip = predictors<A>(std::vector<Particle>(cloud.begin() + 200, cloud.begin() + 205));
  const auto clean = forces<A>(ip, jp, 1e-4f);

  // Leaves NaN in the device's i-records 5.. and j-records 100.. .
  auto poison = predictors<A>(cloud);
  for (auto& p : poison) {
    float* w = reinterpret_cast<float*>(&p);
    for (std::size_t k = 0; k < sizeof p / sizeof(float); ++k) w[k] = nan;
  }
  forces<A>(poison, poison, 1e-4f);

  auto ip_any_mass = ip;
  for (auto& p : ip_any_mass) p.mass = nan;
  const auto run = forces<A>(ip_any_mass, jp, 1e-4f);
  EXPECT_TRUE(same_bits<A>(run.force, clean.force));
  for (const auto& f : run.force)
    for (int k = 0; k < A::kDerivs; ++k)
      for (int c = 0; c < 3; ++c) EXPECT_TRUE(std::isfinite(A::deriv(f, k)[c]));
}

REGISTER_TYPED_TEST_SUITE_P(ExactSums, OneNonZeroColumnLandsWhole,
                            OwnEntryAmongSourcesAddsExactlyZero,
                            ValuesOutsideThePassDoNotReachResults);

}  // namespace nbtest

// Double-single arithmetic and the host's reciprocal square root.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "forcecore/ds.h"
#include "forcecore/host/lanes.h"
#include "nbforce_common.h"

namespace {

using nbf::ds_accumulate;
using nbf::ds_add;
using nbf::ds_diff;
using nbf::ds_to_double;

float2 pair(float hi, float lo) { return float2{hi, lo}; }

TEST(DoubleSingle, AccumulateKeepsWhatOneFloatLoses) {
  float2 acc = pair(0.0f, 0.0f);
  ds_accumulate(acc, 3.5f);
  EXPECT_EQ(acc.x, 3.5f);
  EXPECT_EQ(acc.y, 0.0f);

  acc = pair(1.0f, 0.0f);
  const float tiny = std::ldexp(1.0f, -30);
  ds_accumulate(acc, tiny);
  EXPECT_EQ(acc.x, 1.0f);
  EXPECT_EQ(acc.y, tiny);
  EXPECT_EQ(ds_to_double(acc), 1.0 + std::ldexp(1.0, -30));

  const float2 before = pair(1.0f, tiny);
  acc = before;
  ds_accumulate(acc, 0.0f);
  EXPECT_EQ(ds_to_double(acc), ds_to_double(before));

  acc = pair(5.0f, tiny);
  ds_accumulate(acc, -5.0f);
  EXPECT_EQ(acc.x, 0.0f);
  EXPECT_EQ(acc.y, tiny);

  acc = pair(1.0f, 0.0f);
  ds_accumulate(acc, INFINITY);
  EXPECT_TRUE(std::isnan(ds_to_double(acc))) << "inf - inf in the error term";
}

// Summing many small terms: the pair tracks the exact sum to about 1e-11,
// where a float sum drifts by orders of magnitude more.
TEST(DoubleSingle, LongSumsStayAccurate) {
  std::mt19937 gen(1);
  std::uniform_real_distribution<float> u(0.0f, 1e-3f);
  float2 acc = pair(0.0f, 0.0f);
  float plain = 0.0f;
  double exact = 0.0;
  for (int k = 0; k < 100000; ++k) {
    const float a = u(gen);
    ds_accumulate(acc, a);
    plain += a;
    exact += a;
  }
  EXPECT_LT(std::fabs(ds_to_double(acc) - exact), exact * 1e-10);
  EXPECT_GT(std::fabs(static_cast<double>(plain) - exact), exact * 1e-6);
}

TEST(DoubleSingle, AddMergesHighThenLow) {
  const float tiny = std::ldexp(1.0f, -30);
  float2 acc = pair(1.0f, tiny);
  ds_add(acc, pair(0.0f, 0.0f));
  EXPECT_EQ(ds_to_double(acc), 1.0 + std::ldexp(1.0, -30));
  ds_add(acc, pair(2.0f, tiny));
  EXPECT_EQ(ds_to_double(acc), 3.0 + std::ldexp(1.0, -29));
}

TEST(DoubleSingle, DiffOfCoordinates) {
  EXPECT_EQ(ds_diff(1.25f, 1e-9f, 1.25f, 1e-9f), 0.0f);
  const float tiny = std::ldexp(1.0f, -30);
  EXPECT_EQ(ds_diff(1.0f, tiny, 1.0f, 0.0f), tiny) << "lost by a plain float difference";
  EXPECT_EQ(ds_diff(3.0f, 0.0f, 1.0f, 0.0f), 2.0f) << "source minus target";
}

TEST(DoubleSingle, SplitOfADoubleIsNormalised) {
  for (double x : {0.1, -123.456789012345, 1e-7, 3.0}) {
    float hi, lo;
    nbforce_split(x, &hi, &lo);
    EXPECT_EQ(hi, static_cast<float>(x));
    EXPECT_LE(std::fabs(lo), std::ldexp(std::fabs(hi), -24));
    EXPECT_NEAR(static_cast<double>(hi) + lo, x, std::fabs(x) * 1e-14);
  }
}

// The host's 1/sqrt: within 2 ulp of the true value, and the same bits from
// the scalar and the vector forms.
TEST(HostReciprocalSqrt, AccurateAndTheSameInEveryForm) {
  std::mt19937 gen(2);
  std::uniform_real_distribution<float> expo(-30.0f, 30.0f);
  nbf::Lanes in{};
  for (int n = 0; n < 20000; ++n) {
    const float x = std::exp2(expo(gen));
    const float got = nbf::rsqrt_approx(x);
    const double want = 1.0 / std::sqrt(static_cast<double>(x));
    const double ulp = std::ldexp(1.0, std::ilogb(static_cast<float>(want)) - 23);
    ASSERT_LE(std::fabs(got - want), 2 * ulp) << "x = " << x;
    in[n % nbf::kLanes] = x;
    if (n % nbf::kLanes == nbf::kLanes - 1) {
      const nbf::Lanes out = nbf::rsqrt_approx(in);
      for (int l = 0; l < nbf::kLanes; ++l) {
        const float lane = out[l], scalar = nbf::rsqrt_approx(in[l]);
        ASSERT_EQ(std::memcmp(&lane, &scalar, sizeof scalar), 0);
      }
    }
  }
}

}  // namespace

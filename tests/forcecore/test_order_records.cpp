// The record operations each order gets from its field list, against the
// record layouts as the public header spells them: every field the pair
// step reads is loaded, every sum is stored, added and widened, and the
// words no field names come out zero. Built once per order (RECORD_ORDER).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#if RECORD_ORDER == 4
#include "nbforce4/order4.h"
using Order = nbf::Order4;
constexpr int kReads = 3;  // posH, posL, vel
constexpr int kSums = 1;   // jrk
#elif RECORD_ORDER == 6
#include "nbforce6/order6.h"
using Order = nbf::Order6;
constexpr int kReads = 4;  // + acc
constexpr int kSums = 2;   // + snp
#else
#include "nbforce8/order8.h"
using Order = nbf::Order8;
constexpr int kReads = 5;  // + jrk
constexpr int kSums = 3;   // + crk
#endif

namespace {

using Body = Order::Body<float>;
using Acc = Order::Acc<float>;

// The Predictor's three-vectors lie at 16-byte steps, mass in the first
// unit's fourth word: vector k, component c is word 4 k + c.
TEST(OrderRecords, LoadReadsEveryVectorAndTheMass) {
  static_assert(sizeof(Body) == (3 * kReads + 1) * sizeof(float), "Body is the listed fields");
  float words[sizeof(Predictor) / sizeof(float)];
  for (std::size_t k = 0; k < sizeof words / sizeof words[0]; ++k) words[k] = 100.0f + k;
  Predictor p;
  std::memcpy(&p, words, sizeof p);
  const Body b = Order::load<float>(p);
  float got[3 * kReads + 1];
  std::memcpy(got, &b, sizeof got);
  for (int v = 0; v < kReads; ++v)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(got[3 * v + c], words[4 * v + c]) << v << " " << c;
  EXPECT_EQ(got[3 * kReads], words[3]);  // the mass
}

// ForceDev: the double-single acceleration (x, y per axis), then each sum
// as three floats, then spare words. Force: the same as doubles.
TEST(OrderRecords, StoreAddAndWidenCoverEverySum) {
  static_assert(sizeof(Acc) == (6 + 3 * kSums) * sizeof(float), "Acc is the listed sums");
  constexpr int kData = 6 + 3 * kSums;
  constexpr int kWords = sizeof(Force_dev) / sizeof(float);
  float a_words[kData], b_words[kData];
  for (int k = 0; k < kData; ++k) {
    a_words[k] = 1.0f + 0.25f * k;
    b_words[k] = 0.5f - 0.125f * k;
  }
  // Small lo parts under their hi parts, as the sums make them.
  for (int c = 0; c < 3; ++c) {
    a_words[2 * c + 1] = std::ldexp(1.0f, -30 + c);
    b_words[2 * c + 1] = -std::ldexp(1.0f, -31 - c);
  }
  Acc a, b;
  std::memcpy(&a, a_words, sizeof a);
  std::memcpy(&b, b_words, sizeof b);

  Force_dev ra, rb;
  float nan_words[kWords];
  for (float& w : nan_words) w = std::nanf("");
  std::memcpy(&ra, nan_words, sizeof ra);
  std::memcpy(&rb, nan_words, sizeof rb);
  Order::store(a, ra);
  Order::store(b, rb);
  float stored[kWords];
  std::memcpy(stored, &ra, sizeof stored);
  for (int k = 0; k < kData; ++k) EXPECT_EQ(stored[k], a_words[k]) << k;
  for (int k = kData; k < kWords; ++k) EXPECT_EQ(stored[k], 0.0f) << "spare word " << k;

  Order::add(ra, rb);
  float sum[kWords];
  std::memcpy(sum, &ra, sizeof sum);
  for (int c = 0; c < 3; ++c) {
    // hi + lo of the merged pair is the exact sum of the four parts here.
    const double exact = static_cast<double>(a_words[2 * c]) + a_words[2 * c + 1] +
                         static_cast<double>(b_words[2 * c]) + b_words[2 * c + 1];
    EXPECT_EQ(static_cast<double>(sum[2 * c]) + sum[2 * c + 1], exact) << c;
  }
  for (int k = 6; k < kData; ++k) EXPECT_EQ(sum[k], a_words[k] + b_words[k]) << k;
  for (int k = kData; k < kWords; ++k) EXPECT_EQ(sum[k], 0.0f) << "spare word " << k;

  Force f;
  Order::to_force(ra, f);
  double wide[sizeof(Force) / sizeof(double)];
  static_assert(sizeof wide / sizeof wide[0] == 3 + 3 * kSums, "Force is the sums as doubles");
  std::memcpy(wide, &f, sizeof wide);
  for (int c = 0; c < 3; ++c)
    EXPECT_EQ(wide[c], static_cast<double>(sum[2 * c]) + static_cast<double>(sum[2 * c + 1]));
  for (int k = 6; k < kData; ++k) EXPECT_EQ(wide[3 + (k - 6)], static_cast<double>(sum[k])) << k;
}

}  // namespace

// The "subsystems" checkpoint section of the integrator
// (hermite/regularisation_codec.h): a round trip keeps the count of
// regularised steps and which pairs act by their averaged orbit, and bytes
// of the earlier formats (written before the count and the flag existed,
// laid out here by hand) still load, with the count 0 and no pair
// averaged; a flag other than 0 or 1 is refused. The
// "neighbour_tree" section (hermite/tree_state_codec.h) keeps its bits and
// refuses bytes that do not fit the particles.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "regularisation_codec.h"
#include "tree_state_codec.h"

namespace {

hermite::Regularised pair_record() {
  hermite::Regularised r;
  r.s = encounters::make_subsystem({3, 7}, {0.25, 0.75}, {{1e-3, 0, 0}, {0, 2e-3, 0}},
                                   {{0, 0.1, 0}, {0.2, 0, 0}}, 1.5);
  r.cm = 3;
  r.gamma = 2.5e-6;
  r.perturbers = {11, 12};
  r.averaged = true;
  return r;
}

template <class T>
void put(std::string& out, T v) {
  out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

TEST(RegularisationCodec, RoundTripKeepsTheStepCount) {
  const std::vector<hermite::Regularised> regs{pair_record()};
  hermite::EncounterScale scale{0.01, 1e-4, 1.0 / 1024, 1.0 / 1024, 3.0};
  const std::string bytes = hermite::encode_regularised(regs, scale, 123456789012LL);
  std::vector<hermite::Regularised> back;
  hermite::EncounterScale s2;
  long long steps = -1;
  hermite::decode_regularised(bytes, back, s2, steps);
  EXPECT_EQ(steps, 123456789012LL);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].cm, 3);
  EXPECT_EQ(back[0].gamma, 2.5e-6);
  EXPECT_EQ(back[0].perturbers, (std::vector<int>{11, 12}));
  EXPECT_TRUE(back[0].averaged);
  EXPECT_EQ(s2.next_update, 3.0);
  // Cut short by the count's last byte: refused.
  EXPECT_THROW(hermite::decode_regularised(bytes.substr(0, bytes.size() - 1), back, s2, steps),
               std::runtime_error);
  // The flag byte (after the two perturber slots, before the scale's 40
  // bytes and the count's 8) set to 2: refused.
  std::string bad = bytes;
  ASSERT_EQ(bad[bad.size() - 49], 1);
  bad[bad.size() - 49] = 2;
  EXPECT_THROW(hermite::decode_regularised(bad, back, s2, steps), std::runtime_error);
}

// Format 1 or 2 by hand: no flag, and the step count from format 2 on.
std::string earlier_format(std::uint32_t format) {
  const hermite::Regularised r = pair_record();
  const std::string inner = encounters::encode_subsystems({r.s});
  std::string bytes;
  put<std::uint32_t>(bytes, format);
  put<std::uint64_t>(bytes, inner.size());
  bytes += inner;
  put<std::int32_t>(bytes, r.cm);
  put<double>(bytes, r.gamma);
  put<std::uint64_t>(bytes, 2);
  put<std::int32_t>(bytes, 11);
  put<std::int32_t>(bytes, 12);
  for (double v : {0.01, 1e-4, 1.0 / 1024, 1.0 / 1024, 3.0}) put<double>(bytes, v);
  if (format == 2) put<std::int64_t>(bytes, 77);
  return bytes;
}

TEST(RegularisationCodec, EarlierFormatsLoadWithNoAveragedPair) {
  std::string bytes = earlier_format(1);
  std::vector<hermite::Regularised> back;
  hermite::EncounterScale scale;
  long long steps = -1;
  hermite::decode_regularised(bytes, back, scale, steps);
  EXPECT_EQ(steps, 0);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].perturbers, (std::vector<int>{11, 12}));
  EXPECT_FALSE(back[0].averaged);
  EXPECT_EQ(scale.r_cl, 0.01);
  hermite::decode_regularised(earlier_format(2), back, scale, steps);
  EXPECT_EQ(steps, 77);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_FALSE(back[0].averaged);
  // A first-format section with a count appended is not a first-format
  // section: bytes left over.
  put<std::int64_t>(bytes, 5);
  EXPECT_THROW(hermite::decode_regularised(bytes, back, scale, steps), std::runtime_error);
}

TEST(TreeStateCodec, RoundTripKeepsTheBitsAndDamageIsRefused) {
  const std::vector<int> ids{0, 3, 7};
  const std::vector<hermite::Vec3> x{{1e-300, -0.0, 2.5}, {0.1, 0.2, 0.3}, {-7.0, 1e300, 5e-324}};
  const std::string b = hermite::encode_tree_state(0.375, ids, x);
  double t = 0.0;
  std::vector<int> ids2;
  std::vector<hermite::Vec3> x2;
  hermite::decode_tree_state(b, 8, t, ids2, x2);
  EXPECT_EQ(t, 0.375);
  EXPECT_EQ(ids2, ids);
  EXPECT_EQ(0, std::memcmp(x2.data(), x.data(), sizeof(hermite::Vec3) * x.size()));
  // Too few particles for the slots, cut short, one byte too many, slots
  // out of order, another format.
  EXPECT_THROW(hermite::decode_tree_state(b, 7, t, ids2, x2), std::runtime_error);
  EXPECT_THROW(hermite::decode_tree_state(b.substr(0, b.size() - 1), 8, t, ids2, x2),
               std::runtime_error);
  EXPECT_THROW(hermite::decode_tree_state(b + "x", 8, t, ids2, x2), std::runtime_error);
  const std::string swapped = hermite::encode_tree_state(0.375, {3, 0, 7}, x);
  EXPECT_THROW(hermite::decode_tree_state(swapped, 8, t, ids2, x2), std::runtime_error);
  std::string other = b;
  other[0] = 2;
  EXPECT_THROW(hermite::decode_tree_state(other, 8, t, ids2, x2), std::runtime_error);
}

}  // namespace

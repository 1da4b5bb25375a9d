// Subsystems to bytes and back: bit-exact continuation, damage refused.
#include <gtest/gtest.h>

#include <cstring>

#include "subsystem.h"
#include "subsystem_codec.h"

namespace {

using encounters::Subsystem;
using encounters::Vec3;

std::vector<Subsystem> two_groups() {
  Subsystem pythagorean = encounters::make_subsystem(
      {3, 4, 5}, {3.0, 4.0, 5.0}, {Vec3{1, 3, 0}, Vec3{-2, -1, 0}, Vec3{1, -1, 0}},
      {Vec3{0, 0, 0}, Vec3{0, 0, 0}, Vec3{0, 0, 0}}, 0.0);
  Subsystem pair =
      encounters::make_subsystem({-1, 8}, {1e-3, 2e-3}, {Vec3{0, 0, 0}, Vec3{1e-3, 0, 0}},
                                 {Vec3{0, 0, 0}, Vec3{0, 1.5, 0.2}}, 0.5);
  encounters::ar_advance(pythagorean, 5.0);
  encounters::ArSettings no_shortcut;
  no_shortcut.kepler_shortcut = false;
  encounters::ar_advance(pair, 0.7, {}, no_shortcut);
  return {pythagorean, pair};
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A run continued from decoded bytes takes the same steps as the original.
TEST(SubsystemCodec, ContinuationIsBitExact) {
  std::vector<Subsystem> original = two_groups();
  std::vector<Subsystem> restored =
      encounters::decode_subsystems(encounters::encode_subsystems(original));
  ASSERT_EQ(restored.size(), 2u);
  for (std::size_t g = 0; g < 2; ++g) {
    encounters::ar_advance(original[g], 9.0);
    encounters::ar_advance(restored[g], 9.0);
    const Subsystem &a = original[g], &b = restored[g];
    EXPECT_EQ(a.ids, b.ids);
    EXPECT_EQ(a.steps, b.steps);
    EXPECT_EQ(a.rejected, b.rejected);
    EXPECT_EQ(a.force_evaluations, b.force_evaluations);
    EXPECT_EQ(a.kepler_drifts, b.kepler_drifts);
    EXPECT_TRUE(same_bits(a.ds, b.ds));
    EXPECT_TRUE(same_bits(a.work, b.work));
    for (std::size_t i = 0; i < a.m.size(); ++i)
      for (int k = 0; k < 3; ++k) {
        EXPECT_TRUE(same_bits(a.x[i][k], b.x[i][k]));
        EXPECT_TRUE(same_bits(a.v[i][k], b.v[i][k]));
      }
  }
  EXPECT_TRUE(encounters::decode_subsystems(encounters::encode_subsystems({})).empty());
}

TEST(SubsystemCodec, DamageIsRefused) {
  const std::string bytes = encounters::encode_subsystems(two_groups());
  for (std::size_t cut = 0; cut < bytes.size(); ++cut)
    EXPECT_THROW(encounters::decode_subsystems(bytes.substr(0, cut)),
                 encounters::SubsystemCodecError)
        << cut;
  EXPECT_THROW(encounters::decode_subsystems(bytes + '\0'), encounters::SubsystemCodecError);
  std::string other = bytes;
  other[0] = 2;  // format
  EXPECT_THROW(encounters::decode_subsystems(other), encounters::SubsystemCodecError);
  // A negative mass in the first record (after format, count, members, ids).
  std::string bad = bytes;
  const double negative = -3.0;
  std::memcpy(&bad[4 + 8 + 8 + 3 * 4], &negative, 8);
  EXPECT_THROW(encounters::decode_subsystems(bad), encounters::SubsystemCodecError);
  // A huge count does not allocate.
  std::string huge = bytes;
  const std::uint64_t count = ~0ull;
  std::memcpy(&huge[4], &count, 8);
  EXPECT_THROW(encounters::decode_subsystems(huge), encounters::SubsystemCodecError);
}

}  // namespace

// The checkpoint codec's versions and sections: an older file still loads,
// a section round-trips as opaque bytes, and what this build cannot carry on
// is refused rather than dropped.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "checkpoint.h"
#include "mass_groups_section.h"

namespace hermite {
namespace {

Checkpoint small_checkpoint() {
  Checkpoint c;
  c.order = 4;
  c.dt_out = 0.125;
  c.input = "m.inp";
  c.mass = {0.5, 0.5};
  c.state.derivs = 2;
  c.state.x = {Vec3{1, 0, 0}, Vec3{-1, 0, 0}};
  c.state.v = {Vec3{0, 0.5, 0}, Vec3{0, -0.5, 0}};
  c.state.derivs_of.assign(8, Vec3{0.25, 0, 0});
  c.state.t = {0.0, 0.0};
  c.state.dt = {0.125, 0.125};
  return c;
}

// Rewrites the head and checksum of a file body as the codec lays them out:
// magic, version, byte-order mark, length, payload, FNV-1a.
std::string framed(unsigned version, const std::string& payload) {
  std::string out("NBFCKPT\n", 8);
  auto put = [&](const auto& v) { out.append(reinterpret_cast<const char*>(&v), sizeof v); };
  put(static_cast<std::uint32_t>(version));
  put(std::uint32_t{0x01020304u});
  put(static_cast<std::uint64_t>(8 + 4 + 4 + 8 + payload.size() + 8));
  out += payload;
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char ch : out) {
    h ^= ch;
    h *= 1099511628211ull;
  }
  put(h);
  return out;
}

std::string payload_of(const std::string& file) { return file.substr(24, file.size() - 32); }

TEST(CheckpointFormat, SectionsRoundTripAndAliveFlagsSurvive) {
  Checkpoint c = small_checkpoint();
  c.state.alive = {1, 0};
  c.sections["subsystems"] = std::string("\0\1binary", 8);
  c.sections["field"] = "hill";
  const Checkpoint d = decode_checkpoint(encode_checkpoint(c), "c.ck");
  EXPECT_EQ(d.sections, c.sections);
  EXPECT_EQ(d.state.alive, c.state.alive);
  EXPECT_EQ(encode_checkpoint(d), encode_checkpoint(c));
}

TEST(CheckpointFormat, VersionOneLoadsWithEveryParticleAliveAndNoSections) {
  const std::string v2 = encode_checkpoint(small_checkpoint());
  // A version-1 payload is the version-2 one without its tail: the empty
  // alive array (u64 0), the reference's external energy (f64 0) and the
  // section count (u64 0).
  std::string body = payload_of(v2);
  ASSERT_EQ(body.substr(body.size() - 24), std::string(24, '\0'));
  body.resize(body.size() - 24);
  const Checkpoint d = decode_checkpoint(framed(1, body), "old.ck");
  EXPECT_TRUE(d.state.alive.empty());
  EXPECT_TRUE(d.sections.empty());
  EXPECT_EQ(d.state.x, small_checkpoint().state.x);
}

TEST(CheckpointFormat, RefusesUnknownSectionsWrongAliveCountsAndFutureVersions) {
  auto refused = [](const std::string& bytes, const std::string& why) {
    try {
      decode_checkpoint(bytes, "x.ck");
      ADD_FAILURE() << "accepted; expected: " << why;
    } catch (const CheckpointError& e) {
      EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
    }
  };
  Checkpoint c = small_checkpoint();
  c.sections["field"] = "x";
  std::string body = payload_of(encode_checkpoint(c));
  const std::string tag = "field";
  const std::size_t at = body.rfind(tag);
  ASSERT_NE(at, std::string::npos);
  body.replace(at, tag.size(), "fjeld");
  refused(framed(2, body), "section 'fjeld' that this build does not know");

  Checkpoint wrong = small_checkpoint();
  wrong.state.alive = {1, 1, 1};
  refused(encode_checkpoint(wrong), "do not fit together");

  refused(framed(3, payload_of(encode_checkpoint(small_checkpoint()))), "format version 3");
}

// The mass groups' own section: exact boundaries and every member back, in a
// checkpoint file; a section that does not fit the run is refused.
TEST(CheckpointFormat, MassGroupsSectionKeepsBoundariesAndMembers) {
  MassGroups g;
  g.bounds = {0.1, 1.0 / 3.0, 7.25};
  g.member = {3, -1, 0, 2, 1};
  Checkpoint c = small_checkpoint();
  c.sections[kMassGroupsSection] = encode_mass_groups_section(g);
  const Checkpoint d = decode_checkpoint(encode_checkpoint(c), "x.ck");
  const MassGroups back = decode_mass_groups_section(d.sections.at(kMassGroupsSection), 5);
  EXPECT_EQ(back.bounds, g.bounds);  // bit for bit
  EXPECT_EQ(back.member, g.member);

  const std::pair<std::string, std::string> bad[] = {
      {"bounds 0x1p+0\nmembers 2\n0 1\n", "3 particles"},  // another model size
      {"bounds 0x1p+0\nmembers 3\n0 2 1\n", "bad or missing group"},
      {"bounds 0x1p+0\nmembers 3\n0 -2 1\n", "bad or missing group"},
      {"bounds 0x1p+0\nmembers 3\n0 1\n", "bad or missing group"},
      {"bounds 0x1p+0\nmembers 3\n0 1 1 0\n", "more than its members"},
      {"bounds 0x1p+1 0x1p+0\nmembers 3\n0 1 1\n", "bad boundary"},
      {"bounds 0 0x1p+0\nmembers 3\n0 1 1\n", "bad boundary"},
      {"bounds\nmembers 3\n0 0 0\n", "no boundaries"},
      {"", "is empty"}};
  for (const auto& [bytes, why] : bad) {
    try {
      decode_mass_groups_section(bytes, 3);
      ADD_FAILURE() << "accepted '" << bytes << "'; expected: " << why;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace hermite

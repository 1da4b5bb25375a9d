// The checkpoint codec's versions and sections: an older file still loads,
// a section round-trips as opaque bytes, and what this build cannot carry on
// is refused rather than dropped.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "checkpoint.h"

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

}  // namespace
}  // namespace hermite

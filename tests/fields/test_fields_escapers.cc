// Who leaves a cluster in a field (fields/escapers.h), the checkpoint
// section of the stars that left, and the galactic position of the frame.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "escapers.h"
#include "field_options.h"

namespace {

using fields::Vec3;

// r_J = 1 about the origin, k = 2. A star at 2.05 leaves; B, 0.07 from it
// and moving with it, is bound to it and leaves too though inside 2 r_J;
// C, as close on the other side but fast, stays; D at 1.5 stays; E beyond
// 2 r_J but of mass 0 (gone already) is not chosen again.
TEST(Escapers, FarStarsLeaveWithTheirBoundCompanions) {
  const double m = 1e-3;
  const std::vector<double> mass = {m, m, m, m, 0.0};
  const std::vector<Vec3> pos = {Vec3{2.05, 0, 0}, Vec3{1.98, 0, 0}, Vec3{1.99, -0.03, 0},
                                 Vec3{0, 1.5, 0}, Vec3{0, 0, 3}};
  // Two-body energy per reduced mass of A and B: 0.5 * 0.05^2 - 2e-3 / 0.07
  // < 0; of A and C: 0.5 * 1 - ... > 0.
  const std::vector<Vec3> vel = {Vec3{0, 0.3, 0}, Vec3{0, 0.35, 0}, Vec3{1.0, 0.3, 0},
                                 Vec3{0, 0, 0}, Vec3{0, 0, 0}};
  const auto out = fields::select_escapers(2.0, 1.0, 1.0, Vec3{0, 0, 0}, mass, pos, vel, 0.0);
  EXPECT_EQ(out, (std::vector<int>{0, 1}));
  // The centre matters: about (1, 0, 0) nothing is beyond 2.
  EXPECT_TRUE(fields::select_escapers(2.0, 1.0, 1.0, Vec3{1, 0, 0}, mass, pos, vel, 0.0).empty());
  // k = 0 keeps every star; an unbinding field (r_J infinite) too.
  EXPECT_TRUE(fields::select_escapers(0.0, 1.0, 1.0, Vec3{}, mass, pos, vel, 0.0).empty());
  EXPECT_TRUE(fields::select_escapers(2.0, INFINITY, 1.0, Vec3{}, mass, pos, vel, 0.0).empty());
  // A companion beyond the pair's own Jacobi radius, r_J (2e-3)^(1/3) =
  // 0.126, stays however slow.
  std::vector<Vec3> wide = pos;
  wide[1] = Vec3{1.90, 0, 0};
  std::vector<Vec3> still = vel;
  still[1] = still[0];
  EXPECT_EQ(fields::select_escapers(2.0, 1.0, 1.0, Vec3{}, mass, wide, still, 0.0),
            (std::vector<int>{0}));
}

TEST(Escapers, SectionReadsBackExactlyAndRefusesDamage) {
  fields::EscaperSection s;
  s.file_bytes = 1234;
  fields::Escaper e;
  e.t = 0.1;
  e.id = 17;
  e.m = 1.0 / 3.0;
  e.x = Vec3{1e-17, -2.5, 3.0 / 7.0};
  e.v = Vec3{0.1, 0.2, -0.3};
  e.energy = -1.0 / 9.0;
  e.e_field = 2.0 / 11.0;
  e.centre_galactic = Vec3{2000.0 / 3.0, -1, 0};
  s.records = {e, e};
  s.records[1].id = 3;
  s.totals = {0.125 / 3.0, 2.0 / 3.0, 2};
  const fields::EscaperSection r =
      fields::decode_escaper_section(fields::encode_escaper_section(s));
  EXPECT_EQ(r.file_bytes, 1234);
  EXPECT_EQ(r.totals.energy, s.totals.energy);
  EXPECT_EQ(r.totals.mass, s.totals.mass);
  EXPECT_EQ(r.totals.n, 2);
  ASSERT_EQ(r.records.size(), 2u);
  EXPECT_EQ(r.records[1].id, 3);
  EXPECT_EQ(r.records[0].x, e.x);
  EXPECT_EQ(r.records[0].v, e.v);
  EXPECT_EQ(r.records[0].centre_galactic, e.centre_galactic);
  EXPECT_EQ(r.records[0].energy, e.energy);
  EXPECT_EQ(r.records[0].e_field, e.e_field);
  const std::string good = fields::encode_escaper_section(s);
  const std::string bad[] = {
      good.substr(0, good.find("count")),                            // cut short
      std::string("format 2\n") + good.substr(good.find('\n') + 1),  // unknown format
      good.substr(0, good.rfind("record")),                          // a record lost
      good + "record 1 2 3\n",                                       // a short record
      std::string(good).replace(good.find("file_bytes ") + 11, 4, "-123"),
  };
  for (const std::string& b : bad) {
    EXPECT_THROW(fields::decode_escaper_section(b), fields::FieldUsageError) << b;
  }
}

// A quarter turn after the start, the point (1, 0, 0) of Hill's frame about
// an orbit of radius 100 lies at (0, 101, 0); Hill's field without an
// orbit turns about the cluster centre.
TEST(Escapers, GalacticPositionTurnsWithTheFrame) {
  const double w = 0.25, t = 0.5 * M_PI / w;
  const Vec3 g = fields::make_hill_field(w, 100.0)->galactic_position(t, Vec3{1, 0, 0.5});
  EXPECT_NEAR(g[0], 0.0, 1e-12);
  EXPECT_NEAR(g[1], 101.0, 1e-12);
  EXPECT_EQ(g[2], 0.5);
  const Vec3 c = fields::make_hill_field(w)->galactic_position(2 * t, Vec3{1, 2, 0});
  EXPECT_NEAR(c[0], -1.0, 1e-12);
  EXPECT_NEAR(c[1], -2.0, 1e-12);
}

}  // namespace

// The integrator programs in a field: the first line, the energy balance
// of the Jacobi energy and of the balance with the work of a changing
// field, the bound mass in the core history, and the refused command
// lines (no file written or touched).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "run_program.h"

namespace hermite_test {
namespace {

const std::string kPointMass = "--galaxy point-mass:1e11 --orbit 4 --mass 1e4 --radius 2";

class FieldPrograms : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' -n 256 -s 3 -q -o model.inp").status, 0);
  }
  // Largest |rel_error| of the energy history.
  double worst_error(const std::string& csv) const {
    double worst = 0.0;
    for (const auto& row : read_csv(dir_ / csv))
      worst = std::fmax(worst, std::fabs(row[kRelError]));
    return worst;
  }
  Outcome hermite(int order, const std::string& args) const {
    return run("OMP_NUM_THREADS=2 '" + program(order) + "' model.inp --progress 0 " + args);
  }
};

TEST_F(FieldPrograms, EnergyBalanceClosesInEachField) {
  if (program(4).empty() || program(8).empty()) GTEST_SKIP() << "programs not built";
  struct Case {
    int order;
    std::string args, first;
  };
  const Case cases[] = {
      {4, kPointMass + " --core core.csv", "hermite4: field: Hill's field, omega 0.0353553391;"},
      {8, kPointMass + " --tides exact", "hermite8: field: point mass 1e+07; exact tides"},
      {8,
       "--galaxy hernquist:1e10,0.7+miyamoto-nagai:6.8e10,3,0.28+nfw:1e12,250,10 "
       "--orbit-state 4,0,0.3,0,200,20 --mass 1e4 --radius 2",
       "hermite8: field: Hernquist"},
      {4, "--omega 0.1", "hermite4: field: Hill's field, omega 0.1;"},
  };
  for (const Case& c : cases) {
    const Outcome o = hermite(c.order, "--t-end 0.5 --energy e.csv " + c.args);
    ASSERT_EQ(o.status, 0) << c.args << "\n" << o.err;
    // The program's first line (a library may print its own before it).
    const std::string name = "hermite" + std::to_string(c.order) + ": ";
    EXPECT_EQ(o.out.find(name), o.out.find(c.first)) << o.out;
    EXPECT_NE(o.out.find(c.first), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("Jacobi radius"), std::string::npos) << o.out;
    EXPECT_LT(worst_error("e.csv"), 1e-6) << c.args;
  }
  // The bound mass about the density centre: most of the Plummer sphere
  // (some of it starts beyond r_J = 6.44).
  const std::string header = slurp(dir_ / "core.csv").substr(0, 120);
  EXPECT_NE(header.find(",nesc,m_bound,n_bound,r_jacobi,n_pot_esc\n"), std::string::npos) << header;
  for (const auto& row : read_csv(dir_ / "core.csv")) {
    EXPECT_GT(row[13], 0.95);
    EXPECT_LE(row[13], 1.0);
    EXPECT_NEAR(row[15], 6.4366 * std::cbrt(row[13]), 1e-3);
  }
}

// The energy history's columns of the escapers (docs/energy-and-checkpoints.md).
constexpr std::size_t kEEscaped = 15, kNEscaped = 16, kMEscaped = 17;
// The escaper file's columns.
constexpr std::size_t kEscT = 0, kEscId = 1, kEscM = 2, kEscX = 3, kEscEnergy = 9, kEscField = 10,
                      kEscXg = 11;

// Hill's field of omega 0.1 (r_J = 3.2 for the whole mass): some of the
// Plummer sphere's halo starts beyond two Jacobi radii and leaves at the
// outputs. Each escaper's row, the energy booked at its removal (against
// the star's own energy, computed apart), the criterion (against the core
// history's centre and r_J), the galactic position of the centre (turned
// back by omega t), the snapshots of the stars that stay under their ids,
// and a run stopped at t = 0.5 and continued, which ends in the same bytes.
TEST_F(FieldPrograms, EscapersLeaveWithTheirEnergyBooked) {
  if (program(4).empty()) GTEST_SKIP() << "program not built";
  const std::string common = "--t-end 1 --dt-out 0.125 --omega 0.1 ";
  ASSERT_EQ(
      hermite(4, common + "--energy a.csv --escapers a_esc.csv --core a_core.csv --snapshots a")
          .status,
      0);
  const auto energy = read_csv(dir_ / "a.csv");
  const auto esc = read_csv(dir_ / "a_esc.csv");
  const auto core = read_csv(dir_ / "a_core.csv");
  ASSERT_EQ(energy.size(), 9u);
  ASSERT_EQ(core.size(), 9u);
  ASSERT_FALSE(esc.empty()) << "stars start beyond 2 r_J";
  EXPECT_EQ(slurp(dir_ / "a_esc.csv").substr(0, 52),
            "time,id,mass,x,y,z,vx,vy,vz,energy,e_field,xg,yg,zg\n");
  EXPECT_EQ(energy.back()[kNEscaped], static_cast<double>(esc.size()));
  double m = 0.0;
  for (const auto& r : esc) m += r[kEscM];
  EXPECT_DOUBLE_EQ(energy.back()[kMEscaped], m);
  for (const auto& row : energy) EXPECT_LT(std::fabs(row[kRelError]), 1e-6);
  const double w = 0.1;
  for (std::size_t k = 1; k < energy.size(); ++k) {
    const double t = energy[k][kTime];
    std::vector<const std::vector<double>*> now;
    for (const auto& r : esc) {
      if (r[kEscT] == t) now.push_back(&r);
    }
    EXPECT_EQ(energy[k][kNEscaped] - energy[k - 1][kNEscaped], static_cast<double>(now.size()));
    // The stars that leave together take their kinetic energy, their
    // potential energy with every other star (each row counts their
    // mutual pairs, which the drop counts once) and their share of the
    // field's (softening 1/64).
    double drop = 0.0;
    for (std::size_t i = 0; i < now.size(); ++i) {
      const auto& r = *now[i];
      drop += r[kEscEnergy] + r[kEscField];
      const double x = r[kEscX], z = r[kEscX + 2];
      EXPECT_NEAR(r[kEscField], r[kEscM] * w * w * (-1.5 * x * x + 0.5 * z * z), 1e-12);
      for (std::size_t j = i + 1; j < now.size(); ++j) {
        const auto& q = *now[j];
        const double d2 = (r[kEscX] - q[kEscX]) * (r[kEscX] - q[kEscX]) +
                          (r[kEscX + 1] - q[kEscX + 1]) * (r[kEscX + 1] - q[kEscX + 1]) +
                          (r[kEscX + 2] - q[kEscX + 2]) * (r[kEscX + 2] - q[kEscX + 2]);
        drop += r[kEscM] * q[kEscM] / std::sqrt(d2 + 1.0 / 4096);
      }
    }
    EXPECT_NEAR(energy[k][kEEscaped] - energy[k - 1][kEEscaped], drop, 1e-9) << "t = " << t;
    // Beyond two Jacobi radii of the centre, which lies at the galactic
    // position of the frame turned back by omega t.
    const auto& c = core[k];
    const double rj = c[15];
    EXPECT_NEAR(rj, std::cbrt(c[13] / (3 * w * w)), 1e-6 * rj);
    for (const auto* r : now) {
      const double d =
          std::hypot((*r)[kEscX] - c[1], (*r)[kEscX + 1] - c[2], (*r)[kEscX + 2] - c[3]);
      EXPECT_GT(d, 1.99 * rj);
      const double cs = std::cos(w * t), sn = std::sin(w * t);
      EXPECT_NEAR((*r)[kEscXg], cs * c[1] - sn * c[2], 1e-4);
      EXPECT_NEAR((*r)[kEscXg + 1], sn * c[1] + cs * c[2], 1e-4);
      EXPECT_NEAR((*r)[kEscXg + 2], c[3], 1e-4);
    }
  }
  // The last snapshot: the stars that stay, under their model indices.
  std::ifstream snap(dir_ / "a0008.inp");
  std::string line;
  for (int h = 0; h < 3; ++h) std::getline(snap, line);
  std::vector<int> ids;
  while (std::getline(snap, line)) ids.push_back(std::stoi(line.substr(0, 6)));
  EXPECT_EQ(ids.size() + esc.size(), 256u);
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
  for (const auto& r : esc) {
    EXPECT_FALSE(std::binary_search(ids.begin(), ids.end(), static_cast<int>(r[kEscId])));
  }
  // Stopped and continued: the same bytes.
  ASSERT_EQ(hermite(4,
                    "--t-end 0.5 --dt-out 0.125 --omega 0.1 --energy b.csv --escapers b_esc.csv "
                    "--core b_core.csv --snapshots b --checkpoint ck.bin")
                .status,
            0);
  const Outcome o = run("OMP_NUM_THREADS=2 '" + program(4) + "' --restart ck.bin --t-end 1");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(slurp(dir_ / "a_esc.csv"), slurp(dir_ / "b_esc.csv"));
  EXPECT_EQ(slurp(dir_ / "a_core.csv"), slurp(dir_ / "b_core.csv"));
  EXPECT_EQ(slurp(dir_ / "a0008.inp"), slurp(dir_ / "b0008.inp"));
  const auto b = read_csv(dir_ / "b.csv");
  ASSERT_EQ(b.size(), energy.size());
  for (std::size_t r = 0; r < b.size(); ++r) {
    for (std::size_t c = 0; c < b[r].size(); ++c) {
      if (c == 8) continue;  // wall seconds
      EXPECT_EQ(energy[r][c], b[r][c]) << "row " << r << ", column " << c;
    }
  }
}

// Stars that leave take their pull with them at once: the stars that stay
// must not carry it in their stored forces into the next corrector, which
// would take it for a smooth change over the step. In a strong tide, with
// sixteen stars leaving at the first outputs, the energy error stays that
// of the run without removals (some 1e-8; 1e-6 when the pull lingered).
TEST_F(FieldPrograms, RemovalsLeaveTheEnergyErrorOfTheIntegration) {
  for (int order : {4, 6, 8}) {
    if (program(order).empty()) continue;
    const std::string tag = std::to_string(order);
    const Outcome o = hermite(
        order, "--t-end 1 --omega 0.25 --energy e" + tag + ".csv --escapers x" + tag + ".csv");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_GE(read_csv(dir_ / ("x" + tag + ".csv")).size(), 10u) << "order " << order;
    EXPECT_LT(worst_error("e" + tag + ".csv"), 1e-7) << "order " << order;
  }
}

TEST_F(FieldPrograms, RefusesBadFieldsWithoutTouchingFiles) {
  if (program(4).empty()) GTEST_SKIP() << "program not built";
  write("e.csv", "kept\n");
  const std::string bad[] = {
      "--galaxy point-mass:-1e11 --orbit 4 --mass 1e4 --radius 2",
      "--galaxy point-mass:1e11 --orbit 4",
      "--galaxy halo:1e11 --orbit 4 --mass 1e4 --radius 2",
      "--galaxy hernquist:1e10,0.7 --orbit 4 --mass 1e4 --radius 2 --tides hill",
      "--omega 5",                     // r_J = 0.24, inside the half-mass radius
      "--escapers esc.csv",            // no field for them
      "--omega 0.1 --escapers e.csv",  // the energy history's name
      "--omega 0.1 --escape-radius -1",
      "--orbit 4",
  };
  for (const std::string& args : bad) {
    const Outcome o = hermite(4, "--t-end 1 --energy e.csv --core core.csv " + args);
    EXPECT_NE(o.status, 0) << args;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_EQ(slurp(dir_ / "e.csv"), "kept\n") << args;
    EXPECT_FALSE(fs::exists(dir_ / "core.csv")) << args;
  }
}

// A run in a changing field (a general orbit, whose work enters the
// balance) stopped at t = 0.5 and continued from its checkpoint ends in the
// same bytes as the run straight through; the continued run takes its field
// from the checkpoint and refuses field options.
TEST_F(FieldPrograms, ContinuedRunMatchesTheStraightRun) {
  if (program(8).empty()) GTEST_SKIP() << "program not built";
  const std::string field =
      "--galaxy hernquist:1e10,0.7+miyamoto-nagai:6.8e10,3,0.28 --orbit-state 4,0,0.3,0,200,20 "
      "--mass 1e4 --radius 2";
  ASSERT_EQ(hermite(8, "--t-end 1 --dt-out 0.25 --energy a.csv --snapshots a " + field).status, 0);
  ASSERT_EQ(hermite(8,
                    "--t-end 0.5 --dt-out 0.25 --energy b.csv --snapshots b --checkpoint "
                    "ck.bin " +
                        field)
                .status,
            0);
  const Outcome refused = run("'" + program(8) + "' --restart ck.bin --t-end 1 --omega 0.1");
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.err.find("takes its external field from the checkpoint"), std::string::npos)
      << refused.err;
  const Outcome o = run("OMP_NUM_THREADS=2 '" + program(8) + "' --restart ck.bin --t-end 1");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("field: Hernquist"), std::string::npos) << o.out;
  EXPECT_EQ(slurp(dir_ / "a0004.inp"), slurp(dir_ / "b0004.inp"));
  const auto a = read_csv(dir_ / "a.csv"), b = read_csv(dir_ / "b.csv");
  ASSERT_EQ(a.size(), 5u);
  ASSERT_EQ(b.size(), 5u);
  for (std::size_t r = 0; r < a.size(); ++r) {
    for (std::size_t c = 0; c < a[r].size(); ++c) {
      if (c == 8) continue;  // wall seconds
      EXPECT_EQ(a[r][c], b[r][c]) << "row " << r << ", column " << c;
    }
  }
  EXPECT_NE(a.back()[18], 0.0) << "the field did work (work_external)";
  // A checkpoint without a field refuses one.
  ASSERT_EQ(hermite(4, "--t-end 0.25 --energy '' --checkpoint plain.bin").status, 0);
  const Outcome plain = run("'" + program(4) + "' --restart plain.bin --t-end 1 --omega 0.1");
  EXPECT_NE(plain.status, 0);
  EXPECT_NE(plain.err.find("holds no external field"), std::string::npos) << plain.err;
}

}  // namespace
}  // namespace hermite_test

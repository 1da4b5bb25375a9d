// The integrator programs end to end on the host backend: a model from
// plummer_gen integrated to t = 1 by each order, refused input, options,
// snapshots and restarts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>

#include "model.h"
#include "run_program.h"
#include "small_model.h"

namespace hermite_test {
namespace {

using Programs = ScratchTest;

// The 1,024-particle model of plummer_gen to t = 1 with the default
// accuracy parameter: order 4 keeps the energy to 1e-6, and orders 6 and 8
// keep it better for as many force evaluations (within 5%).
TEST_F(Programs, EnergyConservationOfAPlummerModel) {
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' 1 1").status, 0);
  ASSERT_FALSE(program(4).empty());
  double error4 = 0.0, cost4 = 0.0;
  for (int order : {4, 6, 8}) {
    if (program(order).empty()) continue;
    const std::string csv = "energy" + std::to_string(order) + ".csv";
    const Outcome o = run("'" + program(order) + "' --energy " + csv);
    ASSERT_EQ(o.status, 0) << o.err;
    const auto rows = read_csv(dir_ / csv);
    ASSERT_EQ(rows.size(), 9u);  // t = 0, 0.125, ..., 1
    EXPECT_EQ(rows.back()[kTime], 1.0);
    double worst = 0.0;
    for (const auto& r : rows) worst = std::fmax(worst, std::fabs(r[kRelError]));
    const double cost = rows.back()[kInteractions];
    std::printf("order %d: max |dE/E| = %.3e, %.0f particle steps, %.3e interactions\n", order,
                worst, rows.back()[kParticleSteps], cost);
    EXPECT_NE(o.out.find("done at t = 1"), std::string::npos) << o.out;
    if (order == 4) {
      EXPECT_LT(worst, 1e-6);
      error4 = worst;
      cost4 = cost;
    } else {
      EXPECT_LT(worst, error4) << "order " << order;
      EXPECT_LE(cost, 1.05 * cost4) << "order " << order;
    }
  }
}

// Unsoftened, 128 particles (plummer_gen's seed) to t = 2.5 with an output
// every 1/256: subsystems form, take members and lose them, some at the
// very instant of an output. The particles about a subsystem feel its
// members from its first step on, and the energy holds their tidal terms,
// so that |dE/E| stays below 2e-5 at every output (with the perturbers
// listed only from the centre of mass's next step on it reached 3e-4).
TEST_F(Programs, RegularisedEncountersKeepTheEnergyAtEveryOutput) {
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' -n 128 -q").status, 0);
  const Outcome o = run("'" + program(4) +
                        "' --eps 0 --t-end 2.5 --dt-out 0.00390625 --energy e.csv "
                        "--encounters enc.csv --progress 0");
  ASSERT_EQ(o.status, 0) << o.err;
  const auto rows = read_csv(dir_ / "e.csv");
  ASSERT_EQ(rows.size(), 641u);
  double worst = 0.0;
  for (const auto& r : rows) worst = std::fmax(worst, std::fabs(r[kRelError]));
  std::printf("max |dE/E| = %.3e\n", worst);
  EXPECT_LT(worst, 2e-5);
  FILE* log = std::fopen((dir_ / "enc.csv").c_str(), "r");
  ASSERT_NE(log, nullptr);
  int lines = 0;
  for (int c; (c = std::fgetc(log)) != EOF;) lines += c == '\n';
  std::fclose(log);
  EXPECT_GT(lines, 50);  // the run did form and end subsystems
}

// The library's resident particles and the integrator's own prediction
// give the same bits at every order: snapshots byte for byte, and the
// energy rows but for their wall times. Block steps with a spread of levels
// and an output interval that leaves particles mid-step exercise both the
// start-up trials and the predictor's rule for particles past their step.
// In Hill's field too, whose Coriolis term takes a second corrector, and
// from whose Jacobi radius stars leave at the first output; and with
// regularised subsystems, which form, take in, hand back and end bodies
// outside the block step (some 100 events in this run).
TEST_F(Programs, ResidentParticlesGiveTheBitsOfTheHostPrediction) {
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' -q -n 200").status, 0);
  const std::string field = " --omega 0.25 --escape-radius 1 --escapers x";
  const std::string subsystems =
      " --eps 1e-3 --regularise on --rcl 0.05 --dtcl 0.01 --encounters x";
  for (int order : {4, 6, 8}) {
    if (program(order).empty()) continue;
    for (const std::string& extra : {std::string(), field, subsystems}) {
      const std::string where = "order " + std::to_string(order) + extra;
      std::string energy[2], logs[2];
      for (int on = 0; on < 2; ++on) {
        const std::string tag = std::to_string(order) + (on ? "on" : "off");
        const Outcome o = run("'" + program(order) + "' --t-end 0.5 --dt-out 0.25 --resident " +
                              (on ? "on" : "off") + " --energy e" + tag + ".csv --snapshots s" +
                              tag + (extra.empty() ? "" : extra + tag + ".csv"));
        ASSERT_EQ(o.status, 0) << where << ": " << o.err;
        // Every column as printed but wall_seconds (the ninth).
        std::string rows, line;
        std::istringstream in(slurp(dir_ / ("e" + tag + ".csv")));
        while (std::getline(in, line)) {
          std::istringstream fields(line);
          std::string value;
          for (int c = 0; std::getline(fields, value, ','); ++c) {
            if (c != 8) rows += value + ",";
          }
          rows += "\n";
        }
        energy[on] = rows;
        if (!extra.empty()) logs[on] = slurp(dir_ / ("x" + tag + ".csv"));
      }
      EXPECT_EQ(energy[0], energy[1]) << where;
      EXPECT_EQ(logs[0], logs[1]) << where;
      if (!extra.empty()) {
        EXPECT_GT(std::count(logs[0].begin(), logs[0].end(), '\n'), 10) << where;
      }
      for (const char* k : {"0001", "0002"}) {
        const std::string off = slurp(dir_ / ("s" + std::to_string(order) + "off" + k + ".inp"));
        EXPECT_FALSE(off.empty());
        EXPECT_EQ(off, slurp(dir_ / ("s" + std::to_string(order) + "on" + k + ".inp")))
            << where << ", snapshot " << k;
      }
    }
  }
  const Outcome bad = run("'" + program(4) + "' --resident maybe");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("--resident must be 'on' or 'off'"), std::string::npos) << bad.err;
}

// Small accuracy parameters at sixth and eighth order: steps short against
// the time scale, where the rounding of the forces dominates the
// interpolated derivatives, must not drive the steps down to nothing.
TEST_F(Programs, HighOrdersKeepTheirStepsAtSmallAccuracyParameters) {
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' 1 1").status, 0);
  for (int order : {6, 8}) {
    if (program(order).empty()) continue;
    const Outcome o = run("'" + program(order) + "' --eta 0.001 --t-end 0.125 --energy ''");
    EXPECT_EQ(o.status, 0) << "order " << order << ": " << o.err;
  }
}

TEST_F(Programs, RefusesBadModelFiles) {
  ASSERT_FALSE(program(4).empty());
  const Outcome missing = run("'" + program(4) + "'");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("data.inp: cannot open"), std::string::npos) << missing.err;

  write("data.inp", "0000 \n000003 \n0.0 \n000000 0.5 1 0 0 0 0.5 0\n000001 0.5 -1 0 0 0 -0.5\n");
  const Outcome short_line = run("'" + program(4) + "'");
  EXPECT_EQ(short_line.status, 1);
  EXPECT_NE(short_line.err.find("data.inp:5: expected 8 fields"), std::string::npos)
      << short_line.err;
  EXPECT_EQ(short_line.out.find("t = "), std::string::npos);  // no run started

  write("data.inp", "0000 \n000003 \n0.0 \n000000 0.5 1 0 0 0 0.5 0\n");
  const Outcome truncated = run("'" + program(4) + "'");
  EXPECT_EQ(truncated.status, 1);
  EXPECT_NE(truncated.err.find("data.inp:5: the file ends after 1 of 3 particle lines"),
            std::string::npos)
      << truncated.err;
}

TEST_F(Programs, RefusesBadOptions) {
  ASSERT_FALSE(program(4).empty());
  hermite::Model m = small_model();
  m.time = 1.5;
  hermite::write_model((dir_ / "data.inp").string(), m);
  const Outcome step = run("'" + program(4) + "' --dt-out 0.3");
  EXPECT_EQ(step.status, 2);
  EXPECT_NE(step.err.find("--dt-out must be a power of two"), std::string::npos) << step.err;
  const Outcome late = run("'" + program(4) + "' --t-end 1");
  EXPECT_EQ(late.status, 1);
  EXPECT_NE(late.err.find("does not lie after the model's time 1.5"), std::string::npos)
      << late.err;
  const Outcome help = run("'" + program(4) + "' --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: hermite4"), std::string::npos);
}

// An eps too small for the single-precision kernels, or eps = 0 with two
// particles at one point, is refused before the run, naming the cause, in
// every order (it once stopped at the first force with "not finite" and no
// reason); a model that is a device or a directory is named as such, where
// /dev/zero once filled the memory.
TEST_F(Programs, RefusesASofteningTooSmallAndModelsThatAreNotFiles) {
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' -q -n 64").status, 0);
  for (const int order : {4, 6, 8}) {
    SCOPED_TRACE(order);
    const Outcome tiny = run("'" + program(order) + "' --eps 1e-14 --energy ''");
    EXPECT_EQ(tiny.status, 1);
    EXPECT_NE(tiny.err.find("eps = 1e-14 is too small for single precision: m/eps^3"),
              std::string::npos)
        << tiny.err;
    EXPECT_EQ(tiny.out.find("t = "), std::string::npos);  // no run started
    const Outcome under = run("'" + program(order) + "' --eps 1e-20 --energy ''");
    EXPECT_NE(under.err.find("its square underflows"), std::string::npos) << under.err;
  }
  // Unsoftened, two particles at one point (it once stopped with "the time
  // step of particle 0 fell below ..." and no reason).
  write("twin.inp",
        "0000\n000003\n0.0\n000000 0.3 0.5 0 0 0 0 0\n000001 0.4 -1 0 0 0 0 0\n"
        "000002 0.3 0.5 0 0 0 0 0\n");
  for (const int order : {4, 6, 8}) {
    const Outcome twin = run("'" + program(order) + "' twin.inp --eps 0 --energy ''");
    EXPECT_EQ(twin.status, 1) << order;
    EXPECT_NE(twin.err.find("particles 0 and 2 (counted from 0) at one position (0.5, 0, 0)"),
              std::string::npos)
        << order << ": " << twin.err;
  }
  const Outcome device = run("'" + program(4) + "' /dev/zero");
  EXPECT_EQ(device.status, 1);
  EXPECT_NE(device.err.find("/dev/zero: is a device, not a model file"), std::string::npos)
      << device.err;
  const Outcome folder = run("'" + program(4) + "' .");
  EXPECT_NE(folder.err.find(".: is a directory, not a model file"), std::string::npos)
      << folder.err;
}

// Snapshots carry the number, time and state; a run restarted from one
// continues from its time and stays close to the uninterrupted run (the
// restart cannot carry the higher derivatives or the steps, so it is not
// identical).
TEST_F(Programs, SnapshotsRestartARun) {
  ASSERT_FALSE(program(4).empty());
  hermite::Model m = small_model();
  hermite::write_model((dir_ / "data.inp").string(), m);
  const std::string common = " --eps 0.2 --dt-out 0.25 ";
  const Outcome whole = run("'" + program(4) + "'" + common + "--t-end 1 --snapshots snap");
  ASSERT_EQ(whole.status, 0) << whole.err;
  const hermite::Model half = hermite::read_model((dir_ / "snap0002.inp").string());
  EXPECT_EQ(half.number, 2);
  EXPECT_EQ(half.time, 0.5);
  EXPECT_EQ(half.mass, m.mass);
  const hermite::Model end = hermite::read_model((dir_ / "snap0004.inp").string());
  EXPECT_EQ(end.time, 1.0);

  const Outcome resumed = run("'" + program(4) + "'" + common +
                              "--t-end 1 --snapshots again --energy again.csv snap0002.inp");
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_NE(resumed.out.find("t = 0.5"), std::string::npos) << resumed.out;
  const hermite::Model again = hermite::read_model((dir_ / "again0004.inp").string());
  EXPECT_EQ(again.time, 1.0);
  EXPECT_LT(max_difference(again.pos, end.pos), 1e-6);
  EXPECT_LT(max_difference(again.vel, end.vel), 1e-6);
  EXPECT_EQ(read_csv(dir_ / "again.csv").size(), 3u);  // t = 0.5, 0.75, 1
}

}  // namespace
}  // namespace hermite_test

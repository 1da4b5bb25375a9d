// Several ranks against one: each rank holds a share of the j-particles and
// the partial forces are summed, so two ranks must follow the trajectory of
// one up to the rounding of the forces' single-precision sums, whose order
// changes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "model.h"
#include "planted_binary.h"
#include "run_program.h"
#include "small_model.h"
#include "stop_and_continue.h"

namespace hermite_test {
namespace {

std::string mpirun(int ranks, const std::string& program, const std::string& args) {
  return std::string("OMP_NUM_THREADS=1 '") + MPIEXEC_PATH +
         "' --oversubscribe --allow-run-as-root -np " + std::to_string(ranks) + " '" + program +
         "' " + args;
}

class Mpi : public ScratchTest {
 protected:
  // Runs the program on one rank and then on two, each with `args` in which
  // every '@' stands for the run's name, "one" or "two".
  void run_on_one_and_two(const std::string& program, const std::string& args) const {
    for (int ranks : {1, 2}) {
      const std::string name = ranks == 1 ? "one" : "two";
      std::string a = args;
      for (auto at = a.find('@'); at != std::string::npos; at = a.find('@', at))
        a.replace(at, 1, name);
      const Outcome o = run(mpirun(ranks, program, a));
      ASSERT_EQ(o.status, 0) << name << ": " << o.err;
    }
  }
};

// The collective that hands every rank the others' corrected particles,
// on 1 to 4 ranks: shares that are empty (fewer records than ranks),
// uneven and large. Every rank must end with every record.
TEST_F(Mpi, EveryRankCountGathersEveryShare) {
  for (int ranks = 1; ranks <= 4; ++ranks) {
    const Outcome o = run(mpirun(ranks, COMM_PROBE_PATH, ""));
    EXPECT_EQ(o.status, 0) << ranks << " ranks: " << o.err;
    EXPECT_NE(o.out.find("gathered on " + std::to_string(ranks) + " ranks"), std::string::npos)
        << o.out;
  }
}

// With one shared step there are no step decisions that rounding could
// tip, and the states stay within rounding of each other.
TEST_F(Mpi, TwoRanksFollowOneOnASharedStep) {
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' 1 1").status, 0);
  for (const char* program : {HERMITE4_PATH, HERMITE8_PATH}) {
    if (*program == '\0') continue;
    const std::string args = "--t-end 0.125 --shared-dt 0.001953125 --energy '' --snapshots ";
    const Outcome one = run(mpirun(1, program, args + "one"));
    ASSERT_EQ(one.status, 0) << one.err;
    const Outcome two = run(mpirun(2, program, args + "two"));
    ASSERT_EQ(two.status, 0) << two.err;
    EXPECT_NE(two.out.find("Rank 01"), std::string::npos) << two.out;  // both ranks bound
    EXPECT_NE(two.out.find("2 ranks"), std::string::npos) << two.out;
    const hermite::Model a = hermite::read_model((dir_ / "one0001.inp").string());
    const hermite::Model b = hermite::read_model((dir_ / "two0001.inp").string());
    EXPECT_EQ(a.time, 0.125);
    EXPECT_LT(max_difference(a.pos, b.pos), 1e-7) << program;
    EXPECT_LT(max_difference(a.vel, b.vel), 1e-7) << program;
  }
}

// With block steps a rounding difference can move a particle to another
// step level now and then; the runs still agree in cost and energy error,
// and closely in the states.
TEST_F(Mpi, TwoRanksFollowOneOnBlockSteps) {
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' 1 1").status, 0);
  ASSERT_NO_FATAL_FAILURE(
      run_on_one_and_two(HERMITE4_PATH, "--t-end 0.25 --snapshots @ --energy @.csv"));
  const auto r1 = read_csv(dir_ / "one.csv");
  const auto r2 = read_csv(dir_ / "two.csv");
  ASSERT_EQ(r1.size(), r2.size());
  EXPECT_EQ(r1[0][kTotal], r1[0][kTotal]);
  EXPECT_NEAR(r1.back()[kRelError], r2.back()[kRelError], 1e-8);
  EXPECT_NEAR(r1.back()[kParticleSteps], r2.back()[kParticleSteps],
              0.01 * r1.back()[kParticleSteps]);
  const hermite::Model a = hermite::read_model((dir_ / "one0002.inp").string());
  const hermite::Model b = hermite::read_model((dir_ / "two0002.inp").string());
  EXPECT_LT(max_difference(a.pos, b.pos), 1e-6);
}

// A tide that changes along an eccentric orbit does work on the cluster,
// which every rank books for every particle's step, whichever rank
// corrected it: the energy balance holds on three ranks as on one (booked
// by the correcting rank alone, two thirds of the work would be missing,
// some 1e-4 of |E|).
TEST_F(Mpi, ThreeRanksBookTheWorkOfAMovingTide) {
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' -q -n 256 -s 5").status, 0);
  const std::string args =
      "--galaxy point-mass:1e11 --orbit-state 3,0,0,0,120,0 --mass 1e4 --radius 3 --t-end 1 "
      "--dt-out 0.5 --progress 0 --energy ";
  std::vector<std::vector<double>> rows[2];
  for (int ranks : {1, 3}) {
    const std::string name = "w" + std::to_string(ranks) + ".csv";
    const Outcome o = run(mpirun(ranks, HERMITE4_PATH, args + name));
    ASSERT_EQ(o.status, 0) << o.err;
    rows[ranks / 3] = read_csv(dir_ / name);
    ASSERT_EQ(rows[ranks / 3].size(), 3u);
    EXPECT_LT(std::fabs(rows[ranks / 3].back()[kRelError]), 1e-6) << ranks << " ranks";
  }
  const double work = rows[0].back()[kWorkExternal];
  EXPECT_GT(std::fabs(work), 1e-5);
  EXPECT_NEAR(rows[1].back()[kWorkExternal], work, 1e-8 * std::fabs(work));
}

// Stars leaving a tidal field at several outputs, with their rows written:
// every rank takes part in each output's collective calls (rank 0 alone
// holds the escapers' file), so two ranks run through as one does and
// remove the same stars.
TEST_F(Mpi, TwoRanksRemoveEscapersAtEveryOutput) {
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' -q -n 256 -s 4").status, 0);
  ASSERT_NO_FATAL_FAILURE(run_on_one_and_two(
      HERMITE4_PATH, "--t-end 1 --omega 0.25 --progress 0 --energy '' --escapers @.csv"));
  const auto e1 = read_csv(dir_ / "one.csv");
  const auto e2 = read_csv(dir_ / "two.csv");
  ASSERT_GE(e1.size(), 2u) << "stars must leave";
  ASSERT_EQ(e1.size(), e2.size());
  for (std::size_t k = 0; k < e1.size(); ++k) {
    EXPECT_EQ(e1[k][0], e2[k][0]) << "row " << k;  // time
    EXPECT_EQ(e1[k][1], e2[k][1]) << "row " << k;  // star
  }
}

// Each rank's library keeps every particle and computes the forces of its
// share: on 1 to 3 ranks (order 4; order 8 on 3) the resident particles give
// the bits of the integrator's own prediction on as many ranks, with
// regularised subsystems too (order 4).
TEST_F(Mpi, ResidentParticlesGiveTheSameBitsOnEachRankCount) {
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' -q -n 150").status, 0);
  const std::string subsystems = " --eps 1e-3 --regularise on --rcl 0.05 --dtcl 0.01";
  for (const char* program : {HERMITE4_PATH, HERMITE8_PATH}) {
    if (*program == '\0') continue;
    const bool order4 = program == std::string(HERMITE4_PATH);
    for (const std::string& extra : {std::string(), order4 ? subsystems : std::string()}) {
      for (int ranks = order4 ? 1 : 3; ranks <= 3; ++ranks) {
        std::string snap[2];
        for (int on = 0; on < 2; ++on) {
          const std::string prefix = std::string("r") + std::to_string(ranks) + (on ? "on" : "off");
          const Outcome o = run(mpirun(ranks, program,
                                       std::string("--t-end 0.25 --energy '' --resident ") +
                                           (on ? "on" : "off") + " --snapshots " + prefix + extra));
          ASSERT_EQ(o.status, 0) << o.err;
          snap[on] = slurp(dir_ / (prefix + "0002.inp"));
        }
        EXPECT_FALSE(snap[0].empty());
        EXPECT_EQ(snap[0], snap[1]) << program << extra << " on " << ranks << " ranks";
      }
      if (!order4) break;
    }
  }
}

int run_in(const fs::path& dir, const std::string& command) {
  return finish(start(dir, command, "setup"));
}

std::string launcher(int ranks) {
  return std::string("env OMP_NUM_THREADS=1 '") + MPIEXEC_PATH +
         "' --oversubscribe --allow-run-as-root -np " + std::to_string(ranks) + " ";
}

// Stopped by SIGUSR1, which the launcher passes on to every rank (a batch
// system signals every process itself), and continued on two ranks: the
// same bytes as a run never stopped.
void stop_and_continue_on_two(const fs::path& dir, const char* program) {
  if (*program == '\0') GTEST_SKIP();
  ASSERT_EQ(run_in(dir, quoted(PLUMMER_GEN_PATH) + " -q -n 128 -o m.inp"), 0);
  stop_and_continue(dir, program, launcher(2), 0, SIGUSR1);
}

TEST_F(Mpi, StoppedAndContinuedOnTwoRanksWritesTheSameBytes4) {
  stop_and_continue_on_two(dir_, HERMITE4_PATH);
}

TEST_F(Mpi, StoppedAndContinuedOnTwoRanksWritesTheSameBytes8) {
  stop_and_continue_on_two(dir_, HERMITE8_PATH);
}

// Stopped on one rank and continued on two: the run goes on correctly,
// within the rounding that separates any two rank counts.
TEST_F(Mpi, StoppedOnOneRankContinuesOnTwo) {
  ASSERT_EQ(run(quoted(PLUMMER_GEN_PATH) + " -q -n 128 -o m.inp").status, 0);
  stop_and_continue(dir_, HERMITE4_PATH, launcher(1), 2, SIGUSR1);
  const auto a = read_csv(dir_ / "a.csv");
  const auto b = read_csv(dir_ / "b.csv");
  ASSERT_EQ(a.size(), b.size());
  EXPECT_EQ(a.front()[kTotal], b.front()[kTotal]);
  EXPECT_NEAR(a.back()[kRelError], b.back()[kRelError], 1e-8);
  const hermite::Model x = hermite::read_model((dir_ / "a0012.inp").string());
  const hermite::Model y = hermite::read_model((dir_ / "b0012.inp").string());
  EXPECT_LT(max_difference(x.pos, y.pos), 1e-5);
}

// Ranks 1 to 4 (3 gives uneven shares) on a model whose block steps range
// from a few particles to all of them: each rank count follows one rank to
// the rounding of its force sums. Every rank checks in each step that all
// took the same block step, and binds the device of its node-local rank.
TEST_F(Mpi, OneToFourRanksFollowOneOnMixedBlockSteps) {
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' -q -n 256 -s 11").status, 0);
  const std::string args = "--t-end 0.5 --dt-out 0.5 --eps 0.01 --energy '' --snapshots ";
  hermite::Model one;
  for (int ranks = 1; ranks <= 4; ++ranks) {
    const std::string prefix = "r" + std::to_string(ranks) + "_";
    const Outcome o = run(mpirun(ranks, HERMITE4_PATH, args + prefix));
    ASSERT_EQ(o.status, 0) << o.err;
    char bound[16];
    std::snprintf(bound, sizeof bound, "Rank %02d", ranks - 1);
    EXPECT_NE(o.out.find(bound), std::string::npos) << o.out;
    const hermite::Model m = hermite::read_model((dir_ / (prefix + "0001.inp")).string());
    ASSERT_EQ(m.time, 0.5);
    if (ranks == 1) {
      one = m;
      continue;
    }
    EXPECT_LT(max_difference(one.pos, m.pos), 1e-8) << ranks << " ranks";
  }
}

// Unsoftened with regularised subsystems, one to three ranks: every rank
// forms, advances and ends the same subsystems (the step digest checks
// that all took the same block steps, which a different decision would
// break at once), and the runs agree in their energy and outcome.
TEST_F(Mpi, OneToThreeRanksTakeTheSameSubsystemDecisions) {
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' -q -n 256 -s 5").status, 0);
  const std::string args = "--t-end 0.5 --dt-out 0.5 --eps 0 --rcl 0.02 --progress 0 ";
  double first = 0.0;
  for (int ranks = 1; ranks <= 3; ++ranks) {
    const std::string tag = std::to_string(ranks);
    const Outcome o = run(mpirun(ranks, HERMITE4_PATH,
                                 args + "--energy e" + tag + ".csv --encounters c" + tag + ".csv"));
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("regularised subsystems: R_cl = 0.02"), std::string::npos) << o.out;
    const auto rows = read_csv(dir_ / ("e" + tag + ".csv"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_LT(std::fabs(rows.back()[kRelError]), 1e-5) << ranks << " ranks";
    std::ifstream log(dir_ / ("c" + tag + ".csv"));
    int events = -1;
    for (std::string line; std::getline(log, line);) ++events;
    EXPECT_GT(events, 0) << ranks << " ranks: no subsystem formed";
    if (ranks == 1) first = rows.back()[kRelError];
    EXPECT_NEAR(rows.back()[kRelError], first, 1e-6) << ranks << " ranks";
  }
}

// A hard binary of a = 3e-4 planted in a 256-body Plummer model, perturbed
// at some 1e-6 of its own force, acts by its averaged orbit and runs
// slowed: 1 to 3 ranks take the same subsystem decisions (the events'
// times, kinds and members; unsoftened, the ranks' sums differ in the last
// bits, so the values agree to 1e-6) and end with the binary's members
// where one rank puts them.
TEST_F(Mpi, OneToThreeRanksSlowTheHardBinaryAlike) {
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' -q -n 256 -s 5 -o p.inp").status, 0);
  hermite::Model m = hermite::read_model((dir_ / "p.inp").string());
  plant_binary(m, 3e-4, 0.5);
  hermite::write_model((dir_ / "hb.inp").string(), m);
  auto decisions = [](const std::string& log) {
    std::string out;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
      std::size_t at = line.find(',');
      at = line.find(',', at + 1);
      out += line.substr(0, line.find(',', at + 1)) + "\n";
    }
    return out;
  };
  std::string first_log;
  hermite::Model first;
  for (int ranks = 1; ranks <= 3; ++ranks) {
    const std::string tag = std::to_string(ranks);
    const Outcome o = run(mpirun(ranks, HERMITE4_PATH,
                                 "hb.inp --t-end 0.25 --dt-out 0.25 --eps 0 --progress 0 --energy "
                                 "'' --snapshots s" +
                                     tag + " --encounters c" + tag + ".csv"));
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string log = decisions(slurp(dir_ / ("c" + tag + ".csv")));
    const hermite::Model end = hermite::read_model((dir_ / ("s" + tag + "0001.inp")).string());
    EXPECT_NE(log.find("\n0,form,"), std::string::npos) << log;
    if (ranks == 1) {
      first_log = log;
      first = end;
      continue;
    }
    EXPECT_EQ(log, first_log) << ranks << " ranks";
    for (std::size_t k = 0; k < end.pos.size(); ++k)
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(end.pos[k][c], first.pos[k][c], 1e-6) << k;
  }
}

}  // namespace
}  // namespace hermite_test

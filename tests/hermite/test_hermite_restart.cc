// Checkpoints through the real programs: a run stopped by SIGTERM at a
// random moment and continued from its checkpoint writes the same bytes as
// a run never stopped; damaged checkpoints and changed options are refused.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "background_run.h"
#include "model.h"
#include "run_program.h"
#include "stop_and_continue.h"

namespace hermite_test {
namespace {

using Restart = ScratchTest;

TEST_F(Restart, StoppedAndContinuedRunsWriteTheSameBytes) {
  ASSERT_EQ(run(quoted(PLUMMER_GEN_PATH) + " -q -n 256 -o m.inp").status, 0);
  for (int order : {4, 8}) {
    if (program(order).empty()) continue;
    stop_and_continue(dir_, program(order), "", 0);
    for (const char* f : {"a.csv", "b.csv", "a.ck", "b.ck"}) fs::remove(dir_ / f);
  }
}

// Unsoftened, with regularised subsystems forming, alive at the stop and
// ending: the continued run writes the same bytes and the same event log.
TEST_F(Restart, RegularisedSubsystemsContinueByteForByte) {
  ASSERT_EQ(run(quoted(PLUMMER_GEN_PATH) + " -q -n 256 -s 5 -o m.inp").status, 0);
  for (int order : {4, 8}) {
    if (program(order).empty()) continue;
    stop_and_continue(dir_, program(order), "", 0, SIGTERM, true);
    for (const char* f : {"a.csv", "b.csv", "a.ck", "b.ck", "a-enc.csv", "b-enc.csv"}) {
      fs::remove(dir_ / f);
    }
  }
}

// A checkpoint at an output, continued with a later end time: numbering,
// energy reference and counters go on.
TEST_F(Restart, ContinuesPastTheFormerEndTime) {
  if (program(4).empty()) GTEST_SKIP();
  ASSERT_EQ(run(quoted(PLUMMER_GEN_PATH) + " -q -n 128 -o m.inp").status, 0);
  const std::string h4 = quoted(program(4));
  ASSERT_EQ(run(h4 + " m.inp --t-end 0.5 --energy a.csv --snapshots a").status, 0);
  ASSERT_EQ(run(h4 + " m.inp --t-end 0.25 --energy b.csv --snapshots b --checkpoint b.ck").status,
            0);
  const Outcome more = run(h4 + " --restart b.ck --t-end 0.5");
  ASSERT_EQ(more.status, 0) << more.err;
  EXPECT_EQ(slurp(dir_ / "a0004.inp"), slurp(dir_ / "b0004.inp"));
  EXPECT_EQ(without_wall(slurp(dir_ / "a.csv")), without_wall(slurp(dir_ / "b.csv")));
  // Nothing left to do: refused.
  const Outcome none = run(h4 + " --restart b.ck");
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("give a later --t-end"), std::string::npos) << none.err;
}

TEST_F(Restart, RefusesDamagedForeignAndChangedRuns) {
  if (program(4).empty() || program(8).empty()) GTEST_SKIP();
  ASSERT_EQ(run(quoted(PLUMMER_GEN_PATH) + " -q -n 64 -o m.inp").status, 0);
  const std::string h4 = quoted(program(4)), h8 = quoted(program(8));
  ASSERT_EQ(run(h4 + " m.inp --t-end 0.125 --energy '' --checkpoint c.ck").status, 0);
  const std::string good = slurp(dir_ / "c.ck");
  ASSERT_GT(good.size(), 100u);
  auto refused = [&](const std::string& bytes, const std::string& args, int status,
                     const std::string& why) {
    write("x.ck", bytes);
    const Outcome o = run(args);
    EXPECT_EQ(o.status, status) << args;
    EXPECT_NE(o.err.find(why), std::string::npos) << o.err;
    EXPECT_EQ(slurp(dir_ / "x.ck"), bytes) << "a refused checkpoint must stay as it was";
  };
  std::string flipped = good;
  flipped[flipped.size() / 2] ^= 0x10;
  refused(flipped, h4 + " --restart x.ck --t-end 1", 1, "checksum does not match");
  refused(good.substr(0, good.size() - 100), h4 + " --restart x.ck --t-end 1", 1, "truncated");
  refused("0000\n000001\n0.0\n", h4 + " --restart x.ck --t-end 1", 1, "does not begin as");
  refused(good, h8 + " --restart x.ck --t-end 1", 1, "order-4 integrator; this is the order-8");
  refused(good, h4 + " --restart x.ck --t-end 1 --eps 0.1", 2, "--eps 0.10000000000000001 differs");
  refused(good, h4 + " other.inp --restart x.ck --t-end 1", 2, "is not the checkpointed run's");
  const Outcome missing = run(h4 + " --restart none.ck --t-end 1");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("none.ck: cannot open"), std::string::npos) << missing.err;
  // What may change does: the end time and the output names.
  const Outcome ok = run(h4 + " --restart c.ck --t-end 0.25 --energy e.csv --eta 0.01");
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(lines_of(dir_ / "e.csv"), 2);  // a new history: header and the one new output
}

// A second signal ends the run at once; it leaves no temporary file, and
// the checkpoint it leaves (if any) is whole.
TEST_F(Restart, SecondSignalEndsAtOnceAndLeavesNoTemporaryFile) {
  if (program(4).empty()) GTEST_SKIP();
  ASSERT_EQ(run(quoted(PLUMMER_GEN_PATH) + " -q -n 256 -o m.inp").status, 0);
  const pid_t p =
      start(dir_, quoted(program(4)) + kArgs + " --energy e.csv --checkpoint c.ck", "p");
  // The first output's row, and then its checkpoint, which is written after
  // the row: the run then has a whole checkpoint for the restart below.
  ASSERT_TRUE(wait_for_lines(p, dir_ / "e.csv", 3));
  for (int i = 0; i < 3000 && !fs::exists(dir_ / "c.ck"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(fs::exists(dir_ / "c.ck"));
  ::kill(p, SIGINT);
  ::kill(p, SIGINT);
  const int status = finish(p);
  EXPECT_EQ(status, 128 + SIGINT);
  for (const fs::path& f : fs::directory_iterator(dir_)) {
    EXPECT_EQ(f.filename().string().find(".tmp"), std::string::npos) << f;
  }
  // The first signal may have left a checkpoint anywhere up to the run's
  // end time (0.75), so the continued run goes past that.
  const Outcome more = run(quoted(program(4)) + " --restart c.ck --energy '' --t-end 1");
  EXPECT_EQ(more.status, 0) << more.err;
}

// The stop line's command names the program as it was started (a link
// here, as an installed hermite4_host would be), so that it can be run as
// printed.
TEST_F(Restart, StopLineNamesTheProgramAsStarted) {
  if (program(4).empty()) GTEST_SKIP();
  ASSERT_EQ(run(quoted(PLUMMER_GEN_PATH) + " -q -n 256 -o m.inp").status, 0);
  fs::create_symlink(program(4), dir_ / "h4_host");
  const pid_t p =
      start(dir_, "./h4_host" + std::string(kArgs) + " --energy e.csv --checkpoint c.ck", "p");
  ASSERT_TRUE(wait_for_lines(p, dir_ / "e.csv", 3));
  ::kill(p, SIGTERM);
  ASSERT_EQ(finish(p), 128 + SIGTERM);
  const std::string err = slurp(dir_ / "p.err");
  EXPECT_NE(err.find("; continue with: h4_host --restart c.ck\n"), std::string::npos) << err;
}

}  // namespace
}  // namespace hermite_test

// The integrators' outputs, attacked: outputs that are the input, folders
// that do not exist, snapshot numbers that would overflow, a standard
// output that cannot be written; and HDF5 snapshots against text ones.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "model.h"
#include "run_program.h"

namespace hermite_test {
namespace {

using Outputs = ScratchTest;

std::string h4() { return "'" + program(4) + "'"; }

TEST_F(Outputs, RefusesOutputsThatAreTheInput) {
  if (program(4).empty()) GTEST_SKIP();
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' -q -n 32 -o s0001.inp").status, 0);
  const std::string model = slurp(dir_ / "s0001.inp");
  ::symlink("s0001.inp", (dir_ / "alias.inp").c_str());
  for (const std::string args :
       {"--energy s0001.inp", "--radii s0001.inp", "--energy alias.inp", "--snapshots s",
        "--checkpoint s0001.inp", "--energy e.csv --radii e.csv"}) {
    const Outcome o = run(h4() + " s0001.inp --t-end 0.25 " + args);
    EXPECT_EQ(o.status, 1) << args;
    EXPECT_TRUE(o.err.find("is the file the run reads") != std::string::npos ||
                o.err.find("would write 's0001.inp' over") != std::string::npos ||
                o.err.find("name one file") != std::string::npos)
        << o.err;
    EXPECT_EQ(slurp(dir_ / "s0001.inp"), model) << args;
  }
  // Numbers the run does not reach are no conflict.
  const Outcome later = run(h4() + " s0001.inp --t-end 0.125 --energy '' --snapshots t");
  EXPECT_EQ(later.status, 0) << later.err;
}

// A continued run reads its checkpoint and, by name, the model its first
// part started from: no output of the continued run may take that model's
// place either.
TEST_F(Outputs, RestartRefusesOutputsThatAreTheOriginalModel) {
  if (program(4).empty()) GTEST_SKIP();
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' -q -n 32 -o m.inp").status, 0);
  const std::string model = slurp(dir_ / "m.inp");
  ASSERT_EQ(run(h4() + " m.inp --t-end 0.25 --energy e.csv --checkpoint c.ck").status, 0);
  const std::string checkpoint = slurp(dir_ / "c.ck");
  for (const std::string args :
       {"--checkpoint m.inp", "--energy m.inp", "--radii m.inp", "--core m.inp"}) {
    const Outcome o = run(h4() + " --restart c.ck --t-end 0.5 " + args);
    EXPECT_EQ(o.status, 1) << args;
    EXPECT_TRUE(o.err.find("is the file the run reads ('m.inp')") != std::string::npos ||
                o.err.find("over 'm.inp', which the run reads") != std::string::npos)
        << args << ": " << o.err;
    EXPECT_EQ(slurp(dir_ / "m.inp"), model) << args;
    EXPECT_EQ(slurp(dir_ / "c.ck"), checkpoint) << args;
  }
}

// Nothing waits on a FIFO: an output FIFO without a reader, and a FIFO as
// the model, are refused at once; an output that is a folder is refused
// before the start-up.
TEST_F(Outputs, RefusesPipesAndFoldersWithoutWaiting) {
  if (program(4).empty()) GTEST_SKIP();
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' -q -n 32 -o m.inp").status, 0);
  ASSERT_EQ(::mkfifo((dir_ / "ff").c_str(), 0600), 0);
  fs::create_directory(dir_ / "folder");
  const Outcome out = run("timeout -s KILL 20 " + h4() + " m.inp --t-end 0.25 --energy ff");
  EXPECT_EQ(out.status, 1) << out.err;
  EXPECT_NE(out.err.find("no process reads the FIFO 'ff'"), std::string::npos) << out.err;
  const Outcome in = run("timeout -s KILL 20 " + h4() + " ff --t-end 0.25");
  EXPECT_EQ(in.status, 1) << in.err;
  EXPECT_NE(in.err.find("ff: is a FIFO (named pipe), not a model file"), std::string::npos)
      << in.err;
  for (const std::string option : {"--energy", "--radii", "--core", "--checkpoint"}) {
    const Outcome o = run(h4() + " m.inp --t-end 0.25 " + option + " folder");
    EXPECT_EQ(o.status, 1) << option;
    EXPECT_NE(o.err.find(option + " 'folder' is a directory"), std::string::npos) << o.err;
    EXPECT_EQ(o.out.find("t = 0 "), std::string::npos) << "started before refusing: " << o.out;
  }
}

TEST_F(Outputs, ChecksEveryFolderBeforeTheStart) {
  if (program(4).empty()) GTEST_SKIP();
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' -q -n 32").status, 0);
  for (const std::string args : {"--snapshots none/s", "--checkpoint none/c.ck",
                                 "--radii none/r.csv", "--energy none/e.csv"}) {
    const Outcome o = run(h4() + " --t-end 0.25 --energy-limit 0 " + args);
    EXPECT_EQ(o.status, 1) << args;
    EXPECT_NE(o.err.find("the folder 'none' cannot be used"), std::string::npos) << o.err;
    EXPECT_EQ(o.out.find("t = 0 "), std::string::npos) << "started before refusing: " << o.out;
  }
}

TEST_F(Outputs, RefusesSnapshotNumbersPastTheLargestInteger) {
  if (program(4).empty()) GTEST_SKIP();
  hermite::Model m;
  m.number = 2147483640;
  m.mass = {0.5, 0.5};
  m.pos = {{0.5, 0, 0}, {-0.5, 0, 0}};
  m.vel = {{0, 0.5, 0}, {0, -0.5, 0}};
  hermite::write_model((dir_ / "late.inp").string(), m);
  const Outcome o = run(h4() + " late.inp --t-end 2 --energy '' --snapshots s");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("would run to 2147483656"), std::string::npos) << o.err;
  // Up to the largest one is fine.
  const Outcome ok = run(h4() + " late.inp --t-end 0.875 --energy '' --snapshots s");
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(hermite::read_model((dir_ / "s2147483647.inp").string()).number, 2147483647);
}

TEST_F(Outputs, FailsWhereStandardOutputCannotBeWritten) {
  if (program(4).empty()) GTEST_SKIP();
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' -q -n 32").status, 0);
  const std::string cmd = "cd '" + dir_.string() + "' && " + h4() + " --t-end 0.125 --energy ''";
  int raw = std::system((cmd + " >/dev/full 2>err.txt").c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1);
  EXPECT_NE(slurp(dir_ / "err.txt").find("cannot write the standard output"), std::string::npos);
  raw = std::system((cmd + " --energy e.csv >&- 2>err.txt").c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1);
  EXPECT_NE(slurp(dir_ / "err.txt").find("standard output is closed"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "e.csv"));
}

TEST_F(Outputs, Hdf5SnapshotsHoldTheDoublesOfTextSnapshots) {
  if (program(4).empty()) GTEST_SKIP();
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' -q -n 64 -o m.h5").status, 0);
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' -q -n 64 -o m.inp").status, 0);
  const std::string args = " --t-end 0.25 --energy '' ";
  const Outcome a = run(h4() + " m.inp" + args + "--snapshots a");
  const Outcome b = run(h4() + " m.h5" + args + "--snapshots b.h5");
  const Outcome c = run(h4() + " m.inp" + args + "--snapshots c --snapshot-format hdf5");
  ASSERT_EQ(a.status + b.status + c.status, 0) << a.err << b.err << c.err;
  const hermite::Model x = hermite::read_model((dir_ / "a0002.inp").string());
  for (const char* name : {"b0002.h5", "c0002.h5"}) {
    const hermite::Model y = hermite::read_model((dir_ / name).string());
    EXPECT_EQ(y.number, 2);
    EXPECT_EQ(y.time, 0.25);
    EXPECT_EQ(x.mass, y.mass);
    EXPECT_EQ(x.pos, y.pos);
    EXPECT_EQ(x.vel, y.vel);
  }
}

}  // namespace
}  // namespace hermite_test

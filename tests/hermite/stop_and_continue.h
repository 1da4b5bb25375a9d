// The kill-and-restart check shared by the single-process and MPI tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>

#include "background_run.h"
#include "run_program.h"

namespace hermite_test {

inline const char kArgs[] = " m.inp --t-end 0.75 --dt-out 0.0625 --progress 0";

inline std::string quoted(const std::string& s) { return "'" + s + "'"; }

// One uninterrupted run, then one stopped by `sig` at a random moment
// after its second output and continued: same final snapshot, same energy
// rows (less the wall clock), same radii and core histories, same final
// line. ranks_after > 0: continued
// on that many ranks, compared by the caller. `regularised`: unsoftened,
// with regularised subsystems alive across the stop, and the same event
// logs.
inline void stop_and_continue(const fs::path& dir, const std::string& prog,
                              const std::string& launcher, int ranks_after, int sig = SIGTERM,
                              bool regularised = false) {
  const std::string run =
      launcher + quoted(prog) + kArgs + (regularised ? " --eps 0 --rcl 0.02 --encounters " : "");
  const std::string log_a = regularised ? "a-enc.csv" : "", log_b = regularised ? "b-enc.csv" : "";
  const pid_t a = start(
      dir,
      run + log_a +
          " --energy a.csv --snapshots a --checkpoint a.ck --radii a-radii.csv --core a-core.csv",
      "a");
  ASSERT_EQ(finish(a), 0) << slurp(dir / "a.err");
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("pause seed " + std::to_string(seed) + ", " + prog);
  const pid_t b = start(
      dir,
      run + log_b +
          " --energy b.csv --snapshots b --checkpoint b.ck --radii b-radii.csv --core b-core.csv",
      "b");
  // The moment of the stop: after a random one of the outputs 2 to 6 (of
  // 12), a random part of half an output interval later, both paced by the
  // stopped run itself. Paced by the uninterrupted run instead, a stopped
  // run that went faster when the machine's load fell could end before the
  // signal came.
  std::mt19937 draw(seed);
  const int after = std::uniform_int_distribution<int>(4, 8)(draw);
  ASSERT_TRUE(wait_for_lines(b, dir / "b.csv", 3)) << slurp(dir / "b.err");
  const auto third = std::chrono::steady_clock::now();
  ASSERT_TRUE(wait_for_lines(b, dir / "b.csv", 4)) << slurp(dir / "b.err");
  const auto interval = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - third);
  ASSERT_TRUE(wait_for_lines(b, dir / "b.csv", after)) << slurp(dir / "b.err");
  random_pause(draw(), static_cast<int>(interval.count() / 2));
  ::kill(b, sig);
  const int stopped = finish(b);
  const std::string err = slurp(dir / "b.err");
  if (launcher.empty()) {
    EXPECT_EQ(stopped, 128 + sig) << err;
  }
  EXPECT_NE(
      err.find(std::string("stopped by ") + (sig == SIGTERM ? "SIGTERM" : "SIGUSR1") + " at t = "),
      std::string::npos)
      << err;
  EXPECT_NE(err.find("--restart b.ck"), std::string::npos) << err;
  std::string again = launcher;
  if (ranks_after > 0) {
    const auto np = again.find("-np ");
    if (np != std::string::npos) again.replace(np + 4, 1, std::to_string(ranks_after));
  }
  const pid_t c = start(dir, again + quoted(prog) + " --restart b.ck", "c");
  ASSERT_EQ(finish(c), 0) << slurp(dir / "c.err");
  for (const fs::path& p : fs::directory_iterator(dir)) {
    EXPECT_EQ(p.filename().string().find(".tmp"), std::string::npos) << p;
    EXPECT_EQ(p.filename().string().find(".partial"), std::string::npos) << p;
  }
  if (ranks_after > 0) return;  // another rank count: compared by the caller
  EXPECT_EQ(slurp(dir / "a0012.inp"), slurp(dir / "b0012.inp"));
  EXPECT_EQ(without_wall(slurp(dir / "a.csv")), without_wall(slurp(dir / "b.csv")));
  EXPECT_EQ(slurp(dir / "a-radii.csv"), slurp(dir / "b-radii.csv"));
  EXPECT_EQ(slurp(dir / "a-core.csv"), slurp(dir / "b-core.csv"));
  if (regularised) {
    EXPECT_GT(slurp(dir / "a-enc.csv").size(), 40u) << "no subsystem formed";
    EXPECT_EQ(slurp(dir / "a-enc.csv"), slurp(dir / "b-enc.csv"));
  }
  EXPECT_NE(slurp(dir / "b-core.csv").find("\n0.75,"), std::string::npos);
  const std::string done = final_line(slurp(dir / "a.out"));
  EXPECT_FALSE(done.empty());
  EXPECT_EQ(done, final_line(slurp(dir / "c.out")));
}

}  // namespace hermite_test

// A cluster losing mass in a galaxy's field, through the program: a long
// run, labelled full (scripts/test --full).
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "run_program.h"

namespace hermite_test {
namespace {

class FieldRun : public ScratchTest {};

// 1,024 stars in the exact field of a point-mass galaxy (r_J = 2.4, some
// three half-mass radii), softening 1/64, order 4 to t = 50: stars leave
// the Jacobi radius, the bound mass falls, and the Jacobi energy keeps to
// 1e-6.
TEST_F(FieldRun, ClusterLosesMassAndKeepsItsJacobiEnergy) {
  if (program(4).empty()) GTEST_SKIP() << "program not built";
  ASSERT_EQ(run(std::string("'") + PLUMMER_GEN_PATH + "' -n 1024 -s 5 -q -o model.inp").status, 0);
  const Outcome o = run("OMP_NUM_THREADS=2 '" + program(4) +
                        "' model.inp --progress 0 "
                        "--t-end 50 --dt-out 1 --dt-max 0.125 --energy e.csv --core core.csv "
                        "--galaxy point-mass:1e11 --orbit 1.5 --tides exact --mass 1e4 "
                        "--radius 2");
  ASSERT_EQ(o.status, 0) << o.err;
  double worst = 0.0;
  for (const auto& row : read_csv(dir_ / "e.csv"))
    worst = std::fmax(worst, std::fabs(row[kRelError]));
  EXPECT_LT(worst, 1e-6);
  const auto rows = read_csv(dir_ / "core.csv");
  ASSERT_EQ(rows.size(), 51u);
  EXPECT_LT(rows.back()[13], rows.front()[13] - 0.05) << "the bound mass falls";
}

}  // namespace
}  // namespace hermite_test

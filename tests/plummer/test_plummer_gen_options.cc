// plummer_gen's options run as a user runs them: each option against the
// default model, small counts, seeds, output names, and every refusal.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"
#include "plummer.h"
#include "plummer_gen_run.h"

#ifndef HERMITE4_PATH
#define HERMITE4_PATH ""
#endif

namespace plummer {
namespace {

// A model file read back field by field, independently of the writer.
struct ModelRows {
  long long count = -1;
  std::vector<long long> index;
  std::vector<std::vector<long double>> rows;  // mass, x, y, z, vx, vy, vz
};

ModelRows read_model(const std::string& text) {
  ModelRows model;
  std::istringstream in(text);
  long long zero = -1;
  double time = -1.0;
  in >> zero >> model.count >> time;
  if (zero != 0 || time != 0.0) return ModelRows{};
  long long i = 0;
  while (in >> i) {
    std::vector<long double> row(7);
    for (long double& field : row) in >> field;
    model.index.push_back(i);
    model.rows.push_back(row);
  }
  return model;
}

TEST_F(PlummerGen, EachOptionAgainstTheDefaultModel) {
  ASSERT_EQ(run(""), 0) << err_;
  const std::string default_model = model(), default_out = out_;

  // The default count and seed spelt out give the same file and output.
  ASSERT_EQ(run("-n 16384"), 0) << err_;
  EXPECT_EQ(model(), default_model);
  EXPECT_EQ(out_, default_out);
  EXPECT_EQ(err_, "");

  // Long forms, attached values, quiet: the summary line alone.
  fs::remove(work_ / "data.inp");
  ASSERT_EQ(run("--particles=16384 --seed 19810614 --output=m.inp --quiet"), 0) << err_;
  EXPECT_EQ(slurp(work_ / "m.inp"), default_model);
  EXPECT_EQ(out_, default_out.substr(65));  // without 64 dots and their newline
  EXPECT_EQ(entries(), 1);
  ASSERT_EQ(run("-n16384 -s19810614 -om2.inp -q"), 0) << err_;
  EXPECT_EQ(slurp(work_ / "m2.inp"), default_model);

  for (const char* help : {"-h", "--help", "-n 5 --help"}) {
    fs::remove_all(work_);
    fs::create_directory(work_);
    EXPECT_EQ(run(help), 0) << help;
    EXPECT_EQ(out_.rfind("usage: plummer_gen", 0), 0u) << out_;
    EXPECT_NE(out_.find("--particles"), std::string::npos);
    EXPECT_EQ(err_, "");
    EXPECT_EQ(entries(), 0);
  }
}

TEST_F(PlummerGen, SmallCountsAreCentredEqualMassModels) {
  for (const int n : {1, 2, 100}) {
    SCOPED_TRACE(n);
    ASSERT_EQ(run("-n " + std::to_string(n)), 0) << err_;
    // A dot per particle below 128 (n / 64 is 0 or 1), then the summary.
    EXPECT_EQ(out_.substr(0, out_.find("   EK")),
              std::string(n, '.') + "\nN = " + std::to_string(n));
    EXPECT_EQ(model(), model_text(n));
    const ModelRows m = read_model(model());
    ASSERT_EQ(m.count, n);
    ASSERT_EQ(m.rows.size(), static_cast<std::size_t>(n));
    long double mass = 0.0L, moment[6] = {};
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(m.index[i], i);
      EXPECT_EQ(static_cast<double>(m.rows[i][0]), 1.0 / n);
      mass += m.rows[i][0];
      for (int k = 0; k < 6; ++k) moment[k] += m.rows[i][0] * m.rows[i][k + 1];
    }
    EXPECT_NEAR(static_cast<double>(mass), 1.0, 1e-15);
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(static_cast<double>(moment[k]), 0.0, 1e-15) << k;
  }
  // One particle is its own centre of mass: exactly at rest at the origin.
  ASSERT_EQ(run("-q -n 1"), 0);
  EXPECT_EQ(model(),
            "0000 \n000001 \n0.0000000000000000E+00 \n"
            "000000   1.0000000000000000E+00    0.0000000000000000E+00  0.0000000000000000E+00 "
            " 0.0000000000000000E+00    0.0000000000000000E+00  0.0000000000000000E+00 "
            " 0.0000000000000000E+00 \n");
}

TEST_F(PlummerGen, ASmallModelIsIntegrated) {
  if (std::string(HERMITE4_PATH).empty()) GTEST_SKIP() << "hermite4 is not built";
  ASSERT_EQ(run("-n 100 -o small.inp"), 0) << err_;
  // The MPI runtime keeps allocations to process exit, which a leak checker
  // in a sanitised build would report as a failure of the run.
  const std::string command = "cd '" + work_.string() +
                              "' && ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" '" +
                              HERMITE4_PATH + "' small.inp >'" + base_.string() + "/h4' 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << slurp(base_ / "h4");
  EXPECT_NE(slurp(base_ / "h4").find("done at t = 1"), std::string::npos) << slurp(base_ / "h4");
}

TEST_F(PlummerGen, TheSeedChoosesTheModel) {
  ASSERT_EQ(run("-q -n 100 -s 1 -o a.inp"), 0) << err_;
  ASSERT_EQ(run("-q -n 100 -s 1 -o b.inp"), 0) << err_;
  ASSERT_EQ(run("-q -n 100 -s 2 -o c.inp"), 0) << err_;
  ASSERT_EQ(run("-q -n 100 -o d.inp"), 0) << err_;
  const std::string a = slurp(work_ / "a.inp");
  EXPECT_EQ(a, slurp(work_ / "b.inp"));
  EXPECT_NE(a, slurp(work_ / "c.inp"));
  EXPECT_NE(a, slurp(work_ / "d.inp"));
  EXPECT_EQ(a, model_text(100, 1));
  EXPECT_EQ(slurp(work_ / "c.inp"), model_text(100, 2));
  EXPECT_EQ(read_model(slurp(work_ / "c.inp")).count, 100);
}

TEST_F(PlummerGen, OutputNames) {
  fs::create_directory(work_ / "runs");
  ASSERT_EQ(run("-q -n 10 -o runs/model.inp"), 0) << err_;
  EXPECT_EQ(slurp(work_ / "runs" / "model.inp"), model_text(10));
  EXPECT_EQ(entries(), 1);  // no data.inp, no temporary left beside it
  EXPECT_EQ(std::distance(fs::directory_iterator(work_ / "runs"), {}), 1);

  // A directory that does not exist, and one whose parent is a plain file.
  EXPECT_EQ(run("-q -n 10 -o missing/model.inp"), 1);
  EXPECT_EQ(err_, "plummer_gen: cannot create 'missing/model.inp': No such file or directory\n");
  std::ofstream(work_ / "plain") << "x";
  EXPECT_EQ(run("-q -n 10 -o plain/model.inp"), 1);
  EXPECT_NE(err_.find("'plain/model.inp': Not a directory"), std::string::npos) << err_;
  EXPECT_EQ(out_, "");
  EXPECT_EQ(entries(), 2);
}

// Every refusal: its exit status, the argument quoted as typed, no output
// and no file.
TEST_F(PlummerGen, RefusalsNameTheArgumentAndWriteNothing) {
  struct Case {
    const char* args;
    int status;
    const char* says;
  };
  const Case cases[] = {
      {"-n 0", 2, "-n '0' is not a particle count from 1 to 4194304"},
      {"-n 4194305", 2, "-n '4194305' is not"},
      {"--particles=-5", 2, "--particles '-5' is not"},
      {"-n 12abc", 2, "-n '12abc' is not"},
      {"-n ' 12'", 2, "-n ' 12' is not"},
      {"-n 99999999999999999999", 2, "-n '99999999999999999999' is not"},
      {"-n", 2, "option '-n' needs a value"},
      {"-q -s", 2, "option '-s' needs a value"},
      {"-s 4294967296", 2, "-s '4294967296' is not a seed from 0 to 4294967295"},
      {"-s x", 2, "-s 'x' is not a seed"},
      {"-o ''", 2, "-o needs a file name, found ''"},
      {"--bogus", 2, "unknown option '--bogus'"},
      {"-x", 2, "unknown option '-x'"},
      {"-qn 5", 2, "unknown option '-qn'"},
      {"--quiet=yes", 2, "option '--quiet' takes no value"},
      {"-n 5 extra", 2, "unexpected argument 'extra'"},
      {"-n 5 -- 6", 2, "unexpected argument '6'"},
      {"-1 1", 1, "N '-1' reads as -1: the number of 1024-particle units must not be negative"},
      {"99999999999999999999 1", 1, "N '99999999999999999999' reads as -1"},
      {"1 -3", 1, "NP '-3' reads as -3: the divisor must not be negative"},
      {"1 abc", 1, "NP 'abc' reads as 0"},
      {"1 0", 1, "NP '0' reads as 0"},
      {"4097 1", 1, "N '4097' and NP '1' give 4195328 particles, above the capacity of 4194304"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    EXPECT_EQ(run(c.args), c.status);
    EXPECT_EQ(err_.rfind(std::string("plummer_gen: ") + c.says, 0), 0u) << err_;
    // Usage errors end with the synopsis; refused counts are one line.
    if (c.status == 2) {
      EXPECT_NE(err_.find("\nusage: plummer_gen [-n COUNT]"), std::string::npos) << err_;
    } else {
      EXPECT_EQ(err_.find('\n'), err_.size() - 1) << err_;
    }
    EXPECT_EQ(out_, "");
    EXPECT_EQ(entries(), 0);
  }
}

// A positional form that would not make the model asked for: one integer, a
// pair followed by options or words, a pair giving no particles. Each is a
// usage error that names the command to type, and no file is written even
// where data.inp exists already.
TEST_F(PlummerGen, PositionalFormsThatMakeNoModelAreRefused) {
  struct Case {
    const char* args;
    const char* says;
  };
  const Case cases[] = {
      {"2", "'2' alone is not a model size: type 'plummer_gen N NP'"},
      {"1000", "'1000' alone is not a model size"},
      {"1 3 -o t.inp",
       "the two integers N NP take no further arguments ('-o'): for 1023 "
       "particles with options type 'plummer_gen -n 1023 -o t.inp'"},
      {"1 1 extra",
       "the two integers N NP take no further arguments ('extra'): type "
       "'plummer_gen -n COUNT'"},
      {"0 1",
       "N '0' and NP '1' give 0 particles: N must be at least 1 and NP at most 1024; "
       "type 'plummer_gen -n COUNT'"},
      {"1 2048", "N '1' and NP '2048' give 0 particles"},
  };
  std::ofstream(work_ / "data.inp") << "kept";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    EXPECT_EQ(run(c.args), 2);
    EXPECT_EQ(err_.rfind(std::string("plummer_gen: ") + c.says, 0), 0u) << err_;
    EXPECT_NE(err_.find("\nusage: plummer_gen [-n COUNT]"), std::string::npos) << err_;
    EXPECT_EQ(out_, "");
    EXPECT_EQ(slurp(work_ / "data.inp"), "kept");
    EXPECT_EQ(entries(), 1);
  }
  // The pair alone still makes its model.
  ASSERT_EQ(run("1 3"), 0) << err_;
  EXPECT_EQ(model(), model_text(1023));
  EXPECT_EQ(err_, "");
}

TEST(PlummerCommandLine, LastValueWinsAndDefaultsStay) {
  const char* argv[] = {"plummer_gen", "-n", "7", "--particles", "9", "-q", "-s", "0"};
  const Request r = read_command_line(8, argv);
  EXPECT_EQ(r.outcome, Outcome::kRun);
  EXPECT_EQ(r.particles, 9);
  EXPECT_EQ(r.seed, 0u);
  EXPECT_TRUE(r.quiet);
  EXPECT_EQ(r.output, "data.inp");
  EXPECT_EQ(r.message, "");
  const char* positional[] = {"plummer_gen", "1", "2000"};
  const Request zero = read_command_line(3, positional);
  EXPECT_EQ(zero.outcome, Outcome::kUsage);  // NP above 1024: no particles
  const char* pair[] = {"plummer_gen", "2", "4"};
  const Request two = read_command_line(3, pair);
  EXPECT_EQ(two.outcome, Outcome::kRun);
  EXPECT_EQ(two.particles, 2048);
  EXPECT_EQ(two.seed, kSeed);
  EXPECT_FALSE(two.quiet);
}

}  // namespace
}  // namespace plummer

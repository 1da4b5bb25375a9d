// cluster_gen run as a user runs it: its files against the library's model,
// the HDF5 companion dataset and attributes, and refusals that leave no file.
#include <gtest/gtest.h>
#include <hdf5.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cluster.h"
#include "hdf5_model.h"

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class ClusterGen : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "cluster_gen.XXXXXX").string();
    ASSERT_NE(::mkdtemp(name.data()), nullptr);
    base_ = name;
    fs::create_directory(work_ = base_ / "work");
  }
  void TearDown() override { fs::remove_all(base_); }

  int run(const std::string& args) {
    const std::string command = "cd '" + work_.string() + "' && exec '" + CLUSTER_GEN_PATH + "' " +
                                args + " >'" + base_.string() + "/out' 2>'" + base_.string() +
                                "/err'";
    const int status = std::system(command.c_str());
    out_ = slurp(base_ / "out");
    err_ = slurp(base_ / "err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  int entries() { return static_cast<int>(std::distance(fs::directory_iterator(work_), {})); }

  fs::path base_, work_;
  std::string out_, err_;
};

TEST_F(ClusterGen, TextFileHoldsTheLibrarysModel) {
  ASSERT_EQ(run("-n 500 -s 11 --imf kroupa --binaries 0.4 -o m.inp"), 0) << err_;
  EXPECT_NE(out_.find("length 1 pc"), std::string::npos) << out_;
  EXPECT_NE(out_.find("km/s"), std::string::npos);
  models::ClusterOptions o;
  o.n = 500;
  o.seed = 11;
  o.imf = "kroupa";
  o.binaries = 0.4;
  const models::Cluster c = models::build_cluster(o);
  std::istringstream in(slurp(work_ / "m.inp"));
  long long zero = -1, n = -1;
  double t = -1;
  in >> zero >> n >> t;
  ASSERT_EQ(n, 500);
  EXPECT_EQ(zero, 0);
  EXPECT_EQ(t, 0.0);
  for (int i = 0; i < 500; ++i) {
    long long index;
    double m, x[3], v[3];
    in >> index >> m >> x[0] >> x[1] >> x[2] >> v[0] >> v[1] >> v[2];
    ASSERT_EQ(index, i);
    ASSERT_EQ(m, c.m[i]);
    for (int k = 0; k < 3; ++k) {
      ASSERT_EQ(x[k], c.x[3 * i + k]);
      ASSERT_EQ(v[k], c.v[3 * i + k]);
    }
  }
  // Without -q: nothing but the report on standard output; -q: silence.
  ASSERT_EQ(run("-n 500 -q -o q.inp"), 0);
  EXPECT_EQ(out_, "");
}

double number_attribute(hid_t file, const char* name) {
  double value = NAN;
  const hid_t a = H5Aopen(file, name, H5P_DEFAULT);
  EXPECT_GE(a, 0) << name;
  if (a >= 0) {
    H5Aread(a, H5T_NATIVE_DOUBLE, &value);
    H5Aclose(a);
  }
  return value;
}

TEST_F(ClusterGen, HdfFileCarriesCompanionsScaleAndProvenance) {
  ASSERT_EQ(run("-n 301 --binaries 1 --radius 3 --mass 602 -o m.h5 -q"), 0) << err_;
  const fileio::ModelData model = fileio::read_hdf5_model((work_ / "m.h5").string());
  ASSERT_EQ(model.mass.size(), 301u);
  const hid_t file = H5Fopen((work_ / "m.h5").c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
  ASSERT_GE(file, 0);
  std::vector<long long> companion(301);
  const hid_t set = H5Dopen2(file, "companion", H5P_DEFAULT);
  ASSERT_GE(set, 0);
  ASSERT_GE(H5Dread(set, H5T_NATIVE_LLONG, H5S_ALL, H5S_ALL, H5P_DEFAULT, companion.data()), 0);
  H5Dclose(set);
  for (int i = 0; i < 300; ++i) EXPECT_EQ(companion[i], i ^ 1);
  EXPECT_EQ(companion[300], -1);
  EXPECT_EQ(number_attribute(file, "length_pc"), 3.0);
  EXPECT_NEAR(number_attribute(file, "mass_msun"), 602.0, 1e-9);
  EXPECT_EQ(number_attribute(file, "G"), 1.0);
  const double v = number_attribute(file, "velocity_kms");
  EXPECT_NEAR(v, std::sqrt(4.3009e-3 * 602.0 / 3.0), 1e-4 * v);
  EXPECT_NEAR(number_attribute(file, "time_myr"), 3.0 / v * 0.97779, 1e-4);
  for (const char* name : {"program", "version", "options", "seed"}) {
    EXPECT_GT(H5Aexists(file, name), 0) << name;
  }
  char options[256] = {0};
  const hid_t a = H5Aopen(file, "options", H5P_DEFAULT);
  const hid_t type = H5Aget_type(a);
  ASSERT_LT(H5Tget_size(type), sizeof options);
  H5Aread(a, type, options);
  H5Tclose(type);
  H5Aclose(a);
  EXPECT_STREQ(options, "-n 301 --binaries 1 --radius 3 --mass 602 -o m.h5 -q");
  H5Fclose(file);
}

TEST_F(ClusterGen, RefusesBadInputWritingNothing) {
  const char* bad[] = {
      "-n 100 --imf kroupa --m-min 1 --m-max 1",
      "-n 100 --imf salpeter --m-min 5 --m-max 2",
      "-n 100 --profile king --w0 0.5",
      "-n 100 --profile king --w0 12.5",
      "-n 100 --binaries 1.5",
      "-n 100 --binaries -0.1",
      "-n 100 --binaries 0.5 --a-min 10 --a-max 10",
      "-n 100 --imf power:1,2",
      "-n 100 --imf power:1,2,0.5",
      "-n 100 --imf power:0,1.3,1",
      "-n 100 --imf chabrier",
      "-n 100 --imf equal --m-min 0.1",
      "-n 100 --imf kroupa --mass 50",
      "-n 1",
      "-n 2 --binaries 1",
      "-n 100 --profile plummer --tidal-radius 10",
      "-n 100 --profile king --tidal-radius 10 --radius 2",
      "-n 100 --profile hernquist",
      "-n 100 --ecc parabolic",
      "-n 100 --virial -1",
      "-n 100 --frobnicate",
      "-n 100 stray",
      "-n 12abc",
      "--w0 5",
      "-n 100 --w0",
  };
  for (const char* args : bad) {
    SCOPED_TRACE(args);
    EXPECT_EQ(run(std::string(args) + " -o out.inp"), 2);
    EXPECT_EQ(entries(), 0) << "a refusal leaves no file";
    EXPECT_EQ(err_.rfind("cluster_gen: ", 0), 0u) << err_;
    EXPECT_EQ(out_, "");
  }
  // A refused run leaves an earlier model alone.
  ASSERT_EQ(run("-n 100 -q -o keep.inp"), 0);
  const std::string before = slurp(work_ / "keep.inp");
  EXPECT_EQ(run("-n 100 --w0 20 --profile king -o keep.inp"), 2);
  EXPECT_EQ(slurp(work_ / "keep.inp"), before);
}

TEST_F(ClusterGen, HelpAndVersion) {
  ASSERT_EQ(run("--help"), 0);
  for (const char* text :
       {"--tidal-radius", "round(F N / (1 + F))", "q uniform on", "Myr", "km/s", "pc", "Msun"}) {
    EXPECT_NE(out_.find(text), std::string::npos) << text;
  }
  ASSERT_EQ(run("--version"), 0);
  EXPECT_EQ(out_.rfind("cluster_gen ", 0), 0u);
}

}  // namespace

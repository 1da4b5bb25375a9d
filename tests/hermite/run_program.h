// Runs a program of the build in a scratch directory and collects its exit
// status and output; reads the energy history it writes.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef HERMITE4_PATH
#define HERMITE4_PATH ""
#endif
#ifndef HERMITE6_PATH
#define HERMITE6_PATH ""
#endif
#ifndef HERMITE8_PATH
#define HERMITE8_PATH ""
#endif

namespace hermite_test {

namespace fs = std::filesystem;

// The host program of an order, empty where it is not built.
inline std::string program(int order) {
  return order == 4 ? HERMITE4_PATH : order == 6 ? HERMITE6_PATH : HERMITE8_PATH;
}

struct Outcome {
  int status = -1;
  std::string out, err;
};

inline std::string slurp(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A fresh directory per test, removed afterwards.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / (std::string("hermite_") + info->test_suite_name() + "_" +
                                        info->name() + "_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // Child programs: the MPI runtime keeps allocations to process exit,
    // which a leak checker would report.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string opts = std::string(asan != nullptr ? asan : "") + ":detect_leaks=0";
    ::setenv("ASAN_OPTIONS", opts.c_str(), 1);
    // No single-copy transport between ranks: containers often forbid it.
    ::setenv("OMPI_MCA_btl_vader_single_copy_mechanism", "none", 1);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir_);
  }

  // Runs `command` (a shell command line) in the scratch directory.
  Outcome run(const std::string& command) const {
    const std::string line =
        "cd '" + dir_.string() + "' && " + command + " >stdout.txt 2>stderr.txt";
    const int raw = std::system(line.c_str());
    Outcome o;
    o.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    o.out = slurp(dir_ / "stdout.txt");
    o.err = slurp(dir_ / "stderr.txt");
    return o;
  }

  // Writes a file into the scratch directory.
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(dir_ / name) << text;
  }

  fs::path dir_;
};

// The rows of an energy history: time, kinetic, potential, total,
// rel_error, particle_steps, block_steps, interactions, wall_seconds,
// abs_error, e_subsys, n_subsys, e_cm, rel_error_cm, ...
inline std::vector<std::vector<double>> read_csv(const fs::path& path) {
  std::vector<std::vector<double>> rows;
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<double> row;
    std::stringstream s(line);
    std::string field;
    while (std::getline(s, field, ',')) row.push_back(std::stod(field));
    rows.push_back(row);
  }
  return rows;
}

enum Column {
  kTime = 0,
  kTotal = 3,
  kRelError = 4,
  kParticleSteps = 5,
  kInteractions = 7,
  kAbsError = 9,
  kSubsysEnergy = 10,
  kSubsystems = 11,
  kRelErrorCm = 13,
  kWorkExternal = 18
};

}  // namespace hermite_test

// Helpers shared by the generator tests: the core's model as text, and a
// fixture that runs plummer_gen in a scratch directory as a user would.
#ifndef TESTS_PLUMMER_PLUMMER_GEN_RUN_H_
#define TESTS_PLUMMER_PLUMMER_GEN_RUN_H_

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "plummer.h"

namespace plummer {

namespace fs = std::filesystem;

// Runs `write(FILE*)` against a scratch stream and returns what it wrote.
template <typename Write>
inline std::string render(Write write) {
  std::FILE* f = std::tmpfile();
  const bool ok = f != nullptr && write(f);
  std::string text(ok ? static_cast<std::size_t>(std::ftell(f)) : 0, '\0');
  if (f != nullptr) std::rewind(f);
  const bool read = ok && std::fread(text.data(), 1, text.size(), f) == text.size();
  if (f != nullptr) std::fclose(f);
  return read ? text : "<write failed>";
}

// The model of n particles from the generator seeded with `seed`.
inline std::string model_text(int n, unsigned seed = kSeed) {
  Particles p(n);
  build_model(n, seed, p, nullptr);
  double ek = 0.0;
  return render([&](std::FILE* f) { return write_model(f, n, p, &ek); });
}

inline std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class PlummerGen : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "plummer_gen.XXXXXX").string();
    ASSERT_NE(::mkdtemp(name.data()), nullptr);
    base_ = name;
    fs::create_directory(work_ = base_ / "work");
  }
  void TearDown() override { fs::remove_all(base_); }

  // Runs the program in work_ after the shell commands `setup`; returns its
  // exit status and leaves its output in out_ and err_.
  int run(const std::string& args, const std::string& setup = "") {
    const std::string command = "cd '" + work_.string() + "' && " + setup + " exec '" +
                                PLUMMER_GEN_PATH + "' " + args + " >'" + base_.string() +
                                "/out' 2>'" + base_.string() + "/err'";
    const int status = std::system(command.c_str());
    out_ = slurp(base_ / "out");
    err_ = slurp(base_ / "err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string model() { return slurp(work_ / "data.inp"); }
  int entries() { return std::distance(fs::directory_iterator(work_), {}); }

  fs::path base_, work_;
  std::string out_, err_;
};

}  // namespace plummer

#endif  // TESTS_PLUMMER_PLUMMER_GEN_RUN_H_

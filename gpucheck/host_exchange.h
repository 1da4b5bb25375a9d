// The host library's results for a program that links a CUDA library. Both
// export the same entry points, so one process cannot hold the two: the
// inputs go to a file, a helper program linked with the host library
// (host_results.cpp) computes on them, and its results come back in a file.
#pragma once

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "nbforce_common.h"

extern char** environ;

namespace gpucheck {

// What a request file starts with; the records follow.
struct RequestHeader {
  char magic[4];  // "NBGC"
  std::int32_t kind;
  std::int32_t a, b, c;  // forces: ni, nj, 0; potential: n, js, je
  float eps2;
};
enum RequestKind : std::int32_t { kForces = 1, kPotential = 2 };

inline bool write_all(std::FILE* f, const void* data, std::size_t bytes) {
  return bytes == 0 || std::fwrite(data, 1, bytes, f) == bytes;
}

inline bool read_all(std::FILE* f, void* data, std::size_t bytes) {
  return bytes == 0 || std::fread(data, 1, bytes, f) == bytes;
}

// Runs `program` with `args` and waits; true when it exited with status 0.
inline bool run_program(const std::string& program, const std::vector<std::string>& args,
                        std::string& error) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    error = "cannot start " + program;
    return false;
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error = program + " failed";
    return false;
  }
  return true;
}

// A file name of its own in the temporary directory, removed with the object.
struct ScratchFile {
  std::string path;
  explicit ScratchFile(const char* tag) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/nbforce-" + tag + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd >= 0) {
      close(fd);
      path = name.data();
    }
  }
  ~ScratchFile() {
    if (!path.empty()) std::remove(path.c_str());
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
};

// Sends the request (header and record blocks) to the helper and reads back
// `count` results of type R.
template <class R>
bool host_request(const std::string& helper, const RequestHeader& head,
                  const std::vector<std::pair<const void*, std::size_t>>& blocks,
                  std::vector<R>& out, std::size_t count, std::string& error) {
  ScratchFile in("request"), result("result");
  if (in.path.empty() || result.path.empty()) {
    error = "cannot make a scratch file";
    return false;
  }
  std::FILE* f = std::fopen(in.path.c_str(), "wb");
  bool ok = f != nullptr && write_all(f, &head, sizeof head);
  for (const auto& block : blocks) ok = ok && write_all(f, block.first, block.second);
  if (f != nullptr && std::fclose(f) != 0) ok = false;
  if (!ok) {
    error = "cannot write " + in.path;
    return false;
  }
  if (!run_program(helper, {in.path, result.path}, error)) return false;
  out.resize(count);
  f = std::fopen(result.path.c_str(), "rb");
  ok = f != nullptr && read_all(f, out.data(), count * sizeof(R));
  if (f != nullptr) std::fclose(f);
  if (!ok) error = "cannot read " + result.path;
  return ok;
}

// The host library's calc_force on these predictors.
template <class Pred, class Force>
bool host_forces(const std::string& helper, const std::vector<Pred>& ip,
                 const std::vector<Pred>& jp, float eps2, std::vector<Force>& out,
                 std::string& error) {
  const RequestHeader head{{'N', 'B', 'G', 'C'},
                           kForces,
                           static_cast<std::int32_t>(ip.size()),
                           static_cast<std::int32_t>(jp.size()),
                           0,
                           eps2};
  return host_request(
      helper, head, {{ip.data(), ip.size() * sizeof(Pred)}, {jp.data(), jp.size() * sizeof(Pred)}},
      out, ip.size(), error);
}

// The host library's calc_pot on these particles.
inline bool host_potential(const std::string& helper, const std::vector<Posm>& posm, int js, int je,
                           float eps2, std::vector<double>& out, std::string& error) {
  const RequestHeader head{
      {'N', 'B', 'G', 'C'}, kPotential, static_cast<std::int32_t>(posm.size()), js, je, eps2};
  return host_request(helper, head, {{posm.data(), posm.size() * sizeof(Posm)}}, out, posm.size(),
                      error);
}

}  // namespace gpucheck

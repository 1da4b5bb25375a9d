// Runs a program of the build in the background, so that a test can send
// it signals while it computes, and the comparisons of two runs' outputs
// that leave out what depends on the wall clock.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "run_program.h"

extern char** environ;

namespace hermite_test {

// A shell command line started in `dir` with its output in files; the
// shell execs the last command, so the pid is that program's.
inline pid_t start(const fs::path& dir, const std::string& command, const std::string& tag) {
  const std::string line =
      "cd '" + dir.string() + "' && exec " + command + " >" + tag + ".out 2>" + tag + ".err";
  const char* argv[] = {"/bin/sh", "-c", line.c_str(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    return -1;
  }
  return pid;
}

// The exit status of pid, 128 + signal for a process ended by one.
inline int finish(pid_t pid) {
  int raw = 0;
  if (::waitpid(pid, &raw, 0) != pid) return -1;
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

inline int lines_of(const fs::path& path) {
  std::ifstream in(path);
  int n = 0;
  std::string line;
  while (std::getline(in, line)) ++n;
  return n;
}

// Waits until the file has at least `lines` lines, or the process ended
// (false), or a minute passed (false).
inline bool wait_for_lines(pid_t pid, const fs::path& path, int lines) {
  for (int i = 0; i < 6000; ++i) {
    if (lines_of(path) >= lines) return true;
    siginfo_t info{};
    // WNOWAIT: the process stays to be collected by finish().
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// A random moment: a pause of 0 to `most_ms` milliseconds, with its seed
// reported by the caller on failure.
inline unsigned random_pause(unsigned seed, int most_ms) {
  std::mt19937 gen(seed);
  const int ms = std::uniform_int_distribution<int>(0, most_ms)(gen);
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  return static_cast<unsigned>(ms);
}

// An energy history without its wall_seconds column (the ninth).
inline std::string without_wall(const std::string& csv) {
  std::istringstream in(csv);
  std::string line, out;
  while (std::getline(in, line)) {
    std::string kept;
    int field = 0;
    std::size_t begin = 0;
    for (;;) {
      const std::size_t comma = line.find(',', begin);
      const std::string f = line.substr(begin, comma == std::string::npos ? comma : comma - begin);
      if (field != 8) kept += (field == 0 ? "" : ",") + f;
      ++field;
      if (comma == std::string::npos) break;
      begin = comma + 1;
    }
    out += kept + "\n";
  }
  return out;
}

// The summary line of a run's output without its wall time and rate: from
// "hermiteN: done at" up to " in ".
inline std::string final_line(const std::string& out) {
  const std::size_t begin = out.rfind(": done at");
  if (begin == std::string::npos) return "";
  const std::size_t end = out.find(" in ", begin);
  return out.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

}  // namespace hermite_test

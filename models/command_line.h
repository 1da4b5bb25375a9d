// cluster_gen's command line: options only, each as "-x VALUE", "--name VALUE"
// or "--name=VALUE".
#pragma once

#include <string>

#include "cluster.h"

namespace models {

enum class Outcome { kRun, kHelp, kVersion, kUsage };

struct Request {
  Outcome outcome = Outcome::kRun;
  ClusterOptions options;
  std::string output = "data.inp";
  bool quiet = false;
  std::string arguments;  // the options as typed, for the file's provenance
  std::string message;    // kUsage: why, quoting the argument
};

// Reads the options; values are checked for form only (check_options judges
// the model they describe).
Request read_command_line(int argc, const char* const argv[]);

std::string usage_text();

}  // namespace models

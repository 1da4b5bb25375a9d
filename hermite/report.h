// What a run shows: the progress lines and the summary on standard output,
// the energy history as CSV. Only rank 0 writes; file failures reach every
// rank (on_root) so that all of them stop together.
#pragma once

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>

#include "comm.h"
#include "integrator.h"
#include "model.h"
#include "options.h"

namespace hermite {

std::string format_number(double v);

// Runs fn on rank 0; an exception there is rethrown on every rank.
template <class F>
void on_root(const Comm& comm, F&& fn) {
  std::string error;
  if (comm.root()) {
    try {
      fn();
    } catch (const std::exception& e) {
      error = e.what();
      if (error.empty()) error = "failure on rank 0";
    }
  }
  comm.broadcast(error);
  if (!error.empty()) throw std::runtime_error(error);
}

// Rank 0 reads the model file and hands it to the other ranks.
Model load_model(const std::string& path, const Comm& comm);

struct RunInfo {
  std::string program;
  int order = 4;
  int n = 0;
  int ranks = 1;
  double t0 = 0.0;
  Options options;
};

class Report {
 public:
  Report(const RunInfo& info, const Comm& comm);
  ~Report();
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;

  void header() const;
  // One output time: the progress line and the energy history row. The
  // first call fixes the reference energy.
  void output(double t, const Energy& e, const Counters& c, double wall);
  void summary() const;

 private:
  RunInfo info_;
  const Comm& comm_;
  std::FILE* csv_ = nullptr;
  bool have_e0_ = false;
  double e0_ = 0.0, last_error_ = 0.0, max_error_ = 0.0, last_t_ = 0.0;
  Counters last_{};
  double last_wall_ = 0.0;
};

}  // namespace hermite

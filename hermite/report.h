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
#include "number_text.h"
#include "options.h"

namespace hermite {

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

// The energy error of one output against the first: relative, (E - E0) /
// |E0|, or absolute, E - E0, where E0 is 0 (a lone particle at rest, or
// kinetic and potential energy in balance) and no relative error exists.
struct EnergyError {
  double value = 0.0;
  bool relative = true;
};

EnergyError energy_error(const Energy& e, const Energy& e0);

// Whether the error passes the limit: |dE/E| > limit, or where E0 is 0,
// |dE| > limit (K0 + |W0|). A limit of 0 is none.
bool beyond_limit(const EnergyError& error, const Energy& e0, double limit);

// What the report carries from one output to the next, for a checkpoint:
// the reference energy, the errors so far, the last output's counters and
// wall time, and the length of the energy history written.
struct ReportState {
  bool have_e0 = false;
  Energy e0;
  EnergyError last_error;
  double max_error = 0.0, last_t = 0.0, last_wall = 0.0;
  Counters last;
  long long energy_bytes = 0;  // bytes of the energy history file so far
};

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
  // With `resume`, continues the report of a checkpointed run: the energy
  // history (same name) is cut back to the checkpoint's length and appended
  // to, or started afresh under a new name (`new_file`). Throws
  // std::runtime_error where the history is shorter than the checkpoint
  // says: rows would be lost.
  Report(const RunInfo& info, const Comm& comm, const ReportState* resume = nullptr,
         bool new_file = true);
  ~Report();
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;

  void header() const;
  // One output time: the progress line and the energy history row. The
  // first call fixes the reference energy.
  void output(double t, const Energy& e, const Counters& c, double wall);
  // A line between outputs while the steps stall: the time reached and the
  // smallest step.
  void progress(double t, double smallest_step, const Counters& c, double wall) const;
  // Throws IntegrationError when the last output's energy error passes the
  // limit of the options.
  void check_energy_limit() const;
  void summary() const;
  ReportState state() const;

 private:
  RunInfo info_;
  const Comm& comm_;
  std::FILE* csv_ = nullptr;
  bool have_e0_ = false;
  Energy e0_;
  EnergyError last_error_;
  double max_error_ = 0.0, last_t_ = 0.0;
  Counters last_{};
  double last_wall_ = 0.0;
  long long energy_bytes_ = 0;
};

}  // namespace hermite

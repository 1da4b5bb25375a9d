// The core history of a run (--core): density centre, core radius and
// density, radii about the density centre, hard binaries and escapers
// (diagnostics/core.h), one CSV row per output.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bound_mass.h"
#include "comm.h"
#include "core.h"
#include "history_file.h"
#include "mass_groups_section.h"
#include "scheme.h"

namespace hermite {

// The header "time,xd,yd,zd,rc,rhoc,r01,r10,r50,r90,nbin,ebin,nesc", in an
// external field (`field`) "m_bound,n_bound,r_jacobi,n_pot_esc"
// (fields/bound_mass.h, about the density centre), then
// for each of `groups` mass groups "gK_r10,gK_r50,gK_m10", then one row per
// write. Throws std::runtime_error when the file cannot be created or
// written.
class CoreFile {
 public:
  explicit CoreFile(const std::string& path, int groups = 0, bool field = false);
  // Continues a history cut back to `bytes` (see reopen_history), after
  // checking that its header is the one this run writes (the same mass
  // groups); std::runtime_error otherwise.
  CoreFile(const std::string& path, long long bytes, int groups = 0, bool field = false);

  void write(double t, const diagnostics::Core& c, const fields::Bound* bound = nullptr);
  long long bytes() const { return history_.bytes(); }  // written so far

 private:
  HistoryFile history_;
};

// Rank 0 computes and writes; a failure reaches every rank. An empty path
// writes nothing. pot is the potential of every particle at the output (as
// the energy computes it), eps the softening of the run. A model of n
// particles too small for the diagnostics is refused here (runtime_error),
// before any file is created. resume_bytes >= 0: continues the history of a
// checkpointed run (same file), cut back to that length. groups: the
// boundaries of --mass-groups and the group of each of the n particles,
// fixed at the run's start (a continued run's from its checkpoint); they
// need a path (runtime_error).
class CoreReport {
 public:
  CoreReport(const std::string& path, const Comm& comm, int n, double eps,
             long long resume_bytes = -1, const MassGroups& groups = {},
             const fields::Field* field = nullptr, double field_t0 = 0.0);
  void output(double t, const std::vector<double>& mass, const std::vector<Vec3>& pos,
              const std::vector<Vec3>& vel, const std::vector<double>& pot);
  // The history's length on rank 0 (0 elsewhere and without a file).
  long long bytes() const { return file_ ? file_->bytes() : 0; }

 private:
  // Rank 0: the diagnostics of the particles given (group: theirs, or
  // null) and the row.
  void write_row(double t, const std::vector<double>& mass, const std::vector<Vec3>& pos,
                 const std::vector<Vec3>& vel, const std::vector<double>& pot, const int* group);

  const Comm& comm_;
  std::unique_ptr<CoreFile> file_;
  double eps_;
  bool enabled_;
  std::vector<int> group_;  // of each particle; empty without mass groups
  int groups_ = 0;
  const fields::Field* field_ = nullptr;  // adds the bound mass; its time is t - field_t0_
  double field_t0_ = 0.0;
};

}  // namespace hermite

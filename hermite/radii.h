// Lagrangian radii: the radii about the centre of mass that contain given
// fractions of the total mass, written as a CSV history at every output.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "comm.h"
#include "history_file.h"
#include "scheme.h"

namespace hermite {

// Mass fractions of the radii history, in the order of its columns.
inline const std::vector<double>& radii_fractions() {
  static const std::vector<double> f = {0.01, 0.1, 0.25, 0.5, 0.75, 0.9};
  return f;
}

// For each fraction f (ascending, in (0, 1]) the distance from the centre
// of mass of the first particle, in order of distance, at which the
// enclosed mass reaches f times the total mass. Zero for an empty model.
std::vector<double> lagrangian_radii(const std::vector<double>& mass, const std::vector<Vec3>& pos,
                                     const std::vector<double>& fractions);

// The radii history: a header "time,r01,r10,..." naming each fraction in
// percent, then one line per output. Throws std::runtime_error when the
// file cannot be written.
class RadiiFile {
 public:
  explicit RadiiFile(const std::string& path);
  // Continues a history cut back to `bytes` (see reopen_history).
  RadiiFile(const std::string& path, long long bytes);

  void write(double t, const std::vector<double>& radii);
  long long bytes() const { return history_.bytes(); }  // written so far

 private:
  HistoryFile history_;
};

// The radii history of a run: every rank computes, rank 0 writes, and a
// write failure reaches every rank. An empty path writes nothing.
class RadiiReport {
 public:
  // resume_bytes >= 0: continues the history of a checkpointed run (same
  // file), cut back to that length.
  RadiiReport(const std::string& path, const Comm& comm, long long resume_bytes = -1);
  void output(double t, const std::vector<double>& mass, const std::vector<Vec3>& pos);
  // The history's length on rank 0 (0 elsewhere and without a file).
  long long bytes() const { return file_ ? file_->bytes() : 0; }

 private:
  const Comm& comm_;
  std::unique_ptr<RadiiFile> file_;
  bool enabled_;
};

}  // namespace hermite

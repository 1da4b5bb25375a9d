// Checkpoints: everything a run needs to continue as if it had never
// stopped, in one binary file with a version and a checksum.
//
// Layout (native little-endian doubles and integers; the byte-order mark
// refuses a file of the other order):
//   8 bytes   "NBFCKPT\n"
//   u32       format version (kCheckpointVersion)
//   u32       byte-order mark 0x01020304
//   u64       length of the whole file in bytes, checksum included
//   payload   the fields of Checkpoint in the order of encode_checkpoint:
//             i32 and i64 integers, f64 numbers, strings as u64 length and
//             bytes, arrays as u64 count and elements
//   (v2)      the particles' alive flags (u8 array), the reference
//             energy's external part (f64), then the sections: a
//             u64 count and per section its tag and its bytes, as strings,
//             in the tags' order
//   u64       FNV-1a (64 bit) of every byte before it
//
// Versions: 1 ends after the counters; it loads with every particle alive
// and no sections. 2 adds the alive flags and the sections. A feature that
// keeps state of its own (regularised subsystems, an external field, the
// escapers, the libraries' resident particles, the mass groups of the core
// history, the integrator's pair-search tree) writes it as one section under its own tag, encoded
// and decoded by its own code; the core reads no section's bytes. A section whose tag this build
// does not know is refused, since the run would go on without the state it holds; a run that needs
// a section refuses a checkpoint without it (its owner checks).
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "report.h"
#include "state.h"

namespace hermite {

inline constexpr unsigned kCheckpointVersion = 2;

// The section tags this build knows, each owned by one feature.
inline constexpr const char* kCheckpointSections[] = {
    "subsystems", "field", "escapers", "resident", "mass_groups", "neighbour_tree"};

// A refused checkpoint: damaged, truncated, of another version or order.
class CheckpointError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Checkpoint {
  int order = 0;
  // The options that shape the run.
  double eps = 0.0, eta = 0.0, dt_max = 0.0, shared_dt = 0.0, dt_out = 0.0;
  double energy_limit = 0.0, t_end = 0.0;
  // The names of the run's files when the checkpoint was written.
  std::string input, energy_csv, snapshots, snapshot_format, radii_csv, core_csv;
  // The model the run started from: its time and snapshot number.
  double t0 = 0.0;
  int number0 = 0;
  long long next_output = 1;  // the output the run was heading for
  long long radii_bytes = 0;  // length of the radii history
  long long core_bytes = 0;   // length of the core history
  double wall = 0.0;          // wall seconds of the run so far
  ReportState report;         // energy reference, errors, energy history length
  std::vector<double> mass;
  IntegratorState state;
  std::map<std::string, std::string> sections;  // tag -> the owner's bytes
};

std::string encode_checkpoint(const Checkpoint& c);
// Throws CheckpointError naming `name` (the file) for every fault of the
// layout: wrong magic, version or byte order, a length or checksum that
// does not match, fields that run past the end or leave bytes over, or
// arrays whose sizes disagree.
Checkpoint decode_checkpoint(const std::string& bytes, const std::string& name);

// Reads a whole file; throws CheckpointError where it cannot.
std::string read_file_bytes(const std::string& path);

}  // namespace hermite

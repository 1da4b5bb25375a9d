// Checks of a run's output files made before the start-up, so that a run
// never computes for an output interval only to find that it cannot write,
// and never overwrites what it reads.
#pragma once

#include <string>
#include <vector>

#include "options.h"

namespace hermite {

// Whether the snapshots are HDF5: --snapshot-format hdf5, or no format
// given and a prefix ending in .h5 or .hdf5.
bool hdf5_snapshots(const Options& o);

// The snapshot file of one output number: the prefix (less a .h5 or .hdf5
// ending) and the number in at least four digits, then .inp or .h5.
std::string snapshot_name(const Options& o, long long number);

// Throws UsageError where
// - the folder of an output (energy, radii, checkpoint, snapshots) is
//   missing or not writable, or an output names a directory, a block
//   device or a socket;
// - an output is the model file or checkpoint being read (same device and
//   inode), or a snapshot of numbers first .. last would take its name;
// - two outputs name the same file;
// - the snapshot numbers would run past 2^31 - 1.
// `reads` are the files the run reads, or read at its start: the model, and
// on a restart the checkpoint and the model the checkpointed run started
// from (its name as recorded; an empty name is skipped). Only the
// checkpoint read may be replaced, by the continued run's checkpoint.
void check_outputs(const Options& o, const std::vector<std::string>& reads, long long first,
                   long long last);

}  // namespace hermite

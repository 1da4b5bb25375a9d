// Subsystems as bytes, for the "subsystems" section of a checkpoint: every
// field of every record, so that a run continued from a checkpoint takes
// the same steps as one that was not stopped.
//
// Layout (native byte order, like the checkpoint core): u32 format (1),
// u64 count, then per subsystem u64 members, the ids (i32 each), masses,
// positions, velocities (f64), t, ds, work (f64) and the counters steps,
// rejected, force_evaluations, kepler_drifts (i64).
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "subsystem.h"

namespace encounters {

// A byte string that is not a valid encoding: truncated, with bytes left
// over, of an unknown format, or holding an invalid record.
class SubsystemCodecError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string encode_subsystems(const std::vector<Subsystem>& subsystems);

// Throws SubsystemCodecError; never returns a partial result.
std::vector<Subsystem> decode_subsystems(const std::string& bytes);

}  // namespace encounters

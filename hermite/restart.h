// Continuing a run from its checkpoint: reading it on every rank, and the
// options of the continued run.
#pragma once

#include <string>

#include "checkpoint.h"
#include "comm.h"
#include "model.h"
#include "options.h"

namespace hermite {

// Rank 0 reads the checkpoint and every rank decodes the same bytes.
// Throws CheckpointError (on every rank) for a file that cannot be read or
// is refused, or that is of another order than `order`.
Checkpoint load_checkpoint(const std::string& path, const Comm& comm, int order);

// The options of the continued run: those that shape the run come from the
// checkpoint, and one given on the command line with another value is
// refused (UsageError); the end time, the output names and --progress are
// taken as given, and from the checkpoint where not given.
Options restart_options(const Options& given, const Checkpoint& c);

// The model at the checkpointed run's start, with the checkpoint's masses
// and particle states (the integrator's import replaces the rest).
Model checkpoint_model(const Checkpoint& c);

}  // namespace hermite

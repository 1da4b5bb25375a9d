// The threads that run a grid's blocks on the host. The calling thread runs
// blocks itself and wakes helpers only when the grid's work pays for them:
// it times its first block and asks for one helper per kMinHelperShare of
// estimated remaining work, up to the OpenMP thread limit
// (omp_get_max_threads(), so OMP_NUM_THREADS and omp_set_num_threads apply).
//
// The blocks are claimed one at a time from a shared counter, and the caller
// waits only for blocks that have been claimed. A helper that has not been
// scheduled yet, because another process holds its core, claims nothing and
// delays nothing: the caller runs the blocks itself. Idle helpers sleep on a
// condition variable after a short spin, and the caller, once no block is
// left to claim, spins briefly and then sleeps until the claimed blocks are
// done; no thread spins for longer than kSpinNanoseconds.
#pragma once

#include "forcecore/host/block_host.h"
#include "forcecore/host/host_control.h"

namespace nbf::host {

// Estimated work (seconds of one thread) per helper woken. A woken helper
// takes some 10 to 50 microseconds to start, and on a busy machine a helper
// that claims a block and then loses its core holds the caller up to the
// end of that block. 50 microseconds was measured best of 30, 50 and 200
// (see bench/README.md); a small call, two particles, stays far below it.
constexpr double kMinHelperShare = 50e-6;
// How long an idle helper looks for the next grid before it sleeps, and the
// caller for the last claimed blocks. A block step's next interaction grid
// follows some 100 microseconds after the last grid; a helper still awake
// then saves the wake-up. 200 microseconds gave 5 to 10 % more than 20 on
// a quiet machine and 15 % less beside a process spinning on one core (see
// bench/README.md).
constexpr long kSpinNanoseconds = 200000;

struct BlockJob {
  long blocks;
  void (*run)(void* ctx, HostBlock& blk, long block);
  void* ctx;
  bool reversed;
  bool plain;
  InputRegion input;
};

// Runs job.run(ctx, blk, b) once for every b in [0, blocks), each with a
// HostBlock whose begin_block() has been called; returns when all are done.
// Not re-entrant: one grid at a time, as the libraries are.
void run_blocks(const BlockJob& job, Fanout fanout);

// Threads that ran a block of the last grid, the calling thread included.
int last_team_size();

}  // namespace nbf::host

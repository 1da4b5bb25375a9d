// Runs a grid of blocks on the host: each block is one call of the kernel
// body with a HostBlock, the blocks shared by the block team.
#pragma once

#include "forcecore/host/block_team.h"
#include "forcecore/runtime.h"

namespace nbf::host {

struct ExecutionMode {
  bool reversed;
  bool plain;
  Fanout fanout;
  bool plain_prediction;
};
ExecutionMode execution_mode();

// The array the kernels of the current call read in place, if any.
InputRegion input_region();

// Records whether the current pass runs as one sweep (small_pass.h); read by
// last_pass_swept().
void note_pass_swept(bool swept);

template <class Body>
void run_grid(rt::Dim3 grid, Body body) {
  struct Context {
    rt::Dim3 grid;
    Body* body;
  } ctx{grid, &body};
  const ExecutionMode mode = execution_mode();
  BlockJob job;
  job.blocks = static_cast<long>(grid.x) * grid.y * grid.z;
  job.run = [](void* c, HostBlock& blk, long b) {
    const Context& x = *static_cast<const Context*>(c);
    blk.bx = static_cast<int>(b % x.grid.x);
    blk.by = static_cast<int>(b / x.grid.x % x.grid.y);
    (*x.body)(blk);
  };
  job.ctx = &ctx;
  job.reversed = mode.reversed;
  job.plain = mode.plain;
  job.input = input_region();
  run_blocks(job, mode.fanout);
}

}  // namespace nbf::host

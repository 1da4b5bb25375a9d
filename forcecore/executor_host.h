// Runs a grid of blocks on the host: blocks in parallel over OpenMP threads,
// each block by one call of the kernel body with a HostBlock.
#pragma once

#include "forcecore/block_host.h"
#include "forcecore/runtime.h"

namespace nbf::host {

struct ExecutionMode {
  bool reversed;
  bool plain;
};
ExecutionMode execution_mode();

template <class Body>
void run_grid(rt::Dim3 grid, Body body) {
  const long blocks = static_cast<long>(grid.x) * grid.y * grid.z;
  const ExecutionMode mode = execution_mode();
#pragma omp parallel if (blocks > 1)
  {
    alignas(64) unsigned char share[kMaxSharedBytes] = {};
    HostBlock blk;
    blk.reversed = mode.reversed;
    blk.plain = mode.plain;
    blk.share = share;
#pragma omp for schedule(dynamic, 1)
    for (long b = 0; b < blocks; ++b) {
      blk.begin_block();
      blk.bx = static_cast<int>(b % grid.x);
      blk.by = static_cast<int>(b / grid.x % grid.y);
      body(blk);
    }
  }
}

}  // namespace nbf::host

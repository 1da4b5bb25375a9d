// The emulator's own promises, on which the library tests rely: every block
// of the grid runs once with all its threads, in a scrambled order; a block
// starts with NaN in its shared array; barriers make one thread's writes
// visible to the others.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <vector>

#include "emulator/device_emulator.h"

namespace {

using nbf::emu::Grid;
using nbf::emu::run_grid;

TEST(DeviceEmulator, RunsEveryBlockOnceWithAllThreadsInScrambledOrder) {
  const Grid grid{7, 5};
  std::mutex m;
  std::vector<unsigned> order;
  std::vector<int> threads_seen(grid.x * grid.y, 0);
  run_grid(grid, 3, [&] {
    std::lock_guard<std::mutex> lock(m);
    const unsigned b = blockIdx.y * grid.x + blockIdx.x;
    if (threadIdx.x == 0) order.push_back(b);
    ++threads_seen[b];
  });
  ASSERT_EQ(order.size(), static_cast<std::size_t>(grid.x * grid.y));
  EXPECT_FALSE(std::is_sorted(order.begin(), order.end()));
  std::sort(order.begin(), order.end());
  for (unsigned b = 0; b < order.size(); ++b) {
    EXPECT_EQ(order[b], b);
    EXPECT_EQ(threads_seen[b], NTHREAD) << "block " << b;
  }
}

TEST(DeviceEmulator, SharedArrayStartsAsNaNAndBarriersPublishWrites) {
  std::atomic<int> stale{0}, wrong{0};
  run_grid(Grid{3, 2}, 5, [&] {
    nbf::DeviceBlock blk;
    float* share = reinterpret_cast<float*>(blk.shared<NTHREAD * sizeof(float)>());
    const int t = static_cast<int>(threadIdx.x);
    // Left over from the previous block, the value would be finite.
    if (!std::isnan(share[t])) ++stale;
    blk.sync();
    share[t] = static_cast<float>(blockIdx.x * 1000 + t);
    blk.sync();
    const int peer = (t + 37) % NTHREAD;
    if (share[peer] != static_cast<float>(blockIdx.x * 1000 + peer)) ++wrong;
    blk.sync();
    // Within a group of 32, the group barrier is enough.
    share[t] = static_cast<float>(-t);
    blk.sync_group();
    const int mate = (t / 32) * 32 + (t + 5) % 32;
    if (share[mate] != static_cast<float>(-mate)) ++wrong;
  });
  EXPECT_EQ(stale.load(), 0);
  EXPECT_EQ(wrong.load(), 0);
}

TEST(DeviceEmulator, BlockCopyMovesSixteenByteUnitsAcrossTheBlock) {
  std::vector<float> src(4 * 300), dst(4 * 300, 0.0f);
  for (std::size_t k = 0; k < src.size(); ++k) src[k] = static_cast<float>(k);
  run_grid(Grid{1, 1}, 7, [&] {
    nbf::DeviceBlock blk;
    blk.copy_units(dst.data(), src.data(), 300);
  });
  EXPECT_EQ(dst, src);
}

}  // namespace

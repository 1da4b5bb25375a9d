#include "emulator/device_emulator.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace nbf::emu {
namespace {

// Longer than any phase between two barriers takes, even under
// ThreadSanitizer; reaching it means a thread will never arrive.
constexpr std::chrono::seconds kBarrierTimeout{120};

[[noreturn]] void die(const char* what) {
  std::fprintf(stderr, "device emulator: block (%u, %u), thread %u: %s\n", blockIdx.x, blockIdx.y,
               threadIdx.x, what);
  std::fflush(stderr);
  std::abort();
}

// `count` threads wait until all of them have arrived. Each arrival says
// whether the thread is between blocks or at a barrier inside the kernel: a
// generation mixing the two means some threads left the kernel while others
// wait at a barrier, a kernel that hangs a GPU.
//
// Built on atomics alone, so that the only happens-before edges it makes are
// the barrier's own: from every arrival to every departure of the same
// generation. A lock would also order the threads by whatever order they
// happen to take it in, and hide from ThreadSanitizer the races that a
// missing barrier leaves.
class Barrier {
 public:
  explicit Barrier(int count) : count_(count) {}

  void arrive_and_wait(bool between_blocks) {
    kinds_.fetch_or(between_blocks ? 2u : 1u, std::memory_order_relaxed);
    const unsigned generation = generation_.load(std::memory_order_relaxed);
    if (arrived_.fetch_add(1, std::memory_order_acq_rel) + 1 == count_) {
      if (kinds_.exchange(0u, std::memory_order_relaxed) == 3u)
        die("threads of one block met different barriers (a barrier not reached by every "
            "thread)");
      arrived_.store(0, std::memory_order_relaxed);
      generation_.store(generation + 1, std::memory_order_release);
      return;
    }
    // Waiting yields the processor: a block has more threads than the
    // machine has cores. Sleeping is no synchronisation to the sanitizer.
    const auto deadline = std::chrono::steady_clock::now() + kBarrierTimeout;
    for (int spins = 0; generation_.load(std::memory_order_acquire) == generation; ++spins) {
      if (spins < 64) {
        std::this_thread::yield();
      } else {
        std::this_thread::sleep_for(std::chrono::microseconds(20));
        if (std::chrono::steady_clock::now() > deadline)
          die("barrier timed out: not every thread of the block or group arrived");
      }
    }
  }

 private:
  const int count_;
  std::atomic<int> arrived_{0};
  std::atomic<unsigned> kinds_{0};
  std::atomic<unsigned> generation_{0};
};

constexpr int kGroup = 32;

// What the threads of one launch share: the block barrier, one barrier per
// group of 32 and the shared array of the block in flight.
struct Launch {
  Barrier block{NTHREAD};
  Barrier group[NTHREAD / kGroup] = {Barrier(kGroup), Barrier(kGroup), Barrier(kGroup),
                                     Barrier(kGroup)};
  alignas(64) unsigned char shared[kSharedBytes];
};
static_assert(NTHREAD / kGroup == 4, "one barrier per group of 32");

thread_local Launch* current = nullptr;

Launch& current_launch() {
  if (current == nullptr) die("CUDA built-in used outside run_grid");
  return *current;
}

// Uninitialised shared memory reads as NaN, so that a value read before it
// was written shows in the result.
void fill_nan(unsigned char* bytes, std::size_t size) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (std::size_t off = 0; off + sizeof nan <= size; off += sizeof nan)
    std::memcpy(bytes + off, &nan, sizeof nan);
}

}  // namespace

unsigned char* block_shared() { return current_launch().shared; }

void run_grid(Grid grid, unsigned seed, const std::function<void()>& thread_body) {
  std::vector<uint3> order;
  for (unsigned y = 0; y < grid.y; ++y)
    for (unsigned x = 0; x < grid.x; ++x) order.push_back(uint3{x, y, 0});
  std::mt19937 gen(seed);
  std::shuffle(order.begin(), order.end(), gen);

  auto launch = std::make_unique<Launch>();
  std::vector<std::thread> threads;
  threads.reserve(NTHREAD);
  for (unsigned t = 0; t < static_cast<unsigned>(NTHREAD); ++t) {
    threads.emplace_back([&, t] {
      threadIdx = uint3{t, 0, 0};
      current = launch.get();
      for (const uint3& b : order) {
        // The previous block is done everywhere before its shared array is
        // refilled, and the fill is done before the next block reads it.
        launch->block.arrive_and_wait(true);
        if (t == 0) fill_nan(launch->shared, sizeof launch->shared);
        launch->block.arrive_and_wait(true);
        blockIdx = b;
        thread_body();
      }
      launch->block.arrive_and_wait(true);
      current = nullptr;
    });
  }
  for (std::thread& th : threads) th.join();
}

}  // namespace nbf::emu

void __syncthreads() { nbf::emu::current_launch().block.arrive_and_wait(false); }

void __syncwarp() {
  nbf::emu::current_launch().group[threadIdx.x / nbf::emu::kGroup].arrive_and_wait(false);
}

// Runs the device's block context (forcecore/cuda/block_device.h) on the CPU, the
// way a GPU runs it: one OS thread per CUDA thread, all 128 threads of a
// block live at once, __syncthreads and __syncwarp as real barriers, the
// block's shared array filled with NaN before every block, and the blocks of
// a grid in a scrambled order. The kernel templates of forcecore/kernels.h
// run unchanged on top of it.
//
// What it shows: results equal to the host executor's bit for bit (both use
// the host's reciprocal square root here), and, under ThreadSanitizer, that
// every access to shared memory is ordered by a barrier.
#pragma once

#define NBF_DEVICE_EMULATION 1

#include <functional>

// The CUDA built-ins the block context uses, as host code.
struct uint3 {
  unsigned x, y, z;
};
// Copied word by word, as the device moves it: a struct copy would become a
// call of memcpy, whose accesses ThreadSanitizer leaves unchecked when it
// ignores uninstrumented libraries.
struct alignas(16) float4 {
  float x, y, z, w;
  float4() = default;
  float4(const float4&) = default;
  float4& operator=(const float4& o) {
    x = o.x;
    y = o.y;
    z = o.z;
    w = o.w;
    return *this;
  }
};
#define __device__
#define __forceinline__ inline

inline thread_local uint3 threadIdx{0, 0, 0};
inline thread_local uint3 blockIdx{0, 0, 0};

void __syncthreads();
void __syncwarp();

namespace nbf::emu {
unsigned char* block_shared();
}
#define NBF_BLOCK_SHARED_ARRAY(type, name, count) \
  type* name = reinterpret_cast<type*>(nbf::emu::block_shared())

#include "forcecore/cuda/block_device.h"

namespace nbf::emu {

// Largest shared array a kernel of the libraries asks for (128 eighth-order
// predictors of 80 bytes).
inline constexpr unsigned kSharedBytes = 10240;

struct Grid {
  unsigned x = 1, y = 1;
};

// Runs `thread_body` once per thread of every block of `grid`, 128 threads
// at a time, the blocks in an order shuffled by `seed`. Returns when every
// block is done. A barrier that not all threads of a block reach ends the
// process with a message instead of hanging.
void run_grid(Grid grid, unsigned seed, const std::function<void()>& thread_body);

}  // namespace nbf::emu

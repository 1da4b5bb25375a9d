// The device's block context: one CUDA thread of a 128-thread block.
//
// Besides nvcc, the test suite's device emulator compiles this file on the
// host (NBF_DEVICE_EMULATION), with the CUDA built-ins it uses supplied as
// host code: thread and block indices, barriers and the block's shared array.
#pragma once

#if defined(__CUDACC__) || defined(NBF_DEVICE_EMULATION)

#include "forcecore/block_context.h"
#include "forcecore/split.h"

// The block's shared array: one per block, visible to all its threads.
#ifndef NBF_BLOCK_SHARED_ARRAY
#define NBF_BLOCK_SHARED_ARRAY(type, name, count) __shared__ __align__(16) type name[count]
#endif

namespace nbf {

// A per-thread variable: on the device each thread holds its own, in registers.
template <class T>
struct One {
  T v;
  __device__ __forceinline__ T& operator[](int) { return v; }
  __device__ __forceinline__ const T& operator[](int) const { return v; }
};

struct DeviceBlock {
  template <class T>
  using Local = One<T>;

  __device__ __forceinline__ int block_x() const { return static_cast<int>(blockIdx.x); }
  __device__ __forceinline__ int block_y() const { return static_cast<int>(blockIdx.y); }

  template <unsigned Bytes>
  __device__ __forceinline__ unsigned char* shared() {
    NBF_BLOCK_SHARED_ARRAY(unsigned char, share, Bytes);
    return share;
  }

  template <class Fn>
  __device__ __forceinline__ void each(Fn fn) {
    fn(static_cast<int>(threadIdx.x));
  }
  // Every thread takes part, those past the pass included.
  template <class Fn>
  __device__ __forceinline__ void each_live(const Split&, Fn fn) {
    fn(static_cast<int>(threadIdx.x));
  }
  __device__ __forceinline__ void sync() { __syncthreads(); }
  __device__ __forceinline__ void sync_rewrite() { __syncthreads(); }
  // Warps are not lock-step on current devices: the 32 threads of a group
  // meet explicitly between the steps of the tree sum.
  __device__ __forceinline__ void sync_group() { __syncwarp(); }

  // Thread t copies units t, t + 128, ...: consecutive addresses across the block.
  __device__ __forceinline__ void copy_units(void* dst, const void* src, int units) {
    float4* d = static_cast<float4*>(dst);
    const float4* s = static_cast<const float4*>(src);
    for (int u = static_cast<int>(threadIdx.x); u < units; u += NTHREAD) d[u] = s[u];
  }

  template <class Term, class Body, class Acc>
  __device__ __forceinline__ void pair_tile(const Split& sp, int lim, One<Body>& me, One<Acc>& fo,
                                            const typename Term::Predictor* tile, float eps2) {
    const int joff = sp.joff(static_cast<int>(threadIdx.x));
    if (lim == NTHREAD) {
#pragma unroll 4
      for (int k = joff; k < NTHREAD; k += sp.jsplit)
        Term::interaction(me.v, Term::template load<float>(tile[k]), eps2, fo.v);
    } else {
      for (int k = joff; k < lim; k += sp.jsplit)
        Term::interaction(me.v, Term::template load<float>(tile[k]), eps2, fo.v);
    }
  }
};

// Checked under nvcc and in the device emulator alike.
static_assert(assert_block_context<DeviceBlock>(), "the device block context");

}  // namespace nbf

#endif

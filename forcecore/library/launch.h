// Kernel launch with an explicit grid and block on the default stream, and
// the macro that declares a kernel entry point for the backend being built.
#pragma once

#include "forcecore/runtime.h"

#if defined(__CUDACC__)

#include "forcecore/cuda/block_device.h"

// A kernel: a __global__ function of one thread; the body's block context is
// that thread.
#define NBF_KERNEL(name, ...) __global__ void __launch_bounds__(NTHREAD) name(__VA_ARGS__)
#define NBF_THIS_BLOCK nbf_block_
#define NBF_KERNEL_PROLOGUE nbf::DeviceBlock nbf_block_;

namespace nbf::rt {

// The status of this launch alone: the runtime's last-error slot may still
// hold the failure of an earlier call whose status nobody read, so it is
// emptied first.
template <class... P, class... A>
Status launch(void (*kernel)(P...), Dim3 grid, Dim3 block, A... args) {
  (void)cudaGetLastError();
  kernel<<<dim3(grid.x, grid.y, grid.z), dim3(block.x, block.y, block.z)>>>(
      static_cast<P>(args)...);
  return static_cast<Status>(cudaGetLastError());
}

// The device runs every pass through its two kernels.
template <class O>
constexpr bool sweeps_pass(int) {
  return false;
}
template <class K>
Status admit(K, Dim3, Dim3) {
  return kSuccess;
}
template <class O, class Pred, class Rec>
void sweep_pass(int, int, const Pred*, const Pred*, Rec*, float) {}

template <class Fn>
__global__ void __launch_bounds__(NTHREAD) for_each_kernel(int n, Fn fn) {
  const int i = static_cast<int>(blockIdx.x * blockDim.x + threadIdx.x);
  if (i < n) fn(i);
}

// fn(i) for i = 0 .. n - 1, one device thread each (the per-particle work
// of the resident particles; fn is a record with a __host__ __device__
// call operator).
template <class Fn>
Status for_each(int n, Fn fn) {
  if (n <= 0) return kSuccess;
  (void)cudaGetLastError();
  for_each_kernel<<<static_cast<unsigned>((n - 1) / NTHREAD + 1), NTHREAD>>>(n, fn);
  return static_cast<Status>(cudaGetLastError());
}

}  // namespace nbf::rt

#else

#include "forcecore/host/executor_host.h"
#include "forcecore/host/host_control.h"
#include "forcecore/host/small_pass.h"

// A kernel: a function run once per block by the host executor. Each
// instruction-set variant of a library keeps its kernels to itself.
#if defined(NBF_ISA_VARIANT)
#define NBF_KERNEL(name, ...) static void name(nbf::HostBlock& nbf_block_, __VA_ARGS__)
#else
#define NBF_KERNEL(name, ...) void name(nbf::HostBlock& nbf_block_, __VA_ARGS__)
#endif
#define NBF_THIS_BLOCK nbf_block_
#define NBF_KERNEL_PROLOGUE

namespace nbf::host {
rt::Status begin_launch(const void* kernel, rt::Dim3 grid, rt::Dim3 block);
}

namespace nbf::rt {

template <class... P, class... A>
Status launch(void (*kernel)(HostBlock&, P...), Dim3 grid, Dim3 block, A... args) {
  const Status status = host::begin_launch(reinterpret_cast<const void*>(kernel), grid, block);
  if (status != kSuccess) return status;
  host::run_grid(grid, [&](HostBlock& blk) { kernel(blk, static_cast<P>(args)...); });
  return kSuccess;
}

// A pass of few i-particles runs as one sweep with the bits of the
// interaction and reduction kernels (small_pass.h). Its launches are still
// checked as launch() checks them, by admit(), without running the kernels.
template <class O>
bool sweeps_pass(int n) {
  const bool swept = host::small_pass_fits<O>(n);
  host::note_pass_swept(swept);
  return swept;
}
template <class... P>
Status admit(void (*kernel)(HostBlock&, P...), Dim3 grid, Dim3 block) {
  return host::begin_launch(reinterpret_cast<const void*>(kernel), grid, block);
}
template <class O, class Pred, class Rec>
void sweep_pass(int n, int nj, const Pred* ip, const Pred* jp, Rec* out, float eps2) {
  host::run_small_pass<O>(n, nj, ip, jp, out, eps2);
}

// fn(i) for i = 0 .. n - 1 over the OpenMP threads where n is large. Each
// i is independent work, so the results do not depend on the threads.
// Short ranges stay on the calling thread without entering the OpenMP
// runtime, which costs about a microsecond even for a team of one.
template <class Fn>
Status for_each(int n, Fn fn) {
  if (n < 4096) {
    for (int i = 0; i < n; ++i) fn(i);
    return kSuccess;
  }
#ifdef _OPENMP  // the instruction-set variants compile without OpenMP
#pragma omp parallel for schedule(static)
#endif
  for (int i = 0; i < n; ++i) fn(i);
  return kSuccess;
}

}  // namespace nbf::rt

#endif

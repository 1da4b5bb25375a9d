#include <cuda_runtime.h>

#include "fma_peak.h"

namespace gpucheck {
namespace {

constexpr int kChains = 8;
constexpr int kRounds = 16384;
constexpr int kThreads = 256;

// Eight independent chains per thread keep the FMA pipes full; the store
// that never happens for these inputs keeps the compiler from dropping them.
__global__ void fma_chains(float b, float c, float* sink) {
  float acc[kChains];
  for (int k = 0; k < kChains; ++k) acc[k] = static_cast<float>(threadIdx.x + k);
  for (int r = 0; r < kRounds; ++r) {
#pragma unroll
    for (int k = 0; k < kChains; ++k) acc[k] = __fmaf_rn(acc[k], b, c);
  }
  float sum = 0.0f;
  for (int k = 0; k < kChains; ++k) sum += acc[k];
  if (sum == -1.0f) sink[threadIdx.x] = sum;
}

}  // namespace

double fma_peak_flops() {
  cudaDeviceProp prop;
  if (cudaGetDeviceProperties(&prop, 0) != cudaSuccess) return 0.0;
  const int blocks = prop.multiProcessorCount * 16;
  float* sink = nullptr;
  cudaEvent_t start, stop;
  if (cudaMalloc(&sink, kThreads * sizeof(float)) != cudaSuccess) return 0.0;
  cudaEventCreate(&start);
  cudaEventCreate(&stop);
  fma_chains<<<blocks, kThreads>>>(0.999f, 0.001f, sink);  // warm-up
  float best_ms = 0.0f;
  for (int rep = 0; rep < 5; ++rep) {
    cudaEventRecord(start);
    fma_chains<<<blocks, kThreads>>>(0.999f, 0.001f, sink);
    cudaEventRecord(stop);
    cudaEventSynchronize(stop);
    float ms = 0.0f;
    cudaEventElapsedTime(&ms, start, stop);
    if (rep == 0 || ms < best_ms) best_ms = ms;
  }
  const bool ok = cudaGetLastError() == cudaSuccess;
  cudaEventDestroy(start);
  cudaEventDestroy(stop);
  cudaFree(sink);
  if (!ok || best_ms <= 0.0f) return 0.0;
  const double flops = 2.0 * kChains * kRounds * static_cast<double>(blocks) * kThreads;
  return flops / (best_ms * 1e-3);
}

}  // namespace gpucheck

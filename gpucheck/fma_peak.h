// The GPU's single-precision fused multiply-add rate, measured in the same
// run as the force timings they are set against.
#pragma once

namespace gpucheck {

// Floating-point operations per second (two per FMA) of independent FMA
// chains on every thread of a full grid, timed with CUDA events; 0 if a CUDA
// call failed.
double fma_peak_flops();

}  // namespace gpucheck

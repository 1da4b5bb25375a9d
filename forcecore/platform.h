// Qualifiers and single-precision primitives that differ between the device
// compiler and the host compiler. Everything else in the kernels is written
// once on top of these.
#pragma once

#include <cmath>

#if defined(__CUDACC__)
#define NBF_DEV __device__ __forceinline__
#define NBF_HD __host__ __device__ __forceinline__
#else
#define NBF_DEV inline __attribute__((always_inline))
#define NBF_HD inline __attribute__((always_inline))
#endif

namespace nbf {

// Single operations with one rounding each, never contracted or reassociated.
NBF_DEV float fma_rn(float a, float b, float c) {
#if defined(__CUDA_ARCH__)
  return __fmaf_rn(a, b, c);
#else
  return std::fma(a, b, c);
#endif
}

// Approximate 1/sqrt(x). The device uses its hardware approximation. The host
// uses a correctly rounded square root followed by a correctly rounded
// division: within 2 ulp of 1/sqrt(x) (two roundings of half an ulp each),
// the same bits on every IEEE machine and at every vector width.
//
// NBF_HOST_RSQRT gives the device the host's form, spelled with explicitly
// rounded operations. Only test builds set it: with it the device's results
// must equal the host library's bit for bit, which proves that nothing but
// the reciprocal square root tells the two apart.
NBF_DEV float rsqrt_approx(float x) {
#if defined(__CUDA_ARCH__) && defined(NBF_HOST_RSQRT)
  return __fdiv_rn(1.0f, __fsqrt_rn(x));
#elif defined(__CUDA_ARCH__)
  return rsqrtf(x);
#else
  return 1.0f / std::sqrt(x);
#endif
}

NBF_DEV float select(bool keep, float a, float b) { return keep ? a : b; }

template <class F>
NBF_DEV F splat(float v) {
  return F(v);
}

}  // namespace nbf

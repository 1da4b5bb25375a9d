// Lane vectors for the host executor: one lane per emulated thread. The
// kernels' arithmetic is written over a value type F; with F = Lanes the same
// source runs kLanes threads at once. Every lane operation is the IEEE
// single-precision operation of the scalar code, so results do not depend on
// the vector width.
#pragma once

#include "forcecore/platform.h"

#if defined(__AVX512F__) || defined(__AVX__)
#include <immintrin.h>
#endif

namespace nbf {

#if defined(__AVX512F__)
constexpr int kLanes = 16;
#elif defined(__AVX__)
constexpr int kLanes = 8;
#else
constexpr int kLanes = 4;
#endif

typedef float Lanes __attribute__((vector_size(kLanes * sizeof(float))));
typedef int LaneMask __attribute__((vector_size(kLanes * sizeof(int))));

// The fused multiply-add is one instruction where the instruction set has
// it. Written as a loop over the lanes, the compiler would vectorise it only
// late, after it has decided not to unroll the kernels' small loops around
// it.
NBF_DEV Lanes fma_rn(Lanes a, Lanes b, Lanes c) {
#if defined(__AVX512F__)
  return _mm512_fmadd_ps(a, b, c);
#elif defined(__AVX__) && defined(__FMA__)
  return _mm256_fmadd_ps(a, b, c);
#else
  Lanes r{};
  for (int l = 0; l < kLanes; ++l) r[l] = __builtin_fmaf(a[l], b[l], c[l]);
  return r;
#endif
}

// 1/sqrt(x) as the scalar form computes it: a correctly rounded square root,
// then a correctly rounded division (the compiler makes each one
// instruction).
NBF_DEV Lanes rsqrt_approx(Lanes x) {
  Lanes r{};
  for (int l = 0; l < kLanes; ++l) r[l] = __builtin_sqrtf(x[l]);
  return 1.0f / r;
}

NBF_DEV Lanes select(LaneMask keep, Lanes a, Lanes b) { return keep ? a : b; }

// Every lane v, the sign of a zero included.
template <>
NBF_DEV Lanes splat<Lanes>(float v) {
#if defined(__AVX512F__)
  return _mm512_set1_ps(v);
#elif defined(__AVX__)
  return _mm256_set1_ps(v);
#else
  Lanes r{};
  for (int l = 0; l < kLanes; ++l) r[l] = v;
  return r;
#endif
}

}  // namespace nbf

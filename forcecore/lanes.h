// Lane vectors for the host executor: one lane per emulated thread. The
// kernels' arithmetic is written over a value type F; with F = Lanes the same
// source runs kLanes threads at once. Every lane operation is the IEEE
// single-precision operation of the scalar code, so results do not depend on
// the vector width.
#pragma once

#include "forcecore/platform.h"

namespace nbf {

#if defined(__AVX512F__)
inline constexpr int kLanes = 16;
#elif defined(__AVX__)
inline constexpr int kLanes = 8;
#else
inline constexpr int kLanes = 4;
#endif

typedef float Lanes __attribute__((vector_size(kLanes * sizeof(float))));
typedef int LaneMask __attribute__((vector_size(kLanes * sizeof(int))));

NBF_DEV Lanes fma_rn(Lanes a, Lanes b, Lanes c) {
  Lanes r;
  for (int l = 0; l < kLanes; ++l) r[l] = __builtin_fmaf(a[l], b[l], c[l]);
  return r;
}

NBF_DEV Lanes rsqrt_approx(Lanes x) {
  Lanes r;
  for (int l = 0; l < kLanes; ++l) r[l] = __builtin_sqrtf(x[l]);
  return 1.0f / r;
}

NBF_DEV Lanes select(LaneMask keep, Lanes a, Lanes b) { return keep ? a : b; }

template <>
NBF_DEV Lanes splat<Lanes>(float v) {
  return Lanes{} + v;
}

}  // namespace nbf

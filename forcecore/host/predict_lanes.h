// The resident particles' prediction on the host, kDoubleLanes consecutive
// slots at a time in double-precision vectors of the instruction set the
// library variant is compiled for (8 lanes with AVX-512, 4 with AVX, 2
// otherwise).
//
// Contract: every lane carries out the operations of predict_state and
// predict_record (forcecore/predict.h) for its slot, in their order and
// rounded once each, so the records are the bits the scalar predictor
// writes. The one difference of form: a slot whose step ends before the
// call's time (tau > step) runs the Horner sums over all 2K derivatives
// with the interpolated ones replaced by 0. Those terms leave the sums at
// +0 (0 * tau + 0 * (1/n!) is +0 for any finite tau), the value the
// scalar sums start from, so the remaining K terms see the same operands.
// The store must be laid out one array per field (slot_stride 1).
#pragma once

#include <cstddef>
#include <cstring>
#include <utility>

#include "forcecore/host/lanes.h"
#include "forcecore/predict.h"
#include "nbforce_common.h"

namespace nbf {

// Doubles in the vector width the kernels' float lanes use.
constexpr int kDoubleLanes = kLanes / 2;

// Hides a vector's value from the optimiser, in a vector register.
#if defined(__x86_64__) || defined(__i386__)
#define NBF_OPAQUE_LANES(v) __asm__("" : "+v"(v))
#elif defined(__aarch64__)
#define NBF_OPAQUE_LANES(v) __asm__("" : "+w"(v))
#else
#define NBF_OPAQUE_LANES(v) __asm__("" : "+m"(v))
#endif

typedef double DLanes __attribute__((vector_size(kDoubleLanes * sizeof(double))));
typedef long long DMask __attribute__((vector_size(kDoubleLanes * sizeof(long long))));
typedef float FLanes __attribute__((vector_size(kDoubleLanes * sizeof(float))));
typedef int FMask __attribute__((vector_size(kDoubleLanes * sizeof(int))));

inline DLanes dsplat(double v) {
  DLanes r;
  for (int l = 0; l < kDoubleLanes; ++l) r[l] = v;
  return r;
}

// Field f of slots i .. i + kDoubleLanes - 1.
inline DLanes load_lanes(const ResidentView& s, int f, long i) {
  DLanes v;
  std::memcpy(&v, s.base + f * s.field_stride + i, sizeof v);
  return v;
}

// The states of kDoubleLanes slots at the call's time, with the position
// split into float hi and lo parts as split_rn does and the others rounded
// to float as predict_record rounds them.
struct PredictedLanes {
  FLanes hi[3], lo[3], vel[3], acc[3], jrk[3];
  FLanes mass;  // 0 for targets and removed slots
};

template <int K>
inline void predict_lanes(const ResidentView& s, long i, double t, bool source, PredictedLanes& p) {
  using Fld = ResidentFields<K>;
  const DLanes zero = dsplat(0.0);
  const DLanes tau = dsplat(t) + -load_lanes(s, Fld::kTime, i);
  const DMask full = tau <= load_lanes(s, Fld::kStep, i);
  const DMask live = load_lanes(s, Fld::kLive, i) != zero;
  for (int c = 0; c < 3; ++c) {
    DLanes sx = zero, sv = zero, sa = zero, sj = zero;
#pragma GCC unroll 16
    for (int n = 2 * K - 1; n >= 0; --n) {
      DLanes d = load_lanes(s, Fld::kDer + 3 * n + c, i);
      if (n >= K) d = full ? d : zero;
      sx = sx * tau + d * dsplat(inv_factorial(n + 2));
      sv = sv * tau + d * dsplat(inv_factorial(n + 1));
      if (K >= 3) sa = sa * tau + d * dsplat(inv_factorial(n));
      if (K >= 4 && n >= 1) sj = sj * tau + d * dsplat(inv_factorial(n - 1));
    }
    const DLanes x = load_lanes(s, Fld::kPos + c, i);
    const DLanes v = load_lanes(s, Fld::kVel + c, i);
    const DLanes xp = live ? x + tau * (v + tau * sx) : x;
    const DLanes vp = live ? v + tau * sv : v;
    // The hi part back in double behind a barrier: without it GCC folds
    // (double)(float)x to x and every lo part to 0.
    const FLanes h = __builtin_convertvector(xp, FLanes);
    DLanes hd = __builtin_convertvector(h, DLanes);
    NBF_OPAQUE_LANES(hd);
    p.hi[c] = h;
    p.lo[c] = __builtin_convertvector(xp - hd, FLanes);
    p.vel[c] = __builtin_convertvector(vp, FLanes);
    p.acc[c] = __builtin_convertvector(live ? sa : zero, FLanes);
    p.jrk[c] = __builtin_convertvector(live ? sj : zero, FLanes);
  }
  const FLanes m = __builtin_convertvector(load_lanes(s, Fld::kMass, i), FLanes);
  const FLanes none{};
  p.mass = source ? (__builtin_convertvector(live, FMask) ? m : none) : none;
}

// Quads {a[l], b[l], c[l], d[l]} of lanes l = 0 .. kDoubleLanes - 1: the
// pairs (a, b) and (c, d) interleaved, then each quad taken from the two in
// one shuffle. No vector is wider than two FLanes, so all stay registers.
typedef float PairLanes __attribute__((vector_size(2 * kDoubleLanes * sizeof(float))));
typedef float Quad __attribute__((vector_size(4 * sizeof(float))));

template <std::size_t... J>
inline PairLanes interleave(FLanes a, FLanes b, std::index_sequence<J...>) {
  return __builtin_shufflevector(a, b, (J % 2 == 0 ? J / 2 : kDoubleLanes + J / 2)...);
}

template <std::size_t... L>
inline void store_quads(FLanes a, FLanes b, FLanes c, FLanes d, char* out, std::size_t stride,
                        std::index_sequence<L...>) {
  const PairLanes ab = interleave(a, b, std::make_index_sequence<2 * kDoubleLanes>());
  const PairLanes cd = interleave(c, d, std::make_index_sequence<2 * kDoubleLanes>());
  const Quad q[] = {__builtin_shufflevector(ab, cd, 2 * L, 2 * L + 1, 2 * kDoubleLanes + 2 * L,
                                            2 * kDoubleLanes + 2 * L + 1)...};
  for (int l = 0; l < kDoubleLanes; ++l) std::memcpy(out + stride * l, &q[l], sizeof(Quad));
}

// Slots i .. i + kDoubleLanes - 1 into out[0 .. kDoubleLanes - 1], records
// as predict_record fills them. The records are rows of quads: position hi
// parts and mass, lo parts, velocity, then acceleration and jerk where the
// order has them, each with a zero fourth word.
template <int K, class Pred>
inline void predict_records_lanes(const ResidentView& s, long i, double t, bool source, Pred* out) {
  constexpr int kQuads = K >= 4 ? 5 : K >= 3 ? 4 : 3;
  static_assert(sizeof(Pred) == kQuads * 4 * sizeof(float), "predictor rows of quads");
  static_assert(
      offsetof(Pred, mass) == 12 && offsetof(Pred, posL) == 16 && offsetof(Pred, vel) == 32,
      "predictor quads");
  PredictedLanes p;
  predict_lanes<K>(s, i, t, source, p);
  const FLanes none{};
  char* rows = reinterpret_cast<char*>(out);
  const auto lanes = std::make_index_sequence<kDoubleLanes>();
  store_quads(p.hi[0], p.hi[1], p.hi[2], p.mass, rows, sizeof(Pred), lanes);
  store_quads(p.lo[0], p.lo[1], p.lo[2], none, rows + 16, sizeof(Pred), lanes);
  store_quads(p.vel[0], p.vel[1], p.vel[2], none, rows + 32, sizeof(Pred), lanes);
  if constexpr (K >= 3)
    store_quads(p.acc[0], p.acc[1], p.acc[2], none, rows + 48, sizeof(Pred), lanes);
  if constexpr (K >= 4)
    store_quads(p.jrk[0], p.jrk[1], p.jrk[2], none, rows + 64, sizeof(Pred), lanes);
}

// The same slots as the potential's records (ResidentPosm).
template <int K>
inline void predict_posm_lanes(const ResidentView& s, long i, double t, bool source, Posm* out) {
  PredictedLanes p;
  predict_lanes<K>(s, i, t, source, p);
  for (int l = 0; l < kDoubleLanes; ++l) {
    Posm r{};
    for (int c = 0; c < 3; ++c) {
      r.pos[c].x = p.hi[c][l];
      r.pos[c].y = p.lo[c][l];
    }
    r.mass = p.mass[l];
    out[l] = r;
  }
}

}  // namespace nbf

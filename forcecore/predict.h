// The Taylor predictor of resident particles, one source for the host and
// the device: a particle's double-precision state at its own time, advanced
// to the time of a force call and written into the order's Predictor record.
//
// Contract: the arithmetic is that of the integrator's predictor, operation
// for operation (Horner sums over the derivatives from the highest down,
// each product and sum rounded once, in double precision), so a record made
// here is the same bits as one the integrator predicts and fills. A particle
// whose step ends before the call's time (tau > its step) is predicted with
// its K force derivatives only, leaving out the interpolated ones, as the
// integrator does. Every operation is an explicitly rounded one on the
// device, where the compiler would otherwise fuse products into sums.
#pragma once

#include "forcecore/platform.h"
#include "nbforce_common.h"

namespace nbf {

NBF_HD double mul_rn(double a, double b) {
#if defined(__CUDA_ARCH__)
  return __dmul_rn(a, b);
#else
  return a * b;
#endif
}

NBF_HD double add_rn(double a, double b) {
#if defined(__CUDA_ARCH__)
  return __dadd_rn(a, b);
#else
  return a + b;
#endif
}

// x split into a float and the float of the rest, as nbforce_split does.
NBF_HD void split_rn(double x, float* hi, float* lo) {
#if defined(__CUDA_ARCH__)
  const float h = __double2float_rn(x);
  *hi = h;
  *lo = __double2float_rn(__dadd_rn(x, -static_cast<double>(h)));
#else
  nbforce_split(x, hi, lo);
#endif
}

// 1 / n! for n = 0 .. 9, the values the integrator's table holds.
NBF_HD double inv_factorial(int n) {
  switch (n) {
    case 0:
    case 1:
      return 1.0;
    case 2:
      return 1.0 / 2.0;
    case 3:
      return 1.0 / 6.0;
    case 4:
      return 1.0 / 24.0;
    case 5:
      return 1.0 / 120.0;
    case 6:
      return 1.0 / 720.0;
    case 7:
      return 1.0 / 5040.0;
    case 8:
      return 1.0 / 40320.0;
    default:
      return 1.0 / 362880.0;
  }
}

// The resident state: the fields of every slot in one block of doubles,
// field f of slot i at base[f * field_stride + i * slot_stride]. The store
// picks the layout (forcecore/library/resident.h).
template <int K>
struct ResidentFields {
  // Enumerators, not static data members: the host library compiles this
  // header once per instruction set, where GCC refuses inline variables.
  enum : int {
    kPos = 0,           // x, y, z
    kVel = 3,           // vx, vy, vz
    kDer = 6,           // derivative q, coordinate c: kDer + 3 q + c
    kMass = 6 + 6 * K,  // mass
    kTime = kMass + 1,  // the particle's own time
    kStep = kMass + 2,  // its step
    kLive = kMass + 3,  // 1: present, 0: removed
    kCount = kMass + 4
  };
};

struct ResidentView {
  double* base;
  long field_stride;
  long slot_stride;
  NBF_HD double at(int field, long i) const { return base[field * field_stride + i * slot_stride]; }
  NBF_HD double& ref(int field, long i) const {
    return base[field * field_stride + i * slot_stride];
  }
};

// The Taylor sums of slot i over its first ND derivatives, a time tau
// after its own time. ND is a constant, so that the sums unroll.
template <int K, int ND>
NBF_HD void predict_terms(const ResidentView& s, long i, double tau, double* xp, double* vp,
                          double* ap, double* jp) {
  using Fld = ResidentFields<K>;
  // The three coordinates side by side in the innermost loops, where the
  // compiler can put them in vector lanes; each sees the operations of the
  // scalar sums in their order.
  double sx[3] = {0.0, 0.0, 0.0}, sv[3] = {0.0, 0.0, 0.0};
  double sa[3] = {0.0, 0.0, 0.0}, sj[3] = {0.0, 0.0, 0.0};
#if defined(__CUDA_ARCH__)
#pragma unroll
#elif !defined(__CUDACC__)
#pragma GCC unroll 8
#endif
  for (int n = ND - 1; n >= 0; --n) {
    for (int c = 0; c < 3; ++c) {
      const double d = s.at(Fld::kDer + 3 * n + c, i);
      sx[c] = add_rn(mul_rn(sx[c], tau), mul_rn(d, inv_factorial(n + 2)));
      sv[c] = add_rn(mul_rn(sv[c], tau), mul_rn(d, inv_factorial(n + 1)));
      if (K >= 3) sa[c] = add_rn(mul_rn(sa[c], tau), mul_rn(d, inv_factorial(n)));
      if (K >= 4 && n >= 1) sj[c] = add_rn(mul_rn(sj[c], tau), mul_rn(d, inv_factorial(n - 1)));
    }
  }
  for (int c = 0; c < 3; ++c) {
    const double x = s.at(Fld::kPos + c, i);
    const double v = s.at(Fld::kVel + c, i);
    xp[c] = add_rn(x, mul_rn(tau, add_rn(v, mul_rn(tau, sx[c]))));
    vp[c] = add_rn(v, mul_rn(tau, sv[c]));
    if (K >= 3) ap[c] = sa[c];
    if (K >= 4) jp[c] = sj[c];
  }
}

// Slot i predicted to time t: position and velocity, and for K >= 3 the
// acceleration, for K >= 4 the jerk (the outputs of higher orders only are
// written). A removed slot stays at its stored position and velocity.
template <int K>
NBF_HD void predict_state(const ResidentView& s, long i, double t, double* xp, double* vp,
                          double* ap, double* jp) {
  using Fld = ResidentFields<K>;
  if (s.at(Fld::kLive, i) == 0.0) {
    for (int c = 0; c < 3; ++c) {
      xp[c] = s.at(Fld::kPos + c, i);
      vp[c] = s.at(Fld::kVel + c, i);
      if (K >= 3) ap[c] = 0.0;
      if (K >= 4) jp[c] = 0.0;
    }
    return;
  }
  const double tau = add_rn(t, -s.at(Fld::kTime, i));
  if (tau <= s.at(Fld::kStep, i)) {
    predict_terms<K, 2 * K>(s, i, tau, xp, vp, ap, jp);
  } else {
    predict_terms<K, K>(s, i, tau, xp, vp, ap, jp);
  }
}

// Slot i predicted to time t into a record of the order with K force
// derivatives, as the integrator fills one: `source` records carry the
// mass, i-records 0; unused words are 0. A removed slot has mass 0.
template <int K, class Pred>
NBF_HD void predict_record(const ResidentView& s, int i, double t, bool source, Pred& r) {
  using Fld = ResidentFields<K>;
  double xp[3], vp[3], ap[3], jp[3];
  predict_state<K>(s, i, t, xp, vp, ap, jp);
  r = Pred{};
  for (int c = 0; c < 3; ++c) {
    split_rn(xp[c], &r.posH[c], &r.posL[c]);
    r.vel[c] = static_cast<float>(vp[c]);
    if constexpr (K >= 3) r.acc[c] = static_cast<float>(ap[c]);
    if constexpr (K >= 4) r.jrk[c] = static_cast<float>(jp[c]);
  }
  const bool live = s.at(Fld::kLive, i) != 0.0;
  r.mass = source && live ? static_cast<float>(s.at(Fld::kMass, i)) : 0.0f;
}

}  // namespace nbf

// Eighth order: the device record of a partial force and the pair step for
// acceleration, jerk, snap and crackle.
#pragma once

#include <cstddef>

#include "forcecore/ds.h"
#include "forcecore/order_records.h"
#include "forcecore/pair_geometry.h"
#include "nbforce8.h"
#include "nbforce_common.h"

// Partial or reduced force on the device, 64 bytes; the last word carries no
// data and is zero.
struct __attribute__((aligned(16))) Force_dev {
  float2 acc[3];  // double-single
  float jrk[3];
  float snp[3];
  float crk[3];
  float unused;
};

static_assert(sizeof(Predictor) == 80 && alignof(Predictor) == 16, "Predictor layout");
static_assert(offsetof(Predictor, mass) == 12 && offsetof(Predictor, posL) == 16 &&
                  offsetof(Predictor, vel) == 32 && offsetof(Predictor, acc) == 48 &&
                  offsetof(Predictor, jrk) == 64,
              "Predictor layout");
static_assert(sizeof(Force_dev) == 64 && alignof(Force_dev) == 16, "Force_dev layout");
static_assert(offsetof(Force_dev, jrk) == 24 && offsetof(Force_dev, snp) == 36 &&
                  offsetof(Force_dev, crk) == 48 && offsetof(Force_dev, unused) == 60,
              "Force_dev layout");
static_assert(sizeof(Force) == 96 && offsetof(Force, jrk) == 24 && offsetof(Force, snp) == 48 &&
                  offsetof(Force, crk) == 72,
              "Force layout");

namespace nbf {

struct Order8 {
  enum : int { kDerivs = 4 };  // force derivatives of the integrator: K
  using Predictor = ::Predictor;
  using ForceDev = ::Force_dev;
  using Force = ::Force;

  // The fields of the pair step's particle and sums, listed once.
#define NBF_ORDER8_BODY(X) X(posH) X(posL) X(vel) X(acc) X(jrk)
#define NBF_ORDER8_SUMS(X) X(jrk) X(snp) X(crk)
  NBF_ORDER_RECORDS(NBF_ORDER8_BODY, NBF_ORDER8_SUMS)
#undef NBF_ORDER8_BODY
#undef NBF_ORDER8_SUMS

  // j acting on i. With d, dv, da, dj the relative position, velocity,
  // acceleration and jerk, r^2 = d.d + eps2, alpha = d.dv / r^2,
  // beta = (dv.dv + d.da) / r^2 + alpha^2 and
  // gamma = (3 dv.da + d.dj) / r^2 + alpha (3 beta - 4 alpha^2):
  //   acc = m d / r^3, jrk = m dv / r^3 - 3 alpha acc,
  //   snp = m da / r^3 - 6 alpha jrk - 3 beta acc,
  //   crk = m dj / r^3 - 9 alpha snp - 9 beta jrk - 3 gamma acc.
  // Each line is one rounded operation; which products are fused is fixed.
  // A pair with d = dv = da = dj = 0 (a particle meeting itself) adds exact
  // zeros.
  template <class F>
  NBF_DEV static void h8_interaction(const Body<F>& i, const Body<F>& j, F eps2, Acc<F>& fo) {
    const PairGeometry<F> g = pair_geometry(i, j, eps2);
    const F* d = g.d;
    const F* dv = g.dv;
    const F rinv2 = g.rinv2;
    const F mrinv3 = g.mrinv3;
    F da[3], dj[3];
    for (int c = 0; c < 3; ++c) {
      da[c] = j.acc[c] - i.acc[c];
      dj[c] = j.jrk[c] - i.jrk[c];
    }
    const F ra = dot_yxz(d, da);
    const F vv = dot_yxz(dv, dv);
    const F rj = dot_yxz(d, dj);
    const F va = dot_yxz(dv, da);
    const F alpha = g.rv * rinv2;
    const F alpha2 = alpha * alpha;
    const F beta = fma_rn(rinv2, ra + vv, alpha2);
    const F three = splat<F>(3.0f);
    const F gamma = fma_rn(rinv2, fma_rn(three, va, rj), alpha * ((3.0f * beta) - (alpha2 * 4.0f)));
    const F a3 = alpha * -3.0f;
    const F a6 = alpha * -6.0f;
    const F a9 = alpha * -9.0f;
    const F b3 = beta * -3.0f;
    const F b9 = beta * -9.0f;
    const F g3 = gamma * -3.0f;
    for (int c = 0; c < 3; ++c) {
      const F a = mrinv3 * d[c];
      const F jk = fma_rn(dv[c], mrinv3, a * a3);
      const F s = fma_rn(a, b3, fma_rn(da[c], mrinv3, a6 * jk));
      const F k = fma_rn(a, g3, fma_rn(jk, b9, fma_rn(dj[c], mrinv3, a9 * s)));
      ds_accumulate(fo.acc[c], a);
      fo.jrk[c] = fo.jrk[c] + jk;
      fo.snp[c] = fo.snp[c] + s;
      fo.crk[c] = fo.crk[c] + k;
    }
  }
  template <class F>
  NBF_DEV static void interaction(const Body<F>& i, const Body<F>& j, F eps2, Acc<F>& fo) {
    h8_interaction(i, j, eps2, fo);
  }
};

}  // namespace nbf

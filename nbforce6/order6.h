// Sixth order: the device record of a partial force and the pair step for
// acceleration, jerk and snap.
#pragma once

#include <cstddef>

#include "forcecore/ds.h"
#include "forcecore/order_records.h"
#include "forcecore/pair_geometry.h"
#include "nbforce6.h"
#include "nbforce_common.h"

// Partial or reduced force on the device, 48 bytes, every word used.
struct __attribute__((aligned(16))) Force_dev {
  float2 acc[3];  // double-single
  float jrk[3];
  float snp[3];
};

static_assert(sizeof(Predictor) == 64 && alignof(Predictor) == 16, "Predictor layout");
static_assert(offsetof(Predictor, mass) == 12 && offsetof(Predictor, posL) == 16 &&
                  offsetof(Predictor, vel) == 32 && offsetof(Predictor, acc) == 48,
              "Predictor layout");
static_assert(sizeof(Force_dev) == 48 && alignof(Force_dev) == 16, "Force_dev layout");
static_assert(offsetof(Force_dev, jrk) == 24 && offsetof(Force_dev, snp) == 36, "Force_dev layout");
static_assert(sizeof(Force) == 72 && offsetof(Force, jrk) == 24 && offsetof(Force, snp) == 48,
              "Force layout");

namespace nbf {

struct Order6 {
  enum : int { kDerivs = 3 };  // force derivatives of the integrator: K
  using Predictor = ::Predictor;
  using ForceDev = ::Force_dev;
  using Force = ::Force;

  // The fields of the pair step's particle and sums, listed once.
#define NBF_ORDER6_BODY(X) X(posH) X(posL) X(vel) X(acc)
#define NBF_ORDER6_SUMS(X) X(jrk) X(snp)
  NBF_ORDER_RECORDS(NBF_ORDER6_BODY, NBF_ORDER6_SUMS)
#undef NBF_ORDER6_BODY
#undef NBF_ORDER6_SUMS

  // j acting on i. With d, dv, da the relative position, velocity and
  // acceleration, r^2 = d.d + eps2, alpha = d.dv / r^2 and
  // beta = (dv.dv + d.da) / r^2 + alpha^2:
  //   acc = m d / r^3, jrk = m dv / r^3 - 3 alpha acc,
  //   snp = m da / r^3 - 6 alpha jrk - 3 beta acc.
  // Each line is one rounded operation; which products are fused is fixed.
  // A pair with d = dv = da = 0 (a particle meeting itself) adds exact zeros.
  template <class F>
  NBF_DEV static void h6_interaction(const Body<F>& i, const Body<F>& j, F eps2, Acc<F>& fo) {
    const PairGeometry<F> g = pair_geometry(i, j, eps2);
    const F* d = g.d;
    const F* dv = g.dv;
    const F mrinv3 = g.mrinv3;
    F da[3];
    for (int c = 0; c < 3; ++c) da[c] = j.acc[c] - i.acc[c];
    const F ra = dot_yxz(d, da);
    const F vv = dot_yxz(dv, dv);
    const F alpha = g.rv * g.rinv2;
    const F alpha2 = alpha * alpha;
    const F beta = fma_rn(g.rinv2, ra + vv, alpha2);
    const F a3 = alpha * -3.0f;
    const F a6 = alpha * -6.0f;
    const F b3 = beta * -3.0f;
    for (int c = 0; c < 3; ++c) {
      const F a = mrinv3 * d[c];
      const F jk = fma_rn(dv[c], mrinv3, a * a3);
      const F s = fma_rn(a, b3, fma_rn(da[c], mrinv3, a6 * jk));
      ds_accumulate(fo.acc[c], a);
      fo.jrk[c] = fo.jrk[c] + jk;
      fo.snp[c] = fo.snp[c] + s;
    }
  }
  template <class F>
  NBF_DEV static void interaction(const Body<F>& i, const Body<F>& j, F eps2, Acc<F>& fo) {
    h6_interaction(i, j, eps2, fo);
  }
};

}  // namespace nbf

// Fourth order: the device record of a partial force and the pair step for
// acceleration and jerk.
#pragma once

#include <cstddef>

#include "forcecore/ds.h"
#include "forcecore/order_records.h"
#include "forcecore/pair_geometry.h"
#include "nbforce4.h"
#include "nbforce_common.h"

// Partial or reduced force on the device, 48 bytes.
struct __attribute__((aligned(16))) Force_dev {
  float2 acc[3];  // double-single
  float jrk[3];
  float unused[3];  // zero
};

static_assert(sizeof(Predictor) == 48 && alignof(Predictor) == 16, "Predictor layout");
static_assert(offsetof(Predictor, mass) == 12 && offsetof(Predictor, posL) == 16 &&
                  offsetof(Predictor, vel) == 32,
              "Predictor layout");
static_assert(sizeof(Force_dev) == 48 && offsetof(Force_dev, jrk) == 24, "Force_dev layout");
static_assert(sizeof(Force) == 48 && offsetof(Force, jrk) == 24, "Force layout");

namespace nbf {

struct Order4 {
  enum : int { kDerivs = 2 };  // force derivatives of the integrator: K
  using Predictor = ::Predictor;
  using ForceDev = ::Force_dev;
  using Force = ::Force;

  // The fields of the pair step's particle and sums, listed once.
#define NBF_ORDER4_BODY(X) X(posH) X(posL) X(vel)
#define NBF_ORDER4_SUMS(X) X(jrk)
  NBF_ORDER_RECORDS(NBF_ORDER4_BODY, NBF_ORDER4_SUMS)
#undef NBF_ORDER4_BODY
#undef NBF_ORDER4_SUMS

  // j acting on i: acc += m d / r^3, jrk += m v / r^3 - 3 (d.v) d m / r^5.
  template <class F>
  NBF_DEV static void h4_interaction(const Body<F>& i, const Body<F>& j, F eps2, Acc<F>& fo) {
    const PairGeometry<F> g = pair_geometry(i, j, eps2);
    const F alpha = g.rv * g.rinv2;
    const F a3 = alpha * -3.0f;
    for (int c = 0; c < 3; ++c) {
      const F a = g.mrinv3 * g.d[c];
      ds_accumulate(fo.acc[c], a);
      fo.jrk[c] = fo.jrk[c] + fma_rn(g.dv[c], g.mrinv3, a * a3);
    }
  }
  template <class F>
  NBF_DEV static void interaction(const Body<F>& i, const Body<F>& j, F eps2, Acc<F>& fo) {
    h4_interaction(i, j, eps2, fo);
  }
};

}  // namespace nbf

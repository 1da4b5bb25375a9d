// Sixth order: the device record of a partial force and the pair step for
// acceleration, jerk and snap.
#pragma once

#include <cstddef>

#include "forcecore/ds.h"
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
  using Predictor = ::Predictor;
  using ForceDev = ::Force_dev;
  using Force = ::Force;

  template <class F>
  struct Body {
    F posH[3];
    F posL[3];
    F vel[3];
    F acc[3];
    F mass;
  };
  template <class F>
  struct Acc {
    DsPair<F> acc[3];
    F jrk[3];
    F snp[3];
  };

  template <class F>
  NBF_DEV static Body<F> load(const Predictor& p) {
    Body<F> b;
    for (int c = 0; c < 3; ++c) {
      b.posH[c] = splat<F>(p.posH[c]);
      b.posL[c] = splat<F>(p.posL[c]);
      b.vel[c] = splat<F>(p.vel[c]);
      b.acc[c] = splat<F>(p.acc[c]);
    }
    b.mass = splat<F>(p.mass);
    return b;
  }

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

  NBF_DEV static void store(const Acc<float>& a, ForceDev& r) {
    for (int c = 0; c < 3; ++c) {
      r.acc[c].x = a.acc[c].x;
      r.acc[c].y = a.acc[c].y;
      r.jrk[c] = a.jrk[c];
      r.snp[c] = a.snp[c];
    }
  }

  // a += b, axis by axis: the double-single acceleration, then jerk and snap.
  // R and S are ForceDev or a lane form with the same members (Acc<Lanes>).
  template <class R, class S>
  NBF_DEV static void add(R& a, const S& b) {
    for (int c = 0; c < 3; ++c) {
      ds_add(a.acc[c], b.acc[c]);
      a.jrk[c] = a.jrk[c] + b.jrk[c];
      a.snp[c] = a.snp[c] + b.snp[c];
    }
  }

  // The four reduced records leave as 48 consecutive words, one per thread.
  template <class B>
  NBF_DEV static void write_reduced(B& blk, const ForceDev* rec, ForceDev* out) {
    const float* from = reinterpret_cast<const float*>(rec);
    float* to = reinterpret_cast<float*>(out);
    blk.each([&](int t) {
      if (t < 48) to[t] = from[t];
    });
  }

  static void to_force(const ForceDev& s, Force& d) {
    for (int c = 0; c < 3; ++c) {
      d.acc[c] = ds_to_double(s.acc[c]);
      d.jrk[c] = static_cast<double>(s.jrk[c]);
      d.snp[c] = static_cast<double>(s.snp[c]);
    }
  }
};

}  // namespace nbf

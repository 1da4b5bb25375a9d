// Eighth order: the device record of a partial force and the pair step for
// acceleration, jerk, snap and crackle.
#pragma once

#include <cstddef>

#include "forcecore/ds.h"
#include "forcecore/pair_geometry.h"
#include "nbforce8.h"
#include "nbforce_common.h"

// Partial or reduced force on the device, 64 bytes; the last word carries no
// data.
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
  using Predictor = ::Predictor;
  using ForceDev = ::Force_dev;
  using Force = ::Force;

  template <class F>
  struct Body {
    F posH[3];
    F posL[3];
    F vel[3];
    F acc[3];
    F jrk[3];
    F mass;
  };
  template <class F>
  struct Acc {
    DsPair<F> acc[3];
    F jrk[3];
    F snp[3];
    F crk[3];
  };

  template <class F>
  NBF_DEV static Body<F> load(const Predictor& p) {
    Body<F> b;
    for (int c = 0; c < 3; ++c) {
      b.posH[c] = splat<F>(p.posH[c]);
      b.posL[c] = splat<F>(p.posL[c]);
      b.vel[c] = splat<F>(p.vel[c]);
      b.acc[c] = splat<F>(p.acc[c]);
      b.jrk[c] = splat<F>(p.jrk[c]);
    }
    b.mass = splat<F>(p.mass);
    return b;
  }

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

  // The spare word is set to zero, so that every stored and reduced record
  // is fully defined.
  NBF_DEV static void store(const Acc<float>& a, ForceDev& r) {
    for (int c = 0; c < 3; ++c) {
      r.acc[c].x = a.acc[c].x;
      r.acc[c].y = a.acc[c].y;
      r.jrk[c] = a.jrk[c];
      r.snp[c] = a.snp[c];
      r.crk[c] = a.crk[c];
    }
    r.unused = 0.0f;
  }

  // a += b over the data words, axis by axis; the spare word of a keeps what
  // it held.
  // R and S are ForceDev or a lane form with the same members (Acc<Lanes>).
  template <class R, class S>
  NBF_DEV static void add(R& a, const S& b) {
    for (int c = 0; c < 3; ++c) {
      ds_add(a.acc[c], b.acc[c]);
      a.jrk[c] = a.jrk[c] + b.jrk[c];
      a.snp[c] = a.snp[c] + b.snp[c];
      a.crk[c] = a.crk[c] + b.crk[c];
    }
  }

  // The four reduced records leave whole, one per thread.
  template <class B>
  NBF_DEV static void write_reduced(B& blk, const ForceDev* rec, ForceDev* out) {
    blk.each([&](int t) {
      if (t < 4) out[t] = rec[t];
    });
  }

  static void to_force(const ForceDev& s, Force& d) {
    for (int c = 0; c < 3; ++c) {
      d.acc[c] = ds_to_double(s.acc[c]);
      d.jrk[c] = static_cast<double>(s.jrk[c]);
      d.snp[c] = static_cast<double>(s.snp[c]);
      d.crk[c] = static_cast<double>(s.crk[c]);
    }
  }
};

}  // namespace nbf

// Fourth order: the device record of a partial force and the pair step for
// acceleration and jerk.
#pragma once

#include <cstddef>

#include "forcecore/ds.h"
#include "forcecore/pair_geometry.h"
#include "nbforce4.h"
#include "nbforce_common.h"

// Partial or reduced force on the device, 48 bytes.
struct __attribute__((aligned(16))) Force_dev {
  float2 acc[3];  // double-single
  float jrk[3];
  float unused[3];  // never given a value
};

static_assert(sizeof(Predictor) == 48 && alignof(Predictor) == 16, "Predictor layout");
static_assert(offsetof(Predictor, mass) == 12 && offsetof(Predictor, posL) == 16 &&
                  offsetof(Predictor, vel) == 32,
              "Predictor layout");
static_assert(sizeof(Force_dev) == 48 && offsetof(Force_dev, jrk) == 24, "Force_dev layout");
static_assert(sizeof(Force) == 48 && offsetof(Force, jrk) == 24, "Force layout");

namespace nbf {

struct Order4 {
  using Predictor = ::Predictor;
  using ForceDev = ::Force_dev;
  using Force = ::Force;

  template <class F>
  struct Body {
    F posH[3];
    F posL[3];
    F vel[3];
    F mass;
  };
  template <class F>
  struct Acc {
    DsPair<F> acc[3];
    F jrk[3];
  };

  template <class F>
  NBF_DEV static Body<F> load(const Predictor& p) {
    Body<F> b;
    for (int c = 0; c < 3; ++c) {
      b.posH[c] = splat<F>(p.posH[c]);
      b.posL[c] = splat<F>(p.posL[c]);
      b.vel[c] = splat<F>(p.vel[c]);
    }
    b.mass = splat<F>(p.mass);
    return b;
  }

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

  NBF_DEV static void store(const Acc<float>& a, ForceDev& r) {
    for (int c = 0; c < 3; ++c) {
      r.acc[c].x = a.acc[c].x;
      r.acc[c].y = a.acc[c].y;
      r.jrk[c] = a.jrk[c];
    }
  }

  // a += b over the data words; the unused words of a keep what they held.
  // R and S are ForceDev or a lane form with the same members (Acc<Lanes>).
  template <class R, class S>
  NBF_DEV static void add(R& a, const S& b) {
    for (int c = 0; c < 3; ++c) {
      ds_add(a.acc[c], b.acc[c]);
      a.jrk[c] = a.jrk[c] + b.jrk[c];
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
    }
  }
};

}  // namespace nbf

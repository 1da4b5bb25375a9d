// What the pair step of every order starts from: j seen from i, and the
// powers of the softened distance.
#pragma once

#include "forcecore/ds.h"

namespace nbf {

template <class F>
struct PairGeometry {
  F d[3];    // x_j - x_i, from the double-single positions
  F dv[3];   // v_j - v_i
  F rinv2;   // 1 / (d.d + eps2)
  F mrinv3;  // m_j / (d.d + eps2)^(3/2)
  F rv;      // d.dv
};

// a.b as the kernels form dot products: the y product rounded first, then
// the x and z terms fused onto it.
template <class F>
NBF_DEV F dot_yxz(const F* a, const F* b) {
  return fma_rn(a[2], b[2], fma_rn(a[0], b[0], a[1] * b[1]));
}

// The softening enters r^2 first; 1/r is the approximate reciprocal square
// root. A particle meeting itself gives d = dv = 0 and, with eps2 > 0, finite
// powers, so every term built from d and dv is exactly zero.
template <class F, class Body>
NBF_DEV PairGeometry<F> pair_geometry(const Body& i, const Body& j, F eps2) {
  PairGeometry<F> g;
  for (int c = 0; c < 3; ++c) {
    g.d[c] = ds_diff(j.posH[c], j.posL[c], i.posH[c], i.posL[c]);
    g.dv[c] = j.vel[c] - i.vel[c];
  }
  const F r2 = fma_rn(g.d[2], g.d[2], fma_rn(g.d[1], g.d[1], fma_rn(g.d[0], g.d[0], eps2)));
  const F rinv = rsqrt_approx(r2);
  const F mrinv = j.mass * rinv;
  g.rinv2 = rinv * rinv;
  g.mrinv3 = g.rinv2 * mrinv;
  g.rv = dot_yxz(g.d, g.dv);
  return g;
}

}  // namespace nbf

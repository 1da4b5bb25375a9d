// An order's pair step that leaves out a source at the target's own
// position, for forces without softening (eps2 == 0), where the particle
// meeting itself would give 0 / 0.
//
// Contract: a pair whose softened r^2 is not above eps2 (with eps2 == 0: a
// source at exactly the target's double-single position, the target itself
// above all) adds nothing; every other pair adds exactly what the order's own
// step adds, so sums without such pairs are the bits of the plain kernel.
// The step runs on a copy of the sums and keeps it or not word by word.
#pragma once

#include "forcecore/ds.h"

namespace nbf {

template <class O>
struct SelfExcluded : O {
  template <class F>
  using Body = typename O::template Body<F>;
  template <class F>
  using Acc = typename O::template Acc<F>;

  template <class F>
  NBF_DEV static void interaction(const Body<F>& i, const Body<F>& j, F eps2, Acc<F>& fo) {
    const F dx = ds_diff(j.posH[0], j.posL[0], i.posH[0], i.posL[0]);
    const F dy = ds_diff(j.posH[1], j.posL[1], i.posH[1], i.posL[1]);
    const F dz = ds_diff(j.posH[2], j.posL[2], i.posH[2], i.posL[2]);
    const F r2 = fma_rn(dz, dz, fma_rn(dy, dy, fma_rn(dx, dx, eps2)));
    const auto keep = r2 > eps2;
    Acc<F> next = fo;
    O::interaction(i, j, eps2, next);
    static_assert(sizeof(Acc<F>) % sizeof(F) == 0, "sums of whole words");
    F* to = reinterpret_cast<F*>(&fo);
    const F* from = reinterpret_cast<const F*>(&next);
    for (unsigned w = 0; w < sizeof(Acc<F>) / sizeof(F); ++w) to[w] = select(keep, from[w], to[w]);
  }
};

}  // namespace nbf

// The three kernels every library runs, written once as block-level code.
//
// A kernel body is a function template over a block context B, whose
// members and their rules are stated in block_context.h: on the device a
// context is one thread, on the host the whole block. The pair step is the
// order's interaction Term (nbforce4/order4.h, ...).
#pragma once

#include <cstddef>

#include "forcecore/block_context.h"
#include "forcecore/ds.h"
#include "forcecore/split.h"

namespace nbf {

// Gravity of one i-block (grid x) and one j-slice (grid y): partial forces
// into column `by` of the rows of `force`.
template <class O, class B>
NBF_DEV void gravity_block(B& blk, int ni, int nj, const typename O::Predictor* ipred,
                           const typename O::Predictor* jpred, typename O::ForceDev* force,
                           float eps2) {
  using Pred = typename O::Predictor;
  using Rec = typename O::ForceDev;
  static_assert(sizeof(Pred) % 16 == 0 && sizeof(Rec) <= sizeof(Pred), "record sizes");
  unsigned char* share = blk.template shared<NTHREAD * sizeof(Pred)>();
  const int bx = blk.block_x();
  const int by = blk.block_y();
  const Split sp = split_for(ni - bx * NTHREAD);

  typename B::template Local<typename O::template Body<float>> me;
  typename B::template Local<typename O::template Acc<float>> fo;
  blk.each_live(sp, [&](int t) {
    fo[t] = {};
    me[t] = O::template load<float>(ipred[bx * NTHREAD + sp.ioff(t)]);
  });

  int js, je;
  slice_bounds(by, nj, js, je);
  const Pred* tile = reinterpret_cast<const Pred*>(share);
  for (int left = je - js, base = js; left > 0; left -= NTHREAD, base += NTHREAD) {
    blk.sync();
    blk.copy_units(share, jpred + base, NTHREAD * static_cast<int>(sizeof(Pred)) / 16);
    blk.sync();
    blk.template pair_tile<O>(sp, left < NTHREAD ? left : NTHREAD, me, fo, tile, eps2);
  }

  // The tile's bytes now hold one record per thread; merge the threads that
  // shared an i-particle, halving the distance down to ni_block.
  // Records of threads past the pass merge only with records of the same
  // i-particle (the distances are multiples of ni_block) and are never
  // written, so those threads may be left out.
  blk.sync_rewrite();
  Rec* rec = reinterpret_cast<Rec*>(share);
  blk.each_live(sp, [&](int t) { O::store(fo[t], rec[t]); });
  blk.sync();
  for (int d = NTHREAD / 2; d >= sp.ni_block; d /= 2) {
    blk.each_live(sp, [&](int t) {
      if (t < d) O::add(rec[t], rec[t + d]);
    });
    blk.sync();
  }
  blk.each_live(sp, [&](int t) {
    if (t < sp.rem) force[static_cast<long>(bx * NTHREAD + t) * NSLICE + by] = rec[t];
  });
}

// Sums the NSLICE partial records of four rows of `fo_dev` into four records
// of `fo_reduce`: one thread per partial record, a five-step tree inside each
// group of 32.
template <class O, class B>
NBF_DEV void reduce_block(B& blk, const typename O::ForceDev* fo_dev,
                          typename O::ForceDev* fo_reduce) {
  using Rec = typename O::ForceDev;
  constexpr int kRows = NTHREAD / NSLICE;
  Rec* rec = reinterpret_cast<Rec*>(blk.template shared<NTHREAD * sizeof(Rec)>());
  const long row = static_cast<long>(blk.block_x()) * kRows;
  blk.copy_units(rec, fo_dev + row * NSLICE, NTHREAD * static_cast<int>(sizeof(Rec)) / 16);
  blk.sync();
  // Lanes below h write, only records at h or above are read: no step reads
  // what another thread of the same step writes.
  for (int h = NSLICE / 2; h >= 1; h /= 2) {
    blk.each([&](int t) {
      if (t % NSLICE < h) O::add(rec[t], rec[t + h]);
    });
    blk.sync_group();
  }
  blk.sync();
  blk.each([&](int t) {
    if (t % NSLICE == 0) rec[t / NSLICE] = rec[t];
  });
  blk.sync();
  // The kRows reduced records leave as consecutive 4-byte words, one per
  // thread.
  constexpr int kWords = kRows * static_cast<int>(sizeof(Rec) / sizeof(float));
  static_assert(sizeof(Rec) % sizeof(float) == 0 && kWords <= NTHREAD, "reduced words");
  const float* from = reinterpret_cast<const float*>(rec);
  float* to = reinterpret_cast<float*>(fo_reduce + row);
  blk.each([&](int t) {
    if (t < kWords) to[t] = from[t];
  });
}

static_assert(sizeof(Posm) == 32 && offsetof(Posm, mass) == 24, "Posm layout");

// The potential's pair step: source j acting on target i.
struct PotTerm {
  using Predictor = Posm;
  template <class F>
  struct Body {
    F hi[3];
    F lo[3];
    F mass;
  };
  template <class F>
  struct Acc {
    DsPair<F> sum;
  };
  template <class F>
  NBF_DEV static Body<F> load(const Posm& p) {
    Body<F> b;
    for (int c = 0; c < 3; ++c) {
      b.hi[c] = splat<F>(p.pos[c].x);
      b.lo[c] = splat<F>(p.pos[c].y);
    }
    b.mass = splat<F>(p.mass);
    return b;
  }
  // A source at the target's own position gives r2 == eps2 exactly and is
  // left out, which also keeps r2 == 0 out of the sum when eps2 is 0.
  template <class F>
  NBF_DEV static void interaction(const Body<F>& i, const Body<F>& j, F eps2, Acc<F>& a) {
    const F dx = ds_diff(j.hi[0], j.lo[0], i.hi[0], i.lo[0]);
    const F dy = ds_diff(j.hi[1], j.lo[1], i.hi[1], i.lo[1]);
    const F dz = ds_diff(j.hi[2], j.lo[2], i.hi[2], i.lo[2]);
    const F r2 = fma_rn(dz, dz, fma_rn(dy, dy, fma_rn(dx, dx, eps2)));
    const F term = j.mass * rsqrt_approx(r2);
    DsPair<F> next = a.sum;
    ds_accumulate(next, term);
    const auto keep = r2 > eps2;
    a.sum.x = select(keep, next.x, a.sum.x);
    a.sum.y = select(keep, next.y, a.sum.y);
  }
};

// Potential sums of one block of 128 targets over the sources [js, je).
template <class B>
NBF_DEV void pot_block(B& blk, int js, int je, float eps2, const Posm* posm, float2* pot) {
  Posm* share = reinterpret_cast<Posm*>(blk.template shared<NTHREAD * sizeof(Posm)>());
  const long base = static_cast<long>(blk.block_x()) * NTHREAD;
  typename B::template Local<PotTerm::Body<float>> me;
  typename B::template Local<PotTerm::Acc<float>> acc;
  blk.each([&](int t) {
    acc[t] = {};
    me[t] = PotTerm::load<float>(posm[base + t]);
  });
  const Split one_each = split_for(NTHREAD);
  for (long j0 = js; j0 < je; j0 += NTHREAD) {
    blk.sync();
    blk.copy_units(share, posm + j0, NTHREAD * static_cast<int>(sizeof(Posm)) / 16);
    blk.sync();
    const int lim = je - j0 < NTHREAD ? static_cast<int>(je - j0) : NTHREAD;
    blk.template pair_tile<PotTerm>(one_each, lim, me, acc, share, eps2);
  }
  blk.each([&](int t) {
    pot[base + t].x = acc[t].sum.x;
    pot[base + t].y = acc[t].sum.y;
  });
}

}  // namespace nbf

// The host's block context: one call of a kernel body runs all 128 threads
// of a block, each phase between two barriers as a loop over the threads.
// The pair phase, where the time goes, runs kLanes threads per vector with
// their state in registers; the per-thread order of operations is that of
// the scalar code, so the bits do not depend on how threads are grouped.
#pragma once

#include <cstring>

#include "forcecore/lanes.h"
#include "forcecore/split.h"

namespace nbf {

inline constexpr unsigned kMaxSharedBytes = 10240;

// A per-thread variable: one slot per thread of the block.
template <class T>
struct Many {
  T v[NTHREAD];
  T& operator[](int t) { return v[t]; }
  const T& operator[](int t) const { return v[t]; }
};

// Word-wise views between a record of floats and the same record of lanes.
template <class S>
constexpr int word_count() {
  return static_cast<int>(sizeof(S) / sizeof(float));
}

template <class SL, class SF>
inline void put_lane(SL& lanes, int lane, const SF& one) {
  static_assert(sizeof(SL) == word_count<SF>() * sizeof(Lanes), "lane record layout");
  const float* w = reinterpret_cast<const float*>(&one);
  Lanes* lw = reinterpret_cast<Lanes*>(&lanes);
  for (int i = 0; i < word_count<SF>(); ++i) lw[i][lane] = w[i];
}

template <class SF, class SL>
inline void get_lane(SF& one, int lane, const SL& lanes) {
  static_assert(sizeof(SL) == word_count<SF>() * sizeof(Lanes), "lane record layout");
  float* w = reinterpret_cast<float*>(&one);
  const Lanes* lw = reinterpret_cast<const Lanes*>(&lanes);
  for (int i = 0; i < word_count<SF>(); ++i) w[i] = lw[i][lane];
}

template <class SL>
inline void select_lanes(LaneMask keep, SL& acc, const SL& next) {
  Lanes* a = reinterpret_cast<Lanes*>(&acc);
  const Lanes* n = reinterpret_cast<const Lanes*>(&next);
  for (unsigned i = 0; i < sizeof(SL) / sizeof(Lanes); ++i) a[i] = select(keep, n[i], a[i]);
}

struct HostBlock {
  template <class T>
  using Local = Many<T>;

  int bx = 0;
  int by = 0;
  bool reversed = false;  // run the threads of every phase in reverse order
  bool plain = false;     // run the pair phase one thread at a time
  unsigned char* share = nullptr;

  int block_x() const { return bx; }
  int block_y() const { return by; }

  template <unsigned Bytes>
  unsigned char* shared() {
    static_assert(Bytes <= kMaxSharedBytes, "shared array too large");
    return share;
  }

  template <class Fn>
  void each(Fn fn) {
    if (reversed) {
      for (int t = NTHREAD - 1; t >= 0; --t) fn(t);
    } else {
      for (int t = 0; t < NTHREAD; ++t) fn(t);
    }
  }
  // Each phase runs to completion before the next starts: the barriers are
  // implicit.
  void sync() {}
  void sync_group() {}
  void copy_units(void* dst, const void* src, int units) {
    std::memcpy(dst, src, static_cast<std::size_t>(units) * 16);
  }

  template <class Term, class Body, class Acc>
  void pair_tile(const Split& sp, int lim, Many<Body>& me, Many<Acc>& fo,
                 const typename Term::Predictor* tile, float eps2);
};

// Threads whose i lies past the pass skip the pair work (their sums stay
// zero and are never written). The others are grouped so that the lanes of
// a vector share their tile records where possible: consecutive threads when
// a vector fits in one j-share, else the threads of one i-particle.
inline int pair_thread_order(const Split& sp, bool reversed, int* order) {
  const int active_i = sp.rem < sp.ni_block ? sp.rem : sp.ni_block;
  int n = 0;
  if (sp.ni_block >= kLanes) {
    for (int t = 0; t < NTHREAD; ++t)
      if (sp.ioff(t) < active_i) order[n++] = t;
  } else {
    for (int i = 0; i < active_i; ++i)
      for (int g = 0; g < sp.jsplit; ++g) order[n++] = i + g * sp.ni_block;
  }
  if (reversed)
    for (int a = 0, b = n - 1; a < b; ++a, --b) {
      const int x = order[a];
      order[a] = order[b];
      order[b] = x;
    }
  return n;
}

template <class Term, class Body, class Acc>
void HostBlock::pair_tile(const Split& sp, int lim, Many<Body>& me, Many<Acc>& fo,
                          const typename Term::Predictor* tile, float eps2) {
  using BodyL = typename Term::template Body<Lanes>;
  using AccL = typename Term::template Acc<Lanes>;
  int order[NTHREAD];
  const int n = pair_thread_order(sp, reversed, order);

  if (plain) {
    for (int a = 0; a < n; ++a) {
      const int t = order[a];
      for (int k = sp.joff(t); k < lim; k += sp.jsplit)
        Term::interaction(me[t], Term::template load<float>(tile[k]), eps2, fo[t]);
    }
    return;
  }

  const Lanes eps = splat<Lanes>(eps2);
  for (int g = 0; g < n; g += kLanes) {
    // Lanes beyond the last thread repeat it; their results are dropped.
    int lane_t[kLanes];
    for (int l = 0; l < kLanes; ++l) lane_t[l] = order[g + l < n ? g + l : n - 1];
    BodyL gathered_i;
    AccL gathered_acc;
    bool uniform = true;
    for (int l = 0; l < kLanes; ++l) {
      put_lane(gathered_i, l, me[lane_t[l]]);
      put_lane(gathered_acc, l, fo[lane_t[l]]);
      uniform = uniform && sp.joff(lane_t[l]) == sp.joff(lane_t[0]);
    }
    const BodyL i = gathered_i;
    AccL acc = gathered_acc;
    if (uniform) {
      // Every lane reads the same record: one broadcast per field.
      for (int k = sp.joff(lane_t[0]); k < lim; k += sp.jsplit)
        Term::interaction(i, Term::template load<Lanes>(tile[k]), eps, acc);
    } else {
      for (int step = 0;; ++step) {
        LaneMask live;
        BodyL j;
        bool any = false;
        for (int l = 0; l < kLanes; ++l) {
          const int k = sp.joff(lane_t[l]) + step * sp.jsplit;
          live[l] = k < lim ? -1 : 0;
          any = any || k < lim;
          put_lane(j, l, Term::template load<float>(tile[k < lim ? k : 0]));
        }
        if (!any) break;
        AccL next = acc;
        Term::interaction(i, j, eps, next);
        select_lanes(live, acc, next);
      }
    }
    const AccL result = acc;
    const int used = n - g < kLanes ? n - g : kLanes;
    for (int l = 0; l < used; ++l) get_lane(fo[lane_t[l]], l, result);
  }
}

}  // namespace nbf

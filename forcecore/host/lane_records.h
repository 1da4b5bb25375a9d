// Records of floats seen as records of lane vectors: one slot per emulated
// thread, and the word-wise moves between a thread's record and its lane of
// the vector record.
#pragma once

#include "forcecore/host/lanes.h"
#include "nbforce_common.h"

namespace nbf {

// A per-thread variable: one slot per thread of the block.
template <class T>
struct Many {
  T v[NTHREAD];
  T& operator[](int t) { return v[t]; }
  const T& operator[](int t) const { return v[t]; }
};

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

// acc = next in the lanes that keep is set for, word by word.
template <class SL>
inline void select_lanes(LaneMask keep, SL& acc, const SL& next) {
  Lanes* a = reinterpret_cast<Lanes*>(&acc);
  const Lanes* n = reinterpret_cast<const Lanes*>(&next);
  for (unsigned i = 0; i < sizeof(SL) / sizeof(Lanes); ++i) a[i] = select(keep, n[i], a[i]);
}

}  // namespace nbf

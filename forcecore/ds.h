// Double-single arithmetic: a value is the unevaluated sum hi + lo of two
// floats. Pairs are any type with members x (hi) and y (lo): float2 in
// records, lane vectors on the host executor.
#pragma once

#include "forcecore/platform.h"

namespace nbf {

// Adds one float to a pair. e is the rounding error of hi + a (exact when
// |hi| >= |a|); taking it off lo keeps the bits that hi loses. Every step is
// a separate rounded operation; the build forbids contraction and
// reassociation, which would turn (s - hi) - a into zero.
template <class P, class F>
NBF_HD void ds_accumulate(P& acc, F a) {
  const F s = acc.x + a;
  const F t = s - acc.x;
  const F e = t - a;
  acc.y = acc.y - e;
  acc.x = s;
}

// Merges two partial sums: the addend's hi first, then its lo.
template <class P, class Q>
NBF_HD void ds_add(P& acc, const Q& b) {
  ds_accumulate(acc, b.x);
  ds_accumulate(acc, b.y);
}

// Source minus target of one coordinate, as a plain float: hi parts, lo
// parts, then their sum.
template <class F>
NBF_HD F ds_diff(F j_hi, F j_lo, F i_hi, F i_lo) {
  const F dh = j_hi - i_hi;
  const F dl = j_lo - i_lo;
  return dh + dl;
}

template <class P>
inline double ds_to_double(const P& v) {
  return static_cast<double>(v.x) + static_cast<double>(v.y);
}

// A pair of lane values, the register form of a double-single accumulator.
template <class F>
struct DsPair {
  F x;
  F y;
};

}  // namespace nbf

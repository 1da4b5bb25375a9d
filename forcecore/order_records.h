// An order's particle and sum records, written from one list of fields.
//
// Every order has the same shape: its pair step reads the double-single
// position, the velocity and maybe higher derivatives of each particle, and
// sums a double-single acceleration and one or more higher derivatives. An
// order names its three-vector fields in two lists,
//   BODY(X): what the pair step reads besides the mass, e.g. X(posH) X(posL) X(vel)
//   SUMS(X): what it sums besides the acceleration, e.g. X(jrk) X(snp)
// and NBF_ORDER_RECORDS(BODY, SUMS), inside the order's struct, defines:
//   Body<F>       the listed fields as F[3], then the mass;
//   Acc<F>        the acceleration as DsPair<F>[3], then the listed sums;
//   load<F>(p)    each listed field of the Predictor, then its mass, splat;
//   store(a, r)   the sums into the device record; words no field names are 0;
//   add(a, b)     a += b: ds_add on the acceleration, one rounded + per word;
//                 a and b are ForceDev or a lane form with the same members
//                 (Acc<Lanes>, as the host's small-pass sweep sums);
//   to_force(s,d) the device record widened to the caller's doubles.
// The order's Predictor, ForceDev and Force must name the fields alike, with
// the acceleration a float2[3] in ForceDev and a double[3] in Force.
//
// Each word is combined with its own partner only, so the order in which
// the fields are visited changes no result.
#pragma once

#include "forcecore/ds.h"

#define NBF_FIELD_DECLARE_(name) F name[3];
#define NBF_FIELD_LOAD_(name) \
  for (int c = 0; c < 3; ++c) b.name[c] = splat<F>(p.name[c]);
#define NBF_FIELD_STORE_(name) \
  for (int c = 0; c < 3; ++c) r.name[c] = a.name[c];
#define NBF_FIELD_ADD_(name) \
  for (int c = 0; c < 3; ++c) a.name[c] = a.name[c] + b.name[c];
#define NBF_FIELD_WIDEN_(name) \
  for (int c = 0; c < 3; ++c) d.name[c] = static_cast<double>(s.name[c]);

#define NBF_ORDER_RECORDS(BODY, SUMS)                              \
  template <class F>                                               \
  struct Body {                                                    \
    BODY(NBF_FIELD_DECLARE_)                                       \
    F mass;                                                        \
  };                                                               \
  template <class F>                                               \
  struct Acc {                                                     \
    DsPair<F> acc[3];                                              \
    SUMS(NBF_FIELD_DECLARE_)                                       \
  };                                                               \
  template <class F>                                               \
  NBF_DEV static Body<F> load(const Predictor& p) {                \
    Body<F> b;                                                     \
    BODY(NBF_FIELD_LOAD_)                                          \
    b.mass = splat<F>(p.mass);                                     \
    return b;                                                      \
  }                                                                \
  NBF_DEV static void store(const Acc<float>& a, ForceDev& r) {    \
    r = ForceDev{};                                                \
    for (int c = 0; c < 3; ++c) {                                  \
      r.acc[c].x = a.acc[c].x;                                     \
      r.acc[c].y = a.acc[c].y;                                     \
    }                                                              \
    SUMS(NBF_FIELD_STORE_)                                         \
  }                                                                \
  template <class R, class S>                                      \
  NBF_DEV static void add(R& a, const S& b) {                      \
    for (int c = 0; c < 3; ++c) ds_add(a.acc[c], b.acc[c]);        \
    SUMS(NBF_FIELD_ADD_)                                           \
  }                                                                \
  static void to_force(const ForceDev& s, Force& d) {              \
    for (int c = 0; c < 3; ++c) d.acc[c] = ds_to_double(s.acc[c]); \
    SUMS(NBF_FIELD_WIDEN_)                                         \
  }

// Truncated Taylor series in one variable (time along a motion): the
// coefficients c[k] = f^(k)(0) / k! of a quantity f(t), k = 0 .. 3. The
// galaxy components write their accelerations once over this type, and the
// coefficients of g(y(t)) along a path y(t) give the acceleration and its
// first three time derivatives exactly (up to rounding), with no tensors of
// derivatives written out by hand. Coefficient k of a result depends only
// on coefficients 0 .. k of the operands.
#pragma once

#include <cmath>

namespace fields {

struct Jet {
  static constexpr int kSize = 4;
  double c[kSize] = {};

  Jet() = default;
  Jet(double v) { c[0] = v; }  // NOLINT: a constant is a jet
};

inline Jet operator+(const Jet& a, const Jet& b) {
  Jet r;
  for (int k = 0; k < Jet::kSize; ++k) r.c[k] = a.c[k] + b.c[k];
  return r;
}
inline Jet operator-(const Jet& a, const Jet& b) {
  Jet r;
  for (int k = 0; k < Jet::kSize; ++k) r.c[k] = a.c[k] - b.c[k];
  return r;
}
inline Jet operator-(const Jet& a) {
  Jet r;
  for (int k = 0; k < Jet::kSize; ++k) r.c[k] = -a.c[k];
  return r;
}
inline Jet operator*(const Jet& a, const Jet& b) {
  Jet r;
  for (int k = 0; k < Jet::kSize; ++k) {
    double s = 0.0;
    for (int i = 0; i <= k; ++i) s += a.c[i] * b.c[k - i];
    r.c[k] = s;
  }
  return r;
}
// q = a / b from q b = a, coefficient by coefficient.
inline Jet operator/(const Jet& a, const Jet& b) {
  Jet q;
  for (int k = 0; k < Jet::kSize; ++k) {
    double s = a.c[k];
    for (int i = 1; i <= k; ++i) s -= b.c[i] * q.c[k - i];
    q.c[k] = s / b.c[0];
  }
  return q;
}
// s = sqrt(a) from s s = a.
inline Jet sqrt(const Jet& a) {
  Jet s;
  s.c[0] = std::sqrt(a.c[0]);
  for (int k = 1; k < Jet::kSize; ++k) {
    double r = a.c[k];
    for (int i = 1; i < k; ++i) r -= s.c[i] * s.c[k - i];
    s.c[k] = r / (2.0 * s.c[0]);
  }
  return s;
}
// l = log(a) from a l' = a': k a0 l_k = k a_k - sum_{i=1}^{k-1} i l_i a_{k-i}.
inline Jet log(const Jet& a) {
  Jet l;
  l.c[0] = std::log(a.c[0]);
  for (int k = 1; k < Jet::kSize; ++k) {
    double r = k * a.c[k];
    for (int i = 1; i < k; ++i) r -= i * l.c[i] * a.c[k - i];
    l.c[k] = r / (k * a.c[0]);
  }
  return l;
}

// The same operations on plain numbers, so that a component's formulas can
// be written once as a template over the number type.
using std::log;
using std::sqrt;

}  // namespace fields

// Nested dual numbers for the tests' second route to the field's
// derivatives: Dual<T> = a + b e with e^2 = 0, nested four deep so that the
// coefficient of e1 e2 e3 e4 of f(e1 + e2 + e3, e4) is d^3/dt^3 d/ds f.
// Written apart from the library's Taylor jets, and applied to the
// potentials rather than to the accelerations.
#pragma once

#include <cmath>

namespace fields_test {

template <class T>
struct Dual {
  T a{}, b{};
};

inline double value(double x) { return x; }
template <class T>
double value(const Dual<T>& x) {
  return value(x.a);
}

template <class T>
Dual<T> operator+(const Dual<T>& x, const Dual<T>& y) {
  return {x.a + y.a, x.b + y.b};
}
template <class T>
Dual<T> operator-(const Dual<T>& x, const Dual<T>& y) {
  return {x.a - y.a, x.b - y.b};
}
template <class T>
Dual<T> operator*(const Dual<T>& x, const Dual<T>& y) {
  return {x.a * y.a, x.a * y.b + x.b * y.a};
}
template <class T>
Dual<T> operator/(const Dual<T>& x, const Dual<T>& y) {
  const T q = x.a / y.a;
  return {q, (x.b - q * y.b) / y.a};
}
template <class T>
Dual<T> operator+(const Dual<T>& x, double c) {
  return {x.a + c, x.b};
}
template <class T>
Dual<T> operator*(double c, const Dual<T>& x) {
  return {c * x.a, c * x.b};
}
template <class T>
Dual<T> operator/(double c, const Dual<T>& x) {
  const T q = c / x.a;
  return {q, (-1.0 * q) * x.b / x.a};
}
template <class T>
Dual<T> sqrt(const Dual<T>& x) {
  using std::sqrt;
  const T s = sqrt(x.a);
  return {s, x.b / (2.0 * s)};
}
template <class T>
Dual<T> log(const Dual<T>& x) {
  using std::log;
  return {log(x.a), x.b / x.a};
}

using D4 = Dual<Dual<Dual<Dual<double>>>>;

// The number c + e_level (level 1 .. 4, 1 innermost).
inline D4 seed(double c, int level) {
  D4 x;
  x.a.a.a.a = c;
  if (level == 4) x.b.a.a.a = 1.0;
  if (level == 3) x.a.b.a.a = 1.0;
  if (level == 2) x.a.a.b.a = 1.0;
  if (level == 1) x.a.a.a.b = 1.0;
  return x;
}
inline D4 constant(double c) { return seed(c, 0); }

}  // namespace fields_test

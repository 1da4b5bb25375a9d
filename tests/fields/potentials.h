// The galaxy components' potentials written again for the tests, as
// generic functions of the coordinates: over nested dual numbers for the
// derivatives along a motion, over one level for the gradient of a
// reference orbit integration.
#pragma once

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dual.h"
#include "galaxy.h"

namespace fields_test {

using D1 = Dual<double>;

template <class T>
T r2_of(const T* y) {
  return y[0] * y[0] + y[1] * y[1] + y[2] * y[2];
}

inline auto point_mass(double m) {
  return [m](const auto* y) { return -m / sqrt(r2_of(y)); };
}
inline auto plummer(double m, double b) {
  return [m, b](const auto* y) { return -m / sqrt(r2_of(y) + b * b); };
}
inline auto hernquist(double m, double a) {
  return [m, a](const auto* y) { return -m / (sqrt(r2_of(y)) + a); };
}
inline auto miyamoto_nagai(double m, double a, double b) {
  return [m, a, b](const auto* y) {
    const auto s = sqrt(y[2] * y[2] + b * b) + a;
    return -m / sqrt(y[0] * y[0] + y[1] * y[1] + s * s);
  };
}
inline auto nfw(double m, double r, double c) {
  const double rs = r / c, ms = m / (std::log(1.0 + c) - c / (1.0 + c));
  return [ms, rs](const auto* y) {
    const auto x = sqrt(r2_of(y));
    return -ms * log((1.0 / rs) * x + 1.0) / x;
  };
}
inline auto logarithmic(double v0, double rc, double q) {
  return [v0, rc, q](const auto* y) {
    return 0.5 * v0 * v0 *
           log(y[0] * y[0] + y[1] * y[1] + (1.0 / (q * q)) * (y[2] * y[2]) + rc * rc);
  };
}

struct Potential {
  std::function<D4(const D4*)> d4;
  std::function<D1(const D1*)> d1;
};
template <class F>
Potential potential(F f) {
  return {[f](const D4* y) { return f(y); }, [f](const D1* y) { return f(y); }};
}

// A galaxy of the library and the same galaxy written again.
struct Case {
  std::string name;
  std::shared_ptr<fields::Galaxy> galaxy;
  std::vector<Potential> phi;
  double radius = 0.0;  // a radius for orbits, inside the interesting part
};

inline std::vector<Case> cases() {
  std::vector<Case> out;
  auto one = [&](std::string name, std::unique_ptr<fields::Component> c, Potential p, double r) {
    Case k;
    k.name = std::move(name);
    k.galaxy = std::make_shared<fields::Galaxy>();
    k.galaxy->add(std::move(c));
    k.phi.push_back(std::move(p));
    k.radius = r;
    out.push_back(std::move(k));
  };
  one("point mass", fields::make_point_mass(3.0), potential(point_mass(3.0)), 2.0);
  one("Plummer", fields::make_plummer(2.0, 0.7), potential(plummer(2.0, 0.7)), 1.0);
  one("Hernquist", fields::make_hernquist(5.0, 1.3), potential(hernquist(5.0, 1.3)), 1.5);
  one("Miyamoto-Nagai", fields::make_miyamoto_nagai(4.0, 2.5, 0.3),
      potential(miyamoto_nagai(4.0, 2.5, 0.3)), 3.0);
  one("NFW", fields::make_nfw(20.0, 30.0, 12.0), potential(nfw(20.0, 30.0, 12.0)), 4.0);
  one("logarithmic", fields::make_logarithmic(1.1, 0.4, 0.8), potential(logarithmic(1.1, 0.4, 0.8)),
      2.0);
  Case sum;
  sum.name = "sum";
  sum.galaxy = std::make_shared<fields::Galaxy>();
  sum.galaxy->add(fields::make_hernquist(1.0, 0.5));
  sum.galaxy->add(fields::make_miyamoto_nagai(6.0, 3.0, 0.28));
  sum.galaxy->add(fields::make_nfw(50.0, 40.0, 10.0));
  sum.phi = {potential(hernquist(1.0, 0.5)), potential(miyamoto_nagai(6.0, 3.0, 0.28)),
             potential(nfw(50.0, 40.0, 10.0))};
  sum.radius = 4.0;
  out.push_back(std::move(sum));
  return out;
}

// -grad phi by one level of dual numbers.
inline fields::Vec3 gradient_acceleration(const std::vector<Potential>& phi,
                                          const fields::Vec3& y) {
  fields::Vec3 g{};
  for (int i = 0; i < 3; ++i) {
    D1 p[3] = {{y[0], 0.0}, {y[1], 0.0}, {y[2], 0.0}};
    p[i].b = 1.0;
    for (const Potential& f : phi) g[i] -= f.d1(p).b;
  }
  return g;
}

}  // namespace fields_test

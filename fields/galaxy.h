// Static galaxy potentials: components (one per file, galaxy_<kind>.cc) and
// their sum. Everything here is in N-body units; the command line converts
// the physical parameters (galaxy_parse.cc).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "jet.h"
#include "scheme.h"

namespace fields {

using hermite::Vec3;

// One component, centred on the origin, symmetric about the z axis.
// potential(): per unit mass, in double. acceleration(): g = -grad phi at a
// position given as three jets (a path through space), as jets: the
// coefficients of g along the path.
class Component {
 public:
  virtual ~Component() = default;
  virtual double potential(const Vec3& y) const = 0;
  virtual void acceleration(const Jet* y, Jet* g) const = 0;
  // The kind and its parameters in N-body units, for the first output line.
  virtual std::string describe() const = 0;
};

// The components of each kind, parameters in N-body units (G = 1).
std::unique_ptr<Component> make_point_mass(double m);
std::unique_ptr<Component> make_plummer(double m, double b);
std::unique_ptr<Component> make_hernquist(double m, double a);
std::unique_ptr<Component> make_miyamoto_nagai(double m, double a, double b);
// NFW: mass m within radius r, concentration c = r / r_s.
std::unique_ptr<Component> make_nfw(double m, double r, double c);
// Logarithmic: phi = v0^2 / 2 ln(rc^2 + x^2 + y^2 + z^2 / q^2).
std::unique_ptr<Component> make_logarithmic(double v0, double rc, double q);

// A sum of components.
class Galaxy {
 public:
  void add(std::unique_ptr<Component> c) { parts_.push_back(std::move(c)); }
  bool empty() const { return parts_.empty(); }
  double potential(const Vec3& y) const;
  Vec3 acceleration(const Vec3& y) const;
  // Time derivatives 0 .. nd-1 (nd <= 4) of g(y(t)) along a motion through
  // y with derivatives dy[0] = velocity, dy[1] = acceleration, dy[2] = jerk
  // (dy[m] needed for m < nd - 1): out[n] = d^n g / dt^n.
  void derivatives(const Vec3& y, const Vec3* dy, int nd, Vec3* out) const;
  std::string describe() const;

 private:
  std::vector<std::unique_ptr<Component>> parts_;
};

}  // namespace fields

// A reference orbit in a galaxy, integrated in double precision with the
// eighth-order Hermite scheme (hermite/scheme.h) on a fixed step h, a power
// of two near 1/64 of the orbit's time scale at the start. The state at
// any time t >= 0 is the Taylor series from the last node at or before t,
// with all eight derivatives of the acceleration; nodes are integrated on
// demand and the same nodes come out for the same start, whatever times
// are asked and in which order (a continued run sees the orbit of the
// first).
#pragma once

#include <vector>

#include "galaxy.h"

namespace fields {

// The derivatives 0 .. nd-1 of the acceleration of a free orbit in the
// galaxy at position r with velocity v.
void orbit_derivatives(const Galaxy& galaxy, const Vec3& r, const Vec3& v, int nd, Vec3* out);

class Orbit {
 public:
  Orbit(const Galaxy& galaxy, const Vec3& r0, const Vec3& v0);
  // Position and velocity at time t >= 0.
  void at(double t, Vec3& r, Vec3& v) const;
  double step() const { return h_; }

 private:
  struct Node {
    Vec3 r, v;
    hermite::Derivs<4> d;
  };
  Node advance(const Node& a) const;
  const Node& node(long long k) const;

  const Galaxy& galaxy_;
  double h_ = 0.0;
  Node first_;
  // The nodes from first_k_ on; older ones are dropped and taken again
  // from the start if ever asked for.
  mutable std::vector<Node> nodes_;
  mutable long long first_k_ = 0;
};

}  // namespace fields

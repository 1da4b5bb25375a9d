// The integrator's hook for a field acting on every particle besides the
// particles' own gravity (a galaxy's tides, see fields/). The integrator
// knows nothing of the field beyond this interface.
#pragma once

#include "scheme.h"

namespace hermite {

class ExternalField {
 public:
  virtual ~ExternalField() = default;

  // Adds the field's terms to f[0 .. K-1], the acceleration of a particle at
  // time t with position x and velocity v and its first K - 1 time
  // derivatives. On entry f holds the particles' mutual terms, on return the
  // totals: the field's jerk, snap and crackle depend on the particle's
  // total acceleration, jerk and snap (the motion the field is felt along),
  // which the field completes term by term.
  virtual void add(double t, const Vec3& x, const Vec3& v, int K, Vec3* f) const = 0;

  // True where the acceleration depends on the velocity (Coriolis): the
  // corrector, which otherwise sees the field at the predicted velocity and
  // loses an order, is then applied a second time with the field evaluated
  // at the corrected state.
  virtual bool velocity_dependent() const = 0;

  // Told of every corrected step of a particle of mass m from time t0 to
  // t1, with its position, velocity and total acceleration at both ends; a
  // field that changes with time accumulates the work it does. The default
  // ignores it.
  virtual void stepped(double m, double t0, const Vec3& x0, const Vec3& v0, const Vec3& a0,
                       double t1, const Vec3& x1, const Vec3& v1, const Vec3& a1) {
    (void)m, (void)t0, (void)x0, (void)v0, (void)a0, (void)t1, (void)x1, (void)v1, (void)a1;
  }
};

}  // namespace hermite

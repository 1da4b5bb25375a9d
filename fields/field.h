// External fields acting on a star cluster, in N-body units and double
// precision: one kind per file (field_<kind>.cc), made by its make_ function.
// A field is the integrator's hook (hermite/external_field.h); add() builds
// the field's derivatives term by term from derivatives(), which each kind
// writes in closed form.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "external_field.h"
#include "galaxy.h"

namespace fields {

class Field : public hermite::ExternalField {
 public:
  // out[n], n < nd <= 4: the n-th time derivative of the field's
  // acceleration at time t along the motion of a particle at x with
  // velocity v whose total acceleration, jerk and snap (the second to
  // fourth derivatives of its position) are motion[0 .. nd - 2]. out[n]
  // depends on motion[0 .. n - 1] only.
  virtual void derivatives(double t, const Vec3& x, const Vec3& v, const Vec3* motion, int nd,
                           Vec3* out) const = 0;

  // Potential per unit mass at time t, the frame's centrifugal potential
  // included: sum m (v^2 / 2 + phi) + W is the energy (the Jacobi energy in
  // a rotating frame).
  virtual double potential(double t, const Vec3& x) const = 0;

  // The Jacobi (tidal) radius of a cluster of mass m at time t; infinity
  // where the field does not bind (a compressive tide).
  virtual double jacobi_radius(double t, double m) const = 0;

  // For a field that changes with time: p[0] = d phi / dt at fixed x and
  // its first two time derivatives p[1], p[2] along the motion through x
  // with velocity v and total acceleration a. Zero for a static one.
  virtual void power(double t, const Vec3& x, const Vec3& v, const Vec3& a, double* p) const {
    (void)t, (void)x, (void)v, (void)a;
    p[0] = p[1] = p[2] = 0.0;
  }
  virtual bool time_dependent() const { return false; }

  // Angular velocity of the frame about z (0: a non-rotating frame); the
  // velocity of a star relative to the cluster centre in the non-rotating
  // frame is v + omega z x x.
  virtual double frame_omega() const { return 0.0; }

  // Unit vector from the galactic centre towards the cluster centre at time
  // t: L1 lies at -r_J along it, L2 at +r_J.
  virtual Vec3 outward(double t) const {
    (void)t;
    return Vec3{1.0, 0.0, 0.0};
  }

  // The galactic coordinates (centred on the galaxy, not rotating) of the
  // point x of the field's frame at time t. A field without a galaxy
  // (Hill's field of --omega alone) puts the galactic centre at the cluster
  // centre and gives x turned back from the rotating frame.
  virtual Vec3 galactic_position(double t, const Vec3& x) const = 0;
  // The field in words, parameters in N-body units.
  virtual std::string describe() const = 0;

  void add(double t, const Vec3& x, const Vec3& v, int K, Vec3* f) const final;
  void stepped(double m, double t0, const Vec3& x0, const Vec3& v0, const Vec3& a0, double t1,
               const Vec3& x1, const Vec3& v1, const Vec3& a1) override;

  // Work done on the particles by the field's change with time, summed over
  // their completed steps (Hermite quadrature of m p over each step, of
  // sixth order in the step).
  double work() const { return work_; }
  void set_work(double w) { work_ = w; }

 private:
  double work_ = 0.0;
};

// sum m phi(t, x) over the particles: the field's share of the energy.
double external_energy(const Field& field, double t, const std::vector<double>& mass,
                       const std::vector<Vec3>& pos);

// The point (x0 + x, y, z) of a frame rotating at omega about z, seen from
// the non-rotating frame at time t (the frames agree at t = 0).
Vec3 unrotated(double omega, double t, double x0, const Vec3& x);

// Velocities relative to the cluster centre in the non-rotating frame:
// v + omega z x x (the velocities themselves in a non-rotating field).
std::vector<Vec3> inertial_velocities(const Field& field, const std::vector<Vec3>& pos,
                                      const std::vector<Vec3>& vel);

// Hill's approximation in the frame rotating at +omega about z: x points
// away from the galactic centre, y along the orbit.
// r: the orbit's radius where the field approximates a galaxy (placing
// the cluster in galactic coordinates), 0 for none.
std::unique_ptr<Field> make_hill_field(double omega, double r = 0.0);

// The exact field of the galaxy in the frame rotating with a circular orbit
// of radius r in the plane z = 0 (a point-mass galaxy on the command line;
// any galaxy symmetric about z works): the difference of the galaxy's
// attraction from that at the cluster centre, centrifugal and Coriolis
// terms.
std::unique_ptr<Field> make_rotating_field(std::shared_ptr<const Galaxy> galaxy, double r);

// The tide of the galaxy in the non-rotating frame that moves with the
// cluster's reference orbit from position r0 and velocity v0:
// g(R(t) + x) - g(R(t)), the orbit R(t) integrated alongside.
std::unique_ptr<Field> make_orbit_field(std::shared_ptr<const Galaxy> galaxy, const Vec3& r0,
                                        const Vec3& v0);

}  // namespace fields

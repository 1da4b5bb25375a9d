// Regularised few-body subsystems: a group of bodies in a close encounter,
// integrated in double precision on their own time, apart from the block-step
// integration that carries their centre of mass.
//
// Units: N-body units, G = 1, throughout. Positions and velocities of the
// members are relative to the subsystem's centre of mass, so that
// sum m x = 0 and sum m v = 0 (to rounding); the centre of mass itself is the
// caller's business.
//
// Everything here is a plain record and free functions; no function keeps
// state between calls except what it stores in the record it is given.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace encounters {

using Vec3 = std::array<double, 3>;

// A subsystem. Invariants: ids, m, x, v have one entry per member; every mass
// is positive and finite; x and v are relative to the centre of mass.
struct Subsystem {
  std::vector<int> ids;  // the caller's particle slots of the members
  std::vector<double> m;
  std::vector<Vec3> x, v;  // relative to the centre of mass
  double t = 0.0;          // the subsystem's own time

  // Bookkeeping, accumulated over every call (never reset by the library).
  double ds = 0.0;                     // last step in the regularised time s; 0 = choose afresh
  double work = 0.0;                   // work done by the perturbation on the internal motion
  std::int64_t steps = 0;              // accepted extrapolation steps
  std::int64_t rejected = 0;           // steps refused (no convergence, or past the target time)
  std::int64_t force_evaluations = 0;  // evaluations of the internal forces
  std::int64_t kepler_drifts = 0;      // advances done in closed form
};

// The centre of mass of a set of bodies (absolute frame).
struct CentreOfMass {
  double m = 0.0;
  Vec3 x{0.0, 0.0, 0.0}, v{0.0, 0.0, 0.0};
};

// The perturbation of the internal motion by bodies outside the subsystem.
// tidal(t, x, acc): x holds the members' positions relative to the centre of
// mass at time t (the caller adds its centre-of-mass position at t, e.g.
// from its predictor, to get the members' absolute positions); acc (already sized to the members,
// zeroed) receives the acceleration of each member by the perturbers. The mass-weighted mean of acc
// is removed by the integrator (that is the acceleration of the centre of mass, which the caller
// applies to the centre-of-mass particle), so the callback may return either the full acceleration
// of each member by the perturbers or the differential (tidal) one. It must depend on positions and
// time only, not on velocities. An empty callback means an isolated subsystem.
struct Perturbation {
  std::function<void(double t, const std::vector<Vec3>& x, std::vector<Vec3>& acc)> tidal;
  bool active() const { return static_cast<bool>(tidal); }
};

struct ArSettings {
  double tolerance = 1e-13;            // relative error per extrapolation step
  int max_columns = 10;                // substep counts 2, 4, ..., 2 max_columns (Deuflhard)
  bool kepler_shortcut = true;         // an unperturbed pair is advanced by kepler_drift
  std::int64_t max_steps = 100000000;  // per call; beyond it ar_advance throws
};

// Builds a subsystem from bodies in the absolute frame: the members' positions
// and velocities relative to their centre of mass, time t. The centre of mass
// is returned in *cm when cm is not null. Throws std::invalid_argument on
// fewer than two bodies, mismatched sizes, a non-positive or non-finite mass
// or a non-finite coordinate.
Subsystem make_subsystem(const std::vector<int>& ids, const std::vector<double>& m,
                         const std::vector<Vec3>& x, const std::vector<Vec3>& v, double t,
                         CentreOfMass* cm = nullptr);

// Checks the invariants of a subsystem (sizes, at least two members, masses,
// finiteness); throws std::invalid_argument with a one-line message.
void check_subsystem(const Subsystem& s);

// Advances the internal motion from s.t to exactly t_target (s.t == t_target
// on return) by algorithmic regularisation: the leapfrog of the logarithmic
// Hamiltonian (time transformation dt/ds = 1/U, U the force function) with
// Gragg-Bulirsch-Stoer extrapolation to settings.tolerance, an adaptive step
// in s, and a last step iterated so that it ends on t_target. The external
// perturbation enters the kicks; its work on the internal motion is added to
// s.work. An unperturbed pair goes by kepler_drift when
// settings.kepler_shortcut is set. Inside a call the motion is held in
// chain coordinates (the closest pairs' separations directly); the record
// gets centre-of-mass coordinates back, recentred. Throws
// std::invalid_argument on an invalid subsystem or t_target < s.t (record
// untouched), and std::runtime_error when the step collapses or
// settings.max_steps is exceeded (the subsystem is then left at the last
// accepted step, s.t < t_target). An exception from the perturbation's
// callback passes through and leaves the record as it was before the call.
void ar_advance(Subsystem& s, double t_target, const Perturbation& p = {},
                const ArSettings& settings = {});

// Closed-form two-body advance by dt (either sign) with universal variables
// and Stumpff functions: any eccentricity, bound, parabolic or hyperbolic.
// Throws std::invalid_argument when s has not exactly two members.
void kepler_drift(Subsystem& s, double dt);

// The same on the relative vector of a pair of total mass mtot: r, w are the
// relative position and velocity, replaced by their values dt later.
void kepler_drift_relative(double mtot, Vec3& r, Vec3& w, double dt);

// Kinetic plus potential energy of the internal motion (G = 1).
double internal_energy(const Subsystem& s);

// Symmetric 3x3 tensor: xx, yy, zz, xy, xz, yz.
using Sym3 = std::array<double, 6>;

// Two-body elements of a pair: dx = x2 - x1, dv = v2 - v1.
struct PairElements {
  double a = 0.0;        // semi-major axis, negative for an unbound pair (a = m1 m2 / (2 binding))
  double e = 0.0;        // eccentricity, from the eccentricity vector
  double binding = 0.0;  // m1 m2 / r - mu v^2 / 2; positive for a bound pair
};
PairElements pair_elements(double m1, double m2, const Vec3& dx, const Vec3& dv);

// The orbital period of a bound pair, 2 pi (a^3 / M)^(1/2); infinite for
// an unbound pair or a group.
double pair_period(const Subsystem& s);

// The pair's mass quadrupole about its centre of mass averaged over one
// orbit in time: mu <r r>, mu = m1 m2 / (m1 + m2), r = dx (xx yy zz xy xz
// yz). For a bound orbit of semi-major axis a and eccentricity vector e,
//   <r r> = a^2 [(1 - e^2) / 2 (I - n n) + 5/2 e e],
// n the orbit's normal (Kepler's ellipse: <x^2> = a^2 (1 + 4 e^2) / 2
// along the pericentre, <y^2> = a^2 (1 - e^2) / 2 across), which needs no
// direction of the pericentre for a circle nor a normal for a radial orbit.
// For an unbound pair the instantaneous mu r r.
Sym3 orbit_second_moment(double m1, double m2, const Vec3& dx, const Vec3& dv);

// |f_tidal| / ((m1 + m2) / r^2): the relative strength of the differential
// acceleration df = f2 - f1 of the pair's members against their mutual one.
double relative_perturbation(double m1, double m2, const Vec3& dx, const Vec3& df);

// Mardling & Aarseth (2001): the least outer pericentre over the inner
// semi-major axis for which a hierarchical triple is stable,
//   2.8 [(1 + q_out) (1 + e_out) / sqrt(1 - e_out)]^(2/5) (1 - 0.3 i / pi),
// q_out = m_outer / (m_inner1 + m_inner2), i the mutual inclination in
// radians (0 prograde, pi retrograde). Infinite for e_out >= 1.
double triple_stability_ratio(double m_inner1, double m_inner2, double m_outer, double e_out,
                              double inclination);
// True when a_out (1 - e_out) / a_in exceeds that ratio.
bool stable_triple(double m_inner1, double m_inner2, double m_outer, double a_in, double e_out,
                   double a_out, double inclination);

// A member that has left: its distance from the centre of mass of the rest
// exceeds r_escape, it moves away from it, its two-body energy relative to
// the rest is positive, and it is bound to no other member as a pair (a
// binary's member does not leave alone). Returns the member's index (the
// most distant such one), or -1.
int find_escaper(const Subsystem& s, double r_escape);

// A member taken out of a subsystem.
struct Escaper {
  int index = -1;  // its former index in the subsystem; -1 when none left
  int id = -1;
  double m = 0.0;
  Vec3 x{0.0, 0.0, 0.0}, v{0.0, 0.0, 0.0};  // relative to the old centre of mass
  // The centre of mass of the members left behind relative to the old one:
  // the caller moves its centre-of-mass particle by these.
  Vec3 dx_cm{0.0, 0.0, 0.0}, dv_cm{0.0, 0.0, 0.0};
};

// Takes member `index` out of s (which must keep at least one member) and
// recentres the rest on their own centre of mass.
Escaper remove_member(Subsystem& s, int index);

// What leaves a group of three or more: a member, or a bound pair of
// members (l >= 0), beyond r_far of the centre of mass of the rest and
// moving away from it, bound to the rest or not. A group holds a close
// interaction; a member on a wide orbit about the rest would keep the group
// as wide as that orbit, with a perturbation far above any bound and half
// the cluster among its perturbers. The part that leaves then orbits the
// rest in the block steps, and joins again if it comes back within R_cl.
// Two members that are each other's most bound partner leave only together
// (neither is blurred into the rest's centre of mass), and then only from a
// group of four or more: of three, the third member is what leaves. The most distant
// such part; k = -1 when none. With `receding` false the part need not move
// away: a group perturbed beyond gamma_max sheds its outermost part
// whichever way it moves (hermite/integrator.h).
struct Departure {
  int k = -1, l = -1;
};
Departure find_departure(const Subsystem& s, double r_far, bool receding = true);

// find_escaper, then remove_member when one is found; index -1 when none.
// A subsystem of two members is left alone (the caller dissolves a pair
// whose members separate, by pair_elements).
Escaper split_escaper(Subsystem& s, double r_escape);

}  // namespace encounters

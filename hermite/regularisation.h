// How the block-step integration carries regularised subsystems
// (encounters/): the settings and scales of the close-encounter criteria,
// the record of one subsystem as the integrator holds it, and the
// double-precision terms between a subsystem's members and its perturbers.
// The integrator (integrator.h) decides when a subsystem forms and ends;
// encounters/ integrates its internal motion. docs/close-encounters.md
// describes the whole.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "pair_terms.h"
#include "perturber_tracks.h"
#include "scheme.h"
#include "subsystem.h"

namespace hermite {

// The close-encounter criteria (Aarseth 2003, "Gravitational N-Body
// Simulations", chapters 5 and 9), on the command line of the programs.
struct EncounterSettings {
  bool on = false;
  // > 0: the close-encounter distance of a pair of mean mass, fixed. 0:
  // R_cl = 4 r_h / N (r_h the half-mass radius), recomputed every
  // kScaleInterval time units.
  double r_cl = 0.0;
  // > 0: the step below which a particle is watched for an encounter. 0:
  // dt_cl = kCloseStep sqrt(R_cl^3 / m_mean): a particle whose step has
  // shrunk to this is within a few steps of a pericentre at R_cl.
  double dt_cl = 0.0;
  // A pair less perturbed than gamma_min relative to its own force moves
  // on its Kepler orbit in closed form (about 1e-7, Aarseth 2003); a pair
  // more perturbed than gamma_max and wider than its R_cl ends (the
  // published range is 0.01 to 0.25).
  double gamma_min = 1e-7;
  double gamma_max = 0.05;
  // The slow-down of weakly perturbed pairs (Mikkola & Aarseth 1996): a
  // pair perturbed at gamma runs kappa times slower with kappa gamma at
  // most gamma_slow (0: none); integrator.h, advance_subsystems.
  double gamma_slow = 1e-5;
};

// The largest slow-down factor: kappa is also held to the orbits that fit
// in the centre of mass's step (encounters/ar_slowdown.h).
inline constexpr double kSlowdownMax = 1024.0;

// Aarseth's close-encounter step, sqrt((R_cl^3 / m) ) times this.
inline constexpr double kCloseStep = 0.04;
// An automatic R_cl shrinks with the core's density beyond this many times
// the half-mass sphere's (integrator.h, core_contraction).
inline constexpr double kCoreContrast = 10.0;
// How often an automatic R_cl is recomputed, in time units.
inline constexpr double kScaleInterval = 1.0;
// A pair ends beyond this many of its R_cl (hysteresis: it forms inside
// one).
inline constexpr double kDissolveFactor = 2.0;
// A subsystem perturbed at gamma steps its centre of mass no longer than
// kPhaseStep / gamma of its internal time scale, and no shorter than
// kPhaseFloor of it on that account (integrator.h, subsystem_step).
inline constexpr double kPhaseStep = 0.01;
inline constexpr double kPhaseFloor = 0.05;
// A body that could come within this many of its pair R_cl of a subsystem
// during its next step steps no longer than the subsystem's centre of mass
// (integrator.h, joining_step).
inline constexpr double kJoinWatch = 1.0;
// The most members a group takes in. Its encounter distance grows with its
// mass, so in a collapsed core a group that took in every body it met
// swallowed the core (some 200 members in a 1,024-body run, which then
// crawled); chain-type regularisation is meant for small groups.
inline constexpr std::size_t kMaxGroupMembers = 6;

// The criteria's scales at the current time (checkpointed with the
// subsystems).
struct EncounterScale {
  double r_cl = 0.0, dt_cl = 0.0;
  double m_mean = 0.0;  // mean particle mass
  double m_max = 0.0;   // largest particle mass, for the perturber radius
  double next_update = 0.0;
};

// R_cl of a pair of masses mi, mj: the mean-mass distance scaled by the
// pair's mass over twice the mean mass.
inline double pair_rcl(const EncounterScale& s, double mi, double mj) {
  return s.r_cl * (mi + mj) / (2.0 * s.m_mean);
}

// One subsystem as the integrator carries it: the members' internal motion
// (relative to their centre of mass, at the centre of mass's time), the
// slot of the centre of mass among the integrator's particles, and the
// perturbers found at the centre of mass's last step with the perturbation
// they made.
struct Regularised {
  encounters::Subsystem s;
  int cm = -1;
  std::vector<int> perturbers;
  double gamma = 0.0;
  // A pair whose orbit is far faster than its perturbers move acts on them
  // (and they on its centre of mass) through its orbit-averaged quadrupole
  // rather than its members' instantaneous positions (add_subsystem_terms).
  bool averaged = false;
};

// A formation, change or end of a subsystem, for the event log.
struct EncounterEvent {
  double t = 0.0;
  std::string kind;  // "form", "join", "leave", "dissolve"
  std::vector<int> ids;
  double a = 0.0, e = 0.0, binding = 0.0;  // of the innermost pair, or the pair
};

// The subsystem's mass: its members' summed in their order, as every
// place that needs it (and a restart) sums it, so that the bits agree.
inline double subsystem_mass(const encounters::Subsystem& s) {
  double mass = 0.0;
  for (double mk : s.m) mass += mk;
  return mass;
}

// The size of a subsystem: for a bound pair the whole relative orbit's
// apocentre distance, a (1 + e), else the separation; for a group twice
// its largest member distance from the centre of mass.
inline double subsystem_size(const encounters::Subsystem& s) {
  if (s.m.size() == 2) {
    const Vec3 dx{s.x[1][0] - s.x[0][0], s.x[1][1] - s.x[0][1], s.x[1][2] - s.x[0][2]};
    const Vec3 dv{s.v[1][0] - s.v[0][0], s.v[1][1] - s.v[0][1], s.v[1][2] - s.v[0][2]};
    const encounters::PairElements el = encounters::pair_elements(s.m[0], s.m[1], dx, dv);
    if (el.a > 0.0 && el.e < 1.0) return el.a * (1.0 + el.e);
    return norm(dx);
  }
  double r = 0.0;
  for (const Vec3& x : s.x) r = std::fmax(r, norm(x));
  return 2.0 * r;
}

// The distance within which a body of mass m_max perturbs a subsystem of
// size R and mass M by at least gamma_min: its tidal acceleration across
// the subsystem, 2 m_max R / d^3, against the internal M / R^2.
inline double perturber_radius(double size, double mass, double m_max, double gamma_min) {
  return size * std::cbrt(2.0 * m_max / (mass * gamma_min));
}

// The distance within which a perturber acts on a subsystem's members by
// its own force rather than through the tidal tensor of the far ones
// (encounters/perturber_tracks.h): where the octupole term that the tensor
// leaves out, ~ 2 m_max R^4 / d^4 against the internal M / R^2, reaches
// kNearGamma. Smaller (1e-7) made every body of a dense core near for a
// group of a few members about a hard binary, at a cost of ~10 times the
// run's time (measured: 1,024 bodies after core collapse, t = 0 to 1).
inline constexpr double kNearGamma = 1e-5;
inline double near_radius(double size, double mass, double m_max) {
  return size * std::sqrt(std::sqrt(2.0 * m_max / (mass * kNearGamma)));
}

// How many derivatives of the members' terms replace the point-mass ones:
// acceleration and jerk. The members' difference from the point mass
// varies on the subsystem's own orbital time, far shorter than the steps of
// the bodies that feel it; its snap and crackle would feed that time scale
// into their higher derivatives, and so into their steps and interpolants,
// for a term that is a small fraction of their force (measured: 1,000
// orbits of eccentricity 0.999 under a distant perturber lost 2e-9 of the
// energy and 3e-4 rad of phase at order 8 with all four replaced).
inline constexpr int kResolvedDerivs = 2;

// The terms of a perturber p on the members of a subsystem less those on
// its centre of mass (its acceleration and derivatives relative to the
// members, out[0 .. K-1] added to), mass weighted: what the centre of mass
// feels beyond the point-mass force. p: the perturber's position,
// velocity, acceleration and jerk; cm: the centre of mass's; mem: the
// members' absolute states. Softened by eps2 as the library softens the
// point-mass term, so that the two cancel far away.
template <int K>
void add_member_terms_on_cm(const Vec3* p, double mp, const Vec3* cm, double mass,
                            const std::vector<double>& m,
                            const std::vector<std::array<Vec3, 4>>& mem, double eps2, Vec3* out) {
  auto minus = [](const Vec3& a, const Vec3& b) {
    return Vec3{a[0] - b[0], a[1] - b[1], a[2] - b[2]};
  };
  Vec3 sum[K] = {}, mono[K] = {};
  for (std::size_t k = 0; k < m.size(); ++k) {
    Vec3 one[K] = {};
    add_pair_terms<K>(minus(p[0], mem[k][0]), minus(p[1], mem[k][1]), minus(p[2], mem[k][2]),
                      minus(p[3], mem[k][3]), mp, eps2, one);
    for (int n = 0; n < K; ++n) {
      for (int c = 0; c < 3; ++c) sum[n][c] += m[k] / mass * one[n][c];
    }
  }
  add_pair_terms<K>(minus(p[0], cm[0]), minus(p[1], cm[1]), minus(p[2], cm[2]), minus(p[3], cm[3]),
                    mp, eps2, mono);
  for (int n = 0; n < kResolvedDerivs; ++n) {
    for (int c = 0; c < 3; ++c) out[n][c] += sum[n][c] - mono[n][c];
  }
}

// The terms of a subsystem's members on a perturber p less those of the
// centre of mass as one body: what the perturber feels beyond the
// point-mass force of the subsystem.
template <int K>
void add_member_terms_on_perturber(const Vec3* p, const Vec3* cm, double mass,
                                   const std::vector<double>& m,
                                   const std::vector<std::array<Vec3, 4>>& mem, double eps2,
                                   Vec3* out) {
  auto minus = [](const Vec3& a, const Vec3& b) {
    return Vec3{a[0] - b[0], a[1] - b[1], a[2] - b[2]};
  };
  Vec3 mono[K] = {}, sum[K] = {};
  for (std::size_t k = 0; k < m.size(); ++k) {
    add_pair_terms<K>(minus(mem[k][0], p[0]), minus(mem[k][1], p[1]), minus(mem[k][2], p[2]),
                      minus(mem[k][3], p[3]), m[k], eps2, sum);
  }
  add_pair_terms<K>(minus(cm[0], p[0]), minus(cm[1], p[1]), minus(cm[2], p[2]), minus(cm[3], p[3]),
                    mass, eps2, mono);
  for (int n = 0; n < kResolvedDerivs; ++n) {
    for (int c = 0; c < 3; ++c) out[n][c] += sum[n][c] - mono[n][c];
  }
}

// The terms of subsystem A's members on subsystem B's, mass weighted over
// B's members, less those of A's centre of mass on B's: what B's centre of
// mass feels beyond the point-mass force of A, where each takes the other
// among its perturbers. Two subsystems that did so as point masses had
// neither side's structure acting on the other's, and the energy moved by
// that term (2.5e-5 of |E| at one step) when a member left one of them.
template <int K>
void add_members_on_members(const std::vector<double>& ma,
                            const std::vector<std::array<Vec3, 4>>& mema, const Vec3* cma,
                            double massa, const std::vector<double>& mb,
                            const std::vector<std::array<Vec3, 4>>& memb, const Vec3* cmb,
                            double massb, double eps2, Vec3* out) {
  auto minus = [](const Vec3& a, const Vec3& b) {
    return Vec3{a[0] - b[0], a[1] - b[1], a[2] - b[2]};
  };
  Vec3 sum[K] = {}, mono[K] = {};
  for (std::size_t k = 0; k < mb.size(); ++k) {
    Vec3 one[K] = {};
    for (std::size_t l = 0; l < ma.size(); ++l) {
      add_pair_terms<K>(minus(mema[l][0], memb[k][0]), minus(mema[l][1], memb[k][1]),
                        minus(mema[l][2], memb[k][2]), minus(mema[l][3], memb[k][3]), ma[l], eps2,
                        one);
    }
    for (int n = 0; n < K; ++n) {
      for (int c = 0; c < 3; ++c) sum[n][c] += mb[k] / massb * one[n][c];
    }
  }
  add_pair_terms<K>(minus(cma[0], cmb[0]), minus(cma[1], cmb[1]), minus(cma[2], cmb[2]),
                    minus(cma[3], cmb[3]), massa, eps2, mono);
  for (int n = 0; n < kResolvedDerivs; ++n) {
    for (int c = 0; c < 3; ++c) out[n][c] += sum[n][c] - mono[n][c];
  }
}

// A pair acts on its perturbers by its orbit-averaged quadrupole where its
// period is below this fraction of the time each perturber takes to move
// by its own distance: the quadrupole of the members' instantaneous
// positions turns on the pair's orbital time, and its jerk, far shorter
// than the steps of the bodies that feel it, held the centre of mass and
// the perturbers of a hard binary to steps of a fraction of its orbit
// (measured: a binary of a = 3e-5 in a 1,024-body core after collapse; the
// centre of mass stepped 0.66 orbits at the median, against 5 with the
// point mass alone, and the run took 2.4 times the block steps). Averaged
// over the orbit, the pair's field on a perturber differs from the
// instantaneous one by a term that turns many times over the perturber's
// passage and averages out; its energy exchange holds in the mean, and
// the energy check shows the difference, some gamma times the pair's
// binding energy. Only below kAveragedGamma, therefore: a clump about
// pairs of a = 1e-4 to 5e-4, perturbed up to gamma_max, lost 1.3e-4 of
// |E| in one time unit with every fast pair averaged.
inline constexpr double kAveragedPeriod = 0.1;
inline constexpr double kAveragedGamma = 1e-5;

// The field beyond the point mass of a mass distribution of second moment
// q (about its centre of mass, zero dipole) at d from it, moving with u:
// the acceleration and jerk of a test particle there, times `scale`, added
// to out[0 .. 1]. With R^2 = d.d + eps2, S = d.q.d and tr = trace q (the
// quadrupole term of the softened potential -m / R),
//   f = 3 q d / R^5 - 15/2 S d / R^7 + 3/2 tr d / R^5,
// and its rate along u with q fixed.
inline void add_quadrupole_terms(const Vec3& d, const Vec3& u, const encounters::Sym3& q,
                                 double eps2, double scale, Vec3* out) {
  auto times = [&q](const Vec3& x) {
    return Vec3{q[0] * x[0] + q[3] * x[1] + q[4] * x[2], q[3] * x[0] + q[1] * x[1] + q[5] * x[2],
                q[4] * x[0] + q[5] * x[1] + q[2] * x[2]};
  };
  auto dot = [](const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; };
  const double r2 = dot(d, d) + eps2;
  const double r5 = 1.0 / (r2 * r2 * std::sqrt(r2)), r7 = r5 / r2, r9 = r7 / r2;
  const Vec3 qd = times(d), qu = times(u);
  const double sd = dot(d, qd), w = dot(d, u), tr = q[0] + q[1] + q[2];
  const double sdot = 2.0 * dot(d, qu);
  for (int c = 0; c < 3; ++c) {
    const double f = 3.0 * qd[c] * r5 - 7.5 * sd * d[c] * r7 + 1.5 * tr * d[c] * r5;
    const double j = 3.0 * qu[c] * r5 - 15.0 * w * qd[c] * r7 -
                     7.5 * (sdot * d[c] + sd * u[c]) * r7 + 52.5 * sd * w * d[c] * r9 +
                     1.5 * tr * u[c] * r5 - 7.5 * tr * w * d[c] * r7;
    out[0][c] += scale * f;
    out[1][c] += scale * j;
  }
}

// The members' accelerations and jerks from each other, for their
// absolute derivatives (the centre of mass's plus these).
inline void internal_terms(const encounters::Subsystem& s, std::vector<std::array<Vec3, 4>>& out) {
  out.assign(s.m.size(), std::array<Vec3, 4>{});
  for (std::size_t k = 0; k < s.m.size(); ++k) {
    Vec3 aj[2] = {};
    for (std::size_t l = 0; l < s.m.size(); ++l) {
      if (l == k) continue;
      const Vec3 dx{s.x[l][0] - s.x[k][0], s.x[l][1] - s.x[k][1], s.x[l][2] - s.x[k][2]};
      const Vec3 dv{s.v[l][0] - s.v[k][0], s.v[l][1] - s.v[k][1], s.v[l][2] - s.v[k][2]};
      add_pair_terms<2>(dx, dv, Vec3{}, Vec3{}, s.m[l], 0.0, aj);
    }
    out[k][0] = s.x[k];
    out[k][1] = s.v[k];
    out[k][2] = aj[0];
    out[k][3] = aj[1];
  }
}

}  // namespace hermite

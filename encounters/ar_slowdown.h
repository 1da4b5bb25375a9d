// The slow-down of a weakly perturbed pair (Mikkola & Aarseth 1996): its
// internal motion runs kappa times slower while the perturbation acts at
// full strength, so that one orbit integrated stands for kappa orbits, with
// their summed (secular) effect of the perturbation. Valid while the
// perturbation changes little over kappa orbits and kappa times it stays
// small against the pair's own force.
//
// Contract:
// - ar_advance_slowed(s, t_target, p, kappa) advances s from s.t to
//   t_target (s.t == t_target on return) along the equations
//   dx/dt = v / kappa, dv/dt = a_internal / kappa + a_perturbation(t):
//   in the slowed clock tau = t0 + (t - t0) / kappa it is ar_advance with
//   the perturbation times kappa, called at t = t0 + kappa (tau - t0).
//   kappa = 1 is ar_advance itself. The internal energy changes by the
//   increase of s.work (the work of the perturbation in physical time).
//   The orbital phase at t_target is that of (t_target - t0) / kappa of
//   motion: only the elements' evolution is physical.
// - kappa must be finite and >= 1 (std::invalid_argument otherwise).
//   Where kappa does not divide the span into whole orbits, the internal
//   energy ends with kappa times the short-period response of the last
//   partial orbit (ar_advance_whole_orbits avoids it).
// - On a failed integration (std::runtime_error) the record is left at its
//   last accepted step with s.t in physical time.
#pragma once

#include "subsystem.h"

namespace encounters {

void ar_advance_slowed(Subsystem& s, double t_target, const Perturbation& p, double kappa,
                       const ArSettings& settings = {});

// A perturbed pair advanced to t_target with the slow-down over whole
// orbits, for a caller that needs the members at their physical phase (it
// takes their positions for its own forces and energies):
// - k = floor((t_target - s.t) / P) whole periods P of the pair's orbit at
//   the start stand for n = max(ceil(k gamma / gamma_slow),
//   ceil(k / kappa_max)) orbits integrated slowed by kappa = k / n; the
//   rest of the span (under one period) is integrated in full.
// - The slowed part ends where its orbit began, so that the short-period
//   response to the perturbation, kappa times too large inside it, is
//   back near zero and does not stay in the internal energy; its secular
//   change over the k orbits stays. The part integrated in full carries
//   the phase on, as the perturbed orbit would.
// - Returns kappa; 1 (ar_advance itself) where k < 2, n >= k, gamma_slow
//   <= 0, or s is not a bound pair.
// The work booked is that of the perturbation in physical time, as above.
double ar_advance_whole_orbits(Subsystem& s, double t_target, const Perturbation& p, double gamma,
                               double gamma_slow, double kappa_max,
                               const ArSettings& settings = {});

}  // namespace encounters

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
// - On a failed integration (std::runtime_error) the record is left at its
//   last accepted step with s.t in physical time.
#pragma once

#include "subsystem.h"

namespace encounters {

// The slow-down factor of a pair of period `period` perturbed by gamma over
// a span `span` of its caller's steps: the largest power of two (at most
// kappa_max) such that kappa gamma <= gamma_slow and kappa period <= span;
// 1 where none fits.
double slowdown_factor(double gamma, double gamma_slow, double period, double span,
                       double kappa_max);

void ar_advance_slowed(Subsystem& s, double t_target, const Perturbation& p, double kappa,
                       const ArSettings& settings = {});

}  // namespace encounters

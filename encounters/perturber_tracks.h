// The perturbation of a subsystem over one span of its centre of mass,
// built once per span from the perturbers' states at its two ends, so that
// the many evaluations of a regularised integration inside the span cost a
// few operations per perturber instead of a prediction each.
//
// Contract:
// - A track is a perturber's position and velocity relative to the
//   subsystem's centre of mass at both ends t0 <= t1 of the span; inside the
//   span (and a little beyond, where a trial step of the integration
//   overshoots) the relative position is the cubic Hermite interpolant of
//   the two ends (exact for motion of constant jerk; the error grows as
//   (t1 - t0)^4).
// - Near perturbers act by their own point-mass force on each member. Far
//   perturbers (the caller decides which) act through their summed tidal
//   tensor at the centre of mass, interpolated in time the same way from
//   the tensor and its rate at both ends: acc = T x. The tensor leaves out
//   the octupole and higher terms, a fraction ~ size / d of each far body's
//   tidal force.
// - Softened by eps2 as the caller's point-mass terms are (0: unsoftened).
// - The callback holds its own copy of the tracks; it keeps no other state
//   and may be called from several threads.
#pragma once

#include <array>
#include <vector>

#include "subsystem.h"

namespace encounters {

struct PerturberTrack {
  double m = 0.0;
  Vec3 x0{}, v0{}, x1{}, v1{};  // relative to the centre of mass, at t0 and t1
};

struct PerturberTracks {
  double t0 = 0.0, t1 = 0.0;
  double eps2 = 0.0;
  std::vector<PerturberTrack> near;
  // The far perturbers' tidal tensor and its time derivative at t0 and t1.
  Sym3 tide0{}, rate0{}, tide1{}, rate1{};
  int far = 0;  // how many far perturbers the tensor holds
};

// The tidal tensor of a body of mass m at d (relative to the point where
// the tensor applies), moving with u relative to it: T and dT/dt, added to
// tide and rate.
void add_tide(double m, const Vec3& d, const Vec3& u, double eps2, Sym3& tide, Sym3& rate);

// Takes a far perturber's track into the tensors at both ends.
void add_far_perturber(PerturberTracks& p, const PerturberTrack& track);

// The perturbation of the tracks, for ar_advance. Inactive (empty
// callback) where there are no perturbers.
Perturbation tracks_perturbation(PerturberTracks p);

}  // namespace encounters

// The perturbation built from perturber tracks (perturber_tracks.h) against
// point-mass forces summed directly along the perturbers' paths: a near
// perturber on a path of constant acceleration (which the cubic holds
// exactly), far perturbers through the tidal tensor (which leaves out terms
// of relative size ~ size / d), and the tensor's rate against a difference
// quotient of the tensor.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "perturber_tracks.h"

namespace {

using encounters::PerturberTrack;
using encounters::PerturberTracks;
using encounters::Vec3;

// A path of constant acceleration relative to the centre of mass.
struct Path {
  Vec3 x, v, a;
  Vec3 at(double t) const {
    return {x[0] + t * (v[0] + 0.5 * t * a[0]), x[1] + t * (v[1] + 0.5 * t * a[1]),
            x[2] + t * (v[2] + 0.5 * t * a[2])};
  }
  Vec3 vel(double t) const { return {v[0] + t * a[0], v[1] + t * a[1], v[2] + t * a[2]}; }
};

PerturberTrack track(double m, const Path& p, double t0, double t1) {
  return {m, p.at(t0), p.vel(t0), p.at(t1), p.vel(t1)};
}

// Acceleration at x by a mass m at p, unsoftened.
Vec3 pull(double m, const Vec3& p, const Vec3& x) {
  const Vec3 d{p[0] - x[0], p[1] - x[1], p[2] - x[2]};
  const double r = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  return {m * d[0] / (r * r * r), m * d[1] / (r * r * r), m * d[2] / (r * r * r)};
}

double size_of(const Vec3& a) { return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]); }

const std::vector<Vec3> kMembers{{1e-3, 2e-4, -3e-4}, {-5e-4, -1e-4, 1.5e-4}, {-2e-4, 4e-4, 1e-4}};

TEST(PerturberTracks, NearPerturberFollowsItsPathExactly) {
  const Path path{{0.02, -0.01, 0.005}, {-0.3, 0.2, 0.1}, {1.5, -0.7, 0.4}};
  PerturberTracks tr;
  tr.t0 = 0.25;
  tr.t1 = 0.25 + 1.0 / 64;
  tr.near.push_back(track(0.003, path, tr.t0, tr.t1));
  const encounters::Perturbation p = encounters::tracks_perturbation(tr);
  ASSERT_TRUE(p.active());
  // Inside the span and a little past either end (trial steps overshoot).
  for (double s : {-0.1, 0.0, 0.3, 0.5, 0.77, 1.0, 1.2}) {
    const double t = tr.t0 + s * (tr.t1 - tr.t0);
    std::vector<Vec3> acc(kMembers.size(), Vec3{});
    p.tidal(t, kMembers, acc);
    for (std::size_t k = 0; k < kMembers.size(); ++k) {
      const Vec3 want = pull(0.003, path.at(t), kMembers[k]);
      for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(acc[k][c], want[c], 1e-11 * size_of(want)) << "s = " << s << ", member " << k;
    }
  }
}

TEST(PerturberTracks, FarPerturbersActThroughTheirTidalTensor) {
  // Three bodies at ~100 times the members' distance, moving; the tensor's
  // field against the direct differential pull (member less centre).
  const std::vector<Path> paths{{{0.12, 0.03, -0.05}, {0.4, -0.2, 0.3}, {-2.0, 1.0, 0.5}},
                                {{-0.08, 0.1, 0.02}, {-0.1, -0.5, 0.2}, {0.5, 1.5, -1.0}},
                                {{0.01, -0.09, 0.11}, {0.3, 0.3, -0.4}, {1.0, 0.2, 0.3}}};
  const std::vector<double> masses{0.002, 0.001, 0.004};
  PerturberTracks tr;
  tr.t0 = 3.0;
  tr.t1 = 3.0 + 1.0 / 32;
  for (std::size_t q = 0; q < paths.size(); ++q)
    encounters::add_far_perturber(tr, track(masses[q], paths[q], 0.0, tr.t1 - tr.t0));
  EXPECT_EQ(tr.far, 3);
  const encounters::Perturbation p = encounters::tracks_perturbation(tr);
  for (double s : {0.0, 0.4, 1.0}) {
    const double t = tr.t0 + s * (tr.t1 - tr.t0);
    std::vector<Vec3> acc(kMembers.size(), Vec3{});
    p.tidal(t, kMembers, acc);
    for (std::size_t k = 0; k < kMembers.size(); ++k) {
      Vec3 want{};
      for (std::size_t q = 0; q < paths.size(); ++q) {
        const Vec3 on_member = pull(masses[q], paths[q].at(t - tr.t0), kMembers[k]);
        const Vec3 on_centre = pull(masses[q], paths[q].at(t - tr.t0), Vec3{});
        for (int c = 0; c < 3; ++c) want[c] += on_member[c] - on_centre[c];
      }
      // The octupole left out: ~ 1e-3 / 0.1 of the tidal term, and the
      // interpolation's error in time over a span of 1/32.
      for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(acc[k][c], want[c], 0.03 * size_of(want)) << "s = " << s << ", member " << k;
    }
  }
}

TEST(PerturberTracks, TensorRateIsTheTimeDerivativeOfTheTensor) {
  const Path path{{0.3, -0.2, 0.4}, {0.7, 0.5, -0.9}, {0.0, 0.0, 0.0}};
  const double h = 1e-5;
  encounters::Sym3 t_plus{}, t_minus{}, rate{}, unused{};
  encounters::add_tide(0.01, path.at(h), path.vel(h), 0.0, t_plus, unused);
  encounters::add_tide(0.01, path.at(-h), path.vel(-h), 0.0, t_minus, unused);
  encounters::Sym3 tide{};
  encounters::add_tide(0.01, path.at(0.0), path.vel(0.0), 0.0, tide, rate);
  for (int q = 0; q < 6; ++q) {
    const double quotient = (t_plus[q] - t_minus[q]) / (2.0 * h);
    EXPECT_NEAR(rate[q], quotient, 1e-6 * std::fabs(tide[0])) << "component " << q;
  }
  // Trace-free (unsoftened): the tidal field of a point mass has no
  // divergence.
  EXPECT_NEAR(tide[0] + tide[1] + tide[2], 0.0, 1e-12 * std::fabs(tide[0]));
}

TEST(PerturberTracks, NoPerturbersNoPerturbation) {
  EXPECT_FALSE(encounters::tracks_perturbation(PerturberTracks{}).active());
}

}  // namespace

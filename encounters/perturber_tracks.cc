#include "perturber_tracks.h"

#include <cmath>
#include <utility>

namespace encounters {

namespace {

// Cubic Hermite basis on [t0, t1] at the time t: the weights of the values
// at both ends (w[0], w[2]) and of their derivatives (w[1], w[3], with the
// span's length folded in). A span of zero length extrapolates linearly from
// the start.
std::array<double, 4> hermite_weights(double t0, double t1, double t) {
  const double h = t1 - t0;
  if (!(h > 0.0)) return {1.0, t - t0, 0.0, 0.0};
  const double s = (t - t0) / h;
  const double s2 = s * s, s3 = s2 * s;
  return {2.0 * s3 - 3.0 * s2 + 1.0, h * (s3 - 2.0 * s2 + s), 3.0 * s2 - 2.0 * s3, h * (s3 - s2)};
}

}  // namespace

void add_tide(double m, const Vec3& d, const Vec3& u, double eps2, Sym3& tide, Sym3& rate) {
  const double r2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2] + eps2;
  const double inv2 = 1.0 / r2;
  const double inv3 = m * inv2 / std::sqrt(r2);  // m / r^3
  const double inv5 = inv3 * inv2;               // m / r^5
  const double du = d[0] * u[0] + d[1] * u[1] + d[2] * u[2];
  static constexpr int a_of[6] = {0, 1, 2, 0, 0, 1};
  static constexpr int b_of[6] = {0, 1, 2, 1, 2, 2};
  for (int q = 0; q < 6; ++q) {
    const int a = a_of[q], b = b_of[q];
    const double diag = a == b ? 1.0 : 0.0;
    tide[q] += 3.0 * inv5 * d[a] * d[b] - diag * inv3;
    rate[q] += 3.0 * inv5 * (u[a] * d[b] + d[a] * u[b]) - 15.0 * inv5 * inv2 * du * d[a] * d[b] +
               3.0 * inv5 * du * diag;
  }
}

void add_far_perturber(PerturberTracks& p, const PerturberTrack& track) {
  add_tide(track.m, track.x0, track.v0, p.eps2, p.tide0, p.rate0);
  add_tide(track.m, track.x1, track.v1, p.eps2, p.tide1, p.rate1);
  ++p.far;
}

Perturbation tracks_perturbation(PerturberTracks p) {
  Perturbation out;
  if (p.near.empty() && p.far == 0) return out;
  out.tidal = [p = std::move(p)](double t, const std::vector<Vec3>& x, std::vector<Vec3>& acc) {
    const std::array<double, 4> w = hermite_weights(p.t0, p.t1, t);
    for (const PerturberTrack& k : p.near) {
      Vec3 at;
      for (int c = 0; c < 3; ++c)
        at[c] = w[0] * k.x0[c] + w[1] * k.v0[c] + w[2] * k.x1[c] + w[3] * k.v1[c];
      for (std::size_t i = 0; i < x.size(); ++i) {
        const Vec3 dx{at[0] - x[i][0], at[1] - x[i][1], at[2] - x[i][2]};
        const double r2 = dx[0] * dx[0] + dx[1] * dx[1] + dx[2] * dx[2] + p.eps2;
        const double f = k.m / (r2 * std::sqrt(r2));
        for (int c = 0; c < 3; ++c) acc[i][c] += f * dx[c];
      }
    }
    if (p.far == 0) return;
    Sym3 T;
    for (int q = 0; q < 6; ++q)
      T[q] = w[0] * p.tide0[q] + w[1] * p.rate0[q] + w[2] * p.tide1[q] + w[3] * p.rate1[q];
    for (std::size_t i = 0; i < x.size(); ++i) {
      const Vec3& r = x[i];
      acc[i][0] += T[0] * r[0] + T[3] * r[1] + T[4] * r[2];
      acc[i][1] += T[3] * r[0] + T[1] * r[1] + T[5] * r[2];
      acc[i][2] += T[4] * r[0] + T[5] * r[1] + T[2] * r[2];
    }
  };
  return out;
}

}  // namespace encounters

#include "field.h"

#include <cmath>

namespace fields {

void Field::add(double t, const Vec3& x, const Vec3& v, int K, Vec3* f) const {
  // Term n of the field needs the total derivatives below it: each is
  // complete once the field's share of it is added.
  Vec3 motion[3] = {}, out[4];
  for (int n = 0; n < K; ++n) {
    derivatives(t, x, v, motion, n + 1, out);
    for (int c = 0; c < 3; ++c) f[n][c] += out[n][c];
    if (n < 3) motion[n] = f[n];
  }
}

void Field::stepped(double m, double t0, const Vec3& x0, const Vec3& v0, const Vec3& a0, double t1,
                    const Vec3& x1, const Vec3& v1, const Vec3& a1) {
  if (!time_dependent()) return;
  double p0[3], p1[3];
  power(t0, x0, v0, a0, p0);
  power(t1, x1, v1, a1, p1);
  // The two-point Hermite quadrature with two derivatives at each end (the
  // sixth-order corrector's weights).
  const double h = t1 - t0;
  work_ += m * h *
           (0.5 * (p0[0] + p1[0]) + h / 10.0 * (p0[1] - p1[1]) + h * h / 120.0 * (p0[2] + p1[2]));
}

double external_energy(const Field& field, double t, const std::vector<double>& mass,
                       const std::vector<Vec3>& pos) {
  double e = 0.0;
  for (std::size_t i = 0; i < mass.size(); ++i) {
    if (mass[i] != 0.0) e += mass[i] * field.potential(t, pos[i]);
  }
  return e;
}

std::vector<Vec3> inertial_velocities(const Field& field, const std::vector<Vec3>& pos,
                                      const std::vector<Vec3>& vel) {
  const double w = field.frame_omega();
  std::vector<Vec3> out = vel;
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i][0] -= w * pos[i][1];
    out[i][1] += w * pos[i][0];
  }
  return out;
}

Vec3 unrotated(double omega, double t, double x0, const Vec3& x) {
  const double c = std::cos(omega * t), s = std::sin(omega * t), px = x0 + x[0];
  return Vec3{c * px - s * x[1], s * px + c * x[1], x[2]};
}

}  // namespace fields

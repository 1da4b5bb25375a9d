// A hard binary planted at the centre of a model, for the tests of
// regularised pairs inside a cluster.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "model.h"

namespace hermite_test {

// Replaces the two bodies nearest the origin by a binary of their masses,
// semi-major axis a and eccentricity e, at pericentre along x, about their
// former centre of mass and with its velocity.
inline void plant_binary(hermite::Model& m, double a, double e) {
  std::vector<int> order(static_cast<std::size_t>(m.size()));
  for (int k = 0; k < m.size(); ++k) order[static_cast<std::size_t>(k)] = k;
  auto r2 = [&m](int k) {
    const hermite::Vec3& x = m.pos[static_cast<std::size_t>(k)];
    return x[0] * x[0] + x[1] * x[1] + x[2] * x[2];
  };
  std::sort(order.begin(), order.end(), [&](int p, int q) { return r2(p) < r2(q); });
  const auto i = static_cast<std::size_t>(order[0]), j = static_cast<std::size_t>(order[1]);
  const double mi = m.mass[i], mj = m.mass[j], mass = mi + mj;
  const double rp = a * (1.0 - e), vp = std::sqrt(mass * (1.0 + e) / rp);
  for (int c = 0; c < 3; ++c) {
    const double x = (mi * m.pos[i][c] + mj * m.pos[j][c]) / mass;
    const double v = (mi * m.vel[i][c] + mj * m.vel[j][c]) / mass;
    m.pos[i][c] = m.pos[j][c] = x;
    m.vel[i][c] = m.vel[j][c] = v;
  }
  m.pos[i][0] -= mj / mass * rp;
  m.pos[j][0] += mi / mass * rp;
  m.vel[i][1] -= mj / mass * vp;
  m.vel[j][1] += mi / mass * vp;
}

}  // namespace hermite_test

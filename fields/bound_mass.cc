#include "bound_mass.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace fields {

Bound bound_mass(const Field& field, double t, const std::vector<double>& mass,
                 const std::vector<Vec3>& pos, const std::vector<Vec3>& vel,
                 const std::vector<double>& pot, const Vec3& centre) {
  const std::size_t n = mass.size();
  std::vector<double> r(n);
  std::vector<std::size_t> order;
  order.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    r[i] = std::hypot(pos[i][0] - centre[0], pos[i][1] - centre[1], pos[i][2] - centre[2]);
    if (mass[i] > 0.0) order.push_back(i);
  }
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return r[a] < r[b] || (r[a] == r[b] && a < b); });
  // Cumulative mass by distance, summed in one fixed order.
  std::vector<double> inside(order.size());
  double sum = 0.0;
  for (std::size_t k = 0; k < order.size(); ++k) inside[k] = sum += mass[order[k]];
  Bound b;
  double m = sum;
  std::size_t count = order.size();
  for (std::size_t pass = 0; pass <= order.size() && m > 0.0; ++pass) {
    const double rj = field.jacobi_radius(t, m);
    // Stars strictly inside rj.
    std::size_t k = 0;
    while (k < order.size() && r[order[k]] < rj) ++k;
    const double next = k == 0 ? 0.0 : inside[k - 1];
    b.r_jacobi = rj;
    count = k;
    if (next == m) break;
    m = next;
  }
  b.mass = m;
  b.n = static_cast<int>(m > 0.0 ? count : 0);
  if (m > 0.0) {
    const Vec3 out = field.outward(t);
    const Vec3 l1{centre[0] - b.r_jacobi * out[0], centre[1] - b.r_jacobi * out[1],
                  centre[2] - b.r_jacobi * out[2]};
    const double e_crit = -m / b.r_jacobi + field.potential(t, l1);
    for (std::size_t k = 0; k < count; ++k) {
      const std::size_t i = order[k];
      const Vec3& v = vel[i];
      const double e =
          0.5 * (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) + pot[i] + field.potential(t, pos[i]);
      if (e > e_crit) ++b.n_pot_esc;
    }
  } else {
    b.r_jacobi = 0.0;
  }
  return b;
}

}  // namespace fields

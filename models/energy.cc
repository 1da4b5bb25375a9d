// Centre of mass, kinetic and potential energies of the systems.
#include "energy.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace models {

void centre(std::vector<double>& m, std::vector<double>& x, std::vector<double>& v) {
  double total = 0.0, xc[3] = {0, 0, 0}, vc[3] = {0, 0, 0};
  for (std::size_t i = 0; i < m.size(); ++i) {
    total += m[i];
    for (int k = 0; k < 3; ++k) {
      xc[k] += m[i] * x[3 * i + k];
      vc[k] += m[i] * v[3 * i + k];
    }
  }
  for (std::size_t i = 0; i < m.size(); ++i) {
    for (int k = 0; k < 3; ++k) {
      x[3 * i + k] -= xc[k] / total;
      v[3 * i + k] -= vc[k] / total;
    }
  }
}

double kinetic_energy(const std::vector<double>& m, const std::vector<double>& v) {
  double sum = 0.0;
  for (std::size_t i = 0; i < m.size(); ++i) {
    const double* w = &v[3 * i];
    sum += 0.5 * m[i] * (w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
  }
  return sum;
}

double pair_potential_energy(const std::vector<double>& m, const std::vector<double>& x) {
  const auto n = static_cast<std::int64_t>(m.size());
  std::vector<double> row(m.size(), 0.0);
#pragma omp parallel for schedule(dynamic, 64)
  for (std::int64_t i = 0; i < n; ++i) {
    double sum = 0.0;
    const double* xi = &x[3 * i];
    for (std::int64_t j = i + 1; j < n; ++j) {
      const double* xj = &x[3 * j];
      const double dx = xj[0] - xi[0], dy = xj[1] - xi[1], dz = xj[2] - xi[2];
      sum += m[j] / std::sqrt(dx * dx + dy * dy + dz * dz);
    }
    row[i] = m[i] * sum;
  }
  double total = 0.0;
  for (double r : row) total += r;
  return -total;
}

std::vector<std::int64_t> radial_order(const std::vector<double>& x) {
  const std::size_t n = x.size() / 3;
  std::vector<double> r2(n);
  for (std::size_t i = 0; i < n; ++i) {
    r2[i] = x[3 * i] * x[3 * i] + x[3 * i + 1] * x[3 * i + 1] + x[3 * i + 2] * x[3 * i + 2];
  }
  std::vector<std::int64_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](std::int64_t a, std::int64_t b) {
    return r2[a] < r2[b] || (r2[a] == r2[b] && a < b);
  });
  return order;
}

double shell_potential_energy(const std::vector<double>& m, const std::vector<double>& x) {
  const std::vector<std::int64_t> order = radial_order(x);
  double inside = 0.0, sum = 0.0;
  for (const std::int64_t i : order) {
    const double r =
        std::sqrt(x[3 * i] * x[3 * i] + x[3 * i + 1] * x[3 * i + 1] + x[3 * i + 2] * x[3 * i + 2]);
    if (inside > 0.0) sum += m[i] * inside / r;
    inside += m[i];
  }
  return -sum;
}

}  // namespace models

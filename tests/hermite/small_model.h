// A small softened model for convergence measurements, and the exact
// double-precision energy and state differences used to judge them.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "model.h"

namespace hermite_test {

using hermite::Model;
using hermite::Vec3;

// Softening of the small model: large enough that its eight bodies never
// come close on the scale of the steps used, so that the error of a run is
// the truncation error of the scheme.
constexpr double kSmallEps = 0.2;

// Eight equal masses drawn once from a Plummer-like profile with small
// random velocities (kept as literals so that the model is the same on
// every platform).
inline Model small_model() {
  static const double pv[8][6] = {
      {-0.96170627427707922, -0.61236439157695799, 0.87418389139264108, -0.095952696430743847,
       -0.03784790996368028, 0.033304395790178291},
      {-0.55194479851947742, -1.8876246423276068, 0.30792084655431928, 0.10036778643602828,
       0.085809509447405841, 0.11844764695990623},
      {-0.057158236760689811, 0.82024374818297585, -1.2055743313850555, -0.01449654239904777,
       0.065696858498001026, 0.22803100741686924},
      {-3.2997056126664335, 3.0735714287044154, 0.058091695916706862, 0.018731140648190016,
       0.0037851993265776204, 0.013294463216997055},
      {-1.2030351362731342, 1.686068990709533, 1.1636481021150453, -0.090559226306548918,
       -0.12846929922440978, 0.044341491057180077},
      {0.0010269465635286911, 0.45364405481515507, -0.12503708416582388, -0.16963294516999755,
       -0.20435369205741247, 0.024508983179582292},
      {0.93896753893715601, -0.69676073138801187, 1.6448522132075134, 0.18654581714947915,
       -0.034550117215145393, 0.025700516784384553},
      {-1.2701406064891296, 0.99386074013197934, -0.48936576553282451, 0.16625412899154932,
       -0.070376434188030038, -0.0303482290674752}};
  Model m;
  for (const auto& p : pv) {
    m.mass.push_back(1.0 / 8);
    m.pos.push_back(Vec3{p[0], p[1], p[2]});
    m.vel.push_back(Vec3{p[3], p[4], p[5]});
  }
  return m;
}

// Total energy with softening eps, all in double precision.
inline double exact_energy(const std::vector<double>& m, const std::vector<Vec3>& x,
                           const std::vector<Vec3>& v, double eps) {
  double e = 0.0;
  for (std::size_t i = 0; i < m.size(); ++i) {
    e += 0.5 * m[i] * (v[i][0] * v[i][0] + v[i][1] * v[i][1] + v[i][2] * v[i][2]);
    for (std::size_t j = i + 1; j < m.size(); ++j) {
      double r2 = eps * eps;
      for (int c = 0; c < 3; ++c) r2 += (x[i][c] - x[j][c]) * (x[i][c] - x[j][c]);
      e -= m[i] * m[j] / std::sqrt(r2);
    }
  }
  return e;
}

// Largest component difference of two particle lists.
inline double max_difference(const std::vector<Vec3>& a, const std::vector<Vec3>& b) {
  double d = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    for (int c = 0; c < 3; ++c) d = std::max(d, std::fabs(a[i][c] - b[i][c]));
  }
  return d;
}

}  // namespace hermite_test

// A force backend for the integrator in plain double precision: the test
// suite's direct sums (support/reference.h) of softened gravity and its
// first three time derivatives. With it the integrator's own truncation
// error can be measured far below the rounding of the single-precision
// force libraries.
#pragma once

#include <vector>

#include "integrator.h"
#include "support/reference.h"

namespace hermite_test {

using hermite::Vec3;

template <int K>
class DirectBackend {
 public:
  DirectBackend(const std::vector<double>& mass, int js, int je, double eps)
      : mass_(mass), js_(js), je_(je), eps2_(eps * eps) {}

  void forces(const std::vector<int>& list, const hermite::Predicted& p, Vec3* out) {
    std::vector<nbtest::Particle> sources;
    for (int j = js_; j < je_; ++j) sources.push_back(particle(p, j));
    for (std::size_t k = 0; k < list.size(); ++k) {
      const nbtest::Derivs d = nbtest::reference_derivs(particle(p, list[k]), sources, eps2_);
      const double* q[4] = {d.acc, d.jrk, d.snp, d.crk};
      for (int n = 0; n < K; ++n)
        for (int c = 0; c < 3; ++c) out[k * K + n][c] = q[n][c];
    }
  }

  void potential(const std::vector<Vec3>& pos, double* pot) {
    std::vector<nbtest::Particle> all(pos.size());
    for (std::size_t i = 0; i < pos.size(); ++i) {
      all[i].m = mass_[i];
      for (int c = 0; c < 3; ++c) all[i].x[c] = pos[i][c];
    }
    for (std::size_t i = 0; i < pos.size(); ++i)
      pot[i] = nbtest::reference_potential(all, static_cast<int>(i), js_, je_, eps2_);
  }

 private:
  // The predicted state of particle i; a and j stay zero where the order
  // does not predict them.
  nbtest::Particle particle(const hermite::Predicted& p, int i) const {
    const auto k = static_cast<std::size_t>(i);
    nbtest::Particle q{};
    q.m = mass_[k];
    for (int c = 0; c < 3; ++c) {
      q.x[c] = p.x[k][c];
      q.v[c] = p.v[k][c];
      if (K >= 3) q.a[c] = p.a[k][c];
      if (K >= 4) q.j[c] = p.j[k][c];
    }
    return q;
  }

  const std::vector<double>& mass_;
  int js_, je_;
  double eps2_;
};

}  // namespace hermite_test

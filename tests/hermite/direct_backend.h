// A force backend for the integrator in plain double precision: softened
// gravity and its first three time derivatives by direct summation, from
// the Taylor coefficients of each pair's relative motion. With it the
// integrator's own truncation error can be measured far below the rounding
// of the single-precision force libraries.
#pragma once

#include <cmath>
#include <vector>

#include "integrator.h"

namespace hermite_test {

using hermite::Vec3;

inline double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

template <int K>
class DirectBackend {
 public:
  DirectBackend(const std::vector<double>& mass, int js, int je, double eps)
      : mass_(mass), js_(js), je_(je), eps2_(eps * eps) {}

  // With r, v, A, J the relative position, velocity, acceleration and jerk
  // of the pair and R2 = r.r + eps2:
  //   alpha = r.v / R2,  beta = (v.v + r.A) / R2 + alpha^2,
  //   gamma = (3 v.A + r.J) / R2 + alpha (3 beta - 4 alpha^2),
  //   a = m r / R2^1.5,  j = m v / R2^1.5 - 3 alpha a,
  //   s = m A / R2^1.5 - 6 alpha j - 3 beta a,
  //   c = m J / R2^1.5 - 9 alpha s - 9 beta j - 3 gamma a.
  void forces(const std::vector<int>& list, const hermite::Predicted& p, Vec3* out) {
    for (std::size_t k = 0; k < list.size(); ++k) {
      const auto i = static_cast<std::size_t>(list[k]);
      Vec3* d = out + k * K;
      for (int n = 0; n < K; ++n) d[n] = Vec3{};
      for (int jj = js_; jj < je_; ++jj) {
        const auto j = static_cast<std::size_t>(jj);
        if (j == i) continue;
        Vec3 r, v, A{}, J{};
        for (int c = 0; c < 3; ++c) {
          r[c] = p.x[j][c] - p.x[i][c];
          v[c] = p.v[j][c] - p.v[i][c];
          if (K >= 3) A[c] = p.a[j][c] - p.a[i][c];
          if (K >= 4) J[c] = p.j[j][c] - p.j[i][c];
        }
        const double r2 = dot(r, r) + eps2_;
        const double rinv2 = 1.0 / r2;
        const double mr3 = mass_[j] * rinv2 / std::sqrt(r2);
        const double alpha = dot(r, v) * rinv2;
        const double beta = (dot(v, v) + dot(r, A)) * rinv2 + alpha * alpha;
        const double gamma =
            (3.0 * dot(v, A) + dot(r, J)) * rinv2 + alpha * (3.0 * beta - 4.0 * alpha * alpha);
        Vec3 a, jr, s;
        for (int c = 0; c < 3; ++c) {
          a[c] = mr3 * r[c];
          jr[c] = mr3 * v[c] - 3.0 * alpha * a[c];
          s[c] = mr3 * A[c] - 6.0 * alpha * jr[c] - 3.0 * beta * a[c];
          d[0][c] += a[c];
          d[1][c] += jr[c];
          if (K >= 3) d[2][c] += s[c];
          if (K >= 4) {
            d[3][c] += mr3 * J[c] - 9.0 * alpha * s[c] - 9.0 * beta * jr[c] - 3.0 * gamma * a[c];
          }
        }
      }
    }
  }

  void potential(const std::vector<Vec3>& pos, double* pot) {
    for (std::size_t i = 0; i < pos.size(); ++i) {
      double sum = 0.0;
      for (int jj = js_; jj < je_; ++jj) {
        const auto j = static_cast<std::size_t>(jj);
        if (j == i) continue;
        Vec3 r;
        for (int c = 0; c < 3; ++c) r[c] = pos[j][c] - pos[i][c];
        sum -= mass_[j] / std::sqrt(dot(r, r) + eps2_);
      }
      pot[i] = sum;
    }
  }

 private:
  const std::vector<double>& mass_;
  int js_, je_;
  double eps2_;
};

}  // namespace hermite_test

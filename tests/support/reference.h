// Independent double-precision direct sums: acceleration and its first three
// time derivatives, and the potential, of softened gravity (G = 1), written
// from the physics, not from the kernels. Alongside each sum, the sum of the
// magnitudes of its pair terms, the scale against which single-precision
// arithmetic can be judged.
#pragma once

#include <cmath>
#include <vector>

#include "support/cloud.h"

namespace nbtest {

struct Derivs {
  double acc[3] = {}, jrk[3] = {}, snp[3] = {}, crk[3] = {};
  // Sums over j of |term_j| per quantity (acc, jrk, snp, crk).
  double scale[4] = {};
};

inline double dot(const double* a, const double* b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
inline double norm(const double* a) { return std::sqrt(dot(a, a)); }

// Derivatives on target i due to sources js[0..], all from the Taylor
// coefficients of the relative motion: with r = x_j - x_i, v, A, J the
// relative velocity, acceleration and jerk, R2 = r.r + eps2,
//   alpha = r.v / R2, beta = (v.v + r.A) / R2 + alpha^2,
//   gamma = (3 v.A + r.J) / R2 + alpha (3 beta - 4 alpha^2),
//   a = m r / R2^1.5, j = m v / R2^1.5 - 3 alpha a,
//   s = m A / R2^1.5 - 6 alpha j - 3 beta a,
//   c = m J / R2^1.5 - 9 alpha s - 9 beta j - 3 gamma a.
// A source at the target's exact position contributes nothing.
inline Derivs reference_derivs(const Particle& i, const std::vector<Particle>& sources,
                               double eps2) {
  Derivs out;
  for (const Particle& j : sources) {
    double r[3], v[3], A[3], J[3];
    for (int c = 0; c < 3; ++c) {
      r[c] = j.x[c] - i.x[c];
      v[c] = j.v[c] - i.v[c];
      A[c] = j.a[c] - i.a[c];
      J[c] = j.j[c] - i.j[c];
    }
    if (r[0] == 0.0 && r[1] == 0.0 && r[2] == 0.0) continue;
    const double R2 = dot(r, r) + eps2;
    const double mr3 = j.m / (R2 * std::sqrt(R2));
    const double alpha = dot(r, v) / R2;
    const double beta = (dot(v, v) + dot(r, A)) / R2 + alpha * alpha;
    const double gamma =
        (3.0 * dot(v, A) + dot(r, J)) / R2 + alpha * (3.0 * beta - 4.0 * alpha * alpha);
    double a[3], jk[3], s[3], k[3];
    for (int c = 0; c < 3; ++c) {
      a[c] = mr3 * r[c];
      jk[c] = mr3 * v[c] - 3.0 * alpha * a[c];
      s[c] = mr3 * A[c] - 6.0 * alpha * jk[c] - 3.0 * beta * a[c];
      k[c] = mr3 * J[c] - 9.0 * alpha * s[c] - 9.0 * beta * jk[c] - 3.0 * gamma * a[c];
      out.acc[c] += a[c];
      out.jrk[c] += jk[c];
      out.snp[c] += s[c];
      out.crk[c] += k[c];
    }
    out.scale[0] += norm(a);
    out.scale[1] += norm(jk);
    out.scale[2] += norm(s);
    out.scale[3] += norm(k);
  }
  return out;
}

// Potential of target i due to sources [js, je); also the sum of |terms|.
inline double reference_potential(const std::vector<Particle>& p, int i, int js, int je,
                                  double eps2, double* scale = nullptr) {
  double sum = 0.0, mag = 0.0;
  for (int j = js; j < je; ++j) {
    double r[3];
    for (int c = 0; c < 3; ++c) r[c] = p[j].x[c] - p[i].x[c];
    if (r[0] == 0.0 && r[1] == 0.0 && r[2] == 0.0) continue;
    const double term = p[j].m / std::sqrt(dot(r, r) + eps2);
    sum -= term;
    mag += term;
  }
  if (scale) *scale = mag;
  return sum;
}

// Largest over axes of |got - want| / scale.
inline double relative_error(const double* got, const double* want, double scale) {
  double worst = 0.0;
  for (int c = 0; c < 3; ++c) worst = std::fmax(worst, std::fabs(got[c] - want[c]) / scale);
  return worst;
}

}  // namespace nbtest

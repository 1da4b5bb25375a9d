// An independent reference for the encounter tests: the classical fourth-
// order Runge-Kutta method with a fixed step in the regularised time s of
// dt/ds = 1/U (U = sum m_i m_j / r_ij), on the absolute positions and
// velocities of N point masses (G = 1), with an optional external
// acceleration f(t, x) and the work it does. Written apart from the library
// (no shared code), in a floating-point type of the caller's choice.
#pragma once

#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <vector>

namespace reference {

template <typename Real>
struct Bodies {
  std::vector<Real> m;
  std::vector<Real> q;  // x0 y0 z0 x1 ... then vx0 vy0 vz0 vx1 ...: 6N values
  Real t = 0;
  Real work = 0;  // work done by the external acceleration
};

template <typename Real>
using External = std::function<void(Real t, const Real* x, Real* f)>;  // f: 3N values, zeroed

// d(t, q, work)/ds at (t, q).
template <typename Real>
void derivative(const std::vector<Real>& m, Real t, const std::vector<Real>& q,
                const External<Real>& ext, Real& dt, std::vector<Real>& dq, Real& dwork) {
  const std::size_t n = m.size();
  std::vector<Real> acc(3 * n, Real(0)), f(3 * n, Real(0));
  Real u = 0;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) {
      if (i == j) continue;
      Real d[3], r2 = 0;
      for (int k = 0; k < 3; ++k) {
        d[k] = q[3 * j + k] - q[3 * i + k];
        r2 += d[k] * d[k];
      }
      const Real r = std::sqrt(r2);
      if (j > i) u += m[i] * m[j] / r;
      for (int k = 0; k < 3; ++k) acc[3 * i + k] += m[j] * d[k] / (r2 * r);
    }
  if (ext) ext(t, q.data(), f.data());
  dt = 1 / u;
  dwork = 0;
  for (std::size_t c = 0; c < 3 * n; ++c) {
    dq[c] = q[3 * n + c] / u;
    dq[3 * n + c] = (acc[c] + f[c]) / u;
    dwork += m[c / 3] * q[3 * n + c] * f[c] / u;
  }
}

// Advances b until t_end by steps ds in s; the step that would cross t_end
// is replaced by the Newton iterate of its length that ends on t_end.
template <typename Real>
void integrate(Bodies<Real>& b, Real t_end, Real ds, const External<Real>& ext = {}) {
  const std::size_t size = b.q.size();
  std::vector<Real> k1(size), k2(size), k3(size), k4(size), tmp(size);
  auto step = [&](const Bodies<Real>& from, Real h, Bodies<Real>& to, Real& dtds_end) {
    Real t1, t2, t3, t4, w1, w2, w3, w4;
    derivative(from.m, from.t, from.q, ext, t1, k1, w1);
    for (std::size_t c = 0; c < size; ++c) tmp[c] = from.q[c] + h / 2 * k1[c];
    derivative(from.m, from.t + h / 2 * t1, tmp, ext, t2, k2, w2);
    for (std::size_t c = 0; c < size; ++c) tmp[c] = from.q[c] + h / 2 * k2[c];
    derivative(from.m, from.t + h / 2 * t2, tmp, ext, t3, k3, w3);
    for (std::size_t c = 0; c < size; ++c) tmp[c] = from.q[c] + h * k3[c];
    derivative(from.m, from.t + h * t3, tmp, ext, t4, k4, w4);
    to = from;
    for (std::size_t c = 0; c < size; ++c)
      to.q[c] = from.q[c] + h / 6 * (k1[c] + 2 * k2[c] + 2 * k3[c] + k4[c]);
    to.t = from.t + h / 6 * (t1 + 2 * t2 + 2 * t3 + t4);
    to.work = from.work + h / 6 * (w1 + 2 * w2 + 2 * w3 + w4);
    dtds_end = t4;
  };
  Bodies<Real> next;
  Real dtds = 0;
  for (;;) {
    step(b, ds, next, dtds);
    if (next.t >= t_end) break;
    b = next;
  }
  // Land: Newton on the length of the last step.
  Real h = (t_end - b.t) / dtds;
  for (int it = 0; it < 20; ++it) {
    step(b, h, next, dtds);
    const Real miss = next.t - t_end;
    h -= miss / dtds;
    if (std::fabs(miss) <= 4 * std::numeric_limits<Real>::epsilon() * std::fabs(t_end)) break;
  }
  b = next;
}

}  // namespace reference

// An independent high-accuracy reference for the encounter tests: Gragg's
// modified midpoint method with polynomial extrapolation (Bulirsch-Stoer) on
// the first-order system in the regularised time s of dt/ds = 1/U,
//   dt/ds = 1/U,  dx/ds = v/U,  dv/ds = a/U,
// for N point masses (G = 1) in absolute coordinates, in a floating-point
// type of the caller's choice (long double for the references). It shares no
// code with the library, and differs from it in method: a first-order
// midpoint scheme, not a leapfrog of a logarithmic Hamiltonian, and a
// component-wise error norm.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

namespace reference {

template <typename Real>
struct MidpointBs {
  std::vector<Real> m;
  std::vector<Real> y;  // t, then x0 y0 z0 x1 ..., then vx0 vy0 vz0 ...: 1 + 6N values
  Real tolerance = Real(1e-16);
  Real h = Real(1e-3);  // current step in s
  int min_rows = 4;     // rows before the error estimate is trusted
  long steps = 0;

  std::size_t n() const { return m.size(); }

  void rhs(const std::vector<Real>& z, std::vector<Real>& dz) const {
    const std::size_t nb = n();
    Real u = 0;
    std::vector<Real> acc(3 * nb, Real(0));
    for (std::size_t i = 0; i < nb; ++i)
      for (std::size_t j = i + 1; j < nb; ++j) {
        Real d[3], r2 = 0;
        for (int k = 0; k < 3; ++k) {
          d[k] = z[1 + 3 * j + k] - z[1 + 3 * i + k];
          r2 += d[k] * d[k];
        }
        const Real r = std::sqrt(r2);
        u += m[i] * m[j] / r;
        for (int k = 0; k < 3; ++k) {
          acc[3 * i + k] += m[j] * d[k] / (r2 * r);
          acc[3 * j + k] -= m[i] * d[k] / (r2 * r);
        }
      }
    dz[0] = 1 / u;
    for (std::size_t c = 0; c < 3 * nb; ++c) {
      dz[1 + c] = z[1 + 3 * nb + c] / u;
      dz[1 + 3 * nb + c] = acc[c] / u;
    }
  }

  // Modified midpoint over big_h with k substeps.
  void midpoint(const std::vector<Real>& y0, Real big_h, int k, std::vector<Real>& out) const {
    const std::size_t size = y0.size();
    const Real hh = big_h / k;
    std::vector<Real> zm = y0, z(size), d(size);
    rhs(y0, d);
    for (std::size_t c = 0; c < size; ++c) z[c] = y0[c] + hh * d[c];
    for (int i = 1; i < k; ++i) {
      rhs(z, d);
      for (std::size_t c = 0; c < size; ++c) {
        const Real next = zm[c] + 2 * hh * d[c];
        zm[c] = z[c];
        z[c] = next;
      }
    }
    rhs(z, d);
    out.resize(size);
    for (std::size_t c = 0; c < size; ++c) out[c] = (z[c] + zm[c] + hh * d[c]) / 2;
  }

  // One extrapolated step of big_h from y into out; true when converged.
  // Rows used by the last converged step.
  mutable int rows = 0;

  bool try_step(Real big_h, std::vector<Real>& out) const {
    const int kmax = 14;
    std::vector<std::vector<Real>> table(kmax);
    std::vector<int> seq(kmax);
    for (int k = 0; k < kmax; ++k) {
      seq[k] = 2 * (k + 1);
      midpoint(y, big_h, seq[k], table[k]);
      // Neville in h^2, in place from the newest row down.
      for (int j = k - 1; j >= 0; --j) {
        const Real ratio = Real(seq[k]) / Real(seq[j]);
        for (std::size_t c = 0; c < y.size(); ++c)
          table[j][c] = table[j + 1][c] + (table[j + 1][c] - table[j][c]) / (ratio * ratio - 1);
      }
      // table[0] now holds the highest extrapolation, table[1] the one before.
      if (k >= min_rows - 1) {
        Real err = 0;
        for (std::size_t c = 0; c < y.size(); ++c) {
          const Real scale = std::max(std::fabs(table[0][c]), Real(1e-6));
          err = std::max(err, std::fabs(table[0][c] - table[1][c]) / scale);
        }
        if (err <= tolerance) {
          out = table[0];
          rows = k + 1;
          return true;
        }
      }
    }
    return false;
  }

  void integrate(Real t_end) {
    std::vector<Real> out;
    for (;;) {
      if (!try_step(h, out)) {
        h /= 3;
        continue;
      }
      if (out[0] > t_end) {
        // Secant on the step length until the step ends on t_end.
        Real lo = 0, t_lo = y[0], hi = h, t_hi = out[0];
        Real hn = h;
        for (int it = 0; it < 100; ++it) {
          hn = lo + (hi - lo) * (t_end - t_lo) / (t_hi - t_lo);
          if (!try_step(hn, out)) {
            hi = hn;
            t_hi = t_end * 2;  // unknown: fall back to halving next time
            continue;
          }
          const Real miss = out[0] - t_end;
          if (std::fabs(miss) <= 16 * std::numeric_limits<Real>::epsilon() * t_end) break;
          if (miss > 0) {
            hi = hn;
            t_hi = out[0];
          } else {
            lo = hn;
            t_lo = out[0];
          }
        }
        y = out;
        ++steps;
        return;
      }
      y = out;
      ++steps;
      // Aim at convergence with six or seven rows (n up to 14), where the
      // error estimate of the extrapolation is reliable.
      if (rows < 6) h *= Real(1.5);
      if (rows > 7) h *= Real(0.6);
    }
  }
};

}  // namespace reference

// Arithmetic of the Hermite predictor-corrector schemes of order 2K
// (K = 2, 3, 4: fourth, sixth and eighth order). The force supplies the
// acceleration and its first K - 1 time derivatives; the next K derivatives
// come from the Hermite interpolant over the particle's last step. Nothing
// here knows about particle sets, ranks or force libraries.
#pragma once

#include <array>
#include <cmath>
#include <limits>
#include <utility>

namespace hermite {

using Vec3 = std::array<double, 3>;

// d[n] is the n-th time derivative of the acceleration, n = 0 .. 2K - 1:
// acceleration, jerk, snap, crackle, and on up to the seventh derivative.
template <int K>
using Derivs = std::array<Vec3, 2 * K>;

constexpr double factorial(int n) {
  double f = 1.0;
  for (int i = 2; i <= n; ++i) f *= i;
  return f;
}

constexpr double binomial(int n, int k) { return factorial(n) / (factorial(k) * factorial(n - k)); }

// 1 / n! for n = 0 .. 9, the Taylor coefficients of the predictor.
inline constexpr double kInvFactorial[10] = {
    1.0 / factorial(0), 1.0 / factorial(1), 1.0 / factorial(2), 1.0 / factorial(3),
    1.0 / factorial(4), 1.0 / factorial(5), 1.0 / factorial(6), 1.0 / factorial(7),
    1.0 / factorial(8), 1.0 / factorial(9)};

inline double norm(const Vec3& a) { return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]); }

// The inverse of the K x K matrix that ties the unknown upper Taylor
// coefficients of the interpolant to the conditions at the left end of the
// interval (see interpolate()). Its entries are small rationals; it is
// solved once per order by Gauss-Jordan elimination with partial pivoting.
template <int K>
const std::array<std::array<double, K>, K>& interpolation_inverse() {
  static const std::array<std::array<double, K>, K> inverse = [] {
    double a[K][2 * K] = {};
    for (int m = 0; m < K; ++m) {
      for (int q = 0; q < K; ++q) {
        const int n = K + q;
        a[m][q] = ((n - m) % 2 == 0 ? 1.0 : -1.0) * binomial(n, m);
      }
      a[m][K + m] = 1.0;
    }
    for (int c = 0; c < K; ++c) {
      int pivot = c;
      for (int r = c + 1; r < K; ++r) {
        if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
      }
      for (int k = 0; k < 2 * K; ++k) std::swap(a[c][k], a[pivot][k]);
      const double p = a[c][c];
      for (int k = 0; k < 2 * K; ++k) a[c][k] /= p;
      for (int r = 0; r < K; ++r) {
        if (r == c) continue;
        const double f = a[r][c];
        for (int k = 0; k < 2 * K; ++k) a[r][k] -= f * a[c][k];
      }
    }
    std::array<std::array<double, K>, K> out{};
    for (int q = 0; q < K; ++q) {
      for (int m = 0; m < K; ++m) out[q][m] = a[q][K + m];
    }
    return out;
  }();
  return inverse;
}

// Hermite interpolation over one step of length h. f0 and f1 hold the
// derivatives 0 .. K-1 of the acceleration at the start and the end of the
// step. Writes the derivatives K .. 2K-1 of the interpolating polynomial (of
// degree 2K - 1) at the end of the step into end[0 .. K-1] and, if start is
// not null, at the start of the step into start[0 .. K-1].
//
// Working in scaled Taylor coefficients about the end point,
//   P(t1 + s) = sum_n g_n (s / h)^n,  g_n = P^(n)(t1) h^n / n!,
// the m-th derivative at s = -h, times h^m / m!, is
//   sum_n (-1)^(n-m) C(n, m) g_n,
// so the conditions at the start become a K x K system for g_K .. g_2K-1
// whose matrix holds only binomials and does not depend on h.
template <int K>
void interpolate(const Vec3* f0, const Vec3* f1, double h, Vec3* end, Vec3* start = nullptr) {
  const auto& inv = interpolation_inverse<K>();
  double hpow[2 * K];  // h^n / n!
  hpow[0] = 1.0;
  for (int n = 1; n < 2 * K; ++n) hpow[n] = hpow[n - 1] * h / n;
  for (int c = 0; c < 3; ++c) {
    double g[2 * K];
    for (int n = 0; n < K; ++n) g[n] = f1[n][c] * hpow[n];
    double rhs[K];
    for (int m = 0; m < K; ++m) {
      double r = f0[m][c] * hpow[m];
      for (int n = m; n < K; ++n) r -= ((n - m) % 2 == 0 ? 1.0 : -1.0) * binomial(n, m) * g[n];
      rhs[m] = r;
    }
    for (int q = 0; q < K; ++q) {
      double s = 0.0;
      for (int m = 0; m < K; ++m) s += inv[q][m] * rhs[m];
      g[K + q] = s;
    }
    for (int q = 0; q < K; ++q) end[q][c] = g[K + q] / hpow[K + q];
    if (start != nullptr) {
      for (int q = 0; q < K; ++q) {
        const int n = K + q;
        double s = 0.0;
        for (int l = n; l < 2 * K; ++l)
          s += ((l - n) % 2 == 0 ? 1.0 : -1.0) * binomial(l, n) * g[l];
        start[q][c] = s / hpow[n];
      }
    }
  }
}

// Corrector: new velocity and position at the end of a step of length h from
// those at its start and the force derivatives f0 (start) and f1 (end). The
// outputs may be the inputs.
template <int K>
void correct(double h, const Vec3& x0, const Vec3& v0, const Vec3* f0, const Vec3* f1, Vec3& x1,
             Vec3& v1) {
  static_assert(K >= 2 && K <= 4, "fourth, sixth or eighth order");
  const double h2 = h * h, h3 = h2 * h, h4 = h2 * h2;
  for (int c = 0; c < 3; ++c) {
    const double x = x0[c], v = v0[c];
    const double a0 = f0[0][c], a1 = f1[0][c], j0 = f0[1][c], j1 = f1[1][c];
    double vn, xn;
    if constexpr (K == 2) {
      vn = v + (a0 + a1) * h / 2.0 - (j1 - j0) * h2 / 12.0;
      xn = x + (v + vn) * h / 2.0 - (a1 - a0) * h2 / 12.0;
    } else if constexpr (K == 3) {
      const double s0 = f0[2][c], s1 = f1[2][c];
      vn = v + (a0 + a1) * h / 2.0 - (j1 - j0) * h2 / 10.0 + (s1 + s0) * h3 / 120.0;
      xn = x + (v + vn) * h / 2.0 - (a1 - a0) * h2 / 10.0 + (j1 + j0) * h3 / 120.0;
    } else {
      const double s0 = f0[2][c], s1 = f1[2][c], c0 = f0[3][c], c1 = f1[3][c];
      vn = v + (a0 + a1) * h / 2.0 - 3.0 * (j1 - j0) * h2 / 28.0 + (s1 + s0) * h3 / 84.0 -
           (c1 - c0) * h4 / 1680.0;
      xn = x + (v + vn) * h / 2.0 - 3.0 * (a1 - a0) * h2 / 28.0 + (j1 + j0) * h3 / 84.0 -
           (s1 - s0) * h4 / 1680.0;
    }
    v1[c] = vn;
    x1[c] = xn;
  }
}

// Predicted state a time tau after the particle's own time: the Taylor
// series with the derivatives d[0 .. nd-1] (all that the particle carries
// by default). Any output pointer may be null.
template <int K>
void predict(double tau, const Vec3& x, const Vec3& v, const Derivs<K>& d, Vec3* xp, Vec3* vp,
             Vec3* ap = nullptr, Vec3* jp = nullptr, int nd = 2 * K) {
  for (int c = 0; c < 3; ++c) {
    if (xp != nullptr) {
      double s = 0.0;
      for (int n = nd - 1; n >= 0; --n) s = s * tau + d[n][c] * kInvFactorial[n + 2];
      (*xp)[c] = x[c] + tau * (v[c] + tau * s);
    }
    if (vp != nullptr) {
      double s = 0.0;
      for (int n = nd - 1; n >= 0; --n) s = s * tau + d[n][c] * kInvFactorial[n + 1];
      (*vp)[c] = v[c] + tau * s;
    }
    if (ap != nullptr) {
      double s = 0.0;
      for (int n = nd - 1; n >= 0; --n) s = s * tau + d[n][c] * kInvFactorial[n];
      (*ap)[c] = s;
    }
    if (jp != nullptr) {
      double s = 0.0;
      for (int n = nd - 1; n >= 1; --n) s = s * tau + d[n][c] * kInvFactorial[n - 1];
      (*jp)[c] = s;
    }
  }
}

// The fourth-order criterion of Aarseth:
//   dt = sqrt(eta (|a0| |a2| + |a1|^2) / (|a1| |a3| + |a2|^2)),
// with a(n) the n-th derivative of the acceleration. Infinity when the
// derivatives give no time scale (a lone particle).
template <int K>
double aarseth_criterion(const Derivs<K>& d, double eta) {
  const double num = norm(d[0]) * norm(d[2]) + norm(d[1]) * norm(d[1]);
  const double den = norm(d[1]) * norm(d[3]) + norm(d[2]) * norm(d[2]);
  if (!(num > 0.0) || !(den > 0.0)) return std::numeric_limits<double>::infinity();
  return std::sqrt(eta * num / den);
}

// The same criterion carried to order p = 2K:
//   dt = sqrt(eta * R^(1 / (p - 3))),
//   R = (|a0| |a2| + |a1|^2) / (|a(p-3)| |a(p-1)| + |a(p-2)|^2).
// R has the dimension of time^(2 (p - 3)), so R^(1/(p-3)) is a squared time
// and eta keeps the meaning it has at fourth order.
template <int K>
double generalised_criterion(const Derivs<K>& d, double eta) {
  constexpr int p = 2 * K;
  const double num = norm(d[0]) * norm(d[2]) + norm(d[1]) * norm(d[1]);
  const double den = norm(d[p - 3]) * norm(d[p - 1]) + norm(d[p - 2]) * norm(d[p - 2]);
  if (!(num > 0.0) || !(den > 0.0)) return std::numeric_limits<double>::infinity();
  return std::sqrt(eta * std::pow(num / den, 1.0 / (p - 3)));
}

// An interpolated derivative whose term in the interpolant over the last
// step, |a(n)| h^n / n!, stays below this fraction of the particle's
// acceleration scale is taken for rounding (see step_criterion).
inline constexpr double kRoundingFraction = 1e-3;

// The step a particle wants after a step (or a start-up trial) of length h.
// Fourth order: the classic criterion. Sixth and eighth order: the smaller
// of the generalised criterion and the fourth-order one, over derivatives
// cleared of what rounding can explain.
//
// The forces are single-precision sums, good to about 1e-6 of the sum of
// the magnitudes of the pair terms (1e-5 for the derivatives). Hermite
// interpolation turns that into errors of the interpolated derivatives of
// about 1e-6 A n! / h^n times a few tens, A the size of the pair terms. At
// the steps these orders take that exceeds the true highest derivatives,
// and it grows as the step shrinks, so that a criterion fed with it asks for
// ever shorter steps until the run stops. Hence kRoundingFraction A n! / h^n
// is taken off the magnitude of each interpolated derivative, with A
// estimated as sum |a(n)| T^n / n! over the force's own derivatives and
// their time scale T = sqrt((|a| |s| + |j|^2) / |s|^2): a particle passing
// close to another feels large pair terms even where their sum, the
// acceleration, is small. An encounter beginning within the step leaves
// interpolated derivatives orders of magnitude above that level, and still
// shortens the step. At sixth order the crackle of the fourth-order
// criterion is interpolated too: the step is not taken below half of what
// the criterion gives without its rounding.
template <int K>
double step_criterion(const Derivs<K>& d, double h, double eta) {
  if constexpr (K == 2) {
    (void)h;
    return aarseth_criterion<K>(d, eta);
  } else {
    const double a = norm(d[0]), j = norm(d[1]), s = norm(d[2]);
    const double t_scale = s > 0.0 ? std::sqrt((a * s + j * j) / (s * s)) : h;
    double size = 0.0, term = 1.0;  // term = T^n / n!
    for (int n = 0; n < K; ++n) {
      size += norm(d[n]) * term;
      term *= t_scale / (n + 1);
    }
    Derivs<K> resolved = d;
    double hterm = 1.0;  // h^n / n!
    for (int n = 1; n <= K; ++n) hterm *= h / n;
    for (int n = K; n < 2 * K; ++n) {
      const double here = norm(d[n]);
      const double floor = kRoundingFraction * size / hterm;
      const double keep = here > floor ? (here - floor) / here : 0.0;
      for (int c = 0; c < 3; ++c) resolved[n][c] *= keep;
      hterm *= h / (n + 1);
    }
    const double fourth =
        std::fmax(aarseth_criterion<K>(d, eta), 0.5 * aarseth_criterion<K>(resolved, eta));
    return std::fmin(generalised_criterion<K>(resolved, eta), fourth);
  }
}

// Block steps are powers of two not above dt_max, and a particle's time is
// always a multiple of its step. The step after one that ended at time t:
// halved as often as the wanted step asks, or doubled once when the wanted
// step allows it and t is a multiple of the doubled step (so that the
// particle stays in line with the block structure), or kept.
inline double next_block_step(double dt, double wanted, double t, double dt_max, double dt_min) {
  if (wanted < dt) {
    while (dt > wanted && dt >= dt_min) dt *= 0.5;
    return dt;
  }
  const double twice = 2.0 * dt;
  if (twice <= dt_max && wanted >= twice && std::fmod(t, twice) == 0.0) return twice;
  return dt;
}

}  // namespace hermite

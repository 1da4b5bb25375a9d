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

// The same criterion carried to order p = 2K (the generalised criterion of
// the sixth- and eighth-order Hermite schemes):
//   dt = sqrt(eta) * R^(1 / (2 (p - 3))),
//   R = (|a0| |a2| + |a1|^2) / (|a(p-3)| |a(p-1)| + |a(p-2)|^2).
// R has the dimension of time^(2 (p - 3)), so R^(1/(2(p-3))) is a time and
// eta keeps the meaning it has at fourth order (sqrt(eta) is the factor
// that multiplies the time scale; the published form writes that factor as
// its own eta).
template <int K>
double generalised_criterion(const Derivs<K>& d, double eta) {
  constexpr int p = 2 * K;
  const double num = norm(d[0]) * norm(d[2]) + norm(d[1]) * norm(d[1]);
  const double den = norm(d[p - 3]) * norm(d[p - 1]) + norm(d[p - 2]) * norm(d[p - 2]);
  if (!(num > 0.0) || !(den > 0.0)) return std::numeric_limits<double>::infinity();
  return std::sqrt(eta) * std::pow(num / den, 1.0 / (2 * (p - 3)));
}

// How much the rounding of the forces can move each interpolated
// derivative. The interpolant is linear in its inputs; in scaled units
// (a(n) h^n / n!, the Taylor terms over the step) an error of 1 in each of
// the 2K inputs moves the term of derivative K + q by at most gain[q], the
// sum of the magnitudes of that output's coefficients. Independent of h.
template <int K>
const std::array<double, K>& rounding_gain() {
  static const std::array<double, K> gain = [] {
    std::array<double, K> g{};
    for (int side = 0; side < 2; ++side) {
      for (int m = 0; m < K; ++m) {
        Vec3 f0[K] = {}, f1[K] = {}, end[K];
        (side == 0 ? f0 : f1)[m] = Vec3{factorial(m), 0.0, 0.0};  // a term of 1 at h = 1
        interpolate<K>(f0, f1, 1.0, end);
        for (int q = 0; q < K; ++q) g[q] += std::fabs(end[q][0]) / factorial(K + q);
      }
    }
    return g;
  }();
  return gain;
}

// Relative rounding of the forces the criteria allow for: the libraries'
// sums are good to about 1e-6 of the sum of the magnitudes of the pair
// terms (1e-5 for the derivatives, whose terms weigh less in the scale
// below). Measured (bench/work-precision): with 3e-6, hermite4 on the
// Pythagorean problem to t = 16 takes 2.9 times the steps at eta = 1e-4
// that it takes at 1e-3; at 3e-8, hermite6 on a Kepler orbit of
// eccentricity 0.99 takes 640,094 steps for 10 orbits at eta = 0.01
// instead of 8,574, its steps driven down by the rounding again.
inline constexpr double kForceRounding = 3e-6;

// The interpolated derivatives d[K .. 2K-1] less what the rounding of the
// forces can explain. A particle passing close to another feels large pair
// terms even where their sum, the acceleration, is small, so the scale of
// the rounding is estimated as sum |a(n)| T^n / n! over the force's own
// derivatives, with T the longer of the step and a time scale of those
// derivatives. A derivative below its floor, kForceRounding times that
// scale times its gain over h^n / n!, is taken as 0; one above it keeps
// sqrt(|a(n)|^2 - floor^2), which leaves a well-resolved derivative as it
// is (taking off the floor itself cut hermite4's steps on the Plummer model
// at eta = 0.01 by 14%). An encounter beginning within the step leaves
// interpolated derivatives orders of magnitude above the floor and still
// shortens the step.
//
// Without this the criteria are fed, at short steps, with errors of the
// interpolated derivatives that grow like 1 / h^n, and ask for ever
// shorter steps: hermite4 on the Pythagorean problem went from 115,155
// steps at eta = 1e-3 to 45,581,901 at 1e-4 (t = 70), its smallest step
// 1e-5 of the pair's time scale.
template <int K>
Derivs<K> resolved_derivatives(const Derivs<K>& d, double h) {
  const double a = norm(d[0]), j = norm(d[1]);
  double t_scale = h;
  if constexpr (K >= 3) {
    const double s = norm(d[2]);
    if (s > 0.0) t_scale = std::fmax(h, std::sqrt((a * s + j * j) / (s * s)));
  } else {
    if (j > 0.0) t_scale = std::fmax(h, a / j);
  }
  double size = 0.0, term = 1.0;  // term = T^n / n!
  for (int n = 0; n < K; ++n) {
    size += norm(d[n]) * term;
    term *= t_scale / (n + 1);
  }
  const auto& gain = rounding_gain<K>();
  Derivs<K> out = d;
  double hterm = 1.0;  // h^n / n!
  for (int n = 1; n <= K; ++n) hterm *= h / n;
  for (int n = K; n < 2 * K; ++n) {
    const double here = norm(d[n]);
    const double floor = kForceRounding * gain[n - K] * size / hterm;
    const double keep = here > floor ? std::sqrt(1.0 - (floor / here) * (floor / here)) : 0.0;
    for (int c = 0; c < 3; ++c) out[n][c] *= keep;
    hterm *= h / (n + 1);
  }
  return out;
}

// How far a particle moves on a two-body orbit: for a = -mu r / r^3, with
// e = r / r along the separation and omega^2 = mu / r^3,
//   omega^2 = -(s.e + (1.5 (j.e)^2 - 3 |j x e|^2) / |a|) / (2 |a|),
//   s - (s.e) e = -3 (j.e) (j - (j.e) e) / |a|,
// both exact for any two-body orbit (and for circular motion in any central
// field) and free of the velocity of the pair's centre of mass: only
// derivatives of the acceleration enter. time_scale is 1 / omega (infinity
// where the first relation gives no positive omega^2); misfit is how far
// the second relation misses, in units of |s|: near 0 where one body
// dominates the motion, of order 1 for a particle in a grainy field, whose
// acceleration comes from the whole system and whose higher derivatives
// from its passing neighbours.
struct TwoBodyFit {
  double time_scale = std::numeric_limits<double>::infinity();
  double misfit = 1.0;
};

template <int K>
TwoBodyFit two_body_fit(const Derivs<K>& d) {
  TwoBodyFit fit;
  const double a = norm(d[0]), s = norm(d[2]);
  if (!(a > 0.0) || !(s > 0.0)) return fit;
  Vec3 e;
  for (int c = 0; c < 3; ++c) e[c] = -d[0][c] / a;
  const double jr = d[1][0] * e[0] + d[1][1] * e[1] + d[1][2] * e[2];
  const double j2 = d[1][0] * d[1][0] + d[1][1] * d[1][1] + d[1][2] * d[1][2];
  const double sr = d[2][0] * e[0] + d[2][1] * e[1] + d[2][2] * e[2];
  const double w2 = -(sr + (1.5 * jr * jr - 3.0 * (j2 - jr * jr)) / a) / (2.0 * a);
  if (w2 > 0.0) fit.time_scale = 1.0 / std::sqrt(w2);
  Vec3 miss;
  for (int c = 0; c < 3; ++c) {
    miss[c] = (d[2][c] - sr * e[c]) + 3.0 * jr * (d[1][c] - jr * e[c]) / a;
  }
  fit.misfit = norm(miss) / s;
  return fit;
}

// The dominant pair of a particle: the neighbour whose own force term
// m_j / (r^2 + eps^2) is the largest, seen from the particle. r is the
// softened separation sqrt(r^2 + eps^2), v2 the square of the relative
// velocity, vr its component along the separation, m the pair's mass.
struct DominantPair {
  double r = std::numeric_limits<double>::infinity();
  double v2 = 0.0, vr = 0.0, m = 0.0;
};

// The pace of a pair: the shorter of its dynamical time sqrt(r^3 / m) and
// r / sqrt(v^2 + 3 v_r^2), which on a two-body orbit is the pair's own
// |a| / |j|. Both come from the pair's own terms, so the pace stays finite
// where the forces on a particle balance and its total acceleration (and
// with it the total |a| / |j|) vanishes: the middle body of the figure-eight
// orbit, two bodies passing through each other. Infinity for no pair.
inline double pair_pace(const DominantPair& p) {
  if (!(p.m > 0.0) || !std::isfinite(p.r)) return std::numeric_limits<double>::infinity();
  const double dynamical = std::sqrt(p.r * p.r * p.r / p.m);
  const double sweep2 = p.v2 + 3.0 * p.vr * p.vr;
  return sweep2 > 0.0 ? std::fmin(dynamical, p.r / std::sqrt(sweep2)) : dynamical;
}

// Largest step of the eighth-order scheme where one body dominates, in
// units of the dominant pair's pace (pair_pace). On a circular orbit the
// pace is 1 / omega, and with one shared step the scheme is unstable below
// about 64 steps per orbit (omega h = 0.098), as is an eighth-order Hermite
// written independently in double precision. On an eccentric orbit the
// sweep term r / sqrt(v^2 + 3 v_r^2) is up to 2.8 times shorter on the way
// into pericentre, where the step has to shrink ahead of the orbit. Block
// steps lie between half this and this. Measured (bench/work-precision,
// eta 0.08), against 0.04 / omega alone: 10 orbits of eccentricity 0.99,
// |dE/E| 7.0e-6 instead of 1.7e-5 at 4% more steps; the triple with a
// circular inner binary, 331,207 steps instead of 658,716. With 0.1 here
// the triple with an inner eccentricity of 0.5 loses a factor 2.
inline constexpr double kEighthOrderStability = 0.08;
// Misfit of the two-body relations from which the limit is relaxed in
// proportion: a particle in a grainy field is limited by accuracy long
// before its steps approach the stability limit of the field's own time
// scale. Measured on the Plummer model at eta = 0.08: with 1 here order 8
// takes 27% more steps (199,628 against 157,571) for no better energy.
inline constexpr double kTwoBodyMisfit = 0.1;

// The stability limit of the eighth-order step: kEighthOrderStability times
// the dominant pair's pace, relaxed in proportion to the misfit of the
// particle's derivatives to a two-body orbit beyond kTwoBodyMisfit (a
// particle whose acceleration vanishes has no two-body fit: misfit 1).
template <int K>
double eighth_order_limit(const Derivs<K>& d, double pace) {
  const TwoBodyFit fit = two_body_fit<K>(d);
  return kEighthOrderStability * pace * std::fmax(1.0, fit.misfit / kTwoBodyMisfit);
}

// The step a particle wants after a step (or a start-up trial) of length h.
// Fourth order: Aarseth's criterion over derivatives cleared of rounding;
// where neither snap nor crackle is resolved, sqrt(eta) |a| / |j|, the
// time scale of what is left. Sixth and eighth order: the generalised
// criterion over the resolved derivatives, their own step (capped at the
// fourth-order step, they took as many steps as order 4 at the same eta
// and only cost more); where the higher derivatives are all below their
// floors, the fourth-order criterion. Eighth order also keeps within its
// stability limit (eighth_order_limit) over the dominant pair's pace
// (pair_pace; infinity: no limit).
template <int K>
double step_criterion(const Derivs<K>& d, double h, double eta,
                      double pace = std::numeric_limits<double>::infinity()) {
  const Derivs<K> r = resolved_derivatives<K>(d, h);
  double dt;
  if constexpr (K == 2) {
    dt = aarseth_criterion<K>(r, eta);
    if (std::isinf(dt) && norm(d[1]) > 0.0) dt = std::sqrt(eta) * norm(d[0]) / norm(d[1]);
  } else {
    dt = generalised_criterion<K>(r, eta);
    if (std::isinf(dt)) dt = aarseth_criterion<K>(r, eta);
  }
  if constexpr (K == 4) {
    if (std::isfinite(pace)) dt = std::fmin(dt, eighth_order_limit<K>(d, pace));
  }
  (void)pace;
  return dt;
}

// The time scale of a particle's first step, from its own derivatives at
// the start and its dominant pair: the shortest of |a| / |j|,
// (|a| / |s|)^(1/2) and (|a| / |c|)^(1/3) over the derivatives the order
// has at the start (d[0 .. K-1]), and the pair's pace. A particle at rest
// has no jerk, and only its snap or its pair's free fall gives a time
// scale; one with no finite scale (a lone particle) gets infinity.
template <int K>
double startup_time_scale(const Derivs<K>& d, double pace) {
  const double a = norm(d[0]);
  double t = pace;
  if (!(a > 0.0)) return t;
  for (int n = 1; n < K; ++n) {
    const double dn = norm(d[n]);
    if (dn > 0.0) t = std::fmin(t, std::pow(a / dn, 1.0 / n));
  }
  return t;
}

// Default accuracy parameter of each order (the programs' --eta), chosen
// from bench/work-precision on the Plummer model of 1,024 particles to
// t = 2 (softening 1/64), where at these values each higher order keeps
// the energy better than the order below at fewer interactions than order
// 4 at its default (see the README, "Accuracy and cost per order").
constexpr double default_eta(int order) { return order == 8 ? 0.08 : order == 6 ? 0.04 : 0.01; }

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

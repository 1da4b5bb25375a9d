// Prediction of many particles at once: the Taylor predictor of scheme.h
// over a range of particles, spread over the threads. Each particle is
// predicted by the same scalar code whatever the thread count, so the bits
// do not depend on it.
#pragma once

#include <cstddef>
#include <vector>

#include "scheme.h"

namespace hermite {

// Predicted particles at one time, indexed like the model. The higher
// orders also send the predicted acceleration (sixth and eighth) and jerk
// (eighth) to the force.
struct Predicted {
  std::vector<Vec3> x, v, a, j;
};

// Ranges shorter than this are predicted on the calling thread: a parallel
// region costs a few microseconds, the prediction of a particle some ns.
inline constexpr int kParallelPrediction = 4096;

// Predicts particle i to time t into p. A particle predicted past the end of
// its step (only in the start-up trials) leaves out its interpolated
// derivatives: over a step short against its time scale they hold mostly
// the rounding of the forces divided by h^n, harmless within the step and
// growing like (tau / h)^n beyond it.
template <int K>
inline void predict_one(double t, std::size_t i, const std::vector<Vec3>& x,
                        const std::vector<Vec3>& v, const std::vector<Derivs<K>>& d,
                        const std::vector<double>& ti, const std::vector<double>& dt,
                        Predicted& p) {
  const double tau = t - ti[i];
  predict<K>(tau, x[i], v[i], d[i], &p.x[i], &p.v[i], K >= 3 ? &p.a[i] : nullptr,
             K >= 4 ? &p.j[i] : nullptr, tau <= dt[i] ? 2 * K : K);
}

// predict<K> of scheme.h with all 2K derivatives, the three coordinates
// side by side in the innermost loops so that the compiler can put them in
// vector lanes. Each coordinate sees the same operations in the same order
// as in predict<K>, so the results are the same bits.
template <int K>
inline void predict_full(double tau, const Vec3& x, const Vec3& v, const Derivs<K>& d, Vec3& xp,
                         Vec3& vp, Vec3* ap, Vec3* jp) {
  constexpr int nd = 2 * K;
  double sx[3] = {0.0, 0.0, 0.0}, sv[3] = {0.0, 0.0, 0.0};
  for (int n = nd - 1; n >= 0; --n) {
    for (int c = 0; c < 3; ++c) {
      sx[c] = sx[c] * tau + d[n][c] * kInvFactorial[n + 2];
      sv[c] = sv[c] * tau + d[n][c] * kInvFactorial[n + 1];
    }
  }
  for (int c = 0; c < 3; ++c) {
    xp[c] = x[c] + tau * (v[c] + tau * sx[c]);
    vp[c] = v[c] + tau * sv[c];
  }
  if constexpr (K >= 3) {
    double sa[3] = {0.0, 0.0, 0.0};
    for (int n = nd - 1; n >= 0; --n) {
      for (int c = 0; c < 3; ++c) sa[c] = sa[c] * tau + d[n][c] * kInvFactorial[n];
    }
    for (int c = 0; c < 3; ++c) (*ap)[c] = sa[c];
  }
  if constexpr (K >= 4) {
    double sj[3] = {0.0, 0.0, 0.0};
    for (int n = nd - 1; n >= 1; --n) {
      for (int c = 0; c < 3; ++c) sj[c] = sj[c] * tau + d[n][c] * kInvFactorial[n - 1];
    }
    for (int c = 0; c < 3; ++c) (*jp)[c] = sj[c];
  }
  (void)ap;
  (void)jp;
}

// Predicts particles [begin, end) to time t into p (sized for them).
template <int K>
void predict_range(double t, int begin, int end, const std::vector<Vec3>& x,
                   const std::vector<Vec3>& v, const std::vector<Derivs<K>>& d,
                   const std::vector<double>& ti, const std::vector<double>& dt, Predicted& p) {
#pragma omp parallel for schedule(static) if (end - begin >= kParallelPrediction)
  for (int i = begin; i < end; ++i) {
    const auto k = static_cast<std::size_t>(i);
    const double tau = t - ti[k];
    if (tau <= dt[k]) {
      predict_full<K>(tau, x[k], v[k], d[k], p.x[k], p.v[k], K >= 3 ? &p.a[k] : nullptr,
                      K >= 4 ? &p.j[k] : nullptr);
    } else {
      predict_one<K>(t, k, x, v, d, ti, dt, p);
    }
  }
}

}  // namespace hermite

// Adapter of the order-6 force library for the integrator.
#pragma once

#include "nbforce6.h"
#include "scheme.h"

namespace hermite {

struct Library6 {
  static constexpr int kOrder = 6;
  static constexpr int kDerivs = 3;
  using Predictor = ::Predictor;
  using Force = ::Force;

  static void set_derivs(Predictor& r, const Vec3& acc, const Vec3&) {
    for (int c = 0; c < 3; ++c) r.acc[c] = static_cast<float>(acc[c]);
    r.unused2 = 0.0f;
  }
  static void unpack(const Force& f, Vec3* d) {
    for (int c = 0; c < 3; ++c) {
      d[0][c] = f.acc[c];
      d[1][c] = f.jrk[c];
      d[2][c] = f.snp[c];
    }
  }

  static void bind(int rank) { ::CUDA_MPI_Init(rank); }
  static void calc_force(int ni, int nj, const Predictor* ipred, const Predictor* jpred,
                         Force* force, float eps2, double* stamp, double* ip_time,
                         double* fo_time) {
    ::calc_force(ni, nj, ipred, jpred, force, eps2, stamp, ip_time, fo_time);
  }
  static void calc_pot(int n, int js, int je, float eps2, const Posm* posm, double* pot) {
    ::calc_pot(n, js, je, eps2, posm, pot);
  }
};

}  // namespace hermite

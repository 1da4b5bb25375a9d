// Adapter of the order-4 force library for the integrator.
#pragma once

#include "nbforce4.h"
#include "scheme.h"

namespace hermite {

struct Library4 {
  static constexpr int kOrder = 4;
  static constexpr int kDerivs = 2;
  using Predictor = ::Predictor;
  using Force = ::Force;

  static void set_derivs(Predictor&, const Vec3&, const Vec3&) {}
  static void unpack(const Force& f, Vec3* d) {
    for (int c = 0; c < 3; ++c) {
      d[0][c] = f.acc[c];
      d[1][c] = f.jrk[c];
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

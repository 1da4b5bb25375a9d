// The force library's entry points as the integrator calls them. Include it
// after the library's header: the one library linked into a program provides
// CUDA_MPI_Init, calc_force and calc_pot for its own records.
#pragma once

#include "nbforce_common.h"

namespace hermite {

struct LibraryCalls {
  static void bind(int rank) { ::CUDA_MPI_Init(rank); }
  template <class Predictor, class Force>
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

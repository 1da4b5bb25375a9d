// The force library's entry points as the integrator calls them. Include it
// after the library's header: the one library linked into a program provides
// CUDA_MPI_Init, calc_force and calc_pot for its own records.
#pragma once

#include "nbforce_common.h"

namespace hermite {

// The parameter lists are the library header's own (nbforce_common.h).
struct LibraryCalls {
  static void bind(NBFORCE_CUDA_MPI_INIT_PARAMS) { ::CUDA_MPI_Init(NBFORCE_CUDA_MPI_INIT_ARGS); }
  template <class Predictor, class Force>
  static void calc_force(NBFORCE_CALC_FORCE_PARAMS(Predictor, Force)) {
    ::calc_force(NBFORCE_CALC_FORCE_ARGS);
  }
  static void calc_pot(NBFORCE_CALC_POT_PARAMS) { ::calc_pot(NBFORCE_CALC_POT_ARGS); }
  static void resident_resize(NBFORCE_RESIDENT_RESIZE_PARAMS) {
    ::nbf_resident_resize(NBFORCE_RESIDENT_RESIZE_ARGS);
  }
  static void resident_set(NBFORCE_RESIDENT_SET_PARAMS) {
    ::nbf_resident_set(NBFORCE_RESIDENT_SET_ARGS);
  }
  template <class Force>
  static void resident_force(NBFORCE_RESIDENT_FORCE_PARAMS(Force)) {
    ::nbf_resident_force(NBFORCE_RESIDENT_FORCE_ARGS);
  }
};

}  // namespace hermite

// The entry points every force library exports, listed once.
//
// NBF_ENTRY_POINTS(X, Predictor, Force) expands X(name, (params), (args))
// per entry point, with the parameter lists of nbforce_common.h over the
// order's records. The library's definitions (forcecore/library/library.h)
// and the instruction-set dispatch (forcecore/isa/isa_dispatch.h) are both
// written over this list, so a new entry point is one line here, its
// parameter macros and declaration in the public header, and its driver.
#pragma once

#include "nbforce_common.h"

#define NBF_ENTRY_POINTS(X, Predictor, Force)                                                  \
  X(CUDA_MPI_Init, (NBFORCE_CUDA_MPI_INIT_PARAMS), (NBFORCE_CUDA_MPI_INIT_ARGS))               \
  X(calc_pot, (NBFORCE_CALC_POT_PARAMS), (NBFORCE_CALC_POT_ARGS))                              \
  X(calc_force, (NBFORCE_CALC_FORCE_PARAMS(Predictor, Force)), (NBFORCE_CALC_FORCE_ARGS))      \
  X(nbf_resident_resize, (NBFORCE_RESIDENT_RESIZE_PARAMS), (NBFORCE_RESIDENT_RESIZE_ARGS))     \
  X(nbf_resident_set, (NBFORCE_RESIDENT_SET_PARAMS), (NBFORCE_RESIDENT_SET_ARGS))              \
  X(nbf_resident_remove, (NBFORCE_RESIDENT_REMOVE_PARAMS), (NBFORCE_RESIDENT_REMOVE_ARGS))     \
  X(nbf_resident_force, (NBFORCE_RESIDENT_FORCE_PARAMS(Force)), (NBFORCE_RESIDENT_FORCE_ARGS)) \
  X(nbf_resident_potential, (NBFORCE_RESIDENT_POTENTIAL_PARAMS),                               \
    (NBFORCE_RESIDENT_POTENTIAL_ARGS))                                                         \
  X(nbf_resident_neighbours, (NBFORCE_RESIDENT_NEIGHBOURS_PARAMS),                             \
    (NBFORCE_RESIDENT_NEIGHBOURS_ARGS))

/* Declarations shared by the three force libraries: the double-single pair,
 * the potential record, the build-time constants, the binding and potential
 * entry points, and the helper that splits a double into a hi/lo pair.
 * Usable from C and C++. */
#ifndef NBFORCE_COMMON_H
#define NBFORCE_COMMON_H

#if defined(__CUDACC__) || defined(__VECTOR_TYPES_H__)
#include <vector_types.h>
#else
/* The CUDA runtime's pair of floats, for callers that build without it.
 * Include the CUDA headers first when both are used. */
typedef struct float2 {
  float x; /* high part */
  float y; /* low part */
} float2;
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
  NTHREAD = 128, /* threads per block; j-predictors per tile */
  NJBLOCK = 28,  /* j-slices of the interaction grid */
  NSLICE = 32,   /* partial records per i-particle (slices 28..31 stay zero) */
  NIMAX = 4096   /* i-particles per device pass */
};

/* One particle for calc_pot: double-single position and mass, 32 bytes. */
typedef struct Posm {
  float2 pos[3];
  float mass;
  float unused;
} Posm;

/* Splits x into hi = x rounded to float and lo = the rounded remainder, so
 * that hi + lo equals x to about 48 bits. */
static inline void nbforce_split(double x, float* hi, float* lo) {
  *hi = (float)x;
  *lo = (float)(x - (double)*hi);
}

/* Binds the calling thread to device rank % device-count and prints
 * "Rank %02d : GPU %d : %s". Ends the process on failure. */
void CUDA_MPI_Init(int rank);

/* pot[i] = -sum_{j in [js, je), r_ij^2 > 0} m_j / sqrt(r_ij^2 + eps2) for all
 * i < n. Requires 0 <= js <= je <= n. */
void calc_pot(int n, int js, int je, float eps2, const Posm* posm, double* pot);

#ifdef __cplusplus
}
/* Wall-clock seconds, supplied by the calling program (C++ linkage). The
 * libraries carry a weak default on a monotonic clock, so C and Fortran
 * callers link without one. */
double wtime();
#endif

#endif

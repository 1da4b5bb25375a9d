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

/* Hides a float's value from the optimiser: the empty asm claims to change
 * it in its register, so the compiler can no longer prove that widening the
 * rounded value gives back the double it came from. It emits no instruction.
 * Compilers without GNU asm get a volatile round trip instead, which costs a
 * store and a load. */
#if defined(__GNUC__) && (defined(__x86_64__) || (defined(__i386__) && defined(__SSE_MATH__)))
#define NBFORCE_OPAQUE(v) __asm__("" : "+x"(v))
#elif defined(__GNUC__) && defined(__aarch64__)
#define NBFORCE_OPAQUE(v) __asm__("" : "+w"(v))
#elif defined(__GNUC__)
#define NBFORCE_OPAQUE(v) __asm__("" : "+g"(v))
#else
#define NBFORCE_OPAQUE(v)      \
  do {                         \
    volatile float opaque = v; \
    v = opaque;                \
  } while (0)
#endif

/* Splits x into hi = x rounded to float and lo = the rounded remainder, so
 * that hi + lo equals x to about 48 bits. Without the barrier, GCC 12
 * vectorises a loop of splits into x - x for the low parts: it takes
 * (double)(float)x for x. */
static inline void nbforce_split(double x, float* hi, float* lo) {
  float h = (float)x;
  NBFORCE_OPAQUE(h);
  *hi = h;
  *lo = (float)(x - (double)h);
}

/* The entry points' parameter lists, each written once: the declarations
 * below and in nbforce4.h, nbforce6.h and nbforce8.h, the libraries'
 * definitions and their instruction-set dispatch expand them, and C++
 * adapters of a library may too. *_ARGS names the parameters in order, for
 * passing them on. */
#define NBFORCE_CUDA_MPI_INIT_PARAMS int rank
#define NBFORCE_CUDA_MPI_INIT_ARGS rank
#define NBFORCE_CALC_POT_PARAMS int n, int js, int je, float eps2, const Posm *posm, double *pot
#define NBFORCE_CALC_POT_ARGS n, js, je, eps2, posm, pot
/* Over an order's records: Predictor and Force of nbforce4.h, ... */
#define NBFORCE_CALC_FORCE_PARAMS(Predictor, Force)                                         \
  int ni, int nj, const Predictor *ipred, const Predictor *jpred, Force *force, float eps2, \
      double *jp_stamp, double *ip_time, double *fo_time
#define NBFORCE_CALC_FORCE_ARGS ni, nj, ipred, jpred, force, eps2, jp_stamp, ip_time, fo_time

/* CUDA_MPI_Init(int rank): binds the calling thread to device
 * rank % device-count and prints "Rank %02d : GPU %d : %s". Ends the process
 * on failure. */
void CUDA_MPI_Init(NBFORCE_CUDA_MPI_INIT_PARAMS);

/* calc_pot(int n, int js, int je, float eps2, const Posm* posm, double* pot):
 * pot[i] = -sum_{j in [js, je)} m_j / sqrt(r_ij^2 + eps2) for all i < n,
 * leaving out every pair whose r_ij^2 + eps2 rounds to eps2 in single
 * precision: the particle itself, coincident particles, and pairs closer than
 * about 2^-12 sqrt(eps2), whose terms differ from -m_j / sqrt(eps2) by less
 * than a part in 2^25. Requires 0 <= js <= je <= n. */
void calc_pot(NBFORCE_CALC_POT_PARAMS);

#ifdef __cplusplus
}
/* Wall-clock seconds, supplied by the calling program (C++ linkage). The
 * libraries carry a weak default on a monotonic clock, so C and Fortran
 * callers link without one. */
double wtime();
#endif

#endif

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
/* The resident particles (below). */
#define NBFORCE_RESIDENT_RESIZE_PARAMS int n
#define NBFORCE_RESIDENT_RESIZE_ARGS n
#define NBFORCE_RESIDENT_SET_PARAMS                                                      \
  int count, const int *index, const double *mass, const double *pos, const double *vel, \
      const double *derivs, const double *time, const double *step
#define NBFORCE_RESIDENT_SET_ARGS count, index, mass, pos, vel, derivs, time, step
#define NBFORCE_RESIDENT_REMOVE_PARAMS int count, const int *index
#define NBFORCE_RESIDENT_REMOVE_ARGS count, index
#define NBFORCE_RESIDENT_FORCE_PARAMS(Force) \
  double t, int js, int je, int ni, const int *index, float eps2, Force *force
#define NBFORCE_RESIDENT_FORCE_ARGS t, js, je, ni, index, eps2, force
#define NBFORCE_RESIDENT_POTENTIAL_PARAMS \
  double t, int js, int je, int ni, const int *index, float eps2, double *pot
#define NBFORCE_RESIDENT_POTENTIAL_ARGS t, js, je, ni, index, eps2, pot
#define NBFORCE_RESIDENT_NEIGHBOURS_PARAMS                                                   \
  double t, int js, int je, int ni, const int *index, double radius, int max_nb, int *count, \
      int *list, int *overflow
#define NBFORCE_RESIDENT_NEIGHBOURS_ARGS t, js, je, ni, index, radius, max_nb, count, list, overflow

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

/* Resident particles. The library keeps n slots of particle states (in
 * device memory on a GPU) and predicts them itself at each force call, so
 * that a block step sends only the states its corrector changed instead of
 * N predicted records. A state is what a Hermite integrator with K force
 * derivatives carries (K = 2, 3, 4 in nbforce4, nbforce6, nbforce8): mass,
 * position, velocity, the 2K derivatives of the acceleration, the
 * particle's own time and its step. Slot indices are 0-based. Prediction to
 * a call's time t is the integrator's Taylor predictor in double precision,
 * tau = t - time, with all 2K derivatives where tau <= step and the first K
 * beyond; the predicted records are those calc_force reads, and a force call
 * gives the bits of calc_force over the same records. The interaction grid
 * is that of calc_force (NJBLOCK slices), so the results do not depend on
 * the thread count or the machine. Arguments outside the rules below are
 * reported (check 531) and the call returns with its outputs untouched.
 *
 * nbf_resident_resize(int n): n slots; slots added are empty (mass 0,
 *   removed), slots at n and above are dropped. n >= 0.
 * nbf_resident_set(int count, const int* index, const double* mass,
 *                  const double* pos, const double* vel,
 *                  const double* derivs, const double* time,
 *                  const double* step):
 *   loads or replaces the states of the count slots index[k]: pos, vel 3
 *   doubles each per particle, derivs 2K x 3 (derivative 0 .. 2K-1, each
 *   x y z) per particle; the slots become present. Indices in [0, n).
 * nbf_resident_remove(int count, const int* index): the slots index[k] keep
 *   their place with mass 0 and are no longer predicted (escapers, members
 *   of a regularised pair).
 * nbf_resident_force(double t, int js, int je, int ni, const int* index,
 *                    float eps2, Force* force):
 *   the forces at time t on the slots index[0 .. ni-1] due to the slots
 *   [js, je) (0 <= js <= je <= n). With eps2 == 0 a source at the target's
 *   own position (the particle itself) is left out; with eps2 > 0 it adds
 *   exactly zero, as in calc_force.
 * nbf_resident_potential(double t, int js, int je, int ni, const int* index,
 *                        float eps2, double* pot):
 *   pot[k] = -sum m_j / sqrt(r^2 + eps2) at time t over the slots [js, je),
 *   leaving out pairs as calc_pot does (the particle itself above all).
 * nbf_resident_neighbours(double t, int js, int je, int ni, const int* index,
 *                         double radius, int max_nb, int* count, int* list,
 *                         int* overflow):
 *   for each slot index[k], the present slots of [js, je) other than itself
 *   within radius at time t (|x_j - x_i| <= radius, predicted positions in
 *   double precision): count[k] of them, the first max_nb in slot order in
 *   list[k * max_nb ..]; *overflow = 1 if any count[k] > max_nb, else 0. */
void nbf_resident_resize(NBFORCE_RESIDENT_RESIZE_PARAMS);
void nbf_resident_set(NBFORCE_RESIDENT_SET_PARAMS);
void nbf_resident_remove(NBFORCE_RESIDENT_REMOVE_PARAMS);
void nbf_resident_potential(NBFORCE_RESIDENT_POTENTIAL_PARAMS);
void nbf_resident_neighbours(NBFORCE_RESIDENT_NEIGHBOURS_PARAMS);

#ifdef __cplusplus
}
/* Wall-clock seconds, supplied by the calling program (C++ linkage). The
 * libraries carry a weak default on a monotonic clock, so C and Fortran
 * callers link without one. */
double wtime();
#endif

#endif

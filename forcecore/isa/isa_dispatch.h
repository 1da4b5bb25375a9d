// A host library built for several x86-64 levels: each variant of the kernel
// source defines its entry points under its own name, nbf_<variant>_<entry>,
// and the library's public entry points call the variant chosen for this
// CPU (forcecore/isa/isa_select.cpp). Every variant gives the same bits.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// The variant the library runs: 0 baseline, 1 x86-64-v3, 2 x86-64-v4.
// Chosen at the first call: the most capable one the CPU has, or the one
// named by NBFORCE_HOST_ISA ("x86-64", "x86-64-v3", "x86-64-v4"); a name it
// does not know, or a variant the CPU cannot run, ends the process with a
// message.
int nbforce_host_isa_index(void);

// The chosen variant's name, as NBFORCE_HOST_ISA spells it.
const char* nbforce_host_isa(void);

// 1 if `variant` (baseline, x86_64_v3 or x86_64_v4) is the chosen one.
int nbforce_host_isa_is(const char* variant);

#ifdef __cplusplus
}
#endif

#define NBF_STRINGIFY_(x) #x
#define NBF_STRINGIFY(x) NBF_STRINGIFY_(x)
#define NBF_VARIANT_ENTRY_(variant, name) nbf_##variant##_##name
#define NBF_VARIANT_ENTRY(variant, name) NBF_VARIANT_ENTRY_(variant, name)

#define NBF_DECLARE_VARIANT(variant, Predictor, Force)                                          \
  extern "C" void nbf_##variant##_CUDA_MPI_Init(int rank);                                      \
  extern "C" void nbf_##variant##_calc_pot(int n, int js, int je, float eps2, const Posm* posm, \
                                           double* pot);                                        \
  extern "C" void nbf_##variant##_calc_force(int ni, int nj, const Predictor* ipred,            \
                                             const Predictor* jpred, Force* force, float eps2,  \
                                             double* jp_stamp, double* ip_time, double* fo_time);

// The public entry points of an order whose records are Predictor and Force.
#define NBF_DEFINE_DISPATCH(Predictor, Force)                                                      \
  NBF_DECLARE_VARIANT(baseline, Predictor, Force)                                                  \
  NBF_DECLARE_VARIANT(x86_64_v3, Predictor, Force)                                                 \
  NBF_DECLARE_VARIANT(x86_64_v4, Predictor, Force)                                                 \
  extern "C" void CUDA_MPI_Init(int rank) {                                                        \
    static void (*const chosen[])(int) = {nbf_baseline_CUDA_MPI_Init, nbf_x86_64_v3_CUDA_MPI_Init, \
                                          nbf_x86_64_v4_CUDA_MPI_Init};                            \
    chosen[nbforce_host_isa_index()](rank);                                                        \
  }                                                                                                \
  extern "C" void calc_pot(int n, int js, int je, float eps2, const Posm* posm, double* pot) {     \
    static void (*const chosen[])(int, int, int, float, const Posm*, double*) = {                  \
        nbf_baseline_calc_pot, nbf_x86_64_v3_calc_pot, nbf_x86_64_v4_calc_pot};                    \
    chosen[nbforce_host_isa_index()](n, js, je, eps2, posm, pot);                                  \
  }                                                                                                \
  extern "C" void calc_force(int ni, int nj, const Predictor* ipred, const Predictor* jpred,       \
                             Force* force, float eps2, double* jp_stamp, double* ip_time,          \
                             double* fo_time) {                                                    \
    static void (*const chosen[])(int, int, const Predictor*, const Predictor*, Force*, float,     \
                                  double*, double*, double*) = {                                   \
        nbf_baseline_calc_force, nbf_x86_64_v3_calc_force, nbf_x86_64_v4_calc_force};              \
    chosen[nbforce_host_isa_index()](ni, nj, ipred, jpred, force, eps2, jp_stamp, ip_time,         \
                                     fo_time);                                                     \
  }

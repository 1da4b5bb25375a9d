// What a force library adds to its order's records and pair step: its three
// kernels and its exported entry points. A library source defines
//   struct Library: Order (records and pair step), kName, the check numbers,
//   and the kernel pointers gravity, gravity_excluded, reduce, pot;
// and expands NBF_DEFINE_KERNELS before Library and NBF_DEFINE_ENTRY_POINTS
// after it.
#pragma once

// The backend first: the host's lane forms of fma_rn, select, splat, ...
// must be declared before the kernel templates that call them with
// F = Lanes, since a vector type brings no namespace to look them up in.
#include "forcecore/library/launch.h"

#include "forcecore/entry_points.h"
#include "forcecore/kernels.h"
#include "forcecore/library/binding.h"
#include "forcecore/library/force_driver.h"
#include "forcecore/library/potential.h"
#include "forcecore/library/resident.h"
#include "forcecore/self_excluded.h"

#if defined(__CUDACC__)
#define NBF_REGISTER_KERNELS(gravity_name)  // nvcc registers the device code itself
#else
#include "forcecore/isa/isa_check.h"
// The host kernels also pull the load-time instruction-set check into every
// static link.
//
// The registration runs at process start, before any instruction-set choice,
// in every variant's source: its code must run on every x86-64. It is
// therefore a function of its own compiled for the baseline
// (NBF_START_UP_CODE), and the static initializer the variant's flags
// compile only calls it. Inlined there, the registration's temporaries (and,
// in a sanitiser build, the poisoning of their stack) would be the
// variant's vector instructions, an illegal instruction on a CPU without
// them.
#define NBF_REGISTER_KERNELS(gravity_name)                                                       \
  NBF_START_UP_CODE static int nbf_register_kernels_() {                                         \
    static const nbf::host::KernelRegistration registration{                                     \
        NBF_VARIANT_ACTIVE,                                                                      \
        {{"pot_kernel", reinterpret_cast<const void*>(&pot_kernel)},                             \
         {"reduce_kernel", reinterpret_cast<const void*>(&reduce_kernel)},                       \
         {#gravity_name, reinterpret_cast<const void*>(&gravity_name)},                          \
         {"gravity_excluded_kernel", reinterpret_cast<const void*>(&gravity_excluded_kernel)}}}; \
    (void)registration;                                                                          \
    return 0;                                                                                    \
  }                                                                                              \
  [[maybe_unused]] static const int nbf_kernel_registration_ = nbf_register_kernels_();          \
  __attribute__((used)) static const char* const nbf_isa_check_reference_ =                      \
      &nbforce_host_isa_checked;
#endif

// A host library built for several instruction sets compiles this source
// once per variant (NBF_ISA_VARIANT names it): the entry points then carry
// the variant's name, and only the variant chosen at run time registers its
// kernels. forcecore/isa/isa_dispatch.h defines the entry points callers see.
#if defined(NBF_ISA_VARIANT) && !defined(__CUDACC__)
#include "forcecore/isa/isa_dispatch.h"
#define NBF_ENTRY(name) NBF_VARIANT_ENTRY(NBF_ISA_VARIANT, name)
#define NBF_VARIANT_ACTIVE (nbforce_host_isa_is(NBF_STRINGIFY(NBF_ISA_VARIANT)) != 0)
#define NBF_START_UP_CODE __attribute__((noinline, target("arch=x86-64")))
#else
#define NBF_ENTRY(name) name
#define NBF_VARIANT_ACTIVE true
#define NBF_START_UP_CODE
#endif

#define NBF_DEFINE_KERNELS(Order, gravity_name)                                               \
  NBF_KERNEL(pot_kernel, int js, int je, float eps2, const Posm* posm, float2* pot) {         \
    NBF_KERNEL_PROLOGUE                                                                       \
    nbf::pot_block(NBF_THIS_BLOCK, js, je, eps2, posm, pot);                                  \
  }                                                                                           \
  NBF_KERNEL(reduce_kernel, const Order::ForceDev* fo_dev, Order::ForceDev* fo_reduce) {      \
    NBF_KERNEL_PROLOGUE                                                                       \
    nbf::reduce_block<Order>(NBF_THIS_BLOCK, fo_dev, fo_reduce);                              \
  }                                                                                           \
  NBF_KERNEL(gravity_name, int ni, int nj, const Order::Predictor* ipred,                     \
             const Order::Predictor* jpred, Order::ForceDev* force, float eps2) {             \
    NBF_KERNEL_PROLOGUE                                                                       \
    nbf::gravity_block<Order>(NBF_THIS_BLOCK, ni, nj, ipred, jpred, force, eps2);             \
  }                                                                                           \
  NBF_KERNEL(gravity_excluded_kernel, int ni, int nj, const Order::Predictor* ipred,          \
             const Order::Predictor* jpred, Order::ForceDev* force, float eps2) {             \
    NBF_KERNEL_PROLOGUE                                                                       \
    nbf::gravity_block<nbf::SelfExcluded<Order>>(NBF_THIS_BLOCK, ni, nj, ipred, jpred, force, \
                                                 eps2);                                       \
  }                                                                                           \
  NBF_REGISTER_KERNELS(gravity_name)

namespace nbf {

// The driver behind each entry point of NBF_ENTRY_POINTS, under the entry
// point's name.
template <class L>
struct Drivers {
  template <class... A>
  static void CUDA_MPI_Init(A... a) {
    bind_device<L>(a...);
  }
  template <class... A>
  static void calc_pot(A... a) {
    compute_potential<L>(a...);
  }
  template <class... A>
  static void calc_force(A... a) {
    compute_force<L>(a...);
  }
  template <class... A>
  static void nbf_resident_resize(A... a) {
    resident_resize<L>(a...);
  }
  template <class... A>
  static void nbf_resident_set(A... a) {
    resident_set<L>(a...);
  }
  template <class... A>
  static void nbf_resident_remove(A... a) {
    resident_remove<L>(a...);
  }
  template <class... A>
  static void nbf_resident_force(A... a) {
    resident_force<L>(a...);
  }
  template <class... A>
  static void nbf_resident_potential(A... a) {
    resident_potential<L>(a...);
  }
  template <class... A>
  static void nbf_resident_neighbours(A... a) {
    resident_neighbours<L>(a...);
  }
};

}  // namespace nbf

#define NBF_DEFINE_ENTRY_(name, params, args) \
  extern "C" void NBF_ENTRY(name) params { nbf::Drivers<NbfLibrary_>::name args; }

#define NBF_DEFINE_ENTRY_POINTS(Library) \
  using NbfLibrary_ = Library;           \
  NBF_ENTRY_POINTS(NBF_DEFINE_ENTRY_, Library::Order::Predictor, Library::Order::Force)

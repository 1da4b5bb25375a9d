// A host library built for several x86-64 levels: each variant of the kernel
// source defines its entry points under its own name, nbf_<variant>_<entry>,
// and the library's public entry points call the variant chosen for this
// CPU (forcecore/isa/isa_select.cpp). Every variant gives the same bits.
//
// The variants come from forcecore/isa/variants.h (written by the build),
// the entry points from forcecore/entry_points.h: neither list is repeated
// here.
#pragma once

#include "forcecore/entry_points.h"
#include "forcecore/isa/variants.h"

#ifdef __cplusplus
extern "C" {
#endif

// The variant the library runs, as its position in NBF_ISA_VARIANTS.
// Chosen at the first call: the most capable one the CPU has, or the one
// named by NBFORCE_HOST_ISA ("x86-64", "x86-64-v3", ...); a name it does not
// know, or a variant the CPU cannot run, ends the process with a message.
int nbforce_host_isa_index(void);

// The chosen variant's name, as NBFORCE_HOST_ISA spells it.
const char* nbforce_host_isa(void);

// 1 if `variant` (a tag of NBF_ISA_VARIANTS: baseline, x86_64_v3, ...) is
// the chosen one.
int nbforce_host_isa_is(const char* variant);

#ifdef __cplusplus
}
#endif

#define NBF_STRINGIFY_(x) #x
#define NBF_STRINGIFY(x) NBF_STRINGIFY_(x)
#define NBF_VARIANT_ENTRY_(variant, name) nbf_##variant##_##name
#define NBF_VARIANT_ENTRY(variant, name) NBF_VARIANT_ENTRY_(variant, name)

#define NBF_DECLARE_VARIANT_ENTRY_(tag, level, features, name, params) \
  extern "C" void nbf_##tag##_##name params;
#define NBF_VARIANT_ENTRY_POINTER_(tag, level, features, name, params) nbf_##tag##_##name,

// One public entry point: a table of the variants' definitions, in the order
// of NBF_ISA_VARIANTS, indexed by the chosen variant.
#define NBF_DISPATCH_ENTRY_(name, params, args)                                \
  NBF_ISA_VARIANTS(NBF_DECLARE_VARIANT_ENTRY_, name, params)                   \
  extern "C" void name params {                                                \
    static void(*const chosen[])                                               \
        params = {NBF_ISA_VARIANTS(NBF_VARIANT_ENTRY_POINTER_, name, params)}; \
    chosen[nbforce_host_isa_index()] args;                                     \
  }

// The public entry points of an order whose records are Predictor and Force.
#define NBF_DEFINE_DISPATCH(Predictor, Force) \
  NBF_ENTRY_POINTS(NBF_DISPATCH_ENTRY_, Predictor, Force)

# Compiler settings shared by every target of the project.
#
# Floating-point order is part of the kernels' contract: no fast-math, no
# implicit contraction of a*b+c into a fused multiply-add. -fno-math-errno
# only lets sqrt compile to the instruction; it changes no result.

add_library(nbforce_flags INTERFACE)
target_compile_options(nbforce_flags INTERFACE
  $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -ffp-contract=off -fno-math-errno>
  $<$<AND:$<COMPILE_LANGUAGE:C,CXX>,$<BOOL:${NBFORCE_WERROR}>>:-Werror>)

# Instruction set of the host kernels. Results do not depend on it: every
# operation of the kernels is an IEEE operation with one rounding.
#
# The default (GCC on x86-64) builds the kernels three times, for the x86-64
# baseline, x86-64-v3 (AVX2, FMA) and x86-64-v4 (AVX-512), and the library
# picks the best one the CPU has when first called (forcecore/isa/isa_select.cpp);
# NBFORCE_HOST_ISA=<name> in the environment forces one. Other compilers, or
# NBFORCE_HOST_DISPATCH=OFF, build the baseline alone. NBFORCE_NATIVE=ON
# builds one variant for this machine and NBFORCE_HOST_ARCH one for a named
# -march; a library built so checks at load time that the CPU has the
# features it was compiled with (forcecore/isa/isa_check.c).
set(NBFORCE_HOST_ARCH "" CACHE STRING
    "-march of the host kernels, e.g. x86-64-v3 or x86-64-v4 (overrides NBFORCE_NATIVE)")
option(NBFORCE_HOST_DISPATCH
  "Build the host kernels for several x86-64 levels and choose one at run time (GCC)" ON)
set(NBFORCE_HOST_ISA_FLAGS "")
if(NBFORCE_HOST_ARCH)
  set(NBFORCE_HOST_ISA_FLAGS -march=${NBFORCE_HOST_ARCH})
elseif(NBFORCE_NATIVE)
  set(NBFORCE_HOST_ISA_FLAGS -march=native)
endif()
add_library(nbforce_host_isa INTERFACE)
target_compile_options(nbforce_host_isa INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:${NBFORCE_HOST_ISA_FLAGS}>)

# nbforce_isa_features(OUT FLAGS...): the CPU features that FLAGS add to the
# baseline and that the compiler may use in vector code, comma-separated, as
# the CPU query names them (AVX512F -> avx512f, SSE4_1 -> sse4.1).
function(nbforce_isa_features out)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dM -E -x c++ /dev/null
    OUTPUT_VARIABLE baseline_macros RESULT_VARIABLE rc1)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${ARGN} -dM -E -x c++ /dev/null
    OUTPUT_VARIABLE isa_macros RESULT_VARIABLE rc2)
  if(NOT rc1 EQUAL 0 OR NOT rc2 EQUAL 0)
    message(FATAL_ERROR "nbforce: ${CMAKE_CXX_COMPILER} does not accept ${ARGN}")
  endif()
  string(REGEX MATCHALL "#define __[A-Z0-9_]+__ 1" baseline_macros "${baseline_macros}")
  string(REGEX MATCHALL "#define __[A-Z0-9_]+__ 1" isa_macros "${isa_macros}")
  set(features "")
  foreach(macro ${isa_macros})
    if(NOT macro IN_LIST baseline_macros
       AND macro MATCHES "__(SSE|SSSE|AVX|FMA|BMI|F16C|POPCNT|MOVBE)")
      string(REGEX REPLACE "#define __([A-Z0-9_]+)__ 1" "\\1" feature "${macro}")
      string(TOLOWER "${feature}" feature)
      string(REPLACE "_" "." feature "${feature}")
      list(APPEND features ${feature})
    endif()
  endforeach()
  list(SORT features)
  list(JOIN features "," joined)
  set(${out} "${joined}" PARENT_SCOPE)
endfunction()

set(NBFORCE_HOST_ISA_REQUIRES "")
if(NBFORCE_HOST_ISA_FLAGS)
  nbforce_isa_features(NBFORCE_HOST_ISA_REQUIRES ${NBFORCE_HOST_ISA_FLAGS})
  message(STATUS
    "nbforce: host kernels built with ${NBFORCE_HOST_ISA_FLAGS}: ${NBFORCE_HOST_ISA_REQUIRES}")
endif()

# The instruction-set variants of a host library that chooses at run time:
# the one list that the build of the kernels, the dispatch table, the choice
# (forcecore/isa/isa_select.cpp) and its test all read. The first entry is
# the baseline, compiled for the compiler's default target; each later one
# is an -march level, and the choice takes the last one the CPU can run.
# The names are also those NBFORCE_HOST_ISA takes.
# A quick build (scripts/test without --full) takes the baseline and
# -march=native alone: "x86-64;native".
set(NBFORCE_HOST_VARIANT_LEVELS "x86-64;x86-64-v3;x86-64-v4" CACHE STRING
    "The host kernels' instruction-set variants: the baseline first, then -march levels")

# The run-time choice needs -fno-weak: it makes every inline function and
# template instance of a variant's kernel source a local copy, so that the
# linker can never hand the baseline code an AVX-512 copy of a shared
# function.
#
# NBFORCE_HOST_VARIANTS lists the variants built, by tag (baseline, then the
# level with '_' for '-': x86_64_v3), and NBFORCE_HOST_VARIANT_FLAGS_<tag>
# holds each one's compile flags. forcecore/isa/variants.h, written into the
# build tree, hands the same list to the code as
# NBF_ISA_VARIANTS(X, ...) = X(tag, "level", "features", ...) per variant.
set(NBFORCE_HOST_VARIANTS "")
set(variant_rows "")
if(NOT NBFORCE_HOST_ISA_FLAGS AND NBFORCE_HOST_DISPATCH AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU"
   AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  foreach(level IN LISTS NBFORCE_HOST_VARIANT_LEVELS)
    if(NBFORCE_HOST_VARIANTS)
      string(MAKE_C_IDENTIFIER ${level} tag)
      set(NBFORCE_HOST_VARIANT_FLAGS_${tag} -march=${level})
      nbforce_isa_features(features -march=${level})
    else()
      set(tag baseline)
      set(NBFORCE_HOST_VARIANT_FLAGS_${tag} "")
      set(features "")
    endif()
    list(APPEND NBFORCE_HOST_VARIANTS ${tag})
    string(APPEND variant_rows "  X(${tag}, \"${level}\", \"${features}\", __VA_ARGS__) \\\n")
  endforeach()
  list(JOIN NBFORCE_HOST_VARIANT_LEVELS ", " levels)
  message(STATUS "nbforce: host kernels for ${levels}, chosen at run time")
endif()
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/generated/forcecore/isa/variants.h CONTENT
"// The host library's instruction-set variants, written by CMake from
// NBFORCE_HOST_VARIANT_LEVELS (cmake/NbforceFlags.cmake); empty where the
// build makes one variant only.
//
// NBF_ISA_VARIANTS(X, ...) expands X(tag, level, features, ...) once per
// variant, most basic first: tag names the variant's entry points
// (nbf_<tag>_calc_force), level is its name in NBFORCE_HOST_ISA, features
// the comma-separated CPU features it needs beyond the baseline.
#pragma once

#define NBF_ISA_VARIANTS(X, ...) \\
${variant_rows}
" @ONLY)

if(NBFORCE_SANITIZE)
  target_compile_options(nbforce_flags INTERFACE
    $<$<COMPILE_LANGUAGE:C,CXX>:-fsanitize=${NBFORCE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all>)
  target_link_options(nbforce_flags INTERFACE -fsanitize=${NBFORCE_SANITIZE})
endif()

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
# operation of the kernels is an IEEE operation with one rounding. The
# default is the portable x86-64 baseline; NBFORCE_NATIVE=ON builds for this
# machine, NBFORCE_HOST_ARCH for a named -march (x86-64-v3: AVX2 and FMA;
# x86-64-v4: AVX-512). A library built so checks at load time that the CPU
# has the features it was compiled with (forcecore/isa_check.c).
set(NBFORCE_HOST_ARCH "" CACHE STRING
    "-march of the host kernels, e.g. x86-64-v3 or x86-64-v4 (overrides NBFORCE_NATIVE)")
set(NBFORCE_HOST_ISA_FLAGS "")
if(NBFORCE_HOST_ARCH)
  set(NBFORCE_HOST_ISA_FLAGS -march=${NBFORCE_HOST_ARCH})
elseif(NBFORCE_NATIVE)
  set(NBFORCE_HOST_ISA_FLAGS -march=native)
endif()
add_library(nbforce_host_isa INTERFACE)
target_compile_options(nbforce_host_isa INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:${NBFORCE_HOST_ISA_FLAGS}>)

# The CPU features those flags add to the baseline that the compiler may use
# in vector code, comma-separated, as the load-time check names them
# (AVX512F -> avx512f, SSE4_1 -> sse4.1).
set(NBFORCE_HOST_ISA_REQUIRES "")
if(NBFORCE_HOST_ISA_FLAGS)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dM -E -x c++ /dev/null
    OUTPUT_VARIABLE baseline_macros RESULT_VARIABLE rc1)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${NBFORCE_HOST_ISA_FLAGS} -dM -E -x c++ /dev/null
    OUTPUT_VARIABLE isa_macros RESULT_VARIABLE rc2)
  if(NOT rc1 EQUAL 0 OR NOT rc2 EQUAL 0)
    message(FATAL_ERROR "nbforce: ${CMAKE_CXX_COMPILER} does not accept ${NBFORCE_HOST_ISA_FLAGS}")
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
  list(JOIN features "," NBFORCE_HOST_ISA_REQUIRES)
  message(STATUS
    "nbforce: host kernels built with ${NBFORCE_HOST_ISA_FLAGS}: ${NBFORCE_HOST_ISA_REQUIRES}")
endif()

if(NBFORCE_SANITIZE)
  target_compile_options(nbforce_flags INTERFACE
    $<$<COMPILE_LANGUAGE:C,CXX>:-fsanitize=${NBFORCE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all>)
  target_link_options(nbforce_flags INTERFACE -fsanitize=${NBFORCE_SANITIZE})
endif()

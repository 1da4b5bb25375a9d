# Compiler settings shared by every target of the project.
#
# Floating-point order is part of the kernels' contract: no fast-math, no
# implicit contraction of a*b+c into a fused multiply-add. -fno-math-errno
# only lets sqrt compile to the instruction; it changes no result.

add_library(nbforce_flags INTERFACE)
target_compile_options(nbforce_flags INTERFACE
  $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -ffp-contract=off -fno-math-errno>
  $<$<AND:$<COMPILE_LANGUAGE:C,CXX>,$<BOOL:${NBFORCE_WERROR}>>:-Werror>)

# Instruction set of the host backend. Results do not depend on it: every
# operation of the kernels is an IEEE operation with one rounding.
add_library(nbforce_host_isa INTERFACE)
if(NBFORCE_NATIVE)
  target_compile_options(nbforce_host_isa INTERFACE $<$<COMPILE_LANGUAGE:CXX>:-march=native>)
endif()

if(NBFORCE_SANITIZE)
  target_compile_options(nbforce_flags INTERFACE
    $<$<COMPILE_LANGUAGE:C,CXX>:-fsanitize=${NBFORCE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all>)
  target_link_options(nbforce_flags INTERFACE -fsanitize=${NBFORCE_SANITIZE})
endif()

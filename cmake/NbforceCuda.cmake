# Decides whether the CUDA backend is built (NBFORCE_CUDA = AUTO|ON|OFF) and
# sets the device code generation: every architecture CUDA 13 supports that
# the toolkit targets, plus portable assembly for later ones.

set(NBFORCE_HAVE_CUDA OFF)
if(NOT NBFORCE_CUDA STREQUAL "OFF")
  # A folder configured where no nvcc was found (a login node) and reused
  # where one is (a GPU node sharing the home directory) looks again rather
  # than keep the cached miss.
  if(DEFINED CACHE{CMAKE_CUDA_COMPILER} AND NOT CMAKE_CUDA_COMPILER)
    unset(CMAKE_CUDA_COMPILER CACHE)
  endif()
  include(CheckLanguage)
  check_language(CUDA)
  if(CMAKE_CUDA_COMPILER)
    if(NOT DEFINED CMAKE_CUDA_ARCHITECTURES)
      set(CMAKE_CUDA_ARCHITECTURES "75-real;80-real;86-real;89-real;90" CACHE STRING
          "CUDA architectures (the last one also as PTX)")
    endif()
    enable_language(CUDA)
    set(CMAKE_CUDA_STANDARD 17)
    set(CMAKE_CUDA_STANDARD_REQUIRED ON)
    find_package(CUDAToolkit REQUIRED)
    set(NBFORCE_HAVE_CUDA ON)
  elseif(NBFORCE_CUDA STREQUAL "ON")
    message(FATAL_ERROR "NBFORCE_CUDA=ON but no CUDA compiler was found")
  endif()
endif()
message(STATUS "nbforce: CUDA backend ${NBFORCE_HAVE_CUDA}")
# For the scripts, which report the backend a build folder has.
set(NBFORCE_CUDA_BUILT ${NBFORCE_HAVE_CUDA} CACHE INTERNAL "Whether the CUDA libraries are built")

if(NBFORCE_HAVE_CUDA)
  # No implicit contraction on the device either: the kernels fuse exactly
  # where they say so.
  add_library(nbforce_cuda_flags INTERFACE)
  target_compile_options(nbforce_cuda_flags INTERFACE
    $<$<COMPILE_LANGUAGE:CUDA>:--fmad=false -Xcompiler=-Wall,-Wextra,-ffp-contract=off>
    $<$<AND:$<COMPILE_LANGUAGE:CUDA>,$<BOOL:${NBFORCE_WERROR}>>:-Werror=all-warnings -Xcompiler=-Werror>)
endif()

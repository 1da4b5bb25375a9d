# nbforce_add_library(ORDER): the host library nbforce<ORDER>_host (always)
# and the CUDA library nbforce<ORDER> (when the CUDA backend is built), from
# the one library source nbforce<ORDER>/nbforce<ORDER>.cpp. Every library
# built is recorded in the global property NBFORCE_INSTALLED_LIBS, which the
# install rules read to write one pkg-config file per library.

# What a C or Fortran linker must add to link the C++ libraries: the C++
# runtime (the C++ compiler's implicit libraries less those every C link
# has anyway) and the OpenMP runtime, by name, so that the installed package
# needs neither the C++ language nor find_package(OpenMP) in the caller.
set(NBFORCE_CXX_RUNTIME_LIBS)
foreach(lib ${CMAKE_CXX_IMPLICIT_LINK_LIBRARIES})
  if(NOT lib MATCHES "^(c|gcc|gcc_s|gcc_eh)$" AND NOT lib IN_LIST NBFORCE_CXX_RUNTIME_LIBS)
    list(APPEND NBFORCE_CXX_RUNTIME_LIBS ${lib})
  endif()
endforeach()
set(NBFORCE_OPENMP_RUNTIME_LIBS ${OpenMP_CXX_LIB_NAMES})

add_library(nbforce_cxx_runtime INTERFACE)
target_link_libraries(nbforce_cxx_runtime INTERFACE
  $<INSTALL_INTERFACE:${NBFORCE_CXX_RUNTIME_LIBS}>)
set_target_properties(nbforce_cxx_runtime PROPERTIES EXPORT_NAME cxx_runtime)
install(TARGETS nbforce_cxx_runtime EXPORT nbforceTargets)

add_library(nbforce_openmp_runtime INTERFACE)
target_link_libraries(nbforce_openmp_runtime INTERFACE
  $<BUILD_INTERFACE:OpenMP::OpenMP_CXX> $<INSTALL_INTERFACE:${NBFORCE_OPENMP_RUNTIME_LIBS}>)
set_target_properties(nbforce_openmp_runtime PROPERTIES EXPORT_NAME openmp_runtime)
install(TARGETS nbforce_openmp_runtime EXPORT nbforceTargets)

function(nbforce_add_library order)
  set(dir ${PROJECT_SOURCE_DIR}/nbforce${order})
  set(host nbforce${order}_host)
  if(NBFORCE_HOST_VARIANTS)
    # The kernel source once per instruction-set variant, each with its own
    # entry points, and the entry points that choose one at run time.
    add_library(${host} ${dir}/dispatch${order}.cpp ${FORCECORE_HOST_SOURCES}
      ${FORCECORE_ISA_SELECT_SOURCE})
    foreach(variant ${NBFORCE_HOST_VARIANTS})
      set(objects ${host}_${variant})
      add_library(${objects} OBJECT ${dir}/nbforce${order}.cpp)
      target_compile_options(${objects} PRIVATE -Wno-psabi -fno-weak
        ${NBFORCE_HOST_VARIANT_FLAGS_${variant}})
      target_compile_definitions(${objects} PRIVATE NBF_ISA_VARIANT=${variant})
      target_link_libraries(${objects} PRIVATE forcecore_headers nbforce_flags)
      target_sources(${host} PRIVATE $<TARGET_OBJECTS:${objects}>)
    endforeach()
  else()
    add_library(${host} ${dir}/nbforce${order}.cpp ${FORCECORE_HOST_SOURCES})
  endif()
  target_compile_options(${host} PRIVATE -Wno-psabi)
  target_link_libraries(${host}
    PUBLIC nbforce_headers nbforce_openmp_runtime nbforce_cxx_runtime
    PRIVATE $<BUILD_INTERFACE:forcecore_headers> $<BUILD_INTERFACE:nbforce_flags>)
  # Only the kernels get the chosen instruction set; the rest of the library,
  # the load-time check above all, stays on the baseline.
  set_source_files_properties(${dir}/nbforce${order}.cpp PROPERTIES
    COMPILE_OPTIONS "${NBFORCE_HOST_ISA_FLAGS}")
  set_source_files_properties(${FORCECORE_ISA_CHECK_SOURCE} PROPERTIES COMPILE_DEFINITIONS
    "NBF_HOST_ISA_REQUIRES=\"${NBFORCE_HOST_ISA_REQUIRES}\";NBF_HOST_ISA_FLAGS=\"${NBFORCE_HOST_ISA_FLAGS}\"")
  install(TARGETS ${host} EXPORT nbforceTargets)
  set_property(GLOBAL APPEND PROPERTY NBFORCE_INSTALLED_LIBS ${host})

  if(NBFORCE_HAVE_CUDA)
    set(cuda nbforce${order})
    nbforce_cuda_library(${cuda} ${order})
    install(TARGETS ${cuda} EXPORT nbforceTargets)
    set_property(GLOBAL APPEND PROPERTY NBFORCE_INSTALLED_LIBS ${cuda})
  endif()
endfunction()

# nbforce_cuda_library(TARGET ORDER): the CUDA library of ORDER under the name
# TARGET.
function(nbforce_cuda_library target order)
  set(dir ${PROJECT_SOURCE_DIR}/nbforce${order})
  add_library(${target} ${dir}/nbforce${order}_cuda.cu ${FORCECORE_CUDA_SOURCES})
  target_link_libraries(${target}
    PUBLIC nbforce_headers CUDA::cudart nbforce_cxx_runtime
    PRIVATE $<BUILD_INTERFACE:forcecore_headers> $<BUILD_INTERFACE:nbforce_flags>
            $<BUILD_INTERFACE:nbforce_cuda_flags>)
endfunction()

# nbforce_add_host_rsqrt_library(ORDER): for tests only, the CUDA library of
# ORDER whose device computes 1/sqrt the way the host backend does, so that
# its results must equal the host library's bit for bit. Never installed.
function(nbforce_add_host_rsqrt_library order)
  set(target nbforce${order}_cuda_host_rsqrt)
  if(NOT TARGET ${target})
    nbforce_cuda_library(${target} ${order})
    target_compile_definitions(${target} PRIVATE NBF_HOST_RSQRT)
  endif()
endfunction()

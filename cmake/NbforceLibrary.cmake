# nbforce_add_library(ORDER): the host library nbforce<ORDER>_host (always)
# and the CUDA library nbforce<ORDER> (when the CUDA backend is built), from
# the one library source nbforce<ORDER>/nbforce<ORDER>.cpp.

function(nbforce_add_library order)
  set(dir ${PROJECT_SOURCE_DIR}/nbforce${order})
  set(host nbforce${order}_host)
  add_library(${host} ${dir}/nbforce${order}.cpp ${FORCECORE_HOST_SOURCES})
  target_compile_options(${host} PRIVATE -Wno-psabi)
  target_link_libraries(${host}
    PUBLIC forcecore_headers OpenMP::OpenMP_CXX
    PRIVATE $<BUILD_INTERFACE:nbforce_flags> $<BUILD_INTERFACE:nbforce_host_isa>)
  target_include_directories(${host} PUBLIC
    $<BUILD_INTERFACE:${dir}> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  set_target_properties(${host} PROPERTIES EXPORT_NAME nbforce${order}_host)
  install(TARGETS ${host} EXPORT nbforceTargets)
  install(FILES ${dir}/nbforce${order}.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  set(NBFORCE_INSTALLED_LIBS ${NBFORCE_INSTALLED_LIBS} ${host} PARENT_SCOPE)

  if(NBFORCE_HAVE_CUDA)
    set(cuda nbforce${order})
    nbforce_cuda_library(${cuda} ${order})
    install(TARGETS ${cuda} EXPORT nbforceTargets)
    set(NBFORCE_INSTALLED_LIBS ${NBFORCE_INSTALLED_LIBS} ${cuda} PARENT_SCOPE)
  endif()
endfunction()

# nbforce_cuda_library(TARGET ORDER): the CUDA library of ORDER under the name
# TARGET.
function(nbforce_cuda_library target order)
  set(dir ${PROJECT_SOURCE_DIR}/nbforce${order})
  add_library(${target} ${dir}/nbforce${order}_cuda.cu ${FORCECORE_CUDA_SOURCES})
  target_link_libraries(${target}
    PUBLIC forcecore_headers CUDA::cudart
    PRIVATE $<BUILD_INTERFACE:nbforce_flags> $<BUILD_INTERFACE:nbforce_cuda_flags>)
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${dir}> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
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

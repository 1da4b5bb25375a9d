# Install rules: a CMake package (find_package(nbforce)) exporting the
# libraries, and one pkg-config file per library. Both locate the installed
# tree from their own position, so a tree installed with --prefix, or copied
# elsewhere afterwards, still works.
include(CMakePackageConfigHelpers)

set(NBFORCE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/nbforce)
install(EXPORT nbforceTargets NAMESPACE nbforce:: DESTINATION ${NBFORCE_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/nbforceConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/nbforceConfig.cmake
  INSTALL_DESTINATION ${NBFORCE_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/nbforceConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/nbforceConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/nbforceConfigVersion.cmake
  DESTINATION ${NBFORCE_CMAKE_DIR})

# pkg-config: the prefix is found from ${pcfiledir}. A static library
# carries the C++ and OpenMP runtimes in Libs, since a plain
# `pkg-config --libs` is what callers use; a shared one names them in
# Libs.private only.
set(NBFORCE_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH pc_to_prefix /${NBFORCE_PC_DIR} /)
string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
set(NBFORCE_PC_PREFIX "\${pcfiledir}/${pc_to_prefix}")
list(TRANSFORM NBFORCE_CXX_RUNTIME_LIBS PREPEND -l OUTPUT_VARIABLE cxx_runtime)
list(TRANSFORM NBFORCE_OPENMP_RUNTIME_LIBS PREPEND -l OUTPUT_VARIABLE openmp_runtime)
list(JOIN cxx_runtime " " cxx_runtime)
list(JOIN openmp_runtime " " openmp_runtime)

get_property(installed_libs GLOBAL PROPERTY NBFORCE_INSTALLED_LIBS)
foreach(lib ${installed_libs})
  set(NBFORCE_PC_LIBDIRS "")
  if(lib STREQUAL "nbforce_fortran")
    set(runtime "")
  elseif(lib MATCHES "_host$")
    set(runtime "${openmp_runtime} ${cxx_runtime}")
  else()
    set(runtime "-lcudart ${cxx_runtime}")
    set(NBFORCE_PC_LIBDIRS " -L${CUDAToolkit_LIBRARY_DIR}")
  endif()
  if(BUILD_SHARED_LIBS)
    set(NBFORCE_PC_LIBS "-l${lib}")
    set(NBFORCE_PC_LIBS_PRIVATE "${runtime}")
  else()
    string(STRIP "-l${lib} ${runtime}" NBFORCE_PC_LIBS)
    set(NBFORCE_PC_LIBS_PRIVATE "")
  endif()
  set(NBFORCE_PC_NAME ${lib})
  configure_file(${CMAKE_CURRENT_LIST_DIR}/nbforce.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${lib}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${lib}.pc DESTINATION ${NBFORCE_PC_DIR})
endforeach()

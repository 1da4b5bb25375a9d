# Install rules: a CMake package (find_package(nbforce)) exporting the
# libraries, and one pkg-config file per library.
include(CMakePackageConfigHelpers)

install(EXPORT nbforceTargets NAMESPACE nbforce:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/nbforce)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/nbforceConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/nbforceConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/nbforce)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/nbforceConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/nbforceConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/nbforceConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/nbforce)

foreach(lib ${NBFORCE_INSTALLED_LIBS})
  if(lib MATCHES "_host$")
    set(NBFORCE_PC_LIBS "-l${lib} -fopenmp -lm")
  else()
    set(NBFORCE_PC_LIBS "-l${lib} -lcudart")
  endif()
  set(NBFORCE_PC_NAME ${lib})
  configure_file(${CMAKE_CURRENT_LIST_DIR}/nbforce.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${lib}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${lib}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

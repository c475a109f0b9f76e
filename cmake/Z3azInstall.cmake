# Installs the host library, the platform library and the public headers,
# with a CMake package so that other projects can find_package(z3az).
include(CMakePackageConfigHelpers)

install(TARGETS z3az z3az_platform EXPORT z3azTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/z3az DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT z3azTargets NAMESPACE z3az:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/z3az)
file(WRITE ${CMAKE_BINARY_DIR}/z3azConfig.cmake.in
  "@PACKAGE_INIT@\ninclude(\"\${CMAKE_CURRENT_LIST_DIR}/z3azTargets.cmake\")\n")
configure_package_config_file(${CMAKE_BINARY_DIR}/z3azConfig.cmake.in
  ${CMAKE_BINARY_DIR}/z3azConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/z3az)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/z3azConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/z3azConfig.cmake ${CMAKE_BINARY_DIR}/z3azConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/z3az)

# Install rules: the libraries, the headers, a CMake package exporting
# bsbasis::bsbasis (and bsbasis::bsbasis_static) and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(BSBASIS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/bsbasis)
set(BSBASIS_INSTALL_TARGETS bsbasis)
if(TARGET bsbasis_static)
  list(APPEND BSBASIS_INSTALL_TARGETS bsbasis_static)
endif()

install(TARGETS ${BSBASIS_INSTALL_TARGETS} EXPORT bsbasisTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES
  ${PROJECT_SOURCE_DIR}/include/bsbasis.h
  ${PROJECT_SOURCE_DIR}/include/bsbasis.hpp
  ${PROJECT_SOURCE_DIR}/include/bsbasis_eigen.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

install(EXPORT bsbasisTargets NAMESPACE bsbasis:: DESTINATION ${BSBASIS_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/bsbasisConfig.cmake.in
  ${PROJECT_BINARY_DIR}/bsbasisConfig.cmake
  INSTALL_DESTINATION ${BSBASIS_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/bsbasisConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/bsbasisConfig.cmake
  ${PROJECT_BINARY_DIR}/bsbasisConfigVersion.cmake
  DESTINATION ${BSBASIS_CMAKE_DIR})

# The .pc file finds its prefix from its own place, so that it stays right
# under `cmake --install --prefix` and DESTDIR.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(BSBASIS_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(BSBASIS_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH _up "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
  string(REGEX REPLACE "/$" "" _up "${_up}")
  set(BSBASIS_PC_PREFIX "\${pcfiledir}/${_up}")
  set(BSBASIS_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(BSBASIS_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(BSBASIS_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/bsbasis.pc.in
  ${PROJECT_BINARY_DIR}/bsbasis.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/bsbasis.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Installation as a CMake package and a pkg-config module, included from the
# top-level CMakeLists.txt once the targets exist.
#
#   find_package(ift_toolkit CONFIG REQUIRED)
#   target_link_libraries(app PRIVATE ift_toolkit::ift)
#
# The programs are exported too (ift_toolkit::sower, ift_toolkit::sieve), and a
# project that adds this tree with add_subdirectory gets the same name for the
# library through an alias.

include(CMakePackageConfigHelpers)

set(PX_PACKAGE ift_toolkit)
set(PX_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/${PX_PACKAGE})

add_library(${PX_PACKAGE}::ift ALIAS ift)

install(TARGETS ift sower sieve EXPORT ${PX_PACKAGE}Targets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT ${PX_PACKAGE}Targets NAMESPACE ${PX_PACKAGE}:: DESTINATION ${PX_CONFIG_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/${PX_PACKAGE}Config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/${PX_PACKAGE}Config.cmake
  INSTALL_DESTINATION ${PX_CONFIG_DIR})
# Before 1.0 a minor version may change the interface.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/${PX_PACKAGE}ConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${PX_PACKAGE}Config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/${PX_PACKAGE}ConfigVersion.cmake
        DESTINATION ${PX_CONFIG_DIR})

# The .pc file finds its prefix from its own place, so an install moved or made
# with `cmake --install --prefix` still points at itself.
file(RELATIVE_PATH PX_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" PX_PC_TO_PREFIX "${PX_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/${PX_PACKAGE}.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/${PX_PACKAGE}.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${PX_PACKAGE}.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The consumer project in examples/consumer is installed against, built and
# run by a test. It gets this build's compiler and directory-wide options
# (sanitizers included), which a static library's users must share.
if(PX_BUILD_TESTS)
  get_directory_property(PX_DIR_COMPILE_OPTIONS COMPILE_OPTIONS)
  get_directory_property(PX_DIR_LINK_OPTIONS LINK_OPTIONS)
  string(JOIN " " PX_CONSUMER_CXX_FLAGS ${CMAKE_CXX_FLAGS} ${PX_DIR_COMPILE_OPTIONS})
  string(JOIN " " PX_CONSUMER_LINK_FLAGS ${CMAKE_EXE_LINKER_FLAGS} ${PX_DIR_LINK_OPTIONS})
  add_test(NAME Package.ConsumerBuildsAgainstAnInstall
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${CMAKE_BINARY_DIR} -DCONFIG=$<CONFIG> -DWORK=${CMAKE_BINARY_DIR}/consumer-test
      -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
      -DBINDIR=${CMAKE_INSTALL_BINDIR} -DINCLUDEDIR=${CMAKE_INSTALL_INCLUDEDIR}
      -DGENERATOR=${CMAKE_GENERATOR} -DCXX=${CMAKE_CXX_COMPILER}
      -DCXX_FLAGS=${PX_CONSUMER_CXX_FLAGS} -DLINK_FLAGS=${PX_CONSUMER_LINK_FLAGS}
      -P ${CMAKE_CURRENT_LIST_DIR}/consumer_test.cmake)
endif()

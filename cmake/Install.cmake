# What `cmake --install` puts into a prefix: the host, the definition tool,
# the application's extension, the framework's library and headers, and the
# CMake package with which other projects build extensions of their own
# (find_package(tolvane) and tolvane_add_extension).
# A cross build has only a tool for the build machine: packages come from
# native builds.
if(CMAKE_CROSSCOMPILING)
  return()
endif()
include(CMakePackageConfigHelpers)

set(TOLVANE_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tolvane)
set(TOLVANE_SKELETON_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/tolvane/extension_skeleton)

# The framework and the tool an extension's build runs; the host too, so a
# project can find it the same way.
set(installed_programs tolvane-defc)
if(TARGET tolvane-host)
  list(APPEND installed_programs tolvane-host)
endif()
install(TARGETS tolvane_core ${installed_programs} EXPORT tolvaneTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY src/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tolvane
  FILES_MATCHING PATTERN "*.h"
  PATTERN "app" EXCLUDE
  PATTERN "posix" EXCLUDE
  PATTERN "win32" EXCLUDE)

# The application's extension is loaded by a host, never linked: it lives in
# a folder of its own rather than on the linker's path.
install(TARGETS tolvane
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/tolvane
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(DIRECTORY extension_skeleton/ DESTINATION ${TOLVANE_SKELETON_INSTALL_DIR})
install(EXPORT tolvaneTargets NAMESPACE tolvane:: DESTINATION ${TOLVANE_CMAKE_INSTALL_DIR})
configure_package_config_file(cmake/tolvaneConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/tolvaneConfig.cmake
  INSTALL_DESTINATION ${TOLVANE_CMAKE_INSTALL_DIR}
  PATH_VARS TOLVANE_SKELETON_INSTALL_DIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/tolvaneConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/tolvaneConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/tolvaneConfigVersion.cmake
  cmake/TolvaneExtension.cmake
  cmake/EmbedResources.cmake
  DESTINATION ${TOLVANE_CMAKE_INSTALL_DIR})

# A small extension to start from.
install(DIRECTORY tests/sdk/hello/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tolvane/examples/hello)

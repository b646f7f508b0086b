# `cpack -G DEB`: the installed tree as a Debian package, tolvane_<version>_<arch>.deb.
if(CMAKE_CROSSCOMPILING)
  return()
endif()
set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VENDOR "The tolvane developers")
set(CPACK_PACKAGE_CONTACT "The tolvane developers <tolvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ISAPI web extension framework, HTTP host and extension SDK")
set(CPACK_PACKAGE_DESCRIPTION "tolvane is a C++20 framework for web-server extensions with the ISAPI
interface. This package holds tolvane-host, an HTTP/1.1 server that loads
extensions; tolvane-defc, which compiles module definitions written as text;
the framework's headers and library; an example extension; and the CMake
package (find_package(tolvane), tolvane_add_extension) with which extensions
are built.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The C and C++ runtimes the programs need, as the system's own tool finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Building an extension needs a compiler and CMake; serving one needs neither.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cmake (>= 3.25), g++ (>= 4:12)")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ninja-build, curl")
set(CPACK_GENERATOR DEB)
include(CPack)

# Module definitions are kept as text and compiled by tolvane-defc at build
# time. A cross build cannot run the tool it builds for its target, so it
# builds one for the build machine on the side, from the same sources.
if(CMAKE_CROSSCOMPILING)
  include(ExternalProject)
  set(native_defc_dir ${CMAKE_BINARY_DIR}/native-defc)
  set(TOLVANE_DEFC_COMMAND ${native_defc_dir}/tolvane-defc${CMAKE_HOST_EXECUTABLE_SUFFIX})
  ExternalProject_Add(tolvane_native_defc
    SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/../tools/defc
    BINARY_DIR ${native_defc_dir}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target tolvane-defc
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${TOLVANE_DEFC_COMMAND})
  set(TOLVANE_DEFC_DEPENDS tolvane_native_defc ${TOLVANE_DEFC_COMMAND})
else()
  add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/../tools/defc ${CMAKE_BINARY_DIR}/tools/defc)
  set(TOLVANE_DEFC_COMMAND $<TARGET_FILE:tolvane-defc>)
  set(TOLVANE_DEFC_DEPENDS tolvane-defc)
endif()

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

# Compiles each text definition (NAME.def) into DIRECTORY/NAME.bin at build
# time and sets OUTPUT_VARIABLE to the list of compiled files.
function(tolvane_compile_definitions output_variable directory)
  set(outputs "")
  foreach(input IN LISTS ARGN)
    get_filename_component(name "${input}" NAME_WE)
    set(output ${directory}/${name}.bin)
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${directory}
      COMMAND ${TOLVANE_DEFC_COMMAND} compile ${input} -o ${output}
      DEPENDS ${input} ${TOLVANE_DEFC_DEPENDS}
      COMMENT "Compiling the definition ${name}"
      VERBATIM)
    list(APPEND outputs ${output})
  endforeach()
  set(${output_variable} ${outputs} PARENT_SCOPE)
endfunction()

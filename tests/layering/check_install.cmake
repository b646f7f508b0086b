# Run as a script (cmake -DBUILD=... -DSOURCE=... -DPREFIX=... -DLIBRARIES=a;b
# -DCXX=compiler -P check_install.cmake): installs the build into PREFIX and
# checks that include/ holds exactly the layers' public headers (no private
# header), that they compile with nothing but the installed include/ on the
# path, and that every layer's library is there.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(problems "")
file(GLOB_RECURSE installed RELATIVE "${PREFIX}/include" "${PREFIX}/include/*")
set(public "")
file(GLOB layer_includes LIST_DIRECTORIES true "${SOURCE}/src/*/include")
foreach(include IN LISTS layer_includes)
  file(GLOB_RECURSE headers RELATIVE "${include}" "${include}/*.h")
  list(APPEND public ${headers})
endforeach()
foreach(header IN LISTS public)
  if(NOT header IN_LIST installed)
    string(APPEND problems "  public header not installed: ${header}\n")
  endif()
endforeach()
foreach(file IN LISTS installed)
  if(NOT file IN_LIST public)
    string(APPEND problems "  installed but not a public header: include/${file}\n")
  endif()
endforeach()

file(GLOB_RECURSE libraries RELATIVE "${PREFIX}" "${PREFIX}/*")
foreach(library IN LISTS LIBRARIES)
  if(NOT libraries MATCHES "(^|;)lib[^;]*/${library}(;|$)")
    string(APPEND problems "  library not installed under lib: ${library}\n")
  endif()
endforeach()

if(NOT problems)
  set(all_headers "${PREFIX}/all_headers.cpp")
  set(text "")
  foreach(header IN LISTS installed)
    string(APPEND text "#include <${header}>\n")
  endforeach()
  file(WRITE "${all_headers}" "${text}")
  execute_process(COMMAND "${CXX}" -std=c++20 -fsyntax-only "-I${PREFIX}/include" "${all_headers}"
                  RESULT_VARIABLE result ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    string(APPEND problems "  the installed headers do not compile on their own:\n${errors}\n")
  endif()
endif()

if(problems)
  message(FATAL_ERROR "The install into ${PREFIX} is wrong:\n${problems}")
endif()

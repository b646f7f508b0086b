function(tolvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 reports impossible overlaps inside libstdc++'s string
    # concatenation at -O2 (a known false positive of -Wrestrict).
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(TOLVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

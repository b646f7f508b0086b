# The Windows build of tolvane_core: the Win32 backend of the platform layer
# and the system libraries it calls. Resources are the extension's own, which
# tolvane_add_extension compiles with the resource compiler.
enable_language(RC)
tolvane_add_folder_sources(tolvane_core src/platform/win32)
target_link_libraries(tolvane_core PUBLIC ole32 advapi32)
# Windows 7 is the oldest system the backend's calls need.
target_compile_definitions(tolvane_core PUBLIC _WIN32_WINNT=0x0601 WINVER=0x0601)

# Programs built for Windows run under Wine: CTest, test discovery and custom
# commands go through a small script that keeps the build's own Wine prefix.
if(CMAKE_CROSSCOMPILING)
  if(NOT TOLVANE_WINE OR NOT TOLVANE_WINESERVER)
    message(FATAL_ERROR "Wine (wine64 and wineserver) is needed to run the Windows programs: bash scripts/install-windows-deps.sh")
  endif()
  set(TOLVANE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
                 @ONLY)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
  # The tests are listed when CTest runs, not while building: the build
  # itself never needs Wine.
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
endif()

# Adds the sources lying directly in a folder (not its subfolders) to a target.
function(tolvane_add_folder_sources target folder)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  target_sources(${target} PRIVATE ${sources})
endfunction()

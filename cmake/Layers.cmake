# The layers of the program, lowest first, and the include folders they may use.
#
# Headers are named from the repository root ("media/source.h"). A library does
# not export the root: it exports a folder of its own that holds one link, to
# its own layer's folder, so a target sees only the layers it links (itself and
# those below it). The include_layers check (CheckIncludeLayers.cmake) then
# enforces the order for every file, including what links can't express.

# tavrick_layer(<target> <folder>): <target> builds <folder> (e.g. "media" or
# "platform/ui") and exports it to the targets that link it.
function(tavrick_layer target folder)
  set(root ${PROJECT_BINARY_DIR}/include-roots/${target})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT EXISTS ${root}/${folder})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()

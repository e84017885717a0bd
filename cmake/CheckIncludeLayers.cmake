# Fails when a file includes a header of a layer above its own.
#   cmake -DROOT=<repository> -P cmake/CheckIncludeLayers.cmake
#
# Order, lowest first: frames, resources, platform, core, media, job, then the
# front ends cli and app. platform/ui (the Qt part of the platform) may use
# platform and core; cli may not use app or platform/ui; probe (Vellux) uses
# nothing of ours.
cmake_minimum_required(VERSION 3.25)
if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()

set(layers frames resources platform platform/ui core media job cli app probe)
set(below_frames frames)
set(below_resources resources)
set(below_platform platform resources)
set(below_platform/ui platform/ui platform core resources)
set(below_core core platform resources)
set(below_media media core platform resources frames)
set(below_job job media core platform resources frames)
set(below_cli cli job media core platform resources frames)
set(below_app app platform/ui cli job media core platform resources frames)
set(below_probe probe)
# Folders of the repository that are not product layers but can be named in an include.
set(others tests bench)

# The layer a repository path ("platform/ui/x.h") belongs to, or "" if none.
function(layer_of path out)
  string(REGEX MATCH "^[^/]+" first "${path}")
  set(result "")
  if(path MATCHES "^platform/ui/")
    set(result platform/ui)
  elseif(first IN_LIST layers OR first IN_LIST others)
    set(result ${first})
  endif()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

set(violations "")
foreach(layer IN LISTS layers)
  if(NOT IS_DIRECTORY ${ROOT}/${layer})
    continue()
  endif()
  file(GLOB_RECURSE files RELATIVE ${ROOT}
       ${ROOT}/${layer}/*.h ${ROOT}/${layer}/*.hpp ${ROOT}/${layer}/*.cpp ${ROOT}/${layer}/*.inc)
  foreach(file IN LISTS files)
    layer_of(${file} own)
    if(NOT own STREQUAL layer)
      continue()  # platform/ui's files are checked as platform/ui
    endif()
    file(STRINGS ${ROOT}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" header "${line}")
      layer_of(${header} target)
      if(target STREQUAL "")
        continue()  # a file beside this one
      endif()
      if(NOT target IN_LIST below_${layer})
        list(APPEND violations "${file}: includes ${header} (${layer} may not use ${target})")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "Includes against the layer order:\n  ${text}")
endif()
message(STATUS "Includes follow the layer order")

# What Windows users get: a version resource in each shipped file.
# quorb_release_files() runs after the subdirectories, once the shipped targets exist.

set(QUORB_PRODUCT_NAME "QUORB recorder")
set(QUORB_COPYRIGHT "Copyright (C) 2026 the QUORB recorder developers")

if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  enable_language(RC)
endif()

# Gives TARGET (shipped as FILE_NAME) a VERSIONINFO resource. The resource is compiled in an
# object library of its own, so that the target's C++ options never reach windres.
function(quorb_version_resource target file_name file_type description)
  set(QUORB_RC_FILENAME ${file_name})
  set(QUORB_RC_FILETYPE ${file_type})
  set(QUORB_RC_DESCRIPTION ${description})
  set(QUORB_RC_PRODUCT ${QUORB_PRODUCT_NAME})
  set(QUORB_RC_COPYRIGHT ${QUORB_COPYRIGHT})
  set(rc ${CMAKE_BINARY_DIR}/generated/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  add_library(${target}_versioninfo OBJECT ${rc})
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:${target}_versioninfo>)
endfunction()

function(quorb_release_files)
  if(NOT CMAKE_SYSTEM_NAME STREQUAL "Windows")
    return()
  endif()
  quorb_version_resource(QUORB_REC_M QUORB_REC_M.sem VFT_DLL "QUORB MIDI recorder module")
  if(NOT TARGET quorb OR NOT TARGET quorb-host)
    return()
  endif()
  quorb_version_resource(quorb quorb.exe VFT_APP "QUORB recordings: inspect, convert to MIDI")
  quorb_version_resource(quorb-host quorb-host.exe VFT_APP
                         "QUORB bench host: plays MIDI through the recorder module")
endfunction()

# What Windows users get: a version resource in each shipped file, and the release build
# (QUORB_RELEASE, preset win32-release) that `make dist` packs into the archive.
# Included before the subdirectories, so that the release flags reach every target;
# quorb_release_files() runs after them, once the shipped targets exist.

option(QUORB_RELEASE "Build the release: reproducible, stripped, and the dist target" OFF)

set(QUORB_PRODUCT_NAME "QUORB recorder")
set(QUORB_COPYRIGHT "Copyright (C) 2026 the QUORB recorder developers")

if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  enable_language(RC)
endif()

if(QUORB_RELEASE)
  # Two builds of one commit in two folders must give the same bytes: no folder names in the
  # binaries (__FILE__, debug records) and no link time in the PE headers. Symbols are stripped;
  # the module's exports live in their own table and stay.
  add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=src>"
                      "$<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")
  add_link_options(-s)
  if(MINGW)
    add_link_options(-Wl,--no-insert-timestamp)
  endif()
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
                         "QUORB stand-in host: plays MIDI through the recorder module")
  if(NOT QUORB_RELEASE)
    return()
  endif()

  set(QUORB_DIST_DIR ${PROJECT_SOURCE_DIR}/build/dist CACHE PATH "Where make dist puts the archive")
  set(zip ${QUORB_DIST_DIR}/quorb-recorder-${PROJECT_VERSION}-win32.zip)
  # Always rebuilt: the archive's time stamps follow the commit, which CMake cannot watch.
  add_custom_target(dist ALL
    COMMAND ${QUORB_PYTHON} ${PROJECT_SOURCE_DIR}/release/make_zip.py ${zip}
            $<TARGET_FILE:QUORB_REC_M> $<TARGET_FILE:quorb> $<TARGET_FILE:quorb-host>
            ${PROJECT_SOURCE_DIR}/release/README.txt ${PROJECT_SOURCE_DIR}/LICENSE
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "Packing ${zip}"
    VERBATIM)
  add_dependencies(dist QUORB_REC_M quorb quorb-host)
endfunction()

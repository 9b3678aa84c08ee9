# Cross build for the host's platform: 32-bit Windows, with Debian's MinGW-w64.
# The posix thread model is taken so that std::thread works in tests; the module file links its
# runtimes statically either way and so imports Windows system DLLs only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QUORB_MINGW_PREFIX i686-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${QUORB_MINGW_PREFIX}-gcc-posix ${QUORB_MINGW_PREFIX}-gcc
             REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QUORB_MINGW_PREFIX}-g++-posix ${QUORB_MINGW_PREFIX}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QUORB_MINGW_PREFIX}-windres)
find_program(QUORB_OBJDUMP NAMES ${QUORB_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORB_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs, test discovery included, run under Wine in a prefix of the build tree's own.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}/wine")

# Checks what the built module file shows a loader: exactly the two entry points, undecorated,
# and on Windows a 32-bit DLL whose export directory is named "QUORB_REC_M.sem" and which
# imports nothing but Windows system DLLs.
#   cmake -DMODULE=<file> -DTOOL=<objdump or nm> -DFORMAT=pe|elf -P exports_check.cmake
cmake_minimum_required(VERSION 3.25)

set(expected_exports getModuleProperties makeModule)
# DLLs every Windows installation has; anything else (libstdc++-6.dll, libgcc_s_*.dll,
# libwinpthread-1.dll) would have to be shipped beside the module, and the host won't find it.
set(system_dlls KERNEL32.dll msvcrt.dll USER32.dll ADVAPI32.dll ntdll.dll)

function(fail message)
  message(FATAL_ERROR "${MODULE}: ${message}")
endfunction()

if(FORMAT STREQUAL "pe")
  execute_process(COMMAND ${TOOL} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    fail("${TOOL} -p failed")
  endif()
  if(NOT dump MATCHES "file format pei-i386")
    fail("not a 32-bit x86 PE file")
  endif()
  if(NOT dump MATCHES "\nName[ \t]+[0-9a-f]+ ([^\n]+)\n")
    fail("no export directory")
  endif()
  if(NOT CMAKE_MATCH_1 STREQUAL "QUORB_REC_M.sem")
    fail("export directory named '${CMAKE_MATCH_1}'")
  endif()
  # The names follow the "[Ordinal/Name Pointer] Table" heading, one "[ n] ... name" per line,
  # the name last: binutils 2.40 writes "[   0] name", 2.44 "[   0] +base[   1]  0000 name"
  # under a column heading of its own.
  set(heading "\\[Ordinal/Name Pointer\\] Table[^\n]*\n([ \t]+Ordinal[^\n]*\n)?")
  string(REGEX MATCH "${heading}(([ \t]+\\[ *[0-9]+\\][^\n]+\n)*)" table "${dump}")
  string(REGEX MATCHALL "\\[ *[0-9]+\\][^\n]+" names "${CMAKE_MATCH_2}")
  list(TRANSFORM names REPLACE "^.* " "")
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
  list(TRANSFORM imports REPLACE "^DLL Name: " "")
  foreach(dll IN LISTS imports)
    if(NOT dll IN_LIST system_dlls)
      fail("imports ${dll}, not a Windows system DLL")
    endif()
  endforeach()
  if(NOT imports)
    fail("no imports found: the dump was not understood")
  endif()
elseif(FORMAT STREQUAL "elf")
  execute_process(COMMAND ${TOOL} -D --defined-only ${MODULE} OUTPUT_VARIABLE dump
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    fail("${TOOL} -D failed")
  endif()
  string(REGEX MATCHALL "[^\n]+" lines "${dump}")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[0-9a-f]* *[A-Za-z] " "" name "${line}")
    list(APPEND names "${name}")
  endforeach()
else()
  fail("FORMAT must be pe or elf")
endif()

list(SORT names)
if(NOT names STREQUAL expected_exports)
  fail("exports '${names}', expected exactly '${expected_exports}'")
endif()
message(STATUS "${MODULE}: exports ${names}; imports ${imports}")

# Runs the quorb command and checks how it ends: cmake -DQUORB=path [-DEMULATOR=...] -DARGS=a;b
# -DEXPECT=fail|pass -DOUTPUT=regex -P cli_check.cmake. "fail" means an exit code from 1 to
# 127 with a message on stderr: a crash (a signal, or a Windows exception code) does not count.
execute_process(COMMAND ${EMULATOR} ${QUORB} ${ARGS} RESULT_VARIABLE result
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(EXPECT STREQUAL "fail")
  if(NOT result MATCHES "^[0-9]+$" OR result EQUAL 0 OR result GREATER 127)
    message(FATAL_ERROR "expected a clean failure, got '${result}'\n${out}${err}")
  endif()
  if(err STREQUAL "")
    message(FATAL_ERROR "failed without a message on stderr")
  endif()
elseif(NOT result EQUAL 0)
  message(FATAL_ERROR "expected success, got '${result}'\n${out}${err}")
endif()
if(NOT "${out}${err}" MATCHES "${OUTPUT}")
  message(FATAL_ERROR "output does not match '${OUTPUT}':\n${out}${err}")
endif()

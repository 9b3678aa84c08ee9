# The Python that runs the tests' referee, the release check and the archive packer: the first
# python3 on the search path that imports mido. Debian's python3-mido installs for the system's
# Python; a python3 of the user's own earlier on PATH (pyenv, a virtualenv) may not see it.
function(quorb_python_imports_mido result candidate)
  execute_process(COMMAND ${candidate} -c "import mido" RESULT_VARIABLE status
                  OUTPUT_QUIET ERROR_QUIET)
  if(NOT status EQUAL 0)
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

find_program(QUORB_PYTHON NAMES python3 VALIDATOR quorb_python_imports_mido
             NO_CMAKE_FIND_ROOT_PATH)
if(NOT QUORB_PYTHON)
  message(FATAL_ERROR "No python3 that imports mido: install python3-mido (tools/install-deps.sh)")
endif()

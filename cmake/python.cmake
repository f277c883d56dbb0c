# quillon_find_python(): QUILLON_PYTHON, the Python the tests run with,
# named by the interpreter's own path. A version manager's shim in front
# of python3 (pyenv's is a bash script that starts several more) costs
# about 0.4 CPU-s each time a test starts Python, over a hundred times in
# make test; asked from the source tree, the shim names the interpreter it
# would have picked for the tests.
macro(quillon_find_python)
  if(NOT QUILLON_PYTHON)
    find_program(QUILLON_PYTHON_COMMAND python3 REQUIRED)
    execute_process(COMMAND ${QUILLON_PYTHON_COMMAND} -c "import sys; print(sys.executable)"
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE quillon_python
                    OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE quillon_python_failed)
    if(quillon_python_failed OR NOT EXISTS "${quillon_python}")
      set(quillon_python ${QUILLON_PYTHON_COMMAND})
    endif()
    set(QUILLON_PYTHON ${quillon_python} CACHE FILEPATH "The Python the tests run with")
  endif()
endmacro()

# Runs one script test: a fresh work directory holding the sample images, the runner run there,
# and its standard output compared with the .expected file beside the script.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(GLOB samples ${SOURCE}/examples/sample.*)
file(COPY ${samples} DESTINATION ${WORK})
string(REGEX REPLACE "\\.gml$" ".expected" expected_file ${SCRIPT})
execute_process(COMMAND ${RUNNER} ${SCRIPT} WORKING_DIRECTORY ${WORK}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 540)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "runner exited with ${rc}\n--- stdout\n${out}\n--- stderr\n${err}")
endif()
file(READ ${expected_file} expected)
if(NOT out STREQUAL expected)
  file(WRITE ${WORK}/actual.out "${out}")
  message(FATAL_ERROR "output differs from ${expected_file} (actual output in ${WORK}/actual.out)\n--- stdout\n${out}\n--- stderr\n${err}")
endif()

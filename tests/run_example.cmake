# Runs one of the batch examples as a user would, on a copy of the sample image, and checks what
# it wrote: the thumbnail's size (read back through the runner), the three channel images and the
# rejoined one, the HTML page's cell count.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${SOURCE}/examples/sample.png DESTINATION ${WORK})

function(run_runner)
  execute_process(COMMAND ${RUNNER} ${ARGN} WORKING_DIRECTORY ${WORK}
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 240)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "ombrix ${ARGN} exited with ${rc}\n--- stdout\n${out}\n--- stderr\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

set(script ${SOURCE}/examples/${EXAMPLE}.gml)
if(EXAMPLE STREQUAL "thumbnail")
  run_runner(${script} sample.png thumb.bmp 20)
  file(WRITE ${WORK}/size.gml "init();\nvar id = image_load(parameter_string(1));\n"
                              "show_debug_message(\"{0}x{1}\", image_get_width(id), image_get_height(id));\n")
  run_runner(${WORK}/size.gml thumb.bmp)
  # The 64 x 48 sample in a 20-pixel box.
  if(NOT out STREQUAL "20x15\n")
    message(FATAL_ERROR "thumbnail is ${out}, not 20x15")
  endif()
elseif(EXAMPLE STREQUAL "channel_split")
  run_runner(${script} sample.png part)
  foreach(channel red green blue joined)
    if(NOT EXISTS ${WORK}/part-${channel}.png)
      message(FATAL_ERROR "part-${channel}.png not written\n${out}")
    endif()
  endforeach()
  if(NOT out MATCHES "the same pixels as the original")
    message(FATAL_ERROR "the channels did not join into the original:\n${out}")
  endif()
elseif(EXAMPLE STREQUAL "html_export")
  run_runner(${script} sample.png page.html 16)
  file(READ ${WORK}/page.html page)
  string(REGEX MATCHALL "<TD" cells "${page}")
  list(LENGTH cells count)
  # 16 x 12 after shrinking.
  if(NOT count EQUAL 192)
    message(FATAL_ERROR "page.html has ${count} cells, not 192")
  endif()
else()
  message(FATAL_ERROR "no check for example ${EXAMPLE}")
endif()

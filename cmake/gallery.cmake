# Renders examples/gallery.gml with the runner into WORK/build/gallery, and the README's two small
# examples (examples/first.gml, examples/rows.gml) into WORK/build, then turns each picture into the
# small palette PNG the README shows. MODE=update copies those into docs/gallery; MODE=check fails
# when docs/gallery differs from a fresh render in any pixel, or in the set of pictures.
# Variables: RUNNER, LIBRARY, SOURCE, WORK, MODE (render, update or check).
set(sheets_dir ${WORK}/build/gallery)
set(small_dir ${WORK}/small)
set(committed_dir ${SOURCE}/docs/gallery)

if(MODE STREQUAL "render" OR MODE STREQUAL "update")
  file(REMOVE_RECURSE ${WORK})
  file(MAKE_DIRECTORY ${sheets_dir})
  file(CREATE_LINK ${SOURCE}/examples ${WORK}/examples SYMBOLIC)
  execute_process(COMMAND ${RUNNER} --library ${LIBRARY} examples/gallery.gml build/gallery
                  WORKING_DIRECTORY ${WORK} OUTPUT_FILE ${sheets_dir}/index.html
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the gallery script failed (${rc}):\n${err}")
  endif()
  foreach(example first rows)
    execute_process(COMMAND ${RUNNER} --library ${LIBRARY} examples/${example}.gml
                    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0 OR NOT EXISTS ${WORK}/build/${example}.png)
      message(FATAL_ERROR "examples/${example}.gml made no picture (${rc}):\n${out}${err}")
    endif()
  endforeach()
endif()

file(GLOB sheets RELATIVE ${sheets_dir} ${sheets_dir}/*.png)
if(NOT sheets)
  message(FATAL_ERROR "the gallery wrote no sheets into ${sheets_dir}")
endif()
# Every picture by file name, with the file it is made from.
set(pictures first.png rows.png ${sheets})
list(SORT pictures)
set(from_first.png ${WORK}/build/first.png)
set(from_rows.png ${WORK}/build/rows.png)
foreach(sheet ${sheets})
  set(from_${sheet} ${sheets_dir}/${sheet})
endforeach()

if(MODE STREQUAL "update" OR MODE STREQUAL "check")
  find_program(CONVERT convert REQUIRED)
  file(MAKE_DIRECTORY ${small_dir})
  foreach(sheet ${pictures})
    # 64 colours without dithering keep every sheet near 100 kB and the labels crisp.
    execute_process(COMMAND ${CONVERT} ${from_${sheet}} +dither -colors 64 -strip
                            -define png:compression-level=9 PNG8:${small_dir}/${sheet}
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "convert failed on ${sheet}")
    endif()
  endforeach()
endif()

if(MODE STREQUAL "update")
  file(GLOB old ${committed_dir}/*.png)
  if(old)
    file(REMOVE ${old})
  endif()
  foreach(sheet ${pictures})
    file(COPY ${small_dir}/${sheet} DESTINATION ${committed_dir})
  endforeach()
  message("docs/gallery: ${pictures}")
elseif(MODE STREQUAL "check")
  find_program(COMPARE compare REQUIRED)
  file(GLOB committed RELATIVE ${committed_dir} ${committed_dir}/*.png)
  list(SORT committed)
  if(NOT committed STREQUAL pictures)
    message(FATAL_ERROR "docs/gallery has ${committed}, the gallery makes ${pictures}: "
                        "run `cmake --build build --target gallery-images`")
  endif()
  set(stale "")
  foreach(sheet ${pictures})
    execute_process(COMMAND ${COMPARE} -metric AE ${small_dir}/${sheet} ${committed_dir}/${sheet} null:
                    RESULT_VARIABLE rc ERROR_VARIABLE differing OUTPUT_QUIET)
    if(NOT rc EQUAL 0)
      string(STRIP "${differing}" differing)
      list(APPEND stale "${sheet} (${differing} pixels differ)")
    endif()
  endforeach()
  if(stale)
    message(FATAL_ERROR "stale pictures in docs/gallery: ${stale}; "
                        "run `cmake --build build --target gallery-images`")
  endif()
  message("docs/gallery matches a fresh render: ${pictures}")
endif()

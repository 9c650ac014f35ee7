# Renders examples/gallery.gml with the runner into WORK/build/gallery, then turns each sheet into
# the small palette PNG the README shows. MODE=update copies those into docs/gallery; MODE=check
# fails when docs/gallery differs from a fresh render in any pixel, or in the set of sheets.
# Variables: RUNNER, LIBRARY, SOURCE, WORK, MODE (render, update or check).
set(sheets_dir ${WORK}/build/gallery)
set(small_dir ${WORK}/small)
set(committed_dir ${SOURCE}/docs/gallery)

if(MODE STREQUAL "render" OR MODE STREQUAL "update")
  file(REMOVE_RECURSE ${WORK})
  file(MAKE_DIRECTORY ${sheets_dir})
  file(CREATE_LINK ${SOURCE}/examples ${WORK}/examples SYMBOLIC)
  execute_process(COMMAND ${RUNNER} --library ${LIBRARY} examples/gallery.gml
                  WORKING_DIRECTORY ${WORK} OUTPUT_FILE ${sheets_dir}/index.html
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the gallery script failed (${rc}):\n${err}")
  endif()
endif()

file(GLOB sheets RELATIVE ${sheets_dir} ${sheets_dir}/*.png)
list(SORT sheets)
if(NOT sheets)
  message(FATAL_ERROR "the gallery wrote no sheets into ${sheets_dir}")
endif()

if(MODE STREQUAL "update" OR MODE STREQUAL "check")
  find_program(CONVERT convert REQUIRED)
  file(MAKE_DIRECTORY ${small_dir})
  foreach(sheet ${sheets})
    # 64 colours without dithering keep every sheet near 100 kB and the labels crisp.
    execute_process(COMMAND ${CONVERT} ${sheets_dir}/${sheet} +dither -colors 64 -strip
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
  foreach(sheet ${sheets})
    file(COPY ${small_dir}/${sheet} DESTINATION ${committed_dir})
  endforeach()
  message("docs/gallery: ${sheets}")
elseif(MODE STREQUAL "check")
  find_program(COMPARE compare REQUIRED)
  file(GLOB committed RELATIVE ${committed_dir} ${committed_dir}/*.png)
  list(SORT committed)
  if(NOT committed STREQUAL sheets)
    message(FATAL_ERROR "docs/gallery has ${committed}, the gallery makes ${sheets}: "
                        "run `cmake --build build --target gallery-images`")
  endif()
  set(stale "")
  foreach(sheet ${sheets})
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
  message("docs/gallery matches a fresh render: ${sheets}")
endif()

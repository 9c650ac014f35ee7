# The GML exporter's real client is a GML host: the runner exports sample.png as a script, runs
# that script on a canvas of the image's size, and the canvas must show the picture pixel for
# pixel (both decoded by Python's imaging library). Exits with 77 (skipped) without that library.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${SOURCE}/examples/sample.png DESTINATION ${WORK})
file(WRITE ${WORK}/export.gml
     "init();\nvar a = image_load(\"sample.png\");\n"
     "show_debug_message(string(image_get_width(a)) + \" \" + string(image_get_height(a)) + \" \" + string(image_to_gml(a, \"redraw.gml\")));\n")

function(run_or_fail)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed (${rc})\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

execute_process(COMMAND /usr/bin/python3 -c "import PIL" RESULT_VARIABLE has_pil OUTPUT_QUIET ERROR_QUIET)
if(NOT has_pil EQUAL 0)
  message("no Python imaging library: skipped")
  cmake_language(EXIT 77)
endif()

run_or_fail(${RUNNER} export.gml)
if(NOT out STREQUAL "64 48 1\n")
  message(FATAL_ERROR "export script printed: ${out}")
endif()
run_or_fail(${RUNNER} --canvas 64 48 canvas.png redraw.gml)
run_or_fail(/usr/bin/python3 -c [[
import sys
from PIL import Image
a = Image.open("sample.png").convert("RGB")
b = Image.open("canvas.png").convert("RGB")
assert a.size == b.size, (a.size, b.size)
bad = [(x, y) for y in range(a.height) for x in range(a.width) if a.getpixel((x, y)) != b.getpixel((x, y))]
print("%d of %d pixels differ" % (len(bad), a.width * a.height))
sys.exit(1 if bad else 0)
]])
message("${out}")

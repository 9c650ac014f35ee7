# Runs one fuzzer for SECONDS seconds over its seeds and its corpus; fails on any crash.
file(MAKE_DIRECTORY ${CORPUS})
execute_process(COMMAND ${FUZZER} -max_total_time=${SECONDS} -rss_limit_mb=2048 -timeout=10
                        -print_final_stats=1 ${CORPUS} ${SEEDS}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "fuzzer ${FUZZER} failed (${rc})\n${out}\n${err}")
endif()
string(REGEX MATCH "stat::number_of_executed_units: *[0-9]+" runs "${err}")
message(STATUS "${runs}")

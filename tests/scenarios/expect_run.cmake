# Runs PROGRAM (through RUNNER when given) with ARGUMENTS and checks its exit code
# against EXIT_CODE, its standard output and error together against every regular
# expression of EXPECT and none of REJECT. With OUTPUT_COPY the standard output is
# also written to that file; with CHECK, that command runs afterwards and must
# succeed. Lists are separated by "@@".
cmake_minimum_required(VERSION 3.25)
foreach(list ARGUMENTS EXPECT REJECT RUNNER CHECK)
  string(REPLACE "@@" ";" ${list} "${${list}}")
endforeach()
execute_process(COMMAND ${RUNNER} ${PROGRAM} ${ARGUMENTS} RESULT_VARIABLE code OUTPUT_VARIABLE output
                ERROR_VARIABLE errors TIMEOUT 120)
message("${output}${errors}")
if(DEFINED OUTPUT_COPY)
  file(WRITE "${OUTPUT_COPY}" "${output}")
endif()
if(DEFINED EXIT_CODE AND NOT code STREQUAL EXIT_CODE)
  message(FATAL_ERROR "exit code ${code}, expected ${EXIT_CODE}")
endif()
foreach(pattern IN LISTS EXPECT)
  if(NOT "${output}${errors}" MATCHES "${pattern}")
    message(FATAL_ERROR "output does not match: ${pattern}")
  endif()
endforeach()
foreach(pattern IN LISTS REJECT)
  if("${output}${errors}" MATCHES "${pattern}")
    message(FATAL_ERROR "output should not match: ${pattern}")
  endif()
endforeach()
if(CHECK)
  execute_process(COMMAND ${RUNNER} ${CHECK} RESULT_VARIABLE check_code)
  if(NOT check_code STREQUAL "0")
    message(FATAL_ERROR "check failed: ${check_code}")
  endif()
endif()

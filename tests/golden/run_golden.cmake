# Runs PROGRAM (through RUNNER when given) with ARGUMENTS in WORK and compares its
# whole standard output and error, and the file it wrote at PRODUCED when given
# (or the file PLACED in WORK before the run, as the run left it), and that the
# file ABSENT in WORK, when given, is not there after the run,
# with the golden files GOLDEN and PRODUCED_GOLDEN: an extra, missing or changed
# line fails. Before the comparison, paths are normalised: SOURCE becomes <source>,
# WORK <work>, BIN <bin>, and the file name of the driver library <driver>; "\r\n"
# becomes "\n"; measured times become <t> (not with EXACT_TIMES set). The exit code is the output's first line ("exit N").
# With the environment variable TOVI_UPDATE_GOLDENS=1 the golden files are
# rewritten instead (scripts/update-goldens.sh; review the diff before committing).
# Lists are separated by "@@".
cmake_minimum_required(VERSION 3.25)
cmake_policy(SET CMP0007 NEW)  # an empty line is a line: an extra one fails
foreach(list ARGUMENTS RUNNER)
  string(REPLACE "@@" ";" ${list} "${${list}}")
endforeach()
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
if(DEFINED PLACED)
  file(COPY "${PLACED}" DESTINATION "${WORK}")  # a file there before the run, as a user's
endif()
if(DEFINED DRIVER AND DEFINED TYPES)
  # A module-type database of the test's own, beside a copy of the driver.
  file(COPY "${DRIVER}" DESTINATION "${WORK}/driver")
  configure_file("${TYPES}" "${WORK}/driver/tovi.ini" COPYONLY)
  get_filename_component(driver_name "${DRIVER}" NAME)
  list(PREPEND ARGUMENTS --driver "${WORK}/driver/${driver_name}")
endif()
execute_process(COMMAND ${RUNNER} ${PROGRAM} ${ARGUMENTS} WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE code
                OUTPUT_VARIABLE output ERROR_VARIABLE errors TIMEOUT 120)

function(normalise text out)
  string(REPLACE "\r\n" "\n" text "${text}")
  # Longest first: WORK and BIN lie inside the build, which may lie inside SOURCE.
  foreach(pair "${WORK}@@<work>" "${BIN}@@<bin>" "${SOURCE}@@<source>")
    string(REPLACE "@@" ";" pair "${pair}")
    list(GET pair 0 from)
    list(GET pair 1 to)
    if(NOT from STREQUAL "")
      string(REPLACE "${from}" "${to}" text "${text}")
    endif()
  endforeach()
  # Times measured while running (none with EXACT_TIMES: the output holds only recorded ones).
  if(NOT EXACT_TIMES)
    string(REGEX REPLACE " at [0-9]+\\.[0-9]+ s" " at <t> s" text "${text}")
    string(REGEX REPLACE "[0-9]+\\.[0-9]+ ms" "<t> ms" text "${text}")
  endif()
  if(DEFINED DRIVER)
    get_filename_component(name "${DRIVER}" NAME)
    string(REPLACE "${name}" "<driver>" text "${text}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Compares text with the golden file; on a difference names the first line that
# differs and keeps the whole output beside the test's work directory.
function(compare text golden)
  if("$ENV{TOVI_UPDATE_GOLDENS}" STREQUAL "1")
    file(WRITE "${golden}" "${text}")
    message("rewritten: ${golden}")
    return()
  endif()
  if(NOT EXISTS "${golden}")
    message(FATAL_ERROR "no golden file ${golden}: make it with scripts/update-goldens.sh\n${text}")
  endif()
  file(READ "${golden}" expected)
  if(text STREQUAL expected)
    return()
  endif()
  get_filename_component(name "${golden}" NAME)
  file(WRITE "${WORK}.${name}.actual" "${text}")
  string(REPLACE ";" "\\;" expected_lines "${expected}")
  string(REPLACE ";" "\\;" actual_lines "${text}")
  string(REPLACE "\n" ";" expected_lines "${expected_lines}")
  string(REPLACE "\n" ";" actual_lines "${actual_lines}")
  list(LENGTH expected_lines expected_count)
  list(LENGTH actual_lines actual_count)
  set(line 0)
  while(line LESS expected_count OR line LESS actual_count)
    set(want "<no line>")
    set(got "<no line>")
    if(line LESS expected_count)
      list(GET expected_lines ${line} want)
    endif()
    if(line LESS actual_count)
      list(GET actual_lines ${line} got)
    endif()
    if(NOT want STREQUAL got)
      break()
    endif()
    math(EXPR line "${line} + 1")
  endwhile()
  math(EXPR number "${line} + 1")
  message(FATAL_ERROR "output differs from ${golden} at line ${number}:\n"
                      "expected: ${want}\n     got: ${got}\n"
                      "whole output: ${WORK}.${name}.actual\n"
                      "if the change is meant, rewrite the goldens with scripts/update-goldens.sh and review the diff")
endfunction()

normalise("exit ${code}\n${output}${errors}" text)
compare("${text}" "${GOLDEN}")
if(DEFINED ABSENT AND EXISTS "${WORK}/${ABSENT}")
  message(FATAL_ERROR "the run left ${WORK}/${ABSENT} behind, which it must not make")
endif()
if(DEFINED PRODUCED)
  if(EXISTS "${PRODUCED}")
    file(READ "${PRODUCED}" produced)
  else()
    set(produced "<no file>\n")
  endif()
  normalise("${produced}" produced)
  compare("${produced}" "${PRODUCED_GOLDEN}")
endif()

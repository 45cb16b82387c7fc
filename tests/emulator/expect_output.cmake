# Runs PROGRAM (through RUNNER when given) with the argument list ARGUMENTS and
# checks its exit code against EXIT_CODE (when given) and its standard output
# against every regular expression of EXPECT. Lists are separated by "@@", which
# none of them holds.
# With DRIVER and TYPES, a copy of the driver library is placed in DRIVER_COPY_DIR
# beside a copy of TYPES named tovi.ini, and PROGRAM is told to load that copy.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "@@" ";" arguments "${ARGUMENTS}")
if(DEFINED DRIVER AND DEFINED TYPES)
  file(REMOVE_RECURSE "${DRIVER_COPY_DIR}")
  file(MAKE_DIRECTORY "${DRIVER_COPY_DIR}")
  file(COPY "${DRIVER}" DESTINATION "${DRIVER_COPY_DIR}")
  configure_file("${TYPES}" "${DRIVER_COPY_DIR}/tovi.ini" COPYONLY)
  get_filename_component(driver_name "${DRIVER}" NAME)
  list(PREPEND arguments --driver "${DRIVER_COPY_DIR}/${driver_name}")
endif()
string(REPLACE "@@" ";" patterns "${EXPECT}")
string(REPLACE "@@" ";" runner "${RUNNER}")  # empty, or what starts a cross-built program
execute_process(COMMAND ${runner} ${PROGRAM} ${arguments} RESULT_VARIABLE code OUTPUT_VARIABLE output ERROR_VARIABLE errors)
message("${output}${errors}")
if(DEFINED EXIT_CODE AND NOT code STREQUAL EXIT_CODE)
  message(FATAL_ERROR "exit code ${code}, expected ${EXIT_CODE}")
endif()
foreach(pattern IN LISTS patterns)
  if(NOT output MATCHES "${pattern}")
    message(FATAL_ERROR "output does not match: ${pattern}")
  endif()
endforeach()

# Runs PROGRAM (through RUNNER when given) with the argument list ARGUMENTS (in the
# directory WORKDIR when given) and checks its exit code against EXIT_CODE and its
# whole standard output against the file EXPECTED, byte for byte. Lists are
# separated by "@@".
cmake_minimum_required(VERSION 3.25)
string(REPLACE "@@" ";" arguments "${ARGUMENTS}")
string(REPLACE "@@" ";" runner "${RUNNER}")
if(NOT DEFINED WORKDIR)
  set(WORKDIR ".")
endif()
execute_process(COMMAND ${runner} ${PROGRAM} ${arguments} WORKING_DIRECTORY "${WORKDIR}"
                RESULT_VARIABLE code OUTPUT_VARIABLE output ERROR_VARIABLE errors)
file(READ "${EXPECTED}" expected)
string(REPLACE "\r\n" "\n" output "${output}")
if(NOT code STREQUAL EXIT_CODE)
  message(FATAL_ERROR "exit code ${code}, expected ${EXIT_CODE}\n${output}${errors}")
endif()
if(NOT output STREQUAL expected)
  message(FATAL_ERROR "output differs from ${EXPECTED}:\n${output}\nstandard error:\n${errors}")
endif()
message("${output}")

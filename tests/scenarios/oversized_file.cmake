# Makes BIG_FILE a text file just over the 32 MiB tovihost reads at most, runs the
# emulator as expect_run.cmake does, and removes the file again. With BIG_START the
# file begins with that file's text, else with an empty [tovi] section.
cmake_minimum_required(VERSION 3.25)
string(REPEAT "; a comment line of a parameter file grown far too large\n" 20000 block)
if(DEFINED BIG_START)
  configure_file("${BIG_START}" "${BIG_FILE}" COPYONLY)
else()
  file(WRITE "${BIG_FILE}" "[tovi]\n")
endif()
foreach(i RANGE 30)
  file(APPEND "${BIG_FILE}" "${block}")
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/expect_run.cmake)
file(REMOVE "${BIG_FILE}")

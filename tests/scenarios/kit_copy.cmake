# Copies FILES (separated by "@@") into KIT_DIR, made afresh, then runs PROGRAM as
# expect_run.cmake does; PROGRAM may be the copy's own emulator.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "@@" ";" files "${FILES}")
file(REMOVE_RECURSE "${KIT_DIR}")
file(MAKE_DIRECTORY "${KIT_DIR}")
file(COPY ${files} DESTINATION "${KIT_DIR}")
include(${CMAKE_CURRENT_LIST_DIR}/expect_run.cmake)

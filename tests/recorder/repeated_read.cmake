# recording_repeats_a_read(FILE OUT): OUT is the first call of FILE that the driver
# made twice in a row with the same inputs and answer, or empty. The driver reads a
# channel's device twice in one pass when its worker wakes while the host is still
# queuing the batch (the count and overflow channels of a counter, then, take a
# call each); whether it does depends on timing, so a replay of such a recording
# cannot make the same calls. An alarm's low and high channels take a call each
# in every pass and do not count.
function(recording_repeats_a_read file out)
  file(STRINGS "${file}" lines REGEX "^[0-9]")
  set(previous "")
  foreach(line IN LISTS lines)
    string(REGEX MATCH "^[^ ]+ [^ ]+ (.*)$" matched "${line}")
    set(call "${CMAKE_MATCH_1}")
    if(call STREQUAL previous AND NOT call MATCHES "^DRV_AlarmCheck ")
      set(${out} "${call}" PARENT_SCOPE)
      return()
    endif()
    set(previous "${call}")
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

# record_without_repeated_read(FILE ARGS...): run_tovihost(recorded ARGS...) with
# FILE removed first, again while the recording it writes to FILE repeats a read:
# at most three times, then the test fails.
macro(record_without_repeated_read file)
  foreach(attempt 1 2 3)
    file(REMOVE "${file}")
    run_tovihost(recorded ${ARGN})
    if(NOT EXISTS "${file}")
      message(FATAL_ERROR "no recording written to ${file}:\n${recorded}")
    endif()
    recording_repeats_a_read("${file}" repeated)
    if(NOT repeated)
      break()
    endif()
    message(STATUS "recording ${attempt} read twice in one pass (${repeated}): recorded again")
  endforeach()
  if(repeated)
    message(FATAL_ERROR "three recordings in a row read a device twice in one pass: ${repeated}")
  endif()
endmacro()

# Records the example plant through the recorder and cuts the recording into the
# three files of a rotated set as the recorder writes them (rec.txt.2, rec.txt.1,
# rec.txt; each later file "continues TIME" with the set-up calls of the run so far
# carried at its top), then replays: the set named by its current file (--set), the
# files given in another order, and each file that continues the run alone. Every
# replay reproduces what it replays.
#   -DPROGRAM= tovihost  -DRUNNER= what starts it (@@-separated, may be empty)
#   -DBIN= the build's bin/  -DDRIVER= the driver library  -DRECORDER_DIR= bin/recorder
#   -DSOURCE= project directory  -DWORK= a directory of this test's own
#   -DSEPARATOR= the path separator the recorder's ini uses
cmake_minimum_required(VERSION 3.25)
string(REPLACE "@@" ";" runner "${RUNNER}")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/plant")
file(GLOB recorder_libraries "${RECORDER_DIR}/*ADSAPI32*" "${RECORDER_DIR}/*ADSCOMM*")
file(COPY "${DRIVER}" "${BIN}/tovi.ini" ${recorder_libraries} DESTINATION "${WORK}/plant")
file(RELATIVE_PATH up "${WORK}/plant" "${BIN}")
string(REGEX REPLACE "/$" "" up "${up}")
string(REPLACE "/" "${SEPARATOR}" up "${up}")
file(GLOB device_library RELATIVE "${BIN}" "${BIN}/*ADSAPI32.*")
file(GLOB serial_library RELATIVE "${BIN}" "${BIN}/*ADSCOMM.*")
list(FILTER device_library EXCLUDE REGEX "\\.a$")
list(FILTER serial_library EXCLUDE REGEX "\\.a$")
file(WRITE "${WORK}/plant/recorder.ini"
     "[recorder]\ndevice_library=${up}${SEPARATOR}${device_library}\nserial_library=${up}${SEPARATOR}${serial_library}\n"
     "file=whole.txt\n")
get_filename_component(driver_name "${DRIVER}" NAME)
set(plant "${SOURCE}/examples/plant.ini")
# No host writes: a file that begins mid-run holds no write of the host's first
# cycle, and the writes of its own first cycle follow reads of the file before.
set(writes)

function(run_tovihost output)
  execute_process(COMMAND ${runner} ${PROGRAM} ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  file(WRITE "${WORK}/${output}.out" "${out}${err}")
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "tovihost ${ARGN}\nexit code ${code}:\n${out}${err}")
  endif()
  set(${output} "${out}" PARENT_SCOPE)
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/repeated_read.cmake)
set(whole "${WORK}/plant/whole.txt")
# A recording whose pass read a device twice depends on timing (repeated_read.cmake).
record_without_repeated_read("${whole}" --driver "${WORK}/plant/${driver_name}" run "${plant}"
    --devices "${SOURCE}/examples/devices/plant.devices" --cycles 50 --period 0 --plain --log-dir "${WORK}" ${writes})
file(STRINGS "${whole}" header REGEX "^[a-z]")
file(STRINGS "${whole}" lines REGEX "^[0-9]")
list(LENGTH lines total)
math(EXPR first_cut "${total} / 3")
math(EXPR second_cut "${total} * 2 / 3")
set(current "${WORK}/plant/rec.txt")
set(part 0)
set(carried "")
set(text "")
string(REPLACE ";" "\n" header_text "${header}")
set(index 0)
foreach(line IN LISTS lines)
  if(index EQUAL first_cut OR index EQUAL second_cut)
    if(part EQUAL 0)
      file(WRITE "${current}.2" "${header_text}\n${text}")
    else()
      file(WRITE "${current}.1" "${header_text}\n${text}")
    endif()
    math(EXPR part "${part} + 1")
    string(REGEX REPLACE "^([0-9]+).*" "\\1" start "${line}")
    set(text "continues ${start}\n${carried}")
  endif()
  string(APPEND text "${line}\n")
  if(line MATCHES "^[0-9+]+ [0-9]+ (DRV_DeviceGetNumOfList|DRV_DeviceGetList|DRV_DeviceGetSubList|DRV_DeviceOpen|DRV_DeviceGetFeatures|COMGetConfig|COMOpen|COMSetConfig) ")
    string(APPEND carried "carried ${line}\n")
  endif()
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${current}" "${header_text}\n${text}")
set(files "${current}.2" "${current}.1" "${current}")
set(own_calls ${total})

# The set as one run: every call of every file made, in order.
run_tovihost(as_set replay --set "${current}" "${plant}" --log-dir "${WORK}" ${writes})
if(NOT as_set MATCHES "\nrecorded calls: ${own_calls} made, 0 missing, 0 not reached; calls not in the recording: 0\n"
   OR NOT as_set MATCHES "\nreproduced: [0-9]+ calls, 0 divergences\n$")
  message(FATAL_ERROR "the set of ${own_calls} recorded calls did not replay as one run:\n${as_set}")
endif()
# The same files named one by one, newest first.
list(REVERSE files)
run_tovihost(named replay ${files} "${plant}" --log-dir "${WORK}" ${writes})
if(NOT named MATCHES "\nrecorded calls: ${own_calls} made, 0 missing, 0 not reached;")
  message(FATAL_ERROR "the files named in another order did not replay as one run:\n${named}")
endif()
# Each file that continues the run, alone: the second file and the current one.
list(REVERSE files)
list(GET files 1 second)
foreach(alone "${second}" "${current}")
  file(STRINGS "${alone}" continues REGEX "^continues ")
  string(REGEX REPLACE "^continues " "" start "${continues}")
  run_tovihost(replayed_alone replay "${alone}" "${plant}" --log-dir "${WORK}")
  if(NOT replayed_alone MATCHES "^replay starts at recorded time [0-9]+:[0-9][0-9]:[0-9][0-9]\\.[0-9][0-9][0-9] \\([0-9]+\\.[0-9][0-9][0-9] s\\) of the run started "
     OR NOT replayed_alone MATCHES "\nreproduced: [0-9]+ calls, 0 divergences\n$")
    message(FATAL_ERROR "${alone} (continues at ${start} us) did not replay alone:\n${replayed_alone}")
  endif()
endforeach()
list(LENGTH files count)
message("rotated replay: ${count} files, ${own_calls} calls; the set, the files named, two files alone reproduced")

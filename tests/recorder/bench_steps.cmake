# README.md's bench steps for recording ("Recording a plant", "On a bench"): a
# driver directory of its own in the build's bin/ holding copies of the driver,
# its tovi.ini, the recorder's libraries and the recorder.ini built beside them,
# and tovihost with --driver. tovihost says that the driver records through the
# recorder (not that it binds another device manager), the plant's channels read,
# and the recording replays with 0 divergences. Then, with a small max_size_kb,
# every file of the rotated recording parses on its own and begins with the
# calls it carries.
#   -DPROGRAM= tovihost  -DRUNNER= what starts it (@@-separated, may be empty)
#   -DBIN= the build's bin/  -DDRIVER= the driver library  -DRECORDER_DIR= bin/recorder
#   -DSOURCE= project directory  -DWORK= a directory of this test's own inside BIN
cmake_minimum_required(VERSION 3.25)
string(REPLACE "@@" ";" runner "${RUNNER}")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(GLOB recorder_files "${RECORDER_DIR}/*ADSAPI32.*" "${RECORDER_DIR}/*ADSCOMM.*" "${RECORDER_DIR}/recorder.ini")
list(FILTER recorder_files EXCLUDE REGEX "\\.a$")
file(COPY "${DRIVER}" "${BIN}/tovi.ini" ${recorder_files} DESTINATION "${WORK}")
get_filename_component(driver_name "${DRIVER}" NAME)
file(GLOB recorder_library RELATIVE "${WORK}" "${WORK}/*ADSAPI32.*")
set(plant "${SOURCE}/examples/plant.ini")

function(run_tovihost output expect_code)
  execute_process(COMMAND ${runner} ${PROGRAM} ${ARGN} WORKING_DIRECTORY "${BIN}" RESULT_VARIABLE code
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  file(WRITE "${WORK}/${output}.out" "${out}${err}")
  if(NOT code EQUAL expect_code)
    message(FATAL_ERROR "tovihost ${ARGN}\nexit code ${code}, not ${expect_code}:\n${out}${err}")
  endif()
  set(${output} "${out}" PARENT_SCOPE)
  set(${output}_err "${err}" PARENT_SCOPE)
endfunction()

set(run_arguments --driver "${WORK}/${driver_name}" run "${plant}" --devices "${SOURCE}/examples/devices/plant.devices"
                  --period 0 --plain)
include(${CMAKE_CURRENT_LIST_DIR}/repeated_read.cmake)
# A recording whose pass read a device twice depends on timing (repeated_read.cmake).
record_without_repeated_read("${WORK}/tovi-recording.txt" 0 ${run_arguments} --cycles 20)
# (Under wine the recorder names its file with the drive letter and backslashes.)
set(said "\ntovihost: the driver records its device calls through the recorder beside it \\([^\n]*${recorder_library}\\) into [^\n]*bench_steps[/\\]tovi-recording.txt\n")
if(NOT "\n${recorded_err}" MATCHES "${said}" OR recorded_err MATCHES "warning" OR recorded MATCHES "not installed")
  message(FATAL_ERROR "tovihost must say that the driver records through the recorder, and warn of nothing:\n${recorded_err}${recorded}")
endif()
set(recording "${WORK}/tovi-recording.txt")
file(STRINGS "${recording}" call_lines REGEX "^[0-9]")
list(LENGTH call_lines calls)
run_tovihost(replayed 0 replay "${recording}" "${plant}")
if(NOT replayed MATCHES "\nreproduced: ${calls} calls, 0 divergences\n")
  message(FATAL_ERROR "the replay did not make the ${calls} recorded calls:\n${replayed}")
endif()

# Rotated: the later keys of recorder.ini count.
file(APPEND "${WORK}/recorder.ini" "max_size_kb=16\nkeep=40\n")
file(REMOVE "${recording}")
# With the host's writes, which each file's replay derives from its own calls.
run_tovihost(rotated 0 ${run_arguments} --cycles 40 --write 200=@101 --write 320=true --write 400=0x5A --write 600=1
             --write 800=1 --write 801=@100)
file(GLOB rotated_files "${recording}.*")
list(LENGTH rotated_files rotations)
if(rotations LESS 2)
  message(FATAL_ERROR "no rotation with max_size_kb=16:\n${rotated}")
endif()
file(READ "${recording}.1" text)
string(REGEX MATCH "^tovi-recording 2\nstarted [^\n]+\ndevice-library [^\n]+\nserial-library [^\n]+\ncontinues [0-9]+\n(carried [^\n]+\n)+" opening "${text}")
foreach(expected "DRV_DeviceGetNumOfList -> 0 devices=" "DRV_DeviceGetList max=" "DRV_DeviceOpen dev=1 -> 0 handle="
                 "COMSetConfig handle=" "DRV_DeviceGetFeatures handle=")
  string(FIND "${opening}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${recording}.1 does not begin with the continues header and the carried ${expected}:\n${text}")
  endif()
endforeach()
# Each file replays alone, without --write: the driver starts on the carried
# calls, its first cycle is answered from the file, the part of a pass the file
# begins with is left out, and every later call matches the file's, up to a last
# pass the file ends in the middle of. The files that hold a whole first pass
# read every channel of it.
foreach(file ${rotated_files} "${recording}")
  execute_process(COMMAND ${runner} ${PROGRAM} replay "${file}" "${plant}" WORKING_DIRECTORY "${BIN}"
                  OUTPUT_VARIABLE part ERROR_VARIABLE err)
  string(REGEX MATCH "\ncycle 1 at [^\n]*\n([^\n]+\n)+cycle 2 at" first_cycle "${part}")
  string(REGEX MATCHALL " read +[^ \n]+ +ok\n" good "${first_cycle}")
  list(LENGTH good good_reads)
  if(NOT part MATCHES "\ncycle 1 at " OR (first_cycle AND NOT good_reads EQUAL 14) OR NOT part MATCHES
     "\nreproduced: [0-9]+ calls, 0 divergences\n$")
    message(FATAL_ERROR "${file} does not replay alone:\n${part}${err}")
  endif()
endforeach()
# record=off: tovihost says the recorder records nothing, and it writes no file;
# without a record= line the recorder records, as record=on.
file(READ "${WORK}/recorder.ini" settings)
string(REPLACE "\nrecord=on\n" "\nrecord=off\n" off_settings "${settings}")
string(REPLACE "\nrecord=on\n" "\n" unsaid_settings "${settings}")
if(off_settings STREQUAL settings)
  message(FATAL_ERROR "the built recorder.ini holds no line record=on:\n${settings}")
endif()
file(REMOVE ${rotated_files} "${recording}")
file(WRITE "${WORK}/recorder.ini" "${off_settings}")
run_tovihost(off 0 --driver "${WORK}/${driver_name}" read "${plant}" 100)
set(said_off "\ntovihost: the driver calls the device manager through the recorder beside it \\([^\n]*${recorder_library}\\), which records nothing \\(record=off\\)\n")
if(NOT "\n${off_err}" MATCHES "${said_off}" OR EXISTS "${recording}")
  message(FATAL_ERROR "with record=off tovihost must say the recorder records nothing, and no recording be written:\n${off_err}${off}")
endif()
file(WRITE "${WORK}/recorder.ini" "${unsaid_settings}")
run_tovihost(unsaid 0 --driver "${WORK}/${driver_name}" read "${plant}" 100)
if(NOT "\n${unsaid_err}" MATCHES "${said}" OR NOT EXISTS "${recording}")
  message(FATAL_ERROR "without record= the recorder records:\n${unsaid_err}${unsaid}")
endif()
file(WRITE "${WORK}/recorder.ini" "${settings}")

# A recorder that forwards to another device manager than tovihost's: the warning
# names the recorder and where it forwards.
file(GLOB simulator "${BIN}/*ADSAPI32.*")
list(FILTER simulator EXCLUDE REGEX "\\.a$")
file(COPY ${simulator} DESTINATION "${WORK}/other")
get_filename_component(simulator_name "${simulator}" NAME)
file(READ "${WORK}/recorder.ini" settings)
file(WRITE "${WORK}/recorder.ini" "${settings}device_library=other/${simulator_name}\n")
run_tovihost(elsewhere 1 --driver "${WORK}/${driver_name}" read "${plant}" 100)
set(warned "tovihost: warning: the driver binds its modules through the recorder beside it \\([^\n]*${recorder_library}\\), which forwards to [^\n]*other[/\\]${simulator_name}, not to the simulated device manager tovihost configures \\(")
if(NOT elsewhere_err MATCHES "${warned}")
  message(FATAL_ERROR "no warning of the recorder forwarding elsewhere:\n${elsewhere_err}${elsewhere}")
endif()

message("bench steps: ${calls} calls recorded and replayed; ${rotations} rotated files and the current one each replay alone")

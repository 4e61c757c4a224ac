# Runs one end-to-end case: feeds <CASE>.in to a program on standard input and
# checks that its standard output equals <CASE>.out byte for byte, that it
# writes nothing to standard error and that it exits with status 0. A case too
# big to keep in the repository is a script, <CASE>.in.cmake, that writes its
# input to ${INPUT_PATH} and its expected output to ${EXPECTED_PATH} with the
# helpers of generate.cmake.
#
#   cmake -DCASE=<cases dir>/<name> -DWORK=<scratch dir> -P run_case.cmake -- <command...>
#
# <command...> is the program, optionally preceded by a launcher (valgrind ...).

set(command "")
set(seen_separator OFF)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE 1 ${last})
  if(seen_separator)
    list(APPEND command "${CMAKE_ARGV${i}}")
  elseif(CMAKE_ARGV${i} STREQUAL "--")
    set(seen_separator ON)
  endif()
endforeach()
if(NOT command OR NOT CASE OR NOT WORK)
  message(FATAL_ERROR "usage: cmake -DCASE=... -DWORK=... -P run_case.cmake -- <command...>")
endif()

get_filename_component(name "${CASE}" NAME)
file(MAKE_DIRECTORY "${WORK}")
if(EXISTS "${CASE}.in")
  set(input "${CASE}.in")
  set(expected "${CASE}.out")
elseif(EXISTS "${CASE}.in.cmake")
  set(INPUT_PATH "${WORK}/${name}.in")
  set(EXPECTED_PATH "${WORK}/${name}.expected")
  file(REMOVE "${INPUT_PATH}" "${EXPECTED_PATH}")
  include("${CMAKE_CURRENT_LIST_DIR}/generate.cmake")
  include("${CASE}.in.cmake")
  set(input "${INPUT_PATH}")
  set(expected "${EXPECTED_PATH}")
else()
  message(FATAL_ERROR "no input for case ${name}")
endif()

set(actual "${WORK}/${name}.stdout")
set(errors "${WORK}/${name}.stderr")
execute_process(COMMAND ${command}
                INPUT_FILE "${input}" OUTPUT_FILE "${actual}" ERROR_FILE "${errors}"
                RESULT_VARIABLE status)

set(failures "")
if(NOT status STREQUAL "0")
  string(APPEND failures "exit status: ${status} (expected 0)\n")
endif()
file(SIZE "${errors}" error_bytes)
if(NOT error_bytes EQUAL 0)
  file(READ "${errors}" text LIMIT 2000)
  string(APPEND failures "standard error is not empty:\n${text}\n")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${actual}" "${expected}"
                RESULT_VARIABLE differs OUTPUT_QUIET ERROR_QUIET)
if(NOT differs EQUAL 0)
  file(READ "${expected}" wanted LIMIT 8000)
  file(READ "${actual}" got LIMIT 8000)
  string(APPEND failures "standard output differs\n--- expected\n${wanted}--- actual\n${got}")
endif()

if(failures)
  message(FATAL_ERROR "case ${name}:\n${failures}")
endif()
file(REMOVE "${actual}" "${errors}")
if(NOT EXISTS "${CASE}.in")
  file(REMOVE "${input}" "${expected}")
endif()

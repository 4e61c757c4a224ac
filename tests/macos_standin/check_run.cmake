# Runs one program and checks how it ended.
#   PROGRAM, ARG        the program and its one optional argument
#   INPUT               optional file fed to standard input
#   STATUS              expected exit status
#   MISUSE              if set: standard error must be exactly one misuse line
#                       containing this text, and the driver's marker must not
#                       have been printed; otherwise standard error must be empty
#   EXPECTED_OUTPUT     optional file standard output must equal byte for byte
cmake_minimum_required(VERSION 3.25)

set(input_args)
if(DEFINED INPUT)
  set(input_args INPUT_FILE ${INPUT})
endif()
execute_process(COMMAND ${PROGRAM} ${ARG} ${input_args}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)

set(problems)
if(NOT status STREQUAL STATUS)
  list(APPEND problems "exit status ${status}, expected ${STATUS}")
endif()
if(DEFINED MISUSE)
  string(REGEX MATCHALL "\n" newlines "${err}")
  list(LENGTH newlines lines)
  string(FIND "${err}" "${MISUSE}" at)
  if(NOT lines EQUAL 1 OR NOT err MATCHES "^macos-standin: misuse: [^\n]*\n$" OR at EQUAL -1)
    list(APPEND problems "standard error is not one misuse line naming \"${MISUSE}\"")
  endif()
  string(FIND "${out}" "CONTINUED" continued)
  if(NOT continued EQUAL -1)
    list(APPEND problems "the program went on after the misuse")
  endif()
elseif(NOT err STREQUAL "")
  list(APPEND problems "standard error is not empty")
endif()
if(DEFINED EXPECTED_OUTPUT)
  file(READ ${EXPECTED_OUTPUT} expected)
  if(NOT out STREQUAL expected)
    list(APPEND problems "standard output differs from ${EXPECTED_OUTPUT}")
  endif()
endif()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "${PROGRAM} ${ARG}:\n  ${text}\n--- stdout:\n${out}--- stderr:\n${err}")
endif()

# Helpers for the generated end-to-end cases (cases/*.in.cmake). Each case
# appends to ${INPUT_PATH} and ${EXPECTED_PATH}; the dry run's first line, the
# trust request, is written here.

file(WRITE "${EXPECTED_PATH}" "{\"event\":\"trust\",\"prompt\":true}\n")
file(WRITE "${INPUT_PATH}" "")

# Appends <text> to the input.
function(e2e_input text)
  file(APPEND "${INPUT_PATH}" "${text}")
endfunction()

# Appends <text>, padded with spaces to <length> bytes, to the input. Spaces are
# JSON whitespace, so only the length decides whether the command is refused.
function(e2e_padded text length)
  string(LENGTH "${text}" used)
  math(EXPR pad "${length} - ${used}")
  string(REPEAT " " ${pad} spaces)
  file(APPEND "${INPUT_PATH}" "${text}${spaces}")
endfunction()

# Appends <count> copies of <text> to the input.
function(e2e_repeated text count)
  string(REPEAT "${text}" ${count} all)
  file(APPEND "${INPUT_PATH}" "${all}")
endfunction()

# Appends one line to the expected output.
function(e2e_expect line)
  file(APPEND "${EXPECTED_PATH}" "${line}\n")
endfunction()

set(E2E_LIMIT 1048576)  # longest accepted line, in bytes before its terminator

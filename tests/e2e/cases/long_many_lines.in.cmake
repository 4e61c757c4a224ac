# Many lines in a row: moves, key presses and refused lines, so reads and
# writes both cross their buffers' edges many times.
foreach(block RANGE 0 8500 500)
  set(input "")
  set(expected "")
  math(EXPR last "${block} + 499")
  foreach(i RANGE ${block} ${last})
    string(APPEND input "{\"type\":\"pointerMove\",\"x\":${i},\"y\":-${i}.5}\n"
                        "{\"type\":\"keyDown\",\"code\":\"Space\"}\r\n"
                        "{\"type\":\"keyDown\"\n")
    string(APPEND expected "{\"event\":\"mouse\",\"type\":5,\"x\":${i},\"y\":-${i}.5,\"button\":0}\n"
                           "{\"event\":\"key\",\"keyCode\":49,\"down\":true}\n")
  endforeach()
  # Appending in blocks keeps the strings short; one long string is slow to grow.
  e2e_input("${input}")
  file(APPEND "${EXPECTED_PATH}" "${expected}")
endforeach()

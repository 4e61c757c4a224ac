# The end of a refused long line is never taken for a line of its own, even
# when it holds a whole command.
math(EXPR three "3 * ${E2E_LIMIT}")
e2e_repeated(" " ${three})
e2e_input("{\"type\":\"keyUp\",\"code\":\"KeyB\"}\n")
e2e_input("{\"type\":\"keyDown\",\"code\":\"KeyC\"}\n")
math(EXPR two "2 * ${E2E_LIMIT}")
e2e_repeated(" " ${two})
e2e_input("\r\n")
e2e_repeated("x" ${two})
e2e_input("{\"type\":\"keyDown\",\"code\":\"KeyN\"}\n")
e2e_input("{\"type\":\"keyDown\",\"code\":\"KeyV\"}")
e2e_expect([=[{"event":"key","keyCode":8,"down":true}]=])
e2e_expect([=[{"event":"key","keyCode":9,"down":true}]=])

# One byte more than the longest accepted line refuses the line, however it
# ends; the line after it is handled as usual.
math(EXPR over "${E2E_LIMIT} + 1")
e2e_padded([=[{"type":"keyDown","code":"KeyA"}]=] ${over})
e2e_input("\n")
e2e_padded([=[{"type":"keyDown","code":"KeyS"}]=] ${E2E_LIMIT})
e2e_input("\r\r\n")
e2e_padded([=[{"type":"keyDown","code":"KeyD"}]=] ${over})
e2e_input("\r\n")
e2e_input("{\"type\":\"keyDown\",\"code\":\"KeyF\"}\n")
e2e_padded([=[{"type":"keyDown","code":"KeyG"}]=] ${over})
e2e_expect([=[{"event":"key","keyCode":3,"down":true}]=])

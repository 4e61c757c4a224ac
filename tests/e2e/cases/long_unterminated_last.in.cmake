# A too-long last line without a line feed is refused like any other.
e2e_input("{\"type\":\"keyDown\",\"code\":\"KeyV\"}\n")
math(EXPR two "2 * ${E2E_LIMIT}")
e2e_padded([=[{"type":"keyDown","code":"KeyB"}]=] ${two})
e2e_expect([=[{"event":"key","keyCode":9,"down":true}]=])

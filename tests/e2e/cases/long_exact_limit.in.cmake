# Lines of exactly the longest accepted length are handled, whatever ends them.
e2e_padded([=[{"type":"keyDown","code":"KeyA"}]=] ${E2E_LIMIT})
e2e_input("\n")
e2e_padded([=[{"type":"keyDown","code":"KeyS"}]=] ${E2E_LIMIT})
e2e_input("\r\n")
e2e_padded([=[   {"type":"keyDown","code":"KeyD"}]=] ${E2E_LIMIT})
e2e_expect([=[{"event":"key","keyCode":0,"down":true}]=])
e2e_expect([=[{"event":"key","keyCode":1,"down":true}]=])
e2e_expect([=[{"event":"key","keyCode":2,"down":true}]=])

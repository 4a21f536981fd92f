-- Logs in on a board's serial console and runs its self-test, one step for
-- each part the self-test reports and one for its verdict.
--
--   BOARD_PASSWORD=... quorvel --script login-selftest.lua --baud 115200 /dev/ttyUSB0
--
-- BOARD_USER (root unless told) and BOARD_PASSWORD log in; SELFTEST is the
-- command (selftest unless told). It prints "selftest: PART ok" (or
-- "failed") per part, then "selftest: PASS" or "selftest: FAIL".

local user = os.getenv("BOARD_USER") or "root"
local password = os.getenv("BOARD_PASSWORD") or ""
local command = os.getenv("SELFTEST") or "selftest"

-- An Enter wakes the console and shows its login prompt.
send("", {ending = "cr"})
if not check(expect("login: ", 10000), "login prompt") then
  fail("no login prompt: is the board up and the rate right?")
end
send(user, {ending = "cr"})
-- A board without a password goes straight to the shell.
if expect("Password: ", 3000, {optional = true}) then
  send(password, {ending = "cr"})
end
check(expect("[#$] ", 10000), "shell prompt")

flush()  -- what came before: the self-test's lines are read from here on
send(command, {ending = "cr"})
local verdict
repeat
  local text = readline(30000)
  if not text then fail("the self-test printed no verdict within 30 s") end
  local part, result = text:match("^selftest: (%S+) (%S+)$")
  if part then check(result == "ok", "self-test " .. part) end
  verdict = text:match("^selftest: (PASS)") or text:match("^selftest: (FAIL)")
until verdict
check(verdict == "PASS", "self-test verdict")
log("self-test " .. verdict)

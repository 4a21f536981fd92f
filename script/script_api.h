// The functions a script calls, as globals beside Lua's standard libraries.
// This is the contract scripts are written against; changing a name, an
// argument or a return breaks them.
//
// Sending. Every send goes through the link's one writer, in order with
// every other send, and returns once its bytes are written: true, or nil and
// the reason (the link is closed, the device went away).
//   send(text [, {ending=, escapes=, check=}])
//     text as it is; ending "none" (the default), "cr", "lf" or "crlf";
//     escapes=true reads \r \n \t \\ \xHH; check is one of the send list's
//     checks ("modbus-crc16", "crc16-ccitt-false", "crc16-xmodem", "crc8",
//     "crc32", "xor8", "sum8", "modbus-lrc"), put before the ending.
//   send_hex("01 03 00 00 00 0A" [, {check=}])
//     bytes of one or two hex digits between spaces, tabs or commas.
//
// Receiving. What arrives is kept from the script's start (up to 16 MiB
// unread; beyond, the oldest go and the output says how many). The mark is
// where the last expect's match ended, or the last read, readline or flush;
// each call looks at what lies after it, so nothing between two calls is
// missed.
//   expect(pattern [, timeout_ms [, {optional=true}]])
//     waits (10 s unless told) for the first match after the mark and moves
//     the mark to its end; returns the matched text and its captures, or
//     nil on timeout, leaving the mark where it was. pattern is a Lua
//     pattern ("^" holds at the mark), {regex="..."} (ECMAScript, the
//     answer rules' engine, no back-references; a group left out of the
//     match is nil) or {hex="06 ?? 0D"} (each run of ?? a capture). A Lua
//     match may span at most 64 KiB of bytes that came apart, a regex
//     match 8 KiB.
//     A timed-out expect is a failed step "expect <pattern>", unless the
//     next call is check (which then judges it) or it was told
//     {optional=true}.
//   read([timeout_ms])      what arrived, or the first that arrives within
//                           the time (0 unless told); nil when nothing
//   readline([timeout_ms])  one line, ended by LF (a CR before it goes too),
//                           without its end; nil on timeout (10 s unless told)
//   flush()                 forgets what arrived so far
//   sleep(ms), now()        now() is milliseconds since the script started
//
// The line. What the link refuses comes back as nil and the reason.
//   line{dtr=true, rts=false}      either or both
//   send_break([ms])               250 ms unless told, 1 to 10000
//   set{baud=115200, data=8, parity="none", stop=1}
//                                  any of them; parity none, odd, even, mark
//                                  or space; stop 1, 1.5 or 2
//   transfer{send="fw.bin" (or a list), protocol="ymodem"}
//   transfer{receive="dir/", protocol="zmodem"}
//                                  protocol xmodem, xmodem-1k, ymodem or
//                                  zmodem; true, or nil and the outcome
//
// Steps and output.
//   print(...)            to the script's output (the Script pane, or
//                         standard output headless)
//   log(text)             an event line in the session view and the log file
//   check(condition [, name])
//                         a step, passed when condition is neither nil nor
//                         false; the script goes on; returns the verdict
//   fail([message])       a failed step, and the script ends
//   exit([code])          ends the script with that exit code (0 to 255; true
//                         0, false 1); os.exit is the same, never the program
//
// A wrong argument (a type, an unknown field, a name that is none of the
// allowed ones) is a Lua error at the script's line. The standard libraries
// are all there, but three doors to places Stop cannot reach are closed:
// debug.sethook is refused, a metatable with __gc is refused, and xpcall's
// handler is passed over once the script is being ended. io.write writes
// to the process's own standard output, past the script's output.
#pragma once

struct lua_State;

namespace quorvel {

// Registers the functions in the state's globals and puts exit in os.exit.
// Called under lua_pcall, with the state's engine in its extra space.
void OpenScriptApi(lua_State* lua);

}  // namespace quorvel

// The functions a script calls, run by the real engine on its own thread
// against a fake link whose device answers each send: what expect, read and
// readline return and leave, what goes out, what the link is asked, the
// errors a mistake gets, the exit codes, and that Stop, the time limit and
// the memory cap end what they must.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "script/script_runner.h"
#include "support/fake_script_link.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

using testing::FakeScriptLink;
using namespace std::chrono_literals;

// The device most cases talk to: each send gets its answer from the table.
std::function<std::string(const std::string&)> Answers(std::map<std::string, std::string> table) {
  return [table = std::move(table)](const std::string& sent) {
    auto found = table.find(sent);
    return found == table.end() ? std::string() : found->second;
  };
}

struct Ran {
  ScriptResult result;
  std::string output;
};

Ran RunScript(FakeScriptLink& link, std::string_view code, ScriptRunner::Options options = {}) {
  ScriptRunner runner(link);
  std::string problem;
  EXPECT_TRUE(runner.StartText("test.lua", code, options, problem)) << problem;
  Ran ran{runner.Wait(), ""};
  for (const ScriptEvent& event : runner.TakeEvents()) {
    if (event.kind == ScriptEvent::Kind::kPrinted) ran.output += event.text;
  }
  return ran;
}

// Waits (with a deadline) until the running script has printed `text`.
bool WaitForPrinted(ScriptRunner& runner, const std::string& text) {
  auto deadline = std::chrono::steady_clock::now() + 10s;
  std::string printed;
  while (printed.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    pollfd news{runner.EventDescriptor(), POLLIN, 0};
    poll(&news, 1, 100);
    for (const ScriptEvent& event : runner.TakeEvents()) printed += event.text;
  }
  return true;
}

struct ApiCase {
  const char* name;
  std::map<std::string, std::string> device;
  const char* code;
  const char* output;
  int exitCode = 0;
};
void PrintTo(const ApiCase& c, std::ostream* os) {
  *os << c.name;
}

class ScriptApiTest : public ::testing::TestWithParam<ApiCase> {};

TEST_P(ScriptApiTest, PrintsWhatTheCallsReturned) {
  const ApiCase& c = GetParam();
  FakeScriptLink link;
  link.device = Answers(c.device);
  Ran ran = RunScript(link, c.code);
  EXPECT_EQ(ran.output, c.output) << ran.result.error;
  EXPECT_EQ(ran.result.exitCode, c.exitCode) << ran.result.error;
  EXPECT_FALSE(link.Attached());
}

const std::map<std::string, std::string> kBoard = {
    {"ID?\r", "noise T=21.4 C\r\n"},
    {"ver", "fw v12 ok"},
    {"frame", std::string("\x01\x06\x41\x0D\x00\xFF", 6)},
    {"count", "one two three"},
    {"a", "hel"},
    {"b", "lo\r\nwor"},
    {"c", "ld\n"},
    {"old", "stale"},
    {"new", "fresh"},
};

INSTANTIATE_TEST_SUITE_P(
    Calls, ScriptApiTest,
    ::testing::Values(
        ApiCase{"LuaPatternGivesTextAndCaptures", kBoard,
                R"lua(send("ID?", {ending="cr"}) print(expect("T=(%d+)%.(%d)")))lua",
                "T=21.4\t21\t4\n"},
        ApiCase{"LuaPositionCaptureCountsFromTheMark", kBoard,
                R"lua(send("ver") print(expect("()v%d+")))lua", "v12\t4\n"},
        ApiCase{"RegexGroupThatTookNoPartIsNil", kBoard,
                R"lua(send("ver") print(expect({regex="v(\\d+)(x)?"})))lua", "v12\t12\tnil\n"},
        ApiCase{"HexWildcardsAreCaptures", kBoard,
                R"lua(send("frame") local m, c = expect({hex="06 ?? 0d"}) print(#m, c:byte()))lua",
                "3\t65\n"},
        ApiCase{"ZeroAndHighBytesAreData", kBoard,
                R"lua(send("frame") local a = expect("\r%z") print(#a, #expect({hex="FF"})))lua",
                "2\t1\n"},
        ApiCase{"ExpectsTakeTurnsThroughOneArrival", kBoard,
                R"lua(send("count") expect("one") expect("two") print(expect("t%a+")))lua",
                "three\n"},
        ApiCase{"WhatAnExpectPassedIsGone", kBoard,
                R"lua(send("count") expect("two") print(expect("one", 0, {optional=true})))lua",
                "nil\n"},
        ApiCase{"ATimedOutExpectLeavesTheBytes", kBoard,
                R"lua(send("count") expect("four", 0, {optional=true}) print(read()))lua",
                "one two three\n"},
        ApiCase{"FlushForgetsWhatArrived", kBoard,
                R"lua(send("old") flush() send("new") print(read(1000)))lua", "fresh\n"},
        ApiCase{"ReadWithNothingIsNil", kBoard, R"lua(print(read()) print(read(5)))lua",
                "nil\nnil\n"},
        ApiCase{"ReadlineAcrossArrivals", kBoard,
                R"lua(send("a") print(readline(0)) send("b") print(readline()) print(readline(0))
                   send("c") print(readline()))lua",
                "nil\nhello\nnil\nworld\n"},
        ApiCase{"SleepWaitsAndNowCounts",
                {},
                R"lua(local t = now() sleep(20) print(now() - t >= 20, now() >= 0))lua",
                "true\ttrue\n"},
        ApiCase{
            "TimedOutExpectIsAFailedStep", {}, R"lua(print(expect("never", 5)))lua", "nil\n", 1},
        ApiCase{"CheckJudgesATimedOutExpect",
                {},
                R"lua(check(expect("never", 5) == nil, "stays quiet"))lua",
                "",
                0},
        ApiCase{"OptionalExpectTimesOutQuietly",
                {},
                R"lua(if not expect("never", 5, {optional=true}) then print("woke") end)lua",
                "woke\n",
                0},
        ApiCase{"OsExitEndsTheScriptNotTheProgram",
                {},
                R"lua(print("a") os.exit(true) print("b"))lua",
                "a\n",
                0},
        ApiCase{"PcallCannotHoldAnExit", {}, R"lua(pcall(exit, 4) print("after"))lua", "", 4},
        ApiCase{"XpcallHandlerStillRuns",
                {},
                R"lua(print(xpcall(error, function(e) return "handled " .. e end, "x", 0)))lua",
                "false\thandled x\n"},
        ApiCase{"YieldInsideXpcall",
                {},
                R"lua(local co = coroutine.wrap(function() xpcall(coroutine.yield, print, 7) end)
                   print(co()))lua",
                "7\n"},
        ApiCase{"CheckReturnsItsVerdict",
                {},
                R"lua(print(check(1 == 1, "one"), check(nil, "two")))lua",
                "true\tfalse\n",
                1}));

struct SendCase {
  const char* name;
  const char* code;
  std::vector<std::string> calls;
};
void PrintTo(const SendCase& c, std::ostream* os) {
  *os << c.name;
}

class ScriptSendTest : public ::testing::TestWithParam<SendCase> {};

TEST_P(ScriptSendTest, LinkIsAskedInOrder) {
  const SendCase& c = GetParam();
  FakeScriptLink link;
  Ran ran = RunScript(link, c.code);
  EXPECT_EQ(ran.result.end, ScriptEnd::kFinished) << ran.result.error;
  EXPECT_EQ(link.Calls(), c.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, ScriptSendTest,
    ::testing::Values(
        SendCase{"TextAsItIs", R"lua(send("AT\\r"))lua", {"send 41 54 5C 72"}},
        SendCase{"EndingAndEscapes",
                 R"lua(send("AT", {ending="crlf"}) send("a\\tb", {escapes=true}))lua",
                 {"send 41 54 0D 0A", "send 61 09 62"}},
        SendCase{"HexWithModbusCrc",
                 R"lua(send_hex("01 03 00 00 00 0A", {check="modbus-crc16"}))lua",
                 {"send 01 03 00 00 00 0A C5 CD"}},
        SendCase{"TextCheckBeforeEnding",
                 R"lua(send("A", {check="xor8", ending="lf"}))lua",
                 {"send 41 41 0A"}},
        SendCase{"EmptySendWritesNothing", R"lua(send(""))lua", {}},
        SendCase{"LinesBreakAndSettings",
                 R"lua(line{dtr=true, rts=false} line{rts=true} send_break() send_break(40)
                    set{baud=115200, data=7, parity="Even", stop=1.5} set{stop="2"})lua",
                 {"lines dtr=1 rts=0", "lines dtr=- rts=1", "break 250", "break 40",
                  "set baud=115200 data=7 parity=2 stop=1", "set baud=- data=- parity=- stop=2"}},
        SendCase{"Transfers",
                 R"lua(transfer{send="fw.bin", protocol="ymodem"}
                    transfer{send={"a", "b"}, protocol="ZMODEM"}
                    transfer{receive="in/", protocol="xmodem-1k"})lua",
                 {"transfer send 2 fw.bin", "transfer send 3 a b", "transfer receive 1 in/"}},
        SendCase{"LogIsAnEventLine", R"lua(log("booted"))lua", {"note booted"}}));

TEST(ScriptLinkRefusal, ComesBackAsNilAndReason) {
  FakeScriptLink link;
  link.refuse = "the driver refused 74880 baud";
  Ran ran = RunScript(link, R"lua(print(set{baud=74880}) print(line{dtr=true}))lua");
  EXPECT_EQ(ran.output, "nil\tthe driver refused 74880 baud\nnil\tthe driver refused 74880 baud\n");
  EXPECT_EQ(ran.result.exitCode, 0);
}

struct ErrorCase {
  const char* name;
  const char* code;
  const char* error;  // after "test.lua:1: "
};
void PrintTo(const ErrorCase& c, std::ostream* os) {
  *os << c.name;
}

class ScriptErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ScriptErrorTest, MistakeIsAnErrorAtItsLine) {
  const ErrorCase& c = GetParam();
  FakeScriptLink link;
  link.device = [](const std::string&) { return std::string("abc"); };
  Ran ran = RunScript(link, c.code);
  EXPECT_EQ(ran.result.end, ScriptEnd::kError);
  EXPECT_EQ(ran.result.exitCode, 2);
  EXPECT_EQ(ran.result.error.rfind(std::string("test.lua:1: ") + c.error, 0), 0u)
      << ran.result.error;
}

INSTANTIATE_TEST_SUITE_P(
    Calls, ScriptErrorTest,
    ::testing::Values(
        ErrorCase{"UnknownEnding", R"lua(send("x", {ending="cr lf"}))lua",
                  "send: ending 'cr lf' is none of none, cr, lf, crlf"},
        ErrorCase{"UnknownOption", R"lua(send("x", {endings="cr"}))lua",
                  "send: unknown field 'endings'"},
        ErrorCase{"UnknownCheck", R"lua(send("x", {check="crc99"}))lua",
                  "send: check 'crc99' is none"},
        ErrorCase{"HexNotBytes", R"lua(send_hex("0x01"))lua", "send_hex: not hex bytes"},
        ErrorCase{"HexTakesOnlyCheck", R"lua(send_hex("01", {ending="cr"}))lua",
                  "send_hex: unknown field 'ending'"},
        ErrorCase{"TextNeeded", R"lua(send())lua", "bad argument #1 to 'send'"},
        ErrorCase{"RegexDoesNotCompile", R"lua(expect({regex="("}))lua",
                  "expect: the regular expression is not valid"},
        ErrorCase{"BadHexPattern", R"lua(expect({hex="0G"}))lua",
                  "expect: \"0G\" is neither a hex byte nor ??"},
        ErrorCase{"TwoPatternKinds", R"lua(expect({hex="01", regex="a"}))lua",
                  "expect: a pattern is either"},
        ErrorCase{"EmptyPattern", R"lua(expect(""))lua", "expect: the pattern is empty"},
        ErrorCase{"MalformedLuaPattern", R"lua(send("x") expect("%"))lua",
                  "expect: malformed pattern"},
        ErrorCase{"NegativeTimeout", R"lua(expect("x", -1))lua", "bad argument #2 to 'expect'"},
        ErrorCase{"LineLevelNotBoolean", R"lua(line{dtr=1})lua", "line: dtr is true or false"},
        ErrorCase{"NoLineNamed", R"lua(line{})lua", "line: name a line"},
        ErrorCase{"ParityUnknown", R"lua(set{parity="weird"})lua",
                  "set: parity 'weird' is none of"},
        ErrorCase{"BaudZero", R"lua(set{baud=0})lua", "set: baud is a whole number from 1"},
        ErrorCase{"StopThree", R"lua(set{stop=3})lua", "set: stop is 1, 1.5 or 2"},
        ErrorCase{"BreakTooShort", R"lua(send_break(0))lua", "bad argument #1 to 'send_break'"},
        ErrorCase{"TransferBothWays", R"lua(transfer{send="a", receive="b", protocol="ymodem"})lua",
                  "transfer: a transfer either sends or receives"},
        ErrorCase{"TransferWithoutProtocol", R"lua(transfer{send="a"})lua",
                  "transfer: name the protocol"},
        ErrorCase{"XmodemSendsOne", R"lua(transfer{send={"a", "b"}, protocol="xmodem"})lua",
                  "transfer: XMODEM sends one file"},
        ErrorCase{"ExitCodeOutOfRange", R"lua(exit(256))lua", "bad argument #1 to 'exit'"},
        ErrorCase{"HookIsTheEngines", R"lua(debug.sethook())lua",
                  "debug.sethook is not for scripts"},
        ErrorCase{"NoFinalizers", R"lua(setmetatable({}, {__gc = print}))lua",
                  "a script cannot set a finalizer"},
        ErrorCase{"ScriptsOwnError", R"lua(error("board said no"))lua", "board said no"}));

struct EndCase {
  const char* name;
  const char* code;
  ScriptEnd end;
  int exitCode;
  std::vector<std::string> steps;  // "+name" passed, "-name" failed
};
void PrintTo(const EndCase& c, std::ostream* os) {
  *os << c.name;
}

class ScriptEndTest : public ::testing::TestWithParam<EndCase> {};

TEST_P(ScriptEndTest, ExitCodeFollowsTheSteps) {
  const EndCase& c = GetParam();
  FakeScriptLink link;
  Ran ran = RunScript(link, c.code);
  EXPECT_EQ(ran.result.end, c.end) << ran.result.error;
  EXPECT_EQ(ran.result.exitCode, c.exitCode);
  std::vector<std::string> steps;
  for (const ScriptStep& step : ran.result.steps)
    steps.push_back((step.passed ? "+" : "-") + step.name);
  EXPECT_EQ(steps, c.steps);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ScriptEndTest,
    ::testing::Values(EndCase{"Empty", "", ScriptEnd::kFinished, 0, {}},
                      EndCase{"AllPassed",
                              R"lua(check(true, "a") check(1, "b"))lua",
                              ScriptEnd::kFinished,
                              0,
                              {"+a", "+b"}},
                      EndCase{"OneFailedGoesOn",
                              R"lua(check(false, "a") check(true, "b"))lua",
                              ScriptEnd::kFinished,
                              1,
                              {"-a", "+b"}},
                      EndCase{"FailEnds",
                              R"lua(check(true, "a") fail("no prompt") check(true, "b"))lua",
                              ScriptEnd::kFailed,
                              1,
                              {"+a", "-no prompt"}},
                      EndCase{"ExitCodeIsHonoured",
                              R"lua(check(false, "a") exit(0))lua",
                              ScriptEnd::kExited,
                              0,
                              {"-a"}},
                      EndCase{"ExitThree", R"lua(exit(3))lua", ScriptEnd::kExited, 3, {}},
                      EndCase{"CheckRightAfterATimeoutDecides",
                              R"lua(expect("login:", 1) check(true, "later"))lua",
                              ScriptEnd::kFinished,
                              0,
                              {"+later"}},
                      EndCase{"UnjudgedTimeoutBeforeSend",
                              R"lua(expect("login:", 1) send("x"))lua",
                              ScriptEnd::kFinished,
                              1,
                              {"-expect login:"}},
                      EndCase{"UnjudgedTimeoutAtTheEnd",
                              R"lua(expect({hex="06"}, 1))lua",
                              ScriptEnd::kFinished,
                              1,
                              {"-expect {hex=\"06\"}"}},
                      EndCase{"ErrorAfterSteps",
                              R"lua(check(true, "a") local x = nil; x())lua",
                              ScriptEnd::kError,
                              2,
                              {"+a"}}));

TEST(ScriptSteps, SayWhereAndWhy) {
  FakeScriptLink link;
  Ran ran = RunScript(link, "check(true, 'a')\n\ncheck(nil)\nexpect('prompt>', 3)\n");
  ASSERT_EQ(ran.result.steps.size(), 3u);
  EXPECT_EQ(ran.result.steps[0].where, "test.lua:1");
  EXPECT_EQ(ran.result.steps[1].name, "check at test.lua:3");
  EXPECT_EQ(ran.result.steps[1].failure, "got nil");
  EXPECT_EQ(ran.result.steps[2].name, "expect prompt>");
  EXPECT_EQ(ran.result.steps[2].failure, "nothing matched within 3 ms");
  EXPECT_EQ(ran.result.steps[2].where, "test.lua:4");
  EXPECT_GE(ran.result.steps[2].atMs, ran.result.steps[1].atMs);
}

TEST(ScriptLoad, SyntaxErrorNamesFileAndLine) {
  FakeScriptLink link;
  ScriptRunner runner(link);
  std::string problem;
  EXPECT_FALSE(runner.StartText("board.lua", "send('x')\nx = = 1\n", {}, problem));
  EXPECT_EQ(problem, "board.lua:2: unexpected symbol near '='");
  EXPECT_FALSE(runner.Running());

  testing::TempDir dir;
  EXPECT_FALSE(runner.Start((dir / "missing.lua").string(), {}, problem));
  EXPECT_NE(problem.find("cannot open"), std::string::npos) << problem;

  // A precompiled chunk is refused, not run.
  testing::WriteFile(dir / "binary.lua", std::string("\x1bLua\x54", 5));
  EXPECT_FALSE(runner.Start((dir / "binary.lua").string(), {}, problem));
  EXPECT_NE(problem.find("binary chunk"), std::string::npos) << problem;
}

TEST(ScriptMemory, CapEndsTheScriptWithAClearError) {
  FakeScriptLink link;
  ScriptRunner::Options options;
  options.memoryLimit = 8u << 20;
  Ran ran = RunScript(link,
                      R"lua(local ok, e = pcall(string.rep, "x", 100000000) print(ok, e)
                         local t = {} while true do t[#t + 1] = string.rep("x", 100000) .. #t end)lua",
                      options);
  EXPECT_EQ(ran.output, "false\tnot enough memory\n");
  EXPECT_EQ(ran.result.end, ScriptEnd::kError);
  EXPECT_EQ(ran.result.exitCode, 2);
  EXPECT_EQ(ran.result.error, "out of memory: a script may use at most 8 MiB");
}

struct RunawayCase {
  const char* name;
  const char* code;
  bool sendsBlock = false;
};
void PrintTo(const RunawayCase& c, std::ostream* os) {
  *os << c.name;
}

class ScriptStopTest : public ::testing::TestWithParam<RunawayCase> {};

TEST_P(ScriptStopTest, StopEndsIt) {
  const RunawayCase& c = GetParam();
  FakeScriptLink link;
  link.sendsBlock = c.sendsBlock;
  ScriptRunner runner(link);
  std::string problem;
  ASSERT_TRUE(runner.StartText("test.lua", c.code, {}, problem)) << problem;
  ASSERT_TRUE(WaitForPrinted(runner, "started"));
  runner.Stop();
  ScriptResult result = runner.Wait();
  EXPECT_EQ(result.end, ScriptEnd::kStopped);
  EXPECT_EQ(result.exitCode, 1);
  ASSERT_FALSE(result.steps.empty());
  EXPECT_EQ(result.steps.back().name, "stopped");
  EXPECT_EQ(result.steps.back().where.rfind("test.lua:", 0), 0u) << result.steps.back().where;
}

INSTANTIATE_TEST_SUITE_P(
    Runaways, ScriptStopTest,
    ::testing::Values(
        RunawayCase{"BusyLoop", R"lua(print("started") while true do end)lua"},
        RunawayCase{
            "LoopInsidePcall",
            R"lua(print("started") while true do pcall(function() while true do end end) end)lua"},
        RunawayCase{"LoopInACoroutine",
                    R"lua(print("started")
                       local co = coroutine.wrap(function() while true do end end) co())lua"},
        RunawayCase{"ErrorHandlerThatLoops",
                    R"lua(print("started")
                       while true do xpcall(function() while true do end end,
                                            function() while true do end end) end)lua"},
        RunawayCase{"BlockedInExpect", R"lua(print("started") expect("never", 86400000))lua"},
        RunawayCase{"BlockedInSleep", R"lua(print("started") sleep(86400000))lua"},
        RunawayCase{"BlockedInSend", R"lua(print("started") send("stuck"))lua", true}));

TEST(ScriptTimeLimit, EndsABlockedScriptAsAFailedStep) {
  FakeScriptLink link;
  ScriptRunner::Options options;
  options.timeoutSeconds = 0.05;
  Ran ran = RunScript(link, "check(true, 'a')\nexpect('never', 86400000)\n", options);
  EXPECT_EQ(ran.result.end, ScriptEnd::kTimedOut);
  EXPECT_EQ(ran.result.exitCode, 1);
  ASSERT_EQ(ran.result.steps.size(), 2u);
  EXPECT_EQ(ran.result.steps[1].name, "timeout");
  EXPECT_EQ(ran.result.steps[1].where, "test.lua:2");
}

TEST(ScriptReceive, ExpectWakesForBytesFedFromAnotherThread) {
  FakeScriptLink link;
  ScriptRunner runner(link);
  std::string problem;
  ASSERT_TRUE(runner.StartText(
      "test.lua",
      R"lua(print("started") print(expect("login: ", 10000)) print(readline(10000)))lua", {},
      problem));
  ASSERT_TRUE(WaitForPrinted(runner, "started"));
  // In pieces that cut the pattern, and more before the match.
  for (const char* piece : {"U-Boot 2024\r\nbuildroot lo", "gin", ": ", "root\r", "\n"}) {
    link.Feed(piece);
  }
  ScriptResult result = runner.Wait();
  std::string output;
  for (const ScriptEvent& event : runner.TakeEvents()) output += event.text;
  EXPECT_EQ(output, "login: \nroot\n");
  EXPECT_EQ(result.exitCode, 0);
}

}  // namespace
}  // namespace quorvel

// A script run's steps as people and CI systems read them: plain lines, TAP
// (version 13, streamed as the steps come) and JUnit XML (written at the
// end).
//
// Names and texts come from the script and from the device, so nothing is
// trusted to be UTF-8 or free of control characters: a byte that is not
// within valid UTF-8, and a control character the format cannot carry, is
// written as the four characters \xHH. A TAP description also has its '#'
// escaped (it would start a directive), and no line break ever reaches a
// description or a YAML value.
#pragma once

#include <string>
#include <string_view>

#include "script/script_steps.h"

namespace quorvel {

// "PASS boot prompt (1.204 s)", "FAIL self-test: nothing matched within
// 5000 ms (board.lua:12)", with the line end.
std::string PlainStep(const ScriptStep& step);
// The last line of a plain run: "3 steps: 2 passed, 1 failed, in 4.512 s".
std::string PlainSummary(const ScriptResult& result);

std::string TapHeader();  // "TAP version 13"
// "ok 1 - name", or "not ok 2 - name" and a YAML block with the failure,
// where it was made and how long it took.
std::string TapStep(int number, const ScriptStep& step);
// Printed output as TAP comments: each line "# ...".
std::string TapComment(std::string_view text);
// "1..N", after the last test point.
std::string TapPlan(int count);

// The JUnit XML report: one testsuite named `suite` (the script's file
// name), one testcase per step with its time and failure, a script error as
// an <error> testcase, the printed output as <system-out>.
std::string JUnitXml(std::string_view suite, const ScriptResult& result);

// `text` for XML character data, or an attribute value when `attribute`.
std::string XmlEscaped(std::string_view text, bool attribute);

}  // namespace quorvel

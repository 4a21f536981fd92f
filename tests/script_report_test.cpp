// A script run as `quorvel --script` gives it: the TAP stream and the plain
// lines as they come, the exit codes, and the JUnit report read back by
// python's xml.etree as a CI system reads it, with names and texts that
// come from the device (control bytes, invalid UTF-8, markup).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "script/script_headless.h"
#include "script/script_report.h"
#include "support/fake_script_link.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

using testing::FakeScriptLink;
using testing::TempDir;
using testing::WriteFile;

// A stream in memory for RunScriptHeadless to write to.
class Captured {
 public:
  Captured() : file_(open_memstream(&data_, &size_)) {}
  ~Captured() {
    std::fclose(file_);
    std::free(data_);
  }
  std::FILE* file() { return file_; }
  std::string Text() {
    std::fflush(file_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  std::FILE* file_;
};

struct Headless {
  std::string script;  // as Lua names it in messages: the path given
  int code = 0;
  std::string out;
  std::string errors;
};

Headless RunHeadless(const TempDir& dir, const std::string& code, HeadlessOptions options) {
  WriteFile(dir / "board.lua", code);
  options.script = (dir / "board.lua").string();
  FakeScriptLink link;
  link.device = [](const std::string& sent) {
    return sent == "ver\r" ? std::string("fw 1.2\r\n<ok> & \x01\xff\r\n") : std::string();
  };
  Captured out;
  Captured errors;
  Headless ran;
  ran.script = options.script;
  ran.code = RunScriptHeadless(link, options, out.file(), errors.file());
  ran.out = out.Text();
  ran.errors = errors.Text();
  return ran;
}

// Lines that hold a time are left out: they differ run to run.
std::string WithoutTimes(const std::string& text) {
  std::string kept;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(start, end - start);
    if (line.find("duration_ms:") == std::string::npos && line.find(" s)") == std::string::npos &&
        line.find(" s\n") == std::string::npos) {
      kept += line;
    }
    start = end;
  }
  return kept;
}

const char kBoardScript[] =
    "send('ver', {ending='cr'})\n"
    "local version = expect('fw (%d+%.%d+)', 1000)\n"
    "print('version', version)\n"
    "check(version, 'version # reported')\n"
    "check(expect('never', 1) ~= nil, 'a second line')\n"
    "readline(0) local line = readline(0)\n"
    "check(false, line)\n";

TEST(ScriptHeadlessOutput, TapStreamsTestPointsAndComments) {
  TempDir dir;
  HeadlessOptions options;
  options.tap = true;
  Headless ran = RunHeadless(dir, kBoardScript, options);
  EXPECT_EQ(ran.code, 1);
  EXPECT_EQ(ran.errors, "");
  EXPECT_EQ(WithoutTimes(ran.out),
            "TAP version 13\n"
            "# version\tfw 1.2\n"
            "ok 1 - version \\# reported\n"
            "not ok 2 - a second line\n"
            "  ---\n"
            "  message: \"got false\"\n"
            "  at: \"" +
                ran.script +
                ":5\"\n"
                "  ...\n"
                "not ok 3 - <ok> & \\x01\\xFF\n"
                "  ---\n"
                "  message: \"got false\"\n"
                "  at: \"" +
                ran.script +
                ":7\"\n"
                "  ...\n"
                "1..3\n");
}

TEST(ScriptHeadlessOutput, PlainLinesAndSummary) {
  TempDir dir;
  Headless ran = RunHeadless(dir, "check(true, 'up')\nfail('no prompt')\n", {});
  EXPECT_EQ(ran.code, 1);
  EXPECT_EQ(WithoutTimes(ran.out), "FAIL no prompt (" + ran.script + ":2)\n");
  EXPECT_NE(ran.out.find("PASS up ("), std::string::npos) << ran.out;
  EXPECT_NE(ran.out.find("2 steps: 1 passed, 1 failed, in "), std::string::npos) << ran.out;
}

struct CodeCase {
  const char* name;
  const char* code;
  int exitCode;
  const char* errors;  // what standard error says after "quorvel: SCRIPT"
};
void PrintTo(const CodeCase& c, std::ostream* os) {
  *os << c.name;
}

class ScriptHeadlessCodeTest : public ::testing::TestWithParam<CodeCase> {};

TEST_P(ScriptHeadlessCodeTest, ExitCode) {
  const CodeCase& c = GetParam();
  TempDir dir;
  HeadlessOptions options;
  options.timeoutSeconds = 0.05;
  Headless ran = RunHeadless(dir, c.code, options);
  EXPECT_EQ(ran.code, c.exitCode);
  std::string expected = *c.errors ? "quorvel: " + ran.script + c.errors : "";
  EXPECT_EQ(ran.errors.substr(0, expected.size()), expected) << ran.errors;
}

INSTANTIATE_TEST_SUITE_P(Codes, ScriptHeadlessCodeTest,
                         ::testing::Values(CodeCase{"Passed", "check(true, 'a')", 0, ""},
                                           CodeCase{"CheckFailed", "check(false, 'a')", 1, ""},
                                           CodeCase{"ExpectTimedOut", "expect('x', 1)", 1, ""},
                                           CodeCase{"TimeoutEnded", "sleep(60000)", 1, ""},
                                           CodeCase{"ExitCode", "exit(7)", 7, ""},
                                           CodeCase{"SyntaxError", "check(true)\nx = = 1", 2,
                                                    ":2: unexpected symbol near '='"},
                                           CodeCase{"RuntimeError", "local t = nil\nprint(t.x)", 2,
                                                    ":2: attempt to index a nil value"}));

TEST(ScriptHeadlessOutput, StepsPastTheKeptNumberAreCountedInThePlan) {
  TempDir dir;
  HeadlessOptions options;
  options.tap = true;
  Headless ran = RunHeadless(dir, "for i = 1, 100005 do check(i ~= 100003, 'step') end", options);
  EXPECT_EQ(ran.code, 1);
  std::string tail = ran.out.substr(ran.out.rfind("ok 100000 - step\n"));
  EXPECT_EQ(WithoutTimes(tail),
            "ok 100000 - step\n"
            "# -- more than 100000 steps: the later ones are counted, not listed\n"
            "not ok 100001 - 5 steps not listed\n"
            "  ---\n"
            "  message: \"1 of them failed\"\n"
            "  ...\n"
            "1..100001\n");
}

TEST(ScriptHeadlessOutput, LoadErrorBailsOutAndStillReports) {
  TempDir dir;
  HeadlessOptions options;
  options.tap = true;
  options.report = (dir / "report.xml").string();
  Headless ran = RunHeadless(dir, "x = = 1", options);
  EXPECT_EQ(ran.code, 2);
  EXPECT_EQ(ran.out,
            "TAP version 13\nBail out! " + ran.script + ":1: unexpected symbol near '='\n");
  EXPECT_NE(testing::ReadAll(dir / "report.xml").find("<error"), std::string::npos);
}

TEST(ScriptHeadlessOutput, ReportThatCannotBeWrittenIsExitTwo) {
  TempDir dir;
  HeadlessOptions options;
  options.report = dir.path().string();  // a directory
  Headless ran = RunHeadless(dir, "check(true, 'a')", options);
  EXPECT_EQ(ran.code, 2);
  EXPECT_NE(ran.errors.find("cannot be written"), std::string::npos) << ran.errors;
}

// The report read back by python's XML parser.
std::vector<std::string> ReadBack(const std::filesystem::path& report) {
  std::string command =
      std::string("python3 ") + QUORVEL_TESTS_DIR + "/junit_read.py '" + report.string() + "' 2>&1";
  std::vector<std::string> lines;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return {"popen failed"};
  std::string text;
  char buffer[4096];
  size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, count);
  int status = pclose(pipe);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (status != 0) lines.push_back("exit status " + std::to_string(status));
  return lines;
}

TEST(ScriptJUnitReport, ReadsBackAsCiReadsIt) {
  if (std::system("python3 -c 'import xml.etree.ElementTree' >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "python3 with xml.etree is not installed";
  }
  TempDir dir;
  HeadlessOptions options;
  options.report = (dir / "report.xml").string();
  Headless ran = RunHeadless(dir, kBoardScript, options);
  EXPECT_EQ(ran.code, 1);
  EXPECT_EQ(ReadBack(dir / "report.xml"),
            (std::vector<std::string>{
                "suites tests=3 failures=2 errors=0",
                "suite board.lua tests=3 failures=2 errors=0",
                "case version # reported|board|ok",
                "case a second line|board|failure: got false|" + ran.script + ":5: got false",
                "case <ok> & \\x01\\xFF|board|failure: got false|" + ran.script + ":7: got false",
                "out version\tfw 1.2\\n",
            }));

  // A script error is an <error> testcase after the steps before it.
  Headless failed = RunHeadless(dir, "check(true, 'a')\nerror('board <gone>')\n", options);
  EXPECT_EQ(failed.code, 2);
  std::vector<std::string> lines = ReadBack(dir / "report.xml");
  ASSERT_EQ(lines.size(), 4u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "suites tests=2 failures=0 errors=1");
  EXPECT_EQ(lines[2], "case a|board|ok");
  std::string error = ran.script + ":2: board <gone>";
  EXPECT_EQ(lines[3].rfind(
                "case script error|board|error: " + error + "|" + error + "\\nstack traceback:", 0),
            0u)
      << lines[3];
}

struct EscapeCase {
  const char* name;
  std::string text;
  bool attribute;
  std::string escaped;
};
void PrintTo(const EscapeCase& c, std::ostream* os) {
  *os << c.name;
}

class XmlEscapeTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(XmlEscapeTest, OnlyWhatXmlCarries) {
  EXPECT_EQ(XmlEscaped(GetParam().text, GetParam().attribute), GetParam().escaped);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, XmlEscapeTest,
    ::testing::Values(
        EscapeCase{"Markup", "<a b=\"c\">&'", false, "&lt;a b=\"c\"&gt;&amp;'"},
        EscapeCase{"MarkupInAttribute", "<\"'&>", true, "&lt;&quot;&apos;&amp;&gt;"},
        EscapeCase{"LineBreaksInAttribute", "a\tb\nc\rd", true, "a&#9;b&#10;c&#13;d"},
        EscapeCase{"LineBreaksInText", "a\tb\nc\rd", false, "a\tb\nc&#13;d"},
        EscapeCase{"ControlBytes", std::string("a\0\x01\x1b", 4), false, "a\\x00\\x01\\x1B"},
        EscapeCase{"ValidUtf8Kept",
                   "T=21.4 \xc2\xb0"
                   "C \xe2\x9c\x93",
                   false,
                   "T=21.4 \xc2\xb0"
                   "C \xe2\x9c\x93"},
        EscapeCase{"InvalidUtf8", "\xff\xc3(\xe2\x82", false, "\\xFF\\xC3(\\xE2\\x82"},
        EscapeCase{"OverlongAndSurrogate", "\xc0\xaf\xed\xa0\x80", false,
                   "\\xC0\\xAF\\xED\\xA0\\x80"},
        EscapeCase{"NonCharacters", "\xef\xbf\xbe", false, "\\uFFFE"}));

TEST(ScriptTimeoutOption, SecondsAboveZeroUpToAWeek) {
  EXPECT_EQ(ParseTimeoutSeconds("30"), 30.0);
  EXPECT_EQ(ParseTimeoutSeconds("0.5"), 0.5);
  for (const char* bad : {"", "0", "-1", "30s", "nan", "inf", "1e9", " 5"}) {
    EXPECT_FALSE(ParseTimeoutSeconds(bad)) << bad;
  }
}

}  // namespace
}  // namespace quorvel

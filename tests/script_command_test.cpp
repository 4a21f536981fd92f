// `quorvel --script` as a CI job runs it: the real program, with no display,
// against devices on pseudo-terminals (the simulator, a pyserial echo, a
// pymodbus RTU server, a device played here). Its command line read into a
// run, the exit codes, the TAP stream, the JUnit report read back as a CI
// system reads it, the settings file's port map and --baud, and SIGTERM
// ending a run cleanly with its report written.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "scripting/script_command.h"
#include "support/child_process.h"
#include "support/devsim_process.h"
#include "support/pty_device.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using testing::TempDir;
using testing::WriteFile;

struct ParseCase {
  std::vector<std::string> args;  // after the program's name
  bool script;
  std::string error;  // a part of the usage error; "" for none
  std::function<void(const ScriptCommand&)> check = {};
};

TEST(ScriptCommandLine, ReadsARunOrLeavesTheCommandLineToTheWindow) {
  const UserConfigHome home{"/xdg", "/home/u"};
  const ParseCase cases[] = {
      {{"--script", "s.lua", "/dev/ttyUSB0"},
       true,
       "",
       [](const ScriptCommand& c) {
         EXPECT_EQ(c.run.script, "s.lua");
         EXPECT_EQ(c.device->Text(), "/dev/ttyUSB0");
         EXPECT_EQ(c.settingsFile, "Quorvel.ini");
       }},
      {{"--script=s.lua", "com3", "--tap", "--report", "r.xml", "--timeout", "2.5", "--baud",
        "74880"},
       true,
       "",
       [](const ScriptCommand& c) {
         EXPECT_EQ(c.comNumber, 3);
         EXPECT_TRUE(c.run.tap);
         EXPECT_EQ(c.run.report, "r.xml");
         EXPECT_EQ(c.run.timeoutSeconds, 2.5);
         EXPECT_EQ(c.baud, 74880u);
       }},
      {{"--script", "s.lua", "rfc2217://lab-pi:7001"},
       true,
       "",
       [](const ScriptCommand& c) { EXPECT_TRUE(c.device->IsNetwork()); }},
      {{"--script", "s.lua", "dev/../ttyX"},
       true,
       "",
       [](const ScriptCommand& c) {
         EXPECT_EQ(c.device->Text(), (fs::current_path() / "ttyX").string());
       }},
      {{"--script", "s.lua", "--user-config"},
       true,
       "",
       [](const ScriptCommand& c) { EXPECT_EQ(c.settingsFile, "/xdg/quorvel/Quorvel.ini"); }},
      {{"--script", "s.lua"},
       true,
       "",
       [](const ScriptCommand& c) { EXPECT_EQ(c.comNumber, 0) << "the stored port"; }},
      // The window's: with --help or --version it lists or answers them.
      {{"--script", "s.lua", "--help"}, false, ""},
      {{"--version", "--script", "s.lua"}, false, ""},
      {{"/dev/ttyUSB0", "--baud", "9600"}, false, ""},
      {{"--script"}, true, "missing value after '--script'"},
      {{"--script", ""}, true, "--script needs a file name"},
      {{"--script", "s.lua", "--timeout", "0"}, true, "timeout '0'"},
      {{"--script", "s.lua", "--timeout", "1e9"}, true, "up to a week"},
      {{"--script", "s.lua", "--baud", "fast"}, true, "baud rate 'fast'"},
      {{"--script", "s.lua", "COM999"}, true, "'COM999' names no device"},
      {{"--script", "s.lua", "a", "b"}, true, "only one DEVICE"},
      {{"--script", "s.lua", "--demo"}, true, "quorvel-devsim"},
      {{"--script", "s.lua", "--list"}, true, "quorvel-devsim"},
      {{"--script", "s.lua", "--bogus"}, true, "unknown option '--bogus'"},
      {{"--script", "s.lua", "--tap=1"}, true, "takes no value"},
      {{"--script", "s.lua", "--settings", "x.ini", "--user-config"}, true, "exclude each other"},
  };
  for (const ParseCase& c : cases) {
    std::vector<std::string> args = {"quorvel"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(::testing::PrintToString(c.args));
    ScriptCommandLine line = ParseScriptCommandLine(args, home);
    EXPECT_EQ(line.script, c.script);
    if (!c.script) continue;
    EXPECT_EQ(line.ok, c.error.empty()) << line.errors;
    if (!c.error.empty()) {
      EXPECT_NE(line.errors.find(c.error), std::string::npos) << line.errors;
      EXPECT_NE(line.errors.find("Usage: quorvel --script FILE"), std::string::npos);
    }
    if (line.ok && c.check) c.check(line.command);
  }
}

// The real program, as a CI job starts it: no display of any kind.
class HeadlessRun : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = testing::BuiltProgram("ui", "quorvel");
    if (!fs::exists(program_)) GTEST_SKIP() << "no " << program_ << ": built without the window";
  }

  std::unique_ptr<ChildProcess> Start(const std::string& code, std::vector<std::string> args) {
    WriteFile(directory_ / "t.lua", code);
    std::vector<std::string> argv = {program_.string(), "--script", "t.lua"};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<ChildProcess>(
        argv,
        std::map<std::string, std::optional<std::string>>{
            {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", ""}},
        directory_.path());
  }

  struct Ran {
    int code = -1;
    std::string out;
    std::string errors;
  };
  Ran Run(const std::string& code, std::vector<std::string> args) {
    std::unique_ptr<ChildProcess> child = Start(code, std::move(args));
    Ran ran;
    ran.code = child->WaitExit().value_or(-1);
    ran.out = child->Output();
    ran.errors = child->Errors();
    return ran;
  }

  // The report read by python's xml.etree, one line per element.
  std::string ReadReport(const fs::path& report) {
    std::string command = std::string("/usr/bin/python3 ") + QUORVEL_TESTS_DIR +
                          "/junit_read.py '" + report.string() + "' 2>&1";
    std::string text;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[4096];
      size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
      EXPECT_EQ(pclose(pipe), 0) << text;
    }
    return text;
  }

  fs::path program_;
  TempDir directory_;
};

struct ExitCase {
  const char* name;
  const char* code;
  std::vector<std::string> args;  // before DEVICE
  int exit;
  const char* out;     // found in the output
  const char* errors;  // found in the error stream
};

TEST_F(HeadlessRun, ExitCodesTellEveryEnd) {
  testing::Devsim echo({"--echo"}, directory_.path());
  std::string device = echo.Path();
  ASSERT_FALSE(device.empty());
  const ExitCase cases[] = {
      {"every check passed",
       "send('hi\\n') check(expect('hi\\n', 5000), 'echo')",
       {},
       0,
       "PASS echo",
       ""},
      {"a check failed", "check(1 == 2, 'arithmetic')", {}, 1, "FAIL arithmetic", ""},
      {"an expect timed out unchecked", "expect('never', 100)", {}, 1, "FAIL expect", ""},
      {"the timeout ended it",
       "print('going') while true do sleep(20) end",
       {"--timeout", "0.3"},
       1,
       "FAIL timeout",
       ""},
      {"a syntax error", "x = = 1", {}, 2, "", "t.lua:1:"},
      {"a runtime error", "check(true)\nlocal f = nil\nf()", {}, 2, "", "t.lua:3: attempt to call"},
      {"exit with a code", "check(true) exit(3)", {}, 3, "PASS", ""},
      {"a log line", "log('hello') check(true, 'logged')", {}, 0, "log: hello", ""},
  };
  for (const ExitCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.args;
    args.push_back(device);
    Ran ran = Run(c.code, args);
    EXPECT_EQ(ran.code, c.exit) << ran.out << ran.errors;
    EXPECT_NE(ran.out.find(c.out), std::string::npos) << ran.out;
    EXPECT_NE(ran.errors.find(c.errors), std::string::npos) << ran.errors;
  }
  Ran absent = Run("check(true)", {(directory_ / "no-such-tty").string()});
  EXPECT_EQ(absent.code, 2);
  EXPECT_NE(absent.errors.find("cannot be opened: No such file or directory"), std::string::npos)
      << absent.errors;
  Ran unwritable = Run("check(true)", {"--report", "no-such-dir/r.xml", device});
  EXPECT_EQ(unwritable.code, 2);
  EXPECT_NE(unwritable.errors.find("the report no-such-dir/r.xml cannot be written"),
            std::string::npos)
      << unwritable.errors;
  Ran unread = Run("check(true)", {"--script", "gone.lua", device});
  EXPECT_EQ(unread.code, 2);
  EXPECT_NE(unread.errors.find("gone.lua"), std::string::npos) << unread.errors;
}

TEST_F(HeadlessRun, TapStreamAndJUnitReportAsACiSystemReadsThem) {
  testing::Devsim echo({"--echo"}, directory_.path());
  std::string device = echo.Path();
  Ran ran = Run(R"lua(
    send("ready\r\n")
    check(expect("ready"), "the device answers")
    print("between <steps> & more")
    check(expect("nothing", 50), "nothing else")
  )lua",
                {"--tap", "--report", "r.xml", device});
  EXPECT_EQ(ran.code, 1) << ran.errors;
  const char* lines[] = {"TAP version 13\n", "ok 1 - the device answers\n",
                         "# between <steps> & more\n", "not ok 2 - nothing else\n", "1..2\n"};
  size_t at = 0;
  for (const char* line : lines) {
    size_t found = ran.out.find(line, at);
    EXPECT_NE(found, std::string::npos) << line << " in order in\n" << ran.out;
    at = found == std::string::npos ? at : found;
  }
  std::string report = ReadReport(directory_ / "r.xml");
  EXPECT_NE(report.find("suites tests=2 failures=1 errors=0"), std::string::npos) << report;
  EXPECT_NE(report.find("case the device answers|t|ok"), std::string::npos) << report;
  EXPECT_NE(report.find("case nothing else|t|failure: got nil"), std::string::npos) << report;
  EXPECT_NE(report.find("out between <steps> & more"), std::string::npos) << report;
}

TEST_F(HeadlessRun, SigtermStopsTheScriptAndTheReportIsStillWritten) {
  testing::Devsim echo({"--echo"}, directory_.path());
  std::unique_ptr<ChildProcess> child =
      Start("check(true, 'started') print('ready') while true do sleep(20) end",
            {"--report", "r.xml", echo.Path()});
  ASSERT_TRUE(child->Started());
  bool ready = false;
  while (std::optional<std::string> line = child->ReadLine()) {
    if (*line == "ready") {
      ready = true;
      break;
    }
  }
  ASSERT_TRUE(ready) << child->Errors();
  child->Signal(SIGTERM);
  EXPECT_EQ(child->WaitExit(), 1) << child->Errors();
  std::string report = ReadReport(directory_ / "r.xml");
  EXPECT_NE(report.find("case stopped|t|failure: the script was stopped"), std::string::npos)
      << report;
}

// The port by its COM name in the settings file's [PortMap], at --baud's
// rate: what the window would open.
TEST_F(HeadlessRun, OpensTheComNameOfTheSettingsFileAtTheRateAsked) {
  testing::PtyDevice device;
  WriteFile(directory_ / "lab.ini", "[PortMap]\nCOM7=" + device.Path() + "\n");
  uint32_t speed = 0;
  std::thread board([&] {
    if (device.Receive(2) != std::vector<uint8_t>{'g', 'o'}) return;
    speed = device.Line().outputSpeed;
    device.Send("ok");
  });
  Ran ran = Run("send('go') check(expect('ok', 5000), 'answered')",
                {"--settings", "lab.ini", "--baud", "74880", "com7"});
  board.join();
  EXPECT_EQ(ran.code, 0) << ran.out << ran.errors;
  EXPECT_EQ(speed, 74880u);
  EXPECT_EQ(testing::ReadAll(directory_ / "lab.ini"), "[PortMap]\nCOM7=" + device.Path() + "\n")
      << "the settings file is read, never written";
}

// The examples of docs/examples, each against the simulator replaying the
// session it was written on: the board as recorded passes, and the same
// board with one reply changed (a CRC, a part of the self-test, the size
// U-Boot took) fails the run.
struct ExampleCase {
  const char* name;  // docs/examples/<name>.lua and .log
  std::map<std::string, std::optional<std::string>> env;
  const char* recorded;  // a row of the recording...
  const char* broken;    // ...and what it says on a board that fails
};

TEST_F(HeadlessRun, ExamplesPassOnTheirRecordingsAndFailOnABrokenReply) {
  // The image the U-Boot recording took: its YMODEM header carries the
  // size, time and mode, which the replay compares.
  std::string image;
  for (int i = 0; i < 3000; ++i) image.push_back(static_cast<char>((7 + 31 * i) & 0xFF));
  WriteFile(directory_ / "image.bin", image);
  fs::permissions(directory_ / "image.bin", fs::perms(0644));
  const auto stamp = std::chrono::file_clock::from_sys(
      std::chrono::sys_seconds(std::chrono::seconds(1767225600)));  // 2026-01-01
  fs::last_write_time(directory_ / "image.bin", stamp);

  const ExampleCase cases[] = {
      {"uboot-loady",
       {},
       "20 3D 20 30 78 30 30 30 30 30 62 62",
       "20 3D 20 30 78 30 30 30 30 30 30 38"},
      {"modbus-read", {}, "01 03 04 00 D7 00 01 8B CB", "01 03 04 00 D7 00 01 8B CC"},
      {"login-selftest",
       {{"BOARD_PASSWORD", "quorvel"}},
       "\n    6F 6B 0D 0A  ",
       "\n    6E 6F 0D 0A  "},  // "selftest: flash no"
  };
  const fs::path examples = fs::path(QUORVEL_TESTS_DIR).parent_path() / "docs" / "examples";
  for (const ExampleCase& c : cases) {
    std::string recording = testing::ReadAll(examples / (std::string(c.name) + ".log"));
    size_t at = recording.find(c.recorded);
    ASSERT_NE(at, std::string::npos) << c.name;
    ASSERT_EQ(recording.find(c.recorded, at + 1), std::string::npos) << c.name;
    std::string broken = recording;
    broken.replace(at, std::string(c.recorded).size(), c.broken);
    WriteFile(directory_ / "broken.log", broken);
    for (bool board_ok : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (board_ok ? " as recorded" : " broken"));
      fs::path log =
          board_ok ? examples / (std::string(c.name) + ".log") : directory_ / "broken.log";
      testing::Devsim board({"--replay", log.string()}, directory_.path());
      std::string device = board.Path();
      ASSERT_FALSE(device.empty()) << board.ErrorText();
      std::map<std::string, std::optional<std::string>> env = c.env;
      env.insert({{"DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", ""}});
      ChildProcess run({program_.string(), "--script",
                        (examples / (std::string(c.name) + ".lua")).string(), device},
                       env, directory_.path());
      std::optional<int> code = run.WaitExit();
      EXPECT_EQ(code, board_ok ? 0 : 1) << run.Output() << run.Errors();
      EXPECT_EQ(run.Errors(), "");
      // The simulator saw every frame the recording holds, as recorded.
      std::optional<int> status = board.WaitExit();
      ASSERT_TRUE(status && WIFEXITED(*status)) << board.ErrorText();
      EXPECT_EQ(WEXITSTATUS(*status), 0) << board.ErrorText();
    }
  }
}

// A peer made by python on a pseudo-terminal pair: its first line is the
// terminal's path, or "SKIP why".
std::unique_ptr<ChildProcess> StartPeer(const std::string& script, const char* mode = nullptr) {
  std::vector<std::string> argv = {"/usr/bin/python3",
                                   std::string(QUORVEL_TESTS_DIR) + "/" + script};
  if (mode) argv.push_back(mode);
  return std::make_unique<ChildProcess>(argv);
}

TEST_F(HeadlessRun, RoundTripsWithAPyserialEcho) {
  std::unique_ptr<ChildProcess> peer = StartPeer("serial_echo_peer.py");
  std::string path = peer->ReadLine(std::chrono::seconds(20)).value_or("");
  if (path.rfind("SKIP", 0) == 0) GTEST_SKIP() << path;
  ASSERT_FALSE(path.empty()) << peer->Errors();
  Ran ran = Run(R"lua(
    for i = 1, 200 do
      send("line " .. i .. "\n")
      if not check(expect("line " .. i .. "\n", 5000), "echo " .. i) then break end
    end
  )lua",
                {path});
  EXPECT_EQ(ran.code, 0) << ran.out << ran.errors;
  EXPECT_NE(ran.out.find("200 steps: 200 passed"), std::string::npos) << ran.out;
}

TEST_F(HeadlessRun, SendHexWithItsCrcIsAnsweredByAPymodbusServer) {
  std::unique_ptr<ChildProcess> peer = StartPeer("modbus_rtu_peer.py", "server");
  std::string path = peer->ReadLine(std::chrono::seconds(20)).value_or("");
  if (path.rfind("SKIP", 0) == 0) GTEST_SKIP() << path;
  ASSERT_FALSE(path.empty()) << peer->Errors();
  Ran ran = Run(R"lua(
    local function crc16(bytes)
      local crc = 0xFFFF
      for i = 1, #bytes do
        crc = crc ~ bytes:byte(i)
        for _ = 1, 8 do
          crc = (crc & 1) ~= 0 and ((crc >> 1) ~ 0xA001) or (crc >> 1)
        end
      end
      return crc
    end
    send_hex("01 03 00 00 00 02", {check = "modbus-crc16"})
    local reply = expect({hex = "01 03 04 ?? ?? ?? ?? ?? ??"}, 5000)
    if check(reply, "a reply") then
      check(crc16(reply:sub(1, 7)) == reply:byte(8) | reply:byte(9) << 8, "its CRC")
      check(string.unpack(">I2I2", reply, 4) == 0x1234, "register 0")
      check(select(2, string.unpack(">I2I2", reply, 4)) == 0x5678, "register 1")
    end
  )lua",
                {"--baud", "9600", path});
  EXPECT_EQ(ran.code, 0) << ran.out << ran.errors;
}

}  // namespace
}  // namespace quorvel

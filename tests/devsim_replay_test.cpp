// quorvel-devsim --replay and --record as a user runs them: a recording made
// by the terminal's own logging (or by the simulator) is played back to the
// terminal's real serial port over a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/unique_fd.h"
#include "logging/line_logger.h"
#include "logging/log_format.h"
#include "sim/recording.h"
#include "support/devsim_process.h"
#include "support/pty_device.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

using testing::Devsim;
using testing::Terminal;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// One step of the host's side of a conversation: send these bytes, or read
// that many.
struct HostStep {
  Bytes send;
  size_t receive = 0;
};

// Runs the host's side on an open port; returns every byte it received, in
// order. Each write and read is also told to `listener` when there is one.
Bytes RunHost(Terminal& host, const std::vector<HostStep>& steps,
              LineListener* listener = nullptr) {
  Bytes seen;
  for (const HostStep& step : steps) {
    if (!step.send.empty()) {
      host.Send(step.send);
      if (listener) listener->Sent(step.send.data(), static_cast<int>(step.send.size()));
    }
    if (step.receive > 0) {
      Bytes got = host.Receive(step.receive);
      if (listener) listener->Received(got.data(), static_cast<int>(got.size()));
      seen.insert(seen.end(), got.begin(), got.end());
      if (got.size() < step.receive) break;
    }
  }
  return seen;
}

struct Burst {
  LogDirection direction;
  int64_t ms;
  Bytes bytes;
};

// A recording as the terminal's hex dump log writes it.
std::string Recording(const std::vector<Burst>& bursts) {
  LogFormatter formatter(LogFormat::kHex, true);
  std::string text;
  for (const Burst& burst : bursts) {
    formatter.Append(burst.direction, 1'800'000'000'000 + burst.ms, burst.bytes.data(),
                     burst.bytes.size(), text);
  }
  return text;
}

// Asks a simulator that runs until told to end. One that never started has
// no process id, and a signal sent to none would reach every process the
// user may signal: the test fails instead.
void Terminate(Devsim& devsim) {
  ASSERT_GT(devsim.Pid(), 0) << "the simulator never started";
  devsim.Signal(SIGTERM);
}

int ExitCode(Devsim& devsim) {
  if (devsim.Pid() <= 0) return -1;
  std::optional<int> status = devsim.WaitExit();
  if (!status) return -1;
  return WIFEXITED(*status) ? WEXITSTATUS(*status) : 128 + WTERMSIG(*status);
}

// Lines of its output up to its end.
std::string Output(Devsim& devsim) {
  std::string text;
  while (std::optional<std::string> line = devsim.ReadLine()) text += *line + "\n";
  return text;
}

const Bytes kModbusRead = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0a};
const Bytes kModbusReply = {0x01, 0x03, 0x02, 0x00, 0x2a, 0x38, 0x5b};

// The terminal's core logs a session with a scripted device (an answer,
// output of its own, an answer in two pieces, output after); the simulator
// replays the log, and the same host sees the same bytes in the same order.
// The host talks first, so that its open cannot empty what the replay sends.
TEST(DevsimReplay, PlaysBackWhatTheTerminalLogged) {
  testing::TempDir directory;
  const std::string log = (directory / "session.log").string();
  const std::vector<HostStep> host = {
      {Text("ID?\r\n"), 7}, {{}, 6}, {kModbusRead, kModbusReply.size()}, {{}, 6}};
  Bytes seenFirst;
  {
    testing::PtyDevice device;
    Terminal terminal(device.Path());  // its open empties the line: first
    std::thread scripted([&] {
      EXPECT_EQ(device.Receive(5), Text("ID?\r\n"));
      device.Send(std::string("DEV-1\r\n"));
      device.Send(std::string("IDLE\r\n"));
      EXPECT_EQ(device.Receive(kModbusRead.size()), kModbusRead);
      device.Send(Bytes(kModbusReply.begin(), kModbusReply.begin() + 3));
      device.Send(Bytes(kModbusReply.begin() + 3, kModbusReply.end()));
      device.Send(std::string("TICK\r\n"));
    });
    LineLogger logger;
    Done started = logger.Start({log, LogFormat::kHex, true, false});
    ASSERT_TRUE(started) << started.Reason();
    seenFirst = RunHost(terminal, host, &logger);
    scripted.join();
    logger.Stop();
  }
  ASSERT_EQ(seenFirst.size(), 7u + 6 + kModbusReply.size() + 6);

  Devsim devsim({"--replay", log});
  Terminal terminal(devsim.Path());
  EXPECT_EQ(RunHost(terminal, host), seenFirst);
  EXPECT_EQ(ExitCode(devsim), 0) << devsim.ErrorText();
  std::string output = Output(devsim);
  EXPECT_NE(output.find("replay: 2 exchanges matched, 0 mismatched; 26 bytes sent, 13 bytes "
                        "received"),
            std::string::npos)
      << output;
}

// The host's frames are gathered across reads: one frame in two writes, then
// two frames in one write.
TEST(DevsimReplay, MatchesFramesSplitOrJoinedOnTheLine) {
  testing::TempDir directory;
  testing::WriteFile(directory / "r.log", Recording({{LogDirection::kSent, 0, {0xaa, 0xbb, 0xcc}},
                                                     {LogDirection::kReceived, 3, {0x01}},
                                                     {LogDirection::kSent, 10, {0xdd}},
                                                     {LogDirection::kReceived, 12, {0x02}}}));
  Devsim devsim({"--replay", (directory / "r.log").string()});
  Terminal terminal(devsim.Path());
  terminal.Send({0xaa});
  terminal.Send({0xbb, 0xcc, 0xdd});
  EXPECT_EQ(terminal.Receive(2), (Bytes{0x01, 0x02}));
  EXPECT_EQ(ExitCode(devsim), 0);
}

// Up to `count` bytes read from `fd` within the deadline; less when it ends.
std::string ReadUpTo(int fd, size_t count) {
  std::string got;
  auto deadline = std::chrono::steady_clock::now() + testing::kDeadline;
  while (fd >= 0 && got.size() < count && std::chrono::steady_clock::now() < deadline) {
    pollfd in = {fd, POLLIN, 0};
    if (poll(&in, 1, 50) <= 0) continue;
    char buffer[256];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

// A host program that opens the line and only reads, run as its own
// process with its output in a pipe: what it printed within the deadline.
// "SKIP ..." when the program is not there.
std::string RunReader(std::vector<std::string> argv, size_t count) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return "";
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    close(out[0]);
    close(out[1]);
    return "";
  }
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    execv(pointers[0], pointers.data());
    static constexpr char kMissing[] = "SKIP the program is missing";
    (void)!write(STDOUT_FILENO, kMissing, sizeof kMissing - 1);
    _exit(127);
  }
  close(out[1]);
  UniqueFd reader(out[0]);
  std::string got = ReadUpTo(reader.Get(), count);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return got;
}

std::string RawOpenReader(const std::string& path, size_t count) {
  UniqueFd line(open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  return ReadUpTo(line.Get(), count);
}

constexpr char kPyserialReader[] =
    "import serial, sys\n"
    "line = serial.Serial(sys.argv[1], int(sys.argv[2]), timeout=5)\n"
    "sys.stdout.buffer.write(line.read(4)); sys.stdout.flush()\n";

struct Reader {
  const char* name;
  std::function<std::string(const std::string& path)> read;
};

void PrintTo(const Reader& reader, std::ostream* out) {
  *out << reader.name;
}

class DevsimReplayToAReader : public ::testing::TestWithParam<Reader> {};

// A recording that starts with the device's greeting plays to a host that
// opens the line at once after the path is printed and waits for it.
TEST_P(DevsimReplayToAReader, GetsTheGreeting) {
  testing::TempDir directory;
  testing::WriteFile(directory / "r.log",
                     Recording({{LogDirection::kReceived, 0, Text("AB\r\n")}}));
  Devsim devsim({"--replay", (directory / "r.log").string(), "--speed", "0"});
  std::string got = GetParam().read(devsim.Path());
  if (got.starts_with("SKIP") || got.find("ModuleNotFoundError") != std::string::npos) {
    GTEST_SKIP() << got;
  }
  EXPECT_EQ(got, "AB\r\n");
  EXPECT_EQ(ExitCode(devsim), 0) << devsim.ErrorText();
}

INSTANTIATE_TEST_SUITE_P(
    DevsimReplay, DevsimReplayToAReader,
    ::testing::Values(
        Reader{"Cat",
               [](const std::string& path) {
                 return RunReader({"/bin/cat", path}, 4);
               }},
        Reader{"PyserialAt9600",
               [](const std::string& path) {
                 return RunReader({"/usr/bin/python3", "-c", kPyserialReader, path, "9600"}, 4);
               }},
        Reader{"PyserialAt115200",
               [](const std::string& path) {
                 return RunReader({"/usr/bin/python3", "-c", kPyserialReader, path, "115200"}, 4);
               }},
        Reader{"RawOpen", [](const std::string& path) { return RawOpenReader(path, 4); }}),
    [](const ::testing::TestParamInfo<Reader>& info) { return info.param.name; });

long VoluntarySwitches(pid_t pid) {
  std::string status = testing::ReadAll("/proc/" + std::to_string(pid) + "/status");
  size_t at = status.find("voluntary_ctxt_switches:");
  return at == std::string::npos ? -1 : std::stol(status.substr(at + 24));
}

// Waiting for the host costs the simulator no wake-ups at all.
TEST(DevsimReplay, WaitsForTheHostWithoutWakingUp) {
  testing::TempDir directory;
  testing::WriteFile(directory / "r.log", Recording({{LogDirection::kReceived, 0, Text("A")}}));
  Devsim devsim({"--replay", (directory / "r.log").string()});
  std::string path = devsim.Path();
  ASSERT_TRUE(devsim.WaitForLine("replaying once the line is opened; Ctrl+C ends"));
  long before = VoluntarySwitches(devsim.Pid());
  // A measuring interval, not a wait for anything: nothing may happen in it.
  EXPECT_EQ(devsim.ReadLine(milliseconds(300)), std::nullopt);
  EXPECT_LE(VoluntarySwitches(devsim.Pid()) - before, 1) << "wake-ups while no host is there";
  Terminal terminal(path);
  terminal.Send(Text("."));  // talking first, its open cannot empty the "A"
  EXPECT_EQ(terminal.Receive(1), Text("A"));
}

// The host closes the line between two exchanges and opens it again: the
// replay waits for it and goes on.
TEST(DevsimReplay, GoesOnWhenTheHostOpensTheLineAgain) {
  testing::TempDir directory;
  testing::WriteFile(directory / "r.log", Recording({{LogDirection::kSent, 0, Text("?")},
                                                     {LogDirection::kReceived, 1, Text("1")},
                                                     {LogDirection::kSent, 50, Text("?")},
                                                     {LogDirection::kReceived, 51, Text("2")}}));
  Devsim devsim({"--replay", (directory / "r.log").string()});
  std::string path = devsim.Path();
  for (const char* answer : {"1", "2"}) {
    Terminal terminal(path);
    terminal.Send(Text("?"));
    EXPECT_EQ(terminal.Receive(1), Text(answer));
  }
  EXPECT_EQ(ExitCode(devsim), 0) << devsim.ErrorText();
}

struct Mismatch {
  const char* name;
  std::vector<std::string> options;
  bool strict;
};

void PrintTo(const Mismatch& mismatch, std::ostream* out) {
  *out << mismatch.name;
}

class DevsimMismatch : public ::testing::TestWithParam<Mismatch> {};

// A host frame that differs is shown with its first differing byte; strict
// stops there, otherwise the recorded reply still follows and the rest plays.
TEST_P(DevsimMismatch, IsReportedAndEndsAsAsked) {
  testing::TempDir directory;
  testing::WriteFile(directory / "r.log", Recording({{LogDirection::kSent, 0, {1, 2, 3}},
                                                     {LogDirection::kReceived, 2, {6}},
                                                     {LogDirection::kSent, 5, {9}},
                                                     {LogDirection::kReceived, 6, {7}}}));
  std::vector<std::string> args = {"--replay", (directory / "r.log").string()};
  args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
  Devsim devsim(args);
  Terminal terminal(devsim.Path());
  terminal.Send({1, 2, 4});
  if (!GetParam().strict) {
    EXPECT_EQ(terminal.Receive(1), Bytes{6});
    terminal.Send({9});
    EXPECT_EQ(terminal.Receive(1), Bytes{7}) << "the next exchange plays";
  }
  EXPECT_EQ(ExitCode(devsim), 1);
  if (GetParam().strict) {
    EXPECT_EQ(terminal.Receive(1, milliseconds(200)), Bytes{}) << "no reply";
  }
  std::string output = Output(devsim);
  for (const char* text :
       {"mismatch in exchange 1 (recording line 1): first difference at offset 2",
        "  expected 01 02 03", "  received 01 02 04"}) {
    EXPECT_NE(output.find(text), std::string::npos) << text << " in\n" << output;
  }
}

INSTANTIATE_TEST_SUITE_P(DevsimReplay, DevsimMismatch,
                         ::testing::Values(Mismatch{"Strict", {"--strict"}, true},
                                           Mismatch{"GoesOn", {}, false}),
                         [](const ::testing::TestParamInfo<Mismatch>& info) {
                           return info.param.name;
                         });

// Speed 0 plays ten recorded seconds of output at once, in order; a high
// speed keeps the order too. Only the order is checked here (the timing is
// the benchmark's), but neither could end within the deadline otherwise. The
// host talks first, so that its open cannot empty what the replay sent.
TEST(DevsimReplay, SpeedScalesTheRecordedTime) {
  testing::TempDir directory;
  testing::WriteFile(directory / "r.log", Recording({{LogDirection::kSent, 0, Text("?")},
                                                     {LogDirection::kReceived, 0, Text("a")},
                                                     {LogDirection::kReceived, 4000, Text("b")},
                                                     {LogDirection::kSent, 4500, Text("?")},
                                                     {LogDirection::kReceived, 8000, Text("c")},
                                                     {LogDirection::kReceived, 10000, Text("d")}}));
  for (const char* speed : {"0", "100"}) {
    Devsim devsim({"--replay", (directory / "r.log").string(), "--speed", speed});
    Terminal terminal(devsim.Path());
    terminal.Send(Text("?"));
    EXPECT_EQ(terminal.Receive(2), Text("ab")) << speed;
    terminal.Send(Text("?"));
    EXPECT_EQ(terminal.Receive(2), Text("cd")) << speed;
    EXPECT_EQ(ExitCode(devsim), 0) << speed;
  }
}

TEST(DevsimReplay, LoopStartsOverAtTheEnd) {
  testing::TempDir directory;
  testing::WriteFile(directory / "r.log", Recording({{LogDirection::kSent, 0, Text("?")},
                                                     {LogDirection::kReceived, 1, Text("!")}}));
  Devsim devsim({"--replay", (directory / "r.log").string(), "--loop"});
  Terminal terminal(devsim.Path());
  for (int round = 0; round < 3; ++round) {
    terminal.Send(Text("?"));
    EXPECT_EQ(terminal.Receive(1), Text("!")) << round;
  }
  Terminate(devsim);
  EXPECT_EQ(ExitCode(devsim), 0);
}

// Output alone at speed 0 loops as fast as the line takes it, and no faster:
// the host that reads late still gets whole rounds in order.
TEST(DevsimReplay, LoopOfOutputAloneGoesAtTheLinesPace) {
  testing::TempDir directory;
  testing::WriteFile(directory / "r.log", Recording({{LogDirection::kReceived, 0, Text("ab")},
                                                     {LogDirection::kReceived, 9, Text("c")}}));
  Devsim devsim({"--replay", (directory / "r.log").string(), "--loop", "--speed", "0"});
  Terminal terminal(devsim.Path());
  Bytes got = terminal.Receive(3000);
  ASSERT_EQ(got.size(), 3000u);
  // A host slow to set up may empty the line after the rounds have begun, so
  // what it reads may start within a round; from there on nothing may be
  // missing or out of order.
  const std::string round = "abc";
  size_t start = round.find(static_cast<char>(got[0]));
  ASSERT_NE(start, std::string::npos) << int{got[0]};
  for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], round[(start + i) % 3]) << i;
  Terminate(devsim);
  EXPECT_EQ(ExitCode(devsim), 0);
}

struct Hostile {
  const char* name;
  std::string text;
  std::string says;  // after "quorvel-devsim: <file>"
};

void PrintTo(const Hostile& hostile, std::ostream* out) {
  *out << hostile.name;
}

class DevsimHostileRecording : public ::testing::TestWithParam<Hostile> {};

// Refused with the line and exit status 2, before there is a line at all.
TEST_P(DevsimHostileRecording, EndsWithStatusTwoBeforeAnythingIsSent) {
  testing::TempDir directory;
  testing::WriteFile(directory / "r.log", GetParam().text);
  std::string file = (directory / "r.log").string();
  Devsim devsim({"--replay", file});
  EXPECT_EQ(ExitCode(devsim), 2);
  EXPECT_NE(devsim.ErrorText().find("quorvel-devsim: " + file + GetParam().says), std::string::npos)
      << devsim.ErrorText();
  EXPECT_EQ(devsim.ReadLine(milliseconds(100)), std::nullopt) << "no line was made";
}

const std::string kGood =
    "2026-12-07T14:15:28.123 RX\n"
    "    41 42                                            AB\n";

INSTANTIATE_TEST_SUITE_P(
    DevsimReplay, DevsimHostileRecording,
    ::testing::Values(
        Hostile{"Truncated", kGood + "2026-12-07T14:15:28.200 TX\n    41 4", ":4: truncated row"},
        Hostile{"UnknownDirection", kGood + "2026-12-07T14:15:28.200 RT\n",
                ":3: unknown direction"},
        Hostile{"NonHex",
                kGood + "2026-12-07T14:15:28.200 TX\n    4x" + std::string(47, ' ') + "A\n",
                ":4: \"4x \" is not a hex byte"},
        Hostile{"TimeGoesBack", kGood + "2026-12-07T14:15:28.100 TX\n", ":3: the time goes back"},
        Hostile{"RowWithoutHeader", kGood.substr(kGood.find('\n') + 1), ":1: a row of bytes"},
        Hostile{"Empty", "", ": no bytes to replay"},
        Hostile{"Binary",
                std::string("\x7f"
                            "ELF\x02\x01\x01\0\0\0",
                            10),
                ":1: \"?ELF"}),
    [](const ::testing::TestParamInfo<Hostile>& info) { return info.param.name; });

// The simulator records from the terminal's side, so its own recording of an
// echo session replays as the same device.
TEST(DevsimRecord, WhatItRecordsReplaysTheSameWay) {
  testing::TempDir directory;
  const std::string log = (directory / "echo.log").string();
  {
    Devsim devsim({"--echo", "--record", log});
    Terminal terminal(devsim.Path());
    terminal.Send(Text("abc"));
    EXPECT_EQ(terminal.Receive(3), Text("abc"));
    terminal.Send(Text("de"));
    EXPECT_EQ(terminal.Receive(2), Text("de"));
    Terminate(devsim);
    EXPECT_EQ(ExitCode(devsim), 0);
  }
  std::vector<RecordedBurst> bursts;
  RecordingError error;
  ASSERT_TRUE(ParseRecording(testing::ReadAll(log), bursts, error)) << error.message;
  ASSERT_EQ(bursts.size(), 4u);
  EXPECT_EQ(bursts[0].direction, LogDirection::kSent) << "what the host sent is TX";
  EXPECT_EQ(bursts[1].direction, LogDirection::kReceived) << "what the device sent is RX";

  Devsim devsim({"--replay", log});
  Terminal terminal(devsim.Path());
  terminal.Send(Text("abc"));
  EXPECT_EQ(terminal.Receive(3), Text("abc"));
  terminal.Send(Text("de"));
  EXPECT_EQ(terminal.Receive(2), Text("de"));
  EXPECT_EQ(ExitCode(devsim), 0);
}

}  // namespace
}  // namespace quorvel

// A script on a live link session (scripting/session_script_link.h) against a
// pseudo-terminal device: its sends through the session's door, what it
// hears as one of the session's listeners, its line commands on a scripted
// modem (a pseudo-terminal has none), its line settings applied by the
// thread that serves the hub's calls, its notes, a port closed under it, and
// Stop reaching it inside every wait that is not its own.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "connection/link_session.h"
#include "core/clock.h"
#include "core/event_fd.h"
#include "script/script_runner.h"
#include "scripting/session_script_link.h"
#include "support/fake_modem.h"
#include "support/pty_device.h"
#include "support/recording_window.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

using testing::FakeModem;
using ModemKind = FakeModem::Kind;
using std::chrono::milliseconds;

constexpr LineParameters kLine{115200, 8, kOneStopBit, kParityNone, kFlowNone};

// What the line noted, as the session view would list it.
class NoteTaker : public LineListener {
 public:
  void Received(const uint8_t*, int) override {}
  void Sent(const uint8_t*, int) override {}
  void Noted(LineEvent event, std::string_view text) override {
    std::lock_guard guard(mutex_);
    notes_.emplace_back(event, std::string(text));
  }
  bool Has(LineEvent event, const std::string& text) const {
    std::lock_guard guard(mutex_);
    for (const auto& [seen, words] : notes_) {
      if (seen == event && words.find(text) != std::string::npos) return true;
    }
    return false;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<LineEvent, std::string>> notes_;
};

// Plays back every byte the terminal sends, until destroyed.
class EchoDevice {
 public:
  explicit EchoDevice(testing::PtyDevice& device) : device_(device), thread_([this] { Run(); }) {}
  ~EchoDevice() {
    stop_.Signal();
    thread_.join();
  }

 private:
  void Run() {
    uint8_t buffer[4096];
    for (;;) {
      pollfd watched[2] = {{device_.Master(), POLLIN, 0}, {stop_.Descriptor(), POLLIN, 0}};
      if (poll(watched, 2, -1) < 0) continue;
      if (watched[1].revents) return;
      ssize_t n = read(device_.Master(), buffer, sizeof buffer);
      if (n > 0) device_.Send(std::vector<uint8_t>(buffer, buffer + n));
    }
  }

  testing::PtyDevice& device_;
  EventFd stop_;
  std::thread thread_;
};

class ScriptOnSession : public ::testing::Test {
 protected:
  explicit ScriptOnSession(ModemControl& modem = KernelModemControl(),
                           SessionScriptLink::LineApplier apply = {})
      : session_(modem), link_(session_, std::move(apply)), runner_(link_) {
    session_.Hub().listeners.Add(notes_);
    EXPECT_TRUE(session_.Open(PortTarget::Device(device_.Path()), kLine).open);
  }
  ~ScriptOnSession() override {
    runner_.Stop();
    ServeUntilEnded();
    session_.Hub().listeners.Remove(notes_);
    session_.Shutdown();  // before the script's link goes
  }

  void Start(const std::string& code) {
    ScriptRunner::Options options;
    options.ended = [this] { session_.Hub().uiCalls.Notify(); };
    std::string problem;
    ASSERT_TRUE(runner_.StartText("session.lua", code, options, problem)) << problem;
  }

  // Serves the script's calls, as a window's event loop does, until it ends;
  // false when it still runs at the deadline.
  bool ServeUntilEnded(milliseconds timeout = milliseconds(10'000)) {
    int64_t deadline = SteadyNowMs() + timeout.count();
    while (runner_.Running()) {
      int64_t left = deadline - SteadyNowMs();
      if (left <= 0) return false;
      pollfd watched[2] = {{runner_.EventDescriptor(), POLLIN, 0},
                           {session_.Hub().uiCalls.WakeDescriptor(), POLLIN, 0}};
      poll(watched, 2, static_cast<int>(left));
      session_.Hub().uiCalls.Serve();
      TakePrinted();
    }
    // What it printed last may come after the last look above.
    TakePrinted();
    return true;
  }
  void TakePrinted() {
    for (const ScriptEvent& event : runner_.TakeEvents()) {
      if (event.kind == ScriptEvent::Kind::kPrinted) printed_ += event.text;
    }
  }

  ScriptResult Run(const std::string& code) {
    Start(code);
    EXPECT_TRUE(ServeUntilEnded());
    ScriptResult result = runner_.Wait();
    TakePrinted();
    return result;
  }

  static void ExpectPassed(const ScriptResult& result) {
    EXPECT_EQ(result.exitCode, 0) << result.error;
    for (const ScriptStep& step : result.steps) {
      EXPECT_TRUE(step.passed) << step.name << ": " << step.failure;
    }
  }

  testing::PtyDevice device_;
  LinkSession session_;
  NoteTaker notes_;
  SessionScriptLink link_;
  ScriptRunner runner_;
  std::string printed_;
};

TEST_F(ScriptOnSession, SendsGoThroughTheDoorAndRepliesReachExpect) {
  EchoDevice echo(device_);
  ScriptResult result = Run(R"lua(
    for i = 1, 100 do
      check(send("ping " .. i, {ending = "lf"}), "sent " .. i)
      if not check(expect("ping " .. i .. "\n", 5000), "echo " .. i) then break end
    end
    log("a hundred round trips")
  )lua");
  ExpectPassed(result);
  EXPECT_EQ(result.steps.size(), 200u);
  EXPECT_TRUE(notes_.Has(LineEvent::kNote, "a hundred round trips"));
  EXPECT_GE(session_.Hub().counters.Read().txCount, 100u * 6);
}

TEST_F(ScriptOnSession, APseudoTerminalHasNoModemLinesForAScript) {
  ScriptResult result = Run(R"lua(
    local ok, why = line{dtr = true}
    check(ok == nil and why:find("not available"), "line: " .. tostring(why))
    ok, why = send_break(20)
    check(ok == nil and why:find("not available"), "break: " .. tostring(why))
  )lua");
  ExpectPassed(result);
}

TEST_F(ScriptOnSession, LineSettingsAreAppliedByTheThreadThatServesTheHub) {
  ScriptResult result = Run(R"lua(
    check(set{baud = 9600, data = 7, parity = "even", stop = 2}, "set")
    local ok, why = set{baud = 0}
  )lua");
  // The second set is an argument error: out of range.
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(session_.Line().baudRate, 9600u);
  EXPECT_EQ(session_.Line().dataBits, 7);
  EXPECT_EQ(session_.Line().parity, kParityEven);
  EXPECT_EQ(session_.Line().stopBits, kTwoStopBits);
  EXPECT_EQ(session_.Line().flow, kFlowNone) << "what the script does not name stays";
  // A pseudo-terminal keeps 8 data bits and no parity whatever it is told.
  LineSnapshot line = device_.Line();
  EXPECT_EQ(line.outputSpeed, 9600u);
  EXPECT_TRUE(line.twoStopBits);
}

TEST_F(ScriptOnSession, APortClosedUnderTheScriptRefusesItsCallsAndTheScriptGoesOn) {
  Start(R"lua(
    while true do
      local ok, why = send("x")
      if not ok then print("send: " .. why) break end
      sleep(5)
    end
    local ok, why = set{baud = 9600}
    print("set: " .. tostring(why))
  )lua");
  ASSERT_TRUE(testing::RecordingWindow::WaitFor(
      [&] { return session_.Hub().counters.Read().txCount > 0; }));
  session_.Close();
  ASSERT_TRUE(ServeUntilEnded());
  ScriptResult result = runner_.Wait();
  EXPECT_EQ(result.end, ScriptEnd::kFinished) << result.error;
  EXPECT_NE(printed_.find("send: the port is not open"), std::string::npos) << printed_;
  EXPECT_NE(printed_.find("set: the port is not open"), std::string::npos) << printed_;
}

// A window whose selectors would refuse: the script hears the driver's no.
class RefusedLineSettings : public ScriptOnSession {
 protected:
  RefusedLineSettings()
      : ScriptOnSession(KernelModemControl(), [](const LineParameters&) { return false; }) {}
};

TEST_F(RefusedLineSettings, TheScriptGetsNilAndWhatTheLineKeeps) {
  ScriptResult result = Run(R"lua(
    local ok, why = set{baud = 74880}
    check(ok == nil, "refused")
    print(why)
  )lua");
  ExpectPassed(result);
  EXPECT_NE(printed_.find("the driver refused 74880,8,N,1; the line keeps 115200,8,N,1"),
            std::string::npos)
      << printed_;
}

// The lines of a device that has them, behind the scripted modem (made
// before the session that uses it).
struct ScriptedModem {
  FakeModem modem_;
};

class ScriptLines : private ScriptedModem, public ScriptOnSession {
 protected:
  ScriptLines() : ScriptOnSession(modem_) { modem_.ClearCalls(); }
  using ScriptedModem::modem_;
};

TEST_F(ScriptLines, LineCommandsReachTheModemInOrderAndABreakHoldsItsLength) {
  struct Case {
    const char* code;
    std::vector<ModemKind> calls;
    std::vector<unsigned> lines;
    milliseconds held;  // between the last two calls, at least
    const char* noted;
  } const cases[] = {
      {"line{dtr = false}", {ModemKind::kDrop}, {kLineDtr}, {}, "DTR off"},
      {"line{dtr = true, rts = false}",
       {ModemKind::kRaise, ModemKind::kDrop},
       {kLineDtr, kLineRts},
       {},
       "RTS off"},
      {"line{rts = true}", {ModemKind::kRaise}, {kLineRts}, {}, "RTS on"},
      {"send_break(60)",
       {ModemKind::kBreakOn, ModemKind::kBreakOff},
       {0, 0},
       milliseconds(60),
       "Break of 60 ms"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    modem_.ClearCalls();
    ScriptResult result = Run(std::string("check(") + c.code + ", 'carried')");
    ExpectPassed(result);
    std::vector<FakeModem::Call> calls = modem_.Calls();
    ASSERT_EQ(calls.size(), c.calls.size());
    for (size_t i = 0; i < calls.size(); ++i) {
      EXPECT_EQ(calls[i].kind, c.calls[i]);
      EXPECT_EQ(calls[i].lines, c.lines[i]);
    }
    if (calls.size() >= 2) {
      EXPECT_GE(calls.back().at - calls[calls.size() - 2].at, c.held);
    }
    EXPECT_TRUE(notes_.Has(
        c.noted[0] == 'B' ? LineEvent::kBreakSent : LineEvent::kModemLinesChanged, c.noted));
  }
}

// Stop reaches a script inside every wait of the link's: a send the line
// does not take, a long break, a transfer whose receiver never starts.
class StopInsideALinkWait : public ScriptLines,
                            public ::testing::WithParamInterface<const char*> {};

TEST_P(StopInsideALinkWait, EndsTheScriptPromptly) {
  testing::TempDir directory;
  testing::WriteFile(directory / "fw.bin", std::string(4096, 'f'));
  std::string code = GetParam();
  size_t file = code.find("FILE");
  if (file != std::string::npos) code.replace(file, 4, (directory / "fw.bin").string());
  Start(code);
  // Inside its wait: bytes went, the break began, the transfer started.
  ASSERT_TRUE(testing::RecordingWindow::WaitFor([&] {
    return session_.Hub().counters.Read().txCount > 0 || !modem_.Calls().empty() ||
           notes_.Has(LineEvent::kTransfer, "started");
  }));
  runner_.Stop();
  ASSERT_TRUE(ServeUntilEnded(milliseconds(5000)));
  ScriptResult result = runner_.Wait();
  EXPECT_EQ(result.end, ScriptEnd::kStopped);
  EXPECT_EQ(result.exitCode, 1);
}

INSTANTIATE_TEST_SUITE_P(Waits, StopInsideALinkWait,
                         ::testing::Values("send(string.rep('x', 4 << 20))", "send_break(10000)",
                                           "transfer{send = 'FILE', protocol = 'ymodem'}"));

}  // namespace
}  // namespace quorvel

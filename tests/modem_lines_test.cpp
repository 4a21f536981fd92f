// The modem lines of an open link: what is set right after open, the user's
// commands in order and with their timing, the watch of the input lines, and
// a device without modem lines (a pseudo-terminal) that keeps its link. The
// lines go through a scripted modem; the data travels over a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>

#include "connection/link_session.h"
#include "link/line_settings.h"
#include "support/fake_modem.h"
#include "support/pty_device.h"
#include "support/recording_window.h"
#include "support/state_access.h"

namespace quorvel {
namespace {

using testing::FakeModem;
using testing::RecordingWindow;
using Kind = FakeModem::Kind;
using Action = LineActions::Kind;

constexpr LineSelection kLine{0, 7, 3, 0, 0, 0};

// The Open/Close button, with the device's port chosen.
LinkStatus ToggleLink(LinkSession& link, const testing::PtyDevice& device,
                      const LineSelection& selection) {
  if (link.Wanted()) return link.Close();
  return link.Open(PortTarget::Device(device.Path()), ReadLineSelections(selection));
}

struct ExpectedCall {
  Kind kind;
  unsigned lines;
  bool operator==(const ExpectedCall&) const = default;
};

std::vector<ExpectedCall> KindsOf(const std::vector<FakeModem::Call>& calls) {
  std::vector<ExpectedCall> kinds;
  for (const FakeModem::Call& call : calls) kinds.push_back({call.kind, call.lines});
  return kinds;
}

class ModemLinesTest : public ::testing::Test {
 protected:
  explicit ModemLinesTest(bool driverWaits = true) : modem(driverWaits) {
    link.AttachTerminal(&state);
    modem.SetProbe([this] { return link.Hub().runningWorkers.load(); });
  }
  // The worker may be inside a call to the window: it ends before the window goes.
  ~ModemLinesTest() override { link.Shutdown(); }

  LinkStatus Toggle(const LineSelection& selection) { return ToggleLink(link, device, selection); }
  // The port selector moved to the same port: the open link opens it again.
  std::optional<LinkStatus> ReopenOnPortChange(const LineSelection& selection) {
    if (!link.Wanted()) return std::nullopt;
    return link.Open(PortTarget::Device(device.Path()), ReadLineSelections(selection));
  }

  bool BoardShows(unsigned mask, unsigned lines) {
    return RecordingWindow::WaitFor([&] {
      LineReport report = link.Lines().Latest();
      return report.available && (report.lines & mask) == lines;
    });
  }
  bool CallsReach(size_t count) {
    return RecordingWindow::WaitFor([&] { return modem.Calls().size() >= count; });
  }

  FakeModem modem;
  testing::PtyDevice device;
  TerminalState state;
  LinkSession link{modem};
  SerialPort& serial = link.Port();
  RecordingWindow window{state, link.Hub()};
};

TEST_F(ModemLinesTest, LinesAtOpenAreSetBeforeTheWorkerReadsOnOpenAndReopen) {
  struct {
    LinesAtOpen atOpen;
    std::vector<ExpectedCall> calls;
    bool hangUpOnClose;
  } const cases[] = {
      {{true, true}, {{Kind::kRaise, kLineDtr | kLineRts}}, true},
      {{false, false}, {{Kind::kDrop, kLineDtr | kLineRts}}, false},
      {{false, true}, {{Kind::kDrop, kLineDtr}, {Kind::kRaise, kLineRts}}, false},
      {{true, false}, {{Kind::kDrop, kLineRts}, {Kind::kRaise, kLineDtr}}, false},
  };
  for (const auto& want : cases) {
    serial.SetLinesAtOpen(want.atOpen);
    modem.ClearCalls();
    ASSERT_TRUE(Toggle(kLine).open);
    ASSERT_TRUE(ReopenOnPortChange(kLine)->open);
    std::vector<FakeModem::Call> calls = modem.Calls();
    std::vector<ExpectedCall> twice = want.calls;
    twice.insert(twice.end(), want.calls.begin(), want.calls.end());
    EXPECT_EQ(KindsOf(calls), twice) << "DTR " << want.atOpen.dtrActive;
    for (const FakeModem::Call& call : calls) EXPECT_EQ(call.probe, 0) << "no worker reads yet";
    EXPECT_EQ(device.Line().hangUpOnClose, want.hangUpOnClose);
    EXPECT_TRUE(BoardShows(kOutputLines, (want.atOpen.dtrActive ? kLineDtr : 0u) |
                                             (want.atOpen.rtsActive ? kLineRts : 0u)));
    ASSERT_FALSE(Toggle(kLine).open);
  }
}

TEST_F(ModemLinesTest, CommandsReachTheLinesInOrderAndAPulseHoldsItsLevel) {
  ASSERT_TRUE(Toggle(kLine).open);
  modem.ClearCalls();
  link.Request(Action::kDrop, kLineDtr);
  link.Request(Action::kPulse, kLineRts);  // active: dropped, then raised
  link.Request(Action::kPulse, kLineDtr);  // inactive: raised, then dropped
  link.Request(Action::kBreak);
  link.Request(Action::kRaise, kLineDtr);
  ASSERT_TRUE(CallsReach(7));
  std::vector<FakeModem::Call> calls = modem.Calls();
  EXPECT_EQ(KindsOf(calls), (std::vector<ExpectedCall>{{Kind::kDrop, kLineDtr},
                                                       {Kind::kDrop, kLineRts},
                                                       {Kind::kRaise, kLineRts},
                                                       {Kind::kRaise, kLineDtr},
                                                       {Kind::kDrop, kLineDtr},
                                                       {Kind::kBreak, 0},
                                                       {Kind::kRaise, kLineDtr}}));
  for (size_t first : {1u, 3u}) {
    EXPECT_GE(calls[first + 1].at - calls[first].at, LineActions::kPulseLength) << first;
  }
  EXPECT_TRUE(BoardShows(kOutputLines, kLineDtr | kLineRts));
}

TEST_F(ModemLinesTest, ClosingDuringAPulseRestoresTheLineAndDropsLaterCommands) {
  ASSERT_TRUE(Toggle(kLine).open);
  modem.ClearCalls();
  link.Request(Action::kPulse, kLineDtr);
  link.Request(Action::kBreak);
  ASSERT_TRUE(CallsReach(1));
  ASSERT_FALSE(Toggle(kLine).open);
  EXPECT_EQ(KindsOf(modem.Calls()),
            (std::vector<ExpectedCall>{{Kind::kDrop, kLineDtr}, {Kind::kRaise, kLineDtr}}));
  link.Request(Action::kBreak);  // closed: ignored
  EXPECT_EQ(modem.Calls().size(), 2u);
  EXPECT_FALSE(link.Lines().Latest().available);
}

class ModemWatchTest : public ModemLinesTest, public ::testing::WithParamInterface<bool> {
 protected:
  ModemWatchTest() : ModemLinesTest(GetParam()) {}
};

TEST_P(ModemWatchTest, InputLinesFollowTheDeviceUntilItStopsAnswering) {
  ASSERT_TRUE(Toggle(kLine).open);
  for (unsigned inputs : {kLineCts, kLineCts | kLineDsr, kLineDcd | kLineRi, 0u, kInputLines}) {
    // The driver's wait sees changes from when it began, like the kernel's.
    if (GetParam()) {
      ASSERT_TRUE(RecordingWindow::WaitFor([&] { return modem.Waiting(); }));
    }
    modem.SetInputs(inputs);
    EXPECT_TRUE(BoardShows(kInputLines, inputs)) << "inputs " << inputs;
  }
  modem.SetAvailable(false);
  EXPECT_TRUE(RecordingWindow::WaitFor([&] { return !link.Watcher().Watching(); }));
  EXPECT_FALSE(link.Lines().Latest().available);
  EXPECT_TRUE(serial.IsOpen()) << "the link is the supervisor's to close";
  int looks = modem.Looks();
  modem.SetInputs(kLineCts);
  EXPECT_EQ(modem.Looks(), looks) << "no looks after the driver stopped answering";
}

TEST_P(ModemWatchTest, ClosingEndsTheWatchWhereverItIs) {
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(Toggle(kLine).open);
    if (GetParam() && round % 2 == 0) {
      ASSERT_TRUE(RecordingWindow::WaitFor([&] { return modem.Waiting(); }));
    }
    ASSERT_FALSE(Toggle(kLine).open);
    EXPECT_FALSE(link.Watcher().Watching());
  }
}

INSTANTIATE_TEST_SUITE_P(DriverWaitsOrIsLookedAt, ModemWatchTest, ::testing::Bool());

TEST(ModemOnPseudoTerminalTest, NoModemLinesKeepTheLinkOpenWithoutAMessageOrAWatch) {
  testing::PtyDevice device;
  TerminalState state;
  LinkSession link;  // the kernel's calls, which a pseudo-terminal refuses
  link.Port().SetLinesAtOpen({false, false});
  link.AttachTerminal(&state);
  RecordingWindow window{state, link.Hub()};
  ASSERT_TRUE(ToggleLink(link, device, kLine).open);
  EXPECT_FALSE(link.Lines().Latest().available);
  EXPECT_FALSE(link.Watcher().Watching());
  EXPECT_FALSE(device.Line().hangUpOnClose);
  link.Request(Action::kPulse, kLineDtr);
  link.Request(Action::kBreak);
  device.Send("ok");
  EXPECT_TRUE(testing::WaitForRx(link.Hub().counters, 2));
  EXPECT_TRUE(link.Port().IsOpen());
  EXPECT_TRUE(window.Messages().empty());
  link.Shutdown();
}

}  // namespace
}  // namespace quorvel

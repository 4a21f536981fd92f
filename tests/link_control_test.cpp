// The selector lists and the link operations driven by positions alone, as
// the window turns them into a target and line parameters, on
// pseudo-terminals: what reaches the line, opening and closing with one
// worker at a time, and moving the link to another port.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "connection/link_session.h"
#include "link/line_settings.h"
#include "link/port_names.h"
#include "support/pty_device.h"
#include "support/recording_window.h"
#include "support/state_access.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::RecordingWindow;
using testing::WindowEvent;

// The defaults of the settings file: COM1, 7200 baud, 8 data bits, 1 stop
// bit, even parity, no flow control.
constexpr LineSelection kDefaults{0, 6, 3, 0, 2, 0};

// What the window does with its selectors: the port position names a COM
// number, whose target the link opens with the selected line; a number that
// leads nowhere is refused as a failed open.
LinkStatus OpenSelected(LinkSession& link, const PortNames& names, const LineSelection& selection) {
  int number = selection.portPos + 1;
  if (std::optional<PortTarget> target = names.Target(number)) {
    return link.Open(*target, ReadLineSelections(selection));
  }
  return link.Refuse(names.WhyNoTarget(number));
}

// The Open/Close button.
LinkStatus ToggleLink(LinkSession& link, const PortNames& names, const LineSelection& selection) {
  return link.Wanted() ? link.Close() : OpenSelected(link, names, selection);
}

TEST(LineListsTest, EntriesAreThoseOfTheSelectorsInTheirOrder) {
  std::vector<std::string> ports = PortEntries();
  ASSERT_EQ(ports.size(), 255u);
  EXPECT_EQ(ports.front(), "COM1");
  EXPECT_EQ(ports[9], "COM10");
  EXPECT_EQ(ports.back(), "COM255");
  EXPECT_EQ(BaudEntries(),
            (std::vector<std::string>{
                "110",     "300",     "600",     "1200",    "2400",   "4800",   "7200",
                "9600",    "14400",   "19200",   "28800",   "38400",  "56000",  "57600",
                "76800",   "115200",  "230400",  "460800",  "500000", "576000", "921600",
                "1000000", "1500000", "2000000", "3000000", "4000000"}));
  EXPECT_EQ(std::vector<std::string>(std::begin(kDataBitsEntries), std::end(kDataBitsEntries)),
            (std::vector<std::string>{"5", "6", "7", "8"}));
  EXPECT_EQ(std::vector<std::string>(std::begin(kStopBitsEntries), std::end(kStopBitsEntries)),
            (std::vector<std::string>{"1", "1.5", "2"}));
  EXPECT_EQ(std::vector<std::string>(std::begin(kParityEntries), std::end(kParityEntries)),
            (std::vector<std::string>{"None", "Odd", "Even", "Mark", "Space"}));
  EXPECT_EQ(std::vector<std::string>(std::begin(kFlowEntries), std::end(kFlowEntries)),
            (std::vector<std::string>{"None", "Software", "HardWare"}));
}

TEST(LineListsTest, PositionsBecomeLineParameters) {
  LineParameters line = ReadLineSelections(kDefaults);
  EXPECT_EQ(line.baudRate, 7200u);
  EXPECT_EQ(line.dataBits, 8);
  EXPECT_EQ(line.stopBits, kOneStopBit);
  EXPECT_EQ(line.parity, kParityEven);

  line = ReadLineSelections({-1, 7, 0, 1, 4, 2});
  EXPECT_EQ(line.baudRate, 9600u);
  EXPECT_EQ(line.dataBits, 5);
  EXPECT_EQ(line.stopBits, kOneAndHalfStopBits);
  EXPECT_EQ(line.parity, kParitySpace);

  for (int pos = 0; pos < 26; ++pos) {
    EXPECT_EQ(ReadLineSelections({0, pos, 0, 0, 0, 0}).baudRate, kBaudRates[pos]);
  }
}

TEST(LineListsTest, ATypedRateWinsOverThePosition) {
  EXPECT_EQ(ReadLineSelections({0, 7, 3, 0, 0, 0, 250000}).baudRate, 250000u);
  EXPECT_EQ(ReadLineSelections({0, -1, 3, 0, 0, 0, 74880}).baudRate, 74880u);
  EXPECT_EQ(ReadLineSelections({0, 7, 3, 0, 0, 0, 0}).baudRate, 9600u);
}

TEST(LineListsTest, TypedRatesArePositiveWholeNumbersThatTermios2Holds) {
  EXPECT_EQ(ParseBaudRate("250000"), 250000u);
  EXPECT_EQ(ParseBaudRate(" 74880 "), 74880u);
  EXPECT_EQ(ParseBaudRate("1"), 1u);
  EXPECT_EQ(ParseBaudRate("4294967295"), 4294967295u);
  EXPECT_EQ(ParseBaudRate("000000000000000000009600"), 9600u);
  for (const char* bad : {"", " ", "0", "00", "-1", "+9600", "9600.5", "9 600", "0x100",
                          "4294967296", "99999999999999999999999", "fast", "1e6"}) {
    EXPECT_FALSE(ParseBaudRate(bad).has_value()) << bad;
  }
  EXPECT_EQ(BaudPosition(110), 0);
  EXPECT_EQ(BaudPosition(115200), 15);
  EXPECT_EQ(BaudPosition(230400), 16);
  EXPECT_EQ(BaudPosition(4000000), 25);
  EXPECT_EQ(BaudPosition(250000), -1);
}

TEST(LineListsTest, PositionsOutsideTheirListGiveNoValue) {
  for (LineSelection selection :
       {LineSelection{0, -1, -1, -1, -1, -1}, LineSelection{0, 26, 4, 3, 5, 3},
        LineSelection{0, 1000000, -7, INT32_MAX, INT32_MIN, 0}}) {
    LineParameters line = ReadLineSelections(selection);
    EXPECT_FALSE(line.baudRate.has_value());
    EXPECT_FALSE(line.dataBits.has_value());
    EXPECT_FALSE(line.stopBits.has_value());
    EXPECT_FALSE(line.parity.has_value());
    EXPECT_EQ(line.flow.has_value(), selection.flowPos >= 0 && selection.flowPos < 3);
  }
}

class LinkTest : public ::testing::Test {
 protected:
  LinkTest() {
    names.Set(1, device.Path());
    link.AttachTerminal(&state);
  }
  // The worker may be inside a call to the window: it ends before the window goes.
  ~LinkTest() override { link.Shutdown(); }

  LinkStatus Toggle(const LineSelection& selection) { return ToggleLink(link, names, selection); }
  // The port selector moved: an open or waiting link follows it.
  std::optional<LinkStatus> ReopenOnPortChange(const LineSelection& selection) {
    if (!link.Wanted()) return std::nullopt;
    return OpenSelected(link, names, selection);
  }
  bool Apply(const LineSelection& selection) {
    return link.ApplyLineSettings(ReadLineSelections(selection));
  }
  CounterValues Counters() const { return link.Hub().counters.Read(); }

  template <typename F>
  auto Locked(F read) {
    return testing::Locked(state, read);
  }

  Bytes Log() { return testing::LogOf(state); }

  bool WaitForRx(uint32_t count) { return testing::WaitForRx(link.Hub().counters, count); }

  testing::PtyDevice device;
  PortNames names;
  TerminalState state;
  LinkSession link;
  SerialPort& serial = link.Port();
  RecordingWindow window{state, link.Hub()};
};

TEST_F(LinkTest, DefaultsOpenCom1At7200Baud8DataBits1StopBitEvenParity) {
  LinkStatus status = Toggle(kDefaults);
  EXPECT_TRUE(status.open) << "the button says \"Close com\"";
  EXPECT_FALSE(status.waiting);
  EXPECT_TRUE(serial.IsOpen());
  EXPECT_TRUE(link.WorkerRunning());
  LineSnapshot line = device.Line();
  EXPECT_EQ(line.outputSpeed, 7200u);
  EXPECT_EQ(line.inputSpeed, 7200u);
  EXPECT_FALSE(line.twoStopBits);
  EXPECT_FALSE(line.parityOdd);
  EXPECT_FALSE(line.parityMarkSpace);
  EXPECT_TRUE(line.inputParityCheck) << "even parity is checked";
  // 8 data bits and PARENB cannot be read back from a pseudo-terminal; what
  // was set is the encoding of these parameters, checked with the port.
  LineParameters parameters = ReadLineSelections(kDefaults);
  LineSnapshot encoded = DescribeLine(EncodeLineParameters({}, parameters));
  EXPECT_EQ(encoded.dataBits, 8);
  EXPECT_TRUE(encoded.parityEnabled);
  EXPECT_TRUE(window.Messages().empty());
}

TEST_F(LinkTest, BaudPositionsSevenAndSixApply9600And7200) {
  ASSERT_TRUE(Toggle({0, 7, 3, 0, 0, 0}).open);
  EXPECT_EQ(device.Line().outputSpeed, 9600u);
  Apply({0, 6, 3, 0, 0, 0});
  EXPECT_EQ(device.Line().outputSpeed, 7200u);
  EXPECT_EQ(device.Line().inputSpeed, 7200u);
}

TEST_F(LinkTest, EveryParityPositionReachesTheOpenLineAtOnce) {
  ASSERT_TRUE(Toggle({0, 7, 3, 0, 0, 0}).open);
  struct {
    int pos;
    bool odd, markSpace, checked;
  } const cases[] = {{1, true, false, true},
                     {2, false, false, true},
                     {3, true, true, true},
                     {4, false, true, true},
                     {0, false, false, false}};
  for (const auto& want : cases) {
    Apply({0, 7, 3, 0, want.pos, 0});
    LineSnapshot line = device.Line();
    EXPECT_EQ(line.parityOdd, want.odd) << "position " << want.pos;
    EXPECT_EQ(line.parityMarkSpace, want.markSpace) << "position " << want.pos;
    EXPECT_EQ(line.inputParityCheck, want.checked) << "position " << want.pos;
  }
}

TEST_F(LinkTest, StopBitsPositionsReachTheOpenLine) {
  ASSERT_TRUE(Toggle({0, 7, 3, 0, 0, 0}).open);
  Apply({0, 7, 3, 2, 0, 0});
  EXPECT_TRUE(device.Line().twoStopBits);
  Apply({0, 7, 3, 0, 0, 0});
  EXPECT_FALSE(device.Line().twoStopBits);
}

TEST_F(LinkTest, FlowControlReachesTheLineOnOpenOnChangeAndOnReopen) {
  struct {
    int flow;
    bool software, hardware;
  } const cases[] = {{2, false, true}, {1, true, false}, {0, false, false}};
  auto expectFlow = [&](const auto& want, const char* when) {
    LineSnapshot line = device.Line();
    EXPECT_EQ(line.softwareFlow, want.software) << when << " flow " << want.flow;
    EXPECT_EQ(line.hardwareFlow, want.hardware) << when << " flow " << want.flow;
    if (want.software) {
      EXPECT_EQ(line.startChar, 0x11);
      EXPECT_EQ(line.stopChar, 0x13);
    }
  };
  for (const auto& want : cases) {
    ASSERT_TRUE(Toggle({0, 7, 3, 0, 0, want.flow}).open);
    expectFlow(want, "open");
    ASSERT_TRUE(ReopenOnPortChange({0, 7, 3, 0, 0, want.flow})->open);
    expectFlow(want, "reopen");
    ASSERT_FALSE(Toggle({}).open);
  }
  ASSERT_TRUE(Toggle({0, 7, 3, 0, 0, 0}).open);
  for (const auto& want : cases) {
    Apply({0, 7, 3, 0, 0, want.flow});
    expectFlow(want, "change");
  }
  // A position outside the list leaves the flow control as it is.
  Apply({0, 7, 3, 0, 0, 3});
  expectFlow(cases[2], "out of list");
}

TEST_F(LinkTest, PositionsOutsideTheirListsLeaveTheLineAsTheDeviceHasIt) {
  ASSERT_TRUE(Toggle({0, 13, 3, 2, 1, 0}).open);
  LineSnapshot before = device.Line();
  EXPECT_EQ(before.outputSpeed, 57600u);
  Apply({0, -1, -1, -1, -1, -1});
  EXPECT_EQ(device.Line(), before);
  Apply({0, 26, 4, 3, 5, 3});
  EXPECT_EQ(device.Line(), before);

  // Opening with nothing selected but the port keeps the device's own line.
  ASSERT_FALSE(Toggle({0, -1, -1, -1, -1, -1}).open);
  ASSERT_TRUE(Toggle({0, -1, -1, -1, -1, -1}).open);
  EXPECT_EQ(device.Line(), before);
}

TEST_F(LinkTest, ApplyLineSettingsOnAClosedLinkDoesNothing) {
  ASSERT_TRUE(Toggle({0, 7, 3, 0, 0, 0}).open);
  ASSERT_FALSE(Toggle({0, 7, 3, 0, 0, 0}).open);
  Apply({0, 15, 3, 2, 3, 0});
  EXPECT_EQ(device.Line().outputSpeed, 9600u);
  EXPECT_FALSE(serial.IsOpen());
  EXPECT_TRUE(window.Messages().empty());
}

TEST_F(LinkTest, ToggleClosesAndReportsTheOpenCaption) {
  ASSERT_TRUE(Toggle(kDefaults).open);
  LinkStatus status = Toggle(kDefaults);
  EXPECT_FALSE(status.open) << "the button says \"Open com\"";
  EXPECT_EQ(status, LinkStatus{});
  EXPECT_FALSE(serial.IsOpen());
  EXPECT_FALSE(link.WorkerRunning());
  EXPECT_EQ(link.Hub().runningWorkers.load(), 0);
}

TEST_F(LinkTest, FailedOpenReportsClosedAndStartsNoWorker) {
  for (LineSelection selection : {LineSelection{-1, 7, 3, 0, 0, 0},    // nothing selected: COM0
                                  LineSelection{4, 7, 3, 0, 0, 0}}) {  // COM5, no such device
    window.Clear();
    names.Set(5, "/dev/quorvel-no-such-device");
    LinkStatus status = Toggle(selection);
    EXPECT_FALSE(status.open);
    EXPECT_FALSE(serial.IsOpen());
    EXPECT_FALSE(link.WorkerRunning());
    EXPECT_EQ(link.Hub().runningWorkers.load(), 0);
    EXPECT_EQ(window.Messages(), std::vector<std::string>{"Open com fail!"});
  }
}

TEST_F(LinkTest, PortChangeWhileClosedOpensNothing) {
  testing::PtyDevice other;
  names.Set(2, other.Path());
  EXPECT_FALSE(ReopenOnPortChange({1, 7, 3, 0, 0, 0}).has_value());
  EXPECT_FALSE(serial.IsOpen());
  EXPECT_FALSE(link.WorkerRunning());
  EXPECT_TRUE(window.Events().empty());
  EXPECT_TRUE(window.Messages().empty());
  // The new choice is used at the next open.
  ASSERT_TRUE(Toggle({1, 7, 3, 0, 0, 0}).open);
  other.Send("x");
  ASSERT_TRUE(WaitForRx(1));
}

TEST_F(LinkTest, PortChangeWhileOpenMovesTheLinkAndItsWorker) {
  testing::PtyDevice other;
  names.Set(2, other.Path());
  ASSERT_TRUE(Toggle({0, 7, 3, 0, 0, 0}).open);
  device.Send("A1");
  ASSERT_TRUE(WaitForRx(2));

  std::optional<LinkStatus> status = ReopenOnPortChange({1, 13, 3, 0, 1, 0});
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(status->open);
  EXPECT_EQ(link.Path(), other.Path());
  EXPECT_EQ(other.Line().outputSpeed, 57600u) << "the new port has the selected line";
  EXPECT_TRUE(other.Line().parityOdd);

  device.Send("A2");  // the old port is closed: never read
  other.Send("B1");
  ASSERT_TRUE(WaitForRx(4));
  other.Send("B2");
  ASSERT_TRUE(WaitForRx(6));
  EXPECT_EQ(Log(), (Bytes{'A', '1', 'B', '1', 'B', '2'}));
  EXPECT_FALSE(link.Hub().workersOverlapped.load())
      << "the old worker ended before the new one read";
  EXPECT_EQ(link.Hub().runningWorkers.load(), 1);

  // The old device is free again: the link moves back to it.
  status = ReopenOnPortChange({0, 7, 3, 0, 0, 0});
  ASSERT_TRUE(status.has_value() && status->open);
  device.Send("A3");
  ASSERT_TRUE(WaitForRx(8));
  EXPECT_EQ(Log(), (Bytes{'A', '1', 'B', '1', 'B', '2', 'A', '3'}));
}

TEST_F(LinkTest, PortChangeToAPortThatFailsLeavesTheLinkClosed) {
  ASSERT_TRUE(Toggle({0, 7, 3, 0, 0, 0}).open);
  names.Set(9, "/dev/quorvel-no-such-device");
  std::optional<LinkStatus> status = ReopenOnPortChange({8, 7, 3, 0, 0, 0});
  ASSERT_TRUE(status.has_value());
  EXPECT_FALSE(status->open);
  EXPECT_FALSE(serial.IsOpen());
  EXPECT_FALSE(link.WorkerRunning());
  EXPECT_EQ(window.Messages(), std::vector<std::string>{"Open com fail!"});
}

TEST_F(LinkTest, ShutdownStopsTheWorkerAndClosesThePortAndIsHarmlessTwice) {
  ASSERT_TRUE(Toggle(kDefaults).open);
  link.Shutdown();
  EXPECT_FALSE(serial.IsOpen());
  EXPECT_FALSE(link.WorkerRunning());
  EXPECT_EQ(link.Hub().runningWorkers.load(), 0);
  link.Shutdown();
  EXPECT_FALSE(serial.IsOpen());
  ASSERT_TRUE(Toggle(kDefaults).open) << "the device was released";
}

TEST_F(LinkTest, ClosingCutsShortAnEchoStuckOnADeviceThatNeverReads) {
  ASSERT_TRUE(Toggle(kDefaults).open);
  // Fill the line towards the device, which never reads, then give writes a
  // bound far longer than the test may take.
  serial.SetWriteTimeouts(0, 100);
  Bytes filler(100000, 0x55);
  serial.Write(filler.data(), static_cast<int>(filler.size()));
  serial.SetWriteTimeouts(1000, 60000);
  {
    std::lock_guard guard(state.lock);
    state.echoFrame = true;
    state.frameEndByte = 0x0D;
  }
  state.FrameRulesChanged();
  device.Send(Bytes{0x01, 0x0D});
  ASSERT_TRUE(RecordingWindow::WaitFor([&] { return Counters().sendCount == 1; }))
      << "the echo has started to write";

  auto start = std::chrono::steady_clock::now();
  LinkStatus status = Toggle(kDefaults);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30))
      << "the stop does not wait out the write's bound";
  EXPECT_FALSE(status.open);
  EXPECT_FALSE(link.WorkerRunning());
  EXPECT_EQ(Counters().txCount, 2u) << "the cut transmission still counts";
  EXPECT_TRUE(window.Messages().empty());
}

TEST_F(LinkTest, WithoutAWindowTheLinkStillRunsAndCounts) {
  state.AttachWindow(nullptr);
  ASSERT_TRUE(Toggle(kDefaults).open);
  device.Send("abc");
  ASSERT_TRUE(WaitForRx(3));
  EXPECT_EQ(Log(), (Bytes{'a', 'b', 'c'}));
  EXPECT_FALSE(Toggle(kDefaults).open);
  EXPECT_TRUE(window.Events().empty());
  state.AttachWindow(&window);
}

// Quick toggles while the device keeps talking and the worker keeps waiting
// for the UI thread: never two workers, never a deadlock, no byte twice.
TEST(LinkToggleTest, ManyQuickTogglesLeaveAtMostOneWorker) {
  testing::PtyDevice device;
  PortNames names;
  names.Set(1, device.Path());
  TerminalState state;
  LinkSession link;
  link.AttachTerminal(&state);
  testing::UiThreadWindow window(state, link.Hub());
  {
    std::lock_guard guard(state.lock);
    state.echoFrame = true;  // the worker writes too
    state.frameEndByte = 0x0D;
  }

  std::atomic<bool> talking{true};
  std::thread source([&] {
    uint8_t next = 0;
    while (talking.load()) {
      Bytes burst(64);
      for (uint8_t& byte : burst) byte = next++;
      burst.back() = 0x0D;
      // Never blocks: while the link is closed nobody empties the line.
      pollfd out = {device.Master(), POLLOUT, 0};
      if (poll(&out, 1, 1) == 1) {
        [[maybe_unused]] ssize_t written = ::write(device.Master(), burst.data(), burst.size());
      }
      device.Drain(std::chrono::milliseconds(0));
    }
  });

  bool open = false;
  for (int toggle = 0; toggle < 100; ++toggle) {
    LinkStatus status = ToggleLink(link, names, kDefaults);
    open = !open;
    if (status.open != open) {
      ADD_FAILURE() << "toggle " << toggle << " left the link " << status.open;
      break;
    }
    EXPECT_EQ(link.WorkerRunning(), open);
    EXPECT_LE(link.Hub().runningWorkers.load(), 1);
    // Now and then close while the worker waits for the UI thread, and now
    // and then let its refreshes through, as an idle window would.
    if (open && toggle % 4 == 0) {
      EXPECT_TRUE(window.WaitForPendingCall());
    }
    if (toggle % 3 == 0) link.Hub().uiCalls.Serve();
  }
  talking.store(false);
  source.join();
  link.Shutdown();
  EXPECT_FALSE(link.Hub().workersOverlapped.load());
  EXPECT_EQ(link.Hub().runningWorkers.load(), 0);
  EXPECT_GE(window.Count(WindowEvent::kRefreshPublish), 25u) << "the worker did flush bursts";
  std::lock_guard guard(state.lock);
  EXPECT_LE(state.rxLength, TerminalState::kLogCapacity - 1);
  EXPECT_EQ(state.rxBuffer[state.rxLength], 0);
}

}  // namespace
}  // namespace quorvel

// SerialPort on pseudo-terminals: what reaches the line (read back from the
// master's termios2), raw bytes both ways, exclusive and safe opening, and
// the bounded write that never throws received bytes away.
// The kernel's termios2, not <termios.h>: the test sets a line directly.
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <numeric>
#include <thread>

#include "engine/transmit.h"
#include "link/line_settings.h"
#include "link/port_names.h"
#include "link/serial_port.h"
#include "link/termios2_line.h"
#include "support/line_rig.h"
#include "support/pty_device.h"
#include "support/recording_window.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::RecordingWindow;
using namespace std::chrono_literals;

const LineParameters k9600_8N1 = {9600, 8, kOneStopBit, kParityNone};

// Opens COM `number` as the window does: where the names lead, or the
// failure of a number that leads nowhere.
OpenOutcome OpenNumber(SerialPort& port, const PortNames& names, int number,
                       const LineParameters& line) {
  if (std::optional<PortTarget> target = names.Target(number)) return port.Open(*target, line);
  PortFailure why = names.WhyNoTarget(number);
  return OpenOutcome::Failed(why.step, why.error, why.detail);
}

// A port with its own recording window, mapped as COM1 to a device.
class PortTest : public ::testing::Test {
 protected:
  PortTest() { names.Set(1, device.Path()); }

  OpenOutcome Open(const LineParameters& line = k9600_8N1) {
    return OpenNumber(serial, names, 1, line);
  }

  // Reads what the port has until `count` bytes arrived or the deadline passed.
  Bytes ReadFromPort(size_t count) {
    Bytes got;
    RecordingWindow::WaitFor([&] {
      uint8_t buffer[4096];
      int n = serial.Read(buffer, sizeof buffer);
      got.insert(got.end(), buffer, buffer + n);
      return got.size() >= count;
    });
    return got;
  }

  testing::PtyDevice device;
  PortNames names;
  testing::LineRig rig;
  SerialPort& serial = rig.port;
  TerminalState& state = rig.state;
  RecordingWindow window{rig.state, rig.hub};
};

class BaudRateTest : public PortTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(BaudRateTest, RateReachesTheLineAsInputAndOutputSpeed) {
  uint32_t rate = GetParam();
  ASSERT_TRUE(Open({rate, 8, kOneStopBit, kParityNone}));
  LineSnapshot line = device.Line();
  EXPECT_EQ(line.outputSpeed, rate);
  EXPECT_EQ(line.inputSpeed, rate);

  // Changed while open, from the other end of the list.
  uint32_t other = rate == 115200 ? 110 : 115200;
  serial.SetConfig({other, {}, {}, {}});
  line = device.Line();
  EXPECT_EQ(line.outputSpeed, other);
  EXPECT_EQ(line.inputSpeed, other);
}

INSTANTIATE_TEST_SUITE_P(EveryListedRate, BaudRateTest, ::testing::ValuesIn(kBaudRates),
                         [](const auto& info) { return std::to_string(info.param); });
// Rates no list has, typed by the user: ESP8266 boot messages, DMX, odd clocks.
INSTANTIATE_TEST_SUITE_P(TypedRates, BaudRateTest,
                         ::testing::Values(74880u, 250000u, 1u, 31250u, 3686400u, 12000000u,
                                           4294967295u),
                         [](const auto& info) { return std::to_string(info.param); });

TEST_F(PortTest, SetConfigSaysTheDriverTookTheRateAndWhatItHasNow) {
  ASSERT_TRUE(Open());
  ConfigOutcome outcome = serial.SetConfig({250000, {}, {}, {}});
  EXPECT_TRUE(outcome.applied);
  EXPECT_EQ(outcome.rate, 250000u);  // a pseudo-terminal rounds nothing
  EXPECT_EQ(serial.RateInForce(), 250000u);
  serial.Close();
  EXPECT_FALSE(serial.SetConfig({9600, {}, {}, {}}).applied);
  EXPECT_EQ(serial.RateInForce(), 0u);
}

TEST_F(PortTest, StaleInputSpeedBitsDoNotOutliveANewRate) {
  // Another program left an input speed in CIBAUD; the kernel would take it
  // over the rate we set unless those bits are cleared.
  int other = ::open(device.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  termios2 tio{};
  ASSERT_EQ(ioctl(other, TCGETS2, &tio), 0);
  tio.c_cflag = (tio.c_cflag & ~CIBAUD) | (B50 << IBSHIFT);
  ASSERT_EQ(ioctl(other, TCSETS2, &tio), 0);
  ::close(other);
  ASSERT_EQ(device.Line().inputSpeed, 50u);

  ASSERT_TRUE(Open({14400, 8, kOneStopBit, kParityNone}));
  EXPECT_EQ(device.Line().inputSpeed, 14400u);
  EXPECT_EQ(device.Line().outputSpeed, 14400u);
}

struct StopCase {
  int code;
  bool twoStopBits;  // CSTOPB: 1.5 stop bits with 5 data bits, else 2
};

class StopBitsTest : public PortTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopBitsTest, StopCodeReachesTheLine) {
  // From the opposite setting, so the flag must really change.
  ASSERT_TRUE(Open({9600, 5, GetParam().twoStopBits ? kOneStopBit : kTwoStopBits, kParityNone}));
  serial.SetConfig({{}, {}, GetParam().code, {}});
  EXPECT_EQ(device.Line().twoStopBits, GetParam().twoStopBits);
}

INSTANTIATE_TEST_SUITE_P(Codes, StopBitsTest,
                         ::testing::Values(StopCase{kOneStopBit, false},
                                           StopCase{kOneAndHalfStopBits, true},
                                           StopCase{kTwoStopBits, true}));

struct ParityCase {
  const char* name;
  int code;
  bool enabled, odd, markSpace;
};

const ParityCase kParityCases[] = {
    {"None", kParityNone, false, false, false}, {"Odd", kParityOdd, true, true, false},
    {"Even", kParityEven, true, false, false},  {"Mark", kParityMark, true, true, true},
    {"Space", kParitySpace, true, false, true},
};

class ParityTest : public PortTest, public ::testing::WithParamInterface<ParityCase> {};

// A pseudo-terminal's driver forces 8 data bits and clears PARENB whenever
// its line changes, so those two are checked on the encoding below; the rest
// of the parity reaches the pseudo-terminal as it would a UART.
TEST_P(ParityTest, ParityAndItsCheckingReachTheLine) {
  const ParityCase& want = GetParam();
  for (int from : {kParityNone, kParityMark}) {  // every flag set and cleared
    ASSERT_TRUE(Open({9600, 7, kOneStopBit, from}));
    serial.SetConfig({{}, {}, {}, want.code});
    LineSnapshot line = device.Line();
    EXPECT_EQ(line.parityOdd, want.odd) << "from " << from;
    EXPECT_EQ(line.parityMarkSpace, want.markSpace) << "from " << from;
    EXPECT_EQ(line.inputParityCheck, want.code != kParityNone) << "from " << from;
    EXPECT_EQ(line.outputSpeed, 9600u) << "other fields stay";
    serial.Close();
  }
}

INSTANTIATE_TEST_SUITE_P(Codes, ParityTest, ::testing::ValuesIn(kParityCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Every combination of the lists, encoded onto a line with every bit clear
// and onto one with every bit set.
class LineEncodingTest : public ::testing::TestWithParam<ParityCase> {};

TEST_P(LineEncodingTest, ParametersBecomeTheirFlagsAndNothingElseChanges) {
  const ParityCase& parity = GetParam();
  for (uint32_t rate : kBaudRates) {
    for (int dataBits = 5; dataBits <= 8; ++dataBits) {
      for (int stopCode : {kOneStopBit, kOneAndHalfStopBits, kTwoStopBits}) {
        for (uint32_t start : {0u, ~0u}) {
          SCOPED_TRACE(::testing::Message() << rate << " baud, " << dataBits << " bits, stop "
                                            << stopCode << ", start " << start);
          LineFlags before{start, start, start, start, 1234, 5678};
          LineFlags after = EncodeLineParameters(before, {rate, dataBits, stopCode, parity.code});
          EXPECT_EQ(after.ospeed, rate);
          EXPECT_EQ(after.ispeed, rate);
          EXPECT_EQ(after.cflag & CBAUD, static_cast<uint32_t>(BOTHER));
          EXPECT_EQ(after.cflag & CIBAUD, 0u) << "the input speed follows the output speed";

          LineSnapshot line = DescribeLine(after);
          EXPECT_EQ(line.dataBits, dataBits);
          EXPECT_EQ(line.twoStopBits, stopCode != kOneStopBit);
          EXPECT_EQ(line.parityEnabled, parity.enabled);
          EXPECT_EQ(line.parityOdd, parity.odd);
          EXPECT_EQ(line.parityMarkSpace, parity.markSpace);
          EXPECT_EQ(line.inputParityCheck, parity.code != kParityNone);

          uint32_t ours = CBAUD | CIBAUD | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;
          EXPECT_EQ(after.cflag & ~ours, before.cflag & ~ours);
          EXPECT_EQ(after.iflag & ~INPCK, before.iflag & ~INPCK);
          EXPECT_EQ(after.oflag, before.oflag);
          EXPECT_EQ(after.lflag, before.lflag);
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryListEntry, LineEncodingTest, ::testing::ValuesIn(kParityCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LineEncodingTest, ParametersWithoutValueLeaveEveryFlagAlone) {
  for (uint32_t start : {0u, ~0u, 0x5A5A5A5Au}) {
    LineFlags before{start, start, start, start, 4800, 4800};
    LineFlags after = EncodeLineParameters(before, {});
    EXPECT_EQ(after.iflag, before.iflag);
    EXPECT_EQ(after.cflag, before.cflag);
    EXPECT_EQ(after.ispeed, 4800u);
    EXPECT_EQ(after.ospeed, 4800u);
  }
}

TEST_F(PortTest, OpenMakesTheLineRaw) {
  ASSERT_TRUE(Open());
  LineSnapshot line = device.Line();
  EXPECT_FALSE(line.echo);
  EXPECT_FALSE(line.canonical);
  EXPECT_FALSE(line.signals);
  EXPECT_FALSE(line.outputProcessing);
  EXPECT_FALSE(line.crToNl);
  EXPECT_FALSE(line.softwareFlow);
  EXPECT_FALSE(line.hardwareFlow);
  EXPECT_TRUE(line.local);
  EXPECT_TRUE(line.receiverOn);
}

TEST_F(PortTest, ParametersWithoutValueKeepWhatTheDeviceHas) {
  ASSERT_TRUE(Open({57600, 6, kTwoStopBits, kParityOdd}));
  LineSnapshot before = device.Line();
  serial.SetConfig({});
  EXPECT_EQ(device.Line(), before);
  EXPECT_EQ(before.outputSpeed, 57600u);
  EXPECT_TRUE(before.twoStopBits);
  EXPECT_TRUE(before.parityOdd);
}

TEST_F(PortTest, SetConfigOnAClosedPortChangesNothing) {
  ASSERT_TRUE(Open({4800, 8, kOneStopBit, kParityNone}));
  serial.Close();
  serial.SetConfig({115200, 5, kTwoStopBits, kParityEven});
  LineSnapshot line = device.Line();
  EXPECT_EQ(line.outputSpeed, 4800u);
  EXPECT_EQ(line.dataBits, 8);
  EXPECT_FALSE(line.parityEnabled);
  EXPECT_TRUE(window.Messages().empty());
}

TEST_F(PortTest, EveryByteValuePassesUnchangedBothWays) {
  ASSERT_TRUE(Open());
  Bytes all(256);
  std::iota(all.begin(), all.end(), uint8_t{0});
  // The bytes a cooked line would act on, in runs, as well.
  const Bytes touchy = {0x00, 0x0D, 0x0A, 0x0D, 0x03, 0x1A, 0x1C, 0x11, 0x13,
                        0x04, 0x7F, 0x08, 0x16, 0x0F, 0x12, 0x17, 0x15, 0xFF};
  for (const Bytes& bytes : {all, touchy}) {
    serial.Write(bytes.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(device.Receive(bytes.size()), bytes) << "to the device";
    device.Send(bytes);
    EXPECT_EQ(ReadFromPort(bytes.size()), bytes) << "from the device";
  }
  EXPECT_TRUE(device.Drain(20ms).empty()) << "nothing added, nothing echoed";
  uint8_t spare[16];
  EXPECT_EQ(serial.Read(spare, sizeof spare), 0);
}

TEST_F(PortTest, ReadReturnsAtOnceWithNothingAndWithNoRoom) {
  ASSERT_TRUE(Open());
  uint8_t buffer[8];
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(serial.Read(buffer, sizeof buffer), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  device.Send(Bytes{1, 2, 3});
  ASSERT_TRUE(RecordingWindow::WaitFor([&] {
    // A capacity of 0 reads nothing and leaves the bytes for later.
    EXPECT_EQ(serial.Read(buffer, 0), 0);
    return serial.Read(buffer, 2) == 2;
  }));
  EXPECT_EQ(ReadFromPort(1), Bytes{3});
}

TEST_F(PortTest, OpenDiscardsWhatArrivedBefore) {
  device.Send("stale");
  ASSERT_TRUE(Open());
  device.Send("new");
  EXPECT_EQ(ReadFromPort(3), (Bytes{'n', 'e', 'w'}));
}

TEST_F(PortTest, SecondOpenOfTheSameDeviceFails) {
  ASSERT_TRUE(Open());
  testing::LineRig second;  // another terminal on the same machine
  SerialPort& secondPort = second.port;
  RecordingWindow secondWindow(second.state, second.hub);
  PortNames secondNames;
  secondNames.Set(7, device.Path());
  // Root passes TIOCEXCL; the lock keeps the second port out all the same.
  OpenOutcome refused = OpenNumber(secondPort, secondNames, 7, k9600_8N1);
  EXPECT_FALSE(refused);
  EXPECT_EQ(refused.failure.step, PortFailure::Step::kOpen);
  EXPECT_EQ(refused.failure.error, EBUSY);
  EXPECT_FALSE(secondPort.IsOpen());
  EXPECT_TRUE(secondWindow.Messages().empty()) << "the port only reports";
  EXPECT_TRUE(serial.IsOpen()) << "the first port keeps the device";

  serial.Close();
  EXPECT_TRUE(OpenNumber(secondPort, secondNames, 7, k9600_8N1)) << "free again after Close";
  EXPECT_EQ(Open().failure.error, EBUSY);
}

TEST_F(PortTest, ADeviceAnotherProcessHoldsIsRefusedUntilItLetsGo) {
  int opened[2], release[2];
  ASSERT_EQ(::pipe(opened), 0);
  ASSERT_EQ(::pipe(release), 0);
  pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    // Another terminal program: opens the device the same way and keeps it
    // until the test closes its end of `release`.
    ::close(release[1]);
    SerialPort port;
    char done = port.Open(PortTarget::Device(device.Path()), k9600_8N1) ? 'y' : 'n';
    [[maybe_unused]] ssize_t ignored = ::write(opened[1], &done, 1);
    ignored = ::read(release[0], &done, 1);
    ::_exit(0);
  }
  ::close(opened[1]);
  ::close(release[0]);
  char holderOpened = 0;
  ASSERT_EQ(::read(opened[0], &holderOpened, 1), 1);
  ASSERT_EQ(holderOpened, 'y');

  EXPECT_EQ(Open().failure.error, EBUSY);
  EXPECT_FALSE(serial.IsOpen());

  ::close(release[1]);  // the other program ends
  ASSERT_EQ(::waitpid(holder, nullptr, 0), holder);
  EXPECT_TRUE(Open());
  ::close(opened[0]);
}

struct FailingOpen {
  const char* name;
  int number;
  std::string path;  // "" keeps the default device name
  int error;         // the reason reported
  PortFailure::Step step = PortFailure::Step::kOpen;
};

class FailingOpenTest : public ::testing::TestWithParam<FailingOpen> {};

TEST_P(FailingOpenTest, SaysWhyAndStaysClosed) {
  testing::LineRig rig;
  SerialPort& serial = rig.port;
  RecordingWindow window(rig.state, rig.hub);
  PortNames names;
  std::string path = GetParam().path;
  if (path == "<file>") {
    char name[] = "/tmp/quorvel-port-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ::close(fd);
    path = name;
  }
  if (path == "<fifo>") {
    path = "/tmp/quorvel-fifo-" + std::to_string(::getpid());
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  }
  if (!path.empty()) names.Set(GetParam().number, path);
  OpenOutcome outcome = OpenNumber(serial, names, GetParam().number, k9600_8N1);
  EXPECT_FALSE(outcome);
  EXPECT_EQ(outcome.failure.step, GetParam().step);
  EXPECT_EQ(outcome.failure.error, GetParam().error) << outcome.failure.Reason();
  EXPECT_FALSE(serial.IsOpen());
  EXPECT_TRUE(window.Events().empty()) << "the port shows nothing itself";
  EXPECT_TRUE(window.Messages().empty());
  uint8_t byte = 0;
  EXPECT_EQ(serial.Read(&byte, 1), 0);
  if (GetParam().path == "<file>" || GetParam().path == "<fifo>") std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Devices, FailingOpenTest,
    ::testing::Values(FailingOpen{"PortZero", 0, "", ENOENT},
                      FailingOpen{"NegativePort", -1, "", ENOENT},
                      FailingOpen{"MissingDevice", 3, "/dev/quorvel-no-such-device", ENOENT},
                      FailingOpen{"DevNull", 4, "/dev/null", ENOTTY},
                      FailingOpen{"RegularFile", 5, "<file>", ENOTTY},
                      FailingOpen{"Directory", 6, "/tmp", EISDIR},
                      FailingOpen{"Fifo", 8, "<fifo>", ENOTTY},
                      FailingOpen{"NetworkTextWithoutPort", 9, "rfc2217://lab-pi", EINVAL,
                                  PortFailure::Step::kConnect}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PortNamesTest, ComNumbersNameTheClassicDevicesUnlessMapped) {
  PortNames names;
  EXPECT_EQ(names.DevicePath(1), "/dev/ttyS0");
  EXPECT_EQ(names.DevicePath(255), "/dev/ttyS254");
  EXPECT_EQ(names.DevicePath(0), "");
  EXPECT_EQ(names.DevicePath(-1), "");
  names.Set(3, "/dev/ttyUSB0");
  EXPECT_EQ(names.DevicePath(3), "/dev/ttyUSB0");
  names.Set(3, "");
  EXPECT_EQ(names.DevicePath(3), "/dev/ttyS2");
}

TEST_F(PortTest, WriteToADeviceThatNeverReadsReturnsWithinItsBoundAndCountsTheBytes) {
  ASSERT_TRUE(Open());
  constexpr int kBoundMs = 200;
  serial.SetWriteTimeouts(0, kBoundMs);
  // Far more than a pseudo-terminal buffers, so the write must give up.
  std::string text(300000, 'w');
  {
    std::lock_guard guard(state.lock);
    state.sendText = text;
  }
  auto start = std::chrono::steady_clock::now();
  SendComposedText(state, serial, rig.door);
  auto took = std::chrono::steady_clock::now() - start;
  // The bound is kept in whole milliseconds, so allow for the rounding.
  EXPECT_GE(took, std::chrono::milliseconds(kBoundMs - 5)) << "it waited for room";
  EXPECT_LT(took, std::chrono::milliseconds(kBoundMs) + 5s) << "and then gave up";
  CounterValues counters = rig.Counters();
  EXPECT_EQ(counters.txCount, text.size()) << "a write that ends short is counted in full";
  EXPECT_EQ(counters.sendCount, 1u);
  EXPECT_TRUE(window.Messages().empty()) << "a short write is no failure";
}

TEST_F(PortTest, WriteWaitsForRoomWhileTheDeviceReads) {
  ASSERT_TRUE(Open());
  Bytes big(200000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i % 253);
  Bytes got;
  std::thread reader([&] { got = device.Receive(big.size(), 20s); });
  serial.Write(big.data(), static_cast<int>(big.size()));
  reader.join();
  EXPECT_EQ(got, big);
}

TEST_F(PortTest, BytesTheDeviceSendsDuringAWriteAreAllReadAfterwards) {
  ASSERT_TRUE(Open());
  // A greeting that arrives before the write starts, then an echo of every
  // byte of the request as it comes in. The request is larger than a
  // pseudo-terminal buffers (about 12 KB each way), so the write can only end
  // after the device has read, and echoed, part of it.
  device.Send("hello");
  Bytes request(16000);
  for (size_t i = 0; i < request.size(); ++i) request[i] = static_cast<uint8_t>(i % 241);
  std::thread loopback([&] {
    size_t echoed = 0;
    while (echoed < request.size()) {
      pollfd in = {device.Master(), POLLIN, 0};
      if (poll(&in, 1, 10000) <= 0) return;
      uint8_t buffer[1024];
      ssize_t n = ::read(device.Master(), buffer, sizeof buffer);
      if (n <= 0) continue;
      device.Send(Bytes(buffer, buffer + n));
      echoed += static_cast<size_t>(n);
    }
  });
  serial.Write(request.data(), static_cast<int>(request.size()));
  Bytes expected = {'h', 'e', 'l', 'l', 'o'};
  expected.insert(expected.end(), request.begin(), request.end());
  Bytes got = ReadFromPort(expected.size());
  loopback.join();
  EXPECT_EQ(got, expected);
}

TEST_F(PortTest, WriteToAHungUpDeviceShowsWriteFail) {
  ASSERT_TRUE(Open());
  device.Hangup();
  const Bytes bytes = {1, 2, 3};
  rig.door.Reply(bytes.data(), static_cast<int>(bytes.size()));
  EXPECT_EQ(window.Messages(), std::vector<std::string>{"Write com fail!"});
  CounterValues counters = rig.Counters();
  EXPECT_EQ(counters.sendCount, 1u);
  EXPECT_EQ(counters.txCount, 3u) << "a failed write still counts";
}

TEST_F(PortTest, CloseReleasesTheDeviceAndIsHarmlessTwice) {
  ASSERT_TRUE(Open());
  EXPECT_TRUE(serial.IsOpen());
  serial.Close();
  EXPECT_FALSE(serial.IsOpen());
  serial.Close();
  EXPECT_FALSE(serial.IsOpen());
  const Bytes bytes = {1};
  serial.Write(bytes.data(), 1);  // nothing to write to, nothing shown
  EXPECT_TRUE(window.Messages().empty());
  ASSERT_TRUE(Open()) << "the same device opens again";
  EXPECT_TRUE(window.Messages().empty());
}

TEST_F(PortTest, OpenOnAnOpenPortMovesToTheNewDevice) {
  ASSERT_TRUE(Open());
  testing::PtyDevice other;
  names.Set(2, other.Path());
  ASSERT_TRUE(OpenNumber(serial, names, 2, k9600_8N1));
  const Bytes bytes = {0x5A};
  serial.Write(bytes.data(), 1);
  EXPECT_EQ(other.Receive(1), bytes);
  ASSERT_TRUE(Open()) << "the first device was released";
}

}  // namespace
}  // namespace quorvel

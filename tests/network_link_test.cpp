// Serial ports over the network against the real server: Debian's ser2net,
// started by each test on 127.0.0.1 with a free port, in front of a
// pseudo-terminal that plays the device. Every byte value both ways, through
// RFC 2217 and raw TCP; the line settings reaching the far pseudo-terminal; a
// server killed and restarted under an open link; connections refused, names
// that do not resolve, servers that never answer; the modem lines of a far
// port that has none. Skipped, with a line, where ser2net is not installed.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <numeric>
#include <thread>

#include "connection/link_session.h"
#include "link/line_settings.h"
#include "link/port_names.h"
#include "support/recording_window.h"
#include "support/ser2net_server.h"
#include "support/state_access.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using testing::Ser2NetServer;

constexpr LineSelection k9600None{0, 7, 3, 0, 0, 0};

// A socket listening on a free loopback port; fd is -1 when it could not.
struct LoopbackListener {
  int fd = -1;
  sockaddr_in address{};
  int Port() const { return ntohs(address.sin_port); }
};

LoopbackListener ListenOnLoopback(int backlog) {
  LoopbackListener listener;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  listener.address.sin_family = AF_INET;
  listener.address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof listener.address;
  auto* address = reinterpret_cast<sockaddr*>(&listener.address);
  if (fd < 0 || ::bind(fd, address, size) != 0 || ::getsockname(fd, address, &size) != 0 ||
      ::listen(fd, backlog) != 0) {
    if (fd >= 0) ::close(fd);
    return listener;
  }
  listener.fd = fd;
  return listener;
}

#define SKIP_WITHOUT_SER2NET()                                              \
  if (!Ser2NetServer::Available()) {                                        \
    GTEST_SKIP() << "ser2net is not installed (" << Ser2NetServer::kProgram \
                 << "): tools/install-deps.sh installs it";                 \
  }

Bytes EveryByteValue() {
  Bytes bytes(256);
  std::iota(bytes.begin(), bytes.end(), 0);
  return bytes;
}

// Waits until `condition` holds, looking every 10 ms; false after `limit`.
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5s) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

class NetworkLinkTest : public ::testing::Test {
 protected:
  NetworkLinkTest() { link.AttachTerminal(&state); }
  // The worker may be inside a call to the window: it ends before the window goes.
  ~NetworkLinkTest() override { link.Shutdown(); }

  void Name(const std::string& url) { names.Set(1, url); }

  // The Open/Close button with COM1 chosen, as the window turns its
  // selectors into a target and line parameters.
  LinkStatus Toggle(const LineSelection& selection) {
    if (link.Wanted()) return link.Close();
    if (std::optional<PortTarget> target = names.Target(1)) {
      return link.Open(*target, ReadLineSelections(selection));
    }
    return link.Refuse(names.WhyNoTarget(1));
  }
  bool Apply(const LineSelection& selection) {
    return link.ApplyLineSettings(ReadLineSelections(selection));
  }

  // Serves the link as the window's event loop would, until `done` holds.
  bool Pump(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd wake = {link.WakeDescriptor(), POLLIN, 0};
      if (::poll(&wake, 1, 20) > 0) link.Service();
    }
    return true;
  }
  bool PumpUntilOpen() {
    return Pump([&] { return serial.IsOpen() && !link.Status().waiting; });
  }
  bool PumpUntilClosed() {
    return Pump([&] { return !link.Status().open; });
  }

  PortNames names;
  TerminalState state;
  LinkSession link;
  SerialPort& serial = link.Port();
  testing::RecordingWindow window{state, link.Hub()};
};

class EveryByteTest : public NetworkLinkTest, public ::testing::WithParamInterface<bool> {};

TEST_P(EveryByteTest, EveryByteValueGoesBothWaysIntact) {
  SKIP_WITHOUT_SER2NET();
  Ser2NetServer server(GetParam());
  ASSERT_TRUE(server.Start());
  Name(server.Url());
  LinkStatus status = Toggle(k9600None);
  EXPECT_TRUE(status.open);
  EXPECT_TRUE(status.connecting);
  ASSERT_TRUE(PumpUntilOpen());
  EXPECT_TRUE(window.Messages().empty());

  // Twice over, CR LF and NUL among them, so that no translation hides.
  Bytes sent = EveryByteValue();
  Bytes more = EveryByteValue();
  sent.insert(sent.end(), more.rbegin(), more.rend());
  serial.Write(sent.data(), static_cast<int>(sent.size()));
  EXPECT_EQ(server.Device().Receive(sent.size()), sent);

  server.Device().Send(sent);
  ASSERT_TRUE(testing::WaitForRx(link.Hub().counters, static_cast<uint32_t>(sent.size())));
  EXPECT_EQ(testing::LogOf(state), sent);
  link.Shutdown();
}

INSTANTIATE_TEST_SUITE_P(Rfc2217AndRawTcp, EveryByteTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Rfc2217" : "RawTcp"; });

TEST_F(NetworkLinkTest, LineSettingsReachTheFarPortOnOpenAndOnEveryChange) {
  SKIP_WITHOUT_SER2NET();
  Ser2NetServer server;
  ASSERT_TRUE(server.Start());
  Name(server.Url());
  // A typed rate, odd parity, two stop bits at open.
  Toggle({0, -1, 3, 2, 1, 0, 74880});
  ASSERT_TRUE(PumpUntilOpen());
  testing::PtyDevice& far = server.Device();
  // The server sets the rate, the size, the parity and the stop bits one by
  // one as they come: the stop bits are the last.
  EXPECT_TRUE(Eventually([&] {
    auto line = far.Line();
    return line.outputSpeed == 74880 && line.parityOdd && line.twoStopBits;
  })) << far.Line().outputSpeed;

  // Each change while open. (A pseudo-terminal forces 8 data bits and hides
  // whether parity is on; the kind of parity and the stop bits show.)
  for (uint32_t rate : {230400u, 921600u, 250000u, 4000000u}) {
    ASSERT_TRUE(Apply({0, -1, 2, 0, 3, 0, rate}));
    EXPECT_TRUE(Eventually([&] { return far.Line().outputSpeed == rate; }))
        << rate << " asked, " << far.Line().outputSpeed << " on the far line";
  }
  EXPECT_TRUE(Eventually([&] {
    auto line = far.Line();
    return line.parityOdd && line.parityMarkSpace && !line.twoStopBits;
  })) << "mark parity, one stop bit";
  // The server answers with what it set: the rate, reported as in force.
  EXPECT_TRUE(Eventually([&] { return serial.RateInForce() == 4000000u; }));
  link.Shutdown();
}

TEST_F(NetworkLinkTest, RawTcpKeepsTheLineSettingsHere) {
  SKIP_WITHOUT_SER2NET();
  Ser2NetServer server(false);
  ASSERT_TRUE(server.Start());
  Name(server.Url());
  Toggle({0, 20, 3, 0, 1, 0});
  ASSERT_TRUE(PumpUntilOpen());
  EXPECT_EQ(serial.NetworkType(), NetworkKind::kTcp);
  EXPECT_TRUE(Apply({0, 16, 3, 0, 0, 0}));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(server.Device().Line().outputSpeed, 9600u) << "the server's own setting";
  link.Shutdown();
}

TEST_F(NetworkLinkTest, ARestartedServerIsWaitedForAndGetsTheCurrentSettings) {
  SKIP_WITHOUT_SER2NET();
  Ser2NetServer server;
  ASSERT_TRUE(server.Start());
  Name(server.Url());
  Toggle(k9600None);
  ASSERT_TRUE(PumpUntilOpen());
  server.Device().Send(Bytes{'a'});
  ASSERT_TRUE(testing::WaitForRx(link.Hub().counters, 1));

  server.Stop();
  ASSERT_TRUE(Pump([&] { return link.Waiting(); }));
  LinkStatus status = link.Status();
  EXPECT_TRUE(status.open) << "the link stays wanted";
  EXPECT_TRUE(status.waiting);
  EXPECT_FALSE(link.WorkerRunning());
  // Settings changed while the server is away go with the reconnection.
  Apply({0, -1, 3, 0, 1, 0, 250000});
  // A few attempts fail meanwhile (0.5 s, then 1 s later): the link waits on.
  Pump([] { return false; }, 1800ms);
  EXPECT_TRUE(link.Waiting());

  auto restarted = std::chrono::steady_clock::now();
  ASSERT_TRUE(server.Start());
  ASSERT_TRUE(PumpUntilOpen());
  std::printf("reconnected %lld ms after the server came back\n",
              static_cast<long long>((std::chrono::steady_clock::now() - restarted) / 1ms));
  // The server applies the rate, the size, the parity and the stop bits one
  // by one as they come: wait for the last of them.
  EXPECT_TRUE(Eventually([&] {
    auto line = server.Device().Line();
    return line.outputSpeed == 250000u && line.parityOdd;
  }));
  server.Device().Send(Bytes{'b'});
  ASSERT_TRUE(testing::WaitForRx(link.Hub().counters, 2));
  EXPECT_EQ(testing::LogOf(state), (Bytes{'a', 'b'}));
  EXPECT_TRUE(window.Messages().empty());
  EXPECT_FALSE(link.Hub().workersOverlapped.load());
  link.Shutdown();
}

TEST_F(NetworkLinkTest, CloseEndsTheWaitForAServerThatIsAway) {
  SKIP_WITHOUT_SER2NET();
  Ser2NetServer server;
  ASSERT_TRUE(server.Start());
  Name(server.Url());
  Toggle(k9600None);
  ASSERT_TRUE(PumpUntilOpen());
  server.Stop();
  ASSERT_TRUE(Pump([&] { return link.Waiting(); }));
  EXPECT_FALSE(Toggle(k9600None).open);
  EXPECT_FALSE(link.Waiting());
  // Nothing tries again once closed.
  ASSERT_TRUE(server.Start());
  std::this_thread::sleep_for(700ms);
  pollfd wake = {link.WakeDescriptor(), POLLIN, 0};
  if (::poll(&wake, 1, 0) > 0) link.Service();
  EXPECT_FALSE(serial.IsOpen());
}

struct FailingAddress {
  const char* what;
  std::function<std::string()> url;
  const char* reason;  // part of the reason shown
};

class ConnectFailureTest : public NetworkLinkTest {};

TEST_F(ConnectFailureTest, ARefusedConnectionFailsAtOnceWithItsReason) {
  Name("rfc2217://127.0.0.1:" + std::to_string(Ser2NetServer::FreePort()));
  auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(Toggle(k9600None).connecting);
  ASSERT_TRUE(PumpUntilClosed());
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  EXPECT_EQ(window.Messages(), std::vector<std::string>{"Open com fail!"});
  EXPECT_NE(link.ConnectFailure().find("refused"), std::string::npos) << link.ConnectFailure();
  EXPECT_FALSE(link.Status().waiting);
}

TEST_F(ConnectFailureTest, ANameThatDoesNotResolveFailsWithItsReason) {
  Name("tcp://lab-pi.invalid:7001");
  auto started = std::chrono::steady_clock::now();
  Toggle(k9600None);
  ASSERT_TRUE(PumpUntilClosed());
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5500ms);
  EXPECT_EQ(window.Messages(), std::vector<std::string>{"Open com fail!"});
  EXPECT_NE(link.ConnectFailure().find("cannot resolve lab-pi.invalid"), std::string::npos)
      << link.ConnectFailure();
}

// A listener whose queue is full: the kernel drops the next connection's
// SYN, as a host that is not there would.
class SilentHost {
 public:
  SilentHost() : listening_(ListenOnLoopback(0)) {
    for (int i = 0; listening_.fd >= 0 && i < 4; ++i) {
      int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      ::connect(filler, reinterpret_cast<sockaddr*>(&listening_.address),
                sizeof listening_.address);
      fillers_.push_back(filler);
    }
    std::this_thread::sleep_for(100ms);
  }
  ~SilentHost() { Close(); }
  void Close() {
    for (int filler : fillers_) ::close(filler);
    fillers_.clear();
    if (listening_.fd >= 0) ::close(listening_.fd);
    listening_.fd = -1;
  }
  bool Ok() const { return listening_.fd >= 0; }
  std::string Url() const { return "tcp://127.0.0.1:" + std::to_string(listening_.Port()); }

 private:
  LoopbackListener listening_;
  std::vector<int> fillers_;
};

TEST_F(ConnectFailureTest, AHostThatNeverAnswersFailsWithinFiveSeconds) {
  SilentHost host;
  ASSERT_TRUE(host.Ok());
  Name(host.Url());
  auto started = std::chrono::steady_clock::now();
  Toggle(k9600None);
  bool closed = PumpUntilClosed();
  auto took = std::chrono::steady_clock::now() - started;
  host.Close();
  ASSERT_TRUE(closed);
  if (window.Messages().empty()) GTEST_SKIP() << "the kernel took the connection after all";
  EXPECT_LT(took, 5500ms);
  EXPECT_GE(took, 4500ms);
  EXPECT_EQ(window.Messages(), std::vector<std::string>{"Open com fail!"});
  EXPECT_NE(link.ConnectFailure().find("no answer within 5 s"), std::string::npos)
      << link.ConnectFailure();
}

TEST_F(ConnectFailureTest, AnAttemptEndedByCloseWakesNobodyWhenItRunsOut) {
  SilentHost host;
  ASSERT_TRUE(host.Ok());
  Name(host.Url());
  ASSERT_TRUE(Toggle(k9600None).connecting);
  EXPECT_FALSE(Toggle(k9600None).open);
  // The abandoned attempt ends on its own at its limit; the link, closed,
  // has nothing to be woken for (a wake nobody takes would spin its owner).
  pollfd wake = {link.WakeDescriptor(), POLLIN, 0};
  auto limit = NetworkLine::kConnectLimit + 1s;
  EXPECT_EQ(::poll(&wake, 1, static_cast<int>(limit / 1ms)), 0);
  EXPECT_TRUE(window.Messages().empty());
}

TEST_F(ConnectFailureTest, ASilentServerLeavesTheLinkUsableWithoutLines) {
  // It accepts the connection and never says a word of telnet.
  LoopbackListener listening = ListenOnLoopback(4);
  ASSERT_GE(listening.fd, 0);
  int listener = listening.fd;
  Name("rfc2217://127.0.0.1:" + std::to_string(listening.Port()));
  Toggle(k9600None);
  ASSERT_TRUE(PumpUntilOpen());
  int far = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(far, 0);
  // The lines are "not available" once the answer is overdue.
  ASSERT_TRUE(Eventually([&] { return !link.Watcher().Watching(); }, 6s));
  EXPECT_FALSE(link.Lines().Latest().available);
  // Data still goes, escaped; settings wait for the option.
  const uint8_t data[] = {'o', 'k', 0xff};
  serial.Write(data, 3);
  Bytes got(64);
  ssize_t n = 0;
  ASSERT_TRUE(Eventually([&] {
    ssize_t more = ::recv(far, got.data() + n, got.size() - static_cast<size_t>(n), MSG_DONTWAIT);
    if (more > 0) n += more;
    return n > 0 && got[static_cast<size_t>(n) - 1] == 0xff && n >= 4 &&
           got[static_cast<size_t>(n) - 2] == 0xff;
  }));
  got.resize(static_cast<size_t>(n));
  // The client's own negotiation first, then the data with IAC doubled.
  const Bytes tail = {'o', 'k', 0xff, 0xff};
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), got.end() - 4));
  EXPECT_TRUE(serial.IsOpen());
  auto closing = std::chrono::steady_clock::now();
  link.Shutdown();
  EXPECT_LT(std::chrono::steady_clock::now() - closing, 1s);
  ::close(far);
  ::close(listener);
}

// A scripted RFC 2217 server with modem lines: it agrees to the option,
// answers every SET-CONTROL for DTR and RTS with the state it set, reports
// CTS and DCD, and records every COM-PORT command it gets.
class ScriptedServer {
 public:
  ScriptedServer() {
    LoopbackListener listening = ListenOnLoopback(1);
    listener_ = listening.fd;
    port_ = listening.Port();
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    ::shutdown(listener_, SHUT_RDWR);
    if (far_ >= 0) ::shutdown(far_, SHUT_RDWR);
    thread_.join();
    if (far_ >= 0) ::close(far_);
    ::close(listener_);
  }
  std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }
  // The SET-CONTROL values received, in order.
  std::vector<int> Controls() {
    std::lock_guard guard(mutex_);
    return controls_;
  }

 private:
  void Send(const Bytes& bytes) { ::send(far_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
  void Serve() {
    far_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (far_ < 0) return;
    Send({255, 253, 44, 255, 250, 44, 107, 0x90, 255, 240});  // DO COM-PORT; CTS and DCD
    Bytes sub;
    int state = 0;  // 0 data, 1 IAC, 2 option, 3 SB, 4 SB IAC
    uint8_t buffer[512];
    for (;;) {
      ssize_t got = ::recv(far_, buffer, sizeof buffer, 0);
      if (got <= 0) return;
      for (ssize_t i = 0; i < got; ++i) {
        uint8_t b = buffer[i];
        switch (state) {
          case 0:
            state = b == 255 ? 1 : 0;
            break;
          case 1:
            state = b == 250 ? 3 : (b >= 251 ? 2 : 0);
            sub.clear();
            break;
          case 2:
            state = 0;
            break;
          case 3:
            if (b == 255)
              state = 4;
            else
              sub.push_back(b);
            break;
          case 4:
            if (b == 240) {
              state = 0;
              if (sub.size() == 3 && sub[0] == 44 && sub[1] == 5) {
                {
                  std::lock_guard guard(mutex_);
                  controls_.push_back(sub[2]);
                }
                if (sub[2] >= 8 && sub[2] <= 12) Send({255, 250, 44, 105, sub[2], 255, 240});
              }
            } else {
              sub.push_back(b);
              state = 3;
            }
            break;
        }
      }
    }
  }

  int listener_ = -1;
  int far_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<int> controls_;
};

TEST_F(NetworkLinkTest, AFarPortWithModemLinesCarriesThemBothWays) {
  ScriptedServer server;
  Name(server.Url());
  Toggle(k9600None);
  ASSERT_TRUE(PumpUntilOpen());
  // The lines as the server reports them: DTR and RTS as set at open, CTS and DCD.
  ASSERT_TRUE(Eventually([&] {
    LineReport report = link.Lines().Latest();
    return report.available && report.lines == (kLineDtr | kLineRts | kLineCts | kLineDcd);
  })) << link.Lines().Latest().lines;
  link.Request(LineActions::Kind::kDrop, kLineDtr);
  ASSERT_TRUE(Eventually([&] { return !(link.Lines().Latest().lines & kLineDtr); }));
  link.Request(LineActions::Kind::kBreak);
  link.Request(LineActions::Kind::kPulse, kLineRts);
  // DTR and RTS on at open, DTR off, break on and off, RTS off and on again.
  std::vector<int> expected = {8, 11, 9, 5, 6, 12, 11};
  // The flow control of the line settings (SET-CONTROL 1) is no line.
  auto lineControls = [&] {
    std::vector<int> controls = server.Controls();
    controls.erase(std::remove(controls.begin(), controls.end(), 1), controls.end());
    return controls;
  };
  ASSERT_TRUE(Eventually([&] { return lineControls().size() >= expected.size(); }));
  EXPECT_EQ(lineControls(), expected);
  EXPECT_TRUE(link.Watcher().Watching());
  link.Shutdown();
}

TEST_F(NetworkLinkTest, AFarPortWithoutModemLinesShowsThemNotAvailable) {
  SKIP_WITHOUT_SER2NET();
  Ser2NetServer server;
  ASSERT_TRUE(server.Start());
  Name(server.Url());
  Toggle(k9600None);
  ASSERT_TRUE(PumpUntilOpen());
  // ser2net in front of a pseudo-terminal never answers for DTR and RTS.
  ASSERT_TRUE(Eventually([&] { return !link.Watcher().Watching(); }, 6s));
  EXPECT_FALSE(link.Lines().Latest().available);
  // Commands change nothing and hurt nothing: the link goes on.
  link.Request(LineActions::Kind::kRaise, kLineDtr);
  link.Request(LineActions::Kind::kBreak);
  server.Device().Send(Bytes{'x', 'y'});
  ASSERT_TRUE(testing::WaitForRx(link.Hub().counters, 2));
  const uint8_t back[] = {'z'};
  serial.Write(back, 1);
  EXPECT_EQ(server.Device().Receive(1), Bytes{'z'});
  EXPECT_TRUE(window.Messages().empty());
  link.Shutdown();
}

}  // namespace
}  // namespace quorvel

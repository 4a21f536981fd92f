#include "connection/link_session.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "core/strings.h"
#include "link/modem_control.h"

namespace quorvel {
namespace {

// "/dev/ttyUSB0 115200,8,N,1" (and the flow control when there is one), for
// the session view's event lines; "-" for what is left as the device has it.
std::string LineText(const std::string& path, const LineParameters& line) {
  static constexpr const char* kStop[] = {"1", "1.5", "2"};
  static constexpr const char* kParity[] = {"N", "O", "E", "M", "S"};
  static constexpr const char* kFlow[] = {"", ",XON/XOFF", ",RTS/CTS"};
  auto pick = [](const std::optional<int>& code, const auto& names) -> std::string {
    return code && *code >= 0 && *code < static_cast<int>(std::size(names)) ? names[*code] : "-";
  };
  std::string text = path + " " + (line.baudRate ? std::to_string(*line.baudRate) : "-") + "," +
                     (line.dataBits ? std::to_string(*line.dataBits) : "-") + "," +
                     pick(line.parity, kParity) + "," + pick(line.stopBits, kStop);
  std::string flow = pick(line.flow, kFlow);
  return flow == "-" ? text : text + flow;
}

std::string RequestText(LineActions::Kind kind, unsigned lines,
                        std::chrono::milliseconds breakLength = {}) {
  if (kind == LineActions::Kind::kBreak) {
    return breakLength.count() > 0 ? "Break of " + std::to_string(breakLength.count()) + " ms"
                                   : "Break";
  }
  std::string names = (lines & kLineDtr) ? "DTR" : "";
  if (lines & kLineRts) names += names.empty() ? "RTS" : ", RTS";
  if (kind == LineActions::Kind::kPulse) return names + " pulsed";
  return names + (kind == LineActions::Kind::kRaise ? " on" : " off");
}

// Past the connection's own limit: the attempt's thread has said how it
// ended by then, or is given up.
constexpr std::chrono::milliseconds kConnectSlack{100};

constexpr char kNotOpen[] = "the port is not open";
constexpr char kNoModemLines[] = "lines: not available on this port";

}  // namespace

LinkSession::LinkSession(ModemControl& modem)
    : port_(modem), supervisor_(port_.HangupDescriptor(), port_.ConnectDescriptor()) {}

void LinkSession::AttachTerminal(TerminalState* terminal) {
  if (terminal_) terminal_->AttachLine(nullptr);
  terminal_ = terminal;
  if (terminal_) terminal_->AttachLine(&port_);
}

LinkStatus LinkSession::Close() {
  if (!Wanted()) return Status();
  Shutdown();
  hub_.Note(LineEvent::kLinkClosed, port_.Path());
  return Status();
}

LinkStatus LinkSession::Refuse(const PortFailure& failure) {
  Close();
  OpenFailed(failure);
  return Status();
}

LinkStatus LinkSession::Open(const PortTarget& target, const LineParameters& line) {
  Close();
  line_ = line;
  OpenOutcome outcome = port_.Open(target, line_);
  failure_.reset();
  if (outcome) {
    hub_.Note(LineEvent::kLinkOpened, LineText(port_.Path(), line_));
    Started();
  } else if (outcome.InProgress()) {
    connecting_ = true;
    held_ = true;
    supervisor_.WakeAfter(NetworkLine::kConnectLimit + kConnectSlack);
  } else {
    OpenFailed(outcome.failure);
  }
  return Status();
}

void LinkSession::StartLineWork() {
  // A driver without modem lines answers no look: then there is nothing to
  // watch or command, and that is no fault of the link.
  if (!board_.Look(port_.Modem())) return;
  watcher_.Start(port_.Modem());
  actions_.Start(port_.Modem());
}

bool LinkSession::ApplyLineSettings(const LineParameters& wanted) {
  if (!Wanted()) return true;
  if (!port_.IsOpen()) {
    line_ = wanted;  // a device that is away gets them when it returns
    hub_.Note(LineEvent::kSettingsChanged, LineText(port_.Path(), line_));
    return true;
  }
  ConfigOutcome outcome = port_.SetConfig(wanted);
  if (!outcome.applied) return false;
  line_ = wanted;
  rateInForce_ = outcome.rate;
  hub_.Note(LineEvent::kSettingsChanged, LineText(port_.Path(), line_));
  return true;
}

void LinkSession::Shutdown() {
  held_ = false;
  connecting_ = false;
  supervisor_.StopWaiting();
  StopLine();
}

void LinkSession::StopLine() {
  stopping_ = true;
  door_.Abort();
  // The worker ends before the close, so it never reads a closed (or reused)
  // descriptor and no second worker can start beside it.
  worker_.StopAndWait();
  actions_.Stop();
  watcher_.Stop();
  port_.Close();
  board_.Clear();
  stopping_ = false;
}

LinkStatus LinkSession::Status() const {
  if (!Wanted()) return {};
  return {true, supervisor_.Waiting(), connecting_};
}

void LinkSession::Started() {
  held_ = true;
  rateInForce_ = port_.RateInForce();
  std::error_code error;
  std::filesystem::path node;
  if (!port_.IsNetwork()) node = std::filesystem::canonical(port_.Path(), error);
  node_ = error || port_.IsNetwork() ? port_.Path() : node.string();
  StartLineWork();
  worker_.Start({hub_, door_, terminal_, answers_});
}

bool LinkSession::Service() {
  LinkStatus before = Status();
  bool lookDue = supervisor_.TakeLookDue();
  if (port_.Connecting()) {
    FinishConnect();
    lookDue = false;  // the attempt in progress is the look
  }
  if (port_.TakeHangup() && held_ && !port_.IsOpen() && !supervisor_.Waiting()) {
    // The worker let go of the dead line and ended (or ends at its next
    // look); the line's own threads end now, before the descriptor goes.
    StopLine();
    supervisor_.StartWaiting(*port_.Target(), node_);
    hub_.Note(LineEvent::kDeviceAway, port_.Path());
    // A device may be back at once; a server is tried after the first backoff.
    lookDue = !port_.IsNetwork();
  }
  if (lookDue && supervisor_.Waiting()) Look();
  LinkStatus after = Status();
  return after.open != before.open || after.waiting != before.waiting ||
         after.connecting != before.connecting;
}

void LinkSession::OpenFailed(const PortFailure& failure) {
  failure_ = failure;
  hub_.news.PostMessage(LoadString(StringId::kOpenFail));
}

std::string LinkSession::ConnectFailure() const {
  bool connecting = failure_ && failure_->step == PortFailure::Step::kConnect;
  return connecting ? failure_->Reason() : std::string();
}

void LinkSession::FinishConnect() {
  OpenOutcome outcome = port_.FinishConnect();
  if (outcome.InProgress()) return;
  if (outcome) {
    failure_.reset();
    hub_.Note(connecting_ ? LineEvent::kLinkOpened : LineEvent::kDeviceBack,
              LineText(port_.Path(), line_));
    connecting_ = false;
    if (supervisor_.Waiting()) supervisor_.StopWaiting();
    Started();  // the settings of the link went with the connection
    return;
  }
  if (connecting_) {
    // The first connection: the link was never open.
    connecting_ = false;
    held_ = false;
    port_.Close();
    OpenFailed(outcome.failure);
    return;
  }
  failure_ = outcome.failure;
  supervisor_.LookFailed(outcome.failure.error);
}

void LinkSession::Look() {
  OpenOutcome outcome = port_.Reopen(line_);
  if (outcome.InProgress()) {
    supervisor_.WakeAfter(NetworkLine::kConnectLimit + kConnectSlack);
    return;  // FinishConnect goes on when the attempt is over
  }
  if (!outcome) {
    supervisor_.LookFailed(outcome.failure.error);
    return;
  }
  supervisor_.StopWaiting();
  hub_.Note(LineEvent::kDeviceBack, LineText(port_.Path(), line_));
  Started();
}

void LinkSession::Request(LineActions::Kind kind, unsigned lines) {
  actions_.Request(kind, lines);
  if (!board_.Latest().available) return;  // nothing carries it out
  LineEvent event =
      kind == LineActions::Kind::kBreak ? LineEvent::kBreakSent : LineEvent::kModemLinesChanged;
  hub_.Note(event, RequestText(kind, lines));
}

void LinkSession::Order(LineActions::Kind kind, unsigned lines,
                        std::chrono::milliseconds breakLength, LineActions::Finished done) {
  auto refuse = [&](const char* why) {
    if (done) done(Failure{why});
  };
  if (supervisor_.Waiting()) return refuse(LoadString(StringId::kWriteFail));
  if (stopping_ || !port_.IsOpen()) return refuse(kNotOpen);
  if (!board_.Latest().available) return refuse(kNoModemLines);
  actions_.Order(kind, lines, breakLength, std::move(done));
  LineEvent event =
      kind == LineActions::Kind::kBreak ? LineEvent::kBreakSent : LineEvent::kModemLinesChanged;
  hub_.Note(event, RequestText(kind, lines, breakLength));
}

Done LinkSession::Send(std::vector<uint8_t> bytes, SendDone done) {
  // Nothing can reach a device that is away: it fails as a write would.
  if (supervisor_.Waiting()) return Failure{LoadString(StringId::kWriteFail)};
  if (stopping_ || !port_.IsOpen()) return Failure{kNotOpen};
  door_.Queue(std::move(bytes), std::move(done));
  return {};
}

Done LinkSession::SendFile(UniqueFd file, std::string name, uint64_t size, FilePacing pacing,
                           SendDone done) {
  if (supervisor_.Waiting()) return Failure{LoadString(StringId::kWriteFail)};
  if (stopping_ || !port_.IsOpen()) return Failure{kNotOpen};
  door_.QueueFile(std::move(file), std::move(name), size, pacing, std::move(done));
  return {};
}

}  // namespace quorvel

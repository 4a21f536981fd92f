#include "connection/link_control.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

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

std::string RequestText(LineActions::Kind kind, unsigned lines) {
  if (kind == LineActions::Kind::kBreak) return "Break";
  std::string names = (lines & kLineDtr) ? "DTR" : "";
  if (lines & kLineRts) names += names.empty() ? "RTS" : ", RTS";
  if (kind == LineActions::Kind::kPulse) return names + " pulsed";
  return names + (kind == LineActions::Kind::kRaise ? " on" : " off");
}

// Past the connection's own limit: the attempt's thread has said how it
// ended by then, or is given up.
constexpr std::chrono::milliseconds kConnectSlack{100};

}  // namespace

LinkStatus LinkControl::ToggleLink(const LineSelection& selection) {
  line_ = ReadLineSelections(selection);
  if (Wanted()) {
    Shutdown();
    state_.TapEvent(LineEvent::kLinkClosed, port_.Path());
    return Status();
  }
  OpenOutcome outcome = port_.Open(selection.portPos + 1, line_);
  failure_.reset();
  if (outcome) {
    state_.TapEvent(LineEvent::kLinkOpened, LineText(port_.Path(), line_));
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

void LinkControl::StartLineWork() {
  // A driver without modem lines answers no look: then there is nothing to
  // watch or command, and that is no fault of the link.
  if (!board_.Look(port_.Modem())) return;
  watcher_.Start(port_.Modem());
  actions_.Start(port_.Modem());
}

bool LinkControl::ApplyLineSettings(const LineSelection& selection) {
  if (!Wanted()) return true;
  LineParameters wanted = ReadLineSelections(selection);
  if (!state_.port.IsOpen()) {
    line_ = wanted;  // a device that is away gets them when it returns
    state_.TapEvent(LineEvent::kSettingsChanged, LineText(port_.Path(), line_));
    return true;
  }
  ConfigOutcome outcome = port_.SetConfig(wanted);
  if (!outcome.applied) return false;
  line_ = wanted;
  rateInForce_ = outcome.rate;
  state_.TapEvent(LineEvent::kSettingsChanged, LineText(port_.Path(), line_));
  return true;
}

std::optional<LinkStatus> LinkControl::ReopenOnPortChange(const LineSelection& selection) {
  if (!Wanted()) return std::nullopt;
  ToggleLink(selection);
  return ToggleLink(selection);
}

void LinkControl::Shutdown() {
  held_ = false;
  connecting_ = false;
  supervisor_.StopWaiting();
  StopLine();
}

void LinkControl::StopLine() {
  writer_.Abort();
  // The worker ends before the close, so it never reads a closed (or reused)
  // descriptor and no second worker can start beside it.
  worker_.StopAndWait();
  actions_.Stop();
  watcher_.Stop();
  state_.port.Close();
  board_.Clear();
}

LinkStatus LinkControl::Status() const {
  if (!Wanted()) return {false, StringId::kOpenCaption, false};
  return {true, StringId::kCloseCaption, supervisor_.Waiting(), connecting_};
}

void LinkControl::Started() {
  held_ = true;
  rateInForce_ = port_.RateInForce();
  std::error_code error;
  std::filesystem::path node;
  if (!port_.IsNetwork()) node = std::filesystem::canonical(port_.Path(), error);
  node_ = error || port_.IsNetwork() ? port_.Path() : node.string();
  StartLineWork();
  worker_.Start(state_);
}

bool LinkControl::Service() {
  LinkStatus before = Status();
  bool lookDue = supervisor_.TakeLookDue();
  if (port_.Connecting()) {
    FinishConnect();
    lookDue = false;  // the attempt in progress is the look
  }
  if (port_.TakeHangup() && held_ && !state_.port.IsOpen() && !supervisor_.Waiting()) {
    // The worker let go of the dead line and ended (or ends at its next
    // look); the line's own threads end now, before the descriptor goes.
    StopLine();
    supervisor_.StartWaiting(*port_.Target(), node_);
    state_.TapEvent(LineEvent::kDeviceAway, port_.Path());
    // A device may be back at once; a server is tried after the first backoff.
    lookDue = !port_.IsNetwork();
  }
  if (lookDue && supervisor_.Waiting()) Look();
  LinkStatus after = Status();
  return after.open != before.open || after.waiting != before.waiting ||
         after.connecting != before.connecting;
}

void LinkControl::OpenFailed(const PortFailure& failure) {
  failure_ = failure;
  if (WindowServices* window = state_.Window()) window->ShowMessage(StringId::kOpenFail);
}

std::string LinkControl::ConnectFailure() const {
  bool connecting = failure_ && failure_->step == PortFailure::Step::kConnect;
  return connecting ? failure_->Reason() : std::string();
}

void LinkControl::FinishConnect() {
  OpenOutcome outcome = port_.FinishConnect();
  if (outcome.InProgress()) return;
  if (outcome) {
    failure_.reset();
    state_.TapEvent(connecting_ ? LineEvent::kLinkOpened : LineEvent::kDeviceBack,
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

void LinkControl::Look() {
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
  state_.TapEvent(LineEvent::kDeviceBack, LineText(port_.Path(), line_));
  Started();
}

void LinkControl::Request(LineActions::Kind kind, unsigned lines) {
  actions_.Request(kind, lines);
  if (!board_.Latest().available) return;  // nothing carries it out
  LineEvent event =
      kind == LineActions::Kind::kBreak ? LineEvent::kBreakSent : LineEvent::kModemLinesChanged;
  state_.TapEvent(event, RequestText(kind, lines));
}

}  // namespace quorvel

#include "session/link_control.h"

#include <filesystem>
#include <system_error>

namespace quorvel {

LinkStatus LinkControl::ToggleLink(const LineSelection& selection) {
  line_ = ReadLineSelections(selection);
  if (Wanted()) {
    Shutdown();
  } else if (port_.Open(selection.portPos + 1, line_)) {
    Started();
  }
  return Status();
}

void LinkControl::StartLineWork() {
  // A driver without modem lines answers no look: then there is nothing to
  // watch or command, and that is no fault of the link.
  if (!board_.Look(port_.Modem(), port_.Descriptor())) return;
  watcher_.Start(port_.Modem(), port_.Descriptor());
  actions_.Start(port_.Modem(), port_.Descriptor());
}

bool LinkControl::ApplyLineSettings(const LineSelection& selection) {
  if (!Wanted()) return true;
  LineParameters wanted = ReadLineSelections(selection);
  if (!state_.port.IsOpen()) {
    line_ = wanted;  // a device that is away gets them when it returns
    return true;
  }
  ConfigOutcome outcome = port_.SetConfig(wanted);
  if (!outcome.applied) return false;
  line_ = wanted;
  rateInForce_ = outcome.rate;
  return true;
}

std::optional<LinkStatus> LinkControl::ReopenOnPortChange(const LineSelection& selection) {
  if (!Wanted()) return std::nullopt;
  ToggleLink(selection);
  return ToggleLink(selection);
}

void LinkControl::Shutdown() {
  held_ = false;
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
  return {true, StringId::kCloseCaption, supervisor_.Waiting()};
}

void LinkControl::Started() {
  held_ = true;
  rateInForce_ = port_.RateInForce();
  std::error_code error;
  std::filesystem::path target = std::filesystem::canonical(port_.Path(), error);
  target_ = error ? port_.Path() : target.string();
  StartLineWork();
  worker_.Start(state_);
}

bool LinkControl::Service() {
  LinkStatus before = Status();
  bool lookDue = supervisor_.TakeLookDue();
  if (port_.TakeHangup() && held_ && !state_.port.IsOpen() && !supervisor_.Waiting()) {
    // The worker let go of the dead line and ended (or ends at its next
    // look); the line's own threads end now, before the descriptor goes.
    StopLine();
    supervisor_.StartWaiting(port_.Path(), target_);
    lookDue = true;
  }
  if (lookDue && supervisor_.Waiting()) Look();
  LinkStatus after = Status();
  return after.open != before.open || after.waiting != before.waiting;
}

void LinkControl::Look() {
  int error = port_.Reopen(line_);
  if (error != 0) {
    supervisor_.LookFailed(error);
    return;
  }
  supervisor_.StopWaiting();
  Started();
}

}  // namespace quorvel

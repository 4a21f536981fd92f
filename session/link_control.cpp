#include "session/link_control.h"

namespace quorvel {

LinkStatus LinkControl::ToggleLink(const LineSelection& selection) {
  LineParameters line = ReadLineSelections(selection);
  if (state_.port.IsOpen()) {
    Shutdown();
  } else {
    port_.Open(selection.portPos + 1, line);
  }
  if (!state_.port.IsOpen()) return {false, StringId::kOpenCaption};
  StartLineWork();
  worker_.Start(state_);
  return {true, StringId::kCloseCaption};
}

void LinkControl::StartLineWork() {
  // A driver without modem lines answers no look: then there is nothing to
  // watch or command, and that is no fault of the link.
  if (!board_.Look(port_.Modem(), port_.Descriptor())) return;
  watcher_.Start(port_.Modem(), port_.Descriptor());
  actions_.Start(port_.Modem(), port_.Descriptor());
}

void LinkControl::ApplyLineSettings(const LineSelection& selection) {
  if (state_.port.IsOpen()) port_.SetConfig(ReadLineSelections(selection));
}

std::optional<LinkStatus> LinkControl::ReopenOnPortChange(const LineSelection& selection) {
  if (!state_.port.IsOpen()) return std::nullopt;
  ToggleLink(selection);
  return ToggleLink(selection);
}

void LinkControl::Shutdown() {
  writer_.Abort();
  // The worker ends before the close, so it never reads a closed (or reused)
  // descriptor and no second worker can start beside it.
  worker_.StopAndWait();
  actions_.Stop();
  watcher_.Stop();
  state_.port.Close();
  board_.Clear();
}

}  // namespace quorvel

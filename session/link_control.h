// Opening, configuring and closing the link from selector positions, with no
// window: the window hands in its selectors' positions and shows the caption
// it gets back. All calls belong to the UI thread.
#pragma once

#include <optional>

#include "core/terminal_state.h"
#include "engine/receive_worker.h"
#include "engine/send_writer.h"
#include "link/line_settings.h"
#include "link/serial_port.h"
#include "session/line_actions.h"
#include "session/line_board.h"
#include "session/line_watcher.h"

namespace quorvel {

struct LinkStatus {
  bool open = false;
  StringId caption = StringId::kOpenCaption;  // what the Open/Close button shows now
};

class LinkControl {
 public:
  // `port` is the concrete device behind state.port.
  LinkControl(TerminalState& state, SerialPort& port) : state_(state), port_(port) {}
  ~LinkControl() { Shutdown(); }
  LinkControl(const LinkControl&) = delete;
  LinkControl& operator=(const LinkControl&) = delete;

  // Closes an open link (after its worker has ended), or opens the port of
  // portPos + 1 with the selected parameters (flow control included) and
  // starts its worker and the watch of its modem lines. A failed open shows
  // "Open com fail!" and reports closed.
  LinkStatus ToggleLink(const LineSelection& selection);

  // Pushes the selected parameters to the open port; a closed port is left alone.
  void ApplyLineSettings(const LineSelection& selection);

  // Moves an open link to the port of portPos; with the link closed nothing
  // happens and nothing is reported.
  std::optional<LinkStatus> ReopenOnPortChange(const LineSelection& selection);

  // Ends every window send, queued or in progress, stops and waits for the
  // worker, then closes the port. Closing the link, moving it to another
  // port and the window going away all come here; harmless when closed.
  void Shutdown();

  bool WorkerRunning() const { return worker_.Running(); }
  // The writer of the window's sends on this link.
  SendWriter& Writer() { return writer_; }
  bool WriterBusy() const { return writer_.Busy(); }

  // The modem lines of the open device, as last seen; a device without them
  // (a pseudo-terminal) reports them not available and the link stays open.
  LineBoard& Lines() { return board_; }
  const LineWatcher& Watcher() const { return watcher_; }
  // The user's commands on the output lines and break; carried out in order
  // on a thread of their own, ignored while the link is closed.
  void Request(LineActions::Kind kind, unsigned lines = 0) { actions_.Request(kind, lines); }

 private:
  void StartLineWork();

  TerminalState& state_;
  SerialPort& port_;
  SendWriter writer_{state_};
  WorkerThread worker_;
  LineBoard board_;
  LineWatcher watcher_{board_};
  LineActions actions_{board_};
};

}  // namespace quorvel

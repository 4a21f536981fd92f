// Opening, configuring and closing the link from selector positions, with no
// window: the window hands in its selectors' positions and shows the caption
// it gets back. The port reports why it would not open; the link tells the
// state's window "Open com fail!" and keeps the reason. All calls belong to
// the UI thread.
//
// An open link stays wanted when its device hangs up: the port closes at
// once, and the link waits for the same path to return, then opens it with
// the same line settings and starts a new worker; the state (counters, log,
// modes) is untouched. The UI thread watches WakeDescriptor() and calls
// Service() when it turns readable.
#pragma once

#include <optional>
#include <string>

#include "connection/line_actions.h"
#include "connection/line_board.h"
#include "connection/line_watcher.h"
#include "connection/reconnect_supervisor.h"
#include "core/terminal_state.h"
#include "engine/receive_worker.h"
#include "engine/send_writer.h"
#include "link/line_settings.h"
#include "link/serial_port.h"

namespace quorvel {

struct LinkStatus {
  bool open = false;                          // open or waiting for its device: the link is wanted
  StringId caption = StringId::kOpenCaption;  // what the Open/Close button shows now
  bool waiting = false;                       // the device went away; the link waits for it
  bool connecting = false;                    // a network port: the first connection is being made
};

class LinkControl {
 public:
  // `port` is the concrete device behind state.port.
  LinkControl(TerminalState& state, SerialPort& port)
      : state_(state),
        port_(port),
        supervisor_(port.HangupDescriptor(), port.ConnectDescriptor()) {}
  ~LinkControl() { Shutdown(); }
  LinkControl(const LinkControl&) = delete;
  LinkControl& operator=(const LinkControl&) = delete;

  // Closes an open or waiting link (after its worker has ended), or opens
  // the port of portPos + 1 with the selected parameters (flow control
  // included) and starts its worker and the watch of its modem lines. A
  // failed open shows "Open com fail!" and reports closed.
  //
  // A network port reports "connecting" at once; Service() finishes the open
  // when the connection is made, or shows "Open com fail!" and reports
  // closed, with the reason in ConnectFailure(), within 5 s. A connection
  // that drops later is waited for like a device that went away, and tried
  // again with a growing backoff (ReconnectSupervisor).
  LinkStatus ToggleLink(const LineSelection& selection);

  // Pushes the selected parameters to the open port; a closed port is left
  // alone. Returns false when the driver refused them: the line and the
  // link's settings (for a reopen) keep what they had.
  bool ApplyLineSettings(const LineSelection& selection);

  // The rate asked for and the rate the driver reported after the last open
  // or change; 0 when unknown.
  uint32_t RateAsked() const { return line_.baudRate.value_or(0); }
  uint32_t RateInForce() const { return rateInForce_; }

  // Moves an open or waiting link to the port of portPos; with the link
  // closed nothing happens and nothing is reported.
  std::optional<LinkStatus> ReopenOnPortChange(const LineSelection& selection);

  // Ends every window send, queued or in progress, stops and waits for the
  // worker, then closes the port, and waits no more for a device that went
  // away. Closing the link, moving it to another port and the window going
  // away all come here; harmless when closed.
  void Shutdown();

  // Readable when Service() has something to do.
  int WakeDescriptor() const { return supervisor_.Descriptor(); }
  // Closes the worker of a device that hung up and starts waiting for it, or
  // looks whether it is back and reopens it. Returns whether Status() changed.
  bool Service();

  LinkStatus Status() const;
  // Why the last connection attempt at a network port failed, in the
  // system's words; "" after a success or for a tty.
  std::string ConnectFailure() const;
  bool Waiting() const { return supervisor_.Waiting(); }
  // The path waited for; "" when not waiting.
  const std::string& WaitingFor() const { return supervisor_.WaitingFor(); }

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
  void Request(LineActions::Kind kind, unsigned lines = 0);

 private:
  void StartLineWork();
  // Stops the worker and the line's threads, then closes the port.
  void StopLine();
  bool Wanted() const { return state_.port.IsOpen() || supervisor_.Waiting() || connecting_; }
  // A connection attempt is over, or its time is: opens or plans the next.
  void FinishConnect();
  // The port would not open: the window says "Open com fail!".
  void OpenFailed(const PortFailure& failure);
  void Started();
  void Look();

  TerminalState& state_;
  SerialPort& port_;
  SendWriter writer_{state_};
  WorkerThread worker_;
  LineBoard board_;
  LineWatcher watcher_{board_};
  LineActions actions_{board_};
  ReconnectSupervisor supervisor_;
  LineParameters line_;  // the line settings of the link, for a reopen
  std::string node_;     // where the port's path led when it opened
  bool held_ = false;    // opened here and not closed since
  uint32_t rateInForce_ = 0;
  bool connecting_ = false;             // the first connection to a network port is being made
  std::optional<PortFailure> failure_;  // of the last open, reopen or connection
};

}  // namespace quorvel

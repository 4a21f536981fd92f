// One line and everything on it: where it leads and its line settings, the
// port, the receive worker, the one door of its sends, the counters, the
// listeners, the watch and the commands of its modem lines, and its waiting
// for a device that went away. Any number of listeners (the log file, the
// session view's history, the plot, ZMODEM's start watch, a console, a
// script) join and leave its hub's list; a file transfer takes its received
// bytes for a while and writes through its door. A window shows a session;
// two sessions in one process are as independent as two processes.
//
// It speaks the line's terms: a target and line parameters go in, a status
// comes out; turning selectors into parameters and the status into captions
// is the window's business. Failures come back as values and as news
// (core/link_news.h): an open that fails posts "Open com fail!", with the
// reason kept (ConnectFailure).
//
// Threads: Open, Close, ApplyLineSettings, Service and the modem commands
// belong to the thread that serves the hub's uiCalls (the UI thread); Send,
// SendFile, Order, the hub's listener list and the counters to any thread.
//
// An open link stays wanted when its device hangs up: the port closes at
// once, and the session waits for the same target to return, then opens it
// with the same line settings and starts a new worker; the counters, the
// listeners and the terminal state are untouched. The UI thread watches
// WakeDescriptor() and calls Service() when it turns readable.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "connection/line_actions.h"
#include "connection/line_board.h"
#include "connection/line_watcher.h"
#include "connection/reconnect_supervisor.h"
#include "core/link_hub.h"
#include "core/result.h"
#include "core/terminal_state.h"
#include "engine/receive_worker.h"
#include "engine/send_writer.h"
#include "link/line_parameters.h"
#include "link/serial_port.h"

namespace quorvel {

struct LinkStatus {
  bool open = false;        // open or waiting for its device: the link is wanted
  bool waiting = false;     // the device went away; the link waits for it
  bool connecting = false;  // a network port: the first connection is being made
  bool operator==(const LinkStatus&) const = default;
};

class LinkSession {
 public:
  // `modem` carries the modem lines and break of every device it opens.
  explicit LinkSession(ModemControl& modem = KernelModemControl());
  ~LinkSession() { Shutdown(); }
  LinkSession(const LinkSession&) = delete;
  LinkSession& operator=(const LinkSession&) = delete;

  // The terminal state whose receive log and frames this line's worker
  // fills (the window's first line has one); null for none. Set it while
  // the link is closed.
  void AttachTerminal(TerminalState* terminal);
  // The answer rules of a line without a terminal (a bridge's side), which
  // outlive every worker of the line; null for none. Set it while the link
  // is closed.
  void AttachAnswers(AnswerSource* answers) { answers_ = answers; }

  // Opens `target` with `line` (flow control included) and starts its
  // worker and the watch of its modem lines; an open or waiting link is
  // closed first. A network port reports "connecting" at once; Service()
  // finishes the open when the connection is made, or fails it within 5 s.
  // A connection that drops later is waited for like a device that went
  // away, and tried again with a growing backoff (ReconnectSupervisor).
  LinkStatus Open(const PortTarget& target, const LineParameters& line);
  // An open that cannot begin: nothing is where the user pointed. Reported
  // as a failed open.
  LinkStatus Refuse(const PortFailure& failure);
  // Ends every send, queued or in progress, stops and waits for the worker,
  // closes the port, and waits no more for a device that went away; says
  // "link closed" to the listeners when it was wanted. Harmless when closed.
  LinkStatus Close();
  // Close without the event: for the session's end.
  void Shutdown();

  // Pushes `line` to the open port; a closed link is left alone. False when
  // the driver refused them: the line and the session's settings (for a
  // reopen) keep what they had.
  bool ApplyLineSettings(const LineParameters& line);
  // The line settings of the link: the last opened with or applied.
  const LineParameters& Line() const { return line_; }

  // The rate asked for and the rate the driver reported after the last open
  // or change; 0 when unknown.
  uint32_t RateAsked() const { return line_.baudRate.value_or(0); }
  uint32_t RateInForce() const { return rateInForce_; }

  // Readable when Service() has something to do.
  int WakeDescriptor() const { return supervisor_.Descriptor(); }
  // Closes the worker of a device that hung up and starts waiting for it, or
  // looks whether it is back and reopens it. Returns whether Status() changed.
  bool Service();

  LinkStatus Status() const;
  // A line being stopped is no longer wanted: what is asked of it meanwhile
  // is refused as a closed port's.
  bool Wanted() const {
    return !stopping_ && (port_.IsOpen() || supervisor_.Waiting() || connecting_);
  }
  // Why the last connection attempt at a network port failed, in the
  // system's words; "" after a success or for a tty.
  std::string ConnectFailure() const;
  // Why the last open, reopen or connection failed, in the system's words
  // (a missing device, a busy one, a refused connection); "" after a
  // success. A pane without a message box of its own shows it.
  std::string OpenFailure() const { return failure_ ? failure_->Reason() : std::string(); }
  bool Waiting() const { return supervisor_.Waiting(); }
  // The target's text waited for; "" when not waiting.
  const std::string& WaitingFor() const { return supervisor_.WaitingFor(); }
  // The text of the target opened last ("" before any).
  const std::string& Path() const { return port_.Path(); }

  // The one door of the line's sends (engine/send_writer.h), with the link's
  // state looked at once: a link that waits for its device sends nothing and
  // fails with "Write com fail!", as a failed write would (the caller tells
  // the user, as it tells of its own sends); a closed link sends nothing and
  // fails with "the port is not open". `done` is told only of a send that
  // was queued.
  Done Send(std::vector<uint8_t> bytes, SendDone done = {});
  // Queues the file open on `file` as Send does with bytes.
  Done SendFile(UniqueFd file, std::string name, uint64_t size, FilePacing pacing,
                SendDone done = {});
  SendWriter& Door() { return door_; }

  // What the line's parts share: its listeners, counters, news.
  LinkHub& Hub() { return hub_; }
  const LinkHub& Hub() const { return hub_; }
  SerialPort& Port() { return port_; }
  bool WorkerRunning() const { return worker_.Running(); }

  // The modem lines of the open device, as last seen; a device without them
  // (a pseudo-terminal) reports them not available and the link stays open.
  LineBoard& Lines() { return board_; }
  const LineWatcher& Watcher() const { return watcher_; }
  // The user's commands on the output lines and break; carried out in order
  // on a thread of their own, ignored while the link is closed.
  void Request(LineActions::Kind kind, unsigned lines = 0);
  // Any thread: the same, for a caller that waits for its end (a script):
  // `done` is told once the command was carried out, or why not (the port is
  // not open, the line has no modem lines, the driver refused, the link
  // closed first). A break lasts `breakLength` (zero: Request's).
  void Order(LineActions::Kind kind, unsigned lines, std::chrono::milliseconds breakLength,
             LineActions::Finished done);

 private:
  void StartLineWork();
  // Stops the worker and the line's threads, then closes the port.
  void StopLine();
  // A connection attempt is over, or its time is: opens or plans the next.
  void FinishConnect();
  // The port would not open: the window is told "Open com fail!".
  void OpenFailed(const PortFailure& failure);
  void Started();
  void Look();

  SerialPort port_;
  LinkHub hub_{port_};
  SendWriter door_{hub_};
  TerminalState* terminal_ = nullptr;
  AnswerSource* answers_ = nullptr;
  WorkerThread worker_;
  LineBoard board_;
  LineWatcher watcher_{board_};
  LineActions actions_{board_};
  ReconnectSupervisor supervisor_;
  LineParameters line_;  // the line settings of the link, for a reopen
  std::string node_;     // where the port's path led when it opened
  bool held_ = false;    // opened here and not closed since
  uint32_t rateInForce_ = 0;
  // The line's parts are being stopped: the door's Abort serves the
  // window's calls while it waits, and a send, a line command or new line
  // settings served then must not reach a port about to close (a send would
  // fail as a write, settings would seem applied, not refused as a closed
  // port's).
  std::atomic<bool> stopping_{false};
  bool connecting_ = false;             // the first connection to a network port is being made
  std::optional<PortFailure> failure_;  // of the last open, reopen or connection
};

}  // namespace quorvel

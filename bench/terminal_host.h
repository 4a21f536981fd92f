// The terminal under measurement, seen from the device's side.
//
// A host owns one terminal (its state, its link session and a window: the
// real one or a stand-in) and runs its UI thread. Measurements run on a
// device thread of their own, play the device on a pseudo-terminal, and work
// the terminal only as a user or the receive worker would: through the
// window's controls on the UI thread, and through WindowServices.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/link_hub.h"
#include "core/terminal_state.h"
#include "core/window_services.h"
#include "plot/plot_store.h"

namespace quorvel::bench {

// The COM number the benchmarks map their pseudo-terminal to.
inline constexpr int kBenchPort = 9;

class TerminalHost {
 public:
  virtual ~TerminalHost() = default;

  // "headless core" or "window", as the table names it.
  virtual std::string Name() const = 0;

  // Opens the link on `devicePath` as the terminal does at start (the window
  // through kBenchPort mapped to it), then runs `scenario` on a new (device) thread while the
  // calling thread serves the UI; returns once the scenario has ended and the link is closed again.
  // False when the link did not open (the scenario never ran).
  virtual bool Run(const std::string& devicePath, const std::function<void()>& scenario) = 0;

  virtual TerminalState& State() = 0;
  // What the link's parts share: its counters and its listeners.
  virtual LinkHub& Hub() = 0;

  // What the receive worker calls; callable from any thread.
  virtual WindowServices& Window() = 0;

  // The receive worker's thread id, once the link is open.
  virtual pid_t WorkerTid() const = 0;

  // Device thread: runs `call` on the UI thread and waits for it.
  virtual void OnUi(const std::function<void()>& call) = 0;

  // Device thread: what a user does, each done on the UI thread as the
  // window's handlers do it.
  virtual void SetHexDisplay(bool on) = 0;
  // Send text and "Send as Hex" as typed, then "Send after receive frame".
  virtual void EnableAutoReply(const std::string& sendText, bool sendAsHex,
                               const std::string& frameEndText) = 0;
  // The frame end as typed, then "Send received frame".
  virtual void EnableEcho(const std::string& frameEndText) = 0;
  virtual void ClearReceive() = 0;
  // Keeps the session from now on: the window shows its session view (stamps
  // with the time of day, sent bytes shown); the headless core adds a
  // session store to the link's listeners.
  virtual void ShowSessionView() = 0;
  // Plots what the line carries from now on: the window shows its plot pane
  // (which follows the newest data); the headless core adds a plot feed of
  // its own to the link's listeners. Returns the plot's store, which any thread may read.
  virtual PlotStore& ShowPlot() = 0;

  // Device thread: waits until the RX box shows at least `count`; false when
  // `timeout` passed first.
  virtual bool WaitShownRxCount(uint32_t count, std::chrono::milliseconds timeout) = 0;
  // Device thread: the receive box's text as the window shows it.
  virtual std::string ShownReceiveText() = 0;
  // Device thread: whether the link waits for a device that went away.
  virtual bool LinkWaiting() = 0;

  // Message boxes shown so far (none should be).
  virtual int MessagesShown() const = 0;
};

using HostFactory = std::function<std::unique_ptr<TerminalHost>()>;

// The host without a window: a stand-in does the refresh work on a UI thread.
std::unique_ptr<TerminalHost> MakeCoreHost();

// The real window, offscreen in a QApplication; built only with the window
// (QUORVEL_BENCH_WINDOW), which also measures the start-up.
std::unique_ptr<TerminalHost> MakeWindowHost();

}  // namespace quorvel::bench

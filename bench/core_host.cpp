// The headless terminal: TerminalState and LinkControl with a stand-in window
// that does on the UI thread what the real window's refresh does (render the
// whole log into receiveText under state.lock, then copy the bound fields from
// or to its "controls"), without any widget, layout or painting. Its numbers
// are what the core costs on its own, a floor for the window's.
#include <poll.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "bench_support.h"
#include "connection/link_control.h"
#include "core/event_fd.h"
#include "engine/render.h"
#include "history/session_store.h"
#include "plot/plot_feed.h"
#include "sending/hex.h"
#include "terminal_host.h"

namespace quorvel::bench {
namespace {

// What the window's controls hold, UI thread only.
struct Controls {
  std::string receiveBox;
  std::string sendBox;
  bool sendAsHex = false;
  bool hexDisplay = false;
  std::string timerBox = "80";
  bool timerSend = false;
  std::string lastIntervalBox;
  std::string rxBox;
  std::string txBox;
  std::string averageBox;
  std::string frameEndBox = "00";
  bool replyAfterFrame = false;
};

std::string Decimal(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

class StandInWindow : public WindowServices {
 public:
  explicit StandInWindow(TerminalState& state) : state_(state) { state_.AttachWindow(this); }
  ~StandInWindow() override { state_.AttachWindow(nullptr); }

  void Refresh(RefreshPhase phase) override {
    state_.uiCalls.Run([&] {
      std::lock_guard guard(state_.lock);
      state_.receiveText =
          RenderReceiveText(state_.rxBuffer.data(), state_.rxLength, state_.hexDisplay != 0);
      if (phase == RefreshPhase::kCapture) {
        Capture();
      } else {
        Publish();
      }
    });
  }

  void ShowTxCount(uint32_t txCount) override {
    state_.uiCalls.Run([&] { controls_.txBox = std::to_string(txCount); });
  }

  void ShowMessage(StringId) override { messages_.fetch_add(1); }

  // UI thread, with state.lock held: controls to fields.
  void Capture() {
    state_.receiveText = controls_.receiveBox;
    state_.sendText = controls_.sendBox;
    state_.sendAsHex = controls_.sendAsHex;
    state_.hexDisplay = controls_.hexDisplay;
    state_.timerIntervalMs = std::atoi(controls_.timerBox.c_str());
    state_.timerSend = controls_.timerSend;
    state_.frameEndText = controls_.frameEndBox.substr(0, 2);
    state_.replyAfterFrame = controls_.replyAfterFrame;
    state_.frameEndByte = FrameEndByteOf(state_.frameEndText);
  }

  // UI thread, with state.lock held: fields to controls.
  void Publish() {
    controls_.receiveBox = state_.receiveText;
    controls_.sendBox = state_.sendText;
    controls_.sendAsHex = state_.sendAsHex != 0;
    controls_.hexDisplay = state_.hexDisplay != 0;
    controls_.timerBox = std::to_string(state_.timerIntervalMs);
    controls_.timerSend = state_.timerSend != 0;
    controls_.lastIntervalBox = Decimal(state_.lastIntervalMs);
    controls_.rxBox = std::to_string(state_.rxCount);
    controls_.txBox = std::to_string(state_.txCount);
    controls_.averageBox = Decimal(state_.averageMs);
    controls_.frameEndBox = state_.frameEndText;
    controls_.replyAfterFrame = state_.replyAfterFrame != 0;
    state_.frameEndByte = FrameEndByteOf(state_.frameEndText);
    {
      std::lock_guard guard(shownMutex_);
      shownRx_ = state_.rxCount;
    }
    shownChanged_.notify_all();
  }

  Controls& controls() { return controls_; }

  bool WaitShownRxCount(uint32_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(shownMutex_);
    return shownChanged_.wait_for(lock, timeout, [&] { return shownRx_ >= count; });
  }

  int Messages() const { return messages_.load(); }

 private:
  TerminalState& state_;
  Controls controls_;
  std::atomic<int> messages_{0};
  std::mutex shownMutex_;
  std::condition_variable shownChanged_;
  uint32_t shownRx_ = 0;
};

class CoreHost : public TerminalHost {
 public:
  CoreHost() : window_(state_), link_(state_, port_) {}
  ~CoreHost() override {
    link_.Shutdown();
    state_.sessionTap.store(nullptr);
    state_.plotTap.store(nullptr);
  }

  std::string Name() const override { return "headless core"; }

  bool Run(const std::string& devicePath, const std::function<void()>& scenario) override {
    port_.Names().Set(kBenchPort, devicePath);
    // 115200 baud, 8 data bits, 1 stop bit, no parity; a pseudo-terminal
    // ignores the speed anyway.
    LineSelection selection{kBenchPort - 1, 15, 3, 0, 0, 0};
    std::vector<pid_t> before = Tasks();
    if (!link_.ToggleLink(selection).open) return false;
    // A network port connects in the background: served until it is open.
    auto connectBy = std::chrono::steady_clock::now() + std::chrono::seconds(6);
    while (link_.Status().connecting && std::chrono::steady_clock::now() < connectBy) {
      pollfd wake = {link_.WakeDescriptor(), POLLIN, 0};
      if (::poll(&wake, 1, 50) > 0) link_.Service();
    }
    if (!state_.port.IsOpen()) return false;
    for (pid_t tid : Tasks()) {
      if (std::find(before.begin(), before.end(), tid) == before.end()) workerTid_ = tid;
    }
    std::atomic<bool> done{false};
    EventFd finished;
    std::thread device([&] {
      scenario();
      done.store(true);
      finished.Signal();
    });
    // The UI thread's loop as the window's event loop runs it: the worker's
    // calls and the link's wake-ups, each when its descriptor says so.
    while (!done.load()) {
      pollfd fds[3] = {{state_.uiCalls.WakeDescriptor(), POLLIN, 0},
                       {link_.WakeDescriptor(), POLLIN, 0},
                       {finished.Descriptor(), POLLIN, 0}};
      if (::poll(fds, 3, -1) <= 0) continue;
      if (fds[0].revents & POLLIN) state_.uiCalls.Serve();
      if (fds[1].revents & POLLIN) link_.Service();
    }
    device.join();
    link_.Shutdown();
    return true;
  }

  TerminalState& State() override { return state_; }
  WindowServices& Window() override { return window_; }
  pid_t WorkerTid() const override { return workerTid_; }

  void OnUi(const std::function<void()>& call) override { state_.uiCalls.Run(call); }

  bool LinkWaiting() override {
    bool waiting = false;
    OnUi([&] { waiting = link_.Waiting(); });
    return waiting;
  }

  void SetHexDisplay(bool on) override {
    OnUi([&] {
      std::lock_guard guard(state_.lock);
      if ((state_.hexDisplay != 0) != on) state_.hexDisplay = !state_.hexDisplay;
      window_.controls().hexDisplay = on;
    });
  }

  void EnableAutoReply(const std::string& sendText, bool sendAsHex,
                       const std::string& frameEndText) override {
    OnUi([&] {
      Controls& controls = window_.controls();
      controls.sendBox = sendText;
      controls.sendAsHex = sendAsHex;
      controls.frameEndBox = frameEndText;
      controls.replyAfterFrame = true;
      std::lock_guard guard(state_.lock);
      state_.replyAfterFrame = !state_.replyAfterFrame;
      window_.Capture();
    });
  }

  void EnableEcho(const std::string& frameEndText) override {
    OnUi([&] {
      window_.controls().frameEndBox = frameEndText;
      std::lock_guard guard(state_.lock);
      state_.echoFrame = !state_.echoFrame;
      window_.Capture();
      state_.frameEndByte = FrameEndByteOf(state_.frameEndText);
    });
  }

  void ShowSessionView() override { state_.sessionTap.store(&session_); }

  PlotStore& ShowPlot() override {
    state_.plotTap.store(&plotFeed_);
    plotFeed_.Start(nullptr);
    return plotStore_;
  }

  void ClearReceive() override {
    OnUi([&] {
      std::lock_guard guard(state_.lock);
      window_.Capture();
      state_.ClearReceived();
      window_.Publish();
    });
  }

  bool WaitShownRxCount(uint32_t count, std::chrono::milliseconds timeout) override {
    return window_.WaitShownRxCount(count, timeout);
  }

  std::string ShownReceiveText() override {
    std::string text;
    OnUi([&] { text = window_.controls().receiveBox; });
    return text;
  }

  int MessagesShown() const override { return window_.Messages(); }

 private:
  SerialPort port_;
  TerminalState state_{port_};
  StandInWindow window_;
  LinkControl link_;
  pid_t workerTid_ = 0;
  SessionStore session_{kSessionLimitDefault};  // outlives the worker: Shutdown joins it
  PlotStore plotStore_;
  PlotFeed plotFeed_{plotStore_};  // likewise
};

}  // namespace

std::unique_ptr<TerminalHost> MakeCoreHost() {
  return std::make_unique<CoreHost>();
}

}  // namespace quorvel::bench

// The headless terminal: TerminalState and LinkSession with a stand-in window
// that does on the UI thread what the real window does (its refresh renders
// the whole log into receiveText under state.lock, then copies the bound
// fields and the counters from or to its "controls"; the link's news moves
// the TX box and counts the messages it would show), without any widget,
// layout or painting. Its numbers are what the core costs on its own, a
// floor for the window's.
#include <poll.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "bench_support.h"
#include "connection/link_session.h"
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
  StandInWindow(TerminalState& state, LinkHub& hub) : state_(state), hub_(hub) {
    state_.AttachWindow(this);
  }
  ~StandInWindow() override { state_.AttachWindow(nullptr); }

  void Refresh(RefreshPhase phase) override {
    hub_.uiCalls.Run([&] {
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

  // UI thread, when the link's news is readable: the TX box follows the
  // count, and each message is shown and dismissed.
  void TakeNews() {
    for (const std::string& text : hub_.news.Take()) {
      messages_.fetch_add(1);
      hub_.news.Dismissed(text);
    }
    controls_.txBox = std::to_string(hub_.counters.Read().txCount);
  }

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
    CounterValues counters = hub_.counters.Read();
    controls_.receiveBox = state_.receiveText;
    controls_.sendBox = state_.sendText;
    controls_.sendAsHex = state_.sendAsHex != 0;
    controls_.hexDisplay = state_.hexDisplay != 0;
    controls_.timerBox = std::to_string(state_.timerIntervalMs);
    controls_.timerSend = state_.timerSend != 0;
    controls_.lastIntervalBox = Decimal(counters.lastIntervalMs);
    controls_.rxBox = std::to_string(counters.rxCount);
    controls_.txBox = std::to_string(counters.txCount);
    controls_.averageBox = Decimal(counters.averageMs);
    controls_.frameEndBox = state_.frameEndText;
    controls_.replyAfterFrame = state_.replyAfterFrame != 0;
    state_.frameEndByte = FrameEndByteOf(state_.frameEndText);
    {
      std::lock_guard guard(shownMutex_);
      shownRx_ = counters.rxCount;
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
  LinkHub& hub_;
  Controls controls_;
  std::atomic<int> messages_{0};
  std::mutex shownMutex_;
  std::condition_variable shownChanged_;
  uint32_t shownRx_ = 0;
};

class CoreHost : public TerminalHost {
 public:
  CoreHost() : window_(state_, link_.Hub()) { link_.AttachTerminal(&state_); }
  ~CoreHost() override {
    link_.Shutdown();
    link_.Hub().listeners.Remove(session_);
    link_.Hub().listeners.Remove(plotFeed_);
  }

  std::string Name() const override { return "headless core"; }

  bool Run(const std::string& devicePath, const std::function<void()>& scenario) override {
    // A device path or a network address, as the port map would hold it.
    std::optional<PortTarget> target = PortTarget::Parse(devicePath);
    if (!target) return false;
    // 115200 baud, 8 data bits, 1 stop bit, no parity; a pseudo-terminal
    // ignores the speed anyway.
    std::vector<pid_t> before = Tasks();
    if (!link_.Open(*target, {115200, 8, kOneStopBit, kParityNone}).open) return false;
    // A network port connects in the background: served until it is open.
    auto connectBy = std::chrono::steady_clock::now() + std::chrono::seconds(6);
    while (link_.Status().connecting && std::chrono::steady_clock::now() < connectBy) {
      pollfd wake = {link_.WakeDescriptor(), POLLIN, 0};
      if (::poll(&wake, 1, 50) > 0) link_.Service();
    }
    if (!link_.Port().IsOpen()) return false;
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
    // calls, the link's wake-ups and its news, each when its descriptor says so.
    LinkHub& hub = link_.Hub();
    while (!done.load()) {
      pollfd fds[4] = {{hub.uiCalls.WakeDescriptor(), POLLIN, 0},
                       {link_.WakeDescriptor(), POLLIN, 0},
                       {hub.news.Descriptor(), POLLIN, 0},
                       {finished.Descriptor(), POLLIN, 0}};
      if (::poll(fds, 4, -1) <= 0) continue;
      if (fds[0].revents & POLLIN) hub.uiCalls.Serve();
      if (fds[1].revents & POLLIN) link_.Service();
      if (fds[2].revents & POLLIN) window_.TakeNews();
    }
    device.join();
    link_.Shutdown();
    return true;
  }

  TerminalState& State() override { return state_; }
  LinkHub& Hub() override { return link_.Hub(); }
  WindowServices& Window() override { return window_; }
  pid_t WorkerTid() const override { return workerTid_; }

  void OnUi(const std::function<void()>& call) override { link_.Hub().uiCalls.Run(call); }

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

  void ShowSessionView() override { link_.Hub().listeners.Add(session_); }

  PlotStore& ShowPlot() override {
    link_.Hub().listeners.Add(plotFeed_, {.early = true});
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
  // The listeners outlive the link's threads: the destructor ends them first.
  SessionStore session_{kSessionLimitDefault};
  PlotStore plotStore_;
  PlotFeed plotFeed_{plotStore_};
  TerminalState state_;
  LinkSession link_;
  StandInWindow window_;
  pid_t workerTid_ = 0;
};

}  // namespace

std::unique_ptr<TerminalHost> MakeCoreHost() {
  return std::make_unique<CoreHost>();
}

}  // namespace quorvel::bench

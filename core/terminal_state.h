// The one record of state that the UI thread and the threads working the
// line (the receive worker, the send writer) share.
//
// Every field below `lock` is read and written only while holding `lock`, by
// any of them. Nobody holds it across a call into the window (a refresh, the
// TX box, a message box) or across a port write, so no thread can ever wait
// for another while holding it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "core/line_tap.h"
#include "core/port.h"
#include "core/receive_diversion.h"
#include "core/ui_calls.h"
#include "core/window_services.h"
#include "core/wire_gate.h"

namespace quorvel {

class AnswerRuleTable;  // sending/answer_rules.h

// What decides whether and how a received frame is answered.
struct FrameRules {
  bool echo = false;
  bool reply = false;
  uint8_t endByte = 0;
  bool Gathering() const { return echo || reply; }
  bool operator==(const FrameRules&) const = default;
};

struct TerminalState {
  static constexpr int kLogCapacity = 10000;  // the log holds at most 9,999 bytes

  // `port` is the line this state reads and writes; it outlives the state.
  explicit TerminalState(Port& port);
  TerminalState(const TerminalState&) = delete;
  TerminalState& operator=(const TerminalState&) = delete;

  // The window that shows this state, or null.
  void AttachWindow(WindowServices* window);
  WindowServices* Window() const { return window_.load(); }

  // Receive log, with `lock` held. Appends n (1 to 2,000) bytes; when the log
  // would reach 10,000 bytes it is emptied first (discarded, not scrolled).
  void AppendReceived(const uint8_t* bytes, int n);
  // Empties the log and the receive text; rxCount is kept. With `lock` held.
  void ClearReceived();

  // With `lock` held.
  FrameRules CurrentFrameRules() const { return {echoFrame, replyAfterFrame != 0, frameEndByte}; }

  // Call after changing echoFrame, replyAfterFrame or frameEndByte (any
  // thread, lock held or not): a frame waiting in the worker is judged again
  // at once instead of at its next look.
  void FrameRulesChanged() { port.WakeReader(); }

  Port& port;
  UiCallQueue uiCalls;  // the worker's calls into the window
  WireGate wire;        // keeps each send whole between the window's sends and the replies
  // Sees every byte read and written while set; set and cleared by the UI
  // thread, and the tap outlives the worker and the writer.
  std::atomic<LineTap*> tap{nullptr};
  // The session view's store: a second tap, on the same terms as `tap`.
  std::atomic<LineTap*> sessionTap{nullptr};
  // The plot's feed: a third, for received bytes and events. It hears each
  // run before the session's store does, so a plot that starts from the
  // session's history can tell which runs it will also see live.
  std::atomic<LineTap*> plotTap{nullptr};
  // Watches received bytes for a device starting a file transfer (ZMODEM's
  // auto-start): a fourth, for received bytes only, on the same terms.
  std::atomic<LineTap*> startTap{nullptr};
  // While a file transfer runs: what the worker reads goes here instead
  // (core/receive_diversion.h). Set and cleared by the transfer's thread; the
  // diversion outlives every worker that may still see it.
  std::atomic<ReceiveDiversion*> diversion{nullptr};
  // What the worker and the senders call: hands the bytes to every tap set.
  void TapReceived(const uint8_t* bytes, int count) const;
  void TapSent(const uint8_t* bytes, int count) const;
  void TapEvent(LineEvent event, std::string_view text) const;

  mutable std::mutex lock;

  // hexDisplay, sendAsHex, timerSend and replyAfterFrame are on/off flags
  // kept as 32-bit integers holding 0 or 1, not as bool: the record has
  // always had them so, the settings file stores RECVHEX and SENDHEX as those
  // numbers and loads whatever number a hand-edited file holds, and the form
  // exchange moves them to and from their check boxes. Any value but 0 is on:
  // read them with `!= 0`, write 0 or 1.
  std::array<uint8_t, kLogCapacity> rxBuffer{};  // rxBuffer[rxLength] is always 0
  int32_t rxLength = 0;
  std::string receiveText;
  int32_t hexDisplay = 0;
  uint32_t rxCount = 0;

  std::string sendText;
  int32_t sendAsHex = 0;
  uint32_t txCount = 0;
  uint32_t sendCount = 0;
  // The send box's options, as sending/send_composer.h numbers them: its
  // LineEnding, whether escapes are read, its ChecksumKind.
  int32_t sendLineEnding = 0;
  bool sendEscapes = false;
  int32_t sendChecksum = 0;
  // How the text the user types becomes bytes, as sending/text_encoding.h
  // numbers its TextEncoding: the send box's, the send list's, the answer
  // rules' and the history's. The texts above are bytes already.
  int32_t sendEncoding = 0;

  int32_t timerSend = 0;
  int32_t timerIntervalMs = 0;
  bool echoFrame = false;
  int32_t replyAfterFrame = 0;
  std::string frameEndText;
  uint8_t frameEndByte = 0;
  // The answer rules the worker checks frames against; null when they are
  // off. Replaced whole, never changed in place (InstallAnswerRules).
  std::shared_ptr<const AnswerRuleTable> answerRules;

  double lastIntervalMs = 0;
  double intervalSumMs = 0;
  double averageMs = 0;

  int64_t lastSendTime = 0;      // counter ticks at the start of the last transmission
  int64_t counterFrequency = 1;  // counter ticks per second

  // Diagnostics for the one-worker-at-a-time rule; written by the worker.
  std::atomic<int> runningWorkers{0};
  std::atomic<bool> workersOverlapped{false};

 private:
  std::atomic<WindowServices*> window_{nullptr};
};

}  // namespace quorvel

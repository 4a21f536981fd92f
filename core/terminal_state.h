// The terminal's own record for one line: the receive log and the receive
// box's text, the send text and its options, the three automatic send modes,
// the frame-end byte and the answer rules. The window that shows it and the
// receive worker of the line it belongs to share it; the line itself, its
// counters and its listeners live in the link's hub (core/link_hub.h).
//
// Every field below `lock` is read and written only while holding `lock`, by
// either of them. Nobody holds it across a call into the window (a refresh,
// a message box) or across a port write, so no thread can ever wait for
// another while holding it. Whoever also takes the counters' lock takes this
// one first.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "core/port.h"
#include "core/window_services.h"

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

  TerminalState() = default;
  TerminalState(const TerminalState&) = delete;
  TerminalState& operator=(const TerminalState&) = delete;

  // The window that shows this state, or null.
  void AttachWindow(WindowServices* window) { window_.store(window); }
  WindowServices* Window() const { return window_.load(); }
  // The line whose worker reads for this state, woken when a rule changes;
  // set before the worker starts, or null.
  void AttachLine(Port* line) { line_.store(line); }

  // Receive log, with `lock` held. Appends n (1 to 2,000) bytes; when the log
  // would reach 10,000 bytes it is emptied first (discarded, not scrolled).
  void AppendReceived(const uint8_t* bytes, int n);
  // Empties the log and the receive text; the RX count is kept. With `lock` held.
  void ClearReceived();

  // With `lock` held.
  FrameRules CurrentFrameRules() const { return {echoFrame, replyAfterFrame != 0, frameEndByte}; }

  // Call after changing echoFrame, replyAfterFrame, frameEndByte or the
  // answer rules (any thread, lock held or not): a frame waiting in the
  // worker is judged again at once instead of at its next look.
  void FrameRulesChanged() {
    if (Port* line = line_.load()) line->WakeReader();
  }

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

  std::string sendText;
  int32_t sendAsHex = 0;
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

 private:
  std::atomic<WindowServices*> window_{nullptr};
  std::atomic<Port*> line_{nullptr};
};

}  // namespace quorvel

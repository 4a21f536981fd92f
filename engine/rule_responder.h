// The receive worker's side of the answer rules (sending/answer_rules.h): it
// gathers received bytes into frames for the rules, answers the first rule a
// completed frame matches, and keeps delayed answers until they are due, so
// that a delay never stops the worker from reading. Worker thread only.
//
// A frame is each burst, or, when the table says so, the bytes up to the
// window's frame-end byte (the last byte or the one before it, as for the
// auto-reply). A frame the echo or the auto-reply answered is not answered
// again by a rule. Delayed answers still waiting when the worker ends are
// dropped with it (the port is closing); at most kMaxPendingAnswers wait at
// once, and an answer beyond them is dropped.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "core/terminal_state.h"
#include "engine/frame_gatherer.h"
#include "sending/answer_rules.h"

namespace quorvel {

inline constexpr size_t kMaxPendingAnswers = 256;

class RuleResponder {
 public:
  explicit RuleResponder(TerminalState& state) : state_(state) {}

  // Bytes just read.
  void Received(const uint8_t* bytes, int count);
  // On a quiet read, after the echo and the auto-reply; `answered` when one
  // of them answered a frame on this read.
  void Quiet(bool answered);
  // Sends the delayed answers that are due, in the order they fall due.
  void SendDue();
  // Drops the frame gathered and the answers waiting: a file transfer took
  // the line, and nothing it carries is answered.
  void Forget() {
    frame_.Clear();
    pending_.clear();
  }
  // How long the worker may rest: `wantedMs` (-1: until the line speaks), or
  // less when a delayed answer falls due sooner.
  int RestMs(int wantedMs) const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Pending {
    Clock::time_point due;
    std::vector<uint8_t> bytes;
  };

  void Answer(const AnswerRuleTable::Answer& answer);

  TerminalState& state_;
  std::shared_ptr<const AnswerRuleTable> table_;  // as of the last quiet read
  uint8_t endByte_ = 0;
  FrameGatherer frame_;
  std::deque<Pending> pending_;  // by due time
};

}  // namespace quorvel

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
//
// The table and the frame-end byte come from an AnswerSource: the terminal
// state for the window's first port, the bridge for each of its sides.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "core/terminal_state.h"
#include "engine/frame_gatherer.h"
#include "engine/send_writer.h"
#include "sending/answer_rules.h"

namespace quorvel {

inline constexpr size_t kMaxPendingAnswers = 256;

// Where a responder finds its rules. Worker thread; it must return quickly
// (a short lock and a copy).
class AnswerSource {
 public:
  virtual ~AnswerSource() = default;
  // The table in force (null: rules off) and the frame-end byte.
  virtual std::shared_ptr<const AnswerRuleTable> Rules(uint8_t& endByte) = 0;
  // Rule `rule` (its index) has just handed `count` bytes to the door.
  virtual void Answered(int rule, size_t count) {
    (void)rule;
    (void)count;
  }
};

// The first port's rules, as the window installs them in its terminal state.
class TerminalAnswers : public AnswerSource {
 public:
  explicit TerminalAnswers(TerminalState& state) : state_(state) {}
  std::shared_ptr<const AnswerRuleTable> Rules(uint8_t& endByte) override;

 private:
  TerminalState& state_;
};

class RuleResponder {
 public:
  // Answers go out through `door`, as replies; `source` outlives this.
  RuleResponder(AnswerSource& source, SendWriter& door) : source_(source), door_(door) {}

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
    int rule;
  };

  void Answer(const AnswerRuleTable::Answer& answer);
  void Write(int rule, const std::vector<uint8_t>& bytes);

  AnswerSource& source_;
  SendWriter& door_;
  std::shared_ptr<const AnswerRuleTable> table_;  // as of the last quiet read
  uint8_t endByte_ = 0;
  FrameGatherer frame_;
  std::deque<Pending> pending_;  // by due time
};

}  // namespace quorvel

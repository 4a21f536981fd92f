#include "engine/rule_responder.h"

#include <algorithm>

namespace quorvel {

std::shared_ptr<const AnswerRuleTable> TerminalAnswers::Rules(uint8_t& endByte) {
  std::lock_guard guard(state_.lock);
  endByte = state_.frameEndByte;
  return state_.answerRules;
}

// Gathered whether or not rules are on: the table is looked up only on the
// quiet read, and a table installed just before this burst must see it whole.
void RuleResponder::Received(const uint8_t* bytes, int count) {
  frame_.Add(bytes, count, endByte_);
}

void RuleResponder::Quiet(bool answered) {
  std::shared_ptr<const AnswerRuleTable> latest = source_.Rules(endByte_);
  table_.swap(latest);  // a table no longer in use goes with `latest`, outside the source's lock
  if (!table_ || answered) {
    frame_.Clear();
    return;
  }
  if (frame_.Empty()) return;
  if (table_->Frames() == FrameBy::kEndByte && !frame_.Complete(endByte_)) return;
  auto answer = table_->Match({frame_.Bytes(), static_cast<size_t>(frame_.Length())});
  frame_.Clear();
  if (answer) Answer(*answer);
}

void RuleResponder::Answer(const AnswerRuleTable::Answer& answer) {
  const std::vector<uint8_t>& bytes = *answer.bytes;
  if (answer.delayMs <= 0) {
    Write(answer.rule, bytes);
    return;
  }
  if (pending_.size() >= kMaxPendingAnswers) return;
  Clock::time_point due = Clock::now() + std::chrono::milliseconds(answer.delayMs);
  // After every answer due at the same time or sooner, so equal delays keep
  // the order of their frames.
  auto place =
      std::upper_bound(pending_.begin(), pending_.end(), due,
                       [](Clock::time_point time, const Pending& p) { return time < p.due; });
  pending_.insert(place, Pending{due, bytes, answer.rule});
}

void RuleResponder::SendDue() {
  if (pending_.empty()) return;
  Clock::time_point now = Clock::now();
  while (!pending_.empty() && pending_.front().due <= now) {
    Pending next = std::move(pending_.front());
    pending_.pop_front();
    Write(next.rule, next.bytes);
  }
}

void RuleResponder::Write(int rule, const std::vector<uint8_t>& bytes) {
  door_.Reply(bytes.data(), static_cast<int>(bytes.size()));
  source_.Answered(rule, bytes.size());
}

int RuleResponder::RestMs(int wantedMs) const {
  if (pending_.empty()) return wantedMs;
  auto left = pending_.front().due - Clock::now();
  // Rounded up, so the worker wakes when the answer is due, not just before.
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  int dueMs = static_cast<int>(std::max<decltype(ms)>(ms, 0));
  return wantedMs < 0 ? dueMs : std::min(wantedMs, dueMs);
}

}  // namespace quorvel

#include "pairing/bridge_answers.h"

#include <string>

namespace quorvel {

void BridgeAnswers::Set(std::shared_ptr<const AnswerRuleTable> table,
                        const TerminalState* frameEnd) {
  {
    std::lock_guard guard(mutex_);
    table_.swap(table);
    frameEnd_ = frameEnd;
  }
  // The old table, if this was its last holder, goes here, outside the lock.
}

std::shared_ptr<const AnswerRuleTable> BridgeAnswers::Rules(uint8_t& endByte) {
  std::lock_guard guard(mutex_);
  endByte = 0;
  if (frameEnd_) {
    std::lock_guard state(frameEnd_->lock);
    endByte = frameEnd_->frameEndByte;
  }
  return table_;
}

void BridgeAnswers::Answered(int rule, size_t count) {
  timeline_.Note("rule " + std::to_string(rule + 1) + " answered on " + SideName(side_) + ": " +
                 std::to_string(count) + " bytes");
}

}  // namespace quorvel

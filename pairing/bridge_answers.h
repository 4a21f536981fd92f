// The answer rules of one side of a bridge: what the side reads is framed
// and tried against the rules of its direction on the side's own worker,
// and the first match answers on that side, back to the one that spoke,
// through the side's door (the one the other side's forwarding writes
// through). The answer adds to the line; forwarding takes what was read
// whole all the same. The timeline keeps only what each side read, so an
// answer is told there as a note ("rule 2 answered on A: 6 bytes").
//
// Threads: Set from any thread (the UI thread); Rules and Answered on the
// side's worker. One short lock.
#pragma once

#include <memory>
#include <mutex>

#include "core/terminal_state.h"
#include "engine/rule_responder.h"
#include "pairing/pair_timeline.h"

namespace quorvel {

class BridgeAnswers : public AnswerSource {
 public:
  BridgeAnswers(PairTimeline& timeline, PairSide side) : timeline_(timeline), side_(side) {}

  // `table` (null: none) answers from now on; the frame-end byte is read
  // from `frameEnd` (the window's, so a change there holds here too; null:
  // 0), which outlives this or is replaced first.
  void Set(std::shared_ptr<const AnswerRuleTable> table, const TerminalState* frameEnd);

  std::shared_ptr<const AnswerRuleTable> Rules(uint8_t& endByte) override;
  void Answered(int rule, size_t count) override;

 private:
  PairTimeline& timeline_;
  PairSide side_;
  std::mutex mutex_;
  std::shared_ptr<const AnswerRuleTable> table_;
  const TerminalState* frameEnd_ = nullptr;
};

}  // namespace quorvel
